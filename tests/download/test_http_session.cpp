// HttpSession against nginx (HTTP, HTTPS, Range, limit_rate, redirects), the
// scripted server for what nginx never does (a Range ignored, a short body, a
// redirect loop, chunks, a 206 for other bytes), tinyproxy, a closed port and
// a certificate nobody trusts: the outcome and the bytes on disk of each.
#include "download/transfer.h"
#include "net/tls.h"
#include "peers/http_peers.h"
#include "peers/nginx_peer.h"
#include "peers/test_ca.h"
#include "platform/eventloop.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>
#include <sys/resource.h>

using download::HttpSession;
using download::Outcome;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const std::string None = "<no file>";

std::string content() {
    static const std::string bytes = [] {
        std::string s(300000, '\0');
        std::uint32_t x = 12345;
        for (char& c : s)
            c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
        return s;
    }();
    return bytes;
}

struct Fetched {
    bool finished = false;
    Outcome outcome = Outcome::Done;
    std::string detail, file, lines;
};

class HttpDownload : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ca = new testpeers::TestCa();
        rogue = new testpeers::TestCa("Rogue CA");
        ASSERT_TRUE(ca->ok() && rogue->ok());
        std::string error;
        ASSERT_TRUE(net::tlsAddTrustFile(ca->certFile(), error)) << error;
        const testpeers::ServerCert good = ca->issue("good", "DNS:localhost,IP:127.0.0.1");
        const testpeers::ServerCert untrusted = rogue->issue("untrusted", "DNS:localhost,IP:127.0.0.1");
        root = new testsupport::TempDir();
        writeFile(root->file("a.mp3"), content());
        std::string extra = "location /slow/ { alias " + root->path() + "/; limit_rate 100k; }\n" +
                            "location = /to-http { return 301 %HTTP%/a.mp3; }\n" +
                            "location = /r1 { return 302 /a.mp3; }\n";
        for (int i = 2; i <= 6; ++i)
            extra +=
                "location = /r" + std::to_string(i) + " { return 307 /r" + std::to_string(i - 1) + "; }\n";
        nginx = new testpeers::NginxPeer();
        ASSERT_TRUE(nginx->start(root->path(), extra, &good)) << nginx->log();
        bad = new testpeers::HttpPeer();
        ASSERT_TRUE(bad->start());
        rogueServer = new testpeers::HttpPeer();
        ASSERT_TRUE(rogueServer->startTls(untrusted.cert, untrusted.key));
        rogueServer->serve("/a.mp3", "x");
        proxy = new testpeers::TinyProxy();
        ASSERT_TRUE(proxy->start());
    }
    static void TearDownTestSuite() {
        delete proxy;
        delete rogueServer;
        delete bad;
        delete nginx;
        delete root;
        delete rogue;
        delete ca;
    }

    HttpSession::Request request(const std::string& url, bool resume = false) {
        HttpSession::Request r;
        r.url = url;
        r.localName = dir.file("out.mp3");
        r.resume = resume;
        r.agent = "WavetrapTest/1";
        return r;
    }

    // Starts the session and runs the loop until it finishes.
    Fetched fetch(HttpSession& s, const HttpSession::Request& rq) {
        Fetched r;
        platform::ScopedConnection a = s.finished.connect([&r](const download::TransferResult& t) {
            r.finished = true;
            r.outcome = t.outcome;
            r.detail = t.detail;
        });
        platform::ScopedConnection b = s.display.connect([&r](const std::string& l) { r.lines += l + "\n"; });
        s.start(rq);
        EXPECT_TRUE(platform::runUntil([&r] { return r.finished; }, 20000)) << rq.url;
        r.file = std::filesystem::exists(rq.localName) ? readFile(rq.localName) : None;
        return r;
    }

    testsupport::TempDir dir;
    static inline testpeers::TestCa* ca = nullptr;
    static inline testpeers::TestCa* rogue = nullptr;
    static inline testsupport::TempDir* root = nullptr;
    static inline testpeers::NginxPeer* nginx = nullptr;
    static inline testpeers::HttpPeer* bad = nullptr;
    static inline testpeers::HttpPeer* rogueServer = nullptr;
    static inline testpeers::TinyProxy* proxy = nullptr;
};

TEST_F(HttpDownload, OutcomeAndBytesOnDisk) {
    const std::string c = content();
    const std::string cl = "HTTP/1.1 200 OK\r\nContent-Length: ";
    bad->serve("/whole", c);
    bad->raw("/short", cl + "1000\r\n\r\n" + c.substr(0, 400));
    bad->relocate("/loop", "/loop", 302);
    bad->raw("/chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n186a0\r\n" +
                             c.substr(0, 100000) + "\r\n30d40\r\n" + c.substr(100000) + "\r\n0\r\n\r\n");
    bad->raw("/chunked-cut",
             "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3e8\r\n" + c.substr(0, 1000));
    bad->reply("/elsewhere", 206, "Partial Content", {{"Content-Range", "bytes 0-9/10"}}, "0123456789");
    bad->relocate("/dir/rel", "same.mp3", 303);
    bad->serve("/dir/same.mp3", c);
    testpeers::ClosedPort closed;

    struct Row {
        const char* name;
        std::function<std::string()> url;
        std::optional<std::string> local; // the file before, resumed when set
        bool viaProxy;
        Outcome outcome;
        std::string file; // after
    };
    const std::vector<Row> rows = {
        {"fresh", [] { return nginx->url("/a.mp3"); }, {}, false, Outcome::Done, c},
        {"rest by 206", [] { return nginx->url("/a.mp3"); }, c.substr(0, 1000), false, Outcome::Done, c},
        {"complete: 416", [] { return nginx->url("/a.mp3"); }, c, false, Outcome::Done, c},
        {"longer than the file: over", [] { return nginx->url("/a.mp3"); }, c + "tail", false, Outcome::Done,
         c},
        {"https", [] { return nginx->tlsUrl("/a.mp3"); }, {}, false, Outcome::Done, c},
        {"https rest by 206", [] { return nginx->tlsUrl("/a.mp3"); }, c.substr(0, 5), false, Outcome::Done,
         c},
        {"https to http", [] { return nginx->tlsUrl("/to-http"); }, {}, false, Outcome::Redirects, None},
        {"five redirects", [] { return nginx->url("/r5"); }, {}, false, Outcome::Done, c},
        {"six redirects", [] { return nginx->url("/r6"); }, {}, false, Outcome::Redirects, None},
        {"relative redirect", [] { return bad->url("/dir/rel"); }, {}, false, Outcome::Done, c},
        {"not found", [] { return nginx->url("/none.mp3"); }, {}, false, Outcome::NotFound, None},
        {"proxy", [] { return nginx->url("/a.mp3"); }, c.substr(0, 7), true, Outcome::Done, c},
        {"proxy tunnel", [] { return nginx->tlsUrl("/a.mp3"); }, {}, true, Outcome::Done, c},
        {"range ignored", [] { return bad->url("/whole"); }, "garbage", false, Outcome::Done, c},
        {"short body", [] { return bad->url("/short"); }, {}, false, Outcome::Short, c.substr(0, 400)},
        {"redirect loop", [] { return bad->url("/loop"); }, {}, false, Outcome::Redirects, None},
        {"chunked", [] { return bad->url("/chunked"); }, {}, false, Outcome::Done, c},
        {"chunks cut", [] { return bad->url("/chunked-cut"); }, {}, false, Outcome::Short, c.substr(0, 1000)},
        {"206 of other bytes", [] { return bad->url("/elsewhere"); }, "abc", false, Outcome::Broken, "abc"},
        {"closed port",
         [&closed] { return "http://127.0.0.1:" + std::to_string(closed.port()) + "/a.mp3"; },
         {},
         false,
         Outcome::SiteDown,
         None},
        {"untrusted certificate", [] { return rogueServer->url("/a.mp3"); }, {}, false, Outcome::Tls, None},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(dir.file("out.mp3"));
        if (row.local) writeFile(dir.file("out.mp3"), *row.local);
        HttpSession s;
        HttpSession::Request rq = request(row.url(), row.local.has_value());
        if (row.viaProxy) rq.proxy = proxy->hostPort();
        const Fetched r = fetch(s, rq);
        EXPECT_EQ(download::outcomeName(r.outcome), std::string(download::outcomeName(row.outcome)))
            << r.detail;
        EXPECT_TRUE(r.file == row.file)
            << r.file.size() << " bytes on disk, " << row.file.size() << " expected\n"
            << r.lines;
        if (row.outcome == Outcome::Done) {
            EXPECT_EQ(s.byteCount(), static_cast<std::int64_t>(c.size()));
            EXPECT_EQ(s.size(), static_cast<std::int64_t>(c.size()));
        }
    }
}

TEST_F(HttpDownload, RequestAndLinesShown) {
    writeFile(dir.file("out.mp3"), content().substr(0, 1000));
    HttpSession s;
    const Fetched r = fetch(s, request(bad->url("/dir/rel"), true));
    ASSERT_EQ(r.outcome, Outcome::Done) << r.detail;
    EXPECT_EQ(s.finalUrl(), bad->url("/dir/same.mp3"));
    const auto heads = bad->requests();
    ASSERT_GE(heads.size(), 2u);
    const auto& last = heads.back();
    EXPECT_EQ(last[0], "GET /dir/same.mp3 HTTP/1.1");
    for (const char* line : {"Range: bytes=1000-", "Connection: close", "User-Agent: WavetrapTest/1"})
        EXPECT_NE(std::find(last.begin(), last.end(), line), last.end()) << line;
    EXPECT_NE(std::find(last.begin(), last.end(), "Host: " + bad->hostPort()), last.end());
    EXPECT_NE(r.lines.find("> GET /dir/rel HTTP/1.1\n"), std::string::npos) << r.lines;
    EXPECT_NE(r.lines.find("! redirected to " + bad->url("/dir/same.mp3")), std::string::npos) << r.lines;
    EXPECT_NE(r.lines.find("< HTTP/1.0 200 OK"), std::string::npos) << r.lines;
}

TEST_F(HttpDownload, NoByteOrNoHeaderWithinTheVisitsStalls) {
    bad->hang("/hang");
    bad->stall("/stall", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + content().substr(0, 400));
    struct Case {
        std::string path;
        std::int64_t bytes; // on disk when the visits begin
        int visitsBefore;   // that pass without an end
    };
    for (const Case& k : {Case{"/hang", 0, 3}, Case{"/stall", 400, 3}}) {
        SCOPED_TRACE(k.path);
        HttpSession s;
        bool finished = false;
        download::TransferResult result;
        platform::ScopedConnection a = s.finished.connect([&](const download::TransferResult& t) {
            finished = true;
            result = t;
        });
        s.start(request(bad->url(k.path)));
        ASSERT_TRUE(platform::runUntil([&] { return s.byteCount() == k.bytes && bad->requests().size() > 0; },
                                       10000));
        for (int i = 0; i < k.visitsBefore; ++i) {
            s.visit(2, 3);
            EXPECT_FALSE(platform::runUntil([&] { return finished; }, 50)) << "visit " << i + 1;
        }
        s.visit(2, 3);
        ASSERT_TRUE(platform::runUntil([&] { return finished; }, 5000));
        EXPECT_EQ(result.outcome, Outcome::Stalled) << result.detail;
        EXPECT_FALSE(s.running());
        EXPECT_EQ(std::filesystem::exists(dir.file("out.mp3")) ? readFile(dir.file("out.mp3")).size() : 0u,
                  static_cast<std::size_t>(k.bytes));
    }
}

TEST_F(HttpDownload, AbortedSlowTransferResumesToTheWholeFile) {
    HttpSession s;
    bool finished = false;
    platform::ScopedConnection a =
        s.finished.connect([&](const download::TransferResult&) { finished = true; });
    s.start(request(nginx->url("/slow/a.mp3")));
    ASSERT_TRUE(platform::runUntil([&] { return s.byteCount() > 0; }, 10000));
    s.abort();
    EXPECT_FALSE(s.running());
    EXPECT_FALSE(platform::runUntil([&] { return finished; }, 200)); // no finished after abort
    const auto kept = readFile(dir.file("out.mp3")).size();
    ASSERT_GT(kept, 0u);
    ASSERT_LT(kept, content().size());
    const Fetched r = fetch(s, request(nginx->url("/a.mp3"), true));
    EXPECT_EQ(r.outcome, Outcome::Done) << r.detail;
    EXPECT_TRUE(r.file == content());
    EXPECT_EQ(s.received(), static_cast<std::int64_t>(content().size() - kept));
}

TEST_F(HttpDownload, FileSizeLimitIsALocalErrorKeepingTheBytes) {
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN); // as the programs have it
    struct rlimit small = old;
    small.rlim_cur = 100000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    HttpSession s;
    const Fetched r = fetch(s, request(nginx->url("/a.mp3")));
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(r.outcome, Outcome::LocalError);
    EXPECT_EQ(r.detail, "File too large");
    EXPECT_TRUE(r.file == content().substr(0, 100000)) << r.file.size();
    EXPECT_EQ(s.byteCount(), 100000);
}

} // namespace
