// wavetrap-cli get against servers that misbehave in one way each: the exit
// status, the bytes left on disk, whether the URL stays pending and the reason
// given on standard error. No wrong file is reported done, every run ends.

#include "road_support.h"

#include "peers/dialogue_server.h"
#include "peers/http_peers.h"
#include "peers/process.h"
#include "peers/test_ca.h"
#include "platform/eventloop.h"
#include "platform/listview.h"
#include "platform/profile.h"
#include "support/tempdir.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>

namespace {

constexpr int FileSize = 3000;

struct HostileServer {
    testpeers::ChildProcess proc;
    int port = 0;
    bool start(const std::string& mode, const std::string& host = "127.0.0.1", const char* pause = "8",
               const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {std::string(WAVETRAP_TEST_SOURCE_DIR) + "/peers/hostile_ftp.py",
                                         "--host",
                                         host,
                                         "--mode",
                                         mode,
                                         "--size",
                                         std::to_string(FileSize),
                                         "--pause",
                                         pause};
        args.insert(args.end(), extra.begin(), extra.end());
        if (!proc.start("/usr/bin/python3", args)) return false;
        const bool up = platform::runUntil(
            [&] { return proc.output().find("PORT ") != std::string::npos || !proc.running(); }, 10000);
        const std::string out = proc.output();
        const auto at = out.find("PORT ");
        if (!up || at == std::string::npos) return false;
        port = std::stoi(out.substr(at + 5));
        return true;
    }
};

class HostileServers : public ::testing::Test {
protected:
    testsupport::TempDir config, out;
    testsupport::ScopedEnv env{"WAVETRAP_CONFIG_DIR", config.path()};
    testsupport::ScopedEnv tick{"WAVETRAP_TICK_MS", "2"};

    int run(const std::vector<std::string>& args, std::string& output, const std::string& limit = "") {
        testpeers::ChildProcess p;
        std::vector<std::string> sh = {"-c", limit + "exec \"$0\" \"$@\"", WAVETRAP_CLI_PATH};
        sh.insert(sh.end(), args.begin(), args.end());
        // The servers send patterned bytes, compared byte for byte: not checked as MP3.
        if (sh.size() > 3 && (sh[3] == "get" || sh[3] == "resume")) sh.insert(sh.begin() + 4, "--no-verify");
        EXPECT_TRUE(p.start("/bin/sh", sh));
        EXPECT_TRUE(platform::runUntil([&] { return !p.running(); }, 90000)) << p.output();
        output = p.output();
        return p.exitCode();
    }
    platform::StringList pending() const { return roadtest::pendingIn(config.file("wavbin.Ini")); }
    bool exists(const std::string& name) const { return ::access(out.file(name).c_str(), F_OK) == 0; }
};

TEST_F(HostileServers, EveryRunEndsAndNoWrongFileIsReportedDone) {
    using testpeers::fillBytes;
    const std::string whole = fillBytes(0, FileSize);
    struct Row {
        const char* mode;
        int partial;             // bytes of the true file already on disk (-1: no file)
        int exit;                // expected exit status
        const char* file;        // "whole", "none", "prefix" (a true prefix, shorter), "size" (exactly SIZE)
        bool pending;            // still pending after the run
        const char* said;        // part of the reason on standard error ("" for none)
        const char* limit = "";  // shell line run before the program
        const char* pause = "8"; // seconds of the server's pause
    } rows[] = {
        {"normal", 1000, 0, "whole", false, ""},
        {"rest-ignored", 1000, 0, "whole", false, ""},
        {"rest-late", 1000, 0, "whole", false, "", "", "1"},
        {"oversize", -1, 1, "size", false, "server sent more than its SIZE of 3000 bytes"},
        {"undersize", -1, 1, "size", true, "site given up: No data in 5 transfers in a row"},
        {"tail-pause", -1, 0, "whole", false, ""},
        {"dribble", -1, 1, "prefix", true, "given up after 10 "},
        {"size-close", -1, 1, "none", true, "given up after 10 connections"},
        {"pasv-self", -1, 1, "none", true, "site given up: No data in 5 transfers in a row"},
        {"pass-530", -1, 1, "none", true, "site given up: log-in refused 5 times (530 Login incorrect.)"},
        {"retr-550", -1, 1, "none", false,
         "not found on the site (550 No such file?]0;owned? or directory.)"},
        {"port-perm", -1, 0, "whole", false, ""},
        {"port-elsewhere", -1, 0, "whole", false, ""},
        {"normal", -1, 1, "prefix", true, "File too large", "ulimit -f 2; "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.mode) + " " + row.limit);
        HostileServer server;
        ASSERT_TRUE(server.start(row.mode, "127.0.0.1", row.pause)) << server.proc.output();
        ::unlink(out.file("x.mp3").c_str());
        ::unlink(config.file("wavbin.Ini").c_str());
        if (row.partial >= 0) testsupport::writeFile(out.file("x.mp3"), whole.substr(0, row.partial));
        const std::string url = "ftp://127.0.0.1:" + std::to_string(server.port) + "/pub/x.mp3";
        std::string output;
        EXPECT_EQ(run({"get", "-C", out.path(), url}, output, row.limit), row.exit) << output;
        const std::string file = exists("x.mp3") ? testsupport::readFile(out.file("x.mp3")) : "<none>";
        const std::string kind = row.file;
        if (kind == "whole" || kind == "size")
            EXPECT_TRUE(file == whole) << file.size() << " bytes\n" << output;
        else if (kind == "none")
            EXPECT_FALSE(exists("x.mp3")) << file.size() << " bytes\n" << output;
        else
            EXPECT_TRUE(file.size() < whole.size() && whole.compare(0, file.size(), file) == 0)
                << file.size() << " bytes\n"
                << output;
        EXPECT_EQ(pending() == platform::StringList{url}, row.pending) << output;
        if (*row.said) {
            EXPECT_NE(output.find(url + ": " + row.said), std::string::npos) << output;
        }
        EXPECT_EQ(output.find('\x1b'), std::string::npos) << "a server's escape reached the terminal";
        EXPECT_NE(output.find(row.exit == 0 ? "1 file fetched" : "0 files fetched"), std::string::npos)
            << output;
    }
}

// A TLS data stream cut without close_notify, though the server then says
// 226 and never told the size: what came is kept and resumed from (REST), the
// file is never reported fetched, and the URL stays pending.
TEST_F(HostileServers, CutTlsDataStreamIsAFailedResumableTransfer) {
    testpeers::TestCa ca;
    ASSERT_TRUE(ca.ok());
    const testpeers::ServerCert cert = ca.issue("ftp", "IP:127.0.0.1");
    HostileServer server;
    ASSERT_TRUE(server.start("tls-cut", "127.0.0.1", "8", {"--cert", cert.cert, "--key", cert.key}))
        << server.proc.output();
    const std::string url = "ftpes://127.0.0.1:" + std::to_string(server.port) + "/pub/x.mp3";
    std::string output;
    EXPECT_EQ(run({"get", "-C", out.path(), "--cacert", ca.certFile(), url}, output), 1) << output;
    const std::string whole = testpeers::fillBytes(0, FileSize);
    const std::string file = exists("x.mp3") ? testsupport::readFile(out.file("x.mp3")) : "";
    // More than the first transfer's half: later transfers resumed the partial file.
    EXPECT_TRUE(file.size() > whole.size() / 2 && file.size() < whole.size() &&
                whole.compare(0, file.size(), file) == 0)
        << file.size() << " bytes\n"
        << output;
    EXPECT_EQ(pending(), platform::StringList{url}) << output;
    EXPECT_NE(output.find(url + ": given up after 10 transfers"), std::string::npos) << output;
    EXPECT_NE(output.find("0 files fetched"), std::string::npos) << output;
}

// The bytes of a reply: the status line, the fields, the body.
std::string reply(const std::string& status, const std::vector<std::string>& fields,
                  const std::string& body) {
    std::string out = "HTTP/1.1 " + status + "\r\n";
    for (const std::string& f : fields)
        out += f + "\r\n";
    return out + "\r\n" + body;
}

// http:// files from a web server that answers each request of the file with
// the next of given replies: a file cut short and continued from another
// version of it, transient refusals. No file of two versions is ever
// reported fetched, and a transient refusal leaves the URL to a later try.
TEST_F(HostileServers, WebServerRepliesNeverSpliceTwoVersionsOrDropTransientRefusals) {
    testpeers::HttpPeer web;
    ASSERT_TRUE(web.start());
    const std::string one = testpeers::fillBytes(0, 20000), two = testpeers::fillBytes(7, 30000),
                      three = testpeers::fillBytes(13, 20000);
    const std::string modified = "Last-Modified: Mon, 02 Jan 2006 15:04:05 GMT";
    const std::string cutOne =
        reply("200 OK", {"Content-Length: 20000", "ETag: \"v1\""}, one.substr(0, 10000));
    struct Row {
        const char* name;
        std::vector<std::string> replies;
        int exit;
        std::string file;   // afterwards ("" for none)
        bool pending;       // still pending after the run
        const char* said;   // part of the reason on standard error, or of the -v lines
        std::string second; // a header line of the second request ("" for none)
        int minimumMs = 0;  // the run lasts at least this long (a wait the server asked for)
    } rows[] = {
        {"206 of a longer version",
         {cutOne,
          reply("206 Partial Content", {"Content-Range: bytes 10000-29999/30000", "ETag: \"v2\""},
                two.substr(10000)),
          reply("200 OK", {"Content-Length: 30000", "ETag: \"v2\""}, two)},
         0,
         two,
         false,
         "the file on the server is not the one begun",
         "If-Range: \"v1\""},
        {"206 of a version of the same size",
         {cutOne,
          reply("206 Partial Content", {"Content-Range: bytes 10000-19999/20000", "ETag: \"v3\""},
                three.substr(10000)),
          reply("200 OK", {"Content-Length: 20000", "ETag: \"v3\""}, three)},
         0,
         three,
         false,
         "its ETag is \"v3\", was \"v1\"",
         "Range: bytes=10000-"},
        {"206 that tells no version",
         {cutOne,
          reply("206 Partial Content", {"Content-Range: bytes 10000-19999/*", "Content-Length: 10000"},
                two.substr(10000, 10000)),
          reply("200 OK", {"Content-Length: 30000"}, two)},
         0,
         two,
         false,
         "the reply does not tell which version it holds",
         "If-Range: \"v1\""},
        {"a first reply that tells no version",
         {reply("200 OK", {"Transfer-Encoding: chunked"}, "2710\r\n" + one.substr(0, 10000) + "\r\n"),
          reply("206 Partial Content", {"Content-Range: bytes 10000-29999/30000", "ETag: \"v2\""},
                two.substr(10000)),
          reply("200 OK", {"Content-Length: 30000", "ETag: \"v2\""}, two)},
         0,
         two,
         false,
         "",
         ""},
        {"206 of the same version",
         {reply("200 OK", {"Content-Length: 20000", modified}, one.substr(0, 10000)),
          reply("206 Partial Content", {"Content-Range: bytes 10000-19999/20000", modified},
                one.substr(10000))},
         0,
         one,
         false,
         "",
         "If-Range: Mon, 02 Jan 2006 15:04:05 GMT"},
        {"429 with a short Retry-After",
         {reply("429 Too Many Requests", {"Retry-After: 1", "Content-Length: 0"}, ""),
          reply("200 OK", {"Content-Length: 20000"}, one)},
         0,
         one,
         false,
         "waiting 1 second before the next try",
         "",
         1000},
        {"408",
         {reply("408 Request Timeout", {"Content-Length: 0"}, ""),
          reply("200 OK", {"Content-Length: 20000"}, one)},
         0,
         one,
         false,
         "",
         ""},
        {"429 asking for an hour",
         {reply("429 Too Many Requests", {"Retry-After: 3600", "Content-Length: 0"}, "")},
         1,
         "",
         true,
         "site given up: the site asks to wait 3600 seconds (429 Too Many Requests)",
         ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ::unlink(out.file("x.mp3").c_str());
        ::unlink(config.file("wavbin.Ini").c_str());
        const std::string path = "/" + std::to_string(&row - rows) + "/x.mp3";
        web.rawSequence(path, row.replies);
        const std::size_t before = web.requests().size();
        const std::string url = web.url(path);
        std::string output;
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(run({"get", "-v", "-C", out.path(), url}, output), row.exit) << output;
        EXPECT_GE(clock.elapsed(), row.minimumMs);
        const std::string file = exists("x.mp3") ? testsupport::readFile(out.file("x.mp3")) : "";
        EXPECT_TRUE(file == row.file) << file.size() << " bytes\n" << output;
        EXPECT_EQ(pending() == platform::StringList{url}, row.pending) << output;
        if (*row.said) {
            EXPECT_NE(output.find(row.said), std::string::npos) << output;
        }
        const auto heads = web.requests();
        if (!row.second.empty()) {
            ASSERT_GE(heads.size(), before + 2) << output;
            const auto& h = heads[before + 1];
            EXPECT_NE(std::find(h.begin(), h.end(), row.second), h.end()) << output;
        }
        EXPECT_NE(output.find(row.exit == 0 ? "1 file fetched" : "0 files fetched"), std::string::npos)
            << output;
    }
}

// A file cut short, left pending by a run that gave up, is continued by
// resume only with the rest of the same version: its version is kept with the
// pending entry in the settings file.
TEST_F(HostileServers, ResumeAcrossRunsKeepsToTheVersionBegun) {
    testpeers::HttpPeer web;
    ASSERT_TRUE(web.start());
    const std::string one = testpeers::fillBytes(0, 20000), two = testpeers::fillBytes(7, 30000);
    const std::string url = web.url("/x.mp3");
    web.rawSequence("/x.mp3",
                    {reply("200 OK", {"Content-Length: 20000", "ETag: \"v1\""}, one.substr(0, 10000)),
                     reply("503 Service Unavailable", {"Content-Length: 0"}, "")});
    std::string output;
    EXPECT_EQ(run({"get", "-C", out.path(), url}, output), 1) << output;
    EXPECT_NE(output.find(url + ": site given up: No data in 5 transfers in a row"), std::string::npos)
        << output;
    ASSERT_EQ(pending(), platform::StringList{url});
    ASSERT_TRUE(testsupport::readFile(out.file("x.mp3")) == one.substr(0, 10000));
    platform::TIniFile ini(config.file("wavbin.Ini"));
    EXPECT_EQ(ini.ReadString("downloadingversions", "0", ""), url);
    EXPECT_EQ(ini.ReadString("downloadingversions", "0.etag", ""), "\"v1\"");
    EXPECT_EQ(ini.ReadString("downloadingversions", "0.size", ""), "20000");
    EXPECT_EQ(ini.ReadString("downloadings", "0", ""), "20000");

    web.rawSequence("/x.mp3", {reply("206 Partial Content", {"Content-Range: bytes 10000-29999/30000"},
                                     two.substr(10000)),
                               reply("200 OK", {"Content-Length: 30000", "ETag: \"v2\""}, two)});
    const std::size_t before = web.requests().size();
    EXPECT_EQ(run({"resume", "-C", out.path()}, output), 0) << output;
    EXPECT_TRUE(testsupport::readFile(out.file("x.mp3")) == two) << output;
    EXPECT_TRUE(pending().empty());
    const auto heads = web.requests();
    ASSERT_GE(heads.size(), before + 2);
    for (const char* line : {"Range: bytes=10000-", "If-Range: \"v1\""})
        EXPECT_NE(std::find(heads[before].begin(), heads[before].end(), line), heads[before].end()) << line;
    EXPECT_FALSE(platform::TIniFile(config.file("wavbin.Ini")).SectionExists("downloadingversions"));
}

} // namespace
