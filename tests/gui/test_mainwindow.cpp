// The main window's frame: start-up, menus, toolbar, the header and shut-down.

#include "gui/guidewindow.h"
#include "gui/settingswindow.h"
#include "window_fixture.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QToolBar>
#include <QToolButton>

using guitest::WindowTest;

TEST_F(WindowTest, FirstRunFillsTheEnginesOpensTheGuideAndTicksAt100ms) {
    auto& w = open();
    EXPECT_EQ(w.windowTitle(), "Wavetrap 98");
    EXPECT_EQ(w.core().startlinks.Count(), 7);
    EXPECT_TRUE(w.guide()->isVisible());
    EXPECT_EQ(w.core().scheduler.dfatimer.Interval(), 100);
    EXPECT_TRUE(w.core().scheduler.dfatimer.Enabled());
    EXPECT_EQ(w.statusText(), "Status");
    EXPECT_EQ(w.views().mode(), shell::MainViews::AllResults);
    EXPECT_FALSE(w.progressBar()->isVisibleTo(&w));
    EXPECT_FALSE(w.cancelButton()->isVisibleTo(&w));
    EXPECT_EQ(w.toolBar()->height(), 57);
    EXPECT_EQ(w.progressBar()->maximum(), 150);
    EXPECT_EQ(w.focusWidget(), w.searchBox());
    // White with black text while it has the focus.
    EXPECT_EQ(w.searchBox()->lineEdit()->palette().color(QPalette::Base), QColor(Qt::white));
}

TEST_F(WindowTest, MenusCarryTheirCaptions) {
    open();
    const std::vector<std::pair<QString, QStringList>> menus = {
        {"&File", {"&Exit"}},
        {"&Reset", {"All files", "&Statistics"}},
        {"&Windows", {"Download Timer", "Configuration", "Details", "Log"}},
        {"Links", {"&Download Files", "Save to list", "More from this site"}},
        {"&Help",
         {"Wavetrap &Help", "Wavetrap Troubleshooting", "Check for updates to search engines && Wavetrap"}},
    };
    for (const auto& [menu, items] : menus)
        for (const auto& item : items)
            EXPECT_NE(menuItem(menu, item), nullptr) << menu.toStdString() << " > " << item.toStdString();
    EXPECT_NE(menuItem("Web Pages", "Norvane"), nullptr);
}

TEST_F(WindowTest, ClosingSavesTheToolbarEdgeAndTheGuideButtonTurnsTheGuideOff) {
    {
        auto& w = open();
        // Where the screen has room, the guide stands beside the window, not over its search box.
        w.guide()->hide();
        w.setGeometry(0, 0, 300, 300);
        w.showGuide();
        EXPECT_FALSE(w.guide()->frameGeometry().intersects(w.frameGeometry()));
        EXPECT_FALSE(w.guide()->windowFlags() & Qt::WindowStaysOnTopHint);
        // The settings window opened and closed before: its options were saved then.
        menuItem("&Windows", "Configuration")->trigger();
        w.settingsWindow()->close();
        w.addToolBar(Qt::BottomToolBarArea, w.toolBar());
        w.guide()->findChild<QToolButton*>("Button1")->click();
        EXPECT_FALSE(w.guide()->isVisible());
        menuItem("&Windows", "Configuration")->trigger();
        EXPECT_FALSE(w.settingsWindow()->Guideshow()->isChecked());
        w.close();
    }
    window.reset();
    auto& w = open();
    EXPECT_EQ(w.toolBarArea(w.toolBar()), Qt::BottomToolBarArea);
    EXPECT_FALSE(w.guide()->isVisible());
}

TEST_F(WindowTest, TheHttpLinksItemTurnsTheSettingOnAndItIsSaved) {
    {
        auto& w = open();
        QAction* item = menuItem("Links", gui::HttpLinksCaption);
        ASSERT_NE(item, nullptr);
        EXPECT_FALSE(item->isChecked());
        item->trigger();
        EXPECT_TRUE(w.core().settings.httplinks);
        w.core().extractor.compileClick("\"https://h.example/a.mp3\"");
        EXPECT_EQ(w.core().table.linklist, platform::StringList{"https://h.example/a.mp3"});
        w.close();
    }
    window.reset();
    open();
    EXPECT_TRUE(menuItem("Links", gui::HttpLinksCaption)->isChecked());
}

TEST_F(WindowTest, AtSixHundredPixelsTheSearchControlsStayOnTheToolbarAndTheBoxesStayReadable) {
    auto& w = open();
    w.resize(600, 400);
    w.core().dispatch.search.Text = "night";
    w.core().startlinks.Clear();
    w.core().startlinks.addengine("127.0.0.1:9/a?q=");
    w.core().dispatch.Start_search_butClick(); // Cancel shows while it runs
    w.searchBox()->setFocus();
    QApplication::processEvents();
    for (const char* name : {"search", "RxSpeedButton2", "b1", "cancelbut"}) {
        auto* c = w.toolBar()->findChild<QWidget*>(name);
        ASSERT_TRUE(c) << name;
        EXPECT_TRUE(c->isVisible()) << name;
        EXPECT_TRUE(w.toolBar()->rect().contains(c->mapTo(w.toolBar(), c->rect().bottomRight()))) << name;
    }
    w.manualAddBox()->setFocus();
    QApplication::processEvents();
    const QPalette p = w.searchBox()->lineEdit()->palette();
    EXPECT_EQ(p.color(QPalette::Text), QColor(Qt::black)); // not silver on the button face
    EXPECT_EQ(w.manualAddBox()->view()->textElideMode(), Qt::ElideLeft);
}
