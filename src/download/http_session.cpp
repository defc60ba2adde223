// The HTTP(S) transfer of one file: a GET through THttpCli (HTTP/1.1,
// redirects, Range for the rest of a partial file), the body written to the
// local file (platform::LocalFileSink, with write(2) straight from the block
// received), and the end told as an Outcome.

#include "download/transfer.h"

#include "net/httpprot.h"
#include "platform/localfile.h"
#include "platform/socket.h"
#include "platform/text.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace download {

namespace {

// The version a reply announces; size is the whole file's as the reply tells it.
FileVersion replyVersion(const net::THttpCli& cli, std::int64_t size) {
    return FileVersion{cli.HeaderValue("etag"), cli.HeaderValue("last-modified"), size};
}

// Why the reply's version is not the one expected (empty: it is). Only what
// both tell is compared; a reply that tells nothing comparable is no match.
std::string versionMismatch(const FileVersion& expected, const FileVersion& got) {
    bool compared = false;
    if (expected.size >= 0 && got.size >= 0) {
        compared = true;
        if (expected.size != got.size)
            return "its size is " + std::to_string(got.size) + " bytes, was " + std::to_string(expected.size);
    }
    if (!expected.etag.empty() && !got.etag.empty()) {
        compared = true;
        if (expected.etag != got.etag) return "its ETag is " + got.etag + ", was " + expected.etag;
    }
    if (!expected.lastModified.empty() && !got.lastModified.empty()) {
        compared = true;
        if (expected.lastModified != got.lastModified)
            return "it was last modified " + got.lastModified + ", not " + expected.lastModified;
    }
    return compared ? std::string() : "the reply does not tell which version it holds";
}

// Seconds of pause after a 429 without Retry-After.
constexpr std::int64_t TooManyRequestsPause = 2;

// Retry-After in seconds (a date or anything else: -1).
std::int64_t retryAfterSeconds(const net::THttpCli& cli) {
    std::int64_t n = -1;
    const std::string v = cli.HeaderValue("retry-after");
    if (v.empty() || !net::HttpStrictNumber(v, 9, n)) return -1;
    return n;
}

} // namespace

struct HttpSession::Impl {
    explicit Impl(HttpSession& s) : self(s) {}

    HttpSession& self;
    Request request;
    std::unique_ptr<net::THttpCli> cli;
    std::vector<std::unique_ptr<net::THttpCli>> retired; // aborted, released from the event loop
    platform::MessageTarget target;
    unsigned gen = 0; // of the current attempt; events of older ones are ignored

    bool running = false;
    bool finishing = false;   // the outcome is decided, `finished` posted
    bool bodyStarted = false; // a 2xx header came and the file is open
    bool restarted = false;   // started over from byte 0 once already
    // The version of the local file's bytes (from the request; empty once
    // started over), and that of the file being written.
    FileVersion expected, version;
    platform::LocalFileSink file;
    std::int64_t rangeFrom = 0; // asked "Range: bytes=N-"
    std::int64_t byteCount = 0, size = -1, received = 0;
    std::string finalUrl;
    int headerVisits = 0, stillVisits = 0;
    std::int64_t countAtVisit = 0;

    void show(const std::string& line) { self.display(platform::printable(line)); }

    void closeFile() { file.close(); }

    // The client of the current attempt stops; it is released once the
    // event loop is back (it may be the one calling us now).
    void retire() {
        ++gen;
        if (!cli) return;
        net::THttpCli* c = cli.get();
        retired.push_back(std::move(cli));
        c->Abort();
        target.post([this] { retired.clear(); });
    }

    void finish(Outcome outcome, const std::string& detail, std::int64_t retryAfter = -1) {
        if (finishing) return;
        if (cli) finalUrl = cli->CurrentUrl();
        retire();
        closeFile();
        finishing = true;
        const unsigned g = gen;
        target.post([this, g, outcome, detail, retryAfter] {
            if (g != gen) return; // aborted meanwhile
            running = false;
            finishing = false;
            self.finished(TransferResult{outcome, detail, retryAfter});
        });
    }

    void launch() {
        retire();
        bodyStarted = false;
        headerVisits = stillVisits = 0;
        received = 0;
        cli = std::make_unique<net::THttpCli>();
        net::THttpCli& c = *cli;
        c.URL = request.url;
        c.Proxy = request.proxy;
        if (!request.proxyPort.empty()) c.ProxyPort = request.proxyPort;
        c.Agent = request.agent;
        c.RateLimited = true;
        c.Version = "1.1";
        c.ExtraHeaders.push_back("Connection: close");
        c.ExtraHeaders.push_back("Accept-Encoding: identity");
        if (rangeFrom > 0) {
            c.ExtraHeaders.push_back("Range: bytes=" + std::to_string(rangeFrom) + "-");
            // The rest only if the file is still that version; else the whole file.
            const bool strong = !expected.etag.empty() && expected.etag.rfind("W/", 0) != 0;
            if (strong)
                c.ExtraHeaders.push_back("If-Range: " + expected.etag);
            else if (!expected.lastModified.empty())
                c.ExtraHeaders.push_back("If-Range: " + expected.lastModified);
        }
        c.MaxRelocations = 5;
        c.RedirectStatusOnly = true;
        c.ReadErrorHeader = true;
        c.BodyEndsAtLength = true;
        c.LargeBodyBlocks = true;
        const unsigned g = gen;
        c.OnCommand.connect([this, g](net::THttpCli*, const std::string& line) {
            if (g != gen) return;
            if (line.rfind("GET ", 0) == 0 || line.rfind("CONNECT ", 0) == 0 ||
                line.rfind("Range:", 0) == 0 || line.rfind("If-Range:", 0) == 0)
                show("> " + line);
        });
        c.OnHeaderData.connect([this, g](net::THttpCli* s) {
            if (g != gen || s->RcvdHeader.empty()) return;
            const std::string& line = s->RcvdHeader.back();
            const net::HttpHeaderLine h = net::ParseHttpHeaderLine(line);
            if (h.kind == net::HttpHeaderLine::Status) {
                show("< " + line);
            } else if (h.kind == net::HttpHeaderLine::Field && h.name == "location" &&
                       s->CurrentUrl() != finalUrl) {
                finalUrl = s->CurrentUrl();
                show("! redirected to " + finalUrl);
            }
        });
        c.OnStateChange.connect([this, g](net::THttpCli* s) {
            if (g == gen && s->State() == net::httpWaitingBody) headerDone(*s);
        });
        c.OnDocData.connect([this, g](net::THttpCli*, const char* data, std::int32_t len) {
            if (g == gen) body(data, len);
        });
        c.OnRequestDone.connect([this, g](net::THttpCli* s, net::THttpRequest, std::uint16_t) {
            if (g == gen) requestDone(*s);
        });
        try {
            c.StartGet();
        } catch (const std::exception& e) {
            finish(Outcome::Broken, e.what());
        }
    }

    // Starts over from byte 0 without Range, once per start.
    void startOver(const std::string& why) {
        if (restarted) {
            finish(Outcome::Broken, why);
            return;
        }
        show("! " + why + ": starting over from byte 0");
        restarted = true;
        rangeFrom = 0;
        expected = {};
        byteCount = 0;
        closeFile();
        launch();
    }

    // The local file, open for the body: appended to at rangeFrom, or emptied.
    bool openFile(bool append) {
        if (!file.open(request.localName, platform::LocalFileSink::Missing::Create)) {
            finish(Outcome::LocalError,
                   "Unable to open local file " + request.localName + ": " + file.cause());
            return false;
        }
        if (append && file.size() < rangeFrom) {
            // Shorter than when the range was asked: not this file's rest.
            closeFile();
            startOver("the local file changed");
            return false;
        }
        const std::int64_t at = append ? rangeFrom : 0;
        if (!file.cut(at) || !file.begin()) {
            finish(Outcome::LocalError, file.cause());
            return false;
        }
        byteCount = at;
        return true;
    }

    void headerDone(net::THttpCli& c) {
        finalUrl = c.CurrentUrl();
        const int status = c.StatusCode();
        const std::string statusText = std::to_string(status) + " " + c.ReasonPhrase();
        if (status < 300 && !c.ContentEncoding().empty()) {
            // Coded bytes (gzip, ...) are not the file: none reaches the disk.
            finish(Outcome::Broken, "the file came coded as " + c.ContentEncoding() + ": not stored");
            return;
        }
        if (status == 206) {
            const net::HttpContentRange r = c.ContentRange();
            if (!r.ok || r.first != rangeFrom) {
                startOver("206 for bytes from " + (r.ok ? std::to_string(r.first) : std::string("?")) +
                          ", asked from " + std::to_string(rangeFrom));
                return;
            }
            // Only the total of the range tells the file's size: a length
            // tells where this reply ends, which need not be the file's end.
            const FileVersion got = replyVersion(c, r.total);
            if (rangeFrom > 0 && !expected.empty()) {
                // Never the rest of another version after these bytes.
                if (const std::string why = versionMismatch(expected, got); !why.empty()) {
                    startOver("the file on the server is not the one begun: " + why);
                    return;
                }
            } else if (rangeFrom == 0 && got.size < 0) {
                // A part of a file asked for whole, whose end would not be known.
                finish(Outcome::Broken, "a partial reply (206) of unknown size");
                return;
            }
            if (!openFile(true)) return;
            version = got;
            if (version.etag.empty()) version.etag = expected.etag;
            if (version.lastModified.empty()) version.lastModified = expected.lastModified;
            if (version.size < 0) version.size = expected.size;
            // Else the rest asked for ends where the range or the length says.
            const std::int64_t length = c.ChunkedBody() ? -1 : c.ContentLength();
            size = version.size >= 0 ? version.size : length >= 0 ? rangeFrom + length : r.last + 1;
        } else if (status == 200 || status == 203) {
            if (rangeFrom > 0) show("! the server sends the whole file: writing it from byte 0");
            rangeFrom = 0;
            expected = {};
            if (!openFile(false)) return;
            size = c.ChunkedBody() ? -1 : c.ContentLength();
            version = replyVersion(c, size);
        } else if (status >= 300 && status < 400) {
            finish(Outcome::Redirects, statusText + " without a usable Location");
            return;
        } else {
            finish(Outcome::Broken, "unexpected reply " + statusText);
            return;
        }
        bodyStarted = true;
        countAtVisit = byteCount;
        self.bodyBegins(version);
        self.progress(byteCount);
    }

    void body(const char* data, std::int32_t len) {
        if (!file.isOpen() || finishing) return;
        if (file.write(data, static_cast<std::size_t>(len)) < 0) {
            // What reached the file stays there for a resume.
            const std::int64_t at = file.position();
            if (at >= 0) byteCount = at;
            finish(Outcome::LocalError, file.cause());
            return;
        }
        received += len;
        byteCount += len;
        self.progress(byteCount);
    }

    void requestDone(net::THttpCli& c) {
        finalUrl = c.CurrentUrl();
        const net::HttpFailure failure = c.Failure();
        const std::string reason = platform::printable(c.ReasonPhrase());
        if (bodyStarted)
            bodyEnded(c, failure);
        else if (!connectionFailed(failure, reason))
            replyEnded(c, reason);
    }

    // The body's end: the file is whole only with every byte its reply announced.
    void bodyEnded(net::THttpCli& c, net::HttpFailure failure) {
        const std::string reason = platform::printable(c.ReasonPhrase());
        const std::int64_t expected = c.ChunkedBody() ? -1 : c.ContentLength();
        bool complete;
        if (c.ChunkedBody())
            complete = c.ChunksDone();
        else if (expected >= 0)
            complete = received == expected;
        else
            complete = failure == net::HttpFailure::None; // to the end of the connection
        if (complete && size >= 0 && byteCount != size) {
            // A 206 whose length does not reach (or passes) the size its range announced.
            const std::string counts = std::to_string(byteCount) + " of " + std::to_string(size) + " bytes";
            finish(byteCount < size ? Outcome::Short : Outcome::Overran,
                   (byteCount < size ? "short: " : "overran: ") + counts);
        } else if (complete) {
            if (size < 0) size = byteCount;
            finish(Outcome::Done, std::to_string(c.StatusCode()) + " " + reason);
        } else if (failure == net::HttpFailure::Reply) {
            finish(Outcome::Broken, reason);
        } else if (expected >= 0) {
            finish(Outcome::Short,
                   "short: " + std::to_string(received) + " of " + std::to_string(expected) + " bytes");
        } else {
            finish(Outcome::Short, "the body ended early after " + std::to_string(received) + " bytes");
        }
    }

    // No reply came (no name, no connection, TLS, a bad relocation, a broken
    // connection): the file ends so, true. False when a reply's status decides.
    bool connectionFailed(net::HttpFailure failure, const std::string& reason) {
        switch (failure) {
        case net::HttpFailure::None:
        case net::HttpFailure::Aborted:
            return false;
        case net::HttpFailure::Lookup:
        case net::HttpFailure::Connect:
            finish(Outcome::SiteDown, reason);
            return true;
        case net::HttpFailure::Tls:
            finish(Outcome::Tls, reason);
            return true;
        case net::HttpFailure::Relocation:
            finish(Outcome::Redirects, reason);
            return true;
        case net::HttpFailure::Reply:
        case net::HttpFailure::Broken:
            finish(Outcome::Broken, reason.empty() ? "the connection broke" : reason);
            return true;
        }
        return false;
    }

    // A reply without a body for the file: its status says why.
    void replyEnded(net::THttpCli& c, const std::string& reason) {
        const int status = c.StatusCode();
        const std::string statusText = std::to_string(status) + " " + reason;
        if (status == 416) {
            const net::HttpContentRange r = c.ContentRange();
            const bool sameVersion =
                expected.empty() || versionMismatch(expected, replyVersion(c, r.total)).empty();
            if (rangeFrom > 0 && r.ok && r.total == rangeFrom && sameVersion) {
                size = byteCount = rangeFrom;
                show("! the file is complete already");
                finish(Outcome::Done, statusText);
            } else if (rangeFrom > 0) {
                startOver(statusText);
            } else {
                finish(Outcome::Refused, statusText);
            }
        } else if (status == 429 || status == 408 || status == 503) {
            // Too many requests, a request that came too slowly, a server busy
            // for now: tried again later (after the wait the server asks for).
            std::int64_t wait = retryAfterSeconds(c);
            if (wait < 0 && status == 429) wait = TooManyRequestsPause;
            finish(Outcome::Broken, statusText, wait);
        } else if (status == 404 || status == 410) {
            finish(Outcome::NotFound, statusText);
        } else if (status == 401 || status == 407) {
            finish(Outcome::LoginRefused, statusText);
        } else if (status >= 400 && status < 500) {
            finish(Outcome::Refused, statusText);
        } else if (status >= 500) {
            finish(Outcome::Broken, statusText);
        } else {
            finish(Outcome::Broken, "the connection closed before the reply's header ended");
        }
    }
};

HttpSession::HttpSession() : impl_(std::make_unique<Impl>(*this)) {}
HttpSession::~HttpSession() = default;

void HttpSession::start(const Request& request) {
    Impl& d = *impl_;
    abort();
    d.request = request;
    d.running = true;
    d.finishing = false;
    d.restarted = false;
    d.expected = request.resume ? request.version : FileVersion{};
    d.version = {};
    d.rangeFrom = 0;
    d.byteCount = 0;
    d.size = -1;
    d.received = 0;
    d.finalUrl = request.url;
    std::string scheme = request.url.substr(0, request.url.find("://"));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    if (request.url.find("://") == std::string::npos || (scheme != "http" && scheme != "https")) {
        d.finish(Outcome::Refused, "not an http or https address: " + platform::printable(request.url));
        return;
    }
    if (request.resume) {
        const platform::LocalFileInfo local = platform::inspectLocalFile(request.localName);
        if (local.exists && !local.regular) {
            d.finish(Outcome::LocalError,
                     "Unable to open local file " + request.localName + ": not a regular file");
            return;
        }
        if (local.exists) d.rangeFrom = d.byteCount = local.size;
    }
    d.launch();
}

void HttpSession::visit(int stallVisits, int timeoutVisits) {
    Impl& d = *impl_;
    if (!d.running || d.finishing) return;
    if (!d.bodyStarted) {
        if (++d.headerVisits > timeoutVisits)
            d.finish(Outcome::Stalled, "no reply within " + std::to_string(timeoutVisits) + " visits");
        return;
    }
    if (d.byteCount != d.countAtVisit) {
        d.countAtVisit = d.byteCount;
        d.stillVisits = 0;
    } else if (++d.stillVisits > stallVisits) {
        d.finish(Outcome::Stalled, "no byte moved for " + std::to_string(stallVisits) + " visits");
    }
}

void HttpSession::abort() {
    Impl& d = *impl_;
    if (!d.running) return;
    d.retire();
    d.closeFile();
    d.running = false;
    d.finishing = false;
}

bool HttpSession::running() const {
    return impl_->running;
}
std::int64_t HttpSession::byteCount() const {
    return impl_->byteCount;
}
std::int64_t HttpSession::size() const {
    return impl_->size;
}
std::int64_t HttpSession::received() const {
    return impl_->received;
}
const std::string& HttpSession::finalUrl() const {
    return impl_->finalUrl;
}
const FileVersion& HttpSession::version() const {
    return impl_->version;
}

} // namespace download
