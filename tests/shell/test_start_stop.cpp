// The start-up and exit both front ends share (shell::Wavetrap::start and
// stop), the main window's stored place, and the typed results of the search
// and download commands.

#include "peers/process.h"
#include "platform/eventloop.h"
#include "program_fixture.h"
#include "shell/mainviews.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using shelltest::SettingsDirTest;

using StartStop = SettingsDirTest;

// What start() does as each front end asks: the command line keeps the
// tick, the update check and the pending downloads to itself; the window
// has start() do them.
TEST_F(StartStop, EachFrontEndGetsTheStartItAskedFor) {
    {
        // The last run left a download under way, the update check and the guide on.
        shell::Wavetrap w;
        ASSERT_TRUE(w.start({}).settingsProblem.empty());
        w.cfg.setCheckupdate(true);
        w.cfg.setGuideshow(true);
        w.cfg.setDfatime(4);
        w.pending.downloading = {"ftp://127.0.0.1:1/left.mp3"};
        w.pending.downloadingsize = {"0"};
        EXPECT_EQ(w.stop(), "");
    }
    struct Case {
        const char* name;
        shell::StartOptions options;
        bool ticking, resumed, updateAsked;
    };
    const Case cases[] = {
        {"command line", {}, false, false, false},
        {"window", {true, false, true, true, true}, true, true, true},
        {"resume only", {false, false, true, false, false}, false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        shell::Wavetrap w;
        if (c.options.mainWindowRestored) w.restoreMainWindow();
        const shell::StartReport r = w.start(c.options);
        EXPECT_EQ(r.settingsProblem, "");
        EXPECT_TRUE(r.showGuide);
        EXPECT_GT(w.startlinks.Count(), 0); // the settings were read
        EXPECT_EQ(w.scheduler.dfatimer.Enabled(), c.ticking);
        if (c.ticking) {
            EXPECT_EQ(w.scheduler.dfatimer.Interval(), shell::SettingsModel::schedulerInterval(4));
        }
        EXPECT_EQ(!w.scheduler.idle(), c.resumed);
        // The default update host is reserved: the check cannot start, and says why.
        ASSERT_EQ(r.update.has_value(), c.updateAsked);
        if (c.updateAsked) {
            EXPECT_EQ(r.update->result, shell::UpdateReport::NotStarted);
            EXPECT_EQ(r.update->statusLine(),
                      "Update check failed: SetAddr: Cannot convert host address 'update.wavetrap.invalid'");
        }
        for (int n = 1; n <= download::SlotCount; ++n)
            w.scheduler.stop(n);
    }
}

// A settings directory that cannot be written costs the saved state, not the
// run, and is said once whether start-up or exit finds it.
TEST_F(StartStop, UnsavableSettingsAreReportedOnce) {
    {
        testsupport::ScopedEnv nowhere("WAVETRAP_CONFIG_DIR", "/dev/null/wavetrap");
        shell::Wavetrap w;
        const shell::StartReport r = w.start({});
        EXPECT_EQ(r.settingsProblem,
                  "the settings cannot be saved: Unable to write to /dev/null/wavetrap/wavbin.Ini");
        EXPECT_EQ(w.stop(), ""); // said already
    }
    shell::Wavetrap w;
    ASSERT_EQ(w.start({}).settingsProblem, "");
    w.startlinks.addengine("new.test/s?q=");
    // The temporary file every write goes through cannot be created.
    const std::string blocker = ini() + ".tmp." + std::to_string(::getpid());
    ASSERT_EQ(::mkdir(blocker.c_str(), 0700), 0);
    EXPECT_EQ(w.stop(), "the settings cannot be saved: Unable to write to " + ini());
    EXPECT_EQ(w.stop(), "");
    ::rmdir(blocker.c_str());
}

// The download log of the command line: restored at start, so the run's
// entries join the stored ones, and written at stop.
TEST_F(StartStop, TheDownloadLogAsked) {
    shell::StartOptions withLog;
    withLog.downloadLog = true;
    for (const char* url : {"ftp://a.test/one.mp3", "ftp://a.test/two.mp3"}) {
        shell::Wavetrap w;
        w.start(withLog);
        EXPECT_TRUE(w.downloadLog.visible());
        w.downloadLog.append(url);
        EXPECT_EQ(w.stop(), "");
    }
    {
        shell::Wavetrap w;
        w.start({});
        EXPECT_FALSE(w.downloadLog.visible());
    }
    shell::Wavetrap w;
    w.start(withLog);
    EXPECT_EQ(w.downloadLog.entries(),
              (platform::StringList{"ftp://a.test/one.mp3", "ftp://a.test/two.mp3"}));
}

TEST_F(StartStop, TheMainWindowsPlaceComesBackAsStored) {
    {
        shell::Wavetrap w;
        const shell::MainWindowPlacement first = w.restoreMainWindow();
        EXPECT_FALSE(first.stored); // a first run: the window picks its size
        EXPECT_FALSE(first.toolbarAtBottom);
        w.start({true, false, false, false, false});
        w.storeMainWindow({10, 20, 910, 620}, true, {"40", "100", "0", "150", "60", "200"});
        EXPECT_EQ(w.stop(), "");
    }
    {
        shell::Wavetrap w;
        const shell::MainWindowPlacement p = w.restoreMainWindow();
        EXPECT_TRUE(p.stored);
        EXPECT_EQ(p.rect, (std::array<int, 4>{10, 20, 910, 620}));
        EXPECT_TRUE(p.toolbarAtBottom);
        EXPECT_EQ(p.statusWidths, (platform::StringList{"40", "100", "0", "150", "60", "200"}));
        w.start({true, false, false, false, false});
        // Too small to hold the toolbar: no place of the user's.
        w.storeMainWindow({10, 20, 110, 620}, false, {});
        w.stop();
    }
    shell::Wavetrap w;
    EXPECT_FALSE(w.restoreMainWindow().stored);
}

TEST_F(StartStop, ASearchCommandSaysWhetherQueriesWentOut) {
    shell::Wavetrap w;
    w.start({});
    w.startlinks.Clear();
    EXPECT_FALSE(w.search("night", true).started); // no engine
    const testpeers::ClosedPort closed;
    w.startlinks.addengine("127.0.0.1:" + std::to_string(closed.port()) + "/s?q=");
    int changes = 0;
    const platform::ScopedConnection c = w.searchChanged.connect([&] { ++changes; });
    const shell::SearchStart s = w.search("night", false);
    EXPECT_TRUE(s.started);
    EXPECT_EQ(s.error, "");
    EXPECT_GT(changes, 0);
    shell::SearchControls shown = w.searchControls();
    EXPECT_TRUE(shown.pbarVisible);
    EXPECT_EQ(shown.text, "night");
    EXPECT_EQ(shown.history.front(), "night");
    EXPECT_TRUE(platform::runUntil([&] { return !w.searchControls().pbarVisible; }, 5000));
    // A command that raises: its text, and no search.
    const shell::SearchStart failed = w.searchBy([] { throw std::runtime_error("no engine to ask"); });
    EXPECT_FALSE(failed.started);
    EXPECT_EQ(failed.error, "no engine to ask");
    w.stop();
}

// The download command answers where the files went; the status bar hears
// that the external program took them only when nothing else was said.
TEST_F(StartStop, TheDownloadCommandAnswersItsRoute) {
    testsupport::TempDir scripts;
    shell::Wavetrap w;
    w.start({});
    shell::MainViews views(w);
    views.scriptDirectory = scripts.path();
    std::vector<std::string> said;
    const platform::ScopedConnection c =
        views.message.connect([&](const std::string& m) { said.push_back(m); });
    w.settings.path = "/bin/true";
    w.cfg.setUsecute(true);
    w.table.addlink("ftp://a.test/x/one.mp3");
    w.table.List.SetSelection({0});
    EXPECT_EQ(views.haulfilesClick(), shell::MainViews::Handover::ExternalProgram);
    EXPECT_EQ(said, (std::vector<std::string>{"The chosen files went to the external FTP program"}));
    said.clear();
    EXPECT_EQ(views.haulfile("ftp://a.test/x/two.mp3"), shell::MainViews::Handover::ExternalProgram);
    EXPECT_EQ(said, (std::vector<std::string>{"The file went to the external FTP program"}));
    // From the status view nothing can be chosen: that is said, nothing more.
    said.clear();
    views.statusviewClick();
    EXPECT_EQ(views.haulfilesClick(), shell::MainViews::Handover::ExternalProgram);
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find("switch to one of those views"), std::string::npos) << said[0];
    // A filter that shows nothing refuses.
    said.clear();
    views.resultsviewClick();
    w.table.List.SetSelection({});
    views.setFilter("nomatch");
    EXPECT_EQ(views.haulfilesClick(), shell::MainViews::Handover::Refused);
    ASSERT_EQ(said.size(), 1u);
    // The built-in route.
    views.setFilter("");
    w.cfg.setUsecute(false);
    w.table.List.SetSelection({0});
    EXPECT_EQ(views.haulfilesClick(), shell::MainViews::Handover::Slots);
    for (int n = 1; n <= download::SlotCount; ++n)
        w.scheduler.stop(n);
}

} // namespace
