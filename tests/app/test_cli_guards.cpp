// wavetrap-cli where outside text meets the terminal: no control character
// of a page or a server reaches standard output or error (C1 controls
// included), and no file is named with one.
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

} // namespace
