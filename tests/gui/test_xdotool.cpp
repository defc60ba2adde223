// The real wavetrap program under Xvfb, driven with X input events: a phrase
// typed and Enter pressed, a result double-clicked, the file downloaded as
// the site has it; the by-site view under the mouse; a notice above the
// settings window.

#include "peers/ftp_peer.h"
#include "peers/http_peers.h"
#include "platform/eventloop.h"
#include "support/tempdir.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sys/stat.h>

namespace {

using testsupport::readFile;

// A child process killed at the end of the test.
struct Child {
    QProcess p;
    // The window program, started in dir (as from a desktop menu, anywhere).
    void startWavetrap(const QProcessEnvironment& env, const std::string& dir) {
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(QString::fromStdString(dir));
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(WAVETRAP_GUI_PATH, {});
    }
    ~Child() {
        if (p.state() == QProcess::NotRunning) return;
        p.terminate();
        if (!p.waitForFinished(3000)) {
            p.kill();
            p.waitForFinished(3000);
        }
    }
};

std::string run(const QString& program, const QStringList& args, const QProcessEnvironment& env) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    p.waitForFinished(15000);
    return p.readAllStandardOutput().trimmed().toStdString();
}

std::string content(int i) {
    std::string s(150000 + i * 1000, '\0');
    for (std::size_t k = 0; k < s.size(); ++k)
        s[k] = static_cast<char>((k * 13 + static_cast<std::size_t>(i)) & 0xff);
    return s;
}

// The number of colours in a part (WxH+X+Y) of the window as drawn on the display.
int colours(const QProcessEnvironment& env, const QString& window, const QString& part) {
    const std::string n =
        run("sh",
            {"-c", "import -window \"$0\" png:- | convert png:- -crop \"$1\" -format %k info:", window, part},
            env);
    return n.empty() ? 0 : std::atoi(n.c_str());
}

// A display of our own (Xvfb) with a window manager (openbox) when one is
// installed, and the environment for the programs started on it.
struct XSession {
    Child xvfb, wm;
    QProcessEnvironment env;
    std::string problem;

    bool start(const testsupport::TempDir& config) {
        xvfb.p.start("Xvfb",
                     {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"});
        if (!xvfb.p.waitForStarted() || !platform::runUntil([&] { return xvfb.p.canReadLine(); }, 15000)) {
            problem = "Xvfb did not start";
            return false;
        }
        const QString display = ":" + QString::fromUtf8(xvfb.p.readLine()).trimmed();
        env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        env.remove("QT_QPA_PLATFORM");
        env.insert("WAVETRAP_CONFIG_DIR", QString::fromStdString(config.path()));
        // The desktop's music folder (the default download folder) in the test's own directory.
        testsupport::writeFile(config.file("user-dirs.dirs"),
                               "XDG_MUSIC_DIR=\"" + config.file("Music") + "\"\n");
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(config.path()));
        // On a real display Qt's platform code loads libdbus, whose one-time
        // allocations the leak checker of a sanitizer build would count as ours.
        testsupport::writeFile(config.file("lsan.supp"), "leak:libdbus-1.so\n");
        const QString lsan = env.value("LSAN_OPTIONS");
        env.insert("LSAN_OPTIONS", (lsan.isEmpty() ? "" : lsan + ":") +
                                       "suppressions=" + QString::fromStdString(config.file("lsan.supp")));
        // A window manager makes the window active the way a desktop would; the
        // program starts once it runs (a window mapped while it starts up is lost).
        // Without one, xdotool gives the window the input focus directly.
        if (QStandardPaths::findExecutable("openbox").isEmpty() ||
            QStandardPaths::findExecutable("xprop").isEmpty())
            return true;
        wm.p.setProcessEnvironment(env);
        // A display just up may still refuse the first client: start again until it runs.
        if (!platform::runUntil(
                [&] {
                    if (wm.p.state() == QProcess::NotRunning) wm.p.start("openbox", {});
                    return run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}, env).find("window id") !=
                           std::string::npos;
                },
                15000)) {
            problem = "openbox did not start: " + wm.p.readAllStandardError().toStdString();
            return false;
        }
        return true;
    }
    bool managed() const { return wm.p.state() == QProcess::Running; }
    // The first visible window whose name matches the pattern, asked again
    // until it is up (xdotool's own --sync can miss a window mapped while it looks).
    std::string window(const QString& pattern, int maxMs = 20000) const {
        std::string id;
        platform::runUntil(
            [&] {
                id = run("xdotool", {"search", "--onlyvisible", "--name", pattern}, env);
                return !id.empty();
            },
            maxMs);
        return id.substr(0, id.find('\n'));
    }
    // Where a window stands in the window manager's stacking order (higher: in front).
    std::size_t stackedAt(const std::string& id) const {
        const std::string stacking = run("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"}, env);
        char hex[32];
        std::snprintf(hex, sizeof hex, "0x%lx", std::stoul(id));
        return stacking.find(hex);
    }
};

TEST(RealWindowUnderXvfb, TypeAPhrasePressEnterDoubleClickAResultAndTheFileArrives) {
    // Then by site: a click on the site shows its files, a double-click fetches one;
    // and a notice opens above the settings window, which stays in front.
    for (const char* tool : {"Xvfb", "xdotool", "import", "convert"})
        if (QStandardPaths::findExecutable(tool).isEmpty()) GTEST_SKIP() << tool << " is not installed";
    testsupport::TempDir root, config, work;
    ::mkdir(root.file("pub").c_str(), 0755);
    std::string page;
    testpeers::FtpPeer ftp;
    testpeers::FtpPeerOptions o;
    o.host = "127.0.0.2";
    o.root = root.path();
    ASSERT_TRUE(ftp.start(o)) << ftp.output();
    // Twelve results fill the table, so a double-click in its upper part meets one.
    for (int i = 0; i < 12; ++i) {
        const std::string name = "Night_" + std::to_string(10 + i) + ".mp3";
        testsupport::writeFile(root.file("pub/" + name), content(i));
        page += "<a href=\"ftp://127.0.0.2:" + std::to_string(ftp.port()) + "/pub/" + name + "\">x</a>\n";
    }
    testpeers::HttpPeer engine;
    ASSERT_TRUE(engine.start("127.0.0.1"));
    engine.serve("/r?q=night+music", page);
    testsupport::writeFile(config.file("wavbin.Ini"), "[Settings]\npath=cutftp32\nverify=0\n[Links]\n0=" +
                                                          engine.hostPort() + "/r?q=\n");
    engine.serve("/update.txt", "--MESSAGE Fresh engines\n");
    testsupport::writeFile(config.file("wavbin"),
                           "[cfg]\nGuideshow_Checked=False\n[items]\nNormPos=0,0,900,600\n"
                           "updateIP_Caption=" +
                               engine.hostPort() + "\nupdatefile_Caption=/update.txt\n");

    XSession x;
    ASSERT_TRUE(x.start(config)) << x.problem;
    const QProcessEnvironment& env = x.env;
    Child app;
    app.startWavetrap(env, work.path());
    ASSERT_TRUE(app.p.waitForStarted());

    // Asked again until the window is up (xdotool's own --sync can miss a window
    // that is mapped while it looks).
    std::string wid;
    platform::runUntil(
        [&] {
            wid = run("xdotool", {"search", "--onlyvisible", "--name", "^Wavetrap 98$"}, env);
            return !wid.empty();
        },
        20000);
    ASSERT_FALSE(wid.empty()) << "the window did not appear; the program is "
                              << (app.p.state() == QProcess::Running ? "running" : "gone");
    const QString w = QString::fromStdString(wid.substr(0, wid.find('\n')));
    if (x.managed()) run("timeout", {"10", "xdotool", "windowactivate", "--sync", w}, env);
    run("timeout", {"10", "xdotool", "windowfocus", "--sync", w}, env);
    // Without --window xdotool sends its events through the XTEST extension, as
    // a keyboard and a mouse would; events sent to a window directly are marked
    // as synthetic and Qt drops them.
    // A click into the search box first: the keys go there however soon they come.
    // On a busy machine the first keys can come before the window takes them:
    // the phrase is typed again (over what the box holds) until a search starts.
    bool started = false;
    for (int attempt = 0; attempt < 4 && !started; ++attempt) {
        if (attempt > 0) run("timeout", {"10", "xdotool", "windowactivate", "--sync", w}, env);
        run("xdotool", {"mousemove", "--window", w, "87", "77", "click", "1"}, env);
        run("xdotool", {"key", "ctrl+a"}, env);
        run("xdotool", {"type", "--delay", "20", "night music"}, env);
        run("xdotool", {"key", "Return"}, env);
        started = platform::runUntil([&] { return !engine.requests().empty(); }, 5000);
    }
    ASSERT_TRUE(started) << "the search did not start";
    // The rows are drawn once the page has arrived; then a double-click in the
    // table's upper part meets one.
    ASSERT_TRUE(platform::runUntil([&] { return colours(env, w, "150x80+5+117") > 4; }, 15000))
        << "no rows appeared";
    run("xdotool", {"mousemove", "--window", w, "150", "220", "click", "--repeat", "2", "--delay", "60", "1"},
        env);

    // Started from elsewhere (as from the desktop menu), the window downloads
    // into the desktop's music folder, in "Wavetrap".
    const std::string music = config.file("Music/Wavetrap");
    std::string got;
    ASSERT_TRUE(platform::runUntil(
        [&] {
            if (!std::filesystem::is_directory(music)) return false;
            for (const auto& e : std::filesystem::directory_iterator(music)) {
                const std::string n = e.path().filename().string();
                if (n.rfind("Night_", 0) != 0) continue;
                const int i = std::stoi(n.substr(6, 2)) - 10;
                if (e.file_size() == content(i).size()) got = n;
            }
            return !got.empty();
        },
        20000))
        << "no file arrived";
    EXPECT_TRUE(readFile(music + "/" + got) == readFile(root.file("pub/" + got)));
    EXPECT_TRUE(std::filesystem::is_empty(work.path())) << "nothing lands where the program was started";
    auto files = [&] {
        int n = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(music))
            ++n;
        return n;
    };
    EXPECT_EQ(files(), 1) << "only the double-clicked row downloads";

    // Views -> "Display results by site"; a click on the site shows its files in the pane
    // beside, and a double-click there fetches that one file (not the whole table).
    auto windows = [&] {
        const std::string ids = run("xdotool", {"search", "--onlyvisible", "--classname", "wavetrap"}, env);
        return std::count(ids.begin(), ids.end(), '\n') + !ids.empty();
    };
    const auto before = windows();
    run("xdotool", {"mousemove", "--window", w, "730", "67", "click", "1"}, env);
    ASSERT_TRUE(platform::runUntil([&] { return windows() > before; }, 5000))
        << "the display menu did not open";
    run("xdotool", {"key", "Down", "Down", "Return"}, env);
    ASSERT_TRUE(platform::runUntil([&] { return colours(env, w, "100x12+5+98") > 4; }, 5000))
        << "the site list did not show";
    EXPECT_LE(colours(env, w, "150x60+200+115"), 2) << "the file pane shows files before a site was chosen";
    run("xdotool", {"mousemove", "--window", w, "37", "104", "click", "1"}, env);
    ASSERT_TRUE(platform::runUntil([&] { return colours(env, w, "150x60+200+115") > 4; }, 5000))
        << "the click on the site showed no files";
    run("xdotool", {"mousemove", "--window", w, "250", "163", "click", "--repeat", "2", "--delay", "60", "1"},
        env);
    ASSERT_TRUE(platform::runUntil(
        [&] {
            int whole = 0;
            for (const auto& e : std::filesystem::directory_iterator(music)) {
                const std::string n = e.path().filename().string();
                const int i = std::stoi(n.substr(6, 2)) - 10;
                whole += e.file_size() == content(i).size();
            }
            return whole == 2;
        },
        20000))
        << "the double-clicked file did not arrive";
    EXPECT_EQ(files(), 2) << "only the double-clicked file of the site downloads";

    // With the settings window open (kept in front), the update check's notice
    // opens above it and takes a click and Enter at once.
    run("xdotool", {"key", "alt+w", "Down", "Return"}, env);
    std::string cfg;
    ASSERT_TRUE(platform::runUntil(
        [&] {
            return !(cfg = run("xdotool", {"search", "--onlyvisible", "--name", "^.cfg$"}, env)).empty();
        },
        5000));
    run("timeout", {"10", "xdotool", "windowactivate", "--sync", w}, env);
    run("xdotool", {"key", "alt+h", "Down", "Down", "Return"}, env);
    std::string box;
    ASSERT_TRUE(platform::runUntil(
        [&] {
            return !(box = run("xdotool", {"search", "--onlyvisible", "--name", "^Cool!$"}, env)).empty();
        },
        10000))
        << "no notice";
    if (x.managed()) {
        EXPECT_GT(x.stackedAt(box), x.stackedAt(cfg));
    }
    run("xdotool", {"mousemove", "--window", QString::fromStdString(box), "20", "20", "click", "1"}, env);
    run("xdotool", {"key", "Return"}, env);
    EXPECT_TRUE(platform::runUntil(
        [&] {
            return run("xdotool", {"search", "--onlyvisible", "--name", "^Cool!$"}, env).empty();
        },
        5000))
        << "the notice did not take the click";
    // SIGTERM ends the program the way a closed window does.
    app.p.terminate();
    EXPECT_TRUE(app.p.waitForFinished(10000));
    EXPECT_EQ(app.p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.p.exitCode(), 0);
}

// With "always stay in the foreground" on, the troubleshooting window opens
// in front of the main window; closing with a file under way asks first, in
// front too, and "Stop and quit" ends the program with the file kept for the
// next start.
TEST(RealWindowUnderXvfb, OnTopTheTroubleshootingWindowAndTheCloseQuestionComeToTheFront) {
    for (const char* tool : {"Xvfb", "xdotool", "openbox", "xprop"})
        if (QStandardPaths::findExecutable(tool).isEmpty()) GTEST_SKIP() << tool << " is not installed";
    testsupport::TempDir config, work;
    testpeers::HttpPeer site; // takes the request and never answers: the file stays under way
    ASSERT_TRUE(site.start());
    site.hang("/pub/Kept.mp3");
    const std::string url = site.url("/pub/Kept.mp3");
    testsupport::writeFile(config.file("wavbin.Ini"),
                           "[Settings]\npath=cutftp32\nverify=0\n[Links]\n0=127.0.0.1:9/r?q=\n");
    testsupport::writeFile(config.file("wavbin"), "[cfg]\nGuideshow_Checked=False\nontop_Checked=True\n"
                                                  "[items]\nNormPos=0,0,900,600\n");
    XSession x;
    ASSERT_TRUE(x.start(config)) << x.problem;
    ASSERT_TRUE(x.managed());
    const QProcessEnvironment& env = x.env;
    Child app;
    app.startWavetrap(env, work.path());
    ASSERT_TRUE(app.p.waitForStarted());
    const std::string main = x.window("^Wavetrap 98$");
    ASSERT_FALSE(main.empty()) << "the window did not appear";
    const QString w = QString::fromStdString(main);
    // The start-up sequence puts the window on top; then a click on "Help"
    // in the menu bar, and its second item.
    ASSERT_TRUE(platform::runUntil(
        [&] {
            return run("xprop", {"-id", w, "_NET_WM_STATE"}, env).find("_NET_WM_STATE_ABOVE") !=
                   std::string::npos;
        },
        10000));
    run("timeout", {"10", "xdotool", "windowactivate", "--sync", w}, env);
    std::string help;
    for (int attempt = 0; attempt < 4 && help.empty(); ++attempt) {
        run("xdotool", {"mousemove", "--window", w, "300", "28", "click", "1"}, env);
        platform::runUntil([] { return false; }, 300);
        run("xdotool", {"key", "Down", "Down", "Return"}, env); // the first item is the help
        help = x.window("^Help$", 3000);
    }
    ASSERT_FALSE(help.empty()) << "the troubleshooting window did not open";
    EXPECT_GT(x.stackedAt(help), x.stackedAt(main)) << "the troubleshooting window stands behind";
    // Clicked, the main window comes forward; asked again, the troubleshooting window too.
    run("xdotool", {"mousemove", "--window", w, "450", "300", "click", "1"}, env);
    run("xdotool", {"mousemove", "--window", w, "300", "28", "click", "1"}, env);
    platform::runUntil([] { return false; }, 300);
    run("xdotool", {"key", "Down", "Down", "Return"}, env); // the first item is the help
    EXPECT_TRUE(platform::runUntil([&] { return x.stackedAt(help) > x.stackedAt(main); }, 5000));

    // A file under way ("Get URL:"), then File > Exit: the question stands in front.
    run("timeout", {"10", "xdotool", "windowactivate", "--sync", w}, env);
    run("xdotool", {"mousemove", "--window", w, "500", "77", "click", "1"}, env);
    run("xdotool", {"type", "--delay", "10", QString::fromStdString(url)}, env);
    run("xdotool", {"key", "Return"}, env);
    run("xdotool", {"key", "alt+f", "Return"}, env);
    const std::string question = x.window("^Downloads under way$", 10000);
    ASSERT_FALSE(question.empty()) << "no question";
    EXPECT_GT(x.stackedAt(question), x.stackedAt(main));
    run("xdotool", {"key", "Escape"}, env); // keep downloading
    EXPECT_TRUE(platform::runUntil([&] { return x.window("^Downloads under way$", 200).empty(); }, 5000));
    EXPECT_EQ(app.p.state(), QProcess::Running);
    run("timeout", {"10", "xdotool", "windowactivate", "--sync", w}, env);
    run("xdotool", {"key", "alt+f", "Return"}, env);
    ASSERT_FALSE(x.window("^Downloads under way$", 10000).empty());
    run("xdotool", {"key", "alt+s"}, env); // "Stop and quit"
    ASSERT_TRUE(app.p.waitForFinished(10000));
    EXPECT_EQ(app.p.exitCode(), 0);
    EXPECT_NE(readFile(config.file("wavbin.Ini")).find(url), std::string::npos) << "the file is not kept";
}

} // namespace

// A new user's walk through the downloads window: a file the last run left
// pending is not on its site any more (it fails, with its reason); once the
// site has it again, the row is clicked and Retry fetches it into the music
// folder, and Open folder asks the desktop to show that folder.
TEST(RealWindowUnderXvfb, TheDownloadsWindowRetriesAFailedFileAndOpensItsFolder) {
    for (const char* tool : {"Xvfb", "xdotool", "openbox", "xprop"})
        if (QStandardPaths::findExecutable(tool).isEmpty()) GTEST_SKIP() << tool << " is not installed";
    testsupport::TempDir root, config, work, bin;
    ::mkdir(root.file("pub").c_str(), 0755);
    testpeers::FtpPeer ftp;
    testpeers::FtpPeerOptions o;
    o.host = "127.0.0.2";
    o.root = root.path();
    ASSERT_TRUE(ftp.start(o)) << ftp.output();
    const std::string url = "ftp://127.0.0.2:" + std::to_string(ftp.port()) + "/pub/Lost_Song.mp3";
    testsupport::writeFile(config.file("wavbin.Ini"),
                           "[Settings]\npath=cutftp32\nverify=0\n[Links]\n0=127.0.0.1:9/r?q=\n"
                           "[downloading]\ncount=1\n0=" +
                               url + "\n[downloadings]\ncount=1\n0=0\n");
    testsupport::writeFile(config.file("wavbin"),
                           "[cfg]\nGuideshow_Checked=False\n[items]\nNormPos=0,0,900,600\n");
    // The desktop's opener, as the window calls it: it writes down what it was asked to open.
    testsupport::writeFile(bin.file("xdg-open"), "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$0.asked\"\n");
    ::chmod(bin.file("xdg-open").c_str(), 0755);

    XSession x;
    ASSERT_TRUE(x.start(config)) << x.problem;
    QProcessEnvironment env = x.env;
    env.insert("PATH", QString::fromStdString(bin.path()) + ":" + env.value("PATH"));
    Child app;
    app.startWavetrap(env, work.path());
    const std::string main = x.window("^Wavetrap 98$");
    ASSERT_FALSE(main.empty()) << "the window did not appear";
    // The pending file goes back to its site at start and is not found there
    // (it leaves the pending list).
    ASSERT_TRUE(platform::runUntil(
        [&] {
            return readFile(config.file("wavbin.Ini")).find("[downloading]\ncount=0\n") != std::string::npos;
        },
        20000))
        << "the file was not tried: " << readFile(config.file("wavbin.Ini"));
    testsupport::writeFile(root.file("pub/Lost_Song.mp3"), content(7));

    // Windows -> Downloads (asked again every few seconds until the window is up).
    std::string downloads;
    QElapsedTimer sinceKeys;
    ASSERT_TRUE(platform::runUntil(
        [&] {
            if (!sinceKeys.isValid() || sinceKeys.elapsed() > 3000) {
                run("xdotool", {"windowactivate", "--sync", QString::fromStdString(main)}, env);
                run("xdotool", {"key", "--window", QString::fromStdString(main), "alt+w"}, env);
                run("xdotool", {"key", "Down", "Down", "Down", "Down", "Return"}, env);
                sinceKeys.start();
            }
            downloads = x.window("^Downloads$", 500);
            return !downloads.empty();
        },
        20000))
        << "the downloads window did not open";
    const QString d = QString::fromStdString(downloads);
    // A click on the failed row (the first, under the column titles), then on
    // Retry (bottom left of the window, 760 x 320 when it first opens); the
    // clicks are made again every few seconds in case the first came before
    // the window took input (a retry of a file under way does nothing).
    const std::string music = config.file("Music/Wavetrap");
    QElapsedTimer sinceClick;
    const auto clickedUntil = [&](const QString& buttonX, const std::function<bool()>& done) {
        return platform::runUntil(
            [&] {
                if (done()) return true;
                if (!sinceClick.isValid() || sinceClick.elapsed() > 3000) {
                    run("xdotool", {"mousemove", "--window", d, "80", "30", "click", "1"}, env);
                    run("xdotool", {"mousemove", "--window", d, buttonX, "283", "click", "1"}, env);
                    sinceClick.start();
                }
                return false;
            },
            20000);
    };
    ASSERT_TRUE(clickedUntil("40", [&] { return readFile(music + "/Lost_Song.mp3") == content(7); }))
        << "Retry did not fetch the file into " << music;
    EXPECT_TRUE(std::filesystem::is_empty(work.path()));
    // Open folder (bottom right): the desktop is asked to show the music folder.
    sinceClick.invalidate();
    ASSERT_TRUE(clickedUntil("715", [&] { return !readFile(bin.file("xdg-open.asked")).empty(); }))
        << "nothing was opened";
    EXPECT_NE(readFile(bin.file("xdg-open.asked")).find("Music/Wavetrap"), std::string::npos)
        << readFile(bin.file("xdg-open.asked"));
}
