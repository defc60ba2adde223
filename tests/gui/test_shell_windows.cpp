// The settings window, the download timer, the download log and the update
// check as the user reaches them from the main window's menus.

#include "gui/clockwindow.h"
#include "gui/guidewindow.h"
#include "gui/helpwindow.h"
#include "gui/logwindow.h"
#include "gui/settingswindow.h"
#include "peers/http_peers.h"
#include "peers/process.h"
#include "platform/profile.h"
#include "platform/system.h"
#include "window_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>

using guitest::WindowTest;

namespace {

void key(QWidget* w, int k) {
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, k, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QApplication::sendEvent(w, &release);
}

void press(QWidget* w, QPoint at) {
    QMouseEvent e(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

QMessageBox* messageBox(const QString& title) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible() && box->windowTitle() == title)
            return box;
    return nullptr;
}

} // namespace

TEST_F(WindowTest, EveryControlOfTheSettingsWindowSurvivesARestart) {
    {
        auto& w = open();
        menuItem("&Windows", "Configuration")->trigger();
        auto* s = w.findChild<gui::SettingsWindow*>();
        ASSERT_TRUE(s && s->isVisible());
        EXPECT_EQ(s->windowTitle(), ".cfg");
        // The window of old with the strip of the download settings below it.
        EXPECT_EQ(s->size(), QSize(448, 357 + 92));
        EXPECT_EQ(s->minimumSize(), s->maximumSize());
        EXPECT_TRUE(s->windowFlags() & Qt::WindowStaysOnTopHint);
        EXPECT_EQ(
            s->usecute()->toolTip().toStdString(),
            "Uses an external program to download files, so Wavetrap will not download if this option is "
            "selected");

        s->Edit1()->setText("new.test/find?q=");
        key(s->Edit1(), Qt::Key_Return);
        EXPECT_EQ(s->Edit1()->text(), "");
        ASSERT_EQ(s->startlinks()->count(), 8);
        EXPECT_EQ(s->startlinks()->item(7)->text(), "new.test/find?q=");
        s->startlinks()->setCurrentRow(0);
        key(s->startlinks(), Qt::Key_Delete);
        EXPECT_EQ(s->startlinks()->count(), 7);

        s->useproxy()->setChecked(true);
        s->proxynamein()->setText("proxy.invalid");
        s->proxyportin()->setText("8080");
        key(s->proxyportin(), Qt::Key_End); // a key released in the box copies the proxy
        EXPECT_EQ(w.core().settings.proxy.proxyname, "proxy.invalid");
        s->checkupdate()->setChecked(true);
        s->usecute()->setChecked(true);
        s->Guideshow()->setChecked(false);
        s->dfatime()->setValue(4);
        EXPECT_EQ(w.core().scheduler.dfatimer.Interval(), 700); // at once
        EXPECT_EQ(w.core().scheduler.ftpTls(), net::FtpTls::Off);
        s->ftptls()->setCurrentText("required");
        EXPECT_EQ(w.core().scheduler.ftpTls(), net::FtpTls::Explicit); // at once
        EXPECT_TRUE(s->rect().contains(s->ftptls()->geometry()));      // inside the fixed size
        for (QWidget* c :
             {static_cast<QWidget*>(s->downloadfolder()), static_cast<QWidget*>(s->chooseFolder()),
              static_cast<QWidget*>(s->limitrate()), static_cast<QWidget*>(s->verify())})
            EXPECT_TRUE(s->rect().contains(c->geometry())) << c->objectName().toStdString();
        // The download folder: the music folder's "Wavetrap" until one is chosen.
        EXPECT_TRUE(s->downloadfolder()->text().endsWith("/Wavetrap"));
        const QString chosen = QString::fromStdString(config.file("mp3s"));
        s->askFolder = [&](const QString&) { return chosen; };
        s->chooseFolder()->click();
        EXPECT_EQ(s->downloadfolder()->text(), chosen);
        EXPECT_EQ(s->folderMessage()->text(), "");
        EXPECT_TRUE(std::filesystem::is_directory(chosen.toStdString())); // made at once
        testsupport::writeFile(config.file("plain"), "x");
        s->askFolder = [&](const QString&) { return QString::fromStdString(config.file("plain")); };
        s->chooseFolder()->click();
        EXPECT_EQ(s->downloadfolder()->text(), chosen); // the usable one stays
        EXPECT_EQ(s->folderMessage()->text().toStdString(),
                  "The download folder \"" + config.file("plain") +
                      "\" is not a folder. Choose another in the settings.");
        EXPECT_EQ(s->limitrate()->specialValueText(), "No limit");
        s->limitrate()->setValue(300);
        EXPECT_TRUE(s->verify()->isChecked());
        s->verify()->setChecked(false);
        const WId before = w.winId();
        s->ontop()->setChecked(true);
        // The window stays the one the settings window stands on, which stays shown.
        EXPECT_EQ(w.winId(), before);
        EXPECT_TRUE(s->isVisible());
        EXPECT_TRUE(w.windowFlags() & Qt::WindowStaysOnTopHint);
        s->close();
        w.close();
    }
    window.reset();
    auto& w = open();
    menuItem("&Windows", "Configuration")->trigger();
    auto* s = w.findChild<gui::SettingsWindow*>();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->startlinks()->count(), 7);
    EXPECT_EQ(s->startlinks()->item(6)->text(), "new.test/find?q=");
    EXPECT_TRUE(s->useproxy()->isChecked());
    EXPECT_EQ(s->proxynamein()->text(), "proxy.invalid");
    EXPECT_EQ(s->proxyportin()->text(), "8080");
    EXPECT_TRUE(s->checkupdate()->isChecked());
    EXPECT_TRUE(s->usecute()->isChecked());
    EXPECT_FALSE(s->Guideshow()->isChecked());
    EXPECT_EQ(s->dfatime()->value(), 4);
    EXPECT_EQ(s->ftptls()->currentText(), "required");
    EXPECT_EQ(w.core().scheduler.ftpTls(), net::FtpTls::Explicit);
    EXPECT_EQ(s->downloadfolder()->text().toStdString(), config.file("mp3s"));
    EXPECT_EQ(s->limitrate()->value(), 300);
    EXPECT_FALSE(s->verify()->isChecked());
    EXPECT_TRUE(s->ontop()->isChecked());
    EXPECT_TRUE(w.windowFlags() & Qt::WindowStaysOnTopHint);
    // The update check of the start-up failed on the reserved default host, and says so.
    EXPECT_TRUE(platform::runUntil([&] { return w.statusText().startsWith("Update check failed"); }, 2000))
        << w.statusText().toStdString();
    EXPECT_TRUE(platform::runUntil([] { return messageBox("Wavetrap") != nullptr; }, 2000));
}

// A settings directory that cannot be written: the window opens all the
// same, says so once at start-up (status bar and message box) and not again
// at exit.
TEST_F(WindowTest, UnsavableSettingsAreSaidOnceAndTheWindowGoesOn) {
    const testsupport::ScopedEnv nowhere("WAVETRAP_CONFIG_DIR", "/dev/null/wavetrap");
    auto& w = open();
    const QString warning =
        "Warning: the settings cannot be saved: Unable to write to /dev/null/wavetrap/wavbin.Ini";
    EXPECT_EQ(w.statusText(), warning);
    ASSERT_TRUE(platform::runUntil([] { return messageBox("Wavetrap") != nullptr; }, 2000));
    EXPECT_EQ(messageBox("Wavetrap")->text(), warning);
    messageBox("Wavetrap")->close();
    w.core().statusLine("Searching 1 engine...");
    w.saveAll();
    EXPECT_EQ(w.statusText(), "Searching 1 engine...");
}

TEST_F(WindowTest, TheAlarmClockStartsTheDownloadAtThePlacedHour) {
    auto& w = open();
    int hour = 3;
    platform::setHourSource([&] { return hour; });
    menuItem("&Windows", "Download Timer")->trigger();
    auto* c = w.findChild<gui::ClockWindow*>();
    ASSERT_TRUE(c && c->isVisible());
    EXPECT_EQ(c->windowTitle(), "Alarm Clock");
    auto* image = c->findChild<QWidget*>("Image1");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->geometry(), QRect(0, 16, 233, 201));
    press(image, {160, 102});
    EXPECT_EQ(c->confirmation()->text(), "Connection scheduled for: 15:00 hours");
    EXPECT_EQ(c->canvas().pixelColor(140, 102), QColor(Qt::black));
    press(image, {109, 150}); // the old hand is erased in the face's colour
    EXPECT_EQ(c->canvas().pixelColor(140, 102), QColor(230, 228, 202));
    EXPECT_EQ(c->canvas().pixelColor(109, 130), QColor(Qt::black));
    press(c->ampmLabel(), {2, 2});
    EXPECT_EQ(c->ampmLabel()->text(), "am");
    EXPECT_EQ(c->confirmation()->text(), "Connection scheduled for: 6:00 hours"); // at once
    EXPECT_EQ(w.core().downloadTimer.hour(), 6);

    w.core().table.addlink("ftp://clock.test/pub/a.mp3");
    hour = 6;
    EXPECT_TRUE(platform::runUntil([&] { return !c->isVisible(); }, 3000));
    EXPECT_EQ(w.core().scheduler.slot(download::SlotCount).queueUrls,
              platform::StringList{"ftp://clock.test/pub/a.mp3"});
    platform::setHourSource({});
}

TEST_F(WindowTest, TheLogRestartsSelectedEntriesAndClears) {
    auto& w = open();
    for (const char* f : {"a", "b", "c"})
        w.core().downloadLog.append(std::string("ftp://log.test/pub/") + f + ".mp3");
    menuItem("&Windows", "Log")->trigger();
    auto* l = w.findChild<gui::LogWindow*>();
    ASSERT_TRUE(l && l->isVisible());
    EXPECT_EQ(l->windowTitle(), "Log");
    EXPECT_EQ(l->size(), QSize(426, 267));
    auto* list = l->list();
    ASSERT_EQ(list->model()->rowCount(), 3);
    list->selectionModel()->select(list->model()->index(2, 0), QItemSelectionModel::Select);
    list->selectionModel()->select(list->model()->index(0, 0), QItemSelectionModel::Select);
    emit list->doubleClicked(list->model()->index(0, 0));
    EXPECT_EQ(w.core().scheduler.slot(download::SlotCount).queueUrls,
              (platform::StringList{"ftp://log.test/pub/a.mp3", "ftp://log.test/pub/c.mp3"}));
    l->clearButton()->click();
    EXPECT_EQ(list->model()->rowCount(), 0);
}

TEST_F(WindowTest, TheUpdateCheckFromTheHelpMenu) {
    testpeers::HttpPeer peer;
    ASSERT_TRUE(peer.start());
    peer.raw("/~jorun/update.txt", "HTTP/1.0 200 OK\n\n--:kill\n--:upd.test/?q=\n--MESSAGE Fresh engines\n");
    auto& w = open();
    w.core().mainStorage.updateIP_Caption = peer.hostPort();
    menuItem("&Help", "Check for updates to search engines && Wavetrap")->trigger();
    ASSERT_TRUE(platform::runUntil([] { return messageBox("Cool!") != nullptr; }, 5000));
    EXPECT_EQ(messageBox("Cool!")->text(), " Fresh engines");
    EXPECT_EQ(w.core().startlinks.Items(), platform::StringList{"upd.test/?q="});
    messageBox("Cool!")->close();

    // With the settings window open (kept in front), a notice stands on it and
    // holds up no window. A refused check says so in the status bar.
    menuItem("&Windows", "Configuration")->trigger();
    peer.raw("/~jorun/update.txt", "HTTP/1.0 200 OK\n\n--MESSAGE Again\n");
    menuItem("&Help", "Check for updates to search engines && Wavetrap")->trigger();
    ASSERT_TRUE(platform::runUntil([] { return messageBox("Cool!") != nullptr; }, 5000));
    EXPECT_EQ(messageBox("Cool!")->parentWidget(), w.settingsWindow());
    EXPECT_TRUE(messageBox("Cool!")->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(messageBox("Cool!")->windowModality(), Qt::NonModal);
    const testpeers::ClosedPort closed;
    w.core().mainStorage.updateIP_Caption = "127.0.0.1:" + std::to_string(closed.port());
    menuItem("&Help", "Check for updates to search engines && Wavetrap")->trigger();
    EXPECT_TRUE(platform::runUntil([&] { return w.statusText().startsWith("Update check failed"); }, 5000))
        << w.statusText().toStdString();
}

// Escape closes the settings window as any dialog (its options are kept); the
// Views button says what it does; the help and the guide tell of http(s).
TEST_F(WindowTest, EscapeClosesTheSettingsWindowAndTheTextsSayWhatTheProgramDoes) {
    auto& w = open();
    for (const char* target : {"Edit1", "startlinks", "ftptls", "Form4"}) {
        SCOPED_TRACE(target);
        menuItem("&Windows", "Configuration")->trigger();
        auto* s = w.settingsWindow();
        ASSERT_TRUE(s->isVisible());
        s->checkupdate()->setChecked(std::string(target) != "ftptls");
        QWidget* to = s->objectName() == target ? s : s->findChild<QWidget*>(target);
        ASSERT_TRUE(to);
        key(to, Qt::Key_Escape);
        EXPECT_FALSE(s->isVisible());
        EXPECT_EQ(platform::TIniFile(config.file("wavbin")).ReadString("cfg", "checkupdate_Checked", ""),
                  std::string(target) != "ftptls" ? "True" : "False");
    }

    EXPECT_EQ(w.toolBar()->viewsButton()->toolTip().toStdString(), gui::ViewsHint);
    QString help;
    for (const auto* page : w.help()->findChildren<QPlainTextEdit*>())
        help += page->toPlainText();
    const QString guide = w.guide()->findChild<QPlainTextEdit*>("Memo1")->toPlainText();
    for (const QString& text : {help, guide}) {
        EXPECT_TRUE(text.contains("http:// and https:// links")) << text.toStdString();
        EXPECT_TRUE(text.contains("ftp://, http:// or https://")) << text.toStdString();
    }
}
