#pragma once
// The thin socket layer: non-blocking BSD socket calls, their errno results
// turned into the socket-layer codes the network clients compare against
// (10035 would block, 10054 reset, 10061 refused, ...), and a watcher that
// reports connect, read, write, accept and close readiness of one handle
// from the event loop, in the manner of asynchronous socket notification:
//  - read/accept is reported once and then held until the owner receives
//    or accepts again (so an owner that reads nothing costs no CPU);
//  - write is reported after a connect and after a send that would block;
//  - close is reported once, when the peer's end (or a reset) is seen and
//    nothing is left to read.
// Nothing here knows the rules of the socket component above it.

#include "platform/eventloop.h" // pumpMessages
#include "platform/signal.h"    // Lifetime
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <netinet/in.h>
#include <sys/socket.h>

class QSocketNotifier;
class QObject;

namespace platform {

// Notification bits, delivered together with an error code.
enum SocketEventBits {
    FD_READ = 0x01,
    FD_WRITE = 0x02,
    FD_OOB = 0x04,
    FD_ACCEPT = 0x08,
    FD_CONNECT = 0x10,
    FD_CLOSE = 0x20,
};

// errno value -> socket-layer code (EWOULDBLOCK -> 10035, ...); 0 stays 0.
int socketCodeFromErrno(int err);
// The socket-layer code of the last failing call of this thread.
int lastSocketError();
// Description of a socket-layer code ("Not a WinSock error" when unknown).
std::string socketErrorDesc(int code);

// An IPv4 or IPv6 socket address (port in host order through port()).
struct SockAddr {
    sockaddr_storage storage{};
    SockAddr() { storage.ss_family = AF_INET; }
    int family() const { return storage.ss_family; }
    bool v6() const { return storage.ss_family == AF_INET6; }
    std::uint16_t port() const;
    void setPort(std::uint16_t port);
    socklen_t size() const;
    sockaddr* raw() { return reinterpret_cast<sockaddr*>(&storage); }
    const sockaddr* raw() const { return reinterpret_cast<const sockaddr*>(&storage); }
    bool sameHost(const SockAddr& other) const; // the same address, ports aside
    bool broadcast() const;                     // 255.255.255.255
};
// The wildcard address of a family, port 0.
SockAddr anyAddress(int family);

// System calls, each answering -1 and leaving the code in lastSocketError()
// on failure. New handles are non-blocking and close-on-exec.
int sockCreate(bool datagram, int protocol, int family = AF_INET);
int sockConnect(int fd, const SockAddr& addr); // 0: started (or done), -1: failed at once
int sockBind(int fd, const SockAddr& addr);
int sockListen(int fd, int backlog);
int sockAccept(int fd, SockAddr& peer);
int sockSend(int fd, const void* data, int len, bool urgent);
int sockSendTo(int fd, const void* data, int len, bool urgent, const SockAddr& to);
int sockRecv(int fd, void* buf, int len);
int sockRecvFrom(int fd, void* buf, int len, SockAddr& from);
int sockPending(int fd); // bytes waiting, -1 on failure
int sockShutdown(int fd, int how);
int sockClose(int fd);
int sockSetNonBlocking(int fd);
int sockSetLinger(int fd, bool on, int seconds);
int sockSetBool(int fd, int level, int option, bool on);
int sockPeerName(int fd, SockAddr& addr);
int sockName(int fd, SockAddr& addr);

// Port, protocol and address conversions through the system databases.
// Each answers false when the text cannot be converted.
bool lookupService(const std::string& name, const std::string& proto, std::uint16_t& port);
bool lookupProtocol(const std::string& name, int& number);
// A numeric address: dotted IPv4 (the old short forms too) or IPv6, with or
// without brackets ("[::1]"); the port is left 0.
bool parseAddress(const std::string& text, SockAddr& out);
// The numeric text of an address, IPv6 without brackets.
std::string addressText(const SockAddr& addr);
// "host" without the brackets of an IPv6 literal ("[::1]" -> "::1").
std::string unbracketed(const std::string& host);

// Watches one handle at a time and calls notify(fd, bits, error) from the
// event loop. select() chooses the handle and the wanted bits (0 = none),
// like asynchronous select: it re-arms every condition.
class SocketWatcher {
public:
    using Notify = std::function<void(int fd, int bits, int error)>;
    explicit SocketWatcher(Notify notify);
    ~SocketWatcher();
    SocketWatcher(const SocketWatcher&) = delete;
    SocketWatcher& operator=(const SocketWatcher&) = delete;

    void select(int fd, int mask);
    // Stop watching (before the handle is closed); drops posted events.
    void detach();
    // A connect was started on the handle: its end is reported as FD_CONNECT
    // (with FD_WRITE on success), or with error when it fails.
    void connectStarted();
    // The owner received or accepted: report readable data again.
    void readDone();
    // A send would block: report FD_WRITE when room frees up.
    void wantWrite();
    // Deliver bits/error later from the event loop (for this handle only).
    void post(int bits, int error);

private:
    void onReadable();
    void onWritable();
    void arm();
    void deliver(int bits, int error);

    Notify notify_;
    std::unique_ptr<QSocketNotifier> readN_;
    std::unique_ptr<QSocketNotifier> writeN_;
    std::unique_ptr<QObject> context_; // posted events die with it
    int fd_ = -1;
    int mask_ = 0;
    bool listening_ = false;
    bool datagram_ = false;
    bool connecting_ = false;
    bool readHeld_ = false;
    bool writeWanted_ = false;
    bool closeSeen_ = false;
    std::uint64_t generation_ = 0;
    Lifetime lifetime_;
};

// A target for messages posted to oneself: post(fn) runs fn later from the
// event loop unless the target has been destroyed first.
class MessageTarget {
public:
    MessageTarget();
    ~MessageTarget();
    MessageTarget(const MessageTarget&) = delete;
    MessageTarget& operator=(const MessageTarget&) = delete;
    void post(std::function<void()> fn);

private:
    std::unique_ptr<QObject> obj_;
};

} // namespace platform
