#pragma once
// nginx (Debian's nginx-light) serving a directory over HTTP, and over HTTPS
// too when given a certificate. The test binds the listening sockets itself
// (127.0.0.1, port 0) and hands them to nginx through its inherited-socket
// variable ("NGINX=<fd>;<fd>;"); the configuration's listen lines name the
// same ports, so no port is chosen first and bound later. Configuration,
// logs, pid and temporary files live in a temporary directory; nginx runs in
// the foreground and is stopped when the peer goes.

#include "peers/process.h"
#include "peers/test_ca.h"
#include "support/tempdir.h"

#include <string>

namespace testpeers {

class NginxPeer {
public:
    NginxPeer() = default;
    ~NginxPeer() { stop(); }
    NginxPeer(const NginxPeer&) = delete;
    NginxPeer& operator=(const NginxPeer&) = delete;

    // Serves root. extra goes into every server block (locations such as
    // "location /slow/ { limit_rate 20k; }"); in it "%HTTP%" stands for
    // "http://127.0.0.1:<the HTTP port>". Waits until nginx answers.
    bool start(const std::string& root, const std::string& extra = "", const ServerCert* tls = nullptr);
    void stop() { proc_.terminate(); }

    int port() const { return port_; }
    int tlsPort() const { return tlsPort_; }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::string tlsUrl(const std::string& path) const {
        return "https://127.0.0.1:" + std::to_string(tlsPort_) + path;
    }
    // nginx's own output and error log.
    std::string log() const;

private:
    testsupport::TempDir dir_;
    ChildProcess proc_;
    int port_ = 0, tlsPort_ = 0;
};

} // namespace testpeers
