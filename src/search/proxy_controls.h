#pragma once
// The proxy fields of the settings window as the search dispatch reads them
// at every dispatch: the "Use proxy:" check box, the proxy host and its port.

#include <string>

namespace search {

struct ProxyControls {
    bool useproxy = false;   // "Use proxy:"
    std::string proxynamein; // host, optionally followed by ":" and a port
    std::string proxyportin; // port, used when the host names none
};

} // namespace search
