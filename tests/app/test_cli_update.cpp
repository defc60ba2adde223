// wavetrap-cli update: the saved engine list edited by a reply, the notices on
// standard output, and the exit statuses.

#include "peers/http_peers.h"
#include "platform/profile.h"
#include "support/cli_run.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

namespace {

using testsupport::runCli;

TEST(CliUpdate, AppliesTheReplyToTheSavedListAndExitsByOutcome) {
    testpeers::HttpPeer peer;
    ASSERT_TRUE(peer.start());
    peer.raw("/up.txt", "HTTP/1.0 200 OK\n\n--:kill\n--:a.test/?q=\n--MESSAGE Hello\n--:29:Latestbuild#\n");
    testsupport::TempDir cfg;

    auto r = runCli({"update", "--from", peer.hostPort() + "/up.txt"}, cfg.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, " Hello\nThere is a new version of Wavetrap available at the \nNorvane website.\n");
    EXPECT_EQ(peer.requestLines().back(), "GET /up.txt HTTP/1.0");
    const platform::TIniFile ini(cfg.file("wavbin.Ini"));
    EXPECT_EQ(ini.ReadString("Links", "0", ""), "a.test/?q=");
    EXPECT_EQ(ini.ReadString("Links", "1", "?"), "");
    // --from is for this run only.
    EXPECT_EQ(platform::TIniFile(cfg.file("wavbin")).ReadString("items", "updateIP_Caption", ""),
              "update.wavetrap.invalid");

    const testpeers::ClosedPort closed;
    r = runCli({"update", "--from", "127.0.0.1:" + std::to_string(closed.port())}, cfg.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Connection refused"), std::string::npos) << r.err;

    r = runCli({"update"}, cfg.path()); // the reserved default host
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err,
              "wavetrap-cli: update: SetAddr: Cannot convert host address 'update.wavetrap.invalid'\n");
    EXPECT_EQ(runCli({"update", "--from", "a b"}, cfg.path()).exitCode, 2);
}

} // namespace
