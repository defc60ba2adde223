// The commands that open the windows of their own files: the settings window,
// the download timer, the download log, and the update check.

#include "gui/clockwindow.h"
#include "gui/logwindow.h"
#include "gui/mainwindow.h"
#include "gui/settingswindow.h"

#include <QMessageBox>

namespace gui {

namespace {

// A notice of the update file, with an OK button; it does not hold up the
// event loop, so the downloads go on while it is open.
void notice(QWidget* parent, const std::string& caption, const std::string& text) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, QString::fromStdString(caption),
                                QString::fromStdString(text), QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

} // namespace

void MainWindow::wireShellWindows() {
    auto& w = *core_;
    w.cfg.ShowFileDialog = [this](std::string& fileName) {
        return SettingsWindow::manualfind(this, fileName);
    };
    w.downloadTimer.haulfiles.connect(receiver_, [this] { haulfilesClick(); });
    w.updatecheck.OnMessage.connect(receiver_, [this](const std::string& caption, const std::string& text) {
        notice(this, caption, text);
    });
}

void MainWindow::showSettings() {
    Form4_->showSettings();
}

void MainWindow::showAlarmClock() {
    Form3_->show();
    Form3_->raise();
}

void MainWindow::showLog() {
    Log_->showLog();
}

void MainWindow::checkForUpdate() {
    try {
        core_->updatecheck.Checkforupdatestosearchengines1Click();
    } catch (const net::ESocketException& e) {
        showError(QString::fromStdString(e.what()));
    }
}

} // namespace gui
