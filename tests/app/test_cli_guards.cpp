// wavetrap-cli where outside text meets the terminal and where a second run
// meets the settings: no control character of a page or a server reaches
// standard output or error (C1 controls included), no file is named with
// one, and a settings lock that cannot be taken ends the run that would
// write the settings (only extract, which only reads, goes on).
#include "peers/http_peers.h"
#include "platform/text.h"
#include "support/cli_run.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using testsupport::CliRun;
using testsupport::runCli;

const std::string Csi = "\xc2\x9b"; // U+009B in UTF-8
const std::string Osc = "\xc2\x9d"; // U+009D

// Output as a terminal would get it holds no control but line ends and tabs.
::testing::AssertionResult noControls(const std::string& text) {
    std::string lines = text;
    for (char& c : lines)
        if (c == '\n') c = ' ';
    if (platform::printable(lines) == lines) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "control characters in: " << platform::printable(text);
}

TEST(CliGuards, NoControlOfAPageOrAServerReachesTheTerminal) {
    testsupport::TempDir config, out;
    const std::string page = "\"ftp://a.example/x" + Csi + "31m.mp3\" \"ftp://b.example/y\x9b" +
                             "0m.mp3\" \"ftp://c.example/" + Osc + "0;t.mp3\" \"ftp://d.example/ok.mp3\"";
    const CliRun listed = runCli({"extract"}, config.path(), page);
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_TRUE(noControls(listed.out));
    EXPECT_NE(listed.out.find("x?31m.mp3\t"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("ok.mp3\t"), std::string::npos) << listed.out;

    testpeers::HttpPeer server;
    ASSERT_TRUE(server.start());
    server.raw("/a.mp3",
               "HTTP/1.1 404 Not " + Csi + "31m Found " + Osc + "0;x\x9b\r\nContent-Length: 0\r\n\r\n");
    const std::vector<std::string> urls = {"ftp://127.0.0.1:1/x" + Csi + "31m.mp3",
                                           "ftp://127.0.0.1:1/y\x9b" + std::string("0m.mp3"),
                                           server.url("/a.mp3")};
    for (const std::string& url : urls) {
        SCOPED_TRACE(platform::printable(url));
        const CliRun r = runCli({"get", "-C", out.path(), url}, config.path());
        EXPECT_NE(r.exitCode, 0);
        EXPECT_TRUE(noControls(r.err));
        EXPECT_TRUE(noControls(r.out));
    }
    const CliRun r = runCli({"get", "-C", out.path(), urls[0]}, config.path());
    EXPECT_NE(r.err.find("a control character in the name"), std::string::npos) << r.err;
    const CliRun reason = runCli({"get", "-C", out.path(), server.url("/a.mp3")}, config.path());
    EXPECT_NE(reason.err.find("Not ?31m Found ?0;x?"), std::string::npos) << reason.err;
    EXPECT_TRUE(std::filesystem::is_empty(out.path())); // no name holding a control was made
}

TEST(CliGuards, ALockThatCannotBeTakenEndsTheRunsThatWrite) {
    testsupport::TempDir config, out;
    std::filesystem::create_directory(config.file("wavbin.lock"));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"get", "-C", out.path(), "ftp://127.0.0.1:1/a.mp3"},
          std::vector<std::string>{"resume", "-C", out.path()},
          std::vector<std::string>{"update", "--from", "127.0.0.1:1"},
          std::vector<std::string>{"search", "--engine", "127.0.0.1:1/s?q=", "x"}}) {
        SCOPED_TRACE(args[0]);
        const CliRun r = runCli(args, config.path());
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("cannot lock the settings in " + config.path() + ": " +
                             config.file("wavbin.lock") + ": a directory"),
                  std::string::npos)
            << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(config.file("wavbin.Ini"))); // nothing was written
    const CliRun listed = runCli({"extract"}, config.path(), "\"ftp://a.example/a.mp3\"");
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_NE(listed.out.find("a.mp3"), std::string::npos);
}

} // namespace
