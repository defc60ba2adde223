// The views over the client area, "More from this site", the manual-add box
// and "Save to list", driven through the window's controls.

#include "window_fixture.h"

#include "gui/detailswindow.h"
#include "peers/http_peers.h"
#include "peers/test_ca.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QProgressBar>
#include <QStackedWidget>
#include <QToolButton>
#include <QTreeView>
#include <filesystem>

using guitest::WindowTest;

namespace {

void pressEnter(QComboBox* box, const QString& text) {
    box->setEditText(text);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(box->lineEdit(), &press);
}

// A click of the left button in the middle of a row, as the mouse gives it.
void click(QAbstractItemView* view, int row) {
    const QPoint at = view->visualRect(view->model()->index(row, 0)).center();
    for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent e(type, at, view->viewport()->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &e);
    }
}

// The URLs handed to the scheduler, in every slot's queue and parked.
platform::StringList queued(gui::MainWindow& w) {
    platform::StringList urls = w.core().scheduler.launchbuf;
    for (int n = 1; n <= download::SlotCount; ++n)
        for (const auto& u : w.core().scheduler.slot(n).queueUrls)
            urls.push_back(u);
    return urls;
}

// Selects rows of a view through its selection model, as the mouse would.
void selectRows(QAbstractItemView* view, const std::vector<int>& rows) {
    view->selectionModel()->clearSelection();
    for (int r : rows)
        view->selectionModel()->select(view->model()->index(r, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

} // namespace

TEST_F(WindowTest, SiteViewListsTheChosenSitesFilesAndEveryViewSwitchesTheStatusTimer) {
    auto& w = open();
    auto& table = w.core().table;
    table.addlink("ftp://127.0.0.2/pub/Blue_Train.mp3");
    table.addlink("ftp://127.0.0.3/a/Other.mp3");
    table.addlink("ftp://127.0.0.2/pub/Lazy_Bird.mp3");
    EXPECT_EQ(w.resultView()->model()->rowCount(), 3);
    EXPECT_EQ(w.resultView()->model()->index(0, 0).data().toString(), "Blue Train.mp3");

    w.displayMenu()->actions().at(1)->trigger(); // "Display results by site"
    EXPECT_EQ(w.views().mode(), shell::MainViews::SiteView);
    EXPECT_TRUE(w.sitesView()->isVisibleTo(&w));
    click(w.sitesView(), 1);
    auto* files = w.siteView()->model();
    ASSERT_EQ(files->rowCount(), 1);
    click(w.sitesView(), 0);
    ASSERT_EQ(files->rowCount(), 2);
    EXPECT_EQ(files->index(0, 0).data().toString(), "Blue_Train.mp3");
    EXPECT_EQ(files->index(1, 2).data().toString(), "ftp://127.0.0.2/pub/Lazy_Bird.mp3");
    EXPECT_EQ(files->index(0, 1).data().toString(), "250");

    // A double-click downloads that file alone, whatever the table has selected.
    selectRows(w.resultView(), {});
    click(w.siteView(), 1);
    emit w.siteView()->doubleClicked(files->index(1, 0));
    EXPECT_EQ(queued(w), platform::StringList{"ftp://127.0.0.2/pub/Lazy_Bird.mp3"});
    EXPECT_EQ(w.pages()->currentWidget(), w.statusView());
    w.displayMenu()->actions().at(0)->trigger();
    selectRows(w.resultView(), {0, 1});
    emit w.resultView()->doubleClicked(w.resultView()->model()->index(1, 0));
    const platform::StringList both = queued(w);
    EXPECT_EQ(both.size(), 2u);
    EXPECT_NE(std::find(both.begin(), both.end(), "ftp://127.0.0.3/a/Other.mp3"), both.end());
    w.displayMenu()->actions().at(1)->trigger();

    w.displayMenu()->actions().at(2)->trigger(); // "Display download status"
    EXPECT_EQ(w.pages()->currentWidget(), w.statusView());
    EXPECT_EQ(w.statusView()->model()->rowCount(), 14);
    EXPECT_TRUE(w.core().status.liststatustimer.Enabled());
    w.displayMenu()->actions().at(0)->trigger(); // "Display all results"
    EXPECT_EQ(w.pages()->currentWidget(), w.resultView());
    EXPECT_FALSE(w.core().status.liststatustimer.Enabled());
    EXPECT_FALSE(w.sitesView()->isVisibleTo(&w));
}

TEST_F(WindowTest, MoreFromThisSiteSearchesTheSelectedRowsSiteOrNothing) {
    auto& w = open();
    w.core().startlinks.Clear();
    w.core().startlinks.addengine("127.0.0.1:9/find?q="); // refused at once
    w.core().table.addlink("ftp://127.0.0.2/pub/a.mp3");
    w.RxSpeedButton1Click(); // nothing selected
    EXPECT_EQ(w.core().dispatch.queriesStarted(), 0u);
    selectRows(w.resultView(), {0});
    EXPECT_TRUE(w.core().table.List.Item(0).selected);
    w.RxSpeedButton1Click();
    EXPECT_EQ(w.core().dispatch.queriesStarted(), 1u);
    EXPECT_EQ(w.core().dispatch.search.Text, "");
}

TEST_F(WindowTest, ManualAddStartsAtOnceKeepsFifteenNewestAndRefusesWhatCannotBeFetched) {
    auto& w = open();
    auto* box = w.manualAddBox();
    pressEnter(box, "gopher://127.0.0.2/x.mp3");
    EXPECT_EQ(w.core().table.List.Count(), 0);
    EXPECT_EQ(box->count(), 0);
    EXPECT_NE(w.statusText().indexOf("not an ftp:// or http:// URL"), -1);
    pressEnter(box, "ftp://127.0.0.2/dir/");
    EXPECT_NE(w.statusText().indexOf("no file name"), -1);

    for (int i = 0; i < 16; ++i)
        pressEnter(box, QString("ftp://127.0.0.1:1/f%1.mp3").arg(i));
    pressEnter(box, "ftp://127.0.0.1:1/f15.mp3");
    EXPECT_EQ(box->count(), 15);
    EXPECT_EQ(box->itemText(0), "ftp://127.0.0.1:1/f15.mp3");
    EXPECT_EQ(box->itemText(1), "ftp://127.0.0.1:1/f14.mp3");
    EXPECT_EQ(box->itemText(14), "ftp://127.0.0.1:1/f1.mp3");
    EXPECT_EQ(box->currentText(), "ftp://127.0.0.1:1/f15.mp3");
    EXPECT_EQ(w.core().table.List.Count(), 16);
    // Every file went to the scheduler: one slot serves the site, its queue holds them all.
    int queued = 0;
    for (int n = 1; n <= download::SlotCount; ++n)
        queued += static_cast<int>(w.core().scheduler.slot(n).queue.size()) / 2; // directory and name
    EXPECT_EQ(queued + static_cast<int>(w.core().scheduler.launchbuf.size()), 17);

    w.close();
    window.reset();
    auto& again = open();
    EXPECT_EQ(again.manualAddBox()->count(), 15);
}

TEST_F(WindowTest, SaveToListWritesTheSelectedUrlsInTableOrderOrNothingAtAll) {
    auto& w = open();
    for (int i = 0; i < 5; ++i)
        w.core().table.addlink("ftp://127.0.0.2/d/" + std::to_string(i) + ".mp3");
    selectRows(w.resultView(), {3, 1});
    w.askSaveFileName = [&] { return QString::fromStdString(work.file("mp3urls.txt")); };
    w.Writelisttofile1Click();
    const auto& rows = w.core().table.List;
    EXPECT_EQ(testsupport::readFile(work.file("mp3urls.txt")), "List generated by Norvane Wavetrap\r\n" +
                                                                   rows.Item(1).cell(3) + "\r\n" +
                                                                   rows.Item(3).cell(3) + "\r\n");

    // A file that cannot be written is reported and leaves nothing behind.
    w.askSaveFileName = [&] { return QString::fromStdString(work.file("missing/list.txt")); };
    w.Writelisttofile1Click();
    EXPECT_FALSE(std::filesystem::exists(work.file("missing")));
    EXPECT_NE(w.statusText().indexOf("Cannot write"), -1);
}

TEST_F(WindowTest, RowsArrivingInBurstsAreAllDrawnOnceTheyStop) {
    auto& w = open();
    for (int i = 0; i < 40; ++i) {
        w.core().table.addlink("ftp://127.0.0.2/b/" + std::to_string(i) + ".mp3");
        if (i % 4 == 0) QApplication::processEvents();
    }
    QWidget* table = w.resultView()->viewport();
    EXPECT_TRUE(platform::runUntil([&] { return table->updatesEnabled(); }, 2000));
}

TEST_F(WindowTest, TheStatusViewsColumnWidthsAreStoredAndADamagedListKeepsTheDefaults) {
    {
        auto& w = open();
        w.statusView()->setColumnWidth(0, 61);
        w.statusView()->setColumnWidth(1, 187);
        w.close();
    }
    window.reset();
    {
        auto& w = open();
        EXPECT_EQ(w.statusView()->columnWidth(0), 61);
        EXPECT_EQ(w.statusView()->columnWidth(1), 187);
        EXPECT_TRUE(w.statusView()->isColumnHidden(2)); // "State #"
    }
    window.reset();
    const std::string stored = testsupport::readFile(config.file("wavbin"));
    const auto at = stored.find("Item1=187");
    ASSERT_NE(at, std::string::npos) << stored;
    testsupport::writeFile(config.file("wavbin"),
                           stored.substr(0, at) + "Item1=wide" + stored.substr(at + 9));
    auto& w = open();
    EXPECT_EQ(w.statusView()->columnWidth(0), 35);
    EXPECT_EQ(w.statusView()->columnWidth(1), 100);
}

TEST_F(WindowTest, FromTheStatusViewASearchShowsItsResultsAndTheExternalRouteSaysWhyNothingWent) {
    auto& w = open();
    w.core().startlinks.Clear();
    w.core().startlinks.addengine("127.0.0.1:9/a?q="); // refused, once the connection is tried
    w.core().startlinks.addengine("127.0.0.1:9/b?q=");
    w.displayMenu()->actions().at(2)->trigger();
    pressEnter(w.searchBox(), "night");
    EXPECT_EQ(w.pages()->currentWidget(), w.resultView());
    EXPECT_EQ(w.progressBar()->maximum(), 20); // full when both engines have answered
    EXPECT_TRUE(platform::runUntil([&] { return !w.core().dispatch.pbarVisible(); }, 5000));

    w.core().cfg.setUsecute(true);
    w.displayMenu()->actions().at(2)->trigger();
    w.haulfilesClick();
    EXPECT_NE(w.statusText().indexOf("external FTP program"), -1) << w.statusText().toStdString();
    // The external FTP program gets no http:// file: the slots take it.
    w.core().table.addlink("http://127.0.0.1:1/h.mp3");
    w.displayMenu()->actions().at(0)->trigger();
    w.core().table.List.SetSelection({0});
    w.haulfilesClick();
    EXPECT_NE(w.statusText().indexOf("fetched by Wavetrap itself"), -1) << w.statusText().toStdString();
    bool slotted = false;
    for (int n = 1; n <= download::SlotCount; ++n)
        slotted = slotted || w.core().scheduler.slot(n).record.url == "http://127.0.0.1:1/h.mp3";
    EXPECT_TRUE(slotted);

    // With the toolbar at the bottom the display menu opens above its button.
    w.addToolBar(Qt::BottomToolBarArea, w.toolBar());
    QApplication::processEvents();
    w.RxSpeedButton5Click();
    const int buttonTop = w.toolBar()->viewsButton()->mapToGlobal(QPoint(0, 0)).y();
    EXPECT_LE(w.displayMenu()->geometry().bottom(), buttonTop);
    w.displayMenu()->hide();
}

TEST_F(WindowTest, AnHttpsEngineWhoseCertificateDoesNotVerifyIsNamedInTheStatusBarAndTheDetails) {
    testpeers::TestCa ca; // never trusted here
    ASSERT_TRUE(ca.ok());
    const testpeers::ServerCert cert = ca.issue("engine", "IP:127.0.0.1");
    testpeers::HttpPeer peer;
    ASSERT_TRUE(peer.startTls(cert.cert, cert.key));
    auto& w = open();
    w.details()->show();
    w.core().startlinks.Clear();
    w.core().startlinks.addengine(peer.url("/s?q="));
    pressEnter(w.searchBox(), "tls");
    EXPECT_TRUE(platform::runUntil([&] { return w.statusText().contains("untrusted issuer"); }, 5000))
        << w.statusText().toStdString();
    EXPECT_TRUE(w.statusText().startsWith("Search: " + QString::fromStdString(peer.url("/s?q=tls")) +
                                          ": TLS with 127.0.0.1: untrusted issuer"))
        << w.statusText().toStdString();
    EXPECT_TRUE(w.details()->statusText().contains("TLS with 127.0.0.1: untrusted issuer"));
}
