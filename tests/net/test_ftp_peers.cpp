// The test peers themselves: the child-process launcher and the pyftpdlib
// server it starts (other suites rely on both behaving).
#include "peers/ftp_peer.h"
#include "peers/process.h"
#include "support/tempdir.h"

#include <QHostAddress>
#include <QTcpServer>

#include <gtest/gtest.h>

using namespace testpeers;

TEST(TestProcess, ClosedPortRefusesAndNoServerCanTakeIt) {
    for (const char* host : {"127.0.0.1", "127.0.0.7"}) {
        const ClosedPort closed(host);
        ASSERT_GT(closed.port(), 0) << host;
        EXPECT_FALSE(portAccepts(host, closed.port())) << host;
        QTcpServer other; // binds with SO_REUSEADDR, as the servers do
        EXPECT_FALSE(other.listen(QHostAddress(host), static_cast<quint16>(closed.port()))) << host;
    }
}

TEST(TestProcess, ChildThatNeverListensEndsTheWaitWhenItExits) {
    ChildProcess child;
    ASSERT_TRUE(child.start("/bin/sh", {"-c", "echo gone; exit 3"}));
    EXPECT_EQ(child.waitForReportedPort(10000), 0);
    EXPECT_FALSE(child.running());
    EXPECT_EQ(child.exitCode(), 3);
    EXPECT_EQ(child.output(), "gone\n");
    ASSERT_TRUE(child.start("/bin/sh", {"-c", "exit 4"}));
    EXPECT_EQ(child.waitForListener("127.0.0.1", 0, 10000), 0);
    EXPECT_EQ(child.exitCode(), 4);
}

TEST(TestProcess, TheListenerFoundIsTheChildsOwn) {
    // Someone else listens on the loopback address; the child listens on
    // another port after a moment. Only the child's own socket counts.
    QTcpServer stranger;
    ASSERT_TRUE(stranger.listen(QHostAddress("127.0.0.1"), 0));
    ChildProcess child;
    ASSERT_TRUE(
        child.start("/usr/bin/python3", {"-c", "import socket,time\n"
                                               "time.sleep(0.2)\n"
                                               "s=socket.socket(); s.bind(('127.0.0.1',0)); s.listen()\n"
                                               "print('port', s.getsockname()[1], flush=True)\n"
                                               "time.sleep(60)\n"}));
    const int port = child.waitForListener("127.0.0.1");
    ASSERT_GT(port, 0) << child.output();
    EXPECT_NE(port, stranger.serverPort());
    EXPECT_EQ(child.waitForReportedPort(), port);
    EXPECT_EQ(listeningPort(child.pid(), "127.0.0.1", stranger.serverPort()), 0);
    EXPECT_EQ(listeningPort(child.pid(), "127.0.0.2"), 0);
}

TEST(TestProcess, KillAndTerminateReapTheChild) {
    ChildProcess a, b;
    ASSERT_TRUE(a.start("/bin/sleep", {"60"}));
    ASSERT_TRUE(b.start("/bin/sleep", {"60"}));
    EXPECT_TRUE(a.running());
    a.kill();
    EXPECT_FALSE(a.running());
    b.terminate(3000);
    EXPECT_FALSE(b.running());
}

TEST(TestFtpPeer, ServesOnChosenLoopbackAddressAndRestartsOnTheSamePort) {
    testsupport::TempDir dir;
    FtpPeer peer;
    FtpPeerOptions opt;
    opt.host = "127.0.0.3";
    opt.root = dir.path();
    ASSERT_TRUE(peer.start(opt)) << peer.output();
    const int port = peer.port();
    EXPECT_TRUE(portAccepts("127.0.0.3", port));
    peer.kill();
    EXPECT_FALSE(peer.running());
    EXPECT_FALSE(portAccepts("127.0.0.3", port));
    ASSERT_TRUE(peer.restart()) << peer.output();
    EXPECT_EQ(peer.port(), port);
    EXPECT_TRUE(portAccepts("127.0.0.3", port));
}

// ---- The scripted dialogue server, driven by a plain Qt client -----------

#include "peers/dialogue_server.h"
#include "platform/eventloop.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

struct PlainClient {
    QTcpSocket sock;
    std::string in;
    std::vector<std::size_t> packets; // size of every read
    explicit PlainClient(const DialogueServer& server) {
        QObject::connect(&sock, &QTcpSocket::readyRead, [this] {
            const auto bytes = sock.readAll().toStdString();
            packets.push_back(bytes.size());
            in += bytes;
        });
        sock.connectToHost(QHostAddress(QString::fromStdString(server.host())),
                           static_cast<quint16>(server.port()));
    }
    void send(const std::string& line) { sock.write((line + "\r\n").c_str()); }
};

} // namespace

TEST(TestDialogueServer, PlaysLinesChecksCommandsAndSplitsPackets) {
    DialogueServer server;
    ASSERT_TRUE(server.start(Dialogue::fromText("# greeting in two packets\n"
                                                "R: 220-first\\r\\n220 la\n"
                                                "SPLIT\n"
                                                "S: st\n"
                                                "C: USER bob\n"
                                                "S: 331 a\n"
                                                "S: 230 b\n"
                                                "C: QUIT\n"
                                                "E: done 1 0\n"
                                                "CLOSE\n"),
                             "127.0.0.4"));
    EXPECT_EQ(server.dialogue().expected, std::vector<std::string>{"done 1 0"});
    PlainClient client(server);
    ASSERT_TRUE(platform::runUntil([&] { return client.in.size() >= 21; }, 5000));
    EXPECT_EQ(client.in, "220-first\r\n220 last\r\n");
    EXPECT_GE(client.packets.size(), 2u);
    client.send("USER bob");
    ASSERT_TRUE(platform::runUntil([&] { return client.in.size() >= 31; }, 5000));
    EXPECT_EQ(client.in.substr(21), "331 a\r\n230 b\r\n");
    client.send("QUIT");
    ASSERT_TRUE(platform::runUntil([&] { return server.finished(); }, 5000)) << server.where();
    EXPECT_TRUE(
        platform::runUntil([&] { return client.sock.state() == QAbstractSocket::UnconnectedState; }, 5000));
    EXPECT_TRUE(server.errors().empty());
    EXPECT_EQ(server.received(), (std::vector<std::string>{"USER bob", "QUIT"}));
    EXPECT_EQ(server.connections(), 1);
}

TEST(TestDialogueServer, ReportsAWrongCommandAndConnectsBackForData) {
    QTcpServer listener;
    ASSERT_TRUE(listener.listen(QHostAddress("127.0.0.1"), 0));
    const int p = listener.serverPort();
    DialogueServer server;
    ASSERT_TRUE(server.start(Dialogue::fromText("S: 220 hi\n"
                                                "CP: PORT 127,0,0,1\n"
                                                "DATACONNECT\n"
                                                "DATAFILL 5 3000\n"
                                                "DATACLOSE\n"
                                                "DATAWAITCLOSE\n"
                                                "S: 226 ok\n"
                                                "C: NOOP\n")));
    PlainClient client(server);
    ASSERT_TRUE(platform::runUntil([&] { return !client.in.empty(); }, 5000));
    client.send("PORT 127,0,0,1," + std::to_string(p / 256) + "," + std::to_string(p % 256));
    ASSERT_TRUE(platform::runUntil([&] { return listener.hasPendingConnections(); }, 5000));
    QTcpSocket* data = listener.nextPendingConnection();
    std::string got;
    QObject::connect(data, &QTcpSocket::readyRead, [&] { got += data->readAll().toStdString(); });
    got += data->readAll().toStdString();
    // The server half-closes after the bytes; Qt then closes its end, and
    // only after that does the server send the 226.
    ASSERT_TRUE(platform::runUntil(
        [&] { return got.size() == 3000 && data->state() == QAbstractSocket::UnconnectedState; }, 5000))
        << got.size();
    EXPECT_EQ(got, fillBytes(5, 3000));
    ASSERT_TRUE(platform::runUntil([&] { return client.in.size() > 8; }, 5000));
    EXPECT_EQ(client.in, "220 hi\r\n226 ok\r\n");
    client.send("NOOP x");
    ASSERT_TRUE(platform::runUntil([&] { return !server.errors().empty(); }, 5000));
    EXPECT_NE(server.errors()[0].find("expected 'NOOP', the client sent 'NOOP x'"), std::string::npos)
        << server.errors()[0];
    EXPECT_TRUE(server.finished());
}
