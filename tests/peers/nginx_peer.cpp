#include "peers/nginx_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>

namespace testpeers {

namespace {

// A listening socket on 127.0.0.1, port 0, left open across exec; -1 on failure.
int listenLoopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 128) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(a.sin_port);
    return fd;
}

// Whether an HTTP server answers on the port within maxMs (connections
// wait in the backlog until nginx accepts them).
bool answers(int port, int maxMs) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    static const char probe[] = "HEAD / HTTP/1.0\r\n\r\n";
    bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
              ::send(fd, probe, sizeof probe - 1, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof probe - 1);
    if (ok) {
        pollfd p{fd, POLLIN, 0};
        char c = 0;
        ok = ::poll(&p, 1, maxMs) == 1 && ::recv(fd, &c, 1, 0) == 1;
    }
    if (fd >= 0) ::close(fd);
    return ok;
}

std::string replaceAll(std::string s, const std::string& what, const std::string& with) {
    for (auto at = s.find(what); at != std::string::npos; at = s.find(what, at + with.size()))
        s.replace(at, what.size(), with);
    return s;
}

} // namespace

bool NginxPeer::start(const std::string& root, const std::string& extra, const ServerCert* tls) {
    stop();
    int fds[2] = {listenLoopback(port_), tls ? listenLoopback(tlsPort_) : -1};
    const auto closeFds = [&fds] {
        for (int& fd : fds)
            if (fd >= 0) ::close(fd), fd = -1;
    };
    if (fds[0] < 0 || (tls && fds[1] < 0)) {
        closeFds();
        return false;
    }
    const std::string d = dir_.path();
    std::filesystem::create_directories(d + "/temp");
    const std::string body = replaceAll(extra, "%HTTP%", "http://127.0.0.1:" + std::to_string(port_));
    std::string conf = "user root root;\ndaemon off;\nmaster_process on;\nworker_processes 1;\n"
                       "error_log " +
                       d + "/error.log notice;\npid " + d +
                       "/nginx.pid;\n"
                       "events { worker_connections 256; }\nhttp {\n  access_log off;\n"
                       "  default_type application/octet-stream;\n  sendfile on;\n";
    for (const char* t : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        conf += std::string("  ") + t + "_temp_path " + d + "/temp;\n";
    conf += "  server {\n    listen 127.0.0.1:" + std::to_string(port_) + ";\n    root " + root + ";\n" +
            body + "\n  }\n";
    if (tls)
        conf += "  server {\n    listen 127.0.0.1:" + std::to_string(tlsPort_) +
                " ssl;\n    ssl_certificate " + tls->cert + ";\n    ssl_certificate_key " + tls->key +
                ";\n    root " + root + ";\n" + body + "\n  }\n";
    conf += "}\n";
    testsupport::writeFile(d + "/nginx.conf", conf);
    std::string inherited = std::to_string(fds[0]) + ";";
    if (tls) inherited += std::to_string(fds[1]) + ";";
    bool started;
    {
        testsupport::ScopedEnv env("NGINX", inherited);
        started = proc_.start("/usr/sbin/nginx", {"-e", d + "/error.log", "-p", d, "-c", d + "/nginx.conf"});
    }
    closeFds(); // nginx holds them now
    return started && answers(port_, 10000) && proc_.running();
}

std::string NginxPeer::log() const {
    std::string out = proc_.output();
    std::error_code ec;
    if (std::filesystem::exists(dir_.path() + "/error.log", ec))
        out += testsupport::readFile(dir_.path() + "/error.log");
    return out;
}

} // namespace testpeers
