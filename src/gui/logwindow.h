#pragma once
// The download log window ("Log", TLog): the URL of every transfer started,
// several selectable at once; a double-click fetches the selected ones again,
// "Clear Log" empties the list. It renders shell::DownloadLog.

#include "shell/download_log.h"

#include <QWidget>

class QListView;
class QToolButton;

namespace gui {

class ListViewModel;

class LogWindow : public QWidget {
    Q_OBJECT
public:
    LogWindow(shell::DownloadLog& log, QWidget* parent = nullptr);

    static constexpr int ClientWidth = 426, ClientHeight = 267, ListHeight = 233;

    // ShowLog1Click: restores the stored list (once a run) and placement, shows.
    void showLog();
    QListView* list() const { return dllog_; }
    QToolButton* clearButton() const { return clear_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    shell::DownloadLog& log_;
    ListViewModel* model_;
    QListView* dllog_;
    QToolButton* clear_;
};

} // namespace gui
