// TWSocket against peers on loopback: the order of its events, the error
// codes and texts, the send queue, the guard against a handler that reads
// nothing, closing and destroying from inside events.
#include "net/wsocket.h"
#include "peers/process.h"
#include "platform/eventloop.h"
#include "platform/socket.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace net;

namespace {

// A peer on 127.0.0.1 built on Qt's own sockets, so the socket under test
// never talks to itself.
class Peer {
public:
    Peer() {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            conn_ = server_.nextPendingConnection();
            QObject::connect(conn_, &QTcpSocket::readyRead,
                             [this] { received += conn_->readAll().toStdString(); });
            QObject::connect(conn_, &QTcpSocket::disconnected, [this] { peerSawClose = true; });
        });
    }
    std::string port() const { return std::to_string(server_.serverPort()); }
    bool waitConnection() {
        return platform::runUntil([&] { return conn_ != nullptr; }, 5000);
    }
    void write(const std::string& s) {
        conn_->write(s.data(), static_cast<qint64>(s.size()));
        conn_->flush();
    }
    void close() { conn_->disconnectFromHost(); }
    void reset() {
        linger l{1, 0};
        ::setsockopt(static_cast<int>(conn_->socketDescriptor()), SOL_SOCKET, SO_LINGER, &l, sizeof l);
        conn_->abort();
    }
    QTcpSocket* conn() { return conn_; }

    std::string received;
    bool peerSawClose = false;

private:
    QTcpServer server_;
    QTcpSocket* conn_ = nullptr;
};

// Records every event of a socket as a line, in order.
struct Recorder {
    std::vector<std::string> events;
    std::string data;
    int closed = 0;
    void attach(TWSocket& s, bool read = true) {
        s.OnChangeState = [this](TWSocket*, TSocketState o, TSocketState n) {
            events.push_back("state " + std::to_string(o) + ">" + std::to_string(n));
        };
        s.OnSessionConnected = [this](TWSocket*, std::uint16_t e) {
            events.push_back("connected " + std::to_string(e));
        };
        s.OnSessionClosed = [this](TWSocket*, std::uint16_t e) {
            ++closed;
            events.push_back("closed " + std::to_string(e));
        };
        s.OnDataSent = [this](TWSocket*, std::uint16_t e) { events.push_back("sent " + std::to_string(e)); };
        if (read) {
            s.OnDataAvailable = [this](TWSocket* sock, std::uint16_t) {
                char buf[100];
                const int n = sock->Receive(buf, sizeof buf);
                if (n > 0) data.append(buf, static_cast<std::size_t>(n));
                events.push_back("data " + std::to_string(n));
            };
        }
    }
    int count(const std::string& prefix) const {
        int n = 0;
        for (const auto& e : events)
            n += e.rfind(prefix, 0) == 0;
        return n;
    }
};

void connectTo(TWSocket& s, const std::string& port) {
    s.setAddr("127.0.0.1");
    s.setPort(port);
    s.Connect();
}

std::string raised(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const ESocketException& e) {
        return e.what();
    }
    return "(nothing raised)";
}

} // namespace

TEST(WSocket, ConnectExchangeAndPeerCloseInOrder) {
    Peer peer;
    TWSocket s;
    Recorder r;
    r.attach(s);
    connectTo(s, peer.port());
    EXPECT_EQ(s.State(), wsConnecting);
    ASSERT_TRUE(
        platform::runUntil([&] { return s.State() == wsConnected && r.count("connected") == 1; }, 5000));
    ASSERT_TRUE(peer.waitConnection());
    EXPECT_EQ(s.GetPeerName(), "127.0.0.1");
    EXPECT_NE(s.GetLocalPort(), "error");

    EXPECT_EQ(s.SendStr("hello"), 5);
    ASSERT_TRUE(platform::runUntil([&] { return peer.received == "hello" && r.count("sent") >= 1; }, 5000));

    // The peer writes 250 bytes and closes: every byte is read before the close is reported.
    peer.write(std::string(250, 'x'));
    peer.close();
    ASSERT_TRUE(platform::runUntil([&] { return r.closed == 1; }, 5000));
    EXPECT_EQ(r.data, std::string(250, 'x'));
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(s.ReadCount(), 0) << "reset after the close";
    s.Close(); // the owner's own close after the peer's: still one report
    platform::runUntil([] { return false; }, 50);
    EXPECT_EQ(r.closed, 1);

    const std::vector<std::string> head = {"state 7>1", "state 1>3", "state 3>4", "connected 0"};
    ASSERT_GE(r.events.size(), head.size());
    EXPECT_EQ(std::vector<std::string>(r.events.begin(), r.events.begin() + 4), head);
    // Data rounds, then the drain at the close (reading 0), then the close itself.
    const auto closedAt = std::find(r.events.begin(), r.events.end(), "closed 0");
    ASSERT_NE(closedAt, r.events.end());
    EXPECT_EQ(*(closedAt - 1), "data 0");
    EXPECT_EQ(*(closedAt + 1), "state 4>7");
}

TEST(WSocket, RefusedPortReports10061ThenCloses) {
    const testpeers::ClosedPort closed;
    const int port = closed.port();
    ASSERT_GT(port, 0);
    TWSocket s;
    Recorder r;
    r.attach(s);
    connectTo(s, std::to_string(port));
    ASSERT_TRUE(platform::runUntil([&] { return r.closed == 1; }, 5000));
    EXPECT_EQ(r.count("connected 10061"), 1);
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(WSocketErrorDesc(10061), "Connection refused");
}

// The addresses of a name are tried in turn: nothing listens on [::1] at
// the peer's port, so the connection is made to 127.0.0.1 with one report.
// An IPv6 listener takes a bracketed literal and names its peer plainly.
TEST(WSocket, TheAddressesOfANameAreTriedInTurnAndIpv6Works) {
    Peer peer;
    TWSocket s;
    Recorder r;
    r.attach(s);
    s.setProto("tcp");
    s.setAddrs({"::1", "127.0.0.1"});
    s.setPort(peer.port());
    s.Connect();
    ASSERT_TRUE(
        platform::runUntil([&] { return r.count("connected") == 1 && s.State() == wsConnected; }, 5000));
    EXPECT_EQ(r.count("connected 0"), 1);
    EXPECT_EQ(s.GetPeerName(), "127.0.0.1");

    TWSocket server;
    server.setAddr("[::1]");
    server.setPort("0");
    std::unique_ptr<TWSocket> accepted;
    server.OnSessionAvailable = [&](TWSocket* l, std::uint16_t) {
        accepted = std::make_unique<TWSocket>();
        accepted->Dup(l->Accept());
    };
    ASSERT_EQ(server.Listen(), 0);
    TWSocket client;
    client.setProto("tcp");
    client.setAddr("::1");
    client.setPort(server.GetLocalPort());
    client.Connect();
    ASSERT_TRUE(platform::runUntil([&] { return accepted && client.State() == wsConnected; }, 5000));
    EXPECT_EQ(client.GetPeerName(), "::1");
    EXPECT_EQ(accepted->GetPeerName(), "::1");
}

TEST(WSocket, PeerResetReports10054) {
    Peer peer;
    TWSocket s;
    Recorder r;
    r.attach(s);
    connectTo(s, peer.port());
    ASSERT_TRUE(peer.waitConnection());
    ASSERT_TRUE(platform::runUntil([&] { return s.State() == wsConnected; }, 5000));
    peer.reset();
    ASSERT_TRUE(platform::runUntil([&] { return r.closed == 1; }, 5000));
    EXPECT_EQ(r.count("closed 10054"), 1);
    EXPECT_EQ(s.State(), wsClosed);
}

TEST(WSocket, NameLookup) {
    TWSocket s;
    std::vector<int> done;
    s.OnDnsLookupDone = [&](TWSocket*, std::uint16_t e) { done.push_back(e); };

    s.DnsLookup("127.0.0.1");
    ASSERT_EQ(done, std::vector<int>{0}) << "a dotted address answers before DnsLookup returns";
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    done.clear();
    s.DnsLookup("127.1"); // answered in its normalised dotted form
    ASSERT_EQ(done, std::vector<int>{0});
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");

    done.clear();
    s.DnsLookup("nonexistent.invalid");
    EXPECT_TRUE(done.empty());
    ASSERT_TRUE(platform::runUntil([&] { return !done.empty(); }, 5000));
    EXPECT_EQ(done, std::vector<int>{11001});
    EXPECT_EQ(s.DnsResult(), "");

    done.clear();
    s.DnsLookup("localhost");
    s.CancelDnsLookup();
    EXPECT_EQ(done, std::vector<int>{10004});
    platform::runUntil([] { return false; }, 100);
    EXPECT_EQ(done, std::vector<int>{10004}) << "a cancelled lookup reports nothing more";

    done.clear();
    s.DnsLookup("localhost");
    ASSERT_TRUE(platform::runUntil([&] { return !done.empty(); }, 5000));
    EXPECT_EQ(done, std::vector<int>{0});
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");

    EXPECT_EQ(raised([&] { s.DnsLookup(""); }), "DNS lookup: invalid host name.");
    int errors = 0;
    done.clear();
    s.OnError = [&](TWSocket*) { ++errors; };
    s.DnsLookup("");
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(done, std::vector<int>{10022});
}

TEST(WSocket, MisuseTexts) {
    TWSocket s;
    EXPECT_EQ(raised([&] { s.Connect(); }), "Connect: No Port Specified");
    s.setPort("21");
    EXPECT_EQ(raised([&] { s.Connect(); }), "Connect: No IP Address Specified");
    EXPECT_EQ(raised([&] { s.setAddr("nonexistent.invalid"); }),
              "SetAddr: Cannot convert host address 'nonexistent.invalid'");
    EXPECT_EQ(raised([&] { s.setPort("no-such-service-name"); }),
              "Error 11004 in function SetPort: Cannot convert port 'no-such-service-name'\r\nNo Data");
    EXPECT_EQ(raised([&] { s.setProto("no-such-protocol"); }),
              "Error 11004 in function SetProto: Cannot convert protocol 'no-such-protocol'\r\nNo Data");
    TWSocket q; // a protocol that failed to convert stays unassigned
    q.setPort("21");
    q.setAddr("127.0.0.1");
    EXPECT_THROW(q.setProto("no-such-protocol"), ESocketException);
    EXPECT_EQ(raised([&] { q.Connect(); }), "Connect: No Protocol Specified");
    EXPECT_EQ(raised([&] { s.SendStr("x"); }), "Error 10057 in function Send\r\nSocket is not connected");
    EXPECT_EQ(s.LastError(), 10057);
    EXPECT_EQ(raised([&] { s.Accept(); }), "not a listening socket");
    EXPECT_EQ(raised([&] { s.setSendFlags(7); }), "Invalid SendFlags");
    EXPECT_EQ(raised([&] { s.Dup(-1); }), "Error 10022 in function Dup\r\nInvalid argument");

    // With OnError assigned the text is dropped and OnError called instead.
    int errors = 0;
    s.OnError = [&](TWSocket*) { ++errors; };
    TWSocket fresh;
    fresh.OnError = s.OnError;
    fresh.Connect();
    EXPECT_EQ(errors, 1);

    // Service names resolve through the system's database, numbers directly.
    TWSocket p;
    p.setProto("tcp");
    p.setPort("ftp");
    sockaddr_in a{};
    (void)a;
    p.setAddr("127.0.0.1");
    EXPECT_EQ(p.Port(), "ftp");
    TWSocket l;
    l.setAddr("127.0.0.1");
    l.setPort("0");
    ASSERT_EQ(l.Listen(), 0);
    EXPECT_EQ(l.State(), wsListening);
    EXPECT_EQ(raised([&] { l.setAddr("127.0.0.2"); }), "Cannot change Addr if not closed");
    EXPECT_EQ(raised([&] { l.setPort("1"); }), "Cannot change Port if not closed");
    EXPECT_EQ(raised([&] { l.setProto("udp"); }), "Cannot change Proto if not closed");
    EXPECT_EQ(raised([&] { l.Connect(); }), "Connect: Socket already in use");

    // Listening: the refusals in their order, and a bind that fails leaves the socket closed.
    TWSocket n;
    EXPECT_EQ(raised([&] { n.Listen(); }),
              "Error 10022 in function listen: port not assigned\r\nInvalid argument");
    n.setPort(l.GetLocalPort());
    EXPECT_EQ(raised([&] { n.Listen(); }),
              "Error 10022 in function listen: address not assigned\r\nInvalid argument");
    n.setAddr("127.0.0.1");
    EXPECT_EQ(raised([&] { n.Listen(); }), "Error 10048 in function Bind\r\nAddress already in use");
    EXPECT_EQ(n.State(), wsClosed);
    EXPECT_EQ(n.HSocket(), INVALID_SOCKET);
    std::uint16_t ftpPort = 0;
    ASSERT_TRUE(platform::lookupService("ftp", "tcp", ftpPort));
    EXPECT_EQ(ftpPort, 21);
}

TEST(WSocket, ConnectAfterCloseNeedsAddrAndPortAgain) {
    Peer peer;
    TWSocket s;
    connectTo(s, peer.port());
    ASSERT_TRUE(platform::runUntil([&] { return s.State() == wsConnected; }, 5000));
    s.Close();
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(raised([&] { s.Connect(); }), "Connect: No Port Specified");
}

TEST(WSocket, SendQueueBuffersOf1514) {
    Peer peer;
    TWSocket s;
    Recorder r;
    r.attach(s);
    connectTo(s, peer.port());
    ASSERT_TRUE(peer.waitConnection());
    ASSERT_TRUE(platform::runUntil([&] { return s.State() == wsConnected; }, 5000));
    // Fill the connection behind the socket's back until the system takes no more.
    peer.conn()->setReadBufferSize(1);
    std::string filler(65536, 'f');
    std::size_t stuffed = 0;
    for (;;) {
        const ssize_t n = ::send(s.HSocket(), filler.data(), filler.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0) break;
        stuffed += static_cast<std::size_t>(n);
    }
    std::string payload;
    for (int i = 0; i < 4000; ++i)
        payload += static_cast<char>('a' + i % 26);
    const int sentBefore = r.count("sent"); // the write readiness after connecting
    EXPECT_EQ(s.SendStr(payload), 4000);
    EXPECT_EQ(s.SendQueueBlockSizes(), (std::vector<int>{1514, 1514, 972}));
    EXPECT_FALSE(s.AllSent());
    platform::runUntil([] { return false; }, 50);
    EXPECT_EQ(r.count("sent"), sentBefore);

    // Once the peer reads, the queue drains in order and OnDataSent follows once.
    peer.conn()->setReadBufferSize(0);
    peer.conn()->readAll();
    ASSERT_TRUE(
        platform::runUntil([&] { return peer.received.size() >= stuffed + 4000 && s.AllSent(); }, 10000));
    EXPECT_EQ(peer.received.substr(peer.received.size() - 4000), payload);
    ASSERT_TRUE(platform::runUntil([&] { return r.count("sent") == sentBefore + 1; }, 5000));
    EXPECT_EQ(s.BufferedByteCount(), 0);
}

TEST(WSocket, DataSentComesLaterFromTheLoop) {
    Peer peer;
    TWSocket s;
    Recorder r;
    r.attach(s);
    connectTo(s, peer.port());
    ASSERT_TRUE(platform::runUntil([&] { return s.State() == wsConnected; }, 5000));
    platform::runUntil([] { return false; }, 20);
    const int before = r.count("sent");
    s.SendStr("abc");
    EXPECT_EQ(r.count("sent"), before) << "never inside Send";
    ASSERT_TRUE(platform::runUntil([&] { return r.count("sent") == before + 1; }, 5000));
}

TEST(WSocket, HandlerThatReadsNothingDoesNotSpin) {
    Peer peer;
    TWSocket s;
    int calls = 0;
    s.OnDataAvailable = [&](TWSocket*, std::uint16_t) { ++calls; };
    connectTo(s, peer.port());
    ASSERT_TRUE(peer.waitConnection());
    ASSERT_TRUE(platform::runUntil([&] { return s.State() == wsConnected; }, 5000));
    peer.write("unread bytes");
    ASSERT_TRUE(platform::runUntil([&] { return calls > 0; }, 5000));
    platform::runUntil([] { return false; }, 200);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(s.StalledReadRounds(), 1);
    EXPECT_EQ(s.RcvdCount(), 12);
    // Reading again resumes the notifications.
    std::string got;
    s.OnDataAvailable = [&](TWSocket* sock, std::uint16_t) { got += sock->ReceiveStr(); };
    got += s.ReceiveStr();
    peer.write("more");
    ASSERT_TRUE(platform::runUntil([&] { return got == "unread bytesmore"; }, 5000));
}

TEST(WSocket, CloseAbortAndDestroyFromInsideEvents) {
    Peer peer;
    {
        TWSocket s;
        Recorder r;
        r.attach(s, false);
        s.OnDataAvailable = [&](TWSocket* sock, std::uint16_t) {
            r.events.push_back("data");
            sock->Close();
        };
        connectTo(s, peer.port());
        ASSERT_TRUE(peer.waitConnection());
        ASSERT_TRUE(platform::runUntil([&] { return s.State() == wsConnected; }, 5000));
        peer.write("x");
        ASSERT_TRUE(platform::runUntil([&] { return r.closed == 1; }, 5000));
        platform::runUntil([] { return false; }, 50);
        EXPECT_EQ(r.closed, 1);
        EXPECT_EQ(r.count("data"), 1);
    }
    {
        TWSocket s;
        Recorder r;
        r.attach(s);
        s.OnSessionConnected = [&](TWSocket* sock, std::uint16_t) { sock->Abort(); };
        connectTo(s, peer.port());
        ASSERT_TRUE(platform::runUntil([&] { return r.closed == 1; }, 5000));
        EXPECT_EQ(s.State(), wsClosed);
    }
    {
        auto s = std::make_unique<TWSocket>();
        bool destroyed = false;
        s->OnDataAvailable = [&](TWSocket*, std::uint16_t) {
            s.reset();
            destroyed = true;
        };
        connectTo(*s, peer.port());
        ASSERT_TRUE(platform::runUntil([&] { return s->State() == wsConnected; }, 5000));
        ASSERT_TRUE(platform::runUntil(
            [&] { return peer.conn() && peer.conn()->state() == QAbstractSocket::ConnectedState; }, 5000));
        platform::runUntil([] { return false; }, 20);
        peer.write("y");
        ASSERT_TRUE(platform::runUntil([&] { return destroyed; }, 5000));
    }
}

TEST(WSocket, ListenAcceptDupAndPause) {
    TWSocket server;
    server.setAddr("127.0.0.1");
    server.setPort("0");
    std::unique_ptr<TWSocket> accepted;
    std::string got;
    server.OnSessionAvailable = [&](TWSocket* l, std::uint16_t e) {
        EXPECT_EQ(e, 0);
        const TSocket h = l->Accept();
        ASSERT_NE(h, INVALID_SOCKET);
        accepted = std::make_unique<TWSocket>();
        accepted->OnDataAvailable = [&](TWSocket* a, std::uint16_t) { got += a->ReceiveStr(); };
        accepted->Dup(h);
    };
    ASSERT_EQ(server.Listen(), 0);
    const std::string port = server.GetLocalPort();
    ASSERT_NE(port, "error");
    EXPECT_NE(port, "0");

    TWSocket client;
    connectTo(client, port);
    ASSERT_TRUE(platform::runUntil([&] { return accepted && client.State() == wsConnected; }, 5000));
    EXPECT_EQ(accepted->State(), wsConnected);
    EXPECT_EQ(accepted->GetPeerName(), "127.0.0.1");

    accepted->Pause();
    client.SendStr("while paused");
    platform::runUntil([] { return false; }, 100);
    EXPECT_EQ(got, "");
    accepted->Resume();
    ASSERT_TRUE(platform::runUntil([&] { return got == "while paused"; }, 5000));
}

TEST(WSocket, ReadLineAndWaitForState) {
    Peer peer;
    TWSocket s;
    connectTo(s, peer.port());
    ASSERT_TRUE(s.WaitForState(5, wsConnected));
    ASSERT_TRUE(peer.waitConnection());
    peer.write("first line\r\nsecond\n");
    std::string line;
    ASSERT_TRUE(s.ReadLine(5, line));
    EXPECT_EQ(line, "first line");
    ASSERT_TRUE(s.ReadLine(5, line));
    EXPECT_EQ(line, "second");
}

TEST(WSocket, SmallReceivesOfALargeStreamWithPauseInBetween) {
    Peer peer;
    TWSocket s;
    std::string got;
    int closed = 0;
    bool pauseOnce = true;
    s.OnDataAvailable = [&](TWSocket* sock, std::uint16_t) {
        char buf[37]; // odd size: the reads never line up with what the system hands over
        const int n = sock->Receive(buf, sizeof buf);
        if (n > 0) got.append(buf, static_cast<std::size_t>(n));
        if (pauseOnce && got.size() > 100000) {
            pauseOnce = false;
            sock->Pause();
        }
    };
    s.OnSessionClosed = [&](TWSocket*, std::uint16_t) { ++closed; };
    connectTo(s, peer.port());
    ASSERT_TRUE(peer.waitConnection());
    ASSERT_TRUE(platform::runUntil([&] { return s.State() == wsConnected; }, 5000));
    std::string payload;
    for (int i = 0; i < 300000; ++i)
        payload += static_cast<char>(i * 31 + i / 977);
    peer.write(payload);
    peer.close();
    ASSERT_TRUE(platform::runUntil([&] { return !pauseOnce; }, 5000));
    const std::size_t atPause = got.size();
    platform::runUntil([] { return false; }, 50);
    EXPECT_EQ(got.size(), atPause) << "nothing arrives while paused";
    EXPECT_EQ(closed, 0);
    s.Resume();
    ASSERT_TRUE(platform::runUntil([&] { return closed == 1; }, 10000));
    EXPECT_EQ(got.size(), payload.size());
    EXPECT_TRUE(got == payload);
}

TEST(WSocket, ResumeDeliversBytesAlreadyFetched) {
    // The peer stays open and sends less than one system read: after the pause
    // every remaining byte is already inside the socket, none in the system.
    Peer peer;
    TWSocket s;
    std::string got;
    bool paused = false;
    s.OnDataAvailable = [&](TWSocket* sock, std::uint16_t) {
        char buf[100];
        const int n = sock->Receive(buf, sizeof buf);
        if (n > 0) got.append(buf, static_cast<std::size_t>(n));
        if (!paused) {
            paused = true;
            sock->Pause();
        }
    };
    connectTo(s, peer.port());
    ASSERT_TRUE(peer.waitConnection());
    ASSERT_TRUE(platform::runUntil([&] { return s.State() == wsConnected; }, 5000));
    const std::string payload(20000, 'p');
    peer.write(payload);
    ASSERT_TRUE(platform::runUntil([&] { return paused; }, 5000));
    EXPECT_EQ(got.size(), 100u);
    s.Resume();
    ASSERT_TRUE(platform::runUntil([&] { return got.size() == payload.size(); }, 5000));
}

TEST(WSocket, ConnectionArrivingBeforeTheAcceptHandlerIsReportedAgainByResume) {
    // A server may connect to a listening data socket before its owner has
    // installed OnSessionAvailable; asking for the notifications again
    // reports the waiting connection.
    TWSocket server;
    server.setAddr("127.0.0.1");
    server.setPort("0");
    ASSERT_EQ(server.Listen(), 0);
    TWSocket client;
    connectTo(client, server.GetLocalPort());
    ASSERT_TRUE(platform::runUntil([&] { return client.State() == wsConnected; }, 5000));
    platform::runUntil([] { return false; }, 50); // the unhandled notification passes
    int available = 0;
    server.OnSessionAvailable = [&](TWSocket* l, std::uint16_t) {
        ++available;
        TWSocket adopted;
        adopted.Dup(l->Accept());
    };
    platform::runUntil([] { return false; }, 50);
    EXPECT_EQ(available, 0);
    server.Resume();
    ASSERT_TRUE(platform::runUntil([&] { return available == 1; }, 5000));
}

TEST(WSocket, DatagramSocket) {
    const int peerFd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(peerFd, 0);
    sockaddr_in peerAddr{};
    peerAddr.sin_family = AF_INET;
    peerAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(peerFd, reinterpret_cast<sockaddr*>(&peerAddr), sizeof peerAddr), 0);
    socklen_t len = sizeof peerAddr;
    ::getsockname(peerFd, reinterpret_cast<sockaddr*>(&peerAddr), &len);

    TWSocket s;
    int connected = 0;
    std::string got;
    s.OnSessionConnected = [&](TWSocket*, std::uint16_t e) { connected += e == 0; };
    s.OnDataAvailable = [&](TWSocket* sock, std::uint16_t) {
        char buf[64];
        const int n = sock->Receive(buf, sizeof buf);
        if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    };
    s.setProto("udp");
    s.setAddr("127.0.0.1");
    s.setPort(std::to_string(ntohs(peerAddr.sin_port)));
    s.Connect();
    EXPECT_EQ(connected, 1) << "a datagram socket is connected at once";
    EXPECT_EQ(s.State(), wsConnected);
    EXPECT_EQ(s.SendStr("ping"), 4);
    char buf[16];
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    ASSERT_TRUE(platform::runUntil(
        [&] {
            const ssize_t n = ::recvfrom(peerFd, buf, sizeof buf, MSG_DONTWAIT,
                                         reinterpret_cast<sockaddr*>(&from), &fromLen);
            return n == 4;
        },
        5000));
    EXPECT_EQ(std::string(buf, 4), "ping");
    EXPECT_EQ(std::to_string(ntohs(from.sin_port)), s.GetLocalPort());
    ::sendto(peerFd, "", 0, 0, reinterpret_cast<sockaddr*>(&from), fromLen); // an empty datagram is no close
    ::sendto(peerFd, "pong", 4, 0, reinterpret_cast<sockaddr*>(&from), fromLen);
    ASSERT_TRUE(platform::runUntil([&] { return got == "pong"; }, 5000));
    EXPECT_EQ(s.State(), wsConnected);
    ::close(peerFd);
}
