#pragma once
// What a slot's transfer of one file comes to, as a typed value that the
// statistics, the log, the status view and the command line read; and the
// HTTP(S) session a slot owns for http:// and https:// files.

#include "download/pending.h"
#include "platform/signal.h"

#include <cstdint>
#include <memory>
#include <string>

namespace net {
class THttpCli;
}

namespace download {

enum class Outcome {
    Done,         // every byte is here
    NotFound,     // the site does not have the file (550 to RETR, HTTP 404 or 410)
    Refused,      // the site refused the file for good (other 5xx to RETR, other HTTP 4xx)
    LoginRefused, // log-in refused (530 in a row, HTTP 401 or 407)
    SiteDown,     // no name, no connection
    Stalled,      // no byte moved for the stall time: kept for resume
    Short,        // fewer bytes than the size announced: kept for resume
    Overran,      // more bytes than the size announced
    LocalError,   // the local file could not be written: kept for resume
    Tls,          // TLS could not be set up or the certificate was refused
    Redirects,    // too many redirects, a redirect from https to http, a bad Location
    Broken,       // the connection broke, a server error (HTTP 5xx), a bad reply: tried again
    GivenUp,      // the attempts of this run were used up: kept for resume
    Stopped,      // the user stopped it
    NotAudio,     // every byte arrived, but they are no song (a web page, zeros, another format)
    Damaged,      // every byte arrived, but the MPEG stream breaks or is cut
};

// The outcome's name for -v lines and memos ("done", "not found", ...).
const char* outcomeName(Outcome outcome);
// Whether a file that ended so stays in the pending list for a later resume.
bool keptPending(Outcome outcome);

struct TransferResult {
    Outcome outcome = Outcome::Done;
    std::string detail; // for people: "404 Not Found", "short: 100 of 200 bytes", "No space left on device"
    // Seconds to wait before the next try: the server's Retry-After with 429,
    // 408 or 503, or a short pause after a 429 without one; -1: no wait.
    std::int64_t retryAfter = -1;
};

// One HTTP(S) file transfer after another, as a slot asks for them. Every
// start is answered by exactly one `finished`, always from the event loop
// (never from inside start, visit or abort), except after abort.
class HttpSession {
public:
    struct Request {
        std::string url;       // http:// or https://, as the user or the page wrote it
        std::string localName; // the file written, in the working directory
        // The local file's bytes belong to this URL: when it exists with N bytes,
        // "Range: bytes=N-" asks for the rest. Otherwise the file is written from byte 0.
        bool resume = false;
        // The version those bytes came from, when an earlier reply told it: the
        // rest is asked for with If-Range, and a partial reply of another
        // version (its ETag, Last-Modified or whole size differ) starts the
        // file over. A partial reply that tells nothing to compare starts it
        // over too.
        FileVersion version;
        std::string proxy;     // host, optionally ":port"; empty: direct
        std::string proxyPort; // when proxy names no port
        std::string agent;     // User-Agent
    };

    HttpSession();
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    void start(const Request& request);
    // One visit of the scheduler's tick (every SlotCount ticks of the pace):
    // a transfer whose byte count did not move for more than stallVisits visits in a
    // row, or whose reply header did not come within timeoutVisits visits, ends
    // (Stalled, kept for resume).
    void visit(int stallVisits, int timeoutVisits);
    // Ends the running transfer at once; no `finished` follows.
    void abort();
    bool running() const;

    // The local file's length so far (the resumed bytes included).
    std::int64_t byteCount() const;
    // The whole file's size once a reply announced it, else -1.
    std::int64_t size() const;
    // Bytes received by the current (or last) transfer.
    std::int64_t received() const;
    // The URL the last transfer ended at, after redirects.
    const std::string& finalUrl() const;
    // The version of the file being written, once a reply began its body.
    const FileVersion& version() const;

    platform::Signal<const TransferResult&> finished;
    // Lines for the memos and -v: "> GET /a.mp3 HTTP/1.1", "< HTTP/1.1 206 Partial Content",
    // "! redirected to ...", printable (no control characters from the server).
    platform::Signal<const std::string&> display;
    // The byte count changed (byteCount()).
    platform::Signal<std::int64_t> progress;
    // A reply's body begins: the version of the file it writes (version()).
    platform::Signal<const FileVersion&> bodyBegins;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace download
