// wavetrap-cli get and resume as a user runs them: files from a real FTP
// server (and http:// files from nginx), the exit status, the settings files left behind, and a run killed
// in the middle of a transfer completed by resume.

#include "road_support.h"

#include "peers/dialogue_server.h"
#include "peers/ftp_peer.h"
#include "peers/http_peers.h"
#include "peers/nginx_peer.h"
#include "peers/process.h"
#include "platform/eventloop.h"
#include "platform/listview.h"
#include "platform/profile.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <regex>
#include <sys/stat.h>

namespace {

std::string content(std::size_t size, char seed) {
    std::string s(size, ' ');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = i % 61 == 60 ? '\n' : static_cast<char>('a' + (i * 5 + seed) % 26);
    return s;
}

long long sizeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// A settings directory and a download directory of a test's own, and the
// program run in them to its end.
class CliRuns : public ::testing::Test {
protected:
    testsupport::TempDir config, out;
    testsupport::ScopedEnv env{"WAVETRAP_CONFIG_DIR", config.path()};
    testsupport::ScopedEnv tick{"WAVETRAP_TICK_MS", "5"}; // a short scheduler tick

    // The sites of these tests serve patterned text under .mp3 names,
    // compared byte for byte: the runs are told --no-verify
    // (test_cli_verified.cpp runs the check).
    bool verifyFiles = false;

    // Runs the program to its end; answers its exit status. A limit is a
    // shell line run before it ("ulimit -f 20; ").
    int run(std::vector<std::string> args, std::string* output = nullptr, const std::string& limit = "") {
        if (!verifyFiles && !args.empty() && (args[0] == "get" || args[0] == "resume" || args[0] == "search"))
            args.insert(args.begin() + 1, "--no-verify");
        testpeers::ChildProcess p;
        if (limit.empty()) {
            EXPECT_TRUE(p.start(WAVETRAP_CLI_PATH, args));
        } else {
            args.insert(args.begin(), {"-c", limit + "exec \"$0\" \"$@\"", WAVETRAP_CLI_PATH});
            EXPECT_TRUE(p.start("/bin/sh", args));
        }
        EXPECT_TRUE(platform::runUntil([&] { return !p.running(); }, 60000)) << p.output();
        if (output) *output = p.output();
        return p.exitCode();
    }
    platform::StringList pending() const { return roadtest::pendingIn(config.file("wavbin.Ini")); }
};

class CliGet : public CliRuns {
protected:
    static inline testsupport::TempDir* root = nullptr;
    static inline testpeers::FtpPeer* fast = nullptr;
    static inline testpeers::FtpPeer* slow = nullptr;

    static void SetUpTestSuite() {
        root = new testsupport::TempDir;
        ::mkdir((root->path() + "/pub").c_str(), 0755);
        testsupport::writeFile(root->path() + "/pub/one.mp3", content(40000, 1));
        testsupport::writeFile(root->path() + "/pub/two.mp3", content(1000, 2));
        testsupport::writeFile(root->path() + "/pub/big.mp3", content(400000, 3));
        testpeers::FtpPeerOptions o;
        o.root = root->path();
        o.host = "127.0.0.4";
        fast = new testpeers::FtpPeer;
        if (!fast->start(o)) ADD_FAILURE() << fast->output();
        o.host = "127.0.0.5";
        o.rateLimit = 100000;
        slow = new testpeers::FtpPeer;
        if (!slow->start(o)) ADD_FAILURE() << slow->output();
    }
    static void TearDownTestSuite() {
        delete fast;
        delete slow;
        delete root;
    }

    static std::string url(const testpeers::FtpPeer& p, const std::string& name) {
        return "ftp://" + p.host() + ":" + std::to_string(p.port()) + "/pub/" + name;
    }
    platform::StringList logged() const {
        platform::TIniFile ini(config.file("wavbin"));
        platform::StringList l;
        const int n = ini.ReadInteger("log.dllog_Items", "Count", 0);
        for (int i = 0; i < n; ++i)
            l.push_back(ini.ReadString("log.dllog_Items", "Item" + std::to_string(i), ""));
        return l;
    }
};

TEST_F(CliGet, FetchesEveryURLIntoTheDirectory) {
    const std::string a = url(*fast, "one.mp3"), b = url(*fast, "two.mp3");
    std::string output;
    EXPECT_EQ(run({"get", "--pace", "1", "-C", out.path(), a, b}, &output), 0) << output;
    EXPECT_EQ(testsupport::readFile(out.file("one.mp3")), content(40000, 1));
    EXPECT_EQ(testsupport::readFile(out.file("two.mp3")), content(1000, 2));
    EXPECT_TRUE(pending().empty());
    const platform::StringList log = logged();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.front(), a);
    EXPECT_EQ(log.back(), b);
    // The statistics are kept with the main window's stored properties.
    platform::TIniFile ini(config.file("wavbin"));
    bool found = false;
    const int n = ini.ReadInteger("items.stats_ip_Items", "Count", 0);
    for (int i = 0; i < n; ++i)
        if (ini.ReadString("items.stats_ip_Items", "Item" + std::to_string(i), "") == "127.0.0.4") {
            found = true;
            // 1 + 2 x (25 + 75); a transfer resumed after a stall adds 25.
            const int good =
                std::stoi(ini.ReadString("items.stats_good_Items", "Item" + std::to_string(i), "0"));
            EXPECT_GE(good, 201);
            EXPECT_EQ((good - 201) % 25, 0);
        }
    EXPECT_TRUE(found);
}

TEST_F(CliGet, MissingFileGivesExitStatusOne) {
    std::string output;
    EXPECT_EQ(run({"get", "-C", out.path(), url(*fast, "two.mp3"), url(*fast, "nothere.mp3")}, &output), 1);
    EXPECT_NE(output.find("not fetched: " + url(*fast, "nothere.mp3")), std::string::npos) << output;
    EXPECT_EQ(testsupport::readFile(out.file("two.mp3")), content(1000, 2));
}

TEST_F(CliGet, BadUsageGivesExitStatusTwo) {
    struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"get"}, "no URL given"},
        {{"get", "--pace", "0", "ftp://h/x.mp3"}, "--pace needs a number from 1 to 10"},
        {{"get", "--pace", "11", "ftp://h/x.mp3"}, "--pace needs a number from 1 to 10"},
        {{"get", "gopher://h/x.mp3"}, "not an ftp:// or http:// URL"},
        // URLs no slot could ever fetch would be retried without end.
        {{"get", "ftp:///x.mp3"}, "no host name in URL: ftp:///x.mp3"},
        {{"get", "ftp://h:abc/x.mp3"}, "bad port in URL"},
        {{"get", "ftp://h:99999/x.mp3"}, "bad port in URL"},
        {{"get", "ftp://h/pub/"}, "no file name in URL: ftp://h/pub/"},
        {{"get", "-C", "/nonexistent/dir", "ftp://h/x.mp3"}, "cannot change to directory"},
        {{"get", "--frobnicate", "ftp://h/x.mp3"}, "unknown option"},
        {{"resume", "extra"}, "unexpected argument"},
        {{"get", "--limit-rate", "5x", "ftp://h/x.mp3"},
         "--limit-rate needs a rate such as 500k or 2M, not '5x'"},
        {{"resume", "--limit-rate"}, "--limit-rate needs a rate"},
    };
    for (const auto& c : cases) {
        std::string output;
        EXPECT_EQ(run(c.args, &output), 2) << c.args.back();
        EXPECT_NE(output.find(c.message), std::string::npos) << output;
    }
}

TEST_F(CliGet, RunsEndWhenASiteRefusesEveryLogInOrAPendingURLCannotBeFetched) {
    // A site that refuses anonymous log-ins, and pending entries no slot could fetch.
    testpeers::FtpPeerOptions o;
    o.root = root->path();
    o.host = "127.0.0.6";
    o.anonymous = false;
    testpeers::FtpPeer closed;
    ASSERT_TRUE(closed.start(o)) << closed.output();
    std::string output;
    EXPECT_EQ(run({"get", "-C", out.path(), url(closed, "two.mp3")}, &output), 1);
    EXPECT_NE(
        output.find("not fetched: " + url(closed, "two.mp3") + ": site given up: log-in refused 5 times"),
        std::string::npos)
        << output;

    testsupport::writeFile(
        config.file("wavbin.Ini"),
        "[downloading]\ncount=2\n0=ftp://127.0.0.4:abc/pub/x.mp3\n1=ftp://127.0.0.4:99999/y.mp3\n");
    EXPECT_EQ(run({"resume", "-C", out.path()}, &output), 1);
    EXPECT_NE(output.find("refused: bad port in URL: ftp://127.0.0.4:abc/pub/x.mp3"), std::string::npos)
        << output;
    EXPECT_TRUE(pending().empty());
}

TEST_F(CliGet, SettingsThatCannotBeSavedCostAWarningNotTheDownload) {
    testsupport::ScopedEnv nowhere{"WAVETRAP_CONFIG_DIR", "/dev/null/wavetrap"};
    std::string output;
    EXPECT_EQ(run({"get", "-C", out.path(), url(*fast, "two.mp3")}, &output), 0) << output;
    EXPECT_EQ(testsupport::readFile(out.file("two.mp3")), content(1000, 2));
    const std::string warning = "warning: the settings cannot be saved";
    EXPECT_NE(output.find(warning), std::string::npos) << output;
    EXPECT_EQ(output.find(warning), output.rfind(warning)) << output; // once
}

TEST_F(CliGet, ResumeWithNothingPendingGivesOne) {
    std::string output;
    EXPECT_EQ(run({"resume", "-C", out.path()}, &output), 1);
    EXPECT_NE(output.find("no pending downloads"), std::string::npos) << output;
}

// Starts a get of big.mp3 from the slow server and stops it with sig once a
// part of the file has arrived.
void interruptMidTransfer(const std::string& dir, const std::string& u, int sig, int& status) {
    testpeers::ChildProcess p;
    ASSERT_TRUE(p.start(WAVETRAP_CLI_PATH, {"get", "--no-verify", "--pace", "1", "-C", dir, u}));
    const std::string file = dir + "/big.mp3";
    ASSERT_TRUE(platform::runUntil([&] { return sizeOf(file) > 50000 || !p.running(); }, 30000))
        << p.output();
    ASSERT_TRUE(p.running()) << p.output();
    ::kill(static_cast<pid_t>(p.pid()), sig);
    ASSERT_TRUE(platform::runUntil([&] { return !p.running(); }, 10000));
    status = p.exitCode();
}

TEST_F(CliGet, KilledRunIsCompletedByResume) {
    const std::string u = url(*slow, "big.mp3");
    int status = 0;
    interruptMidTransfer(out.path(), u, SIGKILL, status);
    const long long partial = sizeOf(out.file("big.mp3"));
    EXPECT_GT(partial, 0);
    EXPECT_LT(partial, 400000);
    EXPECT_EQ(pending(), (platform::StringList{u})); // saved as the transfer started

    std::string output;
    EXPECT_EQ(run({"resume", "--pace", "1", "-C", out.path()}, &output), 0) << output;
    EXPECT_EQ(testsupport::readFile(out.file("big.mp3")), content(400000, 3));
    EXPECT_TRUE(pending().empty());
}

// Scripted log-in and transfer of /pub/x.mp3 (size, bytes from..from+count).
std::string scriptedTransfer(int size, int from, int count, const std::string& end) {
    return "S: 220 ready\nC: USER anonymous\nS: 331 pw\nC: PASS wavetrap@example.com\nS: 230 ok\n"
           "C: TYPE I\nS: 200 ok\nC: SIZE /pub/x.mp3\nS: 213 " +
           std::to_string(size) + "\nCP: PORT \nS: 200 ok\n" +
           (from ? "C: REST " + std::to_string(from) + "\nS: 350 ok\n" : "") +
           "C: RETR /pub/x.mp3\nS: 150 ok\nDATACONNECT\nDATAFILL " + std::to_string(from) + " " +
           std::to_string(count) + "\n" + end;
}

TEST_F(CliGet, SecondFileOfTheSameNameIsResumedUnderItsOwnNameAfterARestart) {
    // x.mp3 from two sites in one run: a's arrives whole as x.mp3; b's (a log-in
    // refused first, so it starts later) goes to "x (2).mp3", and the run is
    // killed. Going on (by resume, or by get of b's URL) must continue
    // "x (2).mp3", not append to a's file.
    for (const char* how : {"resume", "get"}) {
        SCOPED_TRACE(how);
        const std::string dir = out.path() + "/" + how;
        ::mkdir(dir.c_str(), 0755);
        testpeers::DialogueServer a, b;
        ASSERT_TRUE(a.start(testpeers::Dialogue::fromText(
                                scriptedTransfer(1000, 0, 1000, "DATACLOSE\nS: 226 ok\nWAITCLOSE\n")),
                            "127.0.0.2"));
        ASSERT_TRUE(b.start(testpeers::Dialogue::fromText(
                                "S: 421 busy\nWAITCLOSE\nACCEPT\n" +
                                scriptedTransfer(1200, 0, 400, "DATAWAITCLOSE\nACCEPT\n") +
                                scriptedTransfer(1200, 400, 800, "DATACLOSE\nS: 226 ok\nWAITCLOSE\n")),
                            "127.0.0.3"));
        auto u = [](const testpeers::DialogueServer& d) {
            return "ftp://" + d.host() + ":" + std::to_string(d.port()) + "/pub/x.mp3";
        };
        testpeers::ChildProcess p;
        ASSERT_TRUE(p.start(WAVETRAP_CLI_PATH, {"get", "--no-verify", "--pace", "1", "-C", dir, u(b), u(a)}));
        // a's file is finished (no longer pending) and b's partial file written.
        ASSERT_TRUE(platform::runUntil(
            [&] {
                return (sizeOf(dir + "/x (2).mp3") == 400 && pending() == platform::StringList{u(b)}) ||
                       !p.running();
            },
            30000))
            << p.output();
        ASSERT_TRUE(p.running()) << p.output();
        ::kill(static_cast<pid_t>(p.pid()), SIGKILL);
        ASSERT_TRUE(platform::runUntil([&] { return !p.running(); }, 10000));
        EXPECT_EQ(pending(), (platform::StringList{u(b)}));

        std::string output;
        const std::vector<std::string> again = how == std::string("get")
                                                   ? std::vector<std::string>{"get", "-C", dir, u(b)}
                                                   : std::vector<std::string>{"resume", "-C", dir};
        EXPECT_EQ(run(again, &output), 0) << output;
        EXPECT_TRUE(platform::runUntil([&] { return b.finished(); }, 5000)) << b.where();
        EXPECT_TRUE(a.errors().empty() && b.errors().empty()) << b.where();
        EXPECT_TRUE(testsupport::readFile(dir + "/x.mp3") == testpeers::fillBytes(0, 1000));
        EXPECT_TRUE(testsupport::readFile(dir + "/x (2).mp3") == testpeers::fillBytes(0, 1200));
        EXPECT_TRUE(pending().empty());
    }
}

TEST_F(CliGet, TerminatedRunSavesItsPendingDownloadsAndLog) {
    const std::string u = url(*slow, "big.mp3");
    int status = 0;
    interruptMidTransfer(out.path(), u, SIGTERM, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(pending(), (platform::StringList{u}));
    EXPECT_EQ(logged(), (platform::StringList{u}));
    EXPECT_GT(sizeOf(out.file("big.mp3")), 0);
}

TEST_F(CliGet, SearchWithDownloadFetchesEveryRow) {
    testpeers::HttpPeer engine;
    ASSERT_TRUE(engine.start());
    const std::string a = url(*fast, "one.mp3"), b = url(*fast, "two.mp3");
    engine.serve("/s?q=song", "<html><a href=\"" + a + "\">one</a> <a href=\"" + b + "\">two</a></html>");
    roadtest::ScopedCwd cwd(out.path()); // the files land in the current directory
    std::string output;
    EXPECT_EQ(run({"search", "--engine", engine.hostPort() + "/s?q=", "--download", "--pace", "1", "song"},
                  &output),
              0)
        << output;
    EXPECT_NE(output.find(a), std::string::npos) << output; // the table is printed first
    EXPECT_EQ(testsupport::readFile(out.file("one.mp3")), content(40000, 1));
    EXPECT_EQ(testsupport::readFile(out.file("two.mp3")), content(1000, 2));
    EXPECT_TRUE(pending().empty());
}

} // namespace

namespace {

TEST_F(CliGet, EveryAcceptedURLIsPendingAndOneRunWritesTheSettings) {
    // Two files of the slow site (one waits behind the other) and one of the fast site.
    const std::string big = url(*slow, "big.mp3"), one = url(*slow, "one.mp3"), two = url(*fast, "two.mp3");
    testpeers::ChildProcess p;
    ASSERT_TRUE(
        p.start(WAVETRAP_CLI_PATH, {"get", "--no-verify", "--pace", "1", "-C", out.path(), big, one, two}));
    ASSERT_TRUE(
        platform::runUntil([&] { return sizeOf(out.file("big.mp3")) > 50000 || !p.running(); }, 30000));
    ASSERT_TRUE(p.running()) << p.output();
    // A second run that would write the same settings is refused at once.
    std::string output;
    EXPECT_EQ(run({"get", "-C", out.path(), two}, &output), 2);
    EXPECT_NE(output.find("another Wavetrap (process " + std::to_string(p.pid()) + ") is using the settings"),
              std::string::npos)
        << output;
    ::kill(static_cast<pid_t>(p.pid()), SIGKILL);
    ASSERT_TRUE(platform::runUntil([&] { return !p.running(); }, 10000));
    const platform::StringList left = pending();
    EXPECT_NE(std::find(left.begin(), left.end(), big), left.end());
    EXPECT_NE(std::find(left.begin(), left.end(), one), left.end()); // parked behind its site
    EXPECT_EQ(run({"resume", "-C", out.path()}, &output), 0) << output;
    EXPECT_EQ(testsupport::readFile(out.file("big.mp3")), content(400000, 3));
    EXPECT_EQ(testsupport::readFile(out.file("one.mp3")), content(40000, 1));
    EXPECT_TRUE(pending().empty());
    // A result page cannot write a name of its choosing.
    EXPECT_EQ(run({"get", "-C", out.path(), url(*fast, "a.mp3/.bashrc")}, &output), 2);
    EXPECT_NE(output.find("not an .mp3 name: " + url(*fast, "a.mp3/.bashrc")), std::string::npos) << output;
    EXPECT_FALSE(std::filesystem::exists(out.file(".bashrc")));
}

// http:// files from nginx take the same road as FTP files: names, pending
// list, reasons, exit status; a run killed in the middle is continued with
// Range; the state changes at -v.
class CliGetHttp : public CliRuns {
protected:
    static void SetUpTestSuite() {
        root = new testsupport::TempDir;
        testsupport::writeFile(root->file("one.mp3"), content(40000, 1));
        testsupport::writeFile(root->file("big.mp3"), content(600000, 3));
        nginx = new testpeers::NginxPeer;
        if (!nginx->start(root->path(),
                          "location /slow/ { alias " + root->path() + "/; limit_rate 100k; }\n"))
            ADD_FAILURE() << nginx->log();
    }
    static void TearDownTestSuite() {
        delete nginx;
        delete root;
    }
    static inline testsupport::TempDir* root = nullptr;
    static inline testpeers::NginxPeer* nginx = nullptr;

    // A get of u killed in the middle of its file, once the version of the
    // partial file is written down (at the tick after the reply's header).
    void killWhenBegun(const std::string& u, const std::string& name) {
        testpeers::ChildProcess p;
        ASSERT_TRUE(p.start(WAVETRAP_CLI_PATH, {"get", "--no-verify", "-C", out.path(), u}));
        ASSERT_TRUE(platform::runUntil(
            [&] {
                return (sizeOf(out.file(name)) > 100000 &&
                        platform::TIniFile(config.file("wavbin.Ini")).SectionExists("downloadingversions")) ||
                       !p.running();
            },
            30000));
        ASSERT_TRUE(p.running()) << p.output();
        ::kill(static_cast<pid_t>(p.pid()), SIGKILL);
        ASSERT_TRUE(platform::runUntil([&] { return !p.running(); }, 10000));
    }
};

TEST_F(CliGetHttp, FilesNamesAndReasonsAsForFtp) {
    // An unrelated local one.mp3 is kept: the download goes to "one (2).mp3".
    testsupport::writeFile(out.file("one.mp3"), "mine");
    const std::string a = nginx->url("/one.mp3"), missing = nginx->url("/none.mp3");
    std::string output;
    EXPECT_EQ(run({"get", "-v", "-C", out.path(), a, missing}, &output), 1) << output;
    EXPECT_EQ(testsupport::readFile(out.file("one (2).mp3")), content(40000, 1));
    EXPECT_EQ(testsupport::readFile(out.file("one.mp3")), "mine");
    EXPECT_NE(output.find("not fetched: " + missing + ": not found on the site (404 Not Found)"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("state 14: Connecting -> TransferAnswered"), std::string::npos) << output;
    EXPECT_NE(output.find("1 file fetched, 40000 bytes received"), std::string::npos) << output;
    EXPECT_TRUE(pending().empty()); // a file the site does not have is not kept
}

TEST_F(CliGetHttp, KilledRunIsContinuedWithRange) {
    const std::string u = nginx->url("/slow/big.mp3");
    ASSERT_NO_FATAL_FAILURE(killWhenBegun(u, "big.mp3"));
    const long long partial = sizeOf(out.file("big.mp3"));
    EXPECT_LT(partial, 600000);
    EXPECT_EQ(pending(), (platform::StringList{u}));
    std::string output;
    EXPECT_EQ(run({"resume", "-v", "-C", out.path()}, &output), 0) << output;
    EXPECT_NE(output.find("Range: bytes=" + std::to_string(partial) + "-"), std::string::npos) << output;
    EXPECT_EQ(testsupport::readFile(out.file("big.mp3")), content(600000, 3));
    EXPECT_TRUE(pending().empty());
}

TEST_F(CliGetHttp, LocalFilesThisURLNeverStartedAreLeftAlone) {
    // The slot's first file has the size the others' local files are measured
    // against; neither of those files is this run's to continue.
    const std::string mine = content(20000, 5), theirs = content(20000, 6);
    for (const char* name : {"first.mp3", "own.mp3", "same.mp3"})
        testsupport::writeFile(root->file(name), name == std::string("own.mp3") ? mine : theirs);
    testsupport::writeFile(out.file("own.mp3"), "fifteen bytes!!");
    testsupport::writeFile(out.file("same.mp3"), content(20000, 7));
    std::string output;
    EXPECT_EQ(run({"get", "-v", "-C", out.path(), nginx->url("/first.mp3"), nginx->url("/own.mp3"),
                   nginx->url("/same.mp3")},
                  &output),
              0)
        << output;
    EXPECT_TRUE(testsupport::readFile(out.file("own.mp3")) == "fifteen bytes!!");
    EXPECT_TRUE(testsupport::readFile(out.file("same.mp3")) == content(20000, 7));
    EXPECT_TRUE(testsupport::readFile(out.file("own (2).mp3")) == mine);
    EXPECT_TRUE(testsupport::readFile(out.file("same (2).mp3")) == theirs);
    EXPECT_EQ(output.find("Range:"), std::string::npos) << output;
    EXPECT_NE(output.find("3 files fetched, 60000 bytes received"), std::string::npos) << output;
}

TEST_F(CliGetHttp, FileStoppedByAFullDiskIsContinuedAfterAnotherFileOfItsSite) {
    // Two runs that stop at a file size limit (a full disk to the program)
    // leave two partial files pending: first small.mp3, then big.mp3 with more
    // bytes than small.mp3 has in all. The resume fetches small.mp3 first on
    // the slot, then must continue big.mp3, not fetch it again beside it.
    testsupport::writeFile(root->file("small.mp3"), content(40000, 8));
    const std::string small = nginx->url("/small.mp3"), big = nginx->url("/big.mp3");
    std::string output;
    EXPECT_EQ(run({"get", "-C", out.path(), small}, &output, "ulimit -f 20; "), 1) << output;
    EXPECT_NE(output.find("File too large"), std::string::npos) << output;
    EXPECT_EQ(run({"get", "-C", out.path(), big}, &output, "ulimit -f 200; "), 1) << output;
    const long long partial = sizeOf(out.file("big.mp3"));
    ASSERT_GT(partial, 40000);
    ASSERT_LT(partial, 600000);
    ASSERT_EQ(pending(), (platform::StringList{small, big}));

    EXPECT_EQ(run({"resume", "-v", "-C", out.path()}, &output), 0) << output;
    EXPECT_TRUE(testsupport::readFile(out.file("small.mp3")) == content(40000, 8));
    EXPECT_TRUE(testsupport::readFile(out.file("big.mp3")) == content(600000, 3));
    EXPECT_FALSE(std::filesystem::exists(out.file("big (2).mp3")));
    EXPECT_NE(output.find("Range: bytes=" + std::to_string(partial) + "-"), std::string::npos) << output;
    EXPECT_TRUE(pending().empty());
}

TEST_F(CliGetHttp, FileChangedOnTheServerIsFetchedAgainNotSpliced) {
    // The same size, other bytes and another time: only the version (If-Range)
    // tells the rest of the new file from the rest of the one begun.
    const std::string before = content(600000, 9), after = content(600000, 10);
    testsupport::writeFile(root->file("changing.mp3"), before);
    const std::string u = nginx->url("/slow/changing.mp3");
    ASSERT_NO_FATAL_FAILURE(killWhenBegun(u, "changing.mp3"));
    testsupport::writeFile(root->file("changing.mp3"), after);
    const auto later = std::filesystem::last_write_time(root->file("changing.mp3")) + std::chrono::hours(1);
    std::filesystem::last_write_time(root->file("changing.mp3"), later);
    std::string output;
    EXPECT_EQ(run({"resume", "-v", "-C", out.path()}, &output), 0) << output;
    EXPECT_NE(output.find("If-Range: \""), std::string::npos) << output;
    EXPECT_TRUE(testsupport::readFile(out.file("changing.mp3")) == after) << output;
    EXPECT_TRUE(pending().empty());
}

} // namespace

// On a terminal (here a pseudo-terminal of script(1)) the running file shows
// its percent, rate and time left, and a total line follows; the rows are
// drawn over the previous ones and erased at the end.
TEST_F(CliGetHttp, OnATerminalTheRunningFileShowsPercentRateAndTimeLeft) {
    const std::string cmd = std::string(WAVETRAP_CLI_PATH) + " get --no-verify -C '" + out.path() + "' " +
                            nginx->url("/slow/big.mp3");
    testpeers::ChildProcess p;
    ASSERT_TRUE(p.start("/usr/bin/script", {"-qec", cmd, "/dev/null"}));
    ASSERT_TRUE(platform::runUntil([&] { return !p.running(); }, 60000)) << p.output();
    const std::string screen = p.output();
    EXPECT_EQ(p.exitCode(), 0) << screen;
    EXPECT_EQ(testsupport::readFile(out.file("big.mp3")), content(600000, 3));
    // nginx sends 100 KiB/s: "37%  214.8 KB of 585.9 KB  100.0 KB/s  0:04 left".
    const std::regex row(R"(\d+%  [0-9.]+ KB of 585\.9 KB  \d+\.\d KB/s  0:0\d left +big\.mp3)");
    EXPECT_TRUE(std::regex_search(screen, row)) << screen;
    EXPECT_NE(screen.find("0 of 1 files, 1 running"), std::string::npos) << screen;
    EXPECT_NE(screen.find("\033[J"), std::string::npos) << "rows are drawn over the previous ones";
    EXPECT_NE(screen.find("1 file fetched, 600000 bytes received"), std::string::npos) << screen;
}
