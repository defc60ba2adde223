#include "platform/socket.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <random>
#include <utility>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

int socketCodeFromErrno(int err) {
    switch (err) {
    case 0:
        return 0;
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EACCES:
    case EPERM:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
    case ENFILE:
        return 10024;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK:
        return 10035;
    case EINPROGRESS:
        return 10036;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return 10053;
    case ECONNRESET:
    case EPIPE:
        return 10054;
    case ENOBUFS:
    case ENOMEM:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
        return 10058;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    case ENOTEMPTY:
        return 10066;
    case EUSERS:
        return 10068;
    case EDQUOT:
        return 10069;
    case ESTALE:
        return 10070;
    case EREMOTE:
        return 10071;
    default:
        return 10100 + err; // outside the table: "Not a WinSock error"
    }
}

int lastSocketError() {
    return socketCodeFromErrno(errno);
}

std::string socketErrorDesc(int code) {
    switch (code) {
    case 0:
        return "No Error";
    case 10004:
        return "Interrupted system call";
    case 10009:
        return "Bad file number";
    case 10013:
        return "Permission denied";
    case 10014:
        return "Bad address";
    case 10022:
        return "Invalid argument";
    case 10024:
        return "Too many open files";
    case 10035:
        return "Operation would block";
    case 10036:
        return "Operation now in progress";
    case 10037:
        return "Operation already in progress";
    case 10038:
        return "Socket operation on non-socket";
    case 10039:
        return "Destination address required";
    case 10040:
        return "Message too long";
    case 10041:
        return "Protocol wrong type for socket";
    case 10042:
        return "Protocol not available";
    case 10043:
        return "Protocol not supported";
    case 10044:
        return "Socket type not supported";
    case 10045:
        return "Operation not supported on socket";
    case 10046:
        return "Protocol family not supported";
    case 10047:
        return "Address family not supported by protocol family";
    case 10048:
        return "Address already in use";
    case 10049:
        return "Address not available";
    case 10050:
        return "Network is down";
    case 10051:
        return "Network is unreachable";
    case 10052:
        return "Network dropped connection on reset";
    case 10053:
        return "Connection aborted";
    case 10054:
        return "Connection reset by peer";
    case 10055:
        return "No buffer space available";
    case 10056:
        return "Socket is already connected";
    case 10057:
        return "Socket is not connected";
    case 10058:
        return "Can't send after socket shutdown";
    case 10059:
        return "Too many references: can't splice";
    case 10060:
        return "Connection timed out";
    case 10061:
        return "Connection refused";
    case 10062:
        return "Too many levels of symbolic links";
    case 10063:
        return "File name too long";
    case 10064:
        return "Host is down";
    case 10065:
        return "No route to host";
    case 10066:
        return "Directory not empty";
    case 10067:
        return "Too many processes";
    case 10068:
        return "Too many users";
    case 10069:
        return "Disc quota exceeded";
    case 10070:
        return "Stale NFS file handle";
    case 10071:
        return "Too many levels of remote in path";
    case 10091:
        return "Network sub-system is unusable";
    case 10092:
        return "WinSock DLL cannot support this application";
    case 10093:
        return "WinSock not initialized";
    case 11001:
        return "Host not found";
    case 11002:
        return "Non-authoritative host not found";
    case 11003:
        return "Non-recoverable error";
    case 11004:
        return "No Data";
    default:
        return "Not a WinSock error";
    }
}

std::uint16_t SockAddr::port() const {
    if (v6()) return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
}

void SockAddr::setPort(std::uint16_t port) {
    if (v6())
        reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port = htons(port);
    else
        reinterpret_cast<sockaddr_in*>(&storage)->sin_port = htons(port);
}

socklen_t SockAddr::size() const {
    return v6() ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

bool SockAddr::sameHost(const SockAddr& other) const {
    if (family() != other.family()) return false;
    if (v6())
        return std::memcmp(&reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_addr,
                           &reinterpret_cast<const sockaddr_in6*>(&other.storage)->sin6_addr,
                           sizeof(in6_addr)) == 0;
    return reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr.s_addr ==
           reinterpret_cast<const sockaddr_in*>(&other.storage)->sin_addr.s_addr;
}

bool SockAddr::broadcast() const {
    return !v6() && reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr.s_addr == INADDR_BROADCAST;
}

SockAddr anyAddress(int family) {
    SockAddr a;
    a.storage.ss_family = static_cast<sa_family_t>(family == AF_INET6 ? AF_INET6 : AF_INET);
    return a;
}

int sockCreate(bool datagram, int protocol, int family) {
    const int type = (datagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC;
    return ::socket(family, type, protocol);
}

int sockConnect(int fd, const SockAddr& addr) {
    if (::connect(fd, addr.raw(), addr.size()) == 0) return 0;
    if (errno == EINPROGRESS) errno = EWOULDBLOCK; // started, the end comes as a notification
    return -1;
}

namespace {

// The system's range of ports handed out to sockets that ask for none.
std::pair<int, int> localPortRange() {
    int low = 32768, high = 60999;
    if (FILE* f = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "re")) {
        int a = 0, b = 0;
        if (std::fscanf(f, "%d %d", &a, &b) == 2 && a >= 1024 && b > a && b <= 65535) {
            low = a;
            high = b;
        }
        std::fclose(f);
    }
    return {low, high};
}

bool isStream(int fd) {
    int type = 0;
    socklen_t len = sizeof type;
    return ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) == 0 && type == SOCK_STREAM;
}

} // namespace

int sockBind(int fd, const SockAddr& addr) {
    // A stream socket that asks for any port (an FTP data connection in
    // active mode, one per file) tries a few random free ports of the range
    // first: the system's own search walks the ports its half of the range
    // holds, which many closed connections still waiting out their time fill
    // (after a thousand small files, a millisecond and more a bind).
    if (addr.port() == 0 && isStream(fd)) {
        static const std::pair<int, int> range = localPortRange();
        static std::minstd_rand pick(std::random_device{}());
        std::uniform_int_distribution<int> port(range.first, range.second);
        SockAddr at = addr;
        for (int tries = 0; tries < 8; ++tries) {
            at.setPort(static_cast<std::uint16_t>(port(pick)));
            if (::bind(fd, at.raw(), at.size()) == 0) return 0;
            if (errno != EADDRINUSE) break;
        }
    }
    return ::bind(fd, addr.raw(), addr.size());
}
int sockListen(int fd, int backlog) {
    return ::listen(fd, backlog);
}

int sockAccept(int fd, SockAddr& peer) {
    socklen_t len = sizeof peer.storage;
    return ::accept4(fd, peer.raw(), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
}

int sockSend(int fd, const void* data, int len, bool urgent) {
    const ssize_t n = ::send(fd, data, static_cast<size_t>(len), MSG_NOSIGNAL | (urgent ? MSG_OOB : 0));
    return static_cast<int>(n);
}

int sockSendTo(int fd, const void* data, int len, bool urgent, const SockAddr& to) {
    const ssize_t n = ::sendto(fd, data, static_cast<size_t>(len), MSG_NOSIGNAL | (urgent ? MSG_OOB : 0),
                               to.raw(), to.size());
    return static_cast<int>(n);
}

int sockRecv(int fd, void* buf, int len) {
    return static_cast<int>(::recv(fd, buf, static_cast<size_t>(len < 0 ? 0 : len), 0));
}

int sockRecvFrom(int fd, void* buf, int len, SockAddr& from) {
    socklen_t l = sizeof from.storage;
    return static_cast<int>(::recvfrom(fd, buf, static_cast<size_t>(len < 0 ? 0 : len), 0, from.raw(), &l));
}

int sockPending(int fd) {
    int n = 0;
    if (::ioctl(fd, FIONREAD, &n) != 0) return -1;
    return n;
}

int sockShutdown(int fd, int how) {
    return ::shutdown(fd, how);
}
int sockClose(int fd) {
    return ::close(fd);
}

int sockSetNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0) return -1;
    return ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

int sockSetLinger(int fd, bool on, int seconds) {
    linger l{};
    l.l_onoff = on ? 1 : 0;
    l.l_linger = seconds;
    return ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

int sockSetBool(int fd, int level, int option, bool on) {
    const int v = on ? 1 : 0;
    return ::setsockopt(fd, level, option, &v, sizeof v);
}

int sockPeerName(int fd, SockAddr& addr) {
    socklen_t l = sizeof addr.storage;
    return ::getpeername(fd, addr.raw(), &l);
}

int sockName(int fd, SockAddr& addr) {
    socklen_t l = sizeof addr.storage;
    return ::getsockname(fd, addr.raw(), &l);
}

bool lookupService(const std::string& name, const std::string& proto, std::uint16_t& port) {
    servent entry{};
    servent* result = nullptr;
    char buf[1024];
    if (::getservbyname_r(name.c_str(), proto.empty() ? nullptr : proto.c_str(), &entry, buf, sizeof buf,
                          &result) != 0 ||
        !result)
        return false;
    port = ntohs(static_cast<std::uint16_t>(result->s_port));
    return true;
}

bool lookupProtocol(const std::string& name, int& number) {
    protoent entry{};
    protoent* result = nullptr;
    char buf[1024];
    if (::getprotobyname_r(name.c_str(), &entry, buf, sizeof buf, &result) != 0 || !result) return false;
    number = result->p_proto;
    return true;
}

std::string unbracketed(const std::string& host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') return host.substr(1, host.size() - 2);
    return host;
}

bool parseAddress(const std::string& text, SockAddr& out) {
    if (text.empty()) return false;
    const std::string bare = unbracketed(text);
    SockAddr a;
    if (bare.find(':') != std::string::npos) {
        auto* sin6 = reinterpret_cast<sockaddr_in6*>(&a.storage);
        sin6->sin6_family = AF_INET6;
        if (::inet_pton(AF_INET6, bare.c_str(), &sin6->sin6_addr) != 1) return false;
    } else {
        if (bare.size() != text.size()) return false; // brackets hold IPv6 only
        auto* sin = reinterpret_cast<sockaddr_in*>(&a.storage);
        sin->sin_family = AF_INET;
        if (::inet_aton(bare.c_str(), &sin->sin_addr) == 0) return false;
    }
    out = a;
    return true;
}

std::string addressText(const SockAddr& addr) {
    char buf[INET6_ADDRSTRLEN] = {};
    if (addr.v6())
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&addr.storage)->sin6_addr, buf,
                    sizeof buf);
    else
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&addr.storage)->sin_addr, buf, sizeof buf);
    return buf;
}

// ---------------------------------------------------------------------------

SocketWatcher::SocketWatcher(Notify notify)
    : notify_(std::move(notify)), readN_(std::make_unique<QSocketNotifier>(QSocketNotifier::Read)),
      writeN_(std::make_unique<QSocketNotifier>(QSocketNotifier::Write)),
      context_(std::make_unique<QObject>()) {
    readN_->setEnabled(false);
    writeN_->setEnabled(false);
    QObject::connect(readN_.get(), &QSocketNotifier::activated, [this] { onReadable(); });
    QObject::connect(writeN_.get(), &QSocketNotifier::activated, [this] { onWritable(); });
}

SocketWatcher::~SocketWatcher() {
    readN_->setEnabled(false);
    writeN_->setEnabled(false);
}

void SocketWatcher::select(int fd, int mask) {
    if (fd != fd_) {
        detach();
        fd_ = fd;
        if (fd_ >= 0) {
            readN_->setSocket(fd_);
            writeN_->setSocket(fd_);
        }
    }
    mask_ = fd_ >= 0 ? mask : 0;
    readHeld_ = false;
    if (fd_ >= 0) {
        int v = 0;
        socklen_t l = sizeof v;
        listening_ = ::getsockopt(fd_, SOL_SOCKET, SO_ACCEPTCONN, &v, &l) == 0 && v != 0;
        int type = 0;
        l = sizeof type;
        datagram_ = ::getsockopt(fd_, SOL_SOCKET, SO_TYPE, &type, &l) == 0 && type == SOCK_DGRAM;
    }
    arm();
}

void SocketWatcher::detach() {
    readN_->setEnabled(false);
    writeN_->setEnabled(false);
    // Forget the old handle entirely: a new one may get the same number.
    readN_->setSocket(-1);
    writeN_->setSocket(-1);
    fd_ = -1;
    mask_ = 0;
    listening_ = datagram_ = connecting_ = readHeld_ = writeWanted_ = closeSeen_ = false;
    ++generation_;
}

void SocketWatcher::connectStarted() {
    connecting_ = true;
    arm();
}

void SocketWatcher::readDone() {
    if (readHeld_) {
        readHeld_ = false;
        arm();
    }
}

void SocketWatcher::wantWrite() {
    writeWanted_ = true;
    arm();
}

void SocketWatcher::post(int bits, int error) {
    const std::uint64_t gen = generation_;
    const int fd = fd_;
    QMetaObject::invokeMethod(
        context_.get(),
        [this, alive = lifetime_.watch(), gen, fd, bits, error] {
            if (!alive || gen != generation_) return;
            notify_(fd, bits, error);
        },
        Qt::QueuedConnection);
}

void SocketWatcher::arm() {
    if (fd_ < 0) return;
    const bool wantRead =
        !connecting_ && !readHeld_ && !closeSeen_ && (mask_ & (FD_READ | FD_ACCEPT | FD_CLOSE));
    const bool wantWriteNow = (connecting_ && (mask_ & (FD_CONNECT | FD_WRITE))) ||
                              (!connecting_ && writeWanted_ && (mask_ & FD_WRITE));
    if (readN_->isEnabled() != wantRead) readN_->setEnabled(wantRead);
    if (writeN_->isEnabled() != wantWriteNow) writeN_->setEnabled(wantWriteNow);
}

void SocketWatcher::deliver(int bits, int error) {
    notify_(fd_, bits, error);
}

void SocketWatcher::onReadable() {
    if (fd_ < 0) return;
    if (listening_) {
        readHeld_ = true; // until the owner accepts
        arm();
        deliver(FD_ACCEPT, 0);
        return;
    }
    const int waiting = sockPending(fd_);
    if (waiting > 0 || datagram_) { // a datagram socket has no end to report
        readHeld_ = true;           // until the owner receives
        arm();
        deliver(FD_READ, 0);
        return;
    }
    char probe;
    const ssize_t r = ::recv(fd_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return; // nothing after all
    if (r > 0) { // a zero-length count raced
        readHeld_ = true;
        arm();
        deliver(FD_READ, 0);
        return;
    }
    const int code = r == 0 ? 0 : lastSocketError();
    closeSeen_ = true;
    arm();
    deliver(FD_CLOSE, code);
}

void SocketWatcher::onWritable() {
    if (fd_ < 0) return;
    if (connecting_) {
        connecting_ = false;
        int err = 0;
        socklen_t l = sizeof err;
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &l) != 0) err = errno;
        arm();
        if (err != 0) {
            deliver(FD_CONNECT, socketCodeFromErrno(err));
        } else {
            deliver(FD_CONNECT | FD_WRITE, 0);
        }
        return;
    }
    writeWanted_ = false;
    arm();
    deliver(FD_WRITE, 0);
}

// ---------------------------------------------------------------------------

MessageTarget::MessageTarget() : obj_(std::make_unique<QObject>()) {}
MessageTarget::~MessageTarget() = default;

void MessageTarget::post(std::function<void()> fn) {
    QMetaObject::invokeMethod(obj_.get(), std::move(fn), Qt::QueuedConnection);
}

} // namespace platform
