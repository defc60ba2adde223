// Scripts of the external route's macro scripts: their lines, one script per site and
// directory, at most 40 files, and names that never overwrite each other.

#include "download/macro.h"
#include "platform/system.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>

namespace {

using testsupport::readFile;

struct Draws {
    explicit Draws(std::deque<int> values) : values_(std::move(values)) {
        platform::setRandomSource([this](int n) {
            if (n != 100) return 0; // the URL splitter's cache draws too
            const int v = values_.front();
            if (values_.size() > 1) values_.pop_front();
            return v;
        });
    }
    ~Draws() { platform::setRandomSource({}); }
    std::deque<int> values_;
};

TEST(Macro, OneScriptPerSiteAndDirectoryWithExactLines) {
    testsupport::TempDir dir;
    Draws draws({42, 7});
    url::UrlInfo info;
    download::MacroWriter w;
    w.directory = dir.path();
    std::vector<std::string> memo;
    w.statusmemo = [&](const std::string& line) { memo.push_back(line); };
    const auto scripts = w.write(info, {"ftp://a.example/pub/mp3/one.mp3", "ftp://u:pw@b.example/x/two.mp3",
                                        "ftp://a.example/pub/mp3/three.mp3"});
    ASSERT_EQ(scripts.size(), 2u);
    EXPECT_EQ(scripts[0].name, "42cm a.example.scr");
    EXPECT_EQ(scripts[0].path, dir.file("42cm a.example.scr"));
    EXPECT_EQ(scripts[0].files, 2);
    EXPECT_EQ(readFile(scripts[0].path), "Host a.example\r\nLogin Normal\r\nUser anonymous\r\nPass " +
                                             std::string(url::AnonymousPassword) +
                                             "\r\nConnect\r\nRemoteCwd \r\nRemoteCwd pub\r\nRemoteCwd mp3\r\n"
                                             "RemoteClearSelection\r\nRemoteSelect one.mp3\r\n"
                                             "RemoteSelect three.mp3\r\nDownload\r\n");
    EXPECT_EQ(
        readFile(dir.file("7cm b.example.scr")),
        "Host b.example\r\nLogin Normal\r\nUser u\r\nPass pw\r\nConnect\r\nRemoteCwd \r\nRemoteCwd x\r\n"
        "RemoteClearSelection\r\nRemoteSelect two.mp3\r\nDownload\r\n");
    EXPECT_EQ(memo, (std::vector<std::string>{"Building macro for: one.mp3", "Building macro for: two.mp3",
                                              "Building macro for: three.mp3"}));
}

TEST(Macro, ADrawnNameTakenInThisRunIsDrawnAgainAndOnlyFortyFilesCount) {
    testsupport::TempDir dir;
    Draws draws({5, 5, 5, 9});
    url::UrlInfo info;
    download::MacroWriter w;
    w.directory = dir.path();
    std::vector<std::string> urls{"ftp://s.example/a/1.mp3", "ftp://s.example/b/2.mp3"};
    for (int i = 0; i < 40; ++i)
        urls.push_back("ftp://s.example/a/more" + std::to_string(i) + ".mp3");
    const auto scripts = w.write(info, urls);
    ASSERT_EQ(scripts.size(), 2u);
    EXPECT_EQ(scripts[0].name, "5cm s.example.scr");
    EXPECT_EQ(scripts[1].name, "9cm s.example.scr"); // 5 again was refused, not overwritten
    EXPECT_EQ(scripts[0].files, 39);                 // 1.mp3 and more0 .. more37
    EXPECT_EQ(scripts[1].files, 1);
    EXPECT_EQ(readFile(dir.file("9cm s.example.scr")).find("RemoteSelect 2.mp3\r\n") != std::string::npos,
              true);
}

TEST(Macro, AScriptThatCannotBeWrittenThrowsAndKeepsTheEarlierOnes) {
    testsupport::TempDir dir;
    Draws draws({1, 2});
    url::UrlInfo info;
    download::MacroWriter w;
    w.directory = dir.path();
    std::filesystem::create_directory(dir.file("2cm b.example.scr")); // in the way of the second
    EXPECT_THROW(w.write(info, {"ftp://a.example/1.mp3", "ftp://b.example/2.mp3"}), std::runtime_error);
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.file("1cm a.example.scr")));
}

} // namespace
