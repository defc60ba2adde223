#include "peers/ftp_peer.h"

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
    if (options_.rateLimit > 0) args.insert(args.end(), {"--rate", std::to_string(options_.rateLimit)});
    // Debian's Python: its modules import only under /usr/bin/python3.
    if (!proc_.start("/usr/bin/python3", args)) return false;
    return proc_.waitForPort(options_.host, options_.port, 15000);
}

} // namespace testpeers
