// Name lookup, listening, accepting and adopting handles, addresses,
// shutdown, pause and resume.
#include "net/wsocket.h"
#include "net/wsocket_impl.h"

#include "platform/resolver.h"
#include "platform/socket.h"

#include <QElapsedTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

namespace net {

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
    platform::SockAddr a;
    if (platform::parseAddress(hostName, a)) {
        dnsResult_ = platform::addressText(a);
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
    const int fd = platform::sockCreate(datagram_, proto_, sin_.family());
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
    tls_.reset();
    tlsHandshaking_ = false;
    SelectNotifications(ConnectedNotifications);
    ChangeState(wsConnected);
}

std::string TWSocket::GetPeerName() {
    if (state_ != wsConnected) return "error";
    platform::SockAddr a;
    if (platform::sockPeerName(hSocket_, a) != 0) {
        SocketError("GetPeerName");
        return "error";
    }
    return platform::addressText(a);
}

int TWSocket::GetPeerSockAddr(platform::SockAddr& addr, int& len) {
    if (state_ != wsConnected) return -1;
    if (platform::sockPeerName(hSocket_, addr) != 0) {
        lastError_ = platform::lastSocketError();
        return -1;
    }
    len = static_cast<int>(addr.size());
    return 0;
}

std::string TWSocket::GetLocalPort() {
    if (state_ != wsBound && state_ != wsConnected && state_ != wsListening) return "error";
    platform::SockAddr a;
    if (platform::sockName(hSocket_, a) != 0) return "error";
    return std::to_string(a.port());
}

int TWSocket::GetSockName(platform::SockAddr& addr, int& len) {
    const int rc = platform::sockName(hSocket_, addr);
    if (rc == 0) len = static_cast<int>(addr.size());
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

} // namespace net
