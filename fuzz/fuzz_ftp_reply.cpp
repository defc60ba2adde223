// FTP reply parsing: the control connection's byte stream cut into lines at
// CR LF (as the client does), each line through the multi-line framer and the
// readers of codes, sizes and quoted names.
#include "net/ftpreply.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    net::ftp::ReplyFramer framer;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find("\r\n", pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + 2;

        const bool wasInside = framer.inside();
        const auto kind = framer.take(line);
        using L = net::ftp::ReplyFramer::Line;
        // A reply opens only outside one and closes or continues only inside one.
        if ((kind == L::Opening || kind == L::Single) == wasInside) std::abort();
        if (framer.inside() != (kind == L::Opening || kind == L::Inside)) std::abort();

        const int code = net::ftp::ReplyCode(line);
        if (net::ftp::IsContinuation(line) && kind == L::Single) std::abort();
        (void)code;
        (void)net::ftp::SecondNumber(line);
        const std::string name = net::ftp::QuotedName(line);
        if (name.size() > line.size()) std::abort();
        const std::int64_t n = net::ftp::SecondNumber(line);
        (void)net::ftp::TransferLine(n, static_cast<std::uint32_t>(code), static_cast<std::uint32_t>(n));
    }
    return 0;
}
