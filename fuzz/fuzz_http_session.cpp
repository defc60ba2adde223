// The HTTP download session (HttpSession) of one file against a loopback
// server that answers each request with the next reply of the fuzz input.
// The server holds two versions of the file, a and b (of different sizes and
// contents); each reply serves one of them and tells honestly what it is
// (its ETag, Last-Modified, size, range), as far as the input lets it tell at
// all. The session goes through the server as its proxy, so relocations come
// back to it. As a slot does, a transfer that ends short, broken or stalled
// is started again (up to three starts), continuing the local file with the
// version the last reply began (or the one the local file came with), and
// writing it afresh when no reply told which version it holds.
//
// Input: byte 0: the size of the pieces each reply is sent in (1 << (b & 15)
// bytes, or a 64th of the reply when that is more); then lines:
//   Z na nb     the sizes of a and b (default 5000 and 7000; at most 32768)
//   L k [ems]   the local file holds a's first k bytes before the first start,
//               and its version is known by its ETag (e), Last-Modified (m),
//               size (s) (at least one, default all)
// and the replies, each ended by a line "=" (the last one need not be):
//   S code      the status code (default 200)
//   H text      another header line (not a blank one, nor one that tells the
//               version, the length, the range or the transfer coding)
//   V v [flags] the version served, a or b, and what the reply tells of it:
//               e ETag, w a weak one, m Last-Modified, s the size in the
//               range, l Content-Length, r Content-Range, k chunks (default "emslr")
//   F n         a range reply's first byte (default: the one asked for)
//   D n         only n bytes of the body (then the connection ends)
// A request after the last reply gets its connection closed.
//
// Checked: every start ends exactly once within a bound of event-loop turns;
// a file reported fetched is exactly a or exactly b, and its count and size
// say so; the local file is always the beginning of one version, never a mix.
#include "download/transfer.h"
#include "loopback_peer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int WaitTurns = 40;
constexpr int EndTurns = 20000;
constexpr int MaxStarts = 3;
constexpr int MaxReplies = 8;
constexpr std::int64_t MaxSize = 32768;
const char* const LocalName = "x.mp3";

bool verbose = false;
using fuzzpeer::check;

struct Version {
    std::string bytes, etag, modified;
};

struct Reply {
    int status = 200;
    std::vector<std::string> fields;
    char version = 'a';
    std::string flags = "emslr";
    std::int64_t first = -1; // -1: as asked
    std::int64_t count = -1; // -1: the whole rest
};

std::int64_t number(std::string_view t, std::int64_t max) {
    std::int64_t n = 0;
    for (const char c : t) {
        if (c < '0' || c > '9') break;
        n = std::min<std::int64_t>(n * 10 + (c - '0'), max);
    }
    return n;
}

bool tellsVersion(std::string_view field) {
    std::string name;
    for (const char c : field.substr(0, field.find(':')))
        name += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
        name.pop_back();
    return name == "etag" || name == "last-modified" || name == "content-range" || name == "content-length" ||
           name == "transfer-encoding";
}

// The bytes of a reply to a request that asked from rangeFrom (0: no Range).
std::string render(const Reply& r, const Version& v, std::int64_t rangeFrom) {
    auto has = [&](char f) { return r.flags.find(f) != std::string::npos; };
    const auto total = static_cast<std::int64_t>(v.bytes.size());
    const bool partial = r.status == 206;
    std::int64_t first = partial ? (r.first >= 0 ? r.first : rangeFrom) : 0;
    first = std::min(first, total);
    const bool chunked = has('k');
    // A body that ends with the connection is the whole rest: cut short, it
    // would tell the wrong end.
    const bool delimited = chunked || has('l') || (partial && (has('s') || has('r')));
    std::int64_t count = total - first;
    if (r.count >= 0 && delimited) count = std::min(count, r.count);
    std::string out = "HTTP/1.1 " + std::to_string(r.status) + " X\r\n";
    for (const std::string& f : r.fields)
        out += f + "\r\n";
    if (has('e')) out += "ETag: " + std::string(has('w') ? "W/" : "") + v.etag + "\r\n";
    if (has('m')) out += "Last-Modified: " + v.modified + "\r\n";
    if (partial && has('r'))
        out += "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(total - 1) + "/" +
               (has('s') ? std::to_string(total) : std::string("*")) + "\r\n";
    if (r.status == 416 && has('r'))
        out += "Content-Range: bytes */" + (has('s') ? std::to_string(total) : std::string("*")) + "\r\n";
    if (chunked)
        out += "Transfer-Encoding: chunked\r\n";
    else if (has('l') || !partial)
        out += "Content-Length: " + std::to_string(total - first) + "\r\n";
    out += "\r\n";
    const std::string body = v.bytes.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(count));
    if (!chunked) return out + body;
    for (std::size_t at = 0; at < body.size(); at += 1000) {
        const std::string piece = body.substr(at, 1000);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        out += size + piece + "\r\n";
    }
    // The last chunk only when the body reached the file's end.
    if (first + count == total) out += "0\r\n\r\n";
    return out;
}

// The Range a request head asks for ("Range: bytes=N-"), else 0.
std::int64_t askedFrom(const std::string& head) {
    const auto at = head.find("\r\nRange: bytes=");
    return at == std::string::npos ? 0 : number(std::string_view(head).substr(at + 15), MaxSize * 4);
}

bool prefixOf(const std::string& file, const std::string& whole) {
    return file.size() <= whole.size() && whole.compare(0, file.size(), file) == 0;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzzpeer::initApp(argc, argv);
    verbose = std::getenv("FUZZ_VERBOSE") != nullptr;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t piece = std::size_t{1} << (bytes[0] & 15);
    const std::string_view script(reinterpret_cast<const char*>(bytes) + 1, size - 1);

    Version a{std::string(), "\"a\"", "Mon, 02 Jan 2006 15:04:05 GMT"};
    Version b{std::string(), "\"b\"", "Tue, 03 Jan 2006 15:04:05 GMT"};
    std::int64_t na = 5000, nb = 7000, local = -1;
    download::FileVersion known;
    std::vector<Reply> replies(1);
    for (std::size_t pos = 0; pos < script.size();) {
        std::size_t end = script.find('\n', pos);
        if (end == std::string_view::npos) end = script.size();
        const std::string_view line = script.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty()) continue;
        const std::string_view arg = line.substr(std::min<std::size_t>(line.size(), 2));
        Reply& r = replies.back();
        switch (line[0]) {
        case 'Z':
            na = std::max<std::int64_t>(1, number(arg, MaxSize));
            nb = std::max<std::int64_t>(1,
                                        number(arg.substr(std::min(arg.size(), arg.find(' ') + 1)), MaxSize));
            break;
        case 'L': {
            local = number(arg, MaxSize);
            const auto sp = arg.find(' ');
            const std::string_view f = sp == std::string_view::npos ? "ems" : arg.substr(sp + 1);
            known.etag = f.find('e') != std::string_view::npos ? "e" : "";
            known.lastModified = f.find('m') != std::string_view::npos ? "m" : "";
            known.size = f.find('s') != std::string_view::npos ? 0 : -1;
            if (known.empty()) known.etag = "e";
            break;
        }
        case 'S':
            r.status = static_cast<int>(number(arg, 999));
            break;
        case 'H': {
            std::string f;
            for (const char c : arg)
                if (c != '\r' && c != '\n') f += c;
            // (A blank line would end the header: what follows, the version's
            // own fields, would become the body.)
            const bool blank = f.find_first_not_of(" \t") == std::string::npos;
            if (!blank && !tellsVersion(f) && r.fields.size() < 16) r.fields.push_back(f);
            break;
        }
        case 'V':
            r.version = !arg.empty() && arg[0] == 'b' ? 'b' : 'a';
            r.flags = arg.size() > 2 ? std::string(arg.substr(2)) : "emslr";
            break;
        case 'F':
            r.first = number(arg, MaxSize * 2);
            break;
        case 'D':
            r.count = number(arg, MaxSize);
            break;
        case '=':
            if (replies.size() < MaxReplies) replies.emplace_back();
            break;
        default:
            break;
        }
    }
    if (nb == na) ++nb;
    a.bytes = fuzzpeer::fill(na);
    b.bytes = fuzzpeer::fill(nb + 1).substr(1); // other bytes at every place
    // The local file's version as an earlier reply told it.
    if (local >= 0) {
        known.etag = known.etag.empty() ? "" : a.etag;
        known.lastModified = known.lastModified.empty() ? "" : a.modified;
        known.size = known.size < 0 ? -1 : na;
    }

    fuzzpeer::ScratchDir dir;
    if (local >= 0)
        fuzzpeer::writeFile(LocalName, a.bytes.substr(0, static_cast<std::size_t>(std::min(local, na))));
    int port = 0;
    int listener = fuzzpeer::listenLoopback(port);
    std::vector<int> conns;
    std::size_t next = 0;
    {
        download::HttpSession s;
        int finishedCount = 0;
        download::TransferResult result;
        download::FileVersion begun = known;
        s.finished.connect([&](const download::TransferResult& r) {
            ++finishedCount;
            result = r;
        });
        s.bodyBegins.connect([&](const download::FileVersion& v) { begun = v; });
        if (verbose)
            s.display.connect([](const std::string& l) { std::fprintf(stderr, "  %s\n", l.c_str()); });

        for (int start = 0; start < MaxStarts; ++start) {
            download::HttpSession::Request rq;
            rq.url = "http://fuzz.invalid/x.mp3";
            rq.localName = LocalName;
            rq.proxy = "127.0.0.1";
            rq.proxyPort = std::to_string(port);
            std::string file;
            // As a slot: only a file whose version a reply told is continued.
            rq.resume = fuzzpeer::readFile(LocalName, file) && !file.empty() && !begun.empty();
            rq.version = begun;
            finishedCount = 0;
            s.start(rq);
            // Each connection: read the request's head, send the next reply.
            for (int t = 0; t < EndTurns && finishedCount == 0; ++t) {
                fuzzpeer::turn();
                const int fd = fuzzpeer::acceptOne(listener);
                if (fd < 0) continue;
                conns.push_back(fd);
                std::string head;
                for (int w = 0; w < WaitTurns && head.find("\r\n\r\n") == std::string::npos; ++w) {
                    fuzzpeer::turn();
                    if (!fuzzpeer::readAvailable(fd, head)) break;
                }
                if (next < replies.size() && head.find("\r\n\r\n") != std::string::npos) {
                    const Reply& r = replies[next++];
                    const std::string text = render(r, r.version == 'b' ? b : a, askedFrom(head));
                    if (verbose)
                        std::fprintf(stderr, "reply %zu (%c %s) to a request from %lld\n", next, r.version,
                                     r.flags.c_str(), static_cast<long long>(askedFrom(head)));
                    // At most some 64 pieces: a body sent byte by byte would take seconds.
                    const std::size_t step = std::max(piece, text.size() / 64);
                    for (std::size_t at = 0; at < text.size(); at += step) {
                        if (fuzzpeer::sendAll(fd, std::string_view(text).substr(at, step), WaitTurns) == 0)
                            break;
                        fuzzpeer::turn();
                    }
                }
                ::shutdown(fd, SHUT_WR);
            }
            check(finishedCount == 1, "every start ends, once");
            for (int t = 0; t < 5; ++t)
                fuzzpeer::turn();
            check(finishedCount == 1, "a start ends once");
            if (verbose)
                std::fprintf(stderr, "start %d: %s (%s), %lld bytes of %lld\n", start + 1,
                             download::outcomeName(result.outcome), result.detail.c_str(),
                             static_cast<long long>(s.byteCount()), static_cast<long long>(s.size()));
            const bool here = fuzzpeer::readFile(LocalName, file);
            if (result.outcome == download::Outcome::Done) {
                check(here && (file == a.bytes || file == b.bytes), "a file fetched is one version, whole");
                check(s.byteCount() == static_cast<std::int64_t>(file.size()) &&
                          s.size() == static_cast<std::int64_t>(file.size()),
                      "the count and size of a file fetched are its own");
            }
            if (here)
                check(prefixOf(file, a.bytes) || prefixOf(file, b.bytes), "never two versions in one file");
            const auto o = result.outcome;
            if (o != download::Outcome::Short && o != download::Outcome::Broken &&
                o != download::Outcome::Stalled)
                break;
        }
        for (int& fd : conns)
            fuzzpeer::closeFd(fd);
        fuzzpeer::closeFd(listener);
    }
    return 0;
}
