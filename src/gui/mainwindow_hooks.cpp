// The commands that open the windows of their own files: the settings window,
// the download timer, the download log, and the update check.

#include "gui/clockwindow.h"
#include "gui/listmodel.h"
#include "gui/logwindow.h"
#include "gui/mainwindow.h"
#include "gui/messagebox.h"
#include "gui/settingswindow.h"
#include "net/wsocket.h"

namespace gui {

void MainWindow::wireShellWindows() {
    auto& w = *core_;
    w.cfg.ShowFileDialog = [this](std::string& fileName) {
        return SettingsWindow::manualfind(this, fileName);
    };
    w.downloadTimer.haulfiles.connect(receiver_, [this] { haulfilesClick(); });
    // The notices of the update file; they hold up nothing, so the downloads go on.
    w.updatecheck.OnMessage.connect(receiver_, [this](const std::string& caption, const std::string& text) {
        showMessageBox(this, QMessageBox::NoIcon, toQt(caption), toQt(text));
    });
    w.updatecheck.OnFinished.connect(receiver_, [this](shell::UpdateOutcome outcome) {
        const auto& u = core_->updatecheck;
        switch (outcome) {
        case shell::UpdateOutcome::Applied:
            setStatusText(QString("Update check done"));
            break;
        case shell::UpdateOutcome::NoReply:
            setStatusText(
                "Update check failed: no answer from " + toQt(core_->mainStorage.updateIP_Caption) +
                (u.connectError() ? " (" + toQt(net::WSocketErrorDesc(u.connectError())) + ")" : QString()));
            break;
        case shell::UpdateOutcome::TooLarge:
            setStatusText(QString("Update check failed: the update file is too large; nothing was applied"));
            break;
        case shell::UpdateOutcome::Cancelled:
            break;
        }
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
        setStatusText("Update check failed: " + toQt(e.what()));
        showError(QString::fromStdString(e.what()));
    }
}

} // namespace gui
