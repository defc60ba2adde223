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
    if (options_.port == 0) options_.port = freePort(options_.host);
    if (options_.port == 0) return false;
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
    return proc_.waitForPort(options_.host, options_.port, 15000);
}

bool VsftpdPeer::available() {
    return std::filesystem::exists("/usr/sbin/vsftpd");
}

bool VsftpdPeer::start(const std::string& root, bool allowPort, const std::string& host,
                       const std::string& extra) {
    host_ = host;
    port_ = freePort(host);
    if (port_ == 0) return false;
    const passwd* pw = ::getpwuid(::getuid());
    const std::string conf =
        "listen=YES\nlisten_ipv6=NO\nlisten_address=" + host + "\nlisten_port=" + std::to_string(port_) +
        "\nbackground=NO\nrun_as_launching_user=YES\n"
        "anonymous_enable=YES\nno_anon_password=YES\nanon_root=" +
        root + "\nlocal_enable=NO\nwrite_enable=NO\nport_enable=" + (allowPort ? "YES" : "NO") +
        "\npasv_enable=YES\npasv_address=" + host +
        "\nseccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\nxferlog_enable=NO\n"
        "ftp_username=" +
        (pw ? pw->pw_name : "ftp") + "\n" + extra;
    testsupport::writeFile(dir_.file("vsftpd.conf"), conf);
    if (!proc_.start("/usr/sbin/vsftpd", {dir_.file("vsftpd.conf")})) return false;
    return proc_.waitForPort(host_, port_, 10000);
}

} // namespace testpeers
