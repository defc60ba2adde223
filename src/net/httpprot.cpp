#include "net/httpprot.h"
#include "net/httpprot_impl.h"
#include "net/rate_limit.h"

#include "platform/eventloop.h"
#include "platform/socket.h"
#include "platform/text.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <istream>
#include <ostream>
#include <string_view>
#include <vector>

namespace net {

namespace {

// The body is fetched from the socket in reads of BodyReadSize bytes (large
// enough for the socket to receive straight into it, without its own read
// ahead) and handed on from there in the usual blocks of at most 2047 bytes.
// The space is one for the thread, so that it stays in the cache however many
// clients run; while one client's blocks are being handed on (a handler may
// run a nested event loop) the others read the usual way.
constexpr int BodyReadSize = 64 * 1024;
// With LargeBodyBlocks (a file written from each read) the reads are larger:
// fewer system calls and wake-ups per byte.
constexpr int LargeBodyReadSize = 256 * 1024;
constexpr int BodyBlockSize = 2047;
struct BodyScratch {
    std::unique_ptr<char[]> data;
    bool busy = false;
    const THttpCli* owner = nullptr; // whose blocks are being handed on (while it lives)
    int at = 0, end = 0;             // the bytes not yet handed on
    int keptAt = -1;                 // where the zero after the current block stands
    char kept = 0;                   // and the byte it stands in for
};
thread_local BodyScratch bodyScratch;

// The codings of a Transfer-Encoding or Content-Encoding value, lower case,
// without blanks and parameters, in the order given.
std::vector<std::string> codings(const std::string& value) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at <= value.size()) {
        std::size_t end = value.find(',', at);
        if (end == std::string::npos) end = value.size();
        std::string c = HttpLower(value.substr(at, end - at));
        c.erase(std::min(c.find(';'), c.size()));
        c.erase(0, c.find_first_not_of(" \t"));
        c.erase(c.find_last_not_of(" \t") + 1);
        if (!c.empty()) out.push_back(c);
        at = end + 1;
    }
    return out;
}

// Control characters in a relocation would end the request line early and
// begin header lines of the server's choosing in the next request.
bool holdsControl(const std::string& s) {
    return std::any_of(s.begin(), s.end(), [](unsigned char c) { return c < 32 || c == 127; });
}

} // namespace

THttpCli::THttpCli()
    : socket_(std::make_unique<TWSocket>()), window_(std::make_unique<platform::MessageTarget>()) {
    socket_->OnDnsLookupDone = [this](TWSocket*, std::uint16_t e) { SocketDnsLookupDone(e); };
    socket_->OnSessionConnected = [this](TWSocket*, std::uint16_t e) { SocketSessionConnected(e); };
    socket_->OnDataAvailable = [this](TWSocket*, std::uint16_t) { SocketDataAvailable(); };
    socket_->OnDataSent = [this](TWSocket*, std::uint16_t e) { SocketDataSent(e); };
    socket_->OnSessionClosed = [this](TWSocket*, std::uint16_t e) {
        if (closedHandler_ == ClosedHandler::Relocation) {
            LocationSessionClosed();
        } else {
            SocketSessionClosed(e);
        }
    };
    receiveBuffer_[0] = 0;
}

THttpCli::~THttpCli() {
    if (bodyScratch.owner == this) bodyScratch.owner = nullptr; // released by a handler of its blocks
    socket_.reset();                                            // reports nothing while being destroyed
    RateLimit::shared().forget(this);
}

// --- state ------------------------------------------------------------------

void THttpCli::SetState(THttpState s) {
    if (s == state_) return;
    state_ = s;
    const auto alive = lifetime_.watch();
    OnStateChange(this);
    if (!alive) return;
    if (state_ == httpReady) window_->post([this] { WMHttpRequestDone(); });
}

void THttpCli::WMHttpSetReady() {
    SetState(httpReady);
}

void THttpCli::WMHttpRequestDone() {
    // A listener may release the client.
    OnRequestDone(this, requestType_, requestDoneError_);
}

// --- starting -----------------------------------------------------------------

void THttpCli::StartGet() {
    StartRequest(httpGET);
}
void THttpCli::StartPost() {
    StartRequest(httpPOST);
}
void THttpCli::StartHead() {
    StartRequest(httpHEAD);
}

void THttpCli::Get() {
    StartGet();
    const auto alive = lifetime_.watch();
    bool done = false;
    platform::ScopedConnection waiting =
        OnRequestDone.connect([&done](THttpCli*, THttpRequest, std::uint16_t) { done = true; });
    while (alive && !done)
        platform::pumpMessages(1000);
}

void THttpCli::StartRequest(THttpRequest rq) {
    if (state_ != httpReady) throw EHttpException("HTTP component is busy", 1);
    if (rq == httpPOST && !SendStream) throw EHttpException("HTTP component has nothing to post", 2);

    requestType_ = rq;
    requestDoneError_ = 0;
    closedHandler_ = ClosedHandler::Normal;
    SetState(httpNotConnected);
    docName_.clear();
    statusCode_ = 0;
    rcvdCount_ = 0;
    sentCount_ = 0;
    headerLineCount_ = 0;
    bodyLineCount_ = 0;
    allowedToSend_ = false;
    // What a previous request of this client left behind.
    RcvdHeader.clear();
    authRequest_.clear();
    reasonPhrase_.clear();
    contentType_.clear();
    contentEncoding_.clear();
    otherTransferCoding_.clear();
    contentLength_ = -1;
    receiveLen_ = 0;
    locationChange_ = false;
    closedAtStatus_ = false;
    relocations_ = 0;
    failure_ = HttpFailure::None;
    currentUrl_ = URL.find("://") == std::string::npos ? "http://" + URL : URL;

    const HttpUrlParts u = ParseHttpURL(URL);
    tls_ = HttpLower(u.proto) == "https";
    tunnel_ = tls_ && !Proxy.empty();
    tunnelTarget_ = u.host + ":" + (u.port.empty() ? "443" : u.port);
    if (!Proxy.empty()) {
        targetHost_ = u.host;
        // Through a tunnel the proxy only carries the bytes: the request
        // inside it is the one sent directly to the server.
        if (tunnel_)
            path_ = u.path;
        else
            path_ = u.proto.empty() ? "http://" + URL : URL;
        docName_ = u.path;
        if (!u.user.empty()) Username = u.user;
        if (!u.pass.empty()) Password = u.pass;
        const HttpUrlParts p = ParseHttpURL(Proxy);
        hostName_ = p.host;
        port_ = p.port.empty() ? ProxyPort : p.port;
    } else {
        path_ = u.path;
        targetHost_ = u.host;
        docName_ = u.path;
        if (!u.user.empty()) Username = u.user;
        if (!u.pass.empty()) Password = u.pass;
        hostName_ = u.host;
        port_ = u.port.empty() ? (tls_ ? "443" : "80") : u.port;
    }
    if (path_.empty()) path_.push_back('/'); // (GCC 12 at -O3 warns falsely of "= \"/\"")

    if (docName_.empty() || docName_ == "/") {
        docName_ = "document.htm";
    } else {
        if (docName_.back() == '/') docName_.pop_back();
        const auto slash = docName_.rfind('/');
        if (slash != std::string::npos) docName_ = docName_.substr(slash + 1);
        docName_ = docName_.substr(0, 255);
        const auto q = docName_.find('?');
        if (q != std::string::npos) docName_ = docName_.substr(0, q);
    }
    Login();
}

void THttpCli::Login() {
    socket_->MultiThreaded = MultiThreaded;
    SetState(httpDnsLookup);
    try {
        socket_->DnsLookup(hostName_);
    } catch (const ESocketException&) {
        // No host at all (an empty name): fails like a name that does not resolve.
        window_->post([this] {
            if (state_ == httpDnsLookup) SocketDnsLookupDone(WSAHOST_NOT_FOUND);
        });
    }
}

// --- socket events --------------------------------------------------------------

void THttpCli::SocketDnsLookupDone(std::uint16_t error) {
    if (error != 0) {
        if (state_ == httpAborting) return; // the lookup cancelled by Abort
        statusCode_ = 404;
        reasonPhrase_ = "can't resolve hostname to IP address";
        failure_ = HttpFailure::Lookup;
        SocketSessionClosed(error);
        return;
    }
    SetState(httpNotConnected);
    try {
        socket_->setAddrs(socket_->DnsResultList());
        socket_->setPort(port_);
        socket_->setProto("tcp");
        tunnelOpen_ = false;
        if (tls_ && !tunnel_) socket_->StartTls(TlsFor());
        socket_->Connect();
    } catch (const ESocketException&) {
        const int n = socket_->LastError();
        requestDoneError_ = static_cast<std::uint16_t>(n);
        failure_ = HttpFailure::Connect;
        statusCode_ = 404;
        reasonPhrase_ = "can't connect: " + WSocketErrorDesc(n) + " (Error #" + std::to_string(n) + ")";
        const auto alive = lifetime_.watch();
        socket_->Close();
        if (!alive) return;
        SocketSessionClosed(0);
    }
}

void THttpCli::SocketSessionConnected(std::uint16_t error) {
    if (error != 0) {
        statusCode_ = 404;
        reasonPhrase_ = WSocketErrorDesc(error) + " (Error #" + std::to_string(error) + ")";
        failure_ = HttpFailure::Connect;
        if (isTlsError(error)) TlsFailed(error);
        SocketSessionClosed(error);
        return;
    }
    if (tunnel_ && !tunnelOpen_) {
        SendConnect();
        return;
    }
    connected_ = true;
    lineHandler_ = LineHandler::Header;
    receiveLen_ = 0; // nothing of an earlier connection belongs to this one
    headerBytes_ = 0;
    closedAtStatus_ = false;
    chunked_ = false; // of the reply on this connection
    chunks_.reset();
    otherTransferCoding_.clear();
    contentEncoding_.clear();
    SetState(httpWaitingHeader);
    const auto alive = lifetime_.watch();
    try {
        static const char* const methods[] = {"GET", "GET", "POST", "HEAD"};
        SendRequest(methods[requestType_], Version);
        if (!alive) return;
        if (requestType_ == httpPOST) {
            TriggerSendBegin();
            if (!alive) return;
            allowedToSend_ = true;
            SendBodyBlock();
        }
    } catch (const std::exception&) {
        if (alive) CloseConnection();
    }
}

void THttpCli::SocketDataSent(std::uint16_t) {
    if (allowedToSend_) SendBodyBlock();
}

void THttpCli::SocketSessionClosed(std::uint16_t error) {
    connected_ = false;
    if (error == WSAETLSCUT && state_ != httpAborting) {
        // What came may be any part of the document: never a finished one.
        statusCode_ = 404;
        TlsFailed(error);
    } else if (error != 0 && failure_ == HttpFailure::None && state_ != httpAborting) {
        failure_ = HttpFailure::Broken;
    }
    const auto alive = lifetime_.watch();
    if (bodyLineCount_ > 0) TriggerDocEnd();
    if (!alive) return;
    window_->post([this] { WMHttpSetReady(); });
}

void THttpCli::LocationSessionClosed() {
    connected_ = false;
    locationChange_ = false;
    closedHandler_ = ClosedHandler::Normal;
    window_->post([this] { WMHttpRelocate(); });
}

void THttpCli::WMHttpRelocate() {
    if (state_ == httpAborting || state_ == httpReady) return;
    if (++relocations_ > MaxRelocations) {
        // An endless chain of relocations ends here.
        statusCode_ = 404;
        reasonPhrase_ = "Too many relocations";
        failure_ = HttpFailure::Relocation;
        SocketSessionClosed(0);
        return;
    }
    Login();
}

void THttpCli::CloseConnection() {
    socket_->Close();
    connected_ = false;
}

void THttpCli::FailRequest(const std::string& reason, HttpFailure kind) {
    statusCode_ = 404;
    if (failure_ == HttpFailure::None) failure_ = kind;
    reasonPhrase_ = reason;
    closedHandler_ = ClosedHandler::Normal;
    locationChange_ = false;
    receiveLen_ = 0;
    if (socket_->State() == wsClosed) {
        connected_ = false;
        SocketSessionClosed(0);
    } else {
        CloseConnection();
    }
}

// --- receiving ------------------------------------------------------------------

void THttpCli::SocketDataAvailable() {
    if (tunnel_ && !tunnelOpen_) {
        TunnelData();
        return;
    }
    if (state_ == httpWaitingBody && receiveLen_ == 0) {
        // The owner's own call from a nested loop goes on with its blocks:
        // no bytes may pass them.
        if (bodyScratch.owner == this || !bodyScratch.busy) {
            ReceiveBody();
            return;
        }
    }
    const int room = 2047 - receiveLen_;
    int n = 0;
    if (room > 0) n = socket_->Receive(receiveBuffer_ + receiveLen_, room);
    if (requestType_ == httpNONE) return;
    if (n <= 0) {
        if (room <= 0 && connected_) FailRequest("Header line too long");
        return;
    }
    receiveLen_ += n;
    receiveBuffer_[receiveLen_] = 0;
    if (state_ == httpWaitingHeader && headerBytes_ == 0 && !StartsLikeStatusLine()) {
        // An FTP or mail server's banner (an engine entry or a relocation that
        // points at such a port): no HTTP answer will ever come.
        const std::string_view waiting(receiveBuffer_, static_cast<std::size_t>(receiveLen_));
        FailRequest("Not an HTTP reply: \"" +
                    std::string(waiting.substr(0, waiting.find_first_of("\r\n")), 0, 80) + "\"");
        return;
    }

    if (state_ == httpWaitingBody) {
        const int len = receiveLen_;
        receiveLen_ = 0;
        BodyBytes(receiveBuffer_, len);
        return;
    }
    const auto alive = lifetime_.watch();
    while (receiveLen_ > 0 && (connected_ || closedAtStatus_)) {
        char* lf =
            static_cast<char*>(std::memchr(receiveBuffer_, '\n', static_cast<std::size_t>(receiveLen_)));
        if (!lf) {
            // A line that cannot fit the buffer would never end.
            if (receiveLen_ >= 2047) FailRequest("Header line too long");
            return;
        }
        int lineLen = static_cast<int>(lf - receiveBuffer_);
        const int consumed = lineLen + 1;
        if (lineLen > 0 && receiveBuffer_[lineLen - 1] == '\r') --lineLen;
        std::string line(receiveBuffer_, static_cast<std::size_t>(lineLen));
        std::memmove(receiveBuffer_, receiveBuffer_ + consumed,
                     static_cast<std::size_t>(receiveLen_ - consumed));
        receiveLen_ -= consumed;
        receiveBuffer_[receiveLen_] = 0;
        if (state_ == httpWaitingHeader || state_ == httpWaitingBody) HandleLine(line);
        if (!alive) return;
    }
}

void THttpCli::ReceiveBody() {
    BodyScratch& b = bodyScratch;
    const bool outer = !b.busy;
    if (outer) {
        if (!b.data) b.data = std::make_unique<char[]>(LargeBodyReadSize + 1);
        b.busy = true;
        b.owner = this;
        b.at = b.end = 0;
        b.keptAt = -1;
    }
    struct Release {
        bool outer;
        ~Release() {
            if (!outer) return;
            bodyScratch.busy = false;
            bodyScratch.owner = nullptr;
        }
    } release{outer};
    char* const buffer = b.data.get();
    // A block is followed by a zero while it is handed on; a nested call (a
    // handler's event loop) puts the byte back before it goes on after it.
    auto putBack = [&b, buffer] {
        if (b.keptAt >= 0) buffer[b.keptAt] = b.kept;
        b.keptAt = -1;
    };
    putBack();
    const auto alive = lifetime_.watch();
    if (b.at == b.end) {
        b.at = b.end = 0;
        int want = LargeBodyBlocks ? LargeBodyReadSize : BodyReadSize;
        if (RateLimited) {
            want = static_cast<int>(RateLimit::shared().take(static_cast<std::size_t>(want)));
            if (want == 0) {
                // The bytes wait in the system's buffers; TCP slows the server.
                socket_->Pause();
                RateLimit::shared().wait(this, [this] {
                    if (socket_) socket_->Resume();
                });
                return;
            }
        }
        const int n = socket_->Receive(buffer, want);
        if (RateLimited) RateLimit::shared().giveBack(static_cast<std::size_t>(want - std::max(n, 0)));
        if (requestType_ == httpNONE || n <= 0) return;
        b.end = n;
    }
    while (b.at < b.end) {
        const int len = LargeBodyBlocks ? b.end - b.at : std::min(b.end - b.at, BodyBlockSize);
        char* const block = buffer + b.at;
        b.at += len;
        b.keptAt = b.at;
        b.kept = buffer[b.at];
        BodyBytes(block, len);
        if (!alive) return;
        putBack();
        // Aborted or closed by a handler: the rest is not wanted.
        if (state_ != httpWaitingBody || socket_->HSocket() == INVALID_SOCKET) {
            b.at = b.end;
            return;
        }
    }
}

void THttpCli::HandleLine(const std::string& line) {
    if (lineHandler_ == LineHandler::Header) {
        HeaderLine(line);
    } else {
        std::string copy = line + '\0';
        BodyBlock(copy.data(), static_cast<int>(line.size()));
    }
}

void THttpCli::HeaderLine(const std::string& line) {
    const auto alive = lifetime_.watch();
    if (headerLineCount_ == 0) {
        TriggerHeaderBegin();
        if (!alive) return;
    }
    ++headerLineCount_;

    if (line.empty()) {
        if (closedAtStatus_) {
            // The end of an error reply's header: its body is not wanted.
            receiveLen_ = 0;
            return;
        }
        if (ReadErrorHeader && statusCode_ >= 400) {
            closedAtStatus_ = true;
            receiveLen_ = 0;
            CloseConnection();
            return;
        }
        if (locationChange_) {
            closedHandler_ = ClosedHandler::Relocation;
            CloseConnection();
            return;
        }
        if (!otherTransferCoding_.empty()) {
            FailRequest("Unsupported transfer coding: " + platform::printable(otherTransferCoding_));
            return;
        }
        if (docName_.size() >= 4 && HttpLower(docName_.substr(docName_.size() - 4)) == ".exe" &&
            contentType_ == "text/html")
            docName_ = docName_.substr(0, docName_.size() - 3) + "htm";
        SetState(httpWaitingBody);
        if (!alive) return;
        lineHandler_ = LineHandler::Body;
        TriggerHeaderEnd();
        if (!alive) return;
        if (receiveLen_ > 0 && connected_) {
            const int len = receiveLen_;
            receiveLen_ = 0;
            BodyBytes(receiveBuffer_, len);
        } else if (BodyEndsAtLength && contentLength_ == 0 && !chunked_ && connected_ &&
                   state_ == httpWaitingBody) {
            CloseConnection(); // an empty body is complete at once
        }
        return;
    }

    headerBytes_ += line.size() + 2;
    if (headerBytes_ > MaxHeaderBytes) {
        // A peer that sends header lines without end would grow the header
        // without bound.
        FailRequest("Header too long");
        return;
    }
    RcvdHeader.push_back(line);
    const HttpHeaderLine h = ParseHttpHeaderLine(line);
    switch (h.kind) {
    case HttpHeaderLine::Malformed:
        FailRequest("Malformed status line");
        return;
    case HttpHeaderLine::Status:
        statusCode_ = h.status;
        reasonPhrase_ = h.reason;
        break;
    case HttpHeaderLine::Field:
        if (h.name == "location") {
            const bool redirect = statusCode_ == 301 || statusCode_ == 302 || statusCode_ == 303 ||
                                  statusCode_ == 307 || statusCode_ == 308;
            if ((!RedirectStatusOnly || (redirect && !h.value.empty())) && holdsControl(h.value)) {
                FailRequest("Relocation holding control characters refused: " + platform::printable(h.value),
                            HttpFailure::Relocation);
                return;
            }
            if (RedirectStatusOnly) {
                if (redirect && !h.value.empty()) {
                    const std::string target = ResolveLocation(h.value);
                    if (!ChangeTarget(target)) return;
                    currentUrl_ = target;
                    locationChange_ = true;
                }
            } else {
                if (!ChangeTarget(h.value)) return;
                currentUrl_ = ResolveLocation(h.value);
                locationChange_ = true;
            }
        } else if (h.name == "content-length") {
            std::int64_t len = 0;
            if (!HttpStrictNumber(h.value, 18, len)) {
                FailRequest("Malformed content-length");
                return;
            }
            contentLength_ = len;
        } else if (h.name == "transfer-encoding") {
            // The codings in the order applied; chunked comes last. Any other
            // (gzip, ...) would leave its coded bytes as the body.
            const std::vector<std::string> list = codings(h.value);
            chunked_ = !list.empty() && list.back() == "chunked";
            for (const std::string& coding : list)
                if (coding != "chunked" && coding != "identity" && otherTransferCoding_.empty())
                    otherTransferCoding_ = coding;
        } else if (h.name == "content-encoding") {
            for (const std::string& coding : codings(h.value))
                if (coding != "identity") contentEncoding_ += (contentEncoding_.empty() ? "" : ", ") + coding;
        } else if (h.name == "content-type") {
            contentType_ = h.value;
        } else if (h.name == "www-authenticate") {
            authRequest_.push_back(h.value);
        }
        break;
    case HttpHeaderLine::Other:
        break;
    }
    OnHeaderData(this);
    if (!alive) return;
    if (statusCode_ >= 400 && !closedAtStatus_ && !ReadErrorHeader) {
        closedAtStatus_ = true;
        CloseConnection();
    }
}

bool THttpCli::StartsLikeStatusLine() const {
    static constexpr char prefix[] = "http/";
    const int n = std::min(receiveLen_, 5);
    for (int i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(receiveBuffer_[i])) != prefix[i]) return false;
    return true;
}

bool THttpCli::ChangeTarget(const std::string& location) {
    const bool relative = !location.empty() && location[0] == '/';
    if (!relative) {
        const HttpUrlParts u = ParseHttpURL(location);
        const bool toTls = HttpLower(u.proto) == "https";
        if (tls_ && !toTls && !u.proto.empty()) {
            // A page asked for in private is never asked for again in clear.
            FailRequest("Relocation from https to " + u.proto + " refused: " + location,
                        HttpFailure::Relocation);
            return false;
        }
        if (toTls) {
            tls_ = true;
            tunnel_ = !Proxy.empty();
            tunnelTarget_ = u.host + ":" + (u.port.empty() ? "443" : u.port);
            path_ = u.path.empty() ? "/" : u.path;
            targetHost_ = u.host;
            if (!tunnel_) {
                hostName_ = u.host;
                port_ = u.port.empty() ? "443" : u.port;
            }
            return true;
        }
    } else if (tunnel_) {
        path_ = location;
        return true;
    }
    if (!Proxy.empty()) {
        if (relative) {
            // The new path on the same server, asked of the same proxy: keep
            // the scheme and server of the current absolute target.
            const auto sep = path_.find("://");
            const auto slash = path_.find('/', sep == std::string::npos ? 0 : sep + 3);
            path_ = (slash == std::string::npos ? path_ : path_.substr(0, slash)) + location;
        } else {
            path_ = location;
            const HttpUrlParts u = ParseHttpURL(location);
            if (!u.host.empty()) targetHost_ = u.host; // the Host line names the new server
        }
        return true;
    }
    if (relative) {
        path_ = location;
        return true;
    }
    const HttpUrlParts u = ParseHttpURL(location);
    if (!u.proto.empty() && HttpLower(u.proto) != "http") {
        // ftp://, https://, mailto: ... cannot be asked with plain HTTP (an
        // ftp:// address would have us talk HTTP to port 80 of its host).
        FailRequest("Relocated to a non-HTTP address: " + location, HttpFailure::Relocation);
        return false;
    }
    path_ = u.path.empty() ? "/" : u.path;
    hostName_ = u.host;
    targetHost_ = u.host;
    if (!u.port.empty()) {
        port_ = u.port;
    } else if (!u.proto.empty()) {
        port_ = "80"; // an absolute http URL without a port means the default port
    }
    return true;
}

// A Location against the address asked for now: absolute as it is, else
// against its scheme, server or directory. The fragment is dropped.
std::string THttpCli::ResolveLocation(const std::string& location) const {
    const std::string loc = location.substr(0, location.find('#'));
    const auto colon = loc.find(':');
    const auto slash = loc.find('/');
    if (colon != std::string::npos && colon > 0 && (slash == std::string::npos || colon < slash) &&
        std::all_of(loc.begin(), loc.begin() + static_cast<std::ptrdiff_t>(colon),
                    [](unsigned char c) { return std::isalnum(c) || c == '+' || c == '-' || c == '.'; }))
        return loc; // has its own scheme
    const auto sep = currentUrl_.find("://");
    const std::string scheme = currentUrl_.substr(0, sep);
    if (loc.rfind("//", 0) == 0) return scheme + ":" + loc;
    const auto pathAt = currentUrl_.find('/', sep + 3);
    const std::string origin = currentUrl_.substr(0, pathAt);
    std::string path = pathAt == std::string::npos ? "/" : currentUrl_.substr(pathAt);
    if (!loc.empty() && loc[0] == '/') return origin + loc;
    const std::string noQuery = path.substr(0, path.find('?'));
    if (loc.empty() || loc[0] == '?') return origin + noQuery + loc;
    return origin + noQuery.substr(0, noQuery.rfind('/') + 1) + loc;
}

// --- https ------------------------------------------------------------------

TlsOptions THttpCli::TlsFor() const {
    TlsOptions o;
    o.host = targetHost_;
    o.verify = true;
    return o;
}

void THttpCli::TlsFailed(std::uint16_t error) {
    requestDoneError_ = error;
    failure_ = HttpFailure::Tls;
    const std::string why = socket_->TlsError().empty() ? WSocketErrorDesc(error) : socket_->TlsError();
    reasonPhrase_ = "TLS with " + targetHost_ + ": " + why;
}

void THttpCli::SendConnect() {
    connected_ = true;
    tunnelReply_.clear();
    const std::string cmd = "CONNECT " + tunnelTarget_ + " HTTP/1.0";
    OnCommand(this, cmd);
    socket_->SendStr(cmd + "\r\n\r\n");
}

// The proxy's answer to CONNECT: its header, then nothing until TLS begins.
void THttpCli::TunnelData() {
    char buf[512];
    const int n = socket_->Receive(buf, sizeof buf);
    if (n <= 0) return;
    tunnelReply_.append(buf, static_cast<std::size_t>(n));
    auto end = tunnelReply_.find("\r\n\r\n");
    if (end == std::string::npos) end = tunnelReply_.find("\n\n");
    if (end == std::string::npos) {
        if (tunnelReply_.size() > MaxHeaderBytes) FailRequest("Header too long");
        return;
    }
    const std::string status = tunnelReply_.substr(0, tunnelReply_.find_first_of("\r\n"));
    const HttpHeaderLine h = ParseHttpHeaderLine(status);
    if (h.kind != HttpHeaderLine::Status || h.status != 200) {
        FailRequest("The proxy refused the tunnel to " + tunnelTarget_ + ": " + status, HttpFailure::Connect);
        return;
    }
    socket_->OnTlsDone = [this](TWSocket*, std::uint16_t e) { TunnelTlsDone(e); };
    socket_->StartTls(TlsFor());
}

void THttpCli::TunnelTlsDone(std::uint16_t error) {
    socket_->OnTlsDone = nullptr;
    if (error != 0) {
        statusCode_ = 404;
        TlsFailed(error); // the socket closes next, which ends the request
        return;
    }
    tunnelOpen_ = true;
    SocketSessionConnected(0);
}

void THttpCli::BodyBytes(char* data, int len) {
    if (!chunked_ && BodyEndsAtLength && contentLength_ >= 0) {
        const std::int64_t left = contentLength_ - rcvdCount_;
        if (left <= 0) return; // what follows the body
        if (len > left) len = static_cast<int>(left);
        const auto alive = lifetime_.watch();
        BodyBlock(data, len);
        if (!alive || state_ != httpWaitingBody) return;
        if (rcvdCount_ == contentLength_) CloseConnection(); // the whole body is here
        return;
    }
    if (!chunked_) {
        BodyBlock(data, len);
        return;
    }
    if (chunks_.done() || chunks_.error()) return; // what follows the body
    const int decoded = static_cast<int>(chunks_.decode(data, static_cast<std::size_t>(len)));
    const auto alive = lifetime_.watch();
    if (decoded > 0) BodyBlock(data, decoded);
    if (!alive || state_ != httpWaitingBody) return; // released or aborted by a listener
    if (chunks_.error()) {
        FailRequest(chunks_.error());
    } else if (chunks_.done()) {
        // The last chunk has come: the reply is complete even when the server
        // keeps the connection open.
        CloseConnection();
    }
}

void THttpCli::BodyBlock(char* data, int len) {
    const auto alive = lifetime_.watch();
    if (bodyLineCount_ == 0) {
        TriggerDocBegin();
        if (!alive) return;
    }
    ++bodyLineCount_;
    rcvdCount_ += len;
    data[len] = 0; // a handler may read the block as zero-terminated text
    TriggerDocData(data, len);
    if (!alive) return;
    if (RcvdStream) RcvdStream->write(data, len);
}

// --- sending --------------------------------------------------------------------

void THttpCli::SendCommand(const std::string& cmd) {
    OnCommand(this, cmd);
    sendBuffer_ += cmd;
    sendBuffer_ += "\r\n";
}

void THttpCli::SendRequest(const std::string& method, const std::string& version) {
    sendBuffer_.clear();
    const auto alive = lifetime_.watch();
    TriggerHeaderBegin();
    if (!alive) return;
    SendCommand(method + " " + path_ + " HTTP/" + version);
    if (!Sender.empty()) SendCommand("From: " + Sender);
    if (!Reference.empty()) SendCommand("Referer: " + Reference);
    if (requestType_ == httpPOST && !ContentTypePost.empty()) SendCommand("Content-Type: " + ContentTypePost);
    if (!Agent.empty()) SendCommand("User-Agent: " + Agent);
    if (Version == "1.0") {
        SendCommand("Host: " + targetHost_);
    } else {
        // The port too when it is not the scheme's own.
        const HttpUrlParts u = ParseHttpURL(currentUrl_);
        const bool ownPort = u.port.empty() || u.port == (HttpLower(u.proto) == "https" ? "443" : "80");
        SendCommand("Host: " + u.host + (ownPort ? "" : ":" + u.port));
    }
    if (NoCache) SendCommand("Pragma: no-cache");
    if (requestType_ == httpPOST) {
        std::int64_t size = 0;
        if (SendStream) {
            const auto here = SendStream->tellg();
            SendStream->seekg(0, std::ios::end);
            size = static_cast<std::int64_t>(SendStream->tellg() - here);
            SendStream->seekg(here);
        }
        SendCommand("Content-Length: " + std::to_string(size));
    }
    if (ModifiedSince != 0) SendCommand("If-Modified-Since: " + RFC1123Date(ModifiedSince) + " GMT");
    if (!Username.empty()) SendCommand("Authorization: Basic " + HttpBase64(Username + ":" + Password));
    if (!Cookie.empty()) SendCommand("Cookie: " + Cookie);
    for (const std::string& line : ExtraHeaders)
        SendCommand(line);
    TriggerHeaderEnd();
    if (!alive) return;
    SendCommand("");
    const std::string request = std::move(sendBuffer_);
    sendBuffer_.clear();
    socket_->SendStr(request);
}

void THttpCli::SendBodyBlock() {
    if (!allowedToSend_ || !SendStream) return;
    char buf[2049];
    SendStream->read(buf, 2048);
    const auto n = static_cast<int>(SendStream->gcount());
    const auto alive = lifetime_.watch();
    if (n > 0) {
        sentCount_ += n;
        buf[n] = 0;
        TriggerSendData(buf, n);
        if (!alive) return;
        socket_->Send(buf, n);
    } else {
        allowedToSend_ = false;
        TriggerSendEnd();
    }
}

// --- abort ----------------------------------------------------------------------

void THttpCli::Abort() {
    if (state_ == httpReady || state_ == httpAborting) return; // nothing under way
    const bool wasLookup = state_ == httpDnsLookup;
    const auto alive = lifetime_.watch();
    SetState(httpAborting);
    if (!alive) return;
    if (wasLookup) socket_->CancelDnsLookup();
    statusCode_ = 404;
    reasonPhrase_ = "Connection aborted on request";
    failure_ = HttpFailure::Aborted;
    requestDoneError_ = AbortedError;
    closedHandler_ = ClosedHandler::Normal;
    if (wasLookup || socket_->State() == wsClosed) {
        // No connection whose close would end the request.
        SocketSessionClosed(0);
    } else {
        CloseConnection();
    }
}

// --- event triggers ---------------------------------------------------------------

void THttpCli::TriggerHeaderBegin() {
    OnHeaderBegin(this);
}
void THttpCli::TriggerHeaderEnd() {
    OnHeaderEnd(this);
}
void THttpCli::TriggerDocBegin() {
    OnDocBegin(this);
}
void THttpCli::TriggerDocData(const char* data, std::int32_t len) {
    OnDocData(this, data, len);
}
void THttpCli::TriggerDocEnd() {
    OnDocEnd(this);
}
void THttpCli::TriggerSendBegin() {
    OnSendBegin(this);
}
void THttpCli::TriggerSendData(const char* data, std::int32_t len) {
    OnSendData(this, data, len);
}
void THttpCli::TriggerSendEnd() {
    OnSendEnd(this);
}

} // namespace net
