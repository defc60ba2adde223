#pragma once
// TWSocket: the event-driven TCP/UDP socket every network client stands on.
// It never blocks: connect, read, write, accept and close conditions arrive
// from the event loop and become the owner's events. Misuse raises
// ESocketException with a fixed text (or goes to OnError when assigned);
// network failures arrive as the Error argument of the events.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <netinet/in.h>

#include "net/tls.h"
#include "platform/listview.h"
#include "platform/signal.h"
#include "platform/socket.h"

namespace platform {
class SocketWatcher;
class LookupRequest;
class MessageTarget;
} // namespace platform

namespace net {

// The socket handle; INVALID_SOCKET when there is none.
using TSocket = int;
constexpr TSocket INVALID_SOCKET = -1;

// Ordinals matter: they are shown and compared by the clients.
enum TSocketState {
    wsInvalidState = 0, // never set by the socket itself
    wsOpened = 1,       // handle created, nothing started yet
    wsBound = 2,        // bound to a local address, not yet listening
    wsConnecting = 3,   // connection attempt under way
    wsConnected = 4,    // connected (or a connect attempt just finished)
    wsAccepting = 5,    // not used
    wsListening = 6,    // waiting for incoming connections
    wsClosed = 7,       // no connection; the state of a new or reset socket
};

enum TSocketSendFlags {
    wsSendNormal = 0, // plain send
    wsSendUrgent = 1, // out-of-band send
};

// Socket-layer error codes the rest of the program compares against.
constexpr int WSAEINTR = 10004;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

// Shutdown directions for ShutDown.
constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;

class ESocketException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The description of a socket-layer error code ("Connection refused", ...,
// "Not a WinSock error" for unknown codes).
std::string WSocketErrorDesc(int code);

class TWSocket;
using TDataAvailable = std::function<void(TWSocket* Sender, std::uint16_t Error)>;
using TDataSent = std::function<void(TWSocket* Sender, std::uint16_t Error)>;
using TSessionClosed = std::function<void(TWSocket* Sender, std::uint16_t Error)>;
using TSessionAvailable = std::function<void(TWSocket* Sender, std::uint16_t Error)>;
using TSessionConnected = std::function<void(TWSocket* Sender, std::uint16_t Error)>;
using TDnsLookupDone = std::function<void(TWSocket* Sender, std::uint16_t Error)>;
using TChangeState = std::function<void(TWSocket* Sender, TSocketState OldState, TSocketState NewState)>;
using TNotifyEvent = std::function<void(TWSocket* Sender)>;

class TWSocket {
public:
    TWSocket();
    virtual ~TWSocket();
    TWSocket(const TWSocket&) = delete;
    TWSocket& operator=(const TWSocket&) = delete;

    // --- properties ------------------------------------------------------
    // Only in wsClosed; the text is resolved at once (a host name by a
    // blocking lookup, a port or protocol name through the system databases).
    const std::string& Addr() const { return addrStr_; }
    void setAddr(const std::string& value);
    // The first address becomes Addr; the others are tried in turn when a
    // connect to the one before fails (the addresses of a name lookup).
    void setAddrs(const platform::StringList& addresses);
    const std::string& Port() const { return portStr_; }
    void setPort(const std::string& value);
    const std::string& Proto() const { return protoStr_; }
    void setProto(const std::string& value);

    const std::string& DnsResult() const { return dnsResult_; }
    const platform::StringList& DnsResultList() const { return dnsResultList_; }
    TSocketState State() const { return state_; }
    std::int32_t ReadCount() const { return readCount_; }
    // Bytes waiting in the socket now; -1 (and socket error "ioctlSocket")
    // when the query fails.
    std::int32_t RcvdCount();
    std::int32_t LastError() const { return lastError_; }
    TSocket HSocket() const { return hSocket_; }

    bool MultiThreaded = false;
    std::int32_t FlushTimeout = 60;
    TSocketSendFlags SendFlags() const;
    void setSendFlags(int value); // anything but 0 and 1: "Invalid SendFlags"

    // --- operations -------------------------------------------------------
    virtual void Connect();
    virtual void Close(); // shut down both directions, then close
    virtual void Abort(); // close without the shutdown
    virtual void Flush();
    virtual void WaitForClose();
    virtual int Listen();     // 0, or -1 on failure
    virtual TSocket Accept(); // the new handle, or -1
    virtual int Receive(void* buffer, int size);
    // Moves up to size received bytes into the pipe whose write end is pipeFd
    // without copying them through this process (splice(2)); answers like
    // Receive. NoSplice (nothing taken) when the kernel cannot splice from
    // this socket: the caller then uses Receive.
    static constexpr int NoSplice = -2;
    int ReceiveToPipe(int pipeFd, int size);
    virtual std::string ReceiveStr();
    virtual int ReceiveFrom(void* buffer, int size, platform::SockAddr& from, int& fromLen);
    virtual int Send(const void* data, int len);
    virtual int SendStr(const std::string& str);
    virtual void DnsLookup(const std::string& hostName);
    virtual void CancelDnsLookup();
    virtual std::string GetPeerName(); // dotted remote address or "error"
    virtual int GetPeerSockAddr(platform::SockAddr& addr, int& len);
    virtual std::string GetLocalPort(); // decimal local port or "error"
    virtual int GetSockName(platform::SockAddr& addr, int& len);
    virtual void Dup(TSocket newHSocket);
    virtual void ShutDown(int how);
    // Pause stops every notification; Resume asks for them again, and what
    // holds at that moment (bytes waiting, a connection waiting on a listening
    // socket that no handler took) is reported anew.
    virtual void Pause();
    virtual void Resume();
    // Blocking waits (pump the event loop): answer whether the state was
    // reached / a line was read within the given seconds.
    virtual bool WaitForState(int seconds, TSocketState state);
    virtual bool ReadLine(int seconds, std::string& line);

    // Bytes still queued for sending, and the sizes of the queue's buffers
    // (every buffer holds at most 1514 bytes).
    std::int64_t BufferedByteCount() const;
    std::vector<int> SendQueueBlockSizes() const;
    bool AllSent() const { return allSent_; }

    // --- TLS ----------------------------------------------------------------
    // Called before Connect: the TLS handshake follows the TCP connection and
    // OnSessionConnected reports both (WSAETLSHANDSHAKE when the handshake
    // fails). Called on a connected socket: the handshake starts now and
    // OnTlsDone reports it. Either way a failed handshake closes the socket
    // after its report; bytes queued by Send wait for the handshake. Once
    // up, every receive and send goes through TLS, Close sends close_notify,
    // and a peer that ends the stream without its close_notify closes the
    // session with WSAETLSCUT.
    void StartTls(const TlsOptions& options);
    bool TlsActive() const { return tls_ && tls_->established(); }
    const TlsLink* Tls() const { return tls_.get(); }
    TlsLink* Tls() { return tls_.get(); }
    // Why the last handshake failed or the stream broke ("" when it did not).
    const std::string& TlsError() const { return tlsError_; }
    TSessionConnected OnTlsDone;

    // --- events -------------------------------------------------------------
    TDataAvailable OnDataAvailable;
    TDataSent OnDataSent;
    TSessionClosed OnSessionClosed;
    TSessionAvailable OnSessionAvailable;
    TSessionConnected OnSessionConnected;
    TDnsLookupDone OnDnsLookupDone;
    TChangeState OnChangeState;
    TNotifyEvent OnLineTooLong;
    TNotifyEvent OnError;

    // Rounds of the receive loop ended because OnDataAvailable read nothing
    // while bytes were waiting (the loop does not call it again then).
    std::int64_t StalledReadRounds() const { return stalledRounds_; }

protected:
    virtual void RaiseException(const std::string& msg);
    virtual bool TriggerDataAvailable(std::uint16_t error);
    virtual void TriggerSessionAvailable(std::uint16_t error);
    virtual void TriggerSessionConnected(std::uint16_t error);
    virtual void TriggerSessionClosed(std::uint16_t error);
    virtual void TriggerDataSent(std::uint16_t error);
    virtual void TriggerChangeState(TSocketState oldState, TSocketState newState);
    virtual void TriggerDnsLookupDone(std::uint16_t error);
    virtual void TriggerError();

private:
    void ChangeState(TSocketState newState);
    void SocketError(const std::string& function, int code = 0); // 0: take the code from errno
    void HandleNotification(int fd, int bits, int error);
    // Hands waiting data to the owner, round after round while data waits;
    // without drain at most MaxReceiveRounds rounds, then back to the event
    // loop (the socket reports the rest at once): a peer that never stops
    // sending must not keep timers and other sockets waiting.
    void DoReceiveLoop(std::uint16_t error, bool drain = false);
    static constexpr int MaxReceiveRounds = 32;
    void TryToSend();
    void InternalClose(bool shutdown, std::uint16_t error);
    void ResetSocket();
    void SelectNotifications(int mask);
    void LookupFinished(int error, const std::vector<std::string>& addresses);
    void NoteRead(int count);
    void ContinueLine();
    int RawRecv(void* buffer, int size); // through the read-ahead buffer; -1 and the code in lastError_
    int Waiting();                       // bytes buffered here plus bytes waiting in the socket
    void DropReadAhead() { rxPos_ = rxLen_ = 0; }
    void TlsBegin(bool implicit);
    void TlsStep();
    void TlsFinished(std::uint16_t error);
    bool TlsHolds() const { return tlsPending_ || tlsHandshaking_; } // nothing may be sent in clear
    std::uint16_t TlsCloseError(std::uint16_t error);

    TSocket hSocket_ = INVALID_SOCKET;
    TSocketState state_ = wsClosed;
    std::string addrStr_, portStr_, protoStr_;
    bool addrAssigned_ = false, portAssigned_ = false, protoAssigned_ = true;
    int proto_ = 6;
    bool datagram_ = false;
    platform::SockAddr sin_;
    platform::StringList fallbackAddrs_; // tried in turn when a connect fails
    std::uint16_t localPortDgram_ = 0;
    std::deque<std::vector<char>> sendQueue_; // buffers of up to 1514 bytes
    std::size_t sendOffset_ = 0;              // bytes of the first buffer already sent
    bool allSent_ = true;
    std::string dnsResult_;
    platform::StringList dnsResultList_;
    std::int32_t readCount_ = 0;
    std::int32_t lastError_ = 0;
    int sendFlags_ = wsSendNormal;
    bool paused_ = false;
    bool closeReported_ = false;
    bool destroying_ = false;
    bool lineMode_ = false;
    bool lineReady_ = false;
    std::string lineBuffer_;
    std::int64_t consumed_ = 0; // bytes taken by any receive, for the loop's guard
    // Read-ahead of a stream socket: one system call fetches up to 64 KiB,
    // receives of any size are served from it.
    std::vector<char> rxBuf_;
    int rxPos_ = 0, rxLen_ = 0;
    std::int64_t stalledRounds_ = 0;
    int selectMask_ = 0;
    std::unique_ptr<platform::SocketWatcher> watcher_;
    std::unique_ptr<platform::LookupRequest> lookup_;
    std::unique_ptr<TlsLink> tls_;
    std::unique_ptr<TlsOptions> tlsPending_; // StartTls before Connect
    bool tlsHandshaking_ = false;
    bool tlsImplicit_ = false; // the handshake is reported by OnSessionConnected
    std::string tlsError_;
    // Watched across calls into handlers, which may destroy the socket.
    platform::Lifetime lifetime_;
};

} // namespace net
