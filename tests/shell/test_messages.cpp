// The texts both front ends show: update check reports, unsavable settings,
// the TLS modes of ftp:// links, a trust file that cannot be read.

#include "shell/messages.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

namespace {

TEST(Messages, UpdateReportsNameTheAddressAndWhatChanged) {
    using shell::UpdateOutcome;
    using shell::UpdateReport;
    const std::string where = "http://up.test:8080/u.txt";
    struct Row {
        UpdateOutcome outcome;
        int connectError;
        std::size_t engines;
        UpdateReport::Result result;
        const char* line; // the status bar
    };
    const Row rows[] = {
        {UpdateOutcome::Applied, 0, 7, UpdateReport::Applied,
         "Update check done: the engine list holds 7 entries"},
        {UpdateOutcome::Applied, 0, 1, UpdateReport::Applied,
         "Update check done: the engine list holds 1 entry"},
        {UpdateOutcome::NoReply, 10061, 7, UpdateReport::NoReply,
         "Update check failed: nothing received from http://up.test:8080/u.txt (Connection refused); nothing "
         "changed"},
        {UpdateOutcome::NoReply, 0, 7, UpdateReport::NoReply,
         "Update check failed: nothing received from http://up.test:8080/u.txt; nothing changed"},
        {UpdateOutcome::TooLarge, 0, 7, UpdateReport::TooLarge,
         "Update check failed: the reply from http://up.test:8080/u.txt is larger than 1 MB; nothing was "
         "applied"},
        {UpdateOutcome::Cancelled, 0, 7, UpdateReport::Cancelled, ""},
    };
    for (const Row& r : rows) {
        const UpdateReport report = shell::updateReport(r.outcome, where, r.connectError, r.engines);
        EXPECT_EQ(report.result, r.result) << r.line;
        EXPECT_EQ(report.statusLine(), r.line);
        EXPECT_EQ(report.failed(), r.result != UpdateReport::Applied && r.result != UpdateReport::Cancelled);
    }
    // An address that a reply moved may hold anything: shown without its controls.
    EXPECT_EQ(shell::updateReport(UpdateOutcome::NoReply, "http://a\x1b[2J.test/u", 0, 0).text,
              "nothing received from http://a?[2J.test/u; nothing changed");
    EXPECT_EQ(shell::updateTimedOut(where, 0.5).statusLine(),
              "Update check failed: no complete reply from http://up.test:8080/u.txt within 0.5 s; nothing "
              "changed");
    EXPECT_EQ(shell::updateTimedOut(where, 30).text,
              "no complete reply from http://up.test:8080/u.txt within 30 s; nothing changed");
    const UpdateReport refused = shell::updateNotStarted("SetAddr: Cannot convert host address 'x\ay'");
    EXPECT_TRUE(refused.failed());
    EXPECT_EQ(refused.statusLine(), "Update check failed: SetAddr: Cannot convert host address 'x?y'");
}

TEST(Messages, TlsModesByNameAndTheirProblems) {
    for (const std::string& name : shell::ftpTlsModeNames()) {
        net::FtpTls mode = net::FtpTls::Off;
        ASSERT_TRUE(shell::parseFtpTlsMode(name, mode)) << name;
        EXPECT_EQ(shell::ftpTlsModeName(mode), name);
        EXPECT_EQ(shell::ftpTlsModeProblem(name), "");
    }
    EXPECT_STREQ(shell::ftpTlsModeName(net::FtpTls::Implicit), "required");
    net::FtpTls mode = net::FtpTls::Offered;
    EXPECT_FALSE(shell::parseFtpTlsMode("Required", mode));
    EXPECT_EQ(mode, net::FtpTls::Offered); // unchanged
    EXPECT_EQ(shell::ftpTlsModeProblem("on"), "needs off, offered or required, not 'on'");
    EXPECT_EQ(shell::ftpTlsModeProblem("\x1b"), "needs off, offered or required, not '?'");
    EXPECT_EQ(shell::ftpTlsModeProblem(""), "needs off, offered or required");
}

TEST(Messages, SettingsAndTrustFileProblems) {
    EXPECT_EQ(shell::settingsProblem("Unable to write to /x/wavbin.Ini"),
              "the settings cannot be saved: Unable to write to /x/wavbin.Ini");
    testsupport::TempDir dir;
    const std::string missing = dir.file("missing.pem");
    EXPECT_NE(shell::trustCertificateFile(missing).find(missing), std::string::npos);
    testsupport::writeFile(dir.file("empty.pem"), "no certificate here\n");
    EXPECT_NE(shell::trustCertificateFile(dir.file("empty.pem")), "");
}

} // namespace
