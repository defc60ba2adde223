// The real THttpCli against a loopback server that answers every request
// with the fuzz input. The client goes through that server as its proxy, so
// a relocation to any host comes back to it (no name is ever looked up).
// Built twice: fuzz_http_client (http://) and fuzz_https_client
// (FUZZ_HTTP_TLS: https://, through the proxy's tunnel: the server answers
// CONNECT with 200, then speaks TLS with a test certificate for fuzz.invalid
// that the client verifies, and answers the request inside it).
//
// Input: byte 0 the size of the pieces the response is sent in (1 << (b & 15)
// bytes, at least 1), whether the server keeps the connection open after
// it (b & 16: the client must then end on its own or when the server closes
// at the end) and, over TLS, whether it ends without close_notify (b & 32),
// then the response bytes.
// Checked: the request completes exactly once, within a bounded number of
// event-loop turns after the server closed; the body handed out equals
// RcvdCount and is a piece of what the server sent (of a chunked reply: its
// bytes in the order sent).
#include "loopback_peer.h"
#include "net/httpprot.h"
#include "tls_link.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int WaitTurns = 20;
constexpr int EndTurns = 20000;
constexpr int MaxConnections = 4; // the first and up to three relocations
#ifdef FUZZ_HTTP_TLS
constexpr bool Tls = true;
#else
constexpr bool Tls = false;
#endif

// Reads on conn until a request header has come (or the bound): its text.
std::string requestHead(fuzzpeer::Link& conn) {
    std::string request;
    for (int t = 0; t < WaitTurns && request.find("\r\n\r\n") == std::string::npos; ++t) {
        fuzzpeer::turn();
        if (!conn.readAvailable(request)) break;
    }
    return request;
}

using fuzzpeer::check;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzzpeer::initApp(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t flags = bytes[0];
    const std::size_t piece = std::size_t{1} << (flags & 15);
    const bool keepOpen = flags & 16;
    const bool cut = flags & 32;
    const std::string_view response(reinterpret_cast<const char*>(bytes) + 1, size - 1);

    int port = 0;
    if (Tls) fuzzpeer::serverTls(); // (trusted by the client from here on)
    int listener = fuzzpeer::listenLoopback(port);
    std::vector<std::unique_ptr<fuzzpeer::Link>> conns;
    int completions = 0;
    std::string body;
    {
        net::THttpCli c;
        c.URL = Tls ? "https://fuzz.invalid/page" : "http://fuzz.invalid/page";
        c.Proxy = "127.0.0.1:" + std::to_string(port);
        c.MaxRelocations = MaxConnections - 1;
        c.OnRequestDone.connect([&](net::THttpCli*, net::THttpRequest, std::uint16_t) { ++completions; });
        c.OnDocData.connect([&](net::THttpCli*, const char* buf, std::int32_t len) {
            check(len >= 0, "block length");
            body.append(buf, static_cast<std::size_t>(len));
        });
        c.StartGet();

        // Each connection: read the request's header, send the response.
        for (int k = 0; k < MaxConnections && completions == 0; ++k) {
            int fd = -1;
            for (int t = 0; t < WaitTurns && fd < 0 && completions == 0; ++t) {
                fuzzpeer::turn();
                fd = fuzzpeer::acceptOne(listener);
            }
            if (fd < 0) break;
            conns.push_back(std::make_unique<fuzzpeer::Link>());
            fuzzpeer::Link& conn = *conns.back();
            conn.adopt(fd);
            const std::string request = requestHead(conn);
            if (request.rfind("CONNECT ", 0) == 0) {
                // The tunnel: then TLS, and the request inside it.
                conn.send("HTTP/1.1 200 Connection established\r\n\r\n", WaitTurns);
                conn.startTls();
                requestHead(conn);
            }
            for (std::size_t at = 0; at < response.size(); at += piece) {
                if (conn.send(response.substr(at, piece), WaitTurns) == 0) break;
                fuzzpeer::turn();
            }
            if (!keepOpen) conn.shutWrite(cut);
            for (int t = 0; t < 5; ++t)
                fuzzpeer::turn();
        }
        // The server goes away; the request must end.
        fuzzpeer::closeFd(listener);
        for (auto& conn : conns)
            conn->close();
        for (int t = 0; t < EndTurns && completions == 0; ++t)
            fuzzpeer::turn();
        if (std::getenv("FUZZ_VERBOSE"))
            std::fprintf(stderr, "connections %zu, status %d, body %zu bytes, relocations %d\n", conns.size(),
                         c.StatusCode(), body.size(), c.RelocationCount());
        check(completions == 1, "the request ends once the server closed");
        for (int t = 0; t < 5; ++t)
            fuzzpeer::turn();
        check(completions == 1, "one completion per request");
        check(static_cast<std::uint64_t>(c.RcvdCount()) == body.size(),
              "RcvdCount counts the body handed out");
        // A chunked body comes without its framing: its bytes in the order
        // sent. (Codings are named in any case: "chuNked" is chunked too.)
        bool chunked = false;
        for (std::string line : c.RcvdHeader) {
            for (char& ch : line)
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            chunked = chunked || line.find("chunked") != std::string::npos;
        }
        const auto inOrder = [&] {
            std::size_t at = 0;
            for (const char b : body) {
                if ((at = response.find(b, at)) == std::string_view::npos) return false;
                ++at;
            }
            return true;
        };
        check(body.empty() || c.RelocationCount() > 0 || response.find(body) != std::string_view::npos ||
                  (chunked && inOrder()),
              "the body is what the server sent");
    }
    return 0;
}
