// The downloads view's model: its rows and states from the scheduler's own
// work (slots, site queues, parking, aborts, a real transfer), Retry and
// Remove and what they do to the pending list, the totals, and the check of
// the download folder.

#include "../download/road_support.h"
#include "peers/ftp_peer.h"
#include "program_fixture.h"
#include "shell/download_folder.h"
#include "shell/downloads.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using shell::DownloadsList;
using shell::DownloadState;

// A URL of a site that is never contacted: nothing here runs the event loop.
std::string quiet(int port, const std::string& name = "a.mp3") {
    return "ftp://127.0.0.1:" + std::to_string(port) + "/pub/" + name;
}

class DownloadsRows : public shelltest::SettingsDirTest {
protected:
    shelltest::Program p;
    DownloadsList& d = p.w.downloads;

    void launch(const std::string& url) { p.w.scheduler.launchftp(p.w.urlinfo.info(url)); }
    std::string cell(const std::string& url, int col) const {
        const int row = d.rowOf(url);
        return row < 0 ? "<no row>" : d.rows.Item(row).cell(static_cast<std::size_t>(col));
    }
    std::string state(const std::string& url) const { return cell(url, DownloadsList::ColState); }
    std::string detail(const std::string& url) const { return cell(url, DownloadsList::ColDetail); }
    void select(const std::vector<std::string>& urls) {
        std::vector<int> rows;
        for (const auto& u : urls)
            rows.push_back(d.rowOf(u));
        d.rows.SetSelection(rows);
    }
    bool pending(const std::string& url) const {
        const auto& dl = p.w.pending.downloading;
        return std::find(dl.begin(), dl.end(), url) != dl.end();
    }
    // Fills all fourteen slots with a site each (ports 2001..2014).
    void fillSlots() {
        for (int port = 2001; port <= 2014; ++port)
            launch(quiet(port));
    }
};

TEST_F(DownloadsRows, WhereTheSchedulerHasEachFileIsItsStateAndReason) {
    fillSlots();
    launch(quiet(2001, "b.mp3")); // behind its site's slot
    launch(quiet(2015));          // no slot free: parked
    d.refresh();
    ASSERT_EQ(d.rows.Count(), 16);
    const auto& cols = DownloadsList::columns();
    ASSERT_EQ(cols, (platform::StringList{"File", "State", "Detail", "Site", "URL"}));
    EXPECT_EQ(state(quiet(2001)), "Running");
    EXPECT_EQ(detail(quiet(2001)), download::stateText(p.w.scheduler.slot(14)));
    EXPECT_EQ(cell(quiet(2001), DownloadsList::ColFile), "a.mp3");
    EXPECT_EQ(cell(quiet(2001), DownloadsList::ColSite), "127.0.0.1");
    EXPECT_EQ(cell(quiet(2001), DownloadsList::ColUrl), quiet(2001));
    EXPECT_EQ(state(quiet(2001, "b.mp3")), "Waiting");
    EXPECT_EQ(detail(quiet(2001, "b.mp3")), "site busy: after the file on slot 14");
    EXPECT_EQ(state(quiet(2015)), "Waiting");
    EXPECT_EQ(detail(quiet(2015)), "parked: every slot is busy");

    // The site of slot 14 is given up: both its files failed, told why, and stay pending.
    p.w.scheduler.abort(14, download::Outcome::SiteDown, "no connection");
    d.refresh();
    for (const auto& url : {quiet(2001), quiet(2001, "b.mp3")}) {
        EXPECT_EQ(state(url), "Failed") << url;
        EXPECT_EQ(detail(url), "site given up: no connection; kept for a later start") << url;
        EXPECT_TRUE(pending(url));
    }
    // Slot 13 stopped by the user: its file left the pending list without a hook.
    p.w.scheduler.stop(13);
    d.refresh();
    EXPECT_EQ(state(quiet(2002)), "Failed");
    EXPECT_EQ(detail(quiet(2002)), "stopped");
    // The parked file took a freed slot at the tick's hand-out... not without a
    // tick: it still waits.
    EXPECT_EQ(state(quiet(2015)), "Waiting");
    // A URL the scheduler refuses shows why.
    launch("ftp://127.0.0.1:99999/x.mp3");
    EXPECT_EQ(state("ftp://127.0.0.1:99999/x.mp3"), "Failed");
    EXPECT_NE(detail("ftp://127.0.0.1:99999/x.mp3").find("refused: "), std::string::npos);
}

TEST_F(DownloadsRows, RetryAndRemoveActOnTheQueueAndThePendingList) {
    fillSlots();
    launch(quiet(2001, "b.mp3"));
    launch(quiet(2015));
    launch(quiet(2016));
    d.refresh();
    int saves = 0;
    d.savePending = [&] { ++saves; };

    // A parked file leaves the queue and the pending list.
    select({quiet(2015)});
    EXPECT_EQ(d.removeSelected(), "");
    EXPECT_EQ(d.rowOf(quiet(2015)), -1);
    EXPECT_EQ(p.w.scheduler.launchbuf(), (platform::StringList{quiet(2016)}));
    EXPECT_FALSE(pending(quiet(2015)));
    EXPECT_EQ(saves, 1);

    // One waiting behind its site's file cannot leave without stopping the slot: said, kept.
    select({quiet(2001, "b.mp3")});
    EXPECT_NE(d.removeSelected().find("stop the slot"), std::string::npos);
    EXPECT_EQ(state(quiet(2001, "b.mp3")), "Waiting");
    EXPECT_TRUE(pending(quiet(2001, "b.mp3")));

    // A running file alone on its slot is stopped and leaves everything.
    select({quiet(2005)});
    EXPECT_EQ(d.removeSelected(), "");
    EXPECT_EQ(d.rowOf(quiet(2005)), -1);
    EXPECT_FALSE(pending(quiet(2005)));
    EXPECT_EQ(p.w.scheduler.slot(10).phase, download::Phase::Idle);

    // Failed files kept pending: Retry hands them back; Remove drops them.
    p.w.scheduler.abort(14, download::Outcome::SiteDown, "no connection");
    d.refresh();
    select({quiet(2001)});
    EXPECT_EQ(d.retrySelected(), "1 file is tried again.");
    d.refresh();
    EXPECT_EQ(state(quiet(2001)), "Running");        // the freed slot 14 (or 10) took it
    EXPECT_TRUE(p.w.scheduler.resumes(quiet(2001))); // its partial file is its own
    select({quiet(2001, "b.mp3")});
    EXPECT_EQ(d.removeSelected(), "");
    EXPECT_FALSE(pending(quiet(2001, "b.mp3")));
    EXPECT_EQ(d.rowOf(quiet(2001, "b.mp3")), -1);

    // Nothing retryable selected: said.
    select({quiet(2003)});
    EXPECT_EQ(d.retrySelected(), "Nothing to retry: select failed or pending files.");
}

TEST_F(DownloadsRows, FilesPendingFromTheLastRunShowAndRemoveLeavesTheStoredList) {
    {
        platform::TIniFile file(ini());
        file.WriteInteger("downloading", "count", 2);
        file.WriteString("downloading", "0", quiet(2001));
        file.WriteString("downloading", "1", quiet(2002, "b.mp3"));
        file.WriteInteger("downloadings", "count", 2);
        file.WriteString("downloadings", "0", "100");
        file.WriteString("downloadings", "1", "200");
    }
    shelltest::Program q;
    q.w.start({}); // no resume: the files stay pending
    DownloadsList& list = q.w.downloads;
    ASSERT_EQ(list.rows.Count(), 2);
    EXPECT_EQ(list.rows.Item(0).cell(DownloadsList::ColState), "Pending");
    EXPECT_EQ(list.rows.Item(0).cell(DownloadsList::ColDetail), "from the last run");
    EXPECT_EQ(list.rows.Item(1).cell(DownloadsList::ColFile), "b.mp3");

    list.rows.SetSelection({1});
    EXPECT_EQ(list.removeSelected(), "");
    EXPECT_EQ(roadtest::pendingIn(ini()), (platform::StringList{quiet(2001)}));
    EXPECT_EQ(q.w.pending.downloadingsize, (platform::StringList{"100"}));

    list.rows.SetSelection({0});
    EXPECT_EQ(list.retrySelected(), "1 file is tried again.");
    list.refresh();
    EXPECT_EQ(list.rows.Item(0).cell(DownloadsList::ColState), "Running");
}

TEST_F(DownloadsRows, TheDetailAndPathTheVerificationGivesStay) {
    const std::string url = quiet(2001);
    p.w.scheduler.hooks.fileDone(url, true); // no such file here: no size
    EXPECT_EQ(state(url), "Finished");
    p.w.downloads.setDetail(url, "Artist - Title (3:45, 192 kbps)");
    testsupport::TempDir music;
    const std::string path = music.file("Artist - Title.mp3");
    testsupport::writeFile(path, "ID3");
    d.setFinishedPath(url, path);
    d.refresh();
    EXPECT_EQ(detail(url), "Artist - Title (3:45, 192 kbps)");
    select({url});
    std::string why;
    EXPECT_EQ(d.fileToOpen(why), path);
    EXPECT_EQ(d.folderToOpen(), music.path());
    ::unlink(path.c_str());
    EXPECT_EQ(d.fileToOpen(why), "");
    EXPECT_EQ(why, path + " is no longer there.");
}

// ---- A real transfer ------------------------------------------------------------

class DownloadsRoad : public roadtest::Road {};

TEST_F(DownloadsRoad, FinishedAndFailedFilesAndTheTotalsWhileTheyRun) {
    testsupport::TempDir root;
    ::mkdir((root.path() + "/pub").c_str(), 0755);
    testsupport::writeFile(root.path() + "/pub/a.mp3", std::string(20000, 'a'));
    testsupport::writeFile(root.path() + "/pub/big.mp3", std::string(1200000, 'b'));
    testpeers::FtpPeer server;
    testpeers::FtpPeerOptions o;
    o.host = "127.0.0.2";
    o.root = root.path();
    o.rateLimit = 400000;
    ASSERT_TRUE(server.start(o)) << server.output();
    const std::string base = "ftp://127.0.0.2:" + std::to_string(server.port()) + "/pub/";
    std::vector<std::string> titles, totals;
    // Each tick a tenth of a second later: the rates are known after a few ticks.
    std::int64_t ms = 0;
    w.downloads.clock = [&] { return ms += 100; };
    w.downloads.totalsChanged.connect([&] {
        titles.push_back(w.titleLine());
        totals.push_back(w.totalLine());
    });
    launch(base + "a.mp3");
    launch(base + "missing.mp3");
    launch(base + "big.mp3");
    ASSERT_TRUE(runToEnd()) << dump();
    s.dfatimerTimer(); // the tick that finds the scheduler idle

    DownloadState st;
    ASSERT_TRUE(w.downloads.stateOf(base + "a.mp3", st));
    EXPECT_EQ(st, DownloadState::Finished);
    const auto& rows = w.downloads.rows;
    EXPECT_EQ(rows.Item(w.downloads.rowOf(base + "a.mp3")).cell(DownloadsList::ColDetail), "19.5 KB");
    EXPECT_EQ(rows.Item(w.downloads.rowOf(base + "big.mp3")).cell(DownloadsList::ColState), "Finished");
    const int missing = w.downloads.rowOf(base + "missing.mp3");
    EXPECT_EQ(rows.Item(missing).cell(DownloadsList::ColState), "Failed");
    EXPECT_NE(rows.Item(missing).cell(DownloadsList::ColDetail).find("550"), std::string::npos)
        << rows.Item(missing).cell(DownloadsList::ColDetail);

    // While they ran, the title and the status bar told the totals; at the end, nothing.
    ASSERT_FALSE(titles.empty());
    EXPECT_EQ(titles.back(), "");
    EXPECT_EQ(totals.back(), "");
    bool sawLeft = false, sawTwoOfThree = false;
    for (std::size_t i = 0; i < titles.size(); ++i) {
        if (titles[i].empty()) continue;
        EXPECT_EQ(titles[i].rfind("Wavetrap \u2014 ", 0), 0u) << titles[i];
        EXPECT_NE(titles[i].find(" of 3"), std::string::npos) << titles[i];
        sawLeft = sawLeft || (titles[i].find("/s, ") != std::string::npos &&
                              titles[i].find(" left") != std::string::npos);
        sawTwoOfThree = sawTwoOfThree || totals[i].rfind("1 of 3 files, 1 failed, ", 0) == 0;
    }
    EXPECT_TRUE(sawLeft) << ::testing::PrintToString(titles);
    EXPECT_TRUE(sawTwoOfThree);

    // Open the finished file: it is where the download went.
    w.downloads.rows.SetSelection({w.downloads.rowOf(base + "a.mp3")});
    std::string why;
    EXPECT_EQ(w.downloads.fileToOpen(why), dir.file("a.mp3")) << why;
    w.downloads.rows.SetSelection({missing});
    EXPECT_EQ(w.downloads.fileToOpen(why), "");
    EXPECT_EQ(why, "missing.mp3 has not arrived yet.");
}

// A file written under another name than the remote one (a larger local file
// of that name is no partial file of it): its row shows the name it has,
// with that file's size, and opens it.
TEST_F(DownloadsRoad, AFinishedFileShowsTheLocalNameItWasWrittenUnder) {
    testsupport::TempDir root;
    ::mkdir((root.path() + "/pub").c_str(), 0755);
    testsupport::writeFile(root.path() + "/pub/a.mp3", std::string(3000, 'a'));
    testsupport::writeFile(dir.file("a.mp3"), std::string(5000, 'x'));
    testpeers::FtpPeer server;
    testpeers::FtpPeerOptions o;
    o.host = "127.0.0.2";
    o.root = root.path();
    ASSERT_TRUE(server.start(o)) << server.output();
    const std::string url = "ftp://127.0.0.2:" + std::to_string(server.port()) + "/pub/a.mp3";
    launch(url);
    ASSERT_TRUE(runToEnd()) << dump();

    const int row = w.downloads.rowOf(url);
    ASSERT_GE(row, 0);
    const auto& item = w.downloads.rows.Item(row);
    EXPECT_EQ(item.cell(DownloadsList::ColState), "Finished");
    EXPECT_EQ(item.cell(DownloadsList::ColFile), "a (2).mp3");
    EXPECT_EQ(item.cell(DownloadsList::ColDetail), "2.9 KB");
    w.downloads.rows.SetSelection({row});
    std::string why;
    EXPECT_EQ(w.downloads.fileToOpen(why), dir.file("a (2).mp3")) << why;
}

// ---- The download folder --------------------------------------------------------

TEST(DownloadFolder, IsMadeWhenMissingAndAnUnusableOneIsSaid) {
    testsupport::TempDir d;
    const std::string nested = d.path() + "/Music/Wavetrap";
    EXPECT_EQ(shell::prepareDownloadFolder(nested), "");
    EXPECT_TRUE(std::filesystem::is_directory(nested));
    EXPECT_TRUE(std::filesystem::is_empty(nested)); // the write probe is gone

    testsupport::writeFile(d.file("plain"), "x");
    EXPECT_EQ(shell::prepareDownloadFolder(d.file("plain")),
              "The download folder \"" + d.file("plain") +
                  "\" is not a folder. Choose another in the settings.");
    EXPECT_EQ(shell::prepareDownloadFolder(""), "No download folder is set: choose one in the settings.");

    // A folder that cannot be written to: one without write permission, or
    // (for root, who may write anywhere else) /proc, which takes no files.
    const bool root = ::geteuid() == 0;
    const std::string locked = root ? "/proc" : d.file("locked");
    if (!root) ::mkdir(locked.c_str(), 0555);
    const std::string why = shell::prepareDownloadFolder(locked);
    EXPECT_EQ(why.rfind("The download folder \"" + locked + "\" cannot be written to (", 0), 0u) << why;
    EXPECT_NE(why.find("). Choose another in the settings."), std::string::npos) << why;
    const std::string under = locked + "/Wavetrap";
    const std::string whyNot = shell::prepareDownloadFolder(under);
    EXPECT_EQ(whyNot.rfind("The download folder \"" + under + "\" cannot be created (", 0), 0u) << whyNot;
    EXPECT_FALSE(std::filesystem::exists(under));
    if (!root) ::chmod(locked.c_str(), 0755);
}

TEST_F(DownloadsRows, TheDownloadSettingsAreKeptAndAnUnusableFolderIsRefused) {
    EXPECT_EQ(p.cfg.downloadfolder(), shell::defaultDownloadFolder());
    EXPECT_EQ(p.cfg.limitrate(), 0);
    EXPECT_TRUE(p.cfg.verify());
    testsupport::TempDir music;
    const std::string chosen = music.path() + "/mp3";
    EXPECT_EQ(p.cfg.setDownloadfolder(chosen), "");
    testsupport::writeFile(music.file("file"), "x");
    EXPECT_NE(p.cfg.setDownloadfolder(music.file("file")), "");
    EXPECT_EQ(p.cfg.downloadfolder(), chosen); // the usable one stays
    std::vector<int> limits;
    p.cfg.OnLimitRate.connect([&](int v) { limits.push_back(v); });
    p.cfg.setLimitrate(512);
    p.cfg.setLimitrate(-5);
    EXPECT_EQ(limits, (std::vector<int>{512, 0}));
    p.cfg.setLimitrate(2048);
    p.cfg.setVerify(false);
    p.settings.savecfg();
    {
        const platform::TIniFile file(ini());
        EXPECT_EQ(file.ReadString("Settings", "downloadfolder", ""), chosen);
        EXPECT_EQ(file.ReadInteger("Settings", "limitrate", 0), 2048);
        EXPECT_EQ(file.ReadString("Settings", "verify", ""), "0");
    }
    shelltest::Program again;
    again.start();
    EXPECT_EQ(again.cfg.downloadfolder(), chosen);
    EXPECT_EQ(again.cfg.limitrate(), 2048);
    EXPECT_FALSE(again.cfg.verify());
    EXPECT_EQ(again.w.prepareDownloadFolder(), "");

    // Back to the defaults: the keys leave the file.
    again.cfg.setLimitrate(0);
    again.cfg.setVerify(true);
    again.settings.downloadfolder = shell::defaultDownloadFolder();
    again.settings.savecfg();
    const platform::TIniFile file(ini());
    for (const char* key : {"downloadfolder", "limitrate", "verify"})
        EXPECT_FALSE(file.ValueExists("Settings", key)) << key;
}

} // namespace
