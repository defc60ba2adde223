#pragma once
// Pieces the client harnesses share: loopback sockets for the server side
// (plain non-blocking POSIX sockets, served between turns of the event loop
// the client runs on), and a scratch directory the client writes into.

#include "platform/eventloop.h"

#include <QCoreApplication>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace fuzzpeer {

// The fuzzer's own directory, for a harness that runs in another: a broken
// property goes back there before it aborts, so the fuzzer writes the input
// to its relative -artifact_prefix.
inline std::string startDir;

inline void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "property broken: %s\n", what);
    if (!startDir.empty() && ::chdir(startDir.c_str()) != 0) std::perror("chdir");
    std::abort();
}

// "\r" and "\n" in the text of a script line stand for CR and LF.
inline std::string unescape(std::string_view t) {
    std::string out;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i] == '\\' && i + 1 < t.size() && (t[i + 1] == 'r' || t[i + 1] == 'n')) {
            out += t[++i] == 'r' ? '\r' : '\n';
        } else {
            out += t[i];
        }
    }
    return out;
}

// n bytes of the fill pattern the tests' files use.
inline std::string fill(std::int64_t n) {
    std::string s(static_cast<std::size_t>(n), '\0');
    for (std::int64_t i = 0; i < n; ++i)
        s[static_cast<std::size_t>(i)] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

// One turn of the client's event loop: what is ready runs, then a pause of
// a tenth of a millisecond for the kernel to pass bytes along.
inline void turn() {
    platform::processEvents();
    ::usleep(100);
}

inline void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// The loopback address of a family, with a port.
inline sockaddr_storage loopback(bool v6, int port) {
    sockaddr_storage s{};
    if (v6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&s);
        a->sin6_family = AF_INET6;
        a->sin6_addr = in6addr_loopback;
        a->sin6_port = htons(static_cast<std::uint16_t>(port));
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&s);
        a->sin_family = AF_INET;
        a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a->sin_port = htons(static_cast<std::uint16_t>(port));
    }
    return s;
}

// A listening socket on 127.0.0.1 (or ::1) and a free port (answered in port).
inline int listenLoopback(int& port, bool v6 = false) {
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) std::abort();
    sockaddr_storage a = loopback(v6, 0);
    socklen_t len = v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        std::abort();
    port = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&a)->sin6_port
                    : reinterpret_cast<sockaddr_in*>(&a)->sin_port);
    return fd;
}

// The next pending connection, or -1.
inline int acceptOne(int listener) {
    if (listener < 0) return -1;
    return ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
}

// A connection to 127.0.0.1:port (or [::1]:port) under way (non-blocking), or -1.
inline int connectLoopback(int port, bool v6 = false) {
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) std::abort();
    const sockaddr_storage a = loopback(v6, port);
    const socklen_t len = v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), len) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Sends all of text, turning the event loop while the socket is full (the
// client reads meanwhile); answers how many bytes went out before the peer
// went away or the bound was reached.
inline std::size_t sendAll(int fd, std::string_view text, int maxTurns = 200) {
    std::size_t sent = 0;
    for (int t = 0; sent < text.size() && t < maxTurns;) {
        const ssize_t w = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (w > 0) {
            sent += static_cast<std::size_t>(w);
        } else if (w < 0 && (errno == EAGAIN || errno == EINTR || errno == ENOTCONN)) {
            turn();
            ++t;
        } else {
            break;
        }
    }
    return sent;
}

// Appends what fd holds now to out; false once the peer has closed.
inline bool readAvailable(int fd, std::string& out) {
    char buf[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EINTR);
    }
}

// A fresh directory under $TMPDIR made the current one for the life of the
// object; its names are listed on demand and it is emptied and removed at
// the end (files only: the client makes no directories).
class ScratchDir {
public:
    ScratchDir() {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzzdir.XXXXXX";
        std::vector<char> buf(templ.begin(), templ.end());
        buf.push_back('\0');
        if (!::mkdtemp(buf.data())) std::abort();
        path_ = buf.data();
        char cwd[4096];
        if (!::getcwd(cwd, sizeof cwd) || ::chdir(path_.c_str()) != 0) std::abort();
        old_ = cwd;
    }
    ~ScratchDir() {
        for (const std::string& n : names())
            ::unlink((path_ + "/" + n).c_str());
        if (::chdir(old_.c_str()) != 0) std::abort();
        ::rmdir(path_.c_str());
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::vector<std::string> names() const {
        std::vector<std::string> out;
        if (DIR* d = ::opendir(path_.c_str())) {
            while (const dirent* e = ::readdir(d)) {
                const std::string n = e->d_name;
                if (n != "." && n != "..") out.push_back(n);
            }
            ::closedir(d);
        }
        return out;
    }

private:
    std::string path_, old_;
};

// The whole content of a file, or false when there is none.
inline bool readFile(const std::string& name, std::string& out) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    out.clear();
    char buf[8192];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        out.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    return true;
}

inline bool writeFile(const std::string& name, std::string_view text) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

// The harnesses need an application object for the event loop.
inline void initApp(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
}

// The reply that names a passive data port of 127.0.0.1: 229 (EPSV) or 227.
inline std::string passiveReply(bool epsv, int port) {
    return epsv ? "229 Entering Extended Passive Mode (|||" + std::to_string(port) + "|)\r\n"
                : "227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," +
                      std::to_string(port % 256) + ")\r\n";
}

// Plays an FTP server's script, one step a line, on a harness's run (which
// closes the sending side of its data connection in r.shutData()):
//   S text  reply line (CR LF added)      R text  raw control bytes (\r \n)
//   W       wait for the client's next command line
//   E / Q   open a passive port and send the 229 / 227 reply naming it
//   P       the data connection            D text  data bytes (\r \n)
//   F n     n bytes of the fill pattern    C       close the data connection
//   T n     n turns of the event loop
// Other letters go to r.otherStep(letter); the run says whether to go on
// (r.goOn()) and sees each step first (r.onStep(line)).
template <class Run> void playScript(Run& r, std::string_view script, std::int64_t maxFill) {
    std::size_t pos = 0;
    while (pos < script.size() && r.goOn()) {
        std::size_t end = script.find('\n', pos);
        if (end == std::string_view::npos) end = script.size();
        const std::string_view line = script.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty()) continue;
        const std::string_view arg = line.substr(line.size() > 1 && line[1] == ' ' ? 2 : 1);
        r.onStep(line);
        switch (line[0]) {
        case 'S':
            r.sendControl(std::string(arg) + "\r\n");
            break;
        case 'R':
            r.sendControl(unescape(arg));
            break;
        case 'W':
            r.waitFor([&] { return r.lines.size() > r.linesTaken; });
            if (r.lines.size() > r.linesTaken) ++r.linesTaken;
            break;
        case 'E':
        case 'Q':
            r.openPassive(line[0] == 'E');
            break;
        case 'P':
            r.dataConnect();
            break;
        case 'D':
            r.sendData(unescape(arg));
            break;
        case 'F':
            r.sendData(fill(std::min<std::int64_t>(
                std::strtoll(std::string(arg).c_str(), nullptr, 10) & 0xFFFFF, maxFill)));
            break;
        case 'C':
            r.shutData();
            r.turn();
            break;
        case 'T': {
            const long n = std::strtol(std::string(arg).c_str(), nullptr, 10);
            for (long t = 0; t < std::min(std::max(n, 1L), 100L) && r.turnsLeft > 0; ++t)
                r.turn();
            break;
        }
        default:
            r.otherStep(line[0]);
            break;
        }
    }
}

} // namespace fuzzpeer
