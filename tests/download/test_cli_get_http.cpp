// wavetrap-cli get and resume with http:// files from nginx: the same road as
// FTP files (names, pending list, log, exit status, the reasons), a run killed
// in the middle continued with Range, and the state changes at -v.

#include "road_support.h"

#include "peers/nginx_peer.h"
#include "peers/process.h"
#include "platform/eventloop.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

namespace {

std::string content(std::size_t size, char seed) {
    std::string s(size, ' ');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>((i * 7 + static_cast<std::size_t>(seed)) % 251);
    return s;
}

long long sizeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

class CliGetHttp : public ::testing::Test {
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

    testsupport::TempDir config, out;
    testsupport::ScopedEnv env{"WAVETRAP_CONFIG_DIR", config.path()};
    testsupport::ScopedEnv tick{"WAVETRAP_TICK_MS", "5"};

    int run(std::vector<std::string> args, std::string* output = nullptr) {
        testpeers::ChildProcess p;
        EXPECT_TRUE(p.start(WAVETRAP_CLI_PATH, args));
        EXPECT_TRUE(platform::runUntil([&] { return !p.running(); }, 60000)) << p.output();
        if (output) *output = p.output();
        return p.exitCode();
    }
    platform::StringList pending() const { return roadtest::pendingIn(config.file("wavbin.Ini")); }
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
    {
        testpeers::ChildProcess p;
        ASSERT_TRUE(p.start(WAVETRAP_CLI_PATH, {"get", "-C", out.path(), u}));
        ASSERT_TRUE(
            platform::runUntil([&] { return sizeOf(out.file("big.mp3")) > 100000 || !p.running(); }, 30000));
        ASSERT_TRUE(p.running()) << p.output();
        ::kill(static_cast<pid_t>(p.pid()), SIGKILL);
        ASSERT_TRUE(platform::runUntil([&] { return !p.running(); }, 10000));
    }
    const long long partial = sizeOf(out.file("big.mp3"));
    EXPECT_LT(partial, 600000);
    EXPECT_EQ(pending(), (platform::StringList{u}));
    std::string output;
    EXPECT_EQ(run({"resume", "-v", "-C", out.path()}, &output), 0) << output;
    EXPECT_NE(output.find("Range: bytes=" + std::to_string(partial) + "-"), std::string::npos) << output;
    EXPECT_EQ(testsupport::readFile(out.file("big.mp3")), content(600000, 3));
    EXPECT_TRUE(pending().empty());
}

} // namespace
