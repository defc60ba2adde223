#include "net/wsocket.h"

#include "net/wsocket_impl.h"

#include "platform/resolver.h"
#include "platform/socket.h"

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>

namespace net {

namespace {

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

// A port or protocol as text: a number (when it starts with a digit) up to
// limit, or a name the system's database knows. False when neither works.
bool numberOrName(const std::string& text, long limit, const std::function<bool(long&)>& lookup, long& out) {
    if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0])))
        return leadingNumber(text, limit, out);
    return lookup(out);
}

} // namespace

std::string WSocketErrorDesc(int code) {
    if (isTlsError(code)) return tlsErrorDesc(code);
    return platform::socketErrorDesc(code);
}

TWSocket::TWSocket() {
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
    OnTlsDone = nullptr;
    if (lookup_) lookup_->cancel();
    lookup_.reset();
    if (hSocket_ != INVALID_SOCKET) {
        watcher_->detach();
        platform::sockClose(hSocket_);
        hSocket_ = INVALID_SOCKET;
    }
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
    fallbackAddrs_.clear();
    if (addrAssigned_ && text == addrStr_) return;
    addrAssigned_ = false;
    addrStr_ = text;
    platform::SockAddr a;
    if (!platform::parseAddress(text, a)) {
        std::vector<std::string> found;
        if (platform::resolveHost(platform::unbracketed(text), found) != 0 ||
            !platform::parseAddress(found.front(), a)) {
            RaiseException(format1("SetAddr: Cannot convert host address '%s'", text));
            return;
        }
    }
    const std::uint16_t port = sin_.port();
    sin_ = a;
    sin_.setPort(port);
    addrAssigned_ = true;
}

void TWSocket::setAddrs(const platform::StringList& addresses) {
    if (addresses.empty()) return;
    setAddr(addresses.front());
    fallbackAddrs_.assign(addresses.begin() + 1, addresses.end());
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
    long number = 0;
    const auto byName = [&](long& out) {
        std::uint16_t p = 0;
        const bool found = platform::lookupService(text, protoStr_, p);
        out = p;
        return found;
    };
    if (!numberOrName(text, 65535, byName, number)) {
        SocketError("SetPort: Cannot convert port '" + text + "'", WSANO_DATA);
        return;
    }
    sin_.setPort(static_cast<std::uint16_t>(number));
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
    const auto byName = [&](long& out) {
        int p = 0;
        const bool found = platform::lookupProtocol(text, p);
        out = p;
        return found;
    };
    if (!numberOrName(text, 255, byName, number)) {
        SocketError("SetProto: Cannot convert protocol '" + text + "'", WSANO_DATA);
        return;
    }
    proto_ = static_cast<int>(number);
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
    return n + (rxLen_ - rxPos_) + (tls_ ? tls_->pending() : 0);
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
    const int fd = platform::sockCreate(datagram_, proto_, sin_.family());
    if (fd < 0) {
        SocketError("Connect (socket)");
        return;
    }
    hSocket_ = fd;
    closeReported_ = false;
    DropReadAhead();
    tls_.reset();
    tlsHandshaking_ = false;
    ChangeState(wsOpened);
    if (datagram_) {
        platform::SockAddr local = platform::anyAddress(sin_.family());
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
        localPortDgram_ = local.port();
        if (sin_.broadcast() && platform::sockSetBool(fd, SOL_SOCKET, SO_BROADCAST, true) != 0) {
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
    if (shutdown && TlsActive()) {
        tls_->shutdown();
        platform::sockSetLinger(hSocket_, false, 0); // the close_notify must not die in a reset
    }
    if (shutdown) platform::sockShutdown(hSocket_, SHUT_RDWR);
    watcher_->detach();
    if (platform::sockClose(hSocket_) != 0 && errno != EINTR) {
        lastError_ = platform::lastSocketError();
        hSocket_ = INVALID_SOCKET;
        SocketError("Disconnect (closesocket)", lastError_);
        return;
    }
    hSocket_ = INVALID_SOCKET;
    const auto alive = lifetime_.watch();
    ChangeState(wsClosed);
    if (!alive) return;
    if (!destroying_ && !closeReported_) {
        closeReported_ = true;
        TriggerSessionClosed(error);
        if (!alive) return;
    }
    // The handler may already have started a new connection.
    if (hSocket_ == INVALID_SOCKET && state_ == wsClosed) ResetSocket();
}

void TWSocket::ResetSocket() {
    DropReadAhead();
    sin_ = platform::SockAddr{};
    fallbackAddrs_.clear();
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
    tls_.reset();
    tlsPending_.reset();
    tlsHandshaking_ = false;
}

// --- notifications ------------------------------------------------------------

void TWSocket::HandleNotification(int fd, int bits, int error) {
    if (fd != hSocket_ || hSocket_ == INVALID_SOCKET || paused_) return;
    const auto alive = lifetime_.watch();
    const auto err = static_cast<std::uint16_t>(error);
    // Another handle (or none) after a step: the rest was for the old one.
    auto gone = [&] { return !alive || hSocket_ != fd; };

    if (tlsHandshaking_) {
        // Every readiness moves the handshake on; a close ends it.
        if (bits & (platform::FD_READ | platform::FD_WRITE | platform::FD_CLOSE)) TlsStep();
        return;
    }
    if ((bits & platform::FD_CONNECT) && err != 0 && !fallbackAddrs_.empty() && !datagram_) {
        // That address did not take the connection: the next one of the
        // name, without a word to the owner.
        watcher_->detach();
        platform::sockClose(hSocket_);
        hSocket_ = INVALID_SOCKET;
        state_ = wsClosed;
        const std::string next = fallbackAddrs_.front();
        fallbackAddrs_.erase(fallbackAddrs_.begin());
        platform::SockAddr a;
        if (platform::parseAddress(next, a)) {
            a.setPort(sin_.port());
            sin_ = a;
            addrStr_ = next;
        }
        Connect();
        return;
    }
    if (bits & platform::FD_CONNECT) fallbackAddrs_.clear();
    if ((bits & platform::FD_CONNECT) && err == 0 && tlsPending_) {
        ChangeState(wsConnected);
        if (gone()) return;
        TlsBegin(true);
        return;
    }
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
        DoReceiveLoop(0, true);
        if (gone()) return;
        if (lineMode_) {
            lineMode_ = false;
            lineReady_ = true;
        }
        if (OnSessionClosed && !closeReported_) {
            closeReported_ = true;
            TriggerSessionClosed(TlsCloseError(err));
            if (gone()) return;
        }
        if (state_ != wsClosed) Close();
    }
}

void TWSocket::DoReceiveLoop(std::uint16_t error, bool drain) {
    const auto alive = lifetime_.watch();
    const TSocket fd = hSocket_;
    for (int round = 1;; ++round) {
        lastError_ = 0;
        const std::int64_t before = consumed_;
        if (lineMode_) {
            ContinueLine();
        } else if (!TriggerDataAvailable(error)) {
            break;
        }
        if (!alive || hSocket_ != fd) return;
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
        if (!drain && round >= MaxReceiveRounds) {
            // Bytes already fetched from the system raise no readiness of their own.
            if (rxLen_ > rxPos_) watcher_->post(platform::FD_READ, 0);
            break;
        }
    }
}

} // namespace net

namespace net {

// --- TLS --------------------------------------------------------------------

void TWSocket::StartTls(const TlsOptions& options) {
    tlsError_.clear();
    if (hSocket_ != INVALID_SOCKET && state_ == wsConnected) {
        tlsPending_ = std::make_unique<TlsOptions>(options);
        TlsBegin(false);
        return;
    }
    tlsPending_ = std::make_unique<TlsOptions>(options);
}

void TWSocket::TlsBegin(bool implicit) {
    tls_ = std::make_unique<TlsLink>(hSocket_, *tlsPending_);
    tlsPending_.reset();
    tlsImplicit_ = implicit;
    tlsHandshaking_ = true;
    DropReadAhead();
    TlsStep();
}

void TWSocket::TlsStep() {
    const TlsLink::Result r = tls_->handshake();
    watcher_->readDone();
    switch (r) {
    case TlsLink::Done:
        tlsHandshaking_ = false;
        TlsFinished(0);
        break;
    case TlsLink::WantRead:
        break;
    case TlsLink::WantWrite:
        watcher_->wantWrite();
        break;
    case TlsLink::Failed:
    case TlsLink::Closed:
        tlsHandshaking_ = false;
        tlsError_ = tls_->error().empty() ? "the connection closed during the TLS handshake" : tls_->error();
        TlsFinished(static_cast<std::uint16_t>(WSAETLSHANDSHAKE));
        break;
    }
}

void TWSocket::TlsFinished(std::uint16_t error) {
    const auto alive = lifetime_.watch();
    const TSocket fd = hSocket_;
    if (tlsImplicit_) {
        TriggerSessionConnected(error);
    } else if (auto handler = OnTlsDone) {
        handler(this, error);
    }
    if (!alive || hSocket_ != fd || hSocket_ == INVALID_SOCKET) return;
    if (error != 0) {
        if (state_ != wsClosed) InternalClose(true, error);
        return;
    }
    TryToSend(); // what was queued during the handshake
    if (!alive || hSocket_ != fd || hSocket_ == INVALID_SOCKET) return;
    // Application data that came with the last handshake records raises no
    // readiness of its own.
    if (tls_->pending() > 0 || platform::sockPending(hSocket_) > 0) watcher_->post(platform::FD_READ, 0);
}

// The error a closing TLS session reports: a stream that ended without the
// peer's close_notify is cut, never complete.
std::uint16_t TWSocket::TlsCloseError(std::uint16_t error) {
    if (error != 0 || !tls_ || !tls_->established() || tls_->peerClosed()) return error;
    if (!OnDataAvailable && !lineMode_) {
        // Nobody reads: look for the close_notify here.
        char scratch[4096];
        TlsLink::Result r = TlsLink::Done;
        while (tls_->read(scratch, sizeof scratch, r) > 0) {
        }
        if (tls_->peerClosed()) return 0;
    }
    tlsError_ = tls_->error().empty() ? "the stream ended without TLS close_notify" : tls_->error();
    return static_cast<std::uint16_t>(WSAETLSCUT);
}

} // namespace net
