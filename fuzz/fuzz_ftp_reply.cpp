// FTP reply parsing: the control connection's byte stream cut into lines at
// CR LF (as the client does), each line through the multi-line framer and the
// readers of codes, sizes and quoted names, and as a reply to EPSV and to
// PASV: a data port is 0 (none) or 1 .. 65535, the one a well-formed reply
// names; the EPRT and PORT commands for it name it again.
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

        const int epsv = net::ftp::EpsvPort(line), pasv = net::ftp::PasvPort(line);
        if (epsv < 0 || epsv > 65535 || pasv < 0 || pasv > 65535) std::abort();
        // The port read again from the replies and commands that name it.
        const int port = epsv > 0   ? epsv
                         : pasv > 0 ? pasv
                                    : 1 + static_cast<int>(static_cast<std::uint64_t>(n) % 65535);
        const std::string p = std::to_string(port), hi = std::to_string(port / 256),
                          lo = std::to_string(port % 256);
        if (net::ftp::EpsvPort("229 Entering Extended Passive Mode (|||" + p + "|)") != port) std::abort();
        if (net::ftp::PasvPort("227 Entering Passive Mode (127,0,0,1," + hi + "," + lo + ")") != port)
            std::abort();
        if (net::ftp::PortCommand("::1", "::1", port) != "EPRT |2|::1|" + p + "|") std::abort();
        if (net::ftp::PortCommand("127.0.0.1", "127.0.0.1", port) != "PORT 127,0,0,1," + hi + "," + lo)
            std::abort();
        // A delimiter of the line's own choosing, and the line's own text
        // around the reply's brackets.
        if (!line.empty() && (line[0] < '0' || line[0] > '9') && line[0] != '(' && line[0] != ')') {
            const std::string own = std::string("229 x (") + line[0] + line[0] + line[0] + p + line[0] + ")";
            if (net::ftp::EpsvPort(own) != port) std::abort();
        }
    }
    return 0;
}
