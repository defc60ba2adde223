// The download log: restarting selected entries, "Clear Log" across runs, and
// the stored list read once per run so no entry of the run is lost.

#include "program_fixture.h"

#include "platform/profile.h"

#include <gtest/gtest.h>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

using DownloadLog = shelltest::SettingsDirTest;

const std::string Stored = "[log.dllog_Items]\nCount=2\nItem0=ftp://s.test/a.mp3\nItem1=ftp://s.test/b.mp3\n";

TEST_F(DownloadLog, DoubleClickRestartsTheSelectedEntriesInListOrder) {
    shell::Wavetrap w;
    for (const char* f : {"1", "2", "3", "4"})
        w.downloadLog.append(std::string("ftp://one.test/pub/") + f + ".mp3");
    w.downloadLog.dllog.SetSelection({3, 0, 2});
    w.downloadLog.dllogDblClick();
    EXPECT_EQ(w.scheduler.slot(download::SlotCount).queueUrls,
              (platform::StringList{"ftp://one.test/pub/1.mp3", "ftp://one.test/pub/3.mp3",
                                    "ftp://one.test/pub/4.mp3"}));
    EXPECT_EQ(w.downloadLog.dllog.Count(), 4);
}

TEST_F(DownloadLog, ClearedLogStaysClearedAtTheNextRun) {
    writeFile(forms(), Stored);
    {
        shell::Wavetrap w;
        w.downloadLog.ShowLog1Click();
        EXPECT_EQ(w.downloadLog.dllog.Count(), 2);
        w.downloadLog.RxSpeedButton1Click();
        w.downloadLog.FormClose();
        w.downloadLog.Destroy();
    }
    EXPECT_FALSE(platform::TIniFile(forms()).SectionExists("log.dllog_Items"));
    shell::Wavetrap w;
    w.downloadLog.ShowLog1Click();
    EXPECT_EQ(w.downloadLog.dllog.Count(), 0);
}

TEST_F(DownloadLog, EntriesOfTheRunFollowTheStoredOnesAndANeverShownLogKeepsTheFile) {
    writeFile(forms(), Stored);
    const platform::StringList all = {"ftp://s.test/a.mp3", "ftp://s.test/b.mp3", "ftp://s.test/c.mp3"};
    {
        shell::Wavetrap w;
        w.downloadLog.append("ftp://s.test/c.mp3"); // while the window is hidden
        EXPECT_EQ(w.downloadLog.entries(), all);
        w.downloadLog.Destroy(); // never shown: nothing written
    }
    EXPECT_EQ(readFile(forms()), Stored);
    shell::Wavetrap w;
    w.downloadLog.append("ftp://s.test/c.mp3");
    w.downloadLog.ShowLog1Click(); // showing keeps the run's entry
    w.downloadLog.FormClose();
    w.downloadLog.ShowLog1Click(); // and so does showing again
    EXPECT_EQ(w.downloadLog.entries(), all);
}

} // namespace
