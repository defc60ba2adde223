#pragma once
// A main window on a settings directory and a working directory of its own.

#include "gui/mainwindow.h"
#include "gui/searchbar.h"
#include "gui/statuspage.h"
#include "platform/eventloop.h"
#include "support/tempdir.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QToolButton>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace guitest {

class WindowTest : public ::testing::Test {
protected:
    testsupport::TempDir config;
    testsupport::TempDir work;
    std::unique_ptr<testsupport::ScopedEnv> env;
    // The desktop's music folder (the default download folder) lies in the
    // test's own directory, never in the home folder of whoever runs the tests.
    testsupport::TempDir desktop;
    std::unique_ptr<testsupport::ScopedEnv> xdgConfig;
    std::unique_ptr<gui::MainWindow> window;
    std::string oldCwd;

    void SetUp() override {
        env = std::make_unique<testsupport::ScopedEnv>("WAVETRAP_CONFIG_DIR", config.path());
        testsupport::writeFile(desktop.file("user-dirs.dirs"),
                               "XDG_MUSIC_DIR=\"" + desktop.file("Music") + "\"\n");
        xdgConfig = std::make_unique<testsupport::ScopedEnv>("XDG_CONFIG_HOME", desktop.path());
        // The window's default download folder (Music/Wavetrap) is the test's
        // working directory, where the tests look for the files.
        std::filesystem::create_directories(desktop.file("Music"));
        std::filesystem::create_directory_symlink(work.path(), desktop.file("Music/Wavetrap"));
        char* cwd = ::getcwd(nullptr, 0);
        oldCwd = cwd ? cwd : "/";
        std::free(cwd);
        ASSERT_EQ(::chdir(work.path().c_str()), 0);
    }
    void TearDown() override {
        window.reset();
        (void)::chdir(oldCwd.c_str());
    }
    // Opens the window and waits for the start-up sequence.
    gui::MainWindow& open() {
        window = std::make_unique<gui::MainWindow>();
        window->show();
        EXPECT_TRUE(platform::runUntil([&] { return window->startupDone(); }, 5000));
        return *window;
    }
    // The action of a menu path such as {"&Windows", "Details"}.
    QAction* menuItem(const QString& menu, const QString& item) {
        for (QMenuBar* bar : window->findChildren<QMenuBar*>())
            for (QAction* m : bar->actions())
                if (m->text() == menu && m->menu())
                    for (QAction* a : m->menu()->actions())
                        if (a->text() == item) return a;
        return nullptr;
    }
};

} // namespace guitest
