// The windows' stored properties: when they are read and written, how each
// kind of value is kept, and the settings window's handlers.

#include "program_fixture.h"

#include "platform/profile.h"
#include "shell/formstorage.h"
#include "shell/settings_window.h"

#include <gtest/gtest.h>
#include <stdexcept>

using shelltest::Program;
using testsupport::readFile;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

using FormStorageTest = shelltest::SettingsDirTest;

TEST_F(FormStorageTest, EveryShowingRestoresTheStoredOptions) {
    writeFile(forms(), "[cfg]\nGuideshow_Checked=False\ncheckupdate_Checked=True\n");
    Program p;
    p.cfg.Show();
    EXPECT_FALSE(p.cfg.Guideshow());
    EXPECT_TRUE(p.cfg.checkupdate());
    p.cfg.setGuideshow(true); // changed elsewhere (the guide's button) and not saved
    p.cfg.Hide();
    p.cfg.Show();
    EXPECT_FALSE(p.cfg.Guideshow());
}

TEST_F(FormStorageTest, SavedOnCloseAndOnDestructionOnlyWhenShownAndNotSavedSince) {
    {
        Program p;
        p.cfg.Destroy(); // never shown: never saved
    }
    EXPECT_FALSE(platform::TIniFile(forms()).SectionExists("cfg"));

    Program p;
    p.cfg.Show();
    p.cfg.setUsecute(true);
    p.cfg.FormClose();
    EXPECT_EQ(platform::TIniFile(forms()).ReadString("cfg", "usecute_Checked", ""), "True");
    // Saved since the last restore: destruction writes nothing more.
    writeFile(forms(), "[cfg]\nusecute_Checked=False\n");
    p.cfg.Destroy();
    EXPECT_EQ(platform::TIniFile(forms()).ReadString("cfg", "usecute_Checked", ""), "False");

    Program q;
    q.cfg.Show();
    q.cfg.setCheckupdate(true);
    q.cfg.Hide();
    q.cfg.Destroy(); // shown, never closed: saved at destruction
    EXPECT_EQ(platform::TIniFile(forms()).ReadString("cfg", "checkupdate_Checked", ""), "True");
}

TEST_F(FormStorageTest, StoredTextThatIsNotAValueKeepsTheCurrentOne) {
    struct Row {
        const char* line;
        bool checkupdate;
        int dfatime;
    } rows[] = {
        {"checkupdate_Checked=TRUE", true, 1}, {"checkupdate_Checked=yes", false, 1},
        {"checkupdate_Checked=1", false, 1},   {"dfatime_Position=7", false, 7},
        {"dfatime_Position=0x3", false, 3},    {"dfatime_Position=seven", false, 1},
        {"dfatime_Position=0", false, 1},      {"dfatime_Position=99", false, 10},
        {"dfatime_Position=", false, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.line);
        writeFile(forms(), std::string("[cfg]\n") + r.line + "\n");
        Program p;
        p.cfg.Show();
        EXPECT_EQ(p.cfg.checkupdate(), r.checkupdate);
        EXPECT_EQ(p.cfg.dfatime(), r.dfatime);
    }
    writeFile(forms(), "[items]\nSpeedBar1_Align=alsideways\n");
    Program p;
    p.main.storage.Restore();
    EXPECT_EQ(p.main.SpeedBar1_Align, "alTop");
    writeFile(forms(), "[items]\nSpeedBar1_Align=ALBOTTOM\n");
    p.main.storage.Restore();
    EXPECT_EQ(p.main.SpeedBar1_Align, "alBottom");
}

TEST_F(FormStorageTest, RestoringRunsTheHandlersOfChangedOptionsOnly) {
    std::vector<int> intervals;
    std::vector<bool> onTop;
    Program p;
    p.cfg.OnSchedulerInterval.connect([&](int ms) { intervals.push_back(ms); });
    p.cfg.OnStayOnTop.connect([&](bool on) { onTop.push_back(on); });
    writeFile(forms(), "[cfg]\ndfatime_Position=1\nontop_Checked=False\n");
    p.cfg.Show();
    EXPECT_TRUE(intervals.empty());
    EXPECT_TRUE(onTop.empty());
    writeFile(forms(), "[cfg]\ndfatime_Position=10\nontop_Checked=True\n");
    p.cfg.Show();
    EXPECT_EQ(intervals, (std::vector<int>{1900}));
    EXPECT_EQ(onTop, (std::vector<bool>{true}));
    p.cfg.setDfatime(4); // the track bar moved by the user
    EXPECT_EQ(intervals.back(), 700);
    p.cfg.setOntop(false);
    EXPECT_EQ(onTop.back(), false);
}

TEST_F(FormStorageTest, PlacementRestoresPositionAndStateAsEachWindowAllows) {
    writeFile(forms(), "[items]\nFlags=2\nShowCmd=3\nMinMaxPos=1,2,3,4\nNormPos=50,60,950,760\n"
                       "[cfg]\nShowCmd=2\nNormPos=10,20,30,40\n"
                       "[log]\nShowCmd=3\nNormPos=1,2,3\nMinMaxPos=a,b,c,d\n");
    Program p;
    p.main.storage.Restore();
    EXPECT_EQ(p.main.placement.ShowCmd, 1); // position only
    EXPECT_EQ(p.main.placement.Flags, 2);
    EXPECT_EQ(p.main.placement.MinMaxPos, (std::array<int, 4>{1, 2, 3, 4}));
    EXPECT_EQ(p.main.placement.NormPos, (std::array<int, 4>{50, 60, 950, 760}));
    p.cfg.Show();
    EXPECT_EQ(p.cfg.placement.ShowCmd, 2);
    // Cannot be resized: moved to the stored place, still 448 x 357.
    EXPECT_EQ(p.cfg.placement.NormPos, (std::array<int, 4>{10, 20, 10 + 448, 20 + 357}));

    shell::WindowPlacement logPlace;
    shell::FormStorage log(shell::LogWindowLayout());
    log.bindPlacement(logPlace);
    log.Restore();
    EXPECT_EQ(logPlace.ShowCmd, 3);
    EXPECT_EQ(logPlace.NormPos, shell::WindowPlacement{}.NormPos); // malformed: kept
    EXPECT_EQ(logPlace.MinMaxPos, shell::WindowPlacement{}.MinMaxPos);

    // A damaged file: every coordinate is held to the screen's range; the
    // window that is only moved keeps its size (computed without overflow),
    // so it comes back in the same place after a save and a restart.
    writeFile(forms(), "[items]\nNormPos=-2147483648,5,2147483647,9\n[cfg]\nNormPos=2147483647,0,0,0\n");
    Program damaged;
    damaged.main.storage.Restore();
    EXPECT_EQ(damaged.main.placement.NormPos, (std::array<int, 4>{-32768, 5, 32767, 9}));
    damaged.cfg.Show();
    EXPECT_EQ(damaged.cfg.placement.NormPos, (std::array<int, 4>{32767 - 448, 0, 32767, 357}));
}

TEST_F(FormStorageTest, ListsAreReplacedOnlyByStoredItemsAndEmptyListsEraseTheirSection) {
    shell::FormStorage log(shell::LogWindowLayout());
    platform::StringList dllog{"ftp://mem.test/a.mp3"};
    log.bindStrings("dllog.Items", dllog);
    for (const char* stored :
         {"", "[log.dllog_Items]\nCount=0\nItem0=x\n", "[log.dllog_Items]\nCount=-1\n"}) {
        writeFile(forms(), stored);
        log.Restore();
        EXPECT_EQ(dllog, (platform::StringList{"ftp://mem.test/a.mp3"})) << stored;
    }
    writeFile(forms(), "[log.dllog_Items]\nCount=2\nItem1=second\nItem0=first\n");
    log.Restore();
    EXPECT_EQ(dllog, (platform::StringList{"first", "second"}));
    dllog.push_back("third");
    log.Save();
    EXPECT_EQ(readFile(forms()), "[log.dllog_Items]\nCount=3\nItem0=first\nItem1=second\nItem2=third\n");
    dllog.clear();
    log.Save();
    EXPECT_FALSE(platform::TIniFile(forms()).SectionExists("log.dllog_Items"));
}

TEST_F(FormStorageTest, ListViewRowsAndColumnsStoreNothingAndUnknownNamesAreRefused) {
    shell::FormStorage items(shell::MainWindowLayout());
    EXPECT_THROW(items.bindStrings(
                     "List.Items", [] { return platform::StringList{"x"}; }, [](platform::StringList) {}),
                 std::logic_error);
    EXPECT_THROW(items.bindText(
                     "nosuch.Caption", [] { return std::string(); }, [](const std::string&) {}),
                 std::logic_error);
    EXPECT_THROW(items.bindText(
                     "ontop.Checked", [] { return std::string(); }, [](const std::string&) {}),
                 std::logic_error);
    EXPECT_EQ(shell::propertyKey("stats_ip", "Items"), "stats_ip_Items");
    EXPECT_EQ(shell::listSection("items", "stats_ip_Items"), "items.stats_ip_Items");
}

TEST_F(FormStorageTest, EngineListEditing) {
    Program p;
    p.cfg.Edit1 = "one.test/s?q=";
    p.cfg.Edit1KeyDown('A');
    EXPECT_EQ(p.startlinks.Count(), 0);
    p.cfg.Edit1KeyDown(shell::SettingsModel::Key_Return);
    EXPECT_EQ(p.cfg.Edit1, "");
    p.cfg.Edit1 = "two.test/s?q=";
    p.cfg.addbutClick();
    p.cfg.Edit1 = "one.test/s?q="; // already listed
    p.cfg.addbutClick();
    p.cfg.Edit1 = "ONE.test/s?q="; // other case: a different entry
    p.cfg.addbutClick();
    p.cfg.addbutClick(); // empty box: nothing
    EXPECT_EQ(p.startlinks.Items(),
              (platform::StringList{"one.test/s?q=", "two.test/s?q=", "ONE.test/s?q="}));
    p.cfg.startlinksKeyDown(shell::SettingsModel::Key_Delete); // nothing selected
    EXPECT_EQ(p.startlinks.Count(), 3);
    p.startlinks.SetItemIndex(1);
    p.cfg.startlinksKeyDown(shell::SettingsModel::Key_Return);
    EXPECT_EQ(p.startlinks.Count(), 3);
    p.cfg.startlinksKeyDown(shell::SettingsModel::Key_Delete);
    EXPECT_EQ(p.startlinks.Items(), (platform::StringList{"one.test/s?q=", "ONE.test/s?q="}));
}

TEST_F(FormStorageTest, ProxyFieldsReachTheRememberedSettingsThroughTheirHandlers) {
    Program p;
    p.proxy.useproxy = true;
    p.proxy.proxynamein = "proxy.test";
    EXPECT_FALSE(p.settings.proxy.useproxy); // not yet copied
    p.cfg.proxynameinKeyUp();
    EXPECT_TRUE(p.settings.proxy.useproxy);
    EXPECT_EQ(p.settings.proxy.proxyname, "proxy.test");
    p.proxy.proxyportin = "3128";
    p.cfg.proxyportinKeyUp();
    EXPECT_EQ(p.settings.proxy.proxyport, "3128");
    p.proxy.useproxy = false;
    p.cfg.useproxyMouseMove();
    EXPECT_FALSE(p.settings.proxy.useproxy);
    p.proxy.useproxy = true;
    p.cfg.Show();
    p.cfg.FormClose();
    EXPECT_TRUE(p.settings.proxy.useproxy);
}

TEST_F(FormStorageTest, LocatingTheExternalFtpProgram) {
    struct Row {
        const char* uninstall;
        const char* path;
    } rows[] = {
        {"C:\\PROGRA~1\\CUTEFTP\\UNWISE.EXE C:\\PROGRA~1\\CUTEFTP\\INSTALL.LOG",
         "C:\\PROGRA~1\\CUTEFTP\\cutftp32"},
        {"D:\\x\\UNWISE32.EXE", "D:\\x\\cutftp32"},
        {"D:\\x\\unwise.exe", ""}, // the search for "UNWI" is case-sensitive
        {"UNWISE.EXE", ""},        // no directory before it
        {"", ""},
    };
    for (const Row& r : rows)
        EXPECT_EQ(shell::pathFromUninstallString(r.uninstall), r.path) << r.uninstall;

    { // no registry, usecute unchecked: the dialog is not shown, its file name is taken
        Program p;
        bool asked = false;
        p.cfg.ShowFileDialog = [&](std::string&) { return asked = true; };
        p.cfg.Button1Click();
        EXPECT_FALSE(asked);
        EXPECT_EQ(p.settings.path, "cutftp32");
        EXPECT_TRUE(p.cfg.foundVisible);
        EXPECT_EQ(platform::TIniFile(ini()).ReadString("Settings", "path", ""), "cutftp32");
    }
    { // usecute checked: the chosen file, cut before ".exe"
        Program p;
        p.cfg.setUsecute(true);
        p.cfg.ShowFileDialog = [](std::string& name) {
            name = "/opt/cute.exe.d/cutftp32.exe";
            return true;
        };
        p.cfg.Button1Click();
        EXPECT_EQ(p.settings.path, "/opt/cute");
        EXPECT_EQ(p.cfg.foundPathLabel, "/opt/cute");
    }
    { // an empty result is stored but not saved
        writeFile(ini(), "[Settings]\npath=old\n");
        Program p;
        p.cfg.setUsecute(true);
        p.cfg.ShowFileDialog = [](std::string& name) {
            name = ".exe";
            return false;
        };
        p.cfg.Button1Click();
        EXPECT_EQ(p.settings.path, "");
        EXPECT_FALSE(p.cfg.foundVisible);
        EXPECT_EQ(platform::TIniFile(ini()).ReadString("Settings", "path", ""), "old");
    }
}

} // namespace
