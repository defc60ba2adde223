// The commands that open the windows of their own files: the settings window,
// the download timer, the download log, and the update check.

#include "gui/clockwindow.h"
#include "gui/listmodel.h"
#include "gui/logwindow.h"
#include "gui/mainwindow.h"
#include "gui/messagebox.h"
#include "gui/settingswindow.h"

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
        const std::string line = core_->updateReport(outcome).statusLine();
        if (!line.empty()) setStatusText(line);
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
    if (const auto report = core_->checkForUpdates()) showUpdateReport(*report);
}

void MainWindow::showUpdateReport(const shell::UpdateReport& report) {
    setStatusText(report.statusLine());
    // One that could not start holds up the user: a message box says why.
    if (report.result == shell::UpdateReport::NotStarted) showError(toQt(report.text));
}

} // namespace gui
