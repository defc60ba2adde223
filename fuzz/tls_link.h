#pragma once
// The server's end of a loopback connection for the client harnesses, plain
// or TLS: a handle and, once TLS began, an OpenSSL server connection over it
// whose handshake goes on in every later call (the client's event loop turns
// while a call waits). The certificate is made once a process (self-signed,
// for 127.0.0.1, ::1 and fuzz.invalid) and the program's TLS trusts it, as
// it trusts a --cacert file.

#include "loopback_peer.h"
#include "net/tls.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <netinet/tcp.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace fuzzpeer {

inline SSL_CTX* serverTls() {
    static SSL_CTX* const ctx = [] {
        std::signal(SIGPIPE, SIG_IGN); // OpenSSL writes to sockets the client may have closed
        EVP_PKEY* key = EVP_EC_gen("P-256");
        X509* cert = X509_new();
        if (!key || !cert) std::abort();
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), -86400);
        X509_gmtime_adj(X509_getm_notAfter(cert), 86400L * 3650);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("Wavetrap fuzz"), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        X509V3_CTX v3;
        X509V3_set_ctx_nodb(&v3);
        X509V3_set_ctx(&v3, cert, cert, nullptr, nullptr, 0);
        for (const auto& [nid, value] :
             {std::pair{NID_basic_constraints, "critical,CA:TRUE"},
              std::pair{NID_subject_alt_name, "DNS:fuzz.invalid,IP:127.0.0.1,IP:::1"}}) {
            X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &v3, nid, value);
            if (!ext || !X509_add_ext(cert, ext, -1)) std::abort();
            X509_EXTENSION_free(ext);
        }
        if (!X509_sign(cert, key, EVP_sha256())) std::abort();

        const char* tmp = std::getenv("TMPDIR");
        const std::string file = std::string(tmp && *tmp ? tmp : "/tmp") + "/wavetrap-fuzz-cert-" +
                                 std::to_string(::getpid()) + ".pem";
        FILE* f = std::fopen(file.c_str(), "w");
        if (!f || !PEM_write_X509(f, cert) || std::fclose(f) != 0) std::abort();
        std::string error;
        if (!net::tlsAddTrustFile(file, error)) {
            std::fprintf(stderr, "trust file: %s\n", error.c_str());
            std::abort();
        }
        std::remove(file.c_str());

        SSL_CTX* c = SSL_CTX_new(TLS_server_method());
        if (!c || SSL_CTX_use_certificate(c, cert) != 1 || SSL_CTX_use_PrivateKey(c, key) != 1) std::abort();
        X509_free(cert);
        EVP_PKEY_free(key);
        return c;
    }();
    return ctx;
}

class Link {
public:
    Link() = default;
    ~Link() { close(); }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    bool open() const { return fd_ >= 0; }
    bool tls() const { return ssl_ != nullptr; }
    int fd() const { return fd_; }
    void adopt(int fd) {
        close();
        fd_ = fd;
    }
    void close() {
        if (ssl_) SSL_free(ssl_);
        ssl_ = nullptr;
        closeFd(fd_);
    }

    // TLS as the server from here on. (Without Nagle: a short record after
    // the session tickets would wait for the client's delayed ACK, longer
    // than a script waits for its answer.)
    void startTls() {
        if (fd_ < 0 || ssl_) return;
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ssl_ = SSL_new(serverTls());
        SSL_set_fd(ssl_, fd_);
        SSL_set_accept_state(ssl_);
    }

    // Sends all of text, turning the client's loop while the peer is slow
    // (or the handshake under way): the bytes that went out.
    std::size_t send(std::string_view text, int maxTurns) {
        if (fd_ < 0) return 0;
        if (!ssl_) return sendAll(fd_, text, maxTurns);
        std::size_t sent = 0;
        for (int t = 0; sent < text.size() && t < maxTurns;) {
            // A write that must be repeated is repeated with the same bytes.
            const int len = static_cast<int>(std::min<std::size_t>(text.size() - sent, 16384));
            const int n = SSL_write(ssl_, text.data() + sent, len);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
                continue;
            }
            const int e = SSL_get_error(ssl_, n);
            if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) break;
            turn();
            ++t;
        }
        return sent;
    }

    // Appends what arrived (moving a handshake on); false once the peer
    // closed or the connection broke.
    bool readAvailable(std::string& out) {
        if (fd_ < 0) return false;
        if (!ssl_) return fuzzpeer::readAvailable(fd_, out);
        char buf[4096];
        for (;;) {
            const int n = SSL_read(ssl_, buf, sizeof buf);
            if (n > 0) {
                out.append(buf, static_cast<std::size_t>(n));
                continue;
            }
            const int e = SSL_get_error(ssl_, n);
            return e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE;
        }
    }

    // Ends the sending side: over TLS with close_notify first, unless cut.
    void shutWrite(bool cut = false) {
        if (fd_ < 0) return;
        if (ssl_ && !cut && SSL_is_init_finished(ssl_)) SSL_shutdown(ssl_);
        ::shutdown(fd_, SHUT_WR);
    }

private:
    int fd_ = -1;
    SSL* ssl_ = nullptr;
};

} // namespace fuzzpeer
