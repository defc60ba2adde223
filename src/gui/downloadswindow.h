#pragma once
// The downloads window (TDownloads): every file the program knows of in this
// run and those left pending by the last, with its state and why, and the
// actions on the selected ones: Retry, Remove, Open file, Open folder. It
// renders shell::DownloadsList and forwards the buttons to it.

#include "shell/downloads.h"

#include <QUrl>
#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;
class QTreeView;

namespace gui {

class ListViewModel;

class DownloadsWindow : public QWidget {
    Q_OBJECT
public:
    DownloadsWindow(shell::DownloadsList& downloads, QWidget* parent = nullptr);

    void showDownloads();

    // Opens a file or a folder with the desktop's program for it
    // (QDesktopServices); the tests put their own here.
    std::function<bool(const QUrl&)> openUrl;
    // Asked before Retry hands files to the scheduler (the download folder can take them).
    std::function<bool()> mayStart;

    QTreeView* view() const { return view_; }
    QPushButton* retryButton() const { return retry_; }
    QPushButton* removeButton() const { return remove_; }
    QPushButton* openFileButton() const { return openFile_; }
    QPushButton* openFolderButton() const { return openFolder_; }
    QString message() const;

    void retryClick();
    void removeClick();
    void openFileClick();
    void openFolderClick();

private:
    void say(const std::string& text);
    void updateButtons();

    shell::DownloadsList& downloads_;
    ListViewModel* model_;
    QTreeView* view_;
    QPushButton* retry_;
    QPushButton* remove_;
    QPushButton* openFile_;
    QPushButton* openFolder_;
    QLabel* message_;
};

} // namespace gui
