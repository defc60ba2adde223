#include "gui/mainwindow.h"

#include "gui/clockwindow.h"
#include "gui/detailswindow.h"
#include "gui/gradientcaption.h"
#include "gui/guidewindow.h"
#include "gui/helpwindow.h"
#include "gui/listmodel.h"
#include "gui/logwindow.h"
#include "gui/settingswindow.h"
#include "gui/troubleshootingwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <array>
#include <exception>

namespace gui {

namespace {

constexpr int Key_Return = 13;
constexpr int Timer3Interval = 200;
constexpr int SpeedBarHeight = 57;
constexpr int SitesWidth = 144;
constexpr int DefaultColumnWidth = 50; // a list view column without a width of its own
constexpr int MaxColumnWidth = 10000;  // a stored width beyond it is damage
constexpr QSize FirstRunSize(880, 540);

// The four "Web Pages" items: caption and address.
struct WebPage {
    const char* caption;
    const char* url;
};
constexpr WebPage WebPages[] = {
    {"MP3 (Wikipedia)", "https://en.wikipedia.org/wiki/MP3"},
    {"File Transfer Protocol (Wikipedia)", "https://en.wikipedia.org/wiki/File_Transfer_Protocol"},
    {"Norvane", "https://github.com/search?q=wavetrap&type=repositories"},
    {"Free music to download (ccMixter)", "https://ccmixter.org/"},
};

QStringList qtList(const platform::StringList& items) {
    QStringList out;
    for (const auto& s : items)
        out << toQt(s);
    return out;
}

} // namespace

QString versionCaption() {
    // The product word, " v", the major and the minor version.
    return QStringLiteral("Wavetrap") + " v" + QString::number(2) + "." + QString::number(8);
}

// ---- FormCreate ---------------------------------------------------------------

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), core_(std::make_unique<shell::Wavetrap>()),
      views_(std::make_unique<shell::MainViews>(*core_)) {
    setObjectName("Form1");
    setWindowTitle(WindowCaption);
    setWindowIcon(QIcon::fromTheme("wavetrap", QIcon(":/wavetrap.svg")));
    buildToolbar();
    buildViews();
    buildMenus();
    StatusBar1_ = new QLabel("Status", this);
    StatusBar1_->setObjectName("StatusBar1");
    statusBar()->addWidget(StatusBar1_, 1);
    statusBar()->setSizeGripEnabled(true);
    createWindows();
    wireCore();
    Timer3.setSingleShot(true);
    Timer3.setInterval(Timer3Interval);
    connect(&Timer3, &QTimer::timeout, this, &MainWindow::Timer3Timer);
    restoreStoredProperties();
    search_->setFocus();
}

MainWindow::~MainWindow() {
    // The views and their adapters go first, then the core; the core's last
    // events find nobody listening. The filters on the children stop first:
    // they would otherwise read views that are half destroyed.
    liststatus_ = nullptr;
    receiver_.disconnectAll();
    delete centralWidget();
    delete listModel_;
    delete sitesModel_;
    delete siteModel_;
    delete statusModel_;
    delete Form4_; // the windows over the core's models
    delete Form3_;
    delete Log_;
    views_.reset();
    core_.reset();
}

void MainWindow::buildToolbar() {
    SpeedBar1_ = new QToolBar("Toolbar", this);
    SpeedBar1_->setObjectName("SpeedBar1");
    SpeedBar1_->setAllowedAreas(Qt::TopToolBarArea | Qt::BottomToolBarArea);
    SpeedBar1_->setFloatable(false);
    SpeedBar1_->setFixedHeight(SpeedBarHeight);
    // Button texts: red under the mouse, maroon while pressed, black otherwise.
    SpeedBar1_->setStyleSheet("QToolButton { color: black; padding: 2px 6px; }"
                              "QToolButton:hover { color: red; }"
                              "QToolButton:pressed { color: maroon; }");
    addToolBar(Qt::TopToolBarArea, SpeedBar1_);
    connect(SpeedBar1_, &QToolBar::orientationChanged, this, [this] { SpeedBar1PosChanged(); });

    auto box = [this](const char* name, const char* hint) {
        auto* c = new QComboBox(SpeedBar1_);
        c->setObjectName(name);
        c->setEditable(true);
        c->setInsertPolicy(QComboBox::NoInsert);
        c->setToolTip(hint);
        c->setMinimumContentsLength(14);
        c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        c->installEventFilter(this); // its focus events; the line edit only hears them
        return c;
    };
    auto labelled = [this](const char* text, QWidget* w) {
        auto* holder = new QWidget(SpeedBar1_);
        auto* l = new QVBoxLayout(holder);
        l->setContentsMargins(4, 2, 4, 2);
        l->setSpacing(2);
        l->addWidget(new QLabel(text, holder));
        l->addWidget(w);
        SpeedBar1_->addWidget(holder);
    };
    search_ = box("search", "Enter a word from the name of a song");
    manualadd_ = box("manualadd", "Enter a URL to download");
    manualadd_->setAutoFillBackground(true);
    labelled("Enter search phrase:", search_);
    labelled("Get URL:", manualadd_);
    // Enter is taken, and consumed, where it arrives: at the combo box, which holds the focus
    // for its line edit (keys typed on a keyboard come this way), or at the line edit itself.
    search_->lineEdit()->installEventFilter(this);
    manualadd_->lineEdit()->installEventFilter(this);
    // The search box reads silver on the button face until it has the focus.
    QPalette idle = search_->lineEdit()->palette();
    idle.setColor(QPalette::Base, idle.color(QPalette::Button));
    idle.setColor(QPalette::Text, QColor(0xC0, 0xC0, 0xC0));
    search_->lineEdit()->setPalette(idle);
    QPalette face = manualadd_->lineEdit()->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    manualadd_->lineEdit()->setPalette(face);

    auto button = [this](const char* name, const char* text, const char* hint, auto handler) {
        auto* b = new QToolButton(SpeedBar1_);
        b->setObjectName(name);
        b->setText(text);
        b->setToolTip(hint);
        b->setAutoRaise(true); // flat
        SpeedBar1_->addWidget(b);
        connect(b, &QToolButton::clicked, this, handler);
        return b;
    };
    button("RxSpeedButton5", "Views", "Search!", [this] { RxSpeedButton5Click(); });
    button("RxSpeedButton2", "Search!", "Search!", [this] {
        core_->dispatch.search.Text = fromQt(search_->currentText());
        try {
            core_->dispatch.Start_search_butClick();
        } catch (const std::exception& e) {
            showError(e.what());
        }
        refreshSearchControls();
    });
    button("b1", "Download", "Download selected files", [this] { haulfilesClick(); });
    button("RxSpeedButton3", "Clear", "Clear file list", [this] { core_->table.ClearList1Click(); });
    button("RxSpeedButton4", "Settings", "Settings", [this] { showSettings(); });
    cancelbut_ = button("cancelbut", "Cancel", "Cancel Search", [this] { core_->dispatch.cancelbutClick(); });
    pbar_ = new QProgressBar(SpeedBar1_);
    pbar_->setObjectName("pbar");
    pbar_->setRange(0, search::SearchDispatch::PbarMax);
    pbar_->setTextVisible(false);
    pbar_->setFixedSize(80, 14);
    pbarAction_ = SpeedBar1_->addWidget(pbar_);
    cancelAction_ = SpeedBar1_->actions().at(SpeedBar1_->actions().size() - 2);
    pbarAction_->setVisible(false);
    cancelAction_->setVisible(false);
}

QTreeView* MainWindow::reportView(const char* name, ListViewModel* model, const std::vector<int>& widths) {
    auto* v = new QTreeView;
    v->setObjectName(name);
    v->setRootIsDecorated(false);
    v->setUniformRowHeights(true);
    v->setAllColumnsShowFocus(true);
    v->setSelectionMode(QAbstractItemView::ExtendedSelection);
    v->setSelectionBehavior(QAbstractItemView::SelectRows);
    v->setEditTriggers(QAbstractItemView::NoEditTriggers);
    v->setSortingEnabled(false);
    v->setModel(model);
    v->header()->setSectionsClickable(false);
    v->header()->setStretchLastSection(true);
    for (std::size_t c = 0; c < widths.size(); ++c)
        v->setColumnWidth(static_cast<int>(c), widths[c]);
    model->bindSelection(v->selectionModel());
    return v;
}

void MainWindow::buildViews() {
    auto& w = *core_;
    listModel_ = new ListViewModel(w.table.List, qtList(results::ResultTable::columns()), this);
    sitesModel_ = new ListViewModel(w.table.sites.view, {"Site"}, this);
    siteModel_ = new ListViewModel(views_->site, qtList(shell::MainViews::siteColumns()), this);
    statusModel_ = new ListViewModel(w.status.liststatus, qtList(download::StatusView::columns()), this);

    List_ = reportView("List", listModel_, {200, DefaultColumnWidth, 150, 100});
    listRepaint_ = new BurstRepaint(List_, std::chrono::milliseconds(100));
    connect(List_, &QTreeView::doubleClicked, this, [this] { ListDblClick(); });

    sitePage_ = new QWidget;
    auto* row = new QHBoxLayout(sitePage_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    sites_ = new QListView(sitePage_);
    sites_->setObjectName("sites");
    sites_->setFixedWidth(SitesWidth);
    sites_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    sites_->setModel(sitesModel_);
    sitesRepaint_ = new BurstRepaint(sites_, std::chrono::milliseconds(100));
    sitesModel_->bindSelection(sites_->selectionModel());
    connect(sites_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { views_->sitesChange(current.row()); });
    site_ = reportView("site", siteModel_, {200, DefaultColumnWidth, 100});
    site_->setToolTip("Select files you want to download, then click save");
    connect(site_, &QTreeView::doubleClicked, this, [this] { ListDblClick(); });
    row->addWidget(sites_);
    row->addWidget(site_, 1);

    const auto& widths = download::StatusView::columnWidths();
    liststatus_ = reportView("liststatus", statusModel_, widths);
    liststatus_->setColumnHidden(download::StatusView::ColStateNo, true);
    liststatus_->setToolTip("Double-click port number to disconnect site");
    liststatus_->viewport()->installEventFilter(this);
    connect(liststatus_, &QTreeView::doubleClicked, this, [this] { core_->status.liststatusDblClick(); });

    pages_ = new QStackedWidget;
    pages_->addWidget(List_);
    pages_->addWidget(sitePage_);
    pages_->addWidget(liststatus_);

    auto* central = new QWidget(this);
    auto* col = new QVBoxLayout(central);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(0);
    col->addWidget(pages_, 1);
    setCentralWidget(central);
}

void MainWindow::buildMenus() {
    // The header strip stands above the menu bar, where the gradient title was.
    auto* top = new QWidget(this);
    auto* col = new QVBoxLayout(top);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(0);
    auto* header = new GradientCaption(top);
    header->setObjectName("GradientCaption1");
    header->setParts(versionCaption(), "  Mp3 search and download");
    col->addWidget(header);
    auto* bar = new QMenuBar(top);
    col->addWidget(bar);
    setMenuWidget(top);
    header_ = header;

    QMenu* file = bar->addMenu("&File");
    file->addAction("&Exit", this, [this] { close(); });

    QMenu* reset = bar->addMenu("&Reset");
    reset->addAction("All files", this, [this] { core_->table.ClearList1Click(); });
    reset->addAction("&Statistics", this, [this] { core_->stats.Statistics1Click(); });

    QMenu* windows = bar->addMenu("&Windows");
    windows->addAction("Download Timer", this, [this] { showAlarmClock(); });
    windows->addAction("Configuration", this, [this] { showSettings(); });
    windows->addAction("Details", this, [this] { showDetails(); });
    windows->addAction("Log", this, [this] { showLog(); });

    QMenu* links = bar->addMenu("Links");
    links->addAction("&Download Files", this, [this] { haulfilesClick(); })
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    links->addAction("Save to list", this, [this] { Writelisttofile1Click(); });
    links->addAction("More from this site", this, [this] { RxSpeedButton1Click(); });

    QMenu* web = bar->addMenu("Web Pages");
    for (const auto& page : WebPages) {
        const QString url = page.url;
        web->addAction(page.caption, this, [url] { QDesktopServices::openUrl(QUrl(url)); });
    }

    QMenu* help = bar->addMenu("&Help");
    help->addAction("Wavetrap &Help", this, [this] { showHelp(); });
    help->addAction("Wavetrap Troubleshooting", this, [this] { showTroubleshooting(); });
    help->addAction("Check for updates to search engines && Wavetrap", this, [this] { checkForUpdate(); });

    displaypopup_ = new QMenu(this);
    displaypopup_->setObjectName("displaypopup");
    displaypopup_->addAction("Display all results", this, [this] { views_->resultsviewClick(); });
    displaypopup_->addAction("Display results by site", this, [this] { views_->siteviewClick(); });
    displaypopup_->addAction("Display download status", this, [this] { views_->statusviewClick(); });

    download_ = new QMenu(this);
    download_->setObjectName("download");
    download_->addAction("Cancel Download", this, [this] { core_->status.CancelDownload1Click(); });
    download_->addAction("[Port numbers must be selected to cancel]")->setEnabled(false);

    // F1 anywhere in the window opens the guide.
    auto* f1 = new QAction(this);
    f1->setShortcut(Qt::Key_F1);
    f1->setShortcutContext(Qt::WindowShortcut);
    connect(f1, &QAction::triggered, this, &MainWindow::showGuide);
    addAction(f1);
}

// The windows of the program in their order: this one, the settings window,
// the details window, the download timer, the help window, the guide, the
// download log and the troubleshooting window. Those of their own files are
// created by them when first shown.
void MainWindow::createWindows() {
    auto& w = *core_;
    Form4_ = new SettingsWindow(w.cfg, this);
    Form2_ = new DetailsWindow(this);
    Form3_ = new ClockWindow(w.downloadTimer, this);
    helpform_ = new HelpWindow(this);
    Guide_ = new GuideWindow(this);
    Guide_->setAttribute(Qt::WA_ShowWithoutActivating); // typing still goes to the search box
    Log_ = new LogWindow(w.downloadLog, this);
    troublehelp_ = new TroubleshootingWindow(this);
    wireShellWindows();
    connect(Guide_, &GuideWindow::dontShowAgain, this, [this] {
        core_->cfg.setGuideshow(false);
        Guide_->hide();
    });
}

void MainWindow::wireCore() {
    auto& w = *core_;
    w.dispatch.changed.connect(receiver_, [this] { refreshSearchControls(); });
    w.scheduler.hooks.statusBar.connect(receiver_, [this](const std::string& text) { setStatusText(text); });
    auto memo = [this](const std::string& line) {
        if (Form2_->isVisible()) Form2_->addStatusLine(toQt(line));
    };
    w.scheduler.hooks.statusmemo.connect(receiver_, memo);
    views_->statusmemo.connect(this, memo);
    views_->message.connect(this, [this](const std::string& text) { setStatusText(text); });
    views_->modeChanged.connect(this, [this](int) { showPage(); });
    w.cfg.OnStayOnTop.connect(receiver_, [this](bool on) {
        core_->mainStorage.ontop_Checked = on;
        const bool visible = isVisible();
        setWindowFlag(Qt::WindowStaysOnTopHint, on);
        if (visible) show();
    });
}

// ---- Start-up ---------------------------------------------------------------------

void MainWindow::restoreStoredProperties() {
    auto& s = core_->mainStorage;
    s.storage.Restore();
    // The stored rectangle: the frame's position and the client area's size
    // (the frame is not known before the window is shown). A first run (the design-time
    // 640 x 480 at 0,0, too narrow for the toolbar) opens wider.
    const auto& r = s.placement.NormPos;
    const std::array<int, 4> designTime{0, 0, 640, 480};
    if (r != designTime && r[2] - r[0] >= 200 && r[3] - r[1] >= 150) {
        move(r[0], r[1]);
        resize(r[2] - r[0], r[3] - r[1]);
    } else {
        resize(FirstRunSize);
    }
    addToolBar(s.SpeedBar1_Align == "alBottom" ? Qt::BottomToolBarArea : Qt::TopToolBarArea, SpeedBar1_);
    manualadd_->addItems(qtList(s.manualadd_Items));
    manualadd_->setCurrentText(QString());
    // The status view's widths as stored; a list of another length or with a
    // value that is no width keeps the defaults. "State #" stays hidden.
    const auto& cols = s.liststatus_Columns;
    std::vector<int> widths;
    for (const std::string& c : cols) {
        bool ok = false;
        const int v = QString::fromStdString(c).toInt(&ok);
        if (!ok || v < 0 || v > MaxColumnWidth) break;
        widths.push_back(v);
    }
    if (widths.size() == download::StatusView::columnWidths().size())
        for (std::size_t c = 0; c < widths.size(); ++c)
            if (static_cast<int>(c) != download::StatusView::ColStateNo)
                liststatus_->setColumnWidth(static_cast<int>(c), widths[c]);
}

void MainWindow::storeProperties() {
    auto& s = core_->mainStorage;
    const QPoint at = pos();
    s.placement.NormPos = {at.x(), at.y(), at.x() + width(), at.y() + height()};
    s.SpeedBar1_Align = toolBarArea(SpeedBar1_) == Qt::BottomToolBarArea ? "alBottom" : "alTop";
    s.liststatus_Columns.clear();
    for (int c = 0; c < liststatus_->model()->columnCount(); ++c)
        s.liststatus_Columns.push_back(
            std::to_string(liststatus_->isColumnHidden(c) ? 0 : liststatus_->columnWidth(c)));
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void MainWindow::FormShow() {
    auto& w = *core_;
    views_->resultsviewClick();
    w.scheduler.dfatimer.setEnabled(true);
    w.urlinfo.clearCache();
    w.stats.cacheinit();
    header_->setParts(versionCaption(), header_->secondPart());
    Timer3.start();
}

void MainWindow::Timer3Timer() {
    auto& w = *core_;
    w.cfg.Show(); // restores its stored options (a checked "ontop" puts this window on top)
    w.cfg.Hide();
    Timer3.stop();
    w.settings.loadcfg();
    if (w.settings.path.empty()) w.cfg.Button1Click();
    w.startlinks.addDefaultEngines();
    if (w.cfg.checkupdate()) checkForUpdate();
    w.resumePendingDownloads();
    if (w.cfg.Guideshow()) showGuide();
    w.scheduler.dfatimer.setInterval(shell::SettingsWindow::schedulerInterval(w.cfg.dfatime()));
    startupDone_ = true;
}

// ---- Shut-down --------------------------------------------------------------------

void MainWindow::closeEvent(QCloseEvent* event) {
    saveAll();
    QMainWindow::closeEvent(event);
}

void MainWindow::saveAll(bool force) {
    if (saved_ && !force) return;
    saved_ = true;
    storeProperties();
    core_->saveSettingsAtExit();
}

// ---- The toolbar ------------------------------------------------------------------

void MainWindow::SpeedBar1PosChanged() {
    if (toolBarArea(SpeedBar1_) == Qt::LeftToolBarArea || toolBarArea(SpeedBar1_) == Qt::RightToolBarArea)
        addToolBar(Qt::TopToolBarArea, SpeedBar1_);
}

void MainWindow::RxSpeedButton5Click() {
    displaypopup_->popup(frameGeometry().topLeft() + QPoint(170, 50));
}

void MainWindow::searchKeyDown() {
    core_->dispatch.search.Text = fromQt(search_->currentText());
    try {
        core_->dispatch.searchKeyDown(Key_Return);
    } catch (const std::exception& e) {
        showError(e.what());
    }
    refreshSearchControls();
}

void MainWindow::refreshSearchControls() {
    const auto& d = core_->dispatch;
    pbar_->setValue(d.pbarPosition());
    pbarAction_->setVisible(d.pbarVisible());
    if (listRepaint_ && !d.pbarVisible()) { // the search is over: its last rows show now
        listRepaint_->flush();
        sitesRepaint_->flush();
    }
    cancelAction_->setVisible(d.cancelbutVisible());
    const QStringList items = qtList(d.search.Items);
    bool same = items.size() == search_->count();
    for (int i = 0; same && i < items.size(); ++i)
        same = search_->itemText(i) == items[i];
    if (!same) {
        const QSignalBlocker block(search_);
        search_->clear();
        search_->addItems(items);
    }
    if (search_->currentText() != toQt(d.search.Text)) search_->setEditText(toQt(d.search.Text));
    Form2_->setQueue(qtList(d.htmlbuf));
}

void MainWindow::ManualaddKeyDown() {
    const QString text = manualadd_->currentText();
    if (views_->ManualaddKeyDown(Key_Return, fromQt(text)) != shell::MainViews::ManualAdd::Started) return;
    const QSignalBlocker block(manualadd_);
    manualadd_->clear();
    manualadd_->addItems(qtList(views_->history()));
    manualadd_->setEditText(text);
}

void MainWindow::haulfilesClick() {
    try {
        views_->haulfilesClick();
    } catch (const std::exception& e) {
        showError(e.what());
    }
}

void MainWindow::Writelisttofile1Click() {
    if (core_->table.List.Count() == 0) return;
    QString name;
    if (askSaveFileName) {
        name = askSaveFileName();
    } else {
        QFileDialog save(this, shell::MainViews::SaveTitle);
        save.setAcceptMode(QFileDialog::AcceptSave);
        save.setNameFilter(shell::MainViews::SaveFilter);
        save.setDefaultSuffix(shell::MainViews::SaveDefaultSuffix);
        save.selectFile(shell::MainViews::SaveInitialName);
        if (save.exec() == QDialog::Accepted && !save.selectedFiles().isEmpty())
            name = save.selectedFiles().front();
    }
    if (name.isEmpty()) return;
    if (const std::string error = views_->Writelisttofile(name.toLocal8Bit().toStdString()); !error.empty()) {
        setStatusText(error);
        showError(toQt(error));
    }
}

// ---- The views --------------------------------------------------------------------

void MainWindow::showPage() {
    switch (views_->mode()) {
    case shell::MainViews::SiteView:
        pages_->setCurrentWidget(sitePage_);
        break;
    case shell::MainViews::StatusView:
        pages_->setCurrentWidget(liststatus_);
        break;
    default:
        pages_->setCurrentWidget(List_);
    }
}

void MainWindow::liststatusMouseUp(const QPoint& pos) {
    const QPoint origin = liststatus_->mapTo(this, QPoint(0, 0));
    const QRect frame = frameGeometry();
    download_->popup(
        QPoint(frame.left() + origin.x() + pos.x() - 20, frame.top() + origin.y() + pos.y() + 30));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (!liststatus_) return QMainWindow::eventFilter(watched, event); // still being built
    if (event->type() == QEvent::KeyPress && (watched == search_ || watched == search_->lineEdit() ||
                                              watched == manualadd_ || watched == manualadd_->lineEdit())) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (watched == search_ || watched == search_->lineEdit())
                searchKeyDown();
            else
                ManualaddKeyDown();
            return true;
        }
    }
    if (watched == liststatus_->viewport() && event->type() == QEvent::MouseButtonRelease) {
        auto* m = static_cast<QMouseEvent*>(event);
        if (m->button() == Qt::RightButton) liststatusMouseUp(m->position().toPoint());
    } else if (watched == search_ &&
               (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        // White with black text while it has the focus; silver on the button face after.
        QPalette p = search_->lineEdit()->palette();
        const bool in = event->type() == QEvent::FocusIn;
        p.setColor(QPalette::Base, in ? QColor(Qt::white) : p.color(QPalette::Button));
        p.setColor(QPalette::Text, in ? QColor(Qt::black) : QColor(0xC0, 0xC0, 0xC0));
        search_->lineEdit()->setPalette(p);
    } else if (watched == manualadd_ &&
               (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        QPalette p = manualadd_->lineEdit()->palette();
        p.setColor(QPalette::Base,
                   p.color(event->type() == QEvent::FocusIn ? QPalette::Window : QPalette::Button));
        manualadd_->lineEdit()->setPalette(p);
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    QMainWindow::keyPressEvent(event);
}

void MainWindow::showError(const QString& text) {
    // Not modal: the window's timers and the downloads go on while it is shown.
    auto* box = new QMessageBox(QMessageBox::Critical, "Wavetrap", text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void MainWindow::setStatusText(const std::string& text) {
    StatusBar1_->setText(toQt(text));
}

QString MainWindow::statusText() const {
    return StatusBar1_->text();
}

// ---- The other windows ------------------------------------------------------------

void MainWindow::showGuide() {
    Guide_->show();
    Guide_->raise();
}

void MainWindow::showDetails() {
    Form2_->show();
    Form2_->raise();
}

void MainWindow::showHelp() {
    helpform_->show();
    helpform_->raise();
}

void MainWindow::showTroubleshooting() {
    troublehelp_->show();
    troublehelp_->raise();
}

} // namespace gui
