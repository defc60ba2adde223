// wavetrap-cli macro: the external route run as a user runs it, with a
// stand-in for the external FTP program that records its arguments.

#include "platform/eventloop.h"
#include "support/cli_run.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using testsupport::readFile;

struct MacroRun : ::testing::Test {
    testsupport::TempDir config, work;
    std::string oldCwd = std::filesystem::current_path().string();
    std::string program = config.file("ftp program");
    std::string record = config.file("arguments");

    void SetUp() override {
        // One line per argument, a blank line after each start.
        testsupport::writeFile(program, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >> '" +
                                            record + "'\necho >> '" + record + "'\n");
        ::chmod(program.c_str(), 0755);
        testsupport::writeFile(config.file("wavbin.Ini"), "[Settings]\npath=" + program + "\n");
        std::filesystem::current_path(work.path());
    }
    void TearDown() override { std::filesystem::current_path(oldCwd); }
};

TEST_F(MacroRun, WritesAScriptPerSiteAndDirectoryAndStartsTheProgramWithEachRealPath) {
    const auto r = testsupport::runCli({"macro", "ftp://a.example/pub/one.mp3",
                                        "ftp://x$(touch pwned)y/d/two.mp3", "ftp://a.example/pub/three.mp3"},
                                       config.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> names;
    for (std::size_t at = 0, nl; (nl = r.out.find('\n', at)) != std::string::npos; at = nl + 1)
        names.push_back(r.out.substr(at, nl - at));
    ASSERT_EQ(names.size(), 2u) << r.out;
    EXPECT_TRUE(names[0].ends_with("cm a.example.scr"));
    EXPECT_TRUE(names[1].ends_with("cm x$(touch pwned)y.scr"));
    EXPECT_NE(
        readFile(work.file(names[0])).find("RemoteSelect one.mp3\r\nRemoteSelect three.mp3\r\nDownload\r\n"),
        std::string::npos);
    // Both starts finished: each got exactly one argument naming the script where it was written.
    ASSERT_TRUE(platform::runUntil(
        [&] {
            return std::filesystem::exists(record) && readFile(record).size() > 0 && [&] {
                const std::string t = readFile(record);
                return std::count(t.begin(), t.end(), '\n') == 4;
            }();
        },
        10000));
    const std::string got = readFile(record);
    for (const auto& n : names)
        EXPECT_NE(got.find("macro=" + work.file(n) + "\n\n"), std::string::npos) << got;
    EXPECT_FALSE(std::filesystem::exists(work.file("pwned")));
}

TEST_F(MacroRun, NoStartWritesOnlyAndABadUrlIsRefusedBeforeAnyScript) {
    auto r = testsupport::runCli({"macro", "--no-start", "ftp://a.example/pub/one.mp3"}, config.path());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(std::filesystem::exists(work.file(r.out.substr(0, r.out.size() - 1))));
    r = testsupport::runCli({"macro", "ftp://b.example/two.mp3", "http://c.example/x.mp3"}, config.path());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("not an ftp:// URL"), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(work.path()), {}), 1);
    EXPECT_FALSE(std::filesystem::exists(record));
}

} // namespace
