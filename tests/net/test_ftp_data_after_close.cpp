// TFtpClient when the server confirms a transfer (150, 226) and closes the
// control connection before the client has taken the data connection: the
// passive one still being made, or the active one waiting at the data port
// unaccepted. The request ends with the data connection, holding what the
// server sent; without any data connection it fails. The server is played
// with plain sockets here, so that its steps land between two turns of the
// client's event loop exactly as written.
#include "ftp_recorder.h"
#include "net/ftpcli.h"
#include "peers/dialogue_server.h"
#include "platform/eventloop.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

using namespace net;

namespace {

int listenOn(int backlog, int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return -1;
    port = ntohs(a.sin_port);
    return fd;
}

// A connection made at once (blocking) to 127.0.0.1:port from the address
// given, or -1.
int connectTo(int port, const char* from = "127.0.0.1") {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &a.sin_addr);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    if (fd >= 0) ::close(fd);
    return -1;
}

// The next connection waiting at a listening socket, without blocking; -1: none.
int acceptNow(int fd) {
    return ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool sendAll(int fd, const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n <= 0) return false;
        at += static_cast<std::size_t>(n);
    }
    return true;
}

// The server's control side: lines from the client, replies to it.
struct Control {
    int listener = -1, fd = -1, port = 0;
    std::string in;
    Control() { listener = listenOn(4, port); }
    ~Control() {
        closeFd(fd);
        closeFd(listener);
    }
    bool accept() {
        return platform::runUntil([&] { return (fd = acceptNow(listener)) >= 0; }, 5000);
    }
    // The client's next line (the event loop runs meanwhile), or "" after 5 s.
    std::string line() {
        std::string got;
        platform::runUntil(
            [&] {
                char buf[512];
                ssize_t n;
                while ((n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0)
                    in.append(buf, static_cast<std::size_t>(n));
                const auto end = in.find("\r\n");
                if (end == std::string::npos) return false;
                got = in.substr(0, end);
                in.erase(0, end + 2);
                return true;
            },
            5000);
        return got;
    }
    bool send(const std::string& text) { return sendAll(fd, text); }
};

enum class DataWay {
    PassiveStillConnecting, // the client's connection waits for the server's listening socket
    PassiveRefusedLater,    // ... which closes instead of taking it
    ActiveWaitingAtPort,    // the server connected and sent everything before its replies
    ActiveNever,            // the server never connects
};

} // namespace

TEST(FtpDataAfterClose, TheRequestEndsWithTheDataConnection) {
    const std::string file = testpeers::fillBytes(0, 2001);
    struct Row {
        const char* name;
        DataWay way;
        int error;
        std::string local; // the local file at the end
    };
    const Row rows[] = {
        {"passive, still connecting", DataWay::PassiveStillConnecting, 0, file},
        {"passive, refused after the close", DataWay::PassiveRefusedLater, 425, ""},
        {"active, waiting at the data port", DataWay::ActiveWaitingAtPort, 0, file},
        {"active, never connected", DataWay::ActiveNever, 426, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const bool passive =
            row.way == DataWay::PassiveStillConnecting || row.way == DataWay::PassiveRefusedLater;
        testsupport::TempDir dir;
        ftptest::ScopedCwd cwd(dir.path());
        Control server;
        ASSERT_GE(server.listener, 0);
        TFtpClient c;
        ftptest::Recorder r(c);
        c.HostName = "127.0.0.1";
        c.Port = std::to_string(server.port);
        c.UserName = "anonymous";
        c.PassWord = "guest@";
        c.HostFileName = c.LocalFileName = "song.mp3";
        c.Passive = passive;
        c.Timeout = 25;

        c.Open();
        ASSERT_TRUE(server.accept());
        server.send("220 ready\r\n");
        ASSERT_TRUE(r.waitDone(1));
        c.User();
        ASSERT_EQ(server.line(), "USER anonymous");
        server.send("230 ok\r\n");
        ASSERT_TRUE(r.waitDone(2));
        ASSERT_EQ(r.done[1], std::make_pair(2, 0));

        c.Get();
        int pasv = -1, filler = -1, data = -1, dataPort = 0;
        if (passive) {
            // A listening socket whose queue is full: the client's connection
            // stays under way (its SYN is dropped, and sent again a second later).
            int port = 0;
            pasv = listenOn(0, port);
            filler = connectTo(port);
            ASSERT_GE(filler, 0);
            ASSERT_EQ(server.line(), "EPSV");
            server.send("229 Entering Extended Passive Mode (|||" + std::to_string(port) + "|)\r\n");
        } else {
            const std::string port = server.line();
            unsigned h[4], p[2];
            ASSERT_EQ(
                std::sscanf(port.c_str(), "PORT %u,%u,%u,%u,%u,%u", &h[0], &h[1], &h[2], &h[3], &p[0], &p[1]),
                6)
                << port;
            server.send("200 ok\r\n");
            dataPort = static_cast<int>(p[0] * 256 + p[1]);
        }
        ASSERT_EQ(server.line(), "RETR song.mp3");
        server.send("150 Opening data connection.\r\n226 Transfer complete.\r\n");
        if (row.way == DataWay::ActiveWaitingAtPort) {
            ASSERT_TRUE(platform::runUntil([&] { return r.shown("< 226 Transfer complete."); }, 5000));
            // A connection from another address first, refused: the data port
            // is then looked at again after the control connection.
            int other = connectTo(dataPort, "127.0.0.2");
            ASSERT_TRUE(platform::runUntil([&] { return r.shownContaining("127.0.0.2 refused"); }, 5000));
            closeFd(other);
            // Connected, the whole file sent, the data connection and the
            // control connection closed, all before the client's loop turns again.
            data = connectTo(dataPort);
            ASSERT_GE(data, 0);
            ASSERT_TRUE(sendAll(data, file));
            closeFd(data);
        }
        closeFd(server.fd);
        // The client sees the control connection close.
        ASSERT_TRUE(platform::runUntil([&] { return r.sessionClosed > 0; }, 5000));
        if (row.way == DataWay::PassiveStillConnecting) {
            // Room in the queue: the client's next attempt gets through.
            closeFd(filler);
            int queued = acceptNow(pasv);
            closeFd(queued);
            ASSERT_TRUE(platform::runUntil([&] { return (data = acceptNow(pasv)) >= 0 || r.done.size() > 2; },
                                           10000));
            if (data >= 0) {
                EXPECT_TRUE(sendAll(data, file));
                closeFd(data);
            }
        } else if (row.way == DataWay::PassiveRefusedLater) {
            closeFd(filler);
            closeFd(pasv); // the client's next attempt is refused
        }
        ASSERT_TRUE(r.waitDone(3, 15000)) << ftptest::shownLines(r);
        EXPECT_EQ(r.done[2], std::make_pair(10, row.error)) << c.ErrorMessage();
        EXPECT_TRUE(ftptest::fileHolds(dir.file("song.mp3"), row.local));
        closeFd(pasv);
        closeFd(filler);
        closeFd(data);
    }
}
