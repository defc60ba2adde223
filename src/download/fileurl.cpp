#include "download/fileurl.h"

#include "url/urlinfo.h"

#include <algorithm>

namespace download {

std::string fileUrlProblem(const std::string& url) {
    if (std::any_of(url.begin(), url.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; }))
        return "a control character in URL";
    std::string scheme = url.substr(0, 6);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (scheme != "ftp://") return "not an ftp:// URL";
    const url::tlinfo l = url::splitUrl(url);
    if (l.site.empty()) return "no host name in URL";
    const bool digits =
        !l.port.empty() && l.port.size() <= 5 &&
        std::all_of(l.port.begin(), l.port.end(), [](unsigned char c) { return std::isdigit(c); });
    if (!digits || std::stoi(l.port) < 1 || std::stoi(l.port) > 65535) return "bad port in URL";
    if (l.fname.empty()) return "no file name in URL";
    return {};
}

} // namespace download
