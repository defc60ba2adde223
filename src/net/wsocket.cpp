#include "net/wsocket.h"

#include "platform/resolver.h"
#include "platform/socket.h"

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

namespace net {

namespace {

constexpr std::size_t SendBufferSize = 1514;
constexpr int AllNotifications =
    platform::FD_READ | platform::FD_WRITE | platform::FD_ACCEPT | platform::FD_CONNECT | platform::FD_CLOSE;
constexpr int ConnectedNotifications =
    platform::FD_READ | platform::FD_WRITE | platform::FD_CONNECT | platform::FD_CLOSE;

std::string trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return s.substr(b, e - b);
}

std::string format1(const char* fmt, const std::string& a) {
    std::string out;
    for (const char* p = fmt; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            out += a;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

// A decimal number at the start of text (after a leading digit check by
// the caller); false when it does not fit.
bool leadingNumber(const std::string& text, long limit, long& out) {
    long v = 0;
    std::size_t i = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        v = v * 10 + (text[i] - '0');
        if (v > limit) return false;
        ++i;
    }
    out = v;
    return true;
}

} // namespace

std::string WSocketErrorDesc(int code) {
    return platform::socketErrorDesc(code);
}

TWSocket::TWSocket() : alive_(std::make_shared<bool>(true)) {
    watcher_ = std::make_unique<platform::SocketWatcher>(
        [this](int fd, int bits, int error) { HandleNotification(fd, bits, error); });
    ResetSocket();
}

TWSocket::~TWSocket() {
    destroying_ = true;
    // No event reaches an owner that may be half gone.
    OnDataAvailable = nullptr;
    OnDataSent = nullptr;
    OnSessionClosed = nullptr;
    OnSessionAvailable = nullptr;
    OnSessionConnected = nullptr;
    OnDnsLookupDone = nullptr;
    OnChangeState = nullptr;
    OnLineTooLong = nullptr;
    OnError = nullptr;
    if (lookup_) lookup_->cancel();
    lookup_.reset();
    if (hSocket_ != INVALID_SOCKET) {
        watcher_->detach();
        platform::sockClose(hSocket_);
        hSocket_ = INVALID_SOCKET;
    }
    *alive_ = false;
}

// --- errors -----------------------------------------------------------------

void TWSocket::RaiseException(const std::string& msg) {
    if (OnError) {
        TriggerError();
        return;
    }
    throw ESocketException(msg);
}

void TWSocket::SocketError(const std::string& function, int code) {
    if (code == 0) code = platform::lastSocketError();
    lastError_ = code;
    const std::string msg = "Error " + std::to_string(code) + " in function " + function + "\r\n" +
                            platform::socketErrorDesc(code);
    if (code == WSAECONNRESET || code == WSAENOTCONN) {
        if (hSocket_ != INVALID_SOCKET) {
            watcher_->detach();
            platform::sockClose(hSocket_);
            hSocket_ = INVALID_SOCKET;
        }
        ChangeState(wsClosed);
    }
    RaiseException(msg);
}

// --- events -----------------------------------------------------------------

// Each event runs on a copy of its handler, so a handler may replace itself
// or destroy the socket while it runs.
bool TWSocket::TriggerDataAvailable(std::uint16_t error) {
    if (!OnDataAvailable) return false;
    auto handler = OnDataAvailable;
    handler(this, error);
    return true;
}
void TWSocket::TriggerSessionAvailable(std::uint16_t error) {
    if (auto handler = OnSessionAvailable) handler(this, error);
}
void TWSocket::TriggerSessionConnected(std::uint16_t error) {
    if (auto handler = OnSessionConnected) handler(this, error);
}
void TWSocket::TriggerSessionClosed(std::uint16_t error) {
    if (auto handler = OnSessionClosed) handler(this, error);
}
void TWSocket::TriggerDataSent(std::uint16_t error) {
    if (auto handler = OnDataSent) handler(this, error);
}
void TWSocket::TriggerChangeState(TSocketState oldState, TSocketState newState) {
    if (oldState == newState) return;
    if (auto handler = OnChangeState) handler(this, oldState, newState);
}
void TWSocket::TriggerDnsLookupDone(std::uint16_t error) {
    if (auto handler = OnDnsLookupDone) handler(this, error);
}
void TWSocket::TriggerError() {
    if (auto handler = OnError) handler(this);
}

void TWSocket::ChangeState(TSocketState newState) {
    const TSocketState old = state_;
    state_ = newState;
    TriggerChangeState(old, newState);
}

// --- properties -------------------------------------------------------------

void TWSocket::setAddr(const std::string& value) {
    if (state_ != wsClosed) {
        RaiseException("Cannot change Addr if not closed");
        return;
    }
    const std::string text = trim(value);
    if (addrAssigned_ && text == addrStr_) return;
    addrAssigned_ = false;
    addrStr_ = text;
    in_addr a{};
    if (!platform::parseDotted(text, a)) {
        std::vector<std::string> found;
        if (platform::resolveHost(text, found) != 0 || !platform::parseDotted(found.front(), a)) {
            RaiseException(format1("SetAddr: Cannot convert host address '%s'", text));
            return;
        }
    }
    sin_.sin_family = AF_INET;
    sin_.sin_addr = a;
    addrAssigned_ = true;
}

void TWSocket::setPort(const std::string& value) {
    if (state_ != wsClosed) {
        RaiseException("Cannot change Port if not closed");
        return;
    }
    const std::string text = trim(value);
    if (portAssigned_ && text == portStr_) return;
    portAssigned_ = false;
    portStr_ = text;
    std::uint16_t port = 0;
    long number = 0;
    if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0]))) {
        if (!leadingNumber(text, 65535, number)) {
            SocketError("SetPort: Cannot convert port '" + text + "'", WSANO_DATA);
            return;
        }
        port = static_cast<std::uint16_t>(number);
    } else if (!platform::lookupService(text, protoStr_, port)) {
        SocketError("SetPort: Cannot convert port '" + text + "'", WSANO_DATA);
        return;
    }
    sin_.sin_family = AF_INET;
    sin_.sin_port = htons(port);
    portAssigned_ = true;
}

void TWSocket::setProto(const std::string& value) {
    if (state_ != wsClosed) {
        RaiseException("Cannot change Proto if not closed");
        return;
    }
    const std::string text = trim(value);
    if (protoAssigned_ && text == protoStr_) return;
    protoAssigned_ = false;
    protoStr_ = text;
    long number = 0;
    int proto = 0;
    if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0]))) {
        if (!leadingNumber(text, 255, number)) {
            SocketError("SetProto: Cannot convert protocol '" + text + "'", WSANO_DATA);
            return;
        }
        proto = static_cast<int>(number);
    } else if (!platform::lookupProtocol(text, proto)) {
        SocketError("SetProto: Cannot convert protocol '" + text + "'", WSANO_DATA);
        return;
    }
    proto_ = proto;
    datagram_ = proto_ == IPPROTO_UDP;
    protoAssigned_ = true;
}

TSocketSendFlags TWSocket::SendFlags() const {
    if (sendFlags_ != wsSendNormal && sendFlags_ != wsSendUrgent) {
        throw ESocketException("Invalid internal SendFlags");
    }
    return static_cast<TSocketSendFlags>(sendFlags_);
}

void TWSocket::setSendFlags(int value) {
    if (value != wsSendNormal && value != wsSendUrgent) {
        RaiseException("Invalid SendFlags");
        return;
    }
    sendFlags_ = value;
}

std::int32_t TWSocket::RcvdCount() {
    if (hSocket_ == INVALID_SOCKET) return 0;
    const int n = platform::sockPending(hSocket_);
    if (n < 0) {
        SocketError("ioctlSocket");
        return -1;
    }
    return n + (rxLen_ - rxPos_);
}

// --- connecting and closing -------------------------------------------------

void TWSocket::SelectNotifications(int mask) {
    selectMask_ = mask;
    if (!paused_) watcher_->select(hSocket_, mask);
}

void TWSocket::Connect() {
    if (hSocket_ != INVALID_SOCKET && state_ != wsClosed) {
        RaiseException("Connect: Socket already in use");
        return;
    }
    if (!portAssigned_) {
        RaiseException("Connect: No Port Specified");
        return;
    }
    if (!addrAssigned_) {
        RaiseException("Connect: No IP Address Specified");
        return;
    }
    if (!protoAssigned_) {
        RaiseException("Connect: No Protocol Specified");
        return;
    }
    const int fd = platform::sockCreate(datagram_, proto_);
    if (fd < 0) {
        SocketError("Connect (socket)");
        return;
    }
    hSocket_ = fd;
    closeReported_ = false;
    DropReadAhead();
    ChangeState(wsOpened);
    if (datagram_) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        if (platform::sockBind(fd, local) != 0) {
            const int code = platform::lastSocketError();
            RaiseException("winsock.bind failed, error #" + std::to_string(code));
            return;
        }
        if (platform::sockName(fd, local) != 0) {
            const int code = platform::lastSocketError();
            RaiseException("winsock.getsockname failed, error #" + std::to_string(code));
            return;
        }
        localPortDgram_ = ntohs(local.sin_port);
        if (sin_.sin_addr.s_addr == INADDR_BROADCAST &&
            platform::sockSetBool(fd, SOL_SOCKET, SO_BROADCAST, true) != 0) {
            SocketError("setsockopt(SO_BROADCAST)");
            return;
        }
    } else {
        if (platform::sockSetLinger(fd, true, 0) != 0) {
            SocketError("setsockopt(SO_LINGER)");
            return;
        }
        if (platform::sockSetBool(fd, SOL_SOCKET, SO_KEEPALIVE, true) != 0) {
            SocketError("setsockopt(SO_KEEPALIVE)");
            return;
        }
        if (platform::sockSetBool(fd, SOL_SOCKET, SO_REUSEADDR, true) != 0) {
            SocketError("setsockopt(SO_REUSEADDR)");
            return;
        }
    }
    SelectNotifications(AllNotifications);
    if (datagram_) {
        ChangeState(wsConnected);
        TriggerSessionConnected(0);
        return;
    }
    if (platform::sockConnect(fd, sin_) != 0) {
        const int code = platform::lastSocketError();
        switch (code) {
        case WSAEWOULDBLOCK:
            watcher_->connectStarted();
            break;
        // Outcomes of the attempt itself (a loopback refusal is known at
        // once here): reported by the connect notification like any other.
        case WSAECONNREFUSED:
        case WSAETIMEDOUT:
        case 10050: // network down
        case 10051: // network unreachable
        case 10064: // host down
        case 10065: // no route to host
            watcher_->post(platform::FD_CONNECT, code);
            break;
        default:
            lastError_ = code;
            SocketError("Connect", code);
            return;
        }
    } else {
        watcher_->connectStarted();
    }
    ChangeState(wsConnecting);
}

void TWSocket::Close() {
    InternalClose(true, 0);
}

void TWSocket::Abort() {
    InternalClose(false, 0);
}

void TWSocket::InternalClose(bool shutdown, std::uint16_t error) {
    if (hSocket_ == INVALID_SOCKET) {
        if (state_ != wsClosed) {
            ChangeState(wsClosed);
            ResetSocket();
        }
        return;
    }
    if (state_ == wsClosed) return;
    if (shutdown) platform::sockShutdown(hSocket_, SHUT_RDWR);
    watcher_->detach();
    if (platform::sockClose(hSocket_) != 0 && errno != EINTR) {
        lastError_ = platform::lastSocketError();
        hSocket_ = INVALID_SOCKET;
        SocketError("Disconnect (closesocket)", lastError_);
        return;
    }
    hSocket_ = INVALID_SOCKET;
    auto alive = alive_;
    ChangeState(wsClosed);
    if (!*alive) return;
    if (!destroying_ && !closeReported_) {
        closeReported_ = true;
        TriggerSessionClosed(error);
        if (!*alive) return;
    }
    // The handler may already have started a new connection.
    if (hSocket_ == INVALID_SOCKET && state_ == wsClosed) ResetSocket();
}

void TWSocket::ResetSocket() {
    DropReadAhead();
    const sa_family_t family = AF_INET;
    sin_ = sockaddr_in{};
    sin_.sin_family = family;
    addrAssigned_ = portAssigned_ = false;
    addrStr_.clear();
    portStr_.clear();
    protoStr_ = "tcp";
    proto_ = IPPROTO_TCP;
    datagram_ = false;
    protoAssigned_ = true;
    hSocket_ = INVALID_SOCKET;
    state_ = wsClosed;
    lineMode_ = false;
    lineReady_ = false;
    lineBuffer_.clear();
    sendQueue_.clear(); // bytes of a closed connection are never sent on the next one
    sendOffset_ = 0;
    allSent_ = true;
    readCount_ = 0;
    paused_ = false;
    closeReported_ = false;
    FlushTimeout = 60;
}

// --- notifications ------------------------------------------------------------

void TWSocket::HandleNotification(int fd, int bits, int error) {
    if (fd != hSocket_ || hSocket_ == INVALID_SOCKET || paused_) return;
    auto alive = alive_;
    const auto err = static_cast<std::uint16_t>(error);
    // Another handle (or none) after a step: the rest was for the old one.
    auto gone = [&] { return !*alive || hSocket_ != fd; };

    if (bits & platform::FD_CONNECT) {
        ChangeState(wsConnected);
        if (gone()) return;
        TriggerSessionConnected(err);
        if (gone()) return;
        if (err != 0 && state_ != wsClosed) {
            Close();
            return;
        }
    }
    if (bits & platform::FD_READ) {
        DoReceiveLoop(err);
        if (gone()) return;
    }
    if (bits & platform::FD_WRITE) {
        TryToSend();
        if (gone()) return;
        if (sendQueue_.empty() && OnDataSent) {
            TriggerDataSent(err);
            if (gone()) return;
        }
    }
    if (bits & platform::FD_ACCEPT) {
        TriggerSessionAvailable(err);
        if (gone()) return;
    }
    if ((bits & platform::FD_CLOSE) && state_ != wsConnecting) {
        DoReceiveLoop(0);
        if (gone()) return;
        if (lineMode_) {
            lineMode_ = false;
            lineReady_ = true;
        }
        if (OnSessionClosed && !closeReported_) {
            closeReported_ = true;
            TriggerSessionClosed(err);
            if (gone()) return;
        }
        if (state_ != wsClosed) Close();
    }
}

void TWSocket::DoReceiveLoop(std::uint16_t error) {
    auto alive = alive_;
    const TSocket fd = hSocket_;
    for (;;) {
        lastError_ = 0;
        const std::int64_t before = consumed_;
        if (lineMode_) {
            ContinueLine();
        } else if (!TriggerDataAvailable(error)) {
            break;
        }
        if (!*alive || hSocket_ != fd) return;
        if (paused_) break; // the handler paused the socket: no more events until Resume
        if (lastError_ == 0) {
            const int waiting = Waiting();
            if (waiting < 0) {
                lastError_ = platform::lastSocketError();
                break;
            }
            if (waiting == 0) break;
            // A handler that takes nothing while bytes wait would be called
            // without end: stop here; the socket reports readable data again
            // once the owner receives.
            if (consumed_ == before) {
                ++stalledRounds_;
                break;
            }
        }
        if (lastError_ != 0) break;
        if (lineMode_ && lineReady_) break;
    }
}

// --- sending ----------------------------------------------------------------

int TWSocket::Send(const void* data, int len) {
    if (state_ != wsConnected) {
        SocketError("Send", WSAENOTCONN);
        return -1;
    }
    if (len <= 0) return 0;
    allSent_ = false;
    const char* p = static_cast<const char*>(data);
    std::size_t left = static_cast<std::size_t>(len);
    while (left > 0) {
        if (sendQueue_.empty() || sendQueue_.back().size() >= SendBufferSize) {
            sendQueue_.emplace_back();
            sendQueue_.back().reserve(SendBufferSize);
        }
        auto& last = sendQueue_.back();
        const std::size_t take = std::min(left, SendBufferSize - last.size());
        last.insert(last.end(), p, p + take);
        p += take;
        left -= take;
    }
    TryToSend();
    // An emptied queue still gets its OnDataSent, later from the event loop.
    if (sendQueue_.empty() && hSocket_ != INVALID_SOCKET) watcher_->post(platform::FD_WRITE, 0);
    return len;
}

int TWSocket::SendStr(const std::string& str) {
    return Send(str.data(), static_cast<int>(str.size()));
}

void TWSocket::TryToSend() {
    if (hSocket_ == INVALID_SOCKET || sendQueue_.empty()) return;
    const bool urgent = sendFlags_ == wsSendUrgent;
    while (!sendQueue_.empty()) {
        auto& first = sendQueue_.front();
        const int len = static_cast<int>(first.size() - sendOffset_);
        if (len > 0) {
            const char* p = first.data() + sendOffset_;
            const int n = datagram_ ? platform::sockSendTo(hSocket_, p, len, urgent, sin_)
                                    : platform::sockSend(hSocket_, p, len, urgent);
            if (n < 0) {
                const int code = platform::lastSocketError();
                if (code == WSAEINVAL || code == 10038 || code == WSAECONNRESET || code == WSAENOTCONN) {
                    lastError_ = code;
                    Close();
                    return;
                }
                if (code == WSAEWOULDBLOCK) {
                    watcher_->wantWrite();
                    return;
                }
                SocketError("TryToSend failed", code);
                return;
            }
            sendOffset_ += static_cast<std::size_t>(n);
            if (n < len) {
                watcher_->wantWrite(); // the rest goes when there is room again
                return;
            }
        }
        sendQueue_.pop_front();
        sendOffset_ = 0;
        if (sendQueue_.empty()) allSent_ = true;
    }
}

std::int64_t TWSocket::BufferedByteCount() const {
    std::int64_t n = 0;
    for (const auto& b : sendQueue_)
        n += static_cast<std::int64_t>(b.size());
    return n - static_cast<std::int64_t>(sendOffset_);
}

std::vector<int> TWSocket::SendQueueBlockSizes() const {
    std::vector<int> sizes;
    for (const auto& b : sendQueue_)
        sizes.push_back(static_cast<int>(b.size()));
    return sizes;
}

// --- receiving --------------------------------------------------------------

void TWSocket::NoteRead(int count) {
    if (count > 0) consumed_ += count;
}

int TWSocket::RawRecv(void* buffer, int size) {
    if (size <= 0) return 0;
    if (datagram_) {
        sockaddr_in from{};
        const int n = platform::sockRecvFrom(hSocket_, buffer, size, from);
        if (n < 0) lastError_ = platform::lastSocketError();
        return n;
    }
    constexpr int ReadAhead = 64 * 1024;
    if (rxPos_ == rxLen_) {
        rxPos_ = rxLen_ = 0;
        if (size >= ReadAhead) { // large enough to skip the copy
            const int n = platform::sockRecv(hSocket_, buffer, size);
            if (n < 0) lastError_ = platform::lastSocketError();
            return n;
        }
        if (rxBuf_.size() < ReadAhead) rxBuf_.resize(ReadAhead);
        const int n = platform::sockRecv(hSocket_, rxBuf_.data(), ReadAhead);
        if (n <= 0) {
            if (n < 0) lastError_ = platform::lastSocketError();
            return n;
        }
        rxLen_ = n;
    }
    const int take = std::min(size, rxLen_ - rxPos_);
    std::memcpy(buffer, rxBuf_.data() + rxPos_, static_cast<std::size_t>(take));
    rxPos_ += take;
    return take;
}

int TWSocket::Waiting() {
    const int buffered = rxLen_ - rxPos_;
    if (buffered > 0) return buffered; // enough to know that bytes wait
    return platform::sockPending(hSocket_);
}

int TWSocket::Receive(void* buffer, int size) {
    if (hSocket_ == INVALID_SOCKET) {
        lastError_ = WSAENOTCONN;
        return -1;
    }
    const int n = RawRecv(buffer, size);
    watcher_->readDone();
    if (n > 0) readCount_ += n;
    NoteRead(n);
    return n;
}

std::string TWSocket::ReceiveStr() {
    if (hSocket_ == INVALID_SOCKET) return {};
    const int buffered = rxLen_ - rxPos_;
    const int kernel = platform::sockPending(hSocket_);
    const int waiting = buffered + std::max(kernel, 0);
    if (waiting <= 0) {
        watcher_->readDone();
        return {};
    }
    std::string s(rxBuf_.data() + rxPos_, static_cast<std::size_t>(buffered));
    DropReadAhead();
    if (kernel > 0) {
        s.resize(static_cast<std::size_t>(waiting));
        const int n = platform::sockRecv(hSocket_, s.data() + buffered, kernel);
        if (n < 0) lastError_ = platform::lastSocketError();
        s.resize(static_cast<std::size_t>(buffered + std::max(n, 0)));
    }
    watcher_->readDone();
    NoteRead(static_cast<int>(s.size()));
    return s;
}

int TWSocket::ReceiveFrom(void* buffer, int size, sockaddr_in& from, int& fromLen) {
    if (hSocket_ == INVALID_SOCKET) {
        lastError_ = WSAENOTCONN;
        return -1;
    }
    int n;
    if (datagram_) {
        n = platform::sockRecvFrom(hSocket_, buffer, size, from);
        if (n < 0) lastError_ = platform::lastSocketError();
    } else {
        n = RawRecv(buffer, size);
        platform::sockPeerName(hSocket_, from);
    }
    fromLen = static_cast<int>(sizeof from);
    watcher_->readDone();
    if (n > 0) readCount_ += n;
    NoteRead(n);
    return n;
}

// --- name lookup --------------------------------------------------------------

void TWSocket::DnsLookup(const std::string& hostName) {
    if (hostName.empty()) {
        RaiseException("DNS lookup: invalid host name.");
        TriggerDnsLookupDone(WSAEINVAL); // reached only when OnError took the error
        return;
    }
    if (lookup_) lookup_->cancel();
    lookup_.reset();
    dnsResult_.clear();
    dnsResultList_.clear();
    in_addr a{};
    if (platform::parseDotted(hostName, a)) {
        dnsResult_ = platform::dotted(a);
        dnsResultList_.push_back(dnsResult_);
        TriggerDnsLookupDone(0);
        return;
    }
    lookup_ = std::make_unique<platform::LookupRequest>(
        hostName,
        [this](int error, const std::vector<std::string>& addresses) { LookupFinished(error, addresses); });
}

void TWSocket::LookupFinished(int error, const std::vector<std::string>& addresses) {
    lookup_.reset();
    if (error == 0 && !addresses.empty()) {
        dnsResultList_ = addresses;
        dnsResult_ = addresses.front();
    }
    TriggerDnsLookupDone(static_cast<std::uint16_t>(error));
}

void TWSocket::CancelDnsLookup() {
    if (!lookup_ || !lookup_->pending()) return;
    lookup_->cancel();
    lookup_.reset();
    if (!destroying_) TriggerDnsLookupDone(WSAEINTR);
}

// --- listening and adopting ---------------------------------------------------

int TWSocket::Listen() {
    if (!portAssigned_) {
        SocketError("listen: port not assigned", WSAEINVAL);
        return -1;
    }
    if (!protoAssigned_) {
        SocketError("listen: protocol not assigned", WSAEINVAL);
        return -1;
    }
    if (!addrAssigned_) {
        SocketError("listen: address not assigned", WSAEINVAL);
        return -1;
    }
    const int fd = platform::sockCreate(datagram_, proto_);
    if (fd < 0) {
        SocketError("socket");
        return -1;
    }
    if (platform::sockBind(fd, sin_) != 0) {
        const int code = platform::lastSocketError();
        platform::sockClose(fd); // never leave the handle behind
        SocketError("Bind", code);
        return -1;
    }
    hSocket_ = fd;
    closeReported_ = false;
    DropReadAhead();
    ChangeState(wsBound);
    if (datagram_) {
        ChangeState(wsListening);
        ChangeState(wsConnected);
        TriggerSessionConnected(0);
    } else {
        if (platform::sockListen(fd, 5) != 0) {
            SocketError("Listen");
            return -1;
        }
        ChangeState(wsListening);
    }
    if (hSocket_ != fd) return -1;
    SelectNotifications(platform::FD_READ | platform::FD_WRITE | platform::FD_ACCEPT | platform::FD_CLOSE);
    return 0;
}

TSocket TWSocket::Accept() {
    if (state_ != wsListening) {
        lastError_ = WSAEINVAL;
        RaiseException("not a listening socket");
        return INVALID_SOCKET;
    }
    const int fd = platform::sockAccept(hSocket_, sin_);
    watcher_->readDone();
    if (fd < 0) {
        SocketError("Accept");
        return INVALID_SOCKET;
    }
    return fd;
}

void TWSocket::Dup(TSocket newHSocket) {
    if (newHSocket == 0 || newHSocket == INVALID_SOCKET) {
        SocketError("Dup", WSAEINVAL);
        return;
    }
    if (state_ != wsClosed) {
        if (hSocket_ != INVALID_SOCKET) {
            watcher_->detach();
            const int rc = platform::sockClose(hSocket_);
            hSocket_ = INVALID_SOCKET;
            if (rc != 0) {
                SocketError("Dup (closesocket)");
                return;
            }
        }
        ChangeState(wsClosed);
    }
    platform::sockSetNonBlocking(newHSocket);
    hSocket_ = newHSocket;
    closeReported_ = false;
    DropReadAhead();
    SelectNotifications(ConnectedNotifications);
    ChangeState(wsConnected);
}

std::string TWSocket::GetPeerName() {
    if (state_ != wsConnected) return "error";
    sockaddr_in a{};
    if (platform::sockPeerName(hSocket_, a) != 0) {
        SocketError("GetPeerName");
        return "error";
    }
    return platform::dotted(a.sin_addr);
}

int TWSocket::GetPeerSockAddr(sockaddr_in& addr, int& len) {
    if (state_ != wsConnected) return -1;
    if (platform::sockPeerName(hSocket_, addr) != 0) {
        lastError_ = platform::lastSocketError();
        return -1;
    }
    len = static_cast<int>(sizeof addr);
    return 0;
}

std::string TWSocket::GetLocalPort() {
    if (state_ != wsBound && state_ != wsConnected && state_ != wsListening) return "error";
    sockaddr_in a{};
    if (platform::sockName(hSocket_, a) != 0) return "error";
    return std::to_string(ntohs(a.sin_port));
}

int TWSocket::GetSockName(sockaddr_in& addr, int& len) {
    const int rc = platform::sockName(hSocket_, addr);
    if (rc == 0) len = static_cast<int>(sizeof addr);
    return rc;
}

void TWSocket::ShutDown(int how) {
    if (hSocket_ != INVALID_SOCKET) platform::sockShutdown(hSocket_, how);
}

void TWSocket::Pause() {
    paused_ = true;
    watcher_->select(hSocket_, 0);
}

void TWSocket::Resume() {
    paused_ = false;
    if (hSocket_ == INVALID_SOCKET) return;
    watcher_->select(hSocket_, selectMask_ ? selectMask_ : ConnectedNotifications);
    // Bytes already fetched from the system raise no readiness of their own.
    if (rxLen_ > rxPos_) watcher_->post(platform::FD_READ, 0);
}

// --- blocking operations ------------------------------------------------------

bool TWSocket::WaitForState(int seconds, TSocketState state) {
    QElapsedTimer clock;
    clock.start();
    const qint64 limit = static_cast<qint64>(seconds) * 1000;
    auto alive = alive_;
    while (*alive && state_ != state) {
        if (state == wsConnected && state_ == wsClosed) return false;
        const qint64 left = limit - clock.elapsed();
        if (left <= 0) return false;
        platform::pumpMessages(static_cast<int>(left));
    }
    return *alive;
}

void TWSocket::ContinueLine() {
    char c;
    for (;;) {
        const int saved = lastError_;
        const int n = RawRecv(&c, 1);
        watcher_->readDone();
        if (n <= 0) {
            if (n < 0 && lastError_ == WSAEWOULDBLOCK) lastError_ = saved;
            if (n == 0) {
                lineMode_ = false;
                lineReady_ = true; // the peer's close ends the line too
            }
            return;
        }
        ++readCount_;
        NoteRead(1);
        if (c == '\n') {
            lineMode_ = false;
            lineReady_ = true;
            return;
        }
        if (c == '\r') continue;
        lineBuffer_ += c;
        if (lineBuffer_.size() >= 254) {
            lineMode_ = false;
            lineReady_ = true;
            if (OnLineTooLong) OnLineTooLong(this);
            return;
        }
    }
}

bool TWSocket::ReadLine(int seconds, std::string& line) {
    line.clear();
    if (hSocket_ == INVALID_SOCKET) return false;
    lineBuffer_.clear();
    lineReady_ = false;
    lineMode_ = true;
    auto alive = alive_;
    ContinueLine();
    QElapsedTimer clock;
    clock.start();
    const qint64 limit = static_cast<qint64>(seconds) * 1000;
    while (*alive && !lineReady_ && hSocket_ != INVALID_SOCKET && lastError_ == 0) {
        const qint64 left = limit - clock.elapsed();
        if (left <= 0) break;
        platform::pumpMessages(static_cast<int>(left));
    }
    if (!*alive) return false;
    lineMode_ = false;
    line = lineBuffer_;
    return lineReady_;
}

void TWSocket::Flush() {
    QElapsedTimer clock;
    clock.start();
    auto alive = alive_;
    while (*alive && hSocket_ != INVALID_SOCKET && !sendQueue_.empty()) {
        TryToSend();
        if (!*alive || sendQueue_.empty() || hSocket_ == INVALID_SOCKET) break;
        const qint64 left = static_cast<qint64>(FlushTimeout) * 1000 - clock.elapsed();
        if (left <= 0) break;
        platform::pumpMessages(static_cast<int>(left));
    }
}

void TWSocket::WaitForClose() {
    auto alive = alive_;
    char buf[4096];
    while (*alive && hSocket_ != INVALID_SOCKET) {
        if (Waiting() > 0) {
            Receive(buf, sizeof buf);
            continue;
        }
        platform::pumpMessages(1000);
    }
}

} // namespace net
