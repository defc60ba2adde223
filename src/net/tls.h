#pragma once
// TLS beneath TWSocket, on OpenSSL 3: one client context shared by every
// connection (TLS 1.2 at least, the system's trust store plus the files
// given with tlsAddTrustFile; a bundle file of the system's is read once,
// when a chain first needs a certificate from it), and TlsLink, one
// non-blocking TLS client connection over a socket handle. The socket drives
// a link from its own readiness events; nothing here waits.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct ssl_st;
struct ssl_session_st;

namespace net {

// A TLS session a later connection may resume (an FTP data connection
// resumes its control connection's session).
using TlsSessionPtr = std::shared_ptr<ssl_session_st>;

struct TlsOptions {
    // The server's name or IP address: sent as SNI (names only) and matched
    // against its certificate.
    std::string host;
    // false: the handshake completes even when the certificate does not
    // verify; the owner judges it (TlsLink::verified, fingerprint).
    bool verify = true;
    TlsSessionPtr resume; // offered for resumption when set
};

// Trust the certificates in file as well as the system store (for every
// connection made after the call). False with the reason when the file
// cannot be read or holds no certificate.
bool tlsAddTrustFile(const std::string& file, std::string& error);

// Error codes a TLS socket reports (in the manner of the socket-layer codes).
constexpr int WSAETLSHANDSHAKE = 10901; // handshake or certificate check failed
constexpr int WSAETLSCUT = 10902;       // stream ended without close_notify
constexpr int WSAETLSPROTOCOL = 10903;  // a TLS error after the handshake
bool isTlsError(int code);
std::string tlsErrorDesc(int code); // "" for other codes

class TlsLink {
public:
    enum Result { Done, WantRead, WantWrite, Failed, Closed };

    TlsLink(int fd, const TlsOptions& options);
    ~TlsLink();
    TlsLink(const TlsLink&) = delete;
    TlsLink& operator=(const TlsLink&) = delete;

    // One step of the handshake.
    Result handshake();
    // Up to size bytes of application data: > 0 bytes; otherwise r tells why
    // (WantRead/WantWrite: nothing yet; Closed: the peer's close_notify came;
    // Failed: the stream was cut or broke, see error()).
    int read(void* buffer, int size, Result& r);
    // Writes up to len bytes (partial writes allowed): > 0 bytes, or r.
    int write(const void* data, int len, Result& r);
    // Decrypted bytes waiting in the link; 1 when only records read ahead
    // (not yet decrypted) wait; 0 when nothing does.
    int pending() const;
    // Sends close_notify (once; nothing more is sent afterwards).
    void shutdown();

    bool established() const { return established_; }
    bool peerClosed() const { return peerClosed_; }
    bool cut() const { return cut_; }
    bool resumed() const;
    // Whether the certificate verified (chain and host).
    bool verified() const;
    // SHA-256 of the server's certificate, colon-separated hex; "" for none.
    std::string fingerprint() const;
    const std::string& error() const { return error_; }
    // The newest session the server gave on this connection (TLS 1.3 sends
    // it after the handshake), else the handshake's own.
    TlsSessionPtr session() const;
    // The sessions the server gave so far, oldest first, handed over once
    // (a TLS 1.3 server may take each ticket only once).
    std::vector<TlsSessionPtr> takeSessions();
    const std::string& host() const { return host_; }

    // Called by the context when the server hands out a session.
    void takeSession(ssl_session_st* s);

private:
    Result failure(int ret, const char* during);
    Result outcome(int ret, const char* during); // of a call that did not succeed

    ssl_st* ssl_ = nullptr;
    std::string host_;
    std::string error_;
    bool established_ = false;
    bool peerClosed_ = false;
    bool cut_ = false;
    bool shutdownSent_ = false;
    TlsSessionPtr session_;
    std::vector<TlsSessionPtr> fresh_; // not handed over yet
};

} // namespace net
