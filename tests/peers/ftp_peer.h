#pragma once
// A real FTP server for the tests: Debian's pyftpdlib (run with
// /usr/bin/python3) on a loopback address and a port it binds itself, serving a
// directory read-only to anonymous and read-write to one user with a password.

#include "peers/process.h"
#include "support/tempdir.h"

#include <string>
#include <vector>

namespace testpeers {

struct FtpPeerOptions {
    std::string host = "127.0.0.1"; // a loopback address 127.0.0.N
    int port = 0;                   // 0: the server binds a free one
    std::string root;               // the directory served (must exist)
    std::string user = "wavetrap";  // the one user besides anonymous
    std::string password = "secret";
    bool anonymous = true;           // let anonymous in (read only)
    bool refuseRest = false;         // answer REST with 502
    std::vector<std::string> refuse; // commands answered with 500 ("PORT", "EPSV")
    int rateLimit = 0;               // bytes per second sent on data connections (0: no limit)
    std::string activeFault;         // "425": PORT accepted, transfers answered 425; "silent": never connects
};

class FtpPeer {
public:
    FtpPeer() = default;
    ~FtpPeer() { stop(); }
    FtpPeer(const FtpPeer&) = delete;
    FtpPeer& operator=(const FtpPeer&) = delete;

    // Starts the server and waits until it accepts connections.
    bool start(const FtpPeerOptions& options);
    // Kills the server at once (SIGKILL), connections included.
    void kill() { proc_.kill(); }
    // Ends the server with SIGTERM (SIGKILL when it lingers).
    void stop() { proc_.terminate(); }
    // Starts it again on the same address and port.
    bool restart();
    bool running() const { return proc_.running(); }

    const std::string& host() const { return options_.host; }
    int port() const { return options_.port; }
    const std::string& root() const { return options_.root; }
    const FtpPeerOptions& options() const { return options_; }
    // What the server wrote (for the message of a failing test).
    std::string output() const { return proc_.output(); }

    // Where the server script lives.
    static std::string scriptPath();

private:
    FtpPeerOptions options_;
    ChildProcess proc_;
};

// Debian's vsftpd on a loopback address and a port it binds itself (found
// through its listening socket), anonymous only,
// read-only, with a configuration file of its own; PORT refused
// (port_enable=NO) unless allowPort: a server that wants passive mode.
class VsftpdPeer {
public:
    VsftpdPeer() = default;
    ~VsftpdPeer() { proc_.terminate(); }
    VsftpdPeer(const VsftpdPeer&) = delete;
    VsftpdPeer& operator=(const VsftpdPeer&) = delete;

    static bool available();
    // extra: more configuration lines (the TLS settings, say).
    bool start(const std::string& root, bool allowPort = false, const std::string& host = "127.0.0.1",
               const std::string& extra = "");
    const std::string& host() const { return host_; }
    int port() const { return port_; }
    std::string output() const { return proc_.output(); }

private:
    testsupport::TempDir dir_;
    ChildProcess proc_;
    std::string host_;
    int port_ = 0;
};

} // namespace testpeers
