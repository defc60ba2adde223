// The shared TLS client context and the non-blocking TLS link over a socket.
#include "net/tls.h"
#include "platform/socket.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <mutex>
#include <sys/socket.h>
#include <utility>

namespace net {

namespace {

// The socket BIO of the link: sends with MSG_NOSIGNAL (a peer that went
// away must not kill the program with SIGPIPE) and remembers the end of the
// stream, so that OpenSSL tells a cut stream from a clean close.
struct SockState {
    int fd = -1;
    bool eof = false;
};

int sockWrite(BIO* b, const char* data, int len) {
    auto* s = static_cast<SockState*>(BIO_get_data(b));
    BIO_clear_retry_flags(b);
    const ssize_t n = ::send(s->fd, data, static_cast<std::size_t>(len), MSG_NOSIGNAL);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) BIO_set_retry_write(b);
        return -1;
    }
    return static_cast<int>(n);
}

int sockRead(BIO* b, char* buffer, int size) {
    auto* s = static_cast<SockState*>(BIO_get_data(b));
    BIO_clear_retry_flags(b);
    const ssize_t n = ::recv(s->fd, buffer, static_cast<std::size_t>(size), 0);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) BIO_set_retry_read(b);
        return -1;
    }
    if (n == 0) s->eof = true;
    return static_cast<int>(n);
}

long sockCtrl(BIO* b, int cmd, long, void*) {
    auto* s = static_cast<SockState*>(BIO_get_data(b));
    switch (cmd) {
    case BIO_CTRL_FLUSH:
        return 1;
    case BIO_CTRL_EOF:
        return s && s->eof ? 1 : 0;
    default:
        return 0;
    }
}

int sockDestroy(BIO* b) {
    delete static_cast<SockState*>(BIO_get_data(b));
    BIO_set_data(b, nullptr);
    return 1;
}

BIO_METHOD* sockMethod() {
    static BIO_METHOD* m = [] {
        BIO_METHOD* meth = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "wavetrap socket");
        BIO_meth_set_write(meth, sockWrite);
        BIO_meth_set_read(meth, sockRead);
        BIO_meth_set_ctrl(meth, sockCtrl);
        BIO_meth_set_destroy(meth, sockDestroy);
        return meth;
    }();
    return m;
}

int newSession(SSL* ssl, SSL_SESSION* session) {
    auto* link = static_cast<TlsLink*>(SSL_get_app_data(ssl));
    if (!link) return 0;
    link->takeSession(session);
    return 1; // the link keeps the reference
}

// A bundle file of trusted certificates, read whole when a chain first needs
// a certificate the store does not hold yet, and never again: a connection
// whose chain ends in a certificate given to tlsAddTrustFile (--cacert), or
// one the store already holds, never waits for it (parsing a system bundle
// takes some 20 ms). After the reading the store holds every certificate of the file,
// as if it had been loaded at the start.
class LazyBundle {
public:
    static LazyBundle& instance() {
        static LazyBundle bundle;
        return bundle;
    }
    void setFile(std::string file) { file_ = std::move(file); }

    // Adds the lookup to the store, before any other lookup (the bundle file
    // comes first, as when OpenSSL loads its default places).
    bool attach(X509_STORE* store) {
        static X509_LOOKUP_METHOD* method = [] {
            X509_LOOKUP_METHOD* m = X509_LOOKUP_meth_new("wavetrap lazy bundle");
            X509_LOOKUP_meth_set_get_by_subject(m, bySubject);
            return m;
        }();
        return X509_STORE_add_lookup(store, method) != nullptr;
    }

private:
    static int bySubject(X509_LOOKUP* lookup, X509_LOOKUP_TYPE type, const X509_NAME* name,
                         X509_OBJECT* ret) {
        LazyBundle& self = instance();
        std::call_once(self.once_, [&] {
            if (self.file_.empty()) return;
            // A missing or empty file trusts nothing more, as when OpenSSL
            // loads its default places; the errors of the handshake under
            // way stay as they were.
            ERR_set_mark();
            X509_load_cert_crl_file(lookup, self.file_.c_str(), X509_FILETYPE_PEM);
            ERR_pop_to_mark();
        });
        X509_STORE* store = X509_LOOKUP_get_store(lookup);
        if (!store || !X509_STORE_lock(store)) return 0;
        // The caller takes its own reference to what is answered: the
        // store's objects are lent, not given.
        X509_OBJECT* found = X509_OBJECT_retrieve_by_subject(X509_STORE_get0_objects(store), type, name);
        int ok = 0;
        if (found && type == X509_LU_X509) {
            X509* cert = X509_OBJECT_get0_X509(found);
            ok = X509_OBJECT_set1_X509(ret, cert);
            if (ok) X509_free(cert);
        } else if (found && type == X509_LU_CRL) {
            X509_CRL* crl = X509_OBJECT_get0_X509_CRL(found);
            ok = X509_OBJECT_set1_X509_CRL(ret, crl);
            if (ok) X509_CRL_free(crl);
        }
        X509_STORE_unlock(store);
        return ok;
    }

    std::string file_;
    std::once_flag once_;
};

// The system's trust store as OpenSSL's variables name it: a hashed directory
// (read a certificate at a time, as a chain needs one), and a bundle file
// (SSL_CERT_FILE, else OpenSSL's default file when there is no hashed
// directory), read whole once, when a chain first needs it.
void useSystemTrust(SSL_CTX* c) {
    const char* file = std::getenv(X509_get_default_cert_file_env());
    const char* dirEnv = std::getenv(X509_get_default_cert_dir_env());
    const std::string dir = dirEnv && *dirEnv ? dirEnv : X509_get_default_cert_dir();
    bool hashed = false;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name.size() == 10 && name[8] == '.' && name[9] == '0') {
                hashed = true;
                break;
            }
        }
        ::closedir(d);
    }
    if ((file && *file) || !hashed) {
        LazyBundle::instance().setFile(file && *file ? file : X509_get_default_cert_file());
        LazyBundle::instance().attach(SSL_CTX_get_cert_store(c));
    }
    SSL_CTX_set_default_verify_dir(c);
}

SSL_CTX* context() {
    static SSL_CTX* ctx = [] {
        SSL_CTX* c = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION);
        useSystemTrust(c);
        SSL_CTX_set_mode(c, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        // Records are read from the socket many at a time, not header and
        // body apart: half the system calls, and fewer for small records.
        SSL_CTX_set_read_ahead(c, 1);
        SSL_CTX_set_default_read_buffer_len(c, 64 * 1024);
        // Sessions are kept by each link, for its data connections.
        SSL_CTX_set_session_cache_mode(c, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
        SSL_CTX_sess_set_new_cb(c, newSession);
        return c;
    }();
    return ctx;
}

std::string lastOpenSslError() {
    const unsigned long e = ERR_peek_last_error();
    if (e == 0) return {};
    const char* reason = ERR_reason_error_string(e);
    return reason ? reason : "TLS error " + std::to_string(e);
}

std::string verifyText(long v) {
    switch (v) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return std::string("untrusted issuer (") + X509_verify_cert_error_string(v) + ")";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return std::string("name mismatch: the certificate is for another host (") +
               X509_verify_cert_error_string(v) + ")";
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "certificate expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "certificate not yet valid";
    default:
        return std::string("certificate not trusted (") + X509_verify_cert_error_string(v) + ")";
    }
}

bool isIpLiteral(const std::string& host) {
    in_addr a4{};
    in6_addr a6{};
    return ::inet_pton(AF_INET, host.c_str(), &a4) == 1 || ::inet_pton(AF_INET6, host.c_str(), &a6) == 1;
}

} // namespace

bool tlsAddTrustFile(const std::string& file, std::string& error) {
    ERR_clear_error();
    if (SSL_CTX_load_verify_locations(context(), file.c_str(), nullptr) != 1) {
        error = file + ": " + (lastOpenSslError().empty() ? "no certificate" : lastOpenSslError());
        ERR_clear_error();
        return false;
    }
    return true;
}

bool isTlsError(int code) {
    return code == WSAETLSHANDSHAKE || code == WSAETLSCUT || code == WSAETLSPROTOCOL;
}

std::string tlsErrorDesc(int code) {
    switch (code) {
    case WSAETLSHANDSHAKE:
        return "TLS handshake failed";
    case WSAETLSCUT:
        return "TLS stream cut without close_notify";
    case WSAETLSPROTOCOL:
        return "TLS error";
    default:
        return {};
    }
}

TlsLink::TlsLink(int fd, const TlsOptions& options) : host_(platform::unbracketed(options.host)) {
    if (host_.size() > 2 && host_.front() == '[' && host_.back() == ']')
        host_ = host_.substr(1, host_.size() - 2);
    ssl_ = SSL_new(context());
    BIO* bio = BIO_new(sockMethod());
    auto* state = new SockState;
    state->fd = fd;
    BIO_set_data(bio, state);
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl_, bio, bio);
    SSL_set_app_data(ssl_, this);
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
    if (isIpLiteral(host_)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host_.c_str()); // no SNI for an address
    } else if (!host_.empty()) {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        X509_VERIFY_PARAM_set1_host(param, host_.c_str(), 0);
        SSL_set_tlsext_host_name(ssl_, host_.c_str());
    }
    SSL_set_verify(ssl_, options.verify ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
    if (options.resume) SSL_set_session(ssl_, options.resume.get());
    SSL_set_connect_state(ssl_);
}

TlsLink::~TlsLink() {
    SSL_set_app_data(ssl_, nullptr);
    SSL_free(ssl_);
}

void TlsLink::takeSession(ssl_session_st* s) {
    session_ = TlsSessionPtr(s, SSL_SESSION_free);
    fresh_.push_back(session_);
}

std::vector<TlsSessionPtr> TlsLink::takeSessions() {
    return std::exchange(fresh_, {});
}

TlsLink::Result TlsLink::failure(int ret, const char* during) {
    const int err = SSL_get_error(ssl_, ret);
    const int savedErrno = errno;
    const unsigned long e = ERR_peek_last_error();
    const long v = SSL_get_verify_result(ssl_);
    if (!established_ && v != X509_V_OK && SSL_get_verify_mode(ssl_) != SSL_VERIFY_NONE) {
        error_ = verifyText(v);
    } else if ((e != 0 && ERR_GET_REASON(e) == SSL_R_UNEXPECTED_EOF_WHILE_READING) ||
               (err == SSL_ERROR_SYSCALL && e == 0 && savedErrno == 0)) {
        cut_ = true;
        error_ = established_ ? "the stream ended without TLS close_notify"
                              : std::string("the connection closed during the TLS ") + during;
    } else if (e != 0) {
        error_ = lastOpenSslError();
    } else if (err == SSL_ERROR_SYSCALL) {
        error_ = std::strerror(savedErrno != 0 ? savedErrno : EIO);
    } else {
        error_ = std::string("TLS ") + during + " failed";
    }
    ERR_clear_error();
    errno = savedErrno;
    return Failed;
}

TlsLink::Result TlsLink::handshake() {
    if (established_) return Done;
    ERR_clear_error();
    const int ret = SSL_connect(ssl_);
    if (ret == 1) {
        established_ = true;
        return Done;
    }
    return outcome(ret, "handshake");
}

TlsLink::Result TlsLink::outcome(int ret, const char* during) {
    switch (SSL_get_error(ssl_, ret)) {
    case SSL_ERROR_WANT_READ:
        return WantRead;
    case SSL_ERROR_WANT_WRITE:
        return WantWrite;
    default:
        return failure(ret, during);
    }
}

int TlsLink::read(void* buffer, int size, Result& r) {
    if (peerClosed_) {
        r = Closed;
        return 0;
    }
    ERR_clear_error();
    const int n = SSL_read(ssl_, buffer, size);
    if (n > 0) {
        r = Done;
        return n;
    }
    if (SSL_get_error(ssl_, n) == SSL_ERROR_ZERO_RETURN) {
        peerClosed_ = true;
        shutdown(); // answer the peer's close_notify with ours
        r = Closed;
        return 0;
    }
    r = outcome(n, "read");
    return -1;
}

int TlsLink::write(const void* data, int len, Result& r) {
    if (shutdownSent_) {
        error_ = "write after TLS close";
        r = Failed;
        return -1;
    }
    ERR_clear_error();
    const int n = SSL_write(ssl_, data, len);
    if (n > 0) {
        r = Done;
        return n;
    }
    r = outcome(n, "write");
    return -1;
}

int TlsLink::pending() const {
    // Records read ahead but not yet decrypted wait too: no readiness of the
    // socket will tell of them.
    const int decrypted = SSL_pending(ssl_);
    if (decrypted > 0) return decrypted;
    return SSL_has_pending(ssl_) == 1 ? 1 : 0;
}

void TlsLink::shutdown() {
    if (shutdownSent_ || !established_) return;
    shutdownSent_ = true;
    ERR_clear_error();
    SSL_shutdown(ssl_);
    ERR_clear_error();
}

bool TlsLink::resumed() const {
    return SSL_session_reused(ssl_) == 1;
}

bool TlsLink::verified() const {
    return SSL_get0_peer_certificate(ssl_) != nullptr && SSL_get_verify_result(ssl_) == X509_V_OK;
}

std::string TlsLink::fingerprint() const {
    X509* cert = SSL_get0_peer_certificate(ssl_);
    if (!cert) return {};
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (X509_digest(cert, EVP_sha256(), md, &len) != 1) return {};
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned int i = 0; i < len; ++i) {
        if (i) out += ':';
        out += digits[md[i] >> 4];
        out += digits[md[i] & 15];
    }
    return out;
}

TlsSessionPtr TlsLink::session() const {
    if (session_) return session_;
    SSL_SESSION* s = SSL_get1_session(ssl_);
    return s ? TlsSessionPtr(s, SSL_SESSION_free) : nullptr;
}

} // namespace net
