// wavetrap-cli get against servers that misbehave in one way each: the exit
// status, the bytes left on disk, whether the URL stays pending and the reason
// given on standard error. No wrong file is reported done, every run ends.

#include "road_support.h"

#include "peers/dialogue_server.h"
#include "peers/process.h"
#include "peers/test_ca.h"
#include "platform/eventloop.h"
#include "platform/listview.h"
#include "platform/profile.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

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

} // namespace
