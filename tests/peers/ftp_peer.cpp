#include "peers/ftp_peer.h"

#include "support/tempdir.h"

#include <filesystem>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace testpeers {

std::string FtpPeer::scriptPath() {
    return std::string(WAVETRAP_TEST_SOURCE_DIR) + "/peers/ftp_server.py";
}

bool FtpPeer::start(const FtpPeerOptions& options) {
    options_ = options;
    return restart();
}

bool FtpPeer::restart() {
    proc_.kill();
    std::vector<std::string> args = {
        scriptPath(), "--host",     options_.host, "--port", std::to_string(options_.port),
        "--root",     options_.root};
    if (!options_.user.empty()) {
        args.insert(args.end(), {"--user", options_.user, "--password", options_.password});
    }
    if (!options_.anonymous) args.push_back("--no-anonymous");
    if (options_.refuseRest) args.push_back("--no-rest");
    for (const std::string& cmd : options_.refuse) {
        args.push_back("--refuse");
        args.push_back(cmd);
    }
    if (!options_.activeFault.empty()) args.insert(args.end(), {"--active-fault", options_.activeFault});
    if (options_.rateLimit > 0) args.insert(args.end(), {"--rate", std::to_string(options_.rateLimit)});
    // Debian's Python: its modules import only under /usr/bin/python3.
    if (!proc_.start("/usr/bin/python3", args)) return false;
    // Port 0 the first time: the server binds a free one and says which.
    const int port = proc_.waitForReportedPort();
    if (port == 0 || (options_.port != 0 && port != options_.port)) return false;
    options_.port = port;
    return true;
}

bool VsftpdPeer::available() {
    return std::filesystem::exists("/usr/sbin/vsftpd");
}

bool VsftpdPeer::start(const std::string& root, bool allowPort, const std::string& host,
                       const std::string& extra) {
    host_ = host;
    port_ = 0;
    const passwd* pw = ::getpwuid(::getuid());
    // IPv4 or IPv6 (vsftpd listens on one family at a time).
    const bool v6 = host.find(':') != std::string::npos;
    const std::string listen = v6 ? "listen=NO\nlisten_ipv6=YES\nlisten_address6=" + host
                                  : "listen=YES\nlisten_ipv6=NO\nlisten_address=" + host;
    const std::string conf = listen +
                             "\nlisten_port=0"
                             "\nbackground=NO\nrun_as_launching_user=YES\n"
                             "anonymous_enable=YES\nno_anon_password=YES\nanon_root=" +
                             root +
                             "\nlocal_enable=NO\nwrite_enable=NO\nport_enable=" + (allowPort ? "YES" : "NO") +
                             "\npasv_enable=YES" + (v6 ? std::string() : "\npasv_address=" + host) +
                             "\nseccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\nxferlog_enable=NO\n"
                             "ftp_username=" +
                             (pw ? pw->pw_name : "ftp") + "\n" + extra;
    testsupport::writeFile(dir_.file("vsftpd.conf"), conf);
    if (!proc_.start("/usr/sbin/vsftpd", {dir_.file("vsftpd.conf")})) return false;
    // It binds a free port of its own choosing; the one its listening socket got.
    port_ = proc_.waitForListener(host_);
    return port_ != 0;
}

} // namespace testpeers
