// THttpCli against a scripted HTTP server and a real proxy (tinyproxy), all on
// loopback: request lines, events and their order, header handling,
// relocation, failures, abort.
#include "net/httpprot.h"
#include "net/httpprot_chunked.h"
#include "peers/ftp_peer.h"
#include "peers/http_peers.h"
#include "platform/eventloop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace net;
using testpeers::HttpPeer;

namespace {

// Records the client's events in order, the body and the zero byte check.
struct HttpRecorder {
    std::vector<std::string> events;
    std::string body;
    std::vector<int> blockSizes;
    bool zeroAfterEveryBlock = true;
    int done = 0;
    int doneError = -1;
    THttpRequest doneType = httpNONE;

    void attach(THttpCli& c) {
        c.OnStateChange.connect(
            [this](THttpCli* s) { events.push_back("state " + std::to_string(s->State())); });
        c.OnHeaderBegin.connect([this](THttpCli*) { events.push_back("headerbegin"); });
        c.OnHeaderEnd.connect([this](THttpCli*) { events.push_back("headerend"); });
        c.OnHeaderData.connect([this](THttpCli*) { events.push_back("headerdata"); });
        c.OnCommand.connect([this](THttpCli*, const std::string& s) { events.push_back("command " + s); });
        c.OnDocBegin.connect([this](THttpCli*) { events.push_back("docbegin"); });
        c.OnDocData.connect([this](THttpCli*, const char* buf, std::int32_t len) {
            events.push_back("docdata");
            body.append(buf, static_cast<std::size_t>(len));
            blockSizes.push_back(len);
            if (buf[len] != 0) zeroAfterEveryBlock = false;
        });
        c.OnDocEnd.connect([this](THttpCli*) { events.push_back("docend"); });
        c.OnRequestDone.connect([this](THttpCli*, THttpRequest rq, std::uint16_t e) {
            events.push_back("done " + std::to_string(rq) + " " + std::to_string(e));
            ++done;
            doneError = e;
            doneType = rq;
        });
    }
    bool wait(int maxMs = 10000) {
        return platform::runUntil([&] { return done > 0; }, maxMs);
    }
    int count(const std::string& e) const {
        return static_cast<int>(std::count(events.begin(), events.end(), e));
    }
    // The events with the repeated docdata collapsed into one.
    std::vector<std::string> collapsed() const {
        std::vector<std::string> out;
        for (const auto& e : events) {
            if (e == "docdata" && !out.empty() && out.back() == "docdata") continue;
            out.push_back(e);
        }
        return out;
    }
};

std::string pattern(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s += static_cast<char>('A' + (i * 7 + i / 13) % 26);
    return s;
}

class Http : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        peer = new HttpPeer;
        ASSERT_TRUE(peer->start());
    }
    static void TearDownTestSuite() {
        delete peer;
        peer = nullptr;
    }
    // Requests the peer received during this test.
    std::vector<std::vector<std::string>> newRequests() const {
        auto all = peer->requests();
        return {all.begin() + static_cast<long>(std::min(before_, all.size())), all.end()};
    }
    void SetUp() override {
        before_ = peer->requests().size();
        r.attach(c);
    }

    static HttpPeer* peer;
    std::size_t before_ = 0;
    THttpCli c; // the client of the test, its events recorded in r
    HttpRecorder r;
};
HttpPeer* Http::peer = nullptr;

} // namespace

TEST(HttpUrl, Splitter) {
    struct Row {
        std::string url, proto, user, pass, host, port, path;
    };
    const std::vector<Row> rows = {
        {"host/cgi-bin/s?d=m&q=x", "", "", "", "host", "", "/cgi-bin/s?d=m&q=x"},
        {"http://host:8080/a/b", "http", "", "", "host", "8080", "/a/b"},
        {"http://u:p@host:81/x", "http", "u", "p", "host", "81", "/x"},
        {"http://u@host/x", "http", "u", "", "host", "", "/x"},
        {"http://u:p@host", "http", "u", "p", "host", "", ""},
        {"proxyhost:8080", "", "", "", "proxyhost", "8080", ""},
        {"proxyhost", "", "", "", "proxyhost", "", ""},
        {"[::1]:8080/find?q=", "", "", "", "[::1]", "8080", "/find?q="},
        {"https://[::1]/x", "https", "", "", "[::1]", "", "/x"},
        {"", "", "", "", "", "", ""},
    };
    for (const auto& r : rows) {
        const HttpUrlParts p = ParseHttpURL(r.url);
        EXPECT_EQ(p.proto, r.proto) << r.url;
        EXPECT_EQ(p.user, r.user) << r.url;
        EXPECT_EQ(p.pass, r.pass) << r.url;
        EXPECT_EQ(p.host, r.host) << r.url;
        EXPECT_EQ(p.port, r.port) << r.url;
        EXPECT_EQ(p.path, r.path) << r.url;
    }
}

TEST(HttpUrl, ModifiedSinceDate) {
    EXPECT_EQ(THttpCli::RFC1123Date(2.0), "Mon, 01 Jan 1900 00:00:00");
    EXPECT_EQ(THttpCli::RFC1123Date(0.0), "Sat, 30 Dec 1899 00:00:00");
    // 7 Dec 2026 is day 46363; 13:45:30 is 0.573263888... of a day.
    EXPECT_EQ(THttpCli::RFC1123Date(46363.0 + (13 * 3600 + 45 * 60 + 30) / 86400.0),
              "Mon, 07 Dec 2026 13:45:30");
    // The seconds field is the whole second: 12:00:00.6 is not 12:00:01.
    EXPECT_EQ(THttpCli::RFC1123Date(2.5 + 0.6 / 86400.0), "Mon, 01 Jan 1900 12:00:00");
    EXPECT_EQ(THttpCli::RFC1123Date(2.5 + 59.9996 / 86400.0), "Mon, 01 Jan 1900 12:01:00");
    EXPECT_EQ(THttpCli::RFC1123Date(3.0 - 0.0001 / 86400.0), "Mon, 01 Jan 1900 23:59:59");
}

TEST(HttpUrl, NumbersAndDatesOutOfRangeAreRefusedOrHeld) {
    std::int64_t v = 7;
    EXPECT_FALSE(net::HttpStrictNumber(std::string(19, '9'), 40, v));
    EXPECT_FALSE(net::HttpStrictNumber(std::string(40, '9'), 40, v));
    EXPECT_TRUE(net::HttpStrictNumber("0004294967296", 40, v)); // past 32 bits
    EXPECT_EQ(v, 4294967296);
    EXPECT_EQ(THttpCli::RFC1123Date(1e300), THttpCli::RFC1123Date(2958465.99999));
    EXPECT_EQ(THttpCli::RFC1123Date(-1e300), "Mon, 01 Jan 0001 00:00:00");
    EXPECT_EQ(THttpCli::RFC1123Date(std::nan("")), THttpCli::RFC1123Date(0.0));
}

TEST(HttpUrl, BusyAndNothingToPost) {
    THttpCli c;
    int done = 0;
    c.OnRequestDone.connect([&](THttpCli*, THttpRequest, std::uint16_t) { ++done; });
    c.Abort(); // nothing under way: nothing happens
    platform::runUntil([] { return false; }, 20);
    EXPECT_EQ(done, 0);
    EXPECT_EQ(c.State(), httpReady);
    try {
        c.StartPost();
        FAIL();
    } catch (const EHttpException& e) {
        EXPECT_STREQ(e.what(), "HTTP component has nothing to post");
        EXPECT_EQ(e.ErrorCode, 2);
    }
    c.URL = "nonexistent.invalid/x";
    c.StartGet();
    try {
        c.StartGet();
        FAIL();
    } catch (const EHttpException& e) {
        EXPECT_STREQ(e.what(), "HTTP component is busy");
        EXPECT_EQ(e.ErrorCode, 1);
    }
    c.Abort();
    EXPECT_TRUE(platform::runUntil([&] { return c.State() == httpReady; }, 5000));
}

TEST_F(Http, DirectGetEventsInOrder) {
    const std::string body = pattern(5000);
    peer->serve("/cgi-bin/s?d=m&q=x", body, {700, 2000});
    c.URL = peer->hostPort() + "/cgi-bin/s?d=m&q=x"; // no scheme
    c.StartGet();
    ASSERT_TRUE(r.wait());
    EXPECT_EQ(r.done, 1);
    EXPECT_EQ(c.StatusCode(), 200);
    EXPECT_EQ(c.ReasonPhrase(), "OK");
    EXPECT_EQ(c.ContentLength(), 5000);
    EXPECT_EQ(c.ContentType(), "text/html");
    EXPECT_EQ(c.DocName(), "s");
    EXPECT_EQ(r.body, body);
    EXPECT_EQ(c.RcvdCount(), 5000);
    EXPECT_TRUE(r.zeroAfterEveryBlock);
    EXPECT_LE(*std::max_element(r.blockSizes.begin(), r.blockSizes.end()), 2047);
    EXPECT_GE(r.blockSizes.size(), 3u);

    const std::vector<std::string> expected = {"state 1",
                                               "state 2",
                                               "state 1",
                                               "state 3",
                                               "headerbegin",
                                               "command GET /cgi-bin/s?d=m&q=x HTTP/1.0",
                                               "command Host: 127.0.0.1",
                                               "headerend",
                                               "command ",
                                               "headerbegin",
                                               "headerdata",
                                               "headerdata",
                                               "headerdata",
                                               "state 4",
                                               "headerend",
                                               "docbegin",
                                               "docdata",
                                               "docend",
                                               "state 0",
                                               "done 1 0"};
    EXPECT_EQ(r.collapsed(), expected);
    EXPECT_EQ(c.RcvdHeader,
              (platform::StringList{"HTTP/1.0 200 OK", "Content-Type: text/html", "Content-Length: 5000"}));

    const auto reqs = newRequests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0], (std::vector<std::string>{"GET /cgi-bin/s?d=m&q=x HTTP/1.0", "Host: 127.0.0.1"}));
}

TEST_F(Http, AllRequestHeaderLinesInOrder) {
    peer->serve("/h", "x");
    c.URL = "http://u:pw@" + peer->hostPort() + "/h";
    c.Sender = "me@example.org";
    c.Reference = "http://ref/";
    c.Agent = "Wavetrap";
    c.NoCache = true;
    c.ModifiedSince = 2.5;
    c.Cookie = "a=b";
    c.StartGet();
    ASSERT_TRUE(r.wait());
    const auto reqs = newRequests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0],
              (std::vector<std::string>{"GET /h HTTP/1.0", "From: me@example.org", "Referer: http://ref/",
                                        "User-Agent: Wavetrap", "Host: 127.0.0.1", "Pragma: no-cache",
                                        "If-Modified-Since: Mon, 01 Jan 1900 12:00:00 GMT",
                                        "Authorization: Basic dTpwdw==", "Cookie: a=b"}));
}

TEST_F(Http, ThroughProxyAbsoluteRequestLine) {
    // The scripted server stands in as the proxy, so the exact request it gets is visible.
    peer->serve("/cgi-bin/s?d=m&q=x", "proxied");
    for (int variant = 0; variant < 2; ++variant) {
        SetUp();
        THttpCli c;
        HttpRecorder r;
        r.attach(c);
        c.URL = "host.example/cgi-bin/s?d=m&q=x";
        if (variant == 0) {
            c.Proxy = peer->hostPort();
        } else {
            c.Proxy = peer->host(); // no port: ProxyPort is used
            c.ProxyPort = std::to_string(peer->port());
        }
        c.StartGet();
        ASSERT_TRUE(r.wait());
        EXPECT_EQ(r.body, "proxied");
        const auto reqs = newRequests();
        ASSERT_EQ(reqs.size(), 1u);
        EXPECT_EQ(reqs[0], (std::vector<std::string>{"GET http://host.example/cgi-bin/s?d=m&q=x HTTP/1.0",
                                                     "Host: host.example"}));
    }
}

TEST_F(Http, ThroughTinyproxy) {
    testpeers::TinyProxy proxy;
    ASSERT_TRUE(proxy.start());
    const std::string body = pattern(30000);
    peer->serve("/via/proxy.html", body);
    c.URL = peer->url("/via/proxy.html");
    c.Proxy = proxy.hostPort();
    c.StartGet();
    ASSERT_TRUE(r.wait());
    EXPECT_EQ(c.StatusCode(), 200);
    EXPECT_EQ(r.body, body);
    // The proxy got the absolute request line and passed the request on with the server's name.
    EXPECT_NE(proxy.log().find("GET " + peer->url("/via/proxy.html") + " HTTP/1.0"), std::string::npos)
        << proxy.log();
    const auto reqs = newRequests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].front().rfind("GET ", 0), 0u);
    EXPECT_NE(reqs[0].front().find("/via/proxy.html"), std::string::npos);
    bool hostLine = false;
    for (const auto& l : reqs[0])
        hostLine |= l.rfind("Host: 127.0.0.1", 0) == 0;
    EXPECT_TRUE(hostLine) << reqs[0].size();
}

TEST_F(Http, HeaderSplitAcrossReceivesAndLineEnds) {
    // A header line cut in the middle, a lone LF, and the body in the same write as the header end.
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: te"
                              "xt/plain\nX-Other: 1\r\n\r\nbody bytes";
    peer->raw("/split", reply, {20, 12});
    c.URL = peer->url("/split");
    c.StartGet();
    ASSERT_TRUE(r.wait());
    EXPECT_EQ(c.RcvdHeader,
              (platform::StringList{"HTTP/1.1 200 OK", "Content-Type: text/plain", "X-Other: 1"}));
    EXPECT_EQ(c.ContentType(), "text/plain");
    EXPECT_EQ(r.count("headerdata"), 3);
    EXPECT_EQ(r.body, "body bytes");
    // The body bytes that came with the header end follow OnHeaderEnd at once.
    const auto ev = r.collapsed();
    const auto he = std::find(ev.begin() + 5, ev.end(), "state 4");
    ASSERT_NE(he, ev.end());
    EXPECT_EQ(std::vector<std::string>(he, he + 4),
              (std::vector<std::string>{"state 4", "headerend", "docbegin", "docdata"}));
}

TEST_F(Http, NotFoundAndNoBody) {
    c.URL = peer->url("/no/such/page");
    c.StartGet();
    ASSERT_TRUE(r.wait());
    EXPECT_EQ(c.StatusCode(), 404);
    EXPECT_EQ(c.ReasonPhrase(), "Not Found");
    EXPECT_EQ(r.doneError, 0);
    EXPECT_EQ(r.count("docbegin"), 0);
    EXPECT_EQ(r.count("docend"), 0);

    // A complete reply without a body: no document events, completion all the same.
    peer->raw("/empty", "HTTP/1.0 204 No Content\r\n\r\n");
    HttpRecorder r2;
    r2.attach(c);
    c.URL = peer->url("/empty");
    c.StartGet();
    ASSERT_TRUE(r2.wait());
    EXPECT_EQ(c.StatusCode(), 204);
    EXPECT_EQ(c.RcvdHeader, platform::StringList{"HTTP/1.0 204 No Content"}) << "nothing of the 404 is left";
    EXPECT_EQ(r2.count("docbegin") + r2.count("docdata") + r2.count("docend"), 0);
    platform::runUntil([] { return false; }, 30);
    EXPECT_EQ(r2.done, 1);
}

TEST_F(Http, ErrorStatusKeepsTheHeaderLinesReceivedWithIt) {
    // The client closes at the status line; the rest of the header that came
    // with it is still read (the challenges of a 401), the body is not.
    peer->raw("/private", "HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"a\"\r\n"
                          "Content-Type: text/html\r\nwww-authenticate: Digest realm=\"b\"\r\n\r\n"
                          "<html>\"ftp://site/denied.mp3\"</html>");
    c.URL = peer->url("/private");
    c.StartGet();
    ASSERT_TRUE(r.wait());
    platform::runUntil([] { return false; }, 30);
    EXPECT_EQ(r.done, 1);
    EXPECT_EQ(r.doneError, 0);
    EXPECT_EQ(c.StatusCode(), 401);
    EXPECT_EQ(c.ReasonPhrase(), "Unauthorized");
    EXPECT_EQ(c.AuthorizationRequest(), (platform::StringList{"Basic realm=\"a\"", "Digest realm=\"b\""}));
    EXPECT_EQ(c.ContentType(), "text/html");
    EXPECT_EQ(c.RcvdHeader.size(), 4u);
    EXPECT_EQ(r.count("headerdata"), 4);
    EXPECT_EQ(r.count("state 4") + r.count("docbegin") + r.count("docdata") + r.count("docend"), 0);
}

TEST_F(Http, RelocationChain) {
    peer->relocate("/r1", "/r2");
    peer->relocate("/r2", peer->url("/final"), 301);
    peer->serve("/final", "arrived");
    c.URL = peer->url("/r1");
    c.StartGet();
    ASSERT_TRUE(r.wait());
    EXPECT_EQ(r.done, 1);
    EXPECT_EQ(c.StatusCode(), 200);
    EXPECT_EQ(r.body, "arrived");
    EXPECT_EQ(c.RelocationCount(), 2);
    EXPECT_EQ(r.count("headerbegin"), 3 + 1) << "three request heads, one response header begin";
    EXPECT_EQ(c.RcvdHeader.front(), "HTTP/1.0 302 Found");
    EXPECT_EQ(c.RcvdHeader.back(), "Content-Length: 7");
    const auto reqs = newRequests();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(reqs[0][0], "GET /r1 HTTP/1.0");
    EXPECT_EQ(reqs[1][0], "GET /r2 HTTP/1.0");
    EXPECT_EQ(reqs[2][0], "GET /final HTTP/1.0");
}

TEST_F(Http, RelativeRelocationThroughProxyStaysOnTheServer) {
    peer->relocate("/old/place", "/new/place");
    peer->serve("/new/place", "moved here");
    c.URL = "http://site.example:8000/old/place";
    c.Proxy = peer->hostPort();
    c.StartGet();
    ASSERT_TRUE(r.wait());
    EXPECT_EQ(r.body, "moved here");
    const auto reqs = newRequests();
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[0], (std::vector<std::string>{"GET http://site.example:8000/old/place HTTP/1.0",
                                                 "Host: site.example"}));
    EXPECT_EQ(reqs[1], (std::vector<std::string>{"GET http://site.example:8000/new/place HTTP/1.0",
                                                 "Host: site.example"}));
}

TEST_F(Http, EndlessRelocationEnds) {
    peer->relocate("/loop", "/loop");
    c.MaxRelocations = 4;
    c.URL = peer->url("/loop");
    c.StartGet();
    ASSERT_TRUE(r.wait());
    EXPECT_EQ(r.done, 1);
    EXPECT_EQ(c.StatusCode(), 404);
    EXPECT_EQ(c.ReasonPhrase(), "Too many relocations");
    EXPECT_EQ(newRequests().size(), 5u);
}

TEST_F(Http, NeverAnsweringServerThenAbort) {
    peer->hang("/hang");
    c.URL = peer->url("/hang");
    c.StartGet();
    ASSERT_TRUE(peer->waitForRequests(before_ + 1));
    platform::runUntil([] { return false; }, 50);
    EXPECT_EQ(r.done, 0);
    EXPECT_EQ(c.State(), httpWaitingHeader);
    c.Abort();
    ASSERT_TRUE(r.wait());
    EXPECT_EQ(r.doneError, 3);
    EXPECT_EQ(c.StatusCode(), 404);
    EXPECT_EQ(c.ReasonPhrase(), "Connection aborted on request");
    EXPECT_EQ(r.events.back(), "done 1 3");
    EXPECT_EQ(r.events[r.events.size() - 2], "state 0");
    EXPECT_EQ(r.count("state 5"), 1);
}

TEST_F(Http, AbortDuringNameLookup) {
    c.URL = "nonexistent.invalid/x";
    c.StartGet();
    EXPECT_EQ(c.State(), httpDnsLookup);
    c.Abort();
    ASSERT_TRUE(r.wait());
    platform::runUntil([] { return false; }, 50);
    EXPECT_EQ(r.done, 1);
    EXPECT_EQ(r.doneError, 3);
    EXPECT_EQ(c.ReasonPhrase(), "Connection aborted on request");
    EXPECT_EQ(r.count("state 3"), 0) << "no connection attempt";
}

TEST_F(Http, LookupAndConnectFailures) {
    {
        THttpCli c;
        HttpRecorder r;
        r.attach(c);
        c.URL = "http://nonexistent.invalid/page";
        c.StartGet();
        ASSERT_TRUE(r.wait());
        EXPECT_EQ(c.StatusCode(), 404);
        EXPECT_EQ(c.ReasonPhrase(), "can't resolve hostname to IP address");
        EXPECT_EQ(r.doneError, 0);
    }
    {
        THttpCli c;
        HttpRecorder r;
        r.attach(c);
        const testpeers::ClosedPort closed;
        c.URL = "http://127.0.0.1:" + std::to_string(closed.port()) + "/";
        c.StartGet();
        ASSERT_TRUE(r.wait());
        platform::runUntil([] { return false; }, 30);
        EXPECT_EQ(r.done, 1);
        EXPECT_EQ(c.StatusCode(), 404);
        EXPECT_EQ(c.ReasonPhrase(), "Connection refused (Error #10061)");
        EXPECT_EQ(r.doneError, 0);
    }
    {
        THttpCli c;
        HttpRecorder r;
        r.attach(c);
        c.URL = "http://127.0.0.1:no-such-port/";
        c.StartGet();
        ASSERT_TRUE(r.wait());
        EXPECT_EQ(c.StatusCode(), 404);
        EXPECT_EQ(c.ReasonPhrase(), "can't connect: No Data (Error #11004)");
        EXPECT_EQ(r.doneError, 11004);
    }
    {
        THttpCli c; // no host at all
        HttpRecorder r;
        r.attach(c);
        c.URL = "/just/a/path";
        c.StartGet();
        ASSERT_TRUE(r.wait());
        EXPECT_EQ(c.ReasonPhrase(), "can't resolve hostname to IP address");
    }
}

TEST_F(Http, MalformedRepliesFailCleanly) {
    struct Row {
        std::string path, reply, reason;
        std::string repeat = {}; // sent after the reply without end
    };
    const std::vector<Row> rows = {
        {"/bad-status", "HTTP/1.0 2x0 OK\r\n\r\nbody", "Malformed status line"},
        {"/short-status", "HTTP/1.1 20\r\n\r\n", "Malformed status line"},
        {"/bad-length", "HTTP/1.0 200 OK\r\nContent-Length: 12abc\r\n\r\nbody", "Malformed content-length"},
        {"/huge-length", "HTTP/1.0 200 OK\r\nContent-Length: 9999999999999999999\r\n\r\nbody",
         "Malformed content-length"},
        {"/long-line", "HTTP/1.0 200 OK\r\nX-Long: " + std::string(5000, 'L') + "\r\n\r\nbody",
         "Header line too long"},
        {"/endless-header", "HTTP/1.0 200 OK\r\n", "Header too long", "X-More: again and again\r\n"},
    };
    for (const auto& row : rows) {
        if (row.repeat.empty())
            peer->raw(row.path, row.reply);
        else
            peer->endless(row.path, row.reply, row.repeat);
        THttpCli c;
        HttpRecorder r;
        r.attach(c);
        c.URL = peer->url(row.path);
        c.StartGet();
        ASSERT_TRUE(r.wait()) << row.path;
        platform::runUntil([] { return false; }, 20);
        EXPECT_EQ(r.done, 1) << row.path;
        EXPECT_EQ(c.StatusCode(), 404) << row.path;
        EXPECT_EQ(c.ReasonPhrase(), row.reason) << row.path;
        EXPECT_EQ(r.count("docdata"), 0) << row.path;
    }
}

// A real FTP server where an engine should be, asked directly or reached by a
// relocation: the request fails at its banner instead of waiting for ever.
TEST_F(Http, AnFtpServerOrARelocationToOneFailsAtOnce) {
    testsupport::TempDir root;
    testpeers::FtpPeer ftp;
    testpeers::FtpPeerOptions opt;
    opt.root = root.path();
    ASSERT_TRUE(ftp.start(opt));
    const std::string ftpHostPort = ftp.host() + ":" + std::to_string(ftp.port());
    peer->relocate("/to-ftp-port", "http://" + ftpHostPort + "/");
    peer->relocate("/to-ftp-url", "ftp://" + ftpHostPort + "/pub/x.mp3");
    const struct {
        std::string url, reason; // reason: its beginning
    } rows[] = {
        {"http://" + ftpHostPort + "/search?q=x", "Not an HTTP reply: \"220 "},
        {peer->url("/to-ftp-port"), "Not an HTTP reply: \"220 "},
        {peer->url("/to-ftp-url"), "Relocated to a non-HTTP address: ftp://" + ftpHostPort + "/pub/x.mp3"},
    };
    for (const auto& row : rows) {
        THttpCli c;
        HttpRecorder r;
        r.attach(c);
        c.URL = row.url;
        c.StartGet();
        ASSERT_TRUE(r.wait(5000)) << row.url;
        EXPECT_EQ(c.StatusCode(), 404) << row.url;
        EXPECT_EQ(c.ReasonPhrase().rfind(row.reason, 0), 0u) << c.ReasonPhrase();
        EXPECT_EQ(r.count("docdata"), 0) << row.url;
    }
}

TEST_F(Http, AContentLengthPast4GiBIsNoError) {
    peer->raw("/big", "HTTP/1.0 200 OK\r\nContent-Length: 5000000000\r\n\r\nfirst bytes");
    c.URL = peer->url("/big");
    c.StartGet();
    ASSERT_TRUE(r.wait());
    EXPECT_EQ(c.StatusCode(), 200);
    EXPECT_EQ(c.ContentLength(), 5000000000);
    EXPECT_EQ(r.body, "first bytes");
}

// Each chunked body decoded whole, cut in two at every position and fed byte
// by byte: the same text, the same end, the same error.
TEST(HttpChunked, DecodedAlikeHoweverTheBytesArrive) {
    const struct {
        std::string wire, text;
        bool done;
        const char* error; // nullptr: well formed
    } rows[] = {
        {"5\r\nhello\r\n0\r\n\r\n", "hello", true, nullptr},
        {"A;name=\"v;x\"\r\n0123456789\r\n1b ; ext\r\nabcdefghijklmnopqrstuvwxyz.\r\n0;last\r\n"
         "X-Bytes: 37\r\nX-More: 1\r\n\r\nafter the end",
         "0123456789abcdefghijklmnopqrstuvwxyz.", true, nullptr},
        {"00003\nabc\nf\n0123456789abcde\n0\n\n", "abc0123456789abcde", true, nullptr}, // bare LF
        {"4\r\nsome\r\n3\r\nmor", "somemor", false, nullptr},                           // not ended yet
        {"4\r\nsome\r\nzz\r\nmore", "some", false, "Malformed chunk size"},
        {"\r\n", "", false, "Malformed chunk size"},
        {"-4\r\nsome\r\n", "", false, "Malformed chunk size"},
        {";x\r\n", "", false, "Malformed chunk size"},
        {"10000000000000000\r\n", "", false, "Malformed chunk size"}, // past 64 bits
        {"4 x\r\nsome\r\n", "", false, "Malformed chunk size"},
        {"4\r\nsomething\r\n0\r\n\r\n", "some", false, "Malformed chunked body"},
    };
    for (const auto& row : rows) {
        auto feed = [&](const std::vector<std::size_t>& cuts) {
            HttpChunkDecoder dec;
            std::string text;
            std::size_t from = 0;
            for (std::size_t to : cuts) {
                std::string piece = row.wire.substr(from, to - from);
                text.append(piece.data(), dec.decode(piece.data(), piece.size()));
                from = to;
            }
            EXPECT_EQ(text, row.text) << row.wire;
            EXPECT_EQ(dec.done(), row.done) << row.wire;
            EXPECT_STREQ(dec.error() ? dec.error() : "", row.error ? row.error : "") << row.wire;
        };
        const std::size_t n = row.wire.size();
        feed({n});
        for (std::size_t cut = 1; cut < n; ++cut)
            feed({cut, n});
        std::vector<std::size_t> bytes;
        for (std::size_t i = 1; i <= n; ++i)
            bytes.push_back(i);
        feed(bytes);
    }
}

// A chunked reply to our HTTP/1.0 request, cut across receives; then one
// whose chunk size is malformed: the request fails, what came before stays.
TEST_F(Http, ChunkedRepliesAreDecodedAndAMalformedOneFailsCleanly) {
    const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::string body = "1a;n=1\r\nabcdefghijklmnopqrstuvwxyz\r\n3\r\n123\r\n0\r\nX-T: 1\r\n\r\n";
    peer->raw("/chunked", head + body, {head.size() + 1, 4, 26, 3, 5, 6});
    c.URL = peer->url("/chunked");
    c.StartGet();
    ASSERT_TRUE(r.wait());
    EXPECT_EQ(c.StatusCode(), 200);
    EXPECT_EQ(r.body, "abcdefghijklmnopqrstuvwxyz123");
    EXPECT_EQ(c.RcvdCount(), 29);
    EXPECT_TRUE(r.zeroAfterEveryBlock);

    peer->raw("/bad-chunk", head + "3\r\nabc\r\nxyz\r\ndef\r\n0\r\n\r\n", {head.size() + 8});
    THttpCli bad;
    HttpRecorder br;
    br.attach(bad);
    bad.URL = peer->url("/bad-chunk");
    bad.StartGet();
    ASSERT_TRUE(br.wait());
    EXPECT_EQ(bad.StatusCode(), 404);
    EXPECT_EQ(bad.ReasonPhrase(), "Malformed chunk size");
    EXPECT_EQ(br.body, "abc");
}

TEST_F(Http, NewRequestFromInsideRequestDone) {
    peer->serve("/first", "one");
    peer->serve("/second", "two");
    THttpCli c;
    std::string bodies;
    int done = 0;
    c.OnDocData.connect(
        [&](THttpCli*, const char* b, std::int32_t n) { bodies.append(b, static_cast<std::size_t>(n)); });
    c.OnRequestDone.connect([&](THttpCli* s, THttpRequest, std::uint16_t) {
        if (++done == 1) {
            s->URL = peer->url("/second");
            s->StartGet();
        }
    });
    c.URL = peer->url("/first");
    c.StartGet();
    ASSERT_TRUE(platform::runUntil([&] { return done == 2; }, 10000));
    EXPECT_EQ(bodies, "onetwo");
}

TEST_F(Http, PostAndHead) {
    peer->serve("/form", "posted");
    std::istringstream post(pattern(5000));
    c.SendStream = &post;
    std::string sent;
    int sendEnd = 0;
    c.OnSendData.connect(
        [&](THttpCli*, const char* b, std::int32_t n) { sent.append(b, static_cast<std::size_t>(n)); });
    c.OnSendEnd.connect([&](THttpCli*) { ++sendEnd; });
    c.URL = peer->url("/form");
    c.StartPost();
    ASSERT_TRUE(r.wait());
    EXPECT_EQ(r.doneType, httpPOST);
    EXPECT_EQ(r.body, "posted");
    EXPECT_EQ(sent, pattern(5000));
    EXPECT_EQ(c.SentCount(), 5000);
    EXPECT_EQ(sendEnd, 1);
    auto reqs = newRequests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0], (std::vector<std::string>{"POST /form HTTP/1.0",
                                                 "Content-Type: application/x-www-form-urlencoded",
                                                 "Host: 127.0.0.1", "Content-Length: 5000"}));

    SetUp();
    HttpRecorder h;
    h.attach(c);
    c.URL = peer->url("/");
    c.StartHead();
    ASSERT_TRUE(h.wait());
    EXPECT_EQ(h.doneType, httpHEAD);
    reqs = newRequests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0][0], "HEAD / HTTP/1.0");
    EXPECT_EQ(c.DocName(), "document.htm");
}

TEST(HttpUrl, DocumentName) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"nonexistent.invalid", "document.htm"},      {"nonexistent.invalid/", "document.htm"},
        {"nonexistent.invalid/dir/", "dir"},          {"nonexistent.invalid/a/b.html?q=1/2", "2"},
        {"nonexistent.invalid/cgi/find?q=x", "find"}, {"http://nonexistent.invalid/pub/song.exe", "song.exe"},
    };
    for (const auto& [url, doc] : rows) {
        THttpCli c;
        c.URL = url;
        c.StartGet();
        EXPECT_EQ(c.DocName(), doc) << url;
        c.Abort();
    }
    platform::runUntil([] { return false; }, 20);
}

TEST_F(Http, AbortFromInsideDocDataAndReceiveStream) {
    const std::string body = pattern(400000);
    peer->serve("/big", body, {1000});
    {
        THttpCli c;
        HttpRecorder r;
        r.attach(c);
        std::ostringstream stream;
        c.RcvdStream = &stream;
        c.URL = peer->url("/big");
        c.StartGet();
        ASSERT_TRUE(r.wait());
        EXPECT_EQ(stream.str(), body);
        EXPECT_EQ(c.RcvdCount(), 400000);
    }
    {
        THttpCli c;
        HttpRecorder r;
        r.attach(c);
        c.OnDocData.connect([&](THttpCli* s, const char*, std::int32_t) { // after the recorder
            if (r.body.size() > 5000) s->Abort();
        });
        c.URL = peer->url("/big");
        c.StartGet();
        ASSERT_TRUE(r.wait());
        platform::runUntil([] { return false; }, 30);
        EXPECT_EQ(r.done, 1);
        EXPECT_EQ(r.doneError, 3);
        EXPECT_EQ(r.count("docend"), 1);
        EXPECT_LT(r.body.size(), body.size());
        EXPECT_EQ(r.body, body.substr(0, r.body.size()));
    }
}

TEST_F(Http, ExeServedAsHtmlIsNamedHtm) {
    peer->serve("/dl/setup.exe", "<html></html>");
    c.URL = peer->url("/dl/setup.exe");
    c.StartGet();
    ASSERT_TRUE(r.wait());
    EXPECT_EQ(c.DocName(), "setup.htm");
}

TEST_F(Http, AbsoluteRelocationThroughProxyNamesTheNewServer) {
    peer->relocate("/a", "http://other.example/b");
    peer->serve("/b", "other server");
    c.URL = "http://first.example/a";
    c.Proxy = peer->hostPort();
    c.StartGet();
    ASSERT_TRUE(r.wait());
    EXPECT_EQ(r.body, "other server");
    const auto reqs = newRequests();
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[0],
              (std::vector<std::string>{"GET http://first.example/a HTTP/1.0", "Host: first.example"}));
    EXPECT_EQ(reqs[1],
              (std::vector<std::string>{"GET http://other.example/b HTTP/1.0", "Host: other.example"}));
}

// Clients side by side, large bodies: each body arrives whole and in order, in
// blocks of at most 2047 bytes each followed by a zero, also when a handler runs
// a nested event loop in which the other clients (and its own) receive.
TEST_F(Http, LargeBodiesSideBySideStayApartEvenWithANestedLoopInAHandler) {
    constexpr int Clients = 4;
    std::vector<std::string> bodies;
    for (int i = 0; i < Clients; ++i) {
        bodies.push_back(pattern(300000 + 7919 * static_cast<std::size_t>(i)));
        std::rotate(bodies[i].begin(), bodies[i].begin() + 1000 * i, bodies[i].end());
        peer->serve("/side" + std::to_string(i), bodies[i], {1000, 70000});
    }
    std::vector<std::unique_ptr<THttpCli>> clients;
    std::vector<HttpRecorder> recorders(Clients);
    int nested = 0;
    for (int i = 0; i < Clients; ++i) {
        clients.push_back(std::make_unique<THttpCli>());
        recorders[i].attach(*clients[i]);
        clients[i]->URL = peer->url("/side" + std::to_string(i));
    }
    clients[0]->OnDocData.connect([&](THttpCli*, const char*, std::int32_t) {
        if (nested++ % 16 == 0) platform::runUntil([] { return false; }, 1);
    });
    for (auto& c : clients)
        c->StartGet();
    ASSERT_TRUE(platform::runUntil(
        [&] { return std::all_of(recorders.begin(), recorders.end(), [](auto& r) { return r.done > 0; }); },
        20000));
    EXPECT_GT(nested, 16);
    for (int i = 0; i < Clients; ++i) {
        EXPECT_EQ(recorders[i].body, bodies[i]) << i;
        EXPECT_TRUE(recorders[i].zeroAfterEveryBlock) << i;
        EXPECT_LE(*std::max_element(recorders[i].blockSizes.begin(), recorders[i].blockSizes.end()), 2047);
        EXPECT_EQ(clients[i]->RcvdCount(), static_cast<std::int64_t>(bodies[i].size()));
    }
}

// A transfer coding other than chunked leaves bytes the client cannot frame
// or read: the request fails before any of them is handed on as the body. A
// content coding is told to the caller; the body stays as it came.
TEST_F(Http, OtherTransferCodingsFailAndContentCodingsAreTold) {
    const std::string gz = std::string("\x1f\x8b\x08\x00", 4) + "coded bytes";
    const std::string chunk = "f\r\n" + gz + "\r\n0\r\n\r\n";
    struct Row {
        std::string path, fields, body;
        std::string reason;        // empty: a 200 with the body below
        std::string encoding = {}; // ContentEncoding()
        std::string handedOn = {};
    };
    const std::vector<Row> rows = {
        {"/te-gzip", "Transfer-Encoding: gzip\r\n", gz, "Unsupported transfer coding: gzip"},
        {"/te-gzip-chunked", "Transfer-Encoding: gzip, chunked\r\n", chunk,
         "Unsupported transfer coding: gzip"},
        {"/te-gzip-length", "Transfer-Encoding: GZip\r\nContent-Length: 15\r\n", gz,
         "Unsupported transfer coding: gzip"},
        {"/te-two-lines", "Transfer-Encoding: deflate\r\nTransfer-Encoding: chunked\r\n", chunk,
         "Unsupported transfer coding: deflate"},
        {"/te-chunked-ext", "Transfer-Encoding: identity , Chunked\r\n", chunk, "", "", gz},
        {"/ce-gzip", "Content-Encoding: gzip\r\nContent-Length: 15\r\n", gz, "", "gzip", gz},
        {"/ce-two", "Content-Encoding: Identity\r\nContent-Encoding: br , x-gzip\r\n", gz, "", "br, x-gzip",
         gz},
        {"/ce-identity", "Content-Encoding: identity\r\n", gz, "", "", gz},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        peer->raw(row.path, "HTTP/1.1 200 OK\r\n" + row.fields + "\r\n" + row.body);
        THttpCli c;
        HttpRecorder r;
        r.attach(c);
        c.URL = peer->url(row.path);
        c.StartGet();
        ASSERT_TRUE(r.wait());
        if (!row.reason.empty()) {
            EXPECT_EQ(c.StatusCode(), 404);
            EXPECT_EQ(c.ReasonPhrase(), row.reason);
            EXPECT_EQ(c.Failure(), HttpFailure::Reply);
            EXPECT_EQ(r.count("docdata"), 0);
        } else {
            EXPECT_EQ(c.StatusCode(), 200);
            EXPECT_EQ(c.ContentEncoding(), row.encoding);
            EXPECT_EQ(r.body, row.handedOn);
        }
    }
}

// A relocation holding a control character (a bare CR above all) would carry
// header lines of the server's choosing into the next request: refused, with
// and without RedirectStatusOnly, and nothing further is asked.
TEST_F(Http, RelocationsHoldingControlCharactersAreRefused) {
    const std::vector<std::string> locations = {"/ok/x.mp3\rX-Injected: 1",
                                                "/ok/x.mp3\r\rX-Injected: 1",
                                                "/ok/x\x01.mp3",
                                                "/ok/x\t.mp3",
                                                "http://127.0.0.1\r:1/x.mp3",
                                                "/ok/x\x7f.mp3"};
    peer->serve("/ok/x.mp3", "the file");
    int k = 0;
    for (const std::string& location : locations) {
        for (const bool statusOnly : {false, true}) {
            SCOPED_TRACE(location + (statusOnly ? " (status only)" : ""));
            const std::string path = "/bad-location-" + std::to_string(k++);
            peer->raw(path, "HTTP/1.1 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n");
            const std::size_t before = peer->requests().size();
            THttpCli c;
            HttpRecorder r;
            r.attach(c);
            c.URL = peer->url(path);
            c.RedirectStatusOnly = statusOnly;
            c.StartGet();
            ASSERT_TRUE(r.wait());
            platform::runUntil([] { return false; }, 50); // a further request would arrive here
            EXPECT_EQ(c.StatusCode(), 404);
            EXPECT_EQ(c.Failure(), HttpFailure::Relocation);
            EXPECT_EQ(c.ReasonPhrase().rfind("Relocation holding control characters refused: ", 0), 0u)
                << c.ReasonPhrase();
            EXPECT_EQ(c.ReasonPhrase().find_first_of("\r\n\x01\x7f"),
                      std::string::npos); // (tabs are harmless)
            EXPECT_TRUE(peer->waitForRequests(before + 1));
            EXPECT_EQ(peer->requests().size(), before + 1);
            EXPECT_EQ(r.body, "");
        }
    }
}
