// The downloads window over a real run: a file whose site cannot be reached
// shows as failed with its reason, the title and the status bar carry the
// totals while it runs, and the buttons act on the selected row.

#include "gui/downloadswindow.h"
#include "window_fixture.h"

#include <QAbstractItemModel>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTcpServer>
#include <QTreeView>

namespace {

using guitest::WindowTest;

QString cellOf(QAbstractItemModel* m, const QString& url, int col) {
    for (int r = 0; r < m->rowCount(); ++r)
        if (m->index(r, shell::DownloadsList::ColUrl).data().toString() == url)
            return m->index(r, col).data().toString();
    return {};
}

TEST_F(WindowTest, AFailedFileShowsWithItsReasonAndTheButtonsActOnIt) {
    auto& w = open();
    QAction* item = menuItem("&Windows", "Downloads");
    ASSERT_TRUE(item);
    item->trigger();
    auto* d = w.downloadsWindow();
    ASSERT_TRUE(d && d->isVisible());
    EXPECT_EQ(d->windowTitle(), "Downloads");
    auto* m = d->view()->model();
    QStringList headers;
    for (int c = 0; c < m->columnCount(); ++c)
        headers << m->headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(headers, (QStringList{"File", "State", "Detail", "Site", "URL"}));

    const QString url = "ftp://nosuch.invalid/pub/Lost_Song.mp3";
    w.core().scheduler.launchftp(w.core().urlinfo.info(url.toStdString()));
    ASSERT_TRUE(
        platform::runUntil([&] { return cellOf(m, url, shell::DownloadsList::ColState) == "Failed"; }, 20000))
        << cellOf(m, url, shell::DownloadsList::ColState).toStdString();
    const QString reason = cellOf(m, url, shell::DownloadsList::ColDetail);
    EXPECT_TRUE(reason.startsWith("site given up: ")) << reason.toStdString();
    EXPECT_TRUE(reason.endsWith("; kept for a later start")) << reason.toStdString();
    EXPECT_EQ(cellOf(m, url, shell::DownloadsList::ColFile), "Lost_Song.mp3");
    EXPECT_EQ(cellOf(m, url, shell::DownloadsList::ColSite), "nosuch.invalid");

    // Selected in the view: Retry is offered, Open file is not; Open folder opens the download folder.
    EXPECT_FALSE(d->retryButton()->isEnabled());
    d->view()->selectionModel()->select(m->index(0, 0),
                                        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    EXPECT_TRUE(d->retryButton()->isEnabled());
    EXPECT_TRUE(d->removeButton()->isEnabled());
    EXPECT_FALSE(d->openFileButton()->isEnabled());
    std::vector<QUrl> opened;
    d->openUrl = [&](const QUrl& u) {
        opened.push_back(u);
        return true;
    };
    d->openFileClick();
    EXPECT_EQ(d->message(), "Lost_Song.mp3 has not arrived yet.");
    d->openFolderButton()->click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(desktop.file("Music/Wavetrap"))));

    // Retry puts it on a slot again; Remove takes it out of the list and the pending list.
    d->retryButton()->click();
    EXPECT_EQ(d->message(), "1 file is tried again.");
    ASSERT_TRUE(platform::runUntil([&] { return cellOf(m, url, shell::DownloadsList::ColState) == "Failed"; },
                                   20000));
    d->view()->selectionModel()->select(m->index(0, 0),
                                        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    d->removeButton()->click();
    EXPECT_EQ(m->rowCount(), 0);
    EXPECT_TRUE(w.core().pending.downloading.empty());
}

TEST_F(WindowTest, TheTitleAndTheStatusBarTellTheTotalsWhileAFileRuns) {
    auto& w = open();
    // A site that takes the connection and never says a word: the file stays on its slot.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress("127.0.0.1"), 0));
    const std::string url = "ftp://127.0.0.1:" + std::to_string(silent.serverPort()) + "/pub/Quiet.mp3";
    w.core().scheduler.launchftp(w.core().urlinfo.info(url));
    ASSERT_TRUE(platform::runUntil([&] { return w.windowTitle() != gui::WindowCaption; }, 5000));
    EXPECT_EQ(w.windowTitle(), QString::fromUtf8("Wavetrap \u2014 0 of 1"));
    EXPECT_EQ(w.totalsText(), "0 of 1 files, 0 B");
    // Stopped: the queue is idle, the caption comes back and the totals go.
    w.core().scheduler.stop(14);
    ASSERT_TRUE(platform::runUntil([&] { return w.windowTitle() == gui::WindowCaption; }, 5000));
    EXPECT_EQ(w.totalsText(), "");
}

TEST_F(WindowTest, ADownloadFolderThatCannotTakeFilesIsSaidAndNothingStarts) {
    auto& w = open();
    // The default: "Wavetrap" in the desktop's music folder (the fixture's own).
    EXPECT_EQ(w.core().settings.downloadfolder, desktop.file("Music") + "/Wavetrap");
    const std::string notAFolder = work.file("not-a-folder");
    testsupport::writeFile(notAFolder, "x");
    w.core().settings.downloadfolder = notAFolder;
    w.manualAddBox()->setEditText("ftp://127.0.0.1:2001/pub/a.mp3");
    w.ManualaddKeyDown();
    const QString said = QString::fromStdString("The download folder \"" + notAFolder +
                                                "\" is not a folder. Choose another in the settings.");
    EXPECT_EQ(w.statusText(), said);
    EXPECT_TRUE(w.core().scheduler.idle());
    EXPECT_TRUE(w.core().pending.downloading.empty());
    QMessageBox* box = nullptr;
    ASSERT_TRUE(platform::runUntil(
        [&] {
            for (QWidget* t : QApplication::topLevelWidgets())
                if (auto* b = qobject_cast<QMessageBox*>(t); b && b->isVisible() && b->text() == said)
                    box = b;
            return box != nullptr;
        },
        2000));
    box->close();

    // A usable folder (made when missing): the file goes to the scheduler.
    w.core().settings.downloadfolder = work.file("Music/Wavetrap");
    w.ManualaddKeyDown();
    EXPECT_FALSE(w.core().scheduler.idle());
    EXPECT_TRUE(std::filesystem::is_directory(work.file("Music/Wavetrap")));
    w.core().scheduler.stop(14);
}

} // namespace
