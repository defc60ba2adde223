// The views over the client area, "More from this site", the manual-add box
// and "Save to list", driven through the window's controls.

#include "window_fixture.h"

#include "gui/detailswindow.h"
#include "peers/http_peers.h"
#include "peers/test_ca.h"

#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QStackedWidget>
#include <QToolButton>
#include <QTreeView>
#include <algorithm>
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
    platform::StringList urls = w.core().scheduler.launchbuf();
    for (int n = 1; n <= download::SlotCount; ++n)
        for (const auto& u : w.core().scheduler.slot(n).queueUrls)
            urls.push_back(u);
    return urls;
}

// Clicks the button of the close question that carries this text, and lets
// what it does happen.
void answerCloseQuestion(gui::MainWindow& w, const QString& button) {
    auto* box = static_cast<QMessageBox*>(w.closeQuestion());
    ASSERT_TRUE(box) << "no question";
    QAbstractButton* chosen = nullptr;
    for (QAbstractButton* b : box->buttons())
        if (b->text().remove('&') == button) chosen = b;
    ASSERT_TRUE(chosen) << button.toStdString();
    chosen->click();
    platform::runUntil([&] { return !w.closeQuestion(); }, 2000);
    QApplication::processEvents();
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
    // The box shows what was searched for.
    EXPECT_EQ(w.core().dispatch.search.Text, "127.0.0.2");
    EXPECT_EQ(w.searchBox()->currentText(), "127.0.0.2");
}

// The status bar tells what each search found; a search with no results
// does not leave the line before it standing.
TEST_F(WindowTest, EverySearchEndsWithALineOfWhatItFound) {
    testpeers::HttpPeer peer;
    ASSERT_TRUE(peer.start());
    peer.serve(
        "/r?q=night",
        "<a href=\"ftp://127.0.0.2/pub/Night.mp3\">x</a><a href=\"ftp://127.0.0.2/pub/Day.mp3\">y</a>");
    peer.serve("/r?q=silence", "<html>no such file</html>");
    auto& w = open();
    w.core().startlinks.Clear();
    w.core().startlinks.addengine(peer.hostPort() + "/r?q=");
    pressEnter(w.searchBox(), "night");
    EXPECT_EQ(w.statusText(), "Searching 1 engine...");
    ASSERT_TRUE(platform::runUntil([&] { return !w.core().dispatch.pbarVisible(); }, 5000));
    EXPECT_EQ(w.statusText(), "Found 2 files from 1 engine");
    pressEnter(w.manualAddBox(), "gopher://127.0.0.2/x.mp3"); // a refusal in the status bar
    ASSERT_TRUE(w.statusText().startsWith("Cannot download"));
    pressEnter(w.searchBox(), "silence");
    ASSERT_TRUE(platform::runUntil([&] { return !w.core().dispatch.pbarVisible(); }, 5000));
    EXPECT_EQ(w.statusText(), "Found no files from 1 engine");
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
    EXPECT_EQ(queued + static_cast<int>(w.core().scheduler.launchbuf().size()), 17);

    w.close();
    answerCloseQuestion(w, "Stop and quit");
    window.reset();
    auto& again = open();
    EXPECT_EQ(again.manualAddBox()->count(), 15);
}

// Closing while files are under way asks first; the files kept resume at the next start.
TEST_F(WindowTest, ClosingWhileFilesAreUnderWayAsksAndWhatWasStoppedResumesAtTheNextStart) {
    const std::vector<std::string> urls = {"ftp://127.0.0.1:1/a.mp3", "ftp://127.0.0.1:1/b.mp3",
                                           "ftp://127.0.0.3:1/c.mp3"};
    {
        auto& w = open();
        for (const auto& u : urls)
            pressEnter(w.manualAddBox(), QString::fromStdString(u));
        w.close();
        ASSERT_TRUE(w.closeQuestion());
        EXPECT_TRUE(w.isVisible());
        const QString text = static_cast<QMessageBox*>(w.closeQuestion())->text();
        EXPECT_TRUE(text.startsWith("3 files are still being downloaded.")) << text.toStdString();
        EXPECT_TRUE(text.contains("resumes at the next start")) << text.toStdString();
        w.close(); // asked once: the same question comes to the front
        EXPECT_EQ(w.findChildren<QMessageBox*>("closeQuestion").size(), 1);
        answerCloseQuestion(w, "Keep downloading");
        EXPECT_TRUE(w.isVisible());
        EXPECT_EQ(queued(w).size(), 3u) << "nothing was stopped";
        w.close();
        answerCloseQuestion(w, "Stop and quit");
        EXPECT_FALSE(w.isVisible());
    }
    window.reset();
    auto& w = open();
    platform::StringList again = queued(w);
    std::sort(again.begin(), again.end());
    EXPECT_EQ(again, platform::StringList(urls.begin(), urls.end()));
    // With nothing under way the window closes without a word.
    auto& idle = w.core().scheduler;
    for (int n = 1; n <= download::SlotCount; ++n)
        if (idle.slot(n).phase != download::Phase::Idle) idle.stop(n);
    ASSERT_TRUE(idle.idle());
    w.close();
    EXPECT_EQ(w.closeQuestion(), nullptr);
    EXPECT_FALSE(w.isVisible());
}

TEST_F(WindowTest, SaveToListWritesTheChosenUrlsInTableOrderAndAllShownWhenNoneIsChosen) {
    auto& w = open();
    for (int i = 0; i < 5; ++i)
        w.core().table.addlink("ftp://127.0.0.2/d/" + std::to_string(i) + ".mp3");
    const auto& rows = w.core().table.List;
    auto urls = [&](std::vector<int> rs) {
        std::string text = "List generated by Norvane Wavetrap\r\n";
        for (int r : rs)
            text += rows.Item(r).cell(3) + "\r\n";
        return text;
    };
    int row3 = 0; // the row of 3.mp3
    while (rows.Item(row3).cell(3).find("/3.mp3") == std::string::npos)
        ++row3;
    struct Case {
        const char* name;
        std::vector<int> selected;
        QString filter;
        std::string text;
    };
    const Case cases[] = {
        {"two rows chosen", {3, 1}, "", urls({1, 3})},
        {"none chosen: every row", {}, "", urls({0, 1, 2, 3, 4})},
        {"none chosen under a filter: the rows shown", {}, "3.MP3", urls({row3})},
    };
    QString folder;
    w.askSaveFileName = [&](const QString& f) {
        folder = f;
        return QString::fromStdString(work.file("mp3urls.txt"));
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        w.filterBox()->setText(c.filter);
        selectRows(w.resultView(), c.selected);
        w.Writelisttofile1Click();
        EXPECT_EQ(testsupport::readFile(work.file("mp3urls.txt")), c.text);
        // The dialog opens where the downloads go.
        EXPECT_EQ(std::filesystem::canonical(folder.toStdString()), std::filesystem::canonical(work.path()));
    }

    // A filter that shows nothing: no file is asked for, and the status bar says why.
    w.filterBox()->setText("no such file");
    folder.clear();
    w.Writelisttofile1Click();
    EXPECT_TRUE(folder.isEmpty());
    EXPECT_NE(w.statusText().indexOf("nothing to save"), -1) << w.statusText().toStdString();
    w.filterBox()->clear();

    // A file that cannot be written is reported and leaves nothing behind.
    w.askSaveFileName = [&](const QString&) { return QString::fromStdString(work.file("missing/list.txt")); };
    w.Writelisttofile1Click();
    EXPECT_FALSE(std::filesystem::exists(work.file("missing")));
    EXPECT_NE(w.statusText().indexOf("Cannot write"), -1);

    // Started from the folder the program lies in, the dialog still opens
    // where the downloads go (the window's download folder), not there.
    ASSERT_EQ(::chdir(QCoreApplication::applicationDirPath().toLocal8Bit().constData()), 0);
    w.askSaveFileName = [&](const QString& f) {
        folder = f;
        return QString();
    };
    w.Writelisttofile1Click();
    EXPECT_EQ(std::filesystem::canonical(folder.toStdString()), std::filesystem::canonical(work.path()));
}

// Clicking a column's title sorts the table by it (numbers by value), a third
// click gives back the order by score; the filter box narrows the rows. What
// is chosen, downloaded and double-clicked is always the row the user sees.
TEST_F(WindowTest, TheResultTableSortsByAnyColumnAndTheFilterNarrowsItWithoutLosingTheChosenRows) {
    auto& w = open();
    auto& table = w.core().table;
    // Sites that delivered before score higher and come first.
    w.core().stats.addgood("127.0.0.3");
    w.core().stats.addgood("127.0.0.3");
    for (const char* u : {"ftp://127.0.0.2/b/Zebra.mp3", "ftp://127.0.0.3/a/Apple.mp3",
                          "ftp://127.0.0.2/b/Mango.mp3", "ftp://127.0.0.4/c/Banana.mp3"})
        table.addlink(u);
    QTreeView* view = w.resultView();
    QAbstractItemModel* m = view->model();
    auto column = [&](int c) {
        QStringList out;
        for (int r = 0; r < m->rowCount(); ++r)
            out << m->index(r, c).data().toString();
        return out;
    };
    const QStringList byScore = column(0);
    EXPECT_EQ(byScore.front(), "Apple.mp3");

    auto clickTitle = [&](int c) {
        QHeaderView* h = view->header();
        const QPoint at(h->sectionViewportPosition(c) + h->sectionSize(c) / 2, h->height() / 2);
        for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent e(type, at, h->viewport()->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(h->viewport(), &e);
        }
    };
    struct Step {
        int column;
        QStringList names;
    };
    const Step steps[] = {
        {0, {"Apple.mp3", "Banana.mp3", "Mango.mp3", "Zebra.mp3"}},
        {0, {"Zebra.mp3", "Mango.mp3", "Banana.mp3", "Apple.mp3"}},
        {0, byScore},
        {2, {"Zebra.mp3", "Mango.mp3", "Apple.mp3", "Banana.mp3"}}, // by site, then as they came
    };
    for (const Step& s : steps) {
        clickTitle(s.column);
        EXPECT_EQ(column(0), s.names) << s.column;
    }
    clickTitle(2);
    clickTitle(2);
    clickTitle(1); // the score: a number
    const QStringList scores = column(1);
    for (int r = 1; r < scores.size(); ++r)
        EXPECT_LE(scores[r - 1].toInt(), scores[r].toInt()) << scores.join(",").toStdString();

    // Sorted by name: a click on the shown first row chooses Apple in the core.
    clickTitle(0);
    clickTitle(0);
    clickTitle(0);
    clickTitle(0);
    ASSERT_EQ(column(0).front(), "Apple.mp3");
    selectRows(view, {1}); // Banana as shown
    ASSERT_EQ(table.List.SelCount(), 1);
    EXPECT_EQ(table.List.Item(table.List.SelectedRows().front()).cell(0), "Banana.mp3");
    // A row chosen in the core shows chosen where the view has it.
    table.List.SetSelection({0}); // Apple, first by score
    EXPECT_EQ(view->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(view->selectionModel()->selectedRows().front().data().toString(), "Apple.mp3");

    // The filter: "mango" shows one row; a double-click there fetches Mango.
    w.filterBox()->setText("MaNgO");
    ASSERT_EQ(m->rowCount(), 1);
    EXPECT_EQ(m->index(0, 0).data().toString(), "Mango.mp3");
    EXPECT_EQ(table.List.SelCount(), 0) << "a chosen row the filter hides is no longer chosen";
    emit view->doubleClicked(m->index(0, 0));
    EXPECT_EQ(queued(w), platform::StringList{"ftp://127.0.0.2/b/Mango.mp3"});
    // Download with nothing chosen takes what the filter shows: the site 127.0.0.2.
    w.displayMenu()->actions().at(0)->trigger();
    w.filterBox()->setText("127.0.0.2");
    ASSERT_EQ(m->rowCount(), 2);
    w.haulfilesClick();
    platform::StringList all = queued(w);
    std::sort(all.begin(), all.end());
    EXPECT_EQ(all, (platform::StringList{"ftp://127.0.0.2/b/Mango.mp3", "ftp://127.0.0.2/b/Mango.mp3",
                                         "ftp://127.0.0.2/b/Zebra.mp3"}));
    // A filter that shows nothing downloads nothing and says so.
    w.displayMenu()->actions().at(0)->trigger();
    w.filterBox()->setText("nothing like it");
    EXPECT_EQ(m->rowCount(), 0);
    w.haulfilesClick();
    EXPECT_EQ(queued(w).size(), 3u);
    EXPECT_NE(w.statusText().indexOf("matches the filter"), -1) << w.statusText().toStdString();
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
    // One line: what the search found, and why the engine failed.
    EXPECT_TRUE(w.statusText().startsWith(
        "Found no files: the engine failed; 127.0.0.1:" + QString::number(peer.port()) +
        " (TLS with 127.0.0.1: untrusted issuer"))
        << w.statusText().toStdString();
    EXPECT_TRUE(w.details()->statusText().contains("Search: " + QString::fromStdString(peer.url("/s?q=tls")) +
                                                   ": TLS with 127.0.0.1: untrusted issuer"));
}
