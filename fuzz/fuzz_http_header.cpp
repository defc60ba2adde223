// HTTP status and header parsing: the response cut into lines at LF (a CR
// before it dropped, as the client does), each line read as a header line;
// the numbers, the Content-Range and the date of the client's other parsers.
#include "net/httpprot.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (size >= sizeof(double)) {
        double when = 0;
        std::memcpy(&when, data, sizeof when);
        if (net::THttpCli::RFC1123Date(when).size() < 25) std::abort();
    }
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();

        const net::HttpHeaderLine h = net::ParseHttpHeaderLine(line);
        if (h.kind == net::HttpHeaderLine::Status && (h.status < 0 || h.status > 999)) std::abort();
        for (std::size_t digits : {3u, 10u, 19u, 40u}) {
            std::int64_t v = -1;
            if (net::HttpStrictNumber(h.kind == net::HttpHeaderLine::Field ? h.value : line, digits, v) &&
                v < 0)
                std::abort();
        }
        const net::HttpContentRange r = net::ParseHttpContentRange(line);
        if (r.ok && (r.last < r.first || r.total < -1 || (r.first < 0) != (r.last < 0))) std::abort();
        const net::HttpUrlParts u = net::ParseHttpURL(line);
        if (u.host.size() + u.path.size() > line.size()) std::abort();
    }
    return 0;
}
