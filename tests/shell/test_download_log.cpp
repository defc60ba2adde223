// The download log: restarting selected entries, "Clear Log" across runs, and
// the stored list read once per run so no entry of the run is lost.

#include "program_fixture.h"

#include "platform/profile.h"

#include <functional>
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

TEST_F(DownloadLog, EntriesOfTheRunFollowTheStoredOnes) {
    writeFile(forms(), Stored);
    const platform::StringList all = {"ftp://s.test/a.mp3", "ftp://s.test/b.mp3", "ftp://s.test/c.mp3"};
    shell::Wavetrap w;
    w.downloadLog.append("ftp://s.test/c.mp3"); // while the window is hidden
    EXPECT_EQ(w.downloadLog.entries(), all);
    w.downloadLog.ShowLog1Click(); // showing keeps the run's entry
    w.downloadLog.FormClose();
    w.downloadLog.ShowLog1Click(); // and so does showing again
    EXPECT_EQ(w.downloadLog.entries(), all);
}

// Whatever the window did in the run, the next run finds every entry; the
// stored placement changes only when the window was shown.
TEST_F(DownloadLog, TheRunsEntriesAreKeptWhetherOrNotTheWindowWasShown) {
    const std::string placed = "[log]\nNormPos=10,20,436,287\n";
    struct Case {
        const char* name;
        std::function<void(shell::DownloadLog&)> run;
        platform::StringList stored; // the list the next run reads
        bool fileUnchanged;
    };
    const platform::StringList ab = {"ftp://s.test/a.mp3", "ftp://s.test/b.mp3"};
    const platform::StringList abc = {"ftp://s.test/a.mp3", "ftp://s.test/b.mp3", "ftp://s.test/c.mp3"};
    const Case cases[] = {
        {"never shown, nothing started", [](shell::DownloadLog&) {}, ab, true},
        {"never shown, a transfer started", [](shell::DownloadLog& l) { l.append("ftp://s.test/c.mp3"); },
         abc, false},
        {"shown and closed, then a transfer started",
         [](shell::DownloadLog& l) {
             l.ShowLog1Click();
             l.FormClose();
             l.append("ftp://s.test/c.mp3");
         },
         abc, false},
        {"shown and left open",
         [](shell::DownloadLog& l) {
             l.ShowLog1Click();
             l.append("ftp://s.test/c.mp3");
         },
         abc, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(forms(), placed + Stored);
        {
            shell::Wavetrap w;
            c.run(w.downloadLog);
            w.downloadLog.Destroy(); // as at the program's end
        }
        if (c.fileUnchanged) {
            EXPECT_EQ(readFile(forms()), placed + Stored);
        }
        const platform::TIniFile ini(forms());
        platform::StringList stored;
        shell::readStoredList(ini, "log.dllog_Items", stored);
        EXPECT_EQ(stored, c.stored);
        EXPECT_EQ(ini.ReadString("log", "NormPos", ""), "10,20,436,287");
        shell::Wavetrap next;
        next.downloadLog.ShowLog1Click();
        EXPECT_EQ(next.downloadLog.entries(), c.stored);
    }
}

} // namespace
