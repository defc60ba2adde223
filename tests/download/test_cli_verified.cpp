// What arrives is checked as MP3 audio through the real programs: nginx
// serving a web page, zeros and a cut file under .mp3 names beside a real
// tagged MP3 file; the rejected bytes kept aside, the URL that served no song
// not fetched again, a file already here not fetched twice, and the same
// file name fetched from the next site of a search's table instead.

#include "road_support.h"

#include "peers/http_peers.h"
#include "peers/nginx_peer.h"
#include "peers/process.h"
#include "platform/eventloop.h"
#include "support/mp3_files.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class CliVerified : public ::testing::Test {
protected:
    testsupport::TempDir config, out, sites;
    testsupport::ScopedEnv env{"WAVETRAP_CONFIG_DIR", config.path()};
    testsupport::ScopedEnv tick{"WAVETRAP_TICK_MS", "5"};

    int run(const std::vector<std::string>& args, std::string& output) {
        testpeers::ChildProcess p;
        EXPECT_TRUE(p.start(WAVETRAP_CLI_PATH, args));
        EXPECT_TRUE(platform::runUntil([&] { return !p.running(); }, 60000)) << p.output();
        output = p.output();
        return p.exitCode();
    }
    // A folder a site serves, with song.mp3 a real tagged file.
    std::string site(const std::string& name) {
        const std::string dir = sites.file(name);
        fs::create_directories(dir);
        return dir;
    }
    static std::string song(const std::string& dir) {
        const std::string path = dir + "/song.mp3";
        EXPECT_TRUE(testsupport::makeMp3(
            path, {"--seconds", "2", "--title", "Night Train", "--artist", "The Locals"}));
        return path;
    }
    static constexpr const char* Page = "<!DOCTYPE html><html><head><title>404</title></head>"
                                        "<body>This file is no longer here.</body></html>\n";
};

TEST_F(CliVerified, WhatIsNoSongIsRejectedKeptAsideAndNotFetchedAgain) {
    const std::string root = site("a");
    const std::string real = testsupport::readFile(song(root));
    ASSERT_GT(real.size(), 10000u);
    testsupport::writeFile(root + "/page.mp3", Page);
    testsupport::writeFile(root + "/zeros.mp3", std::string(20000, '\0'));
    testsupport::writeFile(root + "/cut.mp3", real.substr(0, real.size() * 2 / 3 + 7));
    testpeers::NginxPeer nginx;
    ASSERT_TRUE(nginx.start(root)) << nginx.log();
    const std::string good = nginx.url("/song.mp3"), page = nginx.url("/page.mp3"),
                      zeros = nginx.url("/zeros.mp3"), cut = nginx.url("/cut.mp3");

    std::string o;
    EXPECT_EQ(run({"get", "-v", "-C", out.path(), good, page, zeros, cut}, o), 1) << o;
    // The song arrives and shows its tags; the rest is failed and kept aside.
    EXPECT_EQ(testsupport::readFile(out.file("song.mp3")), real);
    EXPECT_TRUE(has(o, "song.mp3: The Locals - Night Train (0:02, ")) << o;
    EXPECT_TRUE(has(o, "wavetrap-cli: rejected: " + page +
                           ": not audio: an HTML page; kept as rejected/page.mp3.rejected"))
        << o;
    EXPECT_TRUE(has(o, "wavetrap-cli: rejected: " + zeros +
                           ": not audio: all zeros; kept as rejected/zeros.mp3.rejected"))
        << o;
    EXPECT_TRUE(has(o, "wavetrap-cli: rejected: " + cut + ": damaged: ")) << o;
    for (const char* name : {"page.mp3", "zeros.mp3", "cut.mp3"})
        EXPECT_FALSE(fs::exists(out.file(name))) << name;
    EXPECT_EQ(testsupport::readFile(out.file("rejected/page.mp3.rejected")), Page);
    EXPECT_EQ(fs::file_size(out.file("rejected/zeros.mp3.rejected")), 20000u);
    EXPECT_TRUE(fs::exists(out.file("rejected/cut.mp3.rejected")));
    EXPECT_TRUE(has(o, "1 file fetched, ")) << o;
    EXPECT_TRUE(has(o, "3 not fetched, 1 verified, 3 rejected, 0 already here")) << o;
    // Nothing rejected is pending: it would only arrive the same again.
    EXPECT_TRUE(roadtest::pendingIn(config.file("wavbin.Ini")).empty());

    // Again: the URLs that served no song are passed over with the reason,
    // the song is already here; the damaged file is tried once more.
    EXPECT_EQ(run({"get", "-C", out.path(), good, page, zeros, cut}, o), 1) << o;
    EXPECT_TRUE(has(o, "wavetrap-cli: skipped: " + page + ": it served no song before (an HTML page)")) << o;
    EXPECT_TRUE(has(o, "wavetrap-cli: skipped: " + zeros + ": it served no song before (all zeros)")) << o;
    EXPECT_TRUE(has(o, "wavetrap-cli: already here: song.mp3")) << o;
    EXPECT_FALSE(has(o, "not fetched: " + page)) << o; // said once, as skipped
    EXPECT_FALSE(has(o, "not fetched: " + cut)) << o;  // said once, as rejected
    EXPECT_TRUE(has(o, "0 files fetched, ")) << o;
    EXPECT_TRUE(has(o, "3 not fetched, 0 verified, 1 rejected, 1 already here")) << o;
    EXPECT_FALSE(fs::exists(out.file("song (2).mp3")));
    EXPECT_TRUE(fs::exists(out.file("rejected/cut (2).mp3.rejected")));

    // A file changed since it arrived is no longer "already here".
    testsupport::writeFile(out.file("song.mp3"), real.substr(0, 1000));
    EXPECT_EQ(run({"get", "-C", out.path(), good}, o), 0) << o;
    EXPECT_TRUE(has(o, "1 file fetched, ")) << o;
    EXPECT_TRUE(fs::exists(out.file("song (2).mp3"))) << o; // the local file is not the URL's to overwrite

    // Without the check a web page under the name is what was asked for.
    testsupport::TempDir plain;
    EXPECT_EQ(run({"get", "--no-verify", "-C", plain.path(), page}, o), 0) << o;
    EXPECT_EQ(testsupport::readFile(plain.file("page.mp3")), Page);
    EXPECT_TRUE(has(o, "1 file fetched, ")) << o;
    EXPECT_TRUE(has(o, "0 not fetched, 0 verified, 0 rejected, 0 already here")) << o;
}

TEST_F(CliVerified, SearchDownloadTakesTheSameNameFromTheNextSite) {
    // The engine's page lists the file at two sites; the first (listed
    // first, same score) serves a web page under the name, the second the song.
    const std::string bad = site("bad"), good = site("good");
    testsupport::writeFile(bad + "/song.mp3", Page);
    const std::string real = testsupport::readFile(song(good));
    testpeers::NginxPeer first, second;
    ASSERT_TRUE(first.start(bad)) << first.log();
    ASSERT_TRUE(second.start(good)) << second.log();
    const std::string a = first.url("/song.mp3"), b = second.url("/song.mp3");
    testpeers::HttpPeer engine;
    ASSERT_TRUE(engine.start());
    engine.serve("/s?q=train", "<html><a href=\"" + a + "\">x</a> <a href=\"" + b + "\">y</a></html>");

    roadtest::ScopedCwd cwd(out.path());
    std::string o;
    EXPECT_EQ(run({"search", "--engine", engine.hostPort() + "/s?q=", "--http-links", "--download", "--pace",
                   "1", "train"},
                  o),
              0)
        << o;
    EXPECT_TRUE(has(o, "wavetrap-cli: rejected: " + a +
                           ": not audio: an HTML page; kept as rejected/song.mp3.rejected"))
        << o;
    EXPECT_TRUE(has(o, "wavetrap-cli: song.mp3: trying 127.0.0.1")) << o;
    // The song arrives under its own name: no copy, no "(2)".
    EXPECT_EQ(testsupport::readFile(out.file("song.mp3")), real);
    EXPECT_FALSE(fs::exists(out.file("song (2).mp3")));
    EXPECT_EQ(testsupport::readFile(out.file("rejected/song.mp3.rejected")), Page);
    EXPECT_TRUE(has(o, "1 file fetched, ")) << o;
    EXPECT_TRUE(has(o, "0 not fetched, 1 verified, 1 rejected, 0 already here")) << o;

    // The next search passes the first site over at once and takes the song
    // from the second, where it is already here.
    EXPECT_EQ(run({"search", "--engine", engine.hostPort() + "/s?q=", "--http-links", "--download", "--pace",
                   "1", "train"},
                  o),
              0)
        << o;
    EXPECT_TRUE(has(o, "skipped: " + a + ": it served no song before (an HTML page)")) << o;
    EXPECT_TRUE(has(o, "already here: song.mp3")) << o;
    EXPECT_FALSE(fs::exists(out.file("song (2).mp3")));
}

} // namespace
