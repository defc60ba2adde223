// The road in the window against local servers: a phrase and Enter, the rows
// arriving, a double-click, the status view, the file as the site has it; and
// a running download cancelled from the status view.

#include "download/ftp_slot_session.h"
#include "peers/ftp_peer.h"
#include "peers/http_peers.h"
#include "shell/download_notices.h"
#include "window_fixture.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTreeView>
#include <sys/stat.h>

using guitest::WindowTest;
using testsupport::readFile;

namespace {

std::string content(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return s;
}

class WindowRoad : public WindowTest {
protected:
    testsupport::TempDir root;
    testpeers::FtpPeer ftp;
    testpeers::HttpPeer engine;

    void SetUp() override {
        WindowTest::SetUp();
        ::mkdir((root.path() + "/pub").c_str(), 0755);
        testsupport::writeFile(root.file("pub/Night_Music.mp3"), content(300000));
        testsupport::writeFile(root.file("pub/Long_Night.mp3"), content(3000000));
    }
    void startServers(int rateLimit) {
        testpeers::FtpPeerOptions o;
        o.host = "127.0.0.2";
        o.root = root.path();
        o.rateLimit = rateLimit;
        ASSERT_TRUE(ftp.start(o)) << ftp.output();
        ASSERT_TRUE(engine.start("127.0.0.1"));
        engine.serve("/results.html?q=night+music", "<a href=\"" + url("Night_Music.mp3") +
                                                        "\">a</a> <a href=\"" + url("Long_Night.mp3") +
                                                        "\">b</a>");
        testsupport::writeFile(config.file("wavbin.Ini"), "[Settings]\npath=cutftp32\nverify=0\n[Links]\n0=" +
                                                              engine.hostPort() + "/results.html?q=\n");
    }
    std::string url(const std::string& name) const {
        return "ftp://127.0.0.2:" + std::to_string(ftp.port()) + "/pub/" + name;
    }
    // Rows of the shown status view whose Site cell is the FTP site.
    int busyRow(gui::MainWindow& w) const {
        auto* m = w.statusView()->model();
        for (int r = 0; r < m->rowCount(); ++r)
            if (m->index(r, 1).data().toString() == "127.0.0.2") return r;
        return -1;
    }
};

TEST_F(WindowRoad, PhraseEnterRowsDoubleClickStatusViewAndTheFileAsTheSiteHasIt) {
    startServers(0);
    auto& w = open();
    std::vector<shell::Notice> notices;
    w.downloadNotices().notice.connect([&](const shell::Notice& n) { notices.push_back(n); });
    w.searchBox()->setEditText("night music");
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(w.searchBox(), &enter);       // the combo box holds the focus for its line edit
    EXPECT_EQ(w.searchBox()->itemText(0), "night music"); // one search: the box now reads night+music
    ASSERT_TRUE(platform::runUntil([&] { return w.resultView()->model()->rowCount() == 2; }, 10000));
    ASSERT_TRUE(platform::runUntil([&] { return !w.cancelButton()->isVisibleTo(&w); }, 10000));
    EXPECT_TRUE(
        w.resultView()->viewport()->updatesEnabled()); // the search's last rows are drawn when it ends

    auto* list = w.resultView();
    const QModelIndex night = list->model()->index(0, 0).data().toString() == "Night Music.mp3"
                                  ? list->model()->index(0, 0)
                                  : list->model()->index(1, 0);
    list->selectionModel()->select(night, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    emit list->doubleClicked(night);
    EXPECT_EQ(w.pages()->currentWidget(), w.statusView());
    EXPECT_EQ(w.core().table.List.SelCount(), 1);
    ASSERT_TRUE(
        platform::runUntil([&] { return readFile(work.file("Night_Music.mp3")) == content(300000); }, 20000))
        << w.statusText().toStdString();
    EXPECT_TRUE(readFile(work.file("Night_Music.mp3")) == content(300000));
    EXPECT_FALSE(std::filesystem::exists(work.file("Long_Night.mp3")));
    // The queue ran dry: the desktop is told.
    ASSERT_TRUE(platform::runUntil([&] { return !notices.empty(); }, 10000));
    EXPECT_EQ(notices.back().kind, shell::Notice::QueueDone);
    EXPECT_EQ(notices.back().body, "1 file fetched");
}

TEST_F(WindowRoad, TheStatusViewShowsProgressAndCancelsTheSelectedSlot) {
    startServers(60000);
    auto& w = open();
    w.manualAddBox()->setEditText(QString::fromStdString(url("Long_Night.mp3")));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(w.manualAddBox()->lineEdit(), &enter);
    w.displayMenu()->actions().at(2)->trigger(); // "Display download status"
    int row = -1;
    ASSERT_TRUE(platform::runUntil(
        [&] {
            row = busyRow(w);
            // Bytes arrived: "<n>KB done" (no size known) or "<n>%".
            return row >= 0 && !w.statusView()->model()->index(row, 4).data().toString().isEmpty();
        },
        20000))
        << row << " "
        << (row >= 0 ? w.statusView()->model()->index(row, 4).data().toString().toStdString() : "") << " "
        << w.statusText().toStdString();
    EXPECT_EQ(w.statusView()->model()->index(row, 5).data().toString(), "Long_Night.mp3");
    // Bytes are arriving: the State column says what the scheduler calls the
    // row's state (a transfer asked for or under way), and it and the Progress
    // column are wide enough to say so.
    const QString state = w.statusView()->model()->index(row, 3).data().toString();
    const int number = w.statusView()->model()->index(row, 2).data().toString().toInt();
    EXPECT_EQ(state.toStdString(), "Downloading"); // as the command line says it
    EXPECT_TRUE(number == 4 || number == 5 || number == 10) << number;
    const QFontMetrics fm(w.statusView()->font());
    for (int column : {3, 4})
        EXPECT_GT(w.statusView()->columnWidth(column),
                  fm.horizontalAdvance(w.statusView()->model()->index(row, column).data().toString()));
    w.statusView()->selectionModel()->select(w.statusView()->model()->index(row, 0),
                                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    w.downloadMenu()->actions().at(0)->trigger(); // "Cancel Download"
    EXPECT_TRUE(platform::runUntil(
        [&] { return w.statusView()->model()->index(row, 3).data().toString() == "Not connected"; }, 5000));
    EXPECT_EQ(w.statusView()->model()->index(row, 1).data().toString(), "");
    EXPECT_TRUE(w.statusText().startsWith("Stopped by you: ")) << w.statusText().toStdString();
}

// Three downloads left pending by the last run are taken from the stored list
// by the start-up sequence and arrive whole.
TEST_F(WindowRoad, StartUpResumesThreePendingDownloads) {
    startServers(0);
    testsupport::writeFile(root.file("pub/Dawn.mp3"), content(120000));
    const std::vector<std::string> names = {"Night_Music.mp3", "Long_Night.mp3", "Dawn.mp3"};
    std::string ini = "[Settings]\npath=cutftp32\n[downloading]\ncount=3\n";
    for (int i = 0; i < 3; ++i)
        ini += std::to_string(i) + "=" + url(names[static_cast<std::size_t>(i)]) + "\n";
    ini += "[downloadings]\ncount=3\n0=0\n1=0\n2=0\n";
    testsupport::writeFile(config.file("wavbin.Ini"), ini);
    auto& w = open();
    for (const auto& n : names)
        EXPECT_TRUE(platform::runUntil(
            [&] { return readFile(work.file(n)) == readFile(root.file("pub/" + n)); }, 30000))
            << n << ": " << w.statusText().toStdString();
    // Pending until each has arrived whole.
    EXPECT_TRUE(platform::runUntil([&] { return w.core().pending.downloading.empty(); }, 10000));
}

} // namespace
