// THttpCli over TLS against a scripted HTTPS server on loopback, with
// certificates made by the tests: what verifies, what must not (an issuer
// nobody trusts, a certificate for another host, a stream cut without
// close_notify), the tunnel through a real proxy, and relocations between
// http and https.
#include "net/httpprot.h"
#include "net/tls.h"
#include "peers/http_peers.h"
#include "peers/test_ca.h"
#include "platform/eventloop.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace net;
using testpeers::HttpPeer;

namespace {

struct Fetch {
    int status = 0;
    std::string reason, body;
    int error = -1;
};

Fetch fetch(const std::string& url, const std::string& proxy = "") {
    THttpCli c;
    c.URL = url;
    c.Proxy = proxy;
    Fetch f;
    bool done = false;
    c.OnDocData.connect([&](THttpCli*, const char* b, std::int32_t n) { f.body.append(b, std::size_t(n)); });
    c.OnRequestDone.connect([&](THttpCli* s, THttpRequest, std::uint16_t e) {
        f.status = s->StatusCode();
        f.reason = s->ReasonPhrase();
        f.error = e;
        done = true;
    });
    c.StartGet();
    EXPECT_TRUE(platform::runUntil([&] { return done; }, 15000)) << url;
    return f;
}

// One authority every test trusts, one nobody does, and the servers.
class Https : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ca = new testpeers::TestCa();
        rogue = new testpeers::TestCa("Rogue CA");
        ASSERT_TRUE(ca->ok() && rogue->ok());
        std::string error;
        ASSERT_TRUE(tlsAddTrustFile(ca->certFile(), error)) << error;
        good = new testpeers::ServerCert(ca->issue("good", "DNS:localhost,IP:127.0.0.1"));
        other = new testpeers::ServerCert(ca->issue("other", "DNS:other.invalid,IP:127.0.0.9"));
        untrusted = new testpeers::ServerCert(rogue->issue("untrusted", "DNS:localhost,IP:127.0.0.1"));
    }
    static void TearDownTestSuite() {
        delete good;
        delete other;
        delete untrusted;
        delete ca;
        delete rogue;
    }
    static HttpPeer& server(std::unique_ptr<HttpPeer>& p, const testpeers::ServerCert& c) {
        p = std::make_unique<HttpPeer>();
        EXPECT_TRUE(p->startTls(c.cert, c.key));
        return *p;
    }
    static inline testpeers::TestCa* ca = nullptr;
    static inline testpeers::TestCa* rogue = nullptr;
    static inline testpeers::ServerCert* good = nullptr;
    static inline testpeers::ServerCert* other = nullptr;
    static inline testpeers::ServerCert* untrusted = nullptr;
};

TEST_F(Https, VerifiedServerGetsThePlainRequestLines) {
    std::unique_ptr<HttpPeer> p;
    HttpPeer& s = server(p, *good);
    s.serve("/s?q=a+b", "<a href=\"ftp://h/x.mp3\">x</a>");
    for (const std::string host : {"127.0.0.1", "localhost"}) {
        const Fetch f = fetch("https://" + host + ":" + std::to_string(s.port()) + "/s?q=a+b");
        EXPECT_EQ(f.status, 200) << host << " " << f.reason;
        EXPECT_EQ(f.error, 0);
        EXPECT_EQ(f.body, "<a href=\"ftp://h/x.mp3\">x</a>");
    }
    ASSERT_EQ(s.requests().size(), 2u);
    EXPECT_EQ(s.requests()[0][0], "GET /s?q=a+b HTTP/1.0");
    EXPECT_EQ(s.requests()[1][0], "GET /s?q=a+b HTTP/1.0");
    EXPECT_EQ(s.requests()[1].back(), "Host: localhost");
}

TEST_F(Https, RefusalsNameTheHostAndTheReason) {
    struct Case {
        testpeers::ServerCert* cert;
        const char* host;
        const char* reason;
    } cases[] = {
        {untrusted, "127.0.0.1", "untrusted issuer"},
        {untrusted, "localhost", "untrusted issuer"},
        {other, "127.0.0.1", "name mismatch"},
        {other, "localhost", "name mismatch"},
    };
    for (const Case& c : cases) {
        std::unique_ptr<HttpPeer> p;
        HttpPeer& s = server(p, *c.cert);
        s.serve("/", "secret");
        const Fetch f = fetch(std::string("https://") + c.host + ":" + std::to_string(s.port()) + "/");
        EXPECT_EQ(f.status, 404) << c.host;
        EXPECT_EQ(f.error, WSAETLSHANDSHAKE) << c.host;
        EXPECT_NE(f.reason.find(c.host), std::string::npos) << f.reason;
        EXPECT_NE(f.reason.find(c.reason), std::string::npos) << f.reason;
        EXPECT_EQ(f.body, "");
        EXPECT_TRUE(s.requests().empty()) << "no request may reach an unverified server";
    }
}

TEST_F(Https, StreamCutWithoutCloseNotifyFails) {
    std::unique_ptr<HttpPeer> p;
    HttpPeer& s = server(p, *good);
    s.cut("/cut", "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<a href=\"ftp://h/1.mp3\">");
    s.raw("/whole", "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<a href=\"ftp://h/1.mp3\">");
    const Fetch cut = fetch(s.url("/cut"));
    EXPECT_EQ(cut.error, WSAETLSCUT);
    EXPECT_EQ(cut.status, 404);
    EXPECT_NE(cut.reason.find("close_notify"), std::string::npos) << cut.reason;
    const Fetch whole = fetch(s.url("/whole"));
    EXPECT_EQ(whole.error, 0);
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body, "<a href=\"ftp://h/1.mp3\">");
}

TEST_F(Https, ThroughTheProxyInATunnel) {
    std::unique_ptr<HttpPeer> p;
    HttpPeer& s = server(p, *good);
    s.serve("/s?q=x", "found");
    testpeers::TinyProxy proxy;
    ASSERT_TRUE(proxy.start());
    const Fetch f = fetch(s.url("/s?q=x"), proxy.hostPort());
    EXPECT_EQ(f.status, 200) << f.reason;
    EXPECT_EQ(f.body, "found");
    ASSERT_EQ(s.requests().size(), 1u);
    EXPECT_EQ(s.requests()[0][0], "GET /s?q=x HTTP/1.0");
    EXPECT_NE(proxy.log().find("CONNECT"), std::string::npos);
}

TEST_F(Https, RelocationsGoToHttpsNeverBack) {
    std::unique_ptr<HttpPeer> p;
    HttpPeer& secure = server(p, *good);
    HttpPeer plain;
    ASSERT_TRUE(plain.start());
    plain.relocate("/up", secure.url("/page"));
    secure.serve("/page", "private");
    secure.relocate("/down", plain.url("/page"));
    plain.serve("/page", "public");

    const Fetch up = fetch(plain.url("/up"));
    EXPECT_EQ(up.status, 200) << up.reason;
    EXPECT_EQ(up.body, "private");

    const Fetch down = fetch(secure.url("/down"));
    EXPECT_EQ(down.status, 404);
    EXPECT_NE(down.reason.find("refused"), std::string::npos) << down.reason;
    EXPECT_EQ(down.body, "");
    EXPECT_EQ(plain.requestLines().size(), 1u) << "the plain server saw only the first request";
}

} // namespace
