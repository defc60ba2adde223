// The window's download road (shell::Wavetrap, hand-stepped) with the check
// on: an FTP site that serves a web page under an .mp3 name gets the marks of
// a refusal, not those of a file fetched; the downloads view shows a song's
// tags; the records keep what was fetched and what served no song, and the
// same download command passes such URLs over with a status line.

#include "road_support.h"

#include "peers/ftp_peer.h"
#include "support/mp3_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using roadtest::Counts;
using roadtest::countsOf;

class VerifiedRoad : public roadtest::Road {
protected:
    testsupport::TempDir root;
    testpeers::FtpPeer ftp;
    std::vector<std::string> statuses;
    std::string song;

    void SetUp() override {
        s.setVerify(true);
        std::filesystem::create_directories(root.file("pub"));
        ASSERT_TRUE(
            testsupport::makeMp3(root.file("pub/Night_Train.mp3"),
                                 {"--seconds", "2", "--title", "Night Train", "--artist", "The Locals"}));
        song = testsupport::readFile(root.file("pub/Night_Train.mp3"));
        testsupport::writeFile(root.file("pub/Page.mp3"), "<html><body>Moved away</body></html>\n");
        testpeers::FtpPeerOptions o;
        o.host = "127.0.0.2";
        o.root = root.path();
        ASSERT_TRUE(ftp.start(o)) << ftp.output();
        w.statusLine.connect([this](const std::string& line) { statuses.push_back(line); });
    }
    std::string url(const std::string& name) const {
        return "ftp://127.0.0.2:" + std::to_string(ftp.port()) + "/pub/" + name;
    }
    std::string detailOf(const std::string& u) const {
        const int row = w.downloads.rowOf(u);
        return row < 0 ? "(no row)" : w.downloads.rows.Item(row).cell(shell::DownloadsList::ColDetail);
    }
};

TEST_F(VerifiedRoad, APageUnderTheNameIsRefusedMarksAndTheSongShowsItsTags) {
    const std::string page = url("Page.mp3"), good = url("Night_Train.mp3");
    launch(page);
    launch(good);
    ASSERT_TRUE(runToEnd()) << dump();
    EXPECT_EQ(done, (std::vector<std::pair<std::string, bool>>{{page, false}, {good, true}}));
    EXPECT_TRUE(file("Night_Train.mp3") == song);
    EXPECT_FALSE(fileExists("Page.mp3"));
    EXPECT_EQ(file("rejected/Page.mp3.rejected"), "<html><body>Moved away</body></html>\n");
    // (A site's row starts at 1 good and 5 bad; a good mark counts 25.) Two
    // transfer starts and the song's finish earn good marks; the page's
    // finish earns none and costs the marks of a refusal.
    EXPECT_EQ(countsOf(w.stats, "127.0.0.2"),
              (Counts{1 + 25 * (2 + download::FinishedMarks), 5 + download::RefusalMarks}));
    EXPECT_TRUE(w.pending.downloading.empty());
    // The downloads view: the song's tags, the page's reason and where it is.
    EXPECT_EQ(detailOf(good).rfind("The Locals - Night Train (0:02, ", 0), 0u) << detailOf(good);
    EXPECT_NE(detailOf(page).find("not audio: an HTML page; kept as rejected/Page.mp3.rejected"),
              std::string::npos)
        << detailOf(page);
    // The records: the song where it is, the page as no song.
    const auto fetched = w.records.lastFetched(good);
    ASSERT_TRUE(fetched.has_value());
    EXPECT_EQ(fetched->path, dir.file("Night_Train.mp3"));
    EXPECT_EQ(fetched->size, static_cast<std::int64_t>(song.size()));
    EXPECT_EQ(w.records.refusedBecause(page), "an HTML page");
    EXPECT_EQ(w.records.refusedBecause(good), "");

    // The same command again fetches nothing and says why in the status line.
    done.clear();
    statuses.clear();
    launch(page);
    launch(good);
    EXPECT_TRUE(s.idle());
    EXPECT_TRUE(done.empty());
    EXPECT_EQ(statuses,
              (std::vector<std::string>{"skipped: " + page + ": it served no song before (an HTML page)",
                                        "already here: Night_Train.mp3"}));
    EXPECT_TRUE(w.pending.downloading.empty());
    EXPECT_FALSE(fileExists("Night_Train (2).mp3"));
}

TEST_F(VerifiedRoad, WithoutTheCheckEveryFileIsFetchedAndRecorded) {
    s.setVerify(false);
    const std::string page = url("Page.mp3");
    launch(page);
    ASSERT_TRUE(runToEnd()) << dump();
    EXPECT_EQ(done, (std::vector<std::pair<std::string, bool>>{{page, true}}));
    EXPECT_EQ(file("Page.mp3"), "<html><body>Moved away</body></html>\n");
    ASSERT_TRUE(w.records.lastFetched(page).has_value());
    EXPECT_EQ(w.records.refusedBecause(page), "");
    // Asked again while it is here unchanged: nothing is fetched.
    statuses.clear();
    launch(page);
    EXPECT_TRUE(s.idle());
    EXPECT_EQ(statuses, (std::vector<std::string>{"already here: Page.mp3"}));
}

} // namespace
