// The commands that open the windows of their own files: the settings window,
// the download timer, the download log, and the update check. Until those
// windows exist, the commands do nothing.

#include "gui/mainwindow.h"

namespace gui {

void MainWindow::showSettings() {}
void MainWindow::showAlarmClock() {}
void MainWindow::showLog() {}
void MainWindow::checkForUpdate() {}

} // namespace gui
