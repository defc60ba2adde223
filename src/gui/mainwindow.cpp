#include "gui/mainwindow.h"

#include "gui/clockwindow.h"
#include "gui/detailswindow.h"
#include "gui/downloadswindow.h"
#include "gui/gradientcaption.h"
#include "gui/guidewindow.h"
#include "gui/helpwindow.h"
#include "gui/listmodel.h"
#include "gui/logwindow.h"
#include "gui/messagebox.h"
#include "gui/searchbar.h"
#include "gui/settingswindow.h"
#include "gui/statuspage.h"
#include "gui/troubleshootingwindow.h"
#include "shell/desktop_notifier.h"
#include "shell/download_notices.h"
#include "shell/file_dialogs.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>
#include <array>
#include <exception>
#include <iostream>

namespace gui {

namespace {

constexpr int Key_Return = 13;
constexpr QSize FirstRunSize(880, 540);
constexpr int Timer3Interval = 200;
constexpr int SitesWidth = 144;
constexpr int DefaultColumnWidth = 50; // a list view column without a width of its own

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
    totals_ = new QLabel(this);
    totals_->setObjectName("totals");
    statusBar()->addPermanentWidget(totals_);
    statusBar()->setSizeGripEnabled(true);
    createWindows();
    wireCore();
    Timer3.setSingleShot(true);
    Timer3.setInterval(Timer3Interval);
    connect(&Timer3, &QTimer::timeout, this, &MainWindow::Timer3Timer);
    restoreStoredProperties();
    searchBox()->setFocus();
}

MainWindow::~MainWindow() {
    // The views and their adapters go first, then the core; the core's last
    // events find nobody listening. The filters on the children stop first:
    // they would otherwise read views that are half destroyed.
    receiver_.disconnectAll();
    delete centralWidget();
    delete listModel_;
    delete sitesModel_;
    delete siteModel_;
    delete Guide_; // a window of its own, not a child
    delete Form4_; // the windows over the core's models
    delete Form3_;
    delete Log_;
    delete downloads_;
    notices_.reset();
    notifier_.reset();
    views_.reset();
    core_.reset();
}

void MainWindow::buildToolbar() {
    SpeedBar1_ = new SearchBar(this);
    addToolBar(Qt::TopToolBarArea, SpeedBar1_);
    connect(SpeedBar1_, &QToolBar::orientationChanged, this, [this] { SpeedBar1PosChanged(); });
    connect(SpeedBar1_, &SearchBar::searchEntered, this, [this] { searchKeyDown(); });
    connect(SpeedBar1_, &SearchBar::manualAddEntered, this, [this] { ManualaddKeyDown(); });
    connect(SpeedBar1_, &SearchBar::viewsClicked, this, [this] { RxSpeedButton5Click(); });
    connect(SpeedBar1_, &SearchBar::searchClicked, this, [this] { startSearch(); });
    connect(SpeedBar1_, &SearchBar::downloadClicked, this, [this] { haulfilesClick(); });
    connect(SpeedBar1_, &SearchBar::clearClicked, this, [this] { core_->table.ClearList1Click(); });
    connect(SpeedBar1_, &SearchBar::settingsClicked, this, [this] { showSettings(); });
    connect(SpeedBar1_, &SearchBar::cancelClicked, this, [this] { core_->cancelSearch(); });
}

QComboBox* MainWindow::searchBox() const {
    return SpeedBar1_->searchBox();
}

QComboBox* MainWindow::manualAddBox() const {
    return SpeedBar1_->manualAddBox();
}

QProgressBar* MainWindow::progressBar() const {
    return SpeedBar1_->progressBar();
}

QToolButton* MainWindow::cancelButton() const {
    return SpeedBar1_->cancelButton();
}

QMenu* MainWindow::downloadMenu() const {
    return liststatus_->downloadMenu();
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
    listModel_ = new ListViewModel(w.table.List, qtList(shell::MainViews::resultColumns()), this);
    sitesModel_ = new ListViewModel(w.table.sites.view, {"Site"}, this);
    siteModel_ = new ListViewModel(views_->site, qtList(shell::MainViews::siteColumns()), this);

    List_ = reportView("List", listModel_, {200, DefaultColumnWidth, 150, 100});
    // Sorted by a column when its header is clicked (a third click: the
    // table's own order, by score), narrowed by the filter box.
    listRows_ = new SortFilterRows([this](int row) { return views_->rowShown(row); }, this);
    listRows_->setSourceModel(listModel_);
    List_->setModel(listRows_);
    listModel_->bindSelection(List_->selectionModel(), listRows_);
    List_->header()->setSectionsClickable(true);
    List_->header()->setSortIndicatorShown(false);
    List_->header()->setToolTip(
        "Click a column's title to sort by it; a third click restores the order by score");
    connect(List_->header(), &QHeaderView::sectionClicked, this, &MainWindow::sortResults);
    filter_ = new QLineEdit;
    filter_->setObjectName("filter");
    filter_->setPlaceholderText("Filter the results: a word of the file name, site or URL");
    filter_->setClearButtonEnabled(true);
    filter_->setToolTip(
        "Only the results holding this text are shown (and downloaded when none is selected)");
    connect(filter_, &QLineEdit::textChanged, this,
            [this](const QString& text) { views_->setFilter(fromQt(text)); });
    views_->filterChanged.connect(this, [this] { listRows_->refilter(); });
    listRepaint_ = new BurstRepaint(List_, std::chrono::milliseconds(100));
    connect(List_, &QTreeView::doubleClicked, this, &MainWindow::fileDblClick);

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
    // Once the click has set the selection (the current row changes before it does).
    connect(sites_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { views_->sitesChange(sites_->selectionModel()->currentIndex().row()); });
    site_ = reportView("site", siteModel_, {200, DefaultColumnWidth, 100});
    site_->setToolTip("Select files you want to download, then click save");
    connect(site_, &QTreeView::doubleClicked, this, &MainWindow::fileDblClick);
    row->addWidget(sites_);
    row->addWidget(site_, 1);

    liststatus_ = new StatusPage(w);

    pages_ = new QStackedWidget;
    pages_->addWidget(List_);
    pages_->addWidget(sitePage_);
    pages_->addWidget(liststatus_);

    auto* central = new QWidget(this);
    auto* col = new QVBoxLayout(central);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(0);
    col->addWidget(filter_);
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
    windows->addAction("Downloads", this, [this] { showDownloads(); });

    QMenu* links = bar->addMenu("Links");
    links->addAction("&Download Files", this, [this] { haulfilesClick(); })
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    links->addAction("Save to list", this, [this] { Writelisttofile1Click(); });
    links->addAction("More from this site", this, [this] { RxSpeedButton1Click(); });
    links->addSeparator();
    // The setting httplinks: checked at start-up as read, saved at exit.
    httpLinksItem_ = links->addAction(HttpLinksCaption);
    httpLinksItem_->setObjectName("httplinks");
    httpLinksItem_->setCheckable(true);
    connect(httpLinksItem_, &QAction::triggered, this, [this](bool on) { core_->settings.httplinks = on; });

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
    Guide_ = new GuideWindow; // a window of its own: the main window may come in front of it
    Guide_->setAttribute(Qt::WA_ShowWithoutActivating); // typing still goes to the search box
    Log_ = new LogWindow(w.downloadLog, this);
    downloads_ = new DownloadsWindow(w.downloads, this);
    downloads_->mayStart = [this] { return downloadFolderReady(); };
    troublehelp_ = new TroubleshootingWindow(this);
    wireShellWindows();
    connect(Guide_, &GuideWindow::dontShowAgain, this, [this] {
        // Kept at once: the settings window restores its options whenever it opens.
        core_->cfg.setGuideshow(false);
        core_->cfg.storage.Save();
        Form4_->reload();
        Guide_->hide();
    });
}

void MainWindow::wireCore() {
    auto& w = *core_;
    w.searchChanged.connect(receiver_, [this] { refreshSearchControls(); });
    // What a search came to and each engine that failed, what the downloads do.
    w.statusLine.connect(receiver_, [this](const std::string& text) { setStatusText(text); });
    auto memo = [this](const std::string& line) {
        if (Form2_->isVisible()) Form2_->addStatusLine(toQt(line));
    };
    w.detailLine.connect(receiver_, memo);
    views_->statusmemo.connect(this, memo);
    views_->message.connect(this, [this](const std::string& text) { setStatusText(text); });
    views_->modeChanged.connect(this, [this](int) { showPage(); });
    w.downloads.totalsChanged.connect(receiver_, [this] { showTotals(); });
    // Word for the desktop when the queue is done or a file failed.
    notifier_ = std::make_unique<shell::DesktopNotifier>();
    notices_ = w.downloadNotices();
    notices_->notice.connect(receiver_, [this](const shell::Notice& n) { notifier_->show(n); });
    w.cfg.OnStayOnTop.connect(receiver_, [this](bool on) {
        core_->mainStorage.ontop_Checked = on;
        if (bool(windowFlags() & Qt::WindowStaysOnTopHint) == on) return;
        // Told to the window system as it is: setWindowFlag() would make the
        // window anew, in front of the settings window where the option was
        // ticked, and leave the windows standing on it attached to the old one.
        const Qt::WindowFlags flags =
            on ? windowFlags() | Qt::WindowStaysOnTopHint : windowFlags() & ~Qt::WindowStaysOnTopHint;
        overrideWindowFlags(flags);
        if (QWindow* handle = windowHandle()) handle->setFlags(flags);
    });
}

// ---- Start-up ---------------------------------------------------------------------

void MainWindow::restoreStoredProperties() {
    const shell::MainWindowPlacement p = core_->restoreMainWindow();
    // The stored rectangle: the frame's position and the client area's size
    // (the frame is not known before the window is shown). A first run opens wider.
    const auto& r = p.rect;
    if (p.stored) {
        move(r[0], r[1]);
        resize(r[2] - r[0], r[3] - r[1]);
    } else {
        resize(FirstRunSize);
    }
    addToolBar(p.toolbarAtBottom ? Qt::BottomToolBarArea : Qt::TopToolBarArea, SpeedBar1_);
    SpeedBar1_->showManualAddHistory(qtList(p.manualAdd), QString());
    liststatus_->restoreWidths(p.statusWidths);
}

void MainWindow::storeProperties() {
    const QPoint at = pos();
    core_->storeMainWindow({at.x(), at.y(), at.x() + width(), at.y() + height()},
                           toolBarArea(SpeedBar1_) == Qt::BottomToolBarArea, liststatus_->storedWidths());
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void MainWindow::FormShow() {
    views_->resultsviewClick();
    header_->setParts(versionCaption(), header_->secondPart());
    Timer3.start(); // the rest once the window is drawn
}

void MainWindow::Timer3Timer() {
    Timer3.stop();
    // The settings (a checked "ontop" puts this window on top), the tick, the
    // update check and the downloads left under way at the last exit.
    shell::StartOptions options;
    options.mainWindowRestored = true;
    options.resumePending = true;
    options.checkForUpdates = true;
    options.tick = true;
    options.downloadFolder = true;
    const shell::StartReport report = core_->start(options);
    httpLinksItem_->setChecked(core_->settings.httplinks);
    if (!report.settingsProblem.empty()) {
        setStatusText("Warning: " + report.settingsProblem);
        showError(toQt("Warning: " + report.settingsProblem));
    }
    if (!report.folderProblem.empty()) {
        setStatusText(report.folderProblem);
        showError(toQt(report.folderProblem));
    }
    if (report.update) showUpdateReport(*report.update);
    if (report.showGuide) showGuide();
    startupDone_ = true;
}

// ---- Shut-down --------------------------------------------------------------------

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!mayClose()) {
        event->ignore();
        return;
    }
    saveAll();
    QMainWindow::closeEvent(event);
}

bool MainWindow::mayClose() {
    if (closing_) return true;
    const std::string question = core_->closeQuestion();
    if (question.empty()) return true;
    // Not modal: the downloads go on while the question is open.
    if (closeQuestion_) {
        closeQuestion_->raise();
        closeQuestion_->activateWindow();
        return false;
    }
    auto* box = new QMessageBox(QMessageBox::Question, shell::CloseTitle, toQt(question),
                                QMessageBox::NoButton, this);
    box->setObjectName("closeQuestion");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    if (windowFlags() & Qt::WindowStaysOnTopHint) box->setWindowFlag(Qt::WindowStaysOnTopHint);
    QPushButton* stop = box->addButton(QString("&") + shell::CloseStop, QMessageBox::DestructiveRole);
    QPushButton* keep = box->addButton(QString("&") + shell::CloseKeep, QMessageBox::RejectRole);
    box->setDefaultButton(keep);
    box->setEscapeButton(keep);
    connect(box, &QMessageBox::buttonClicked, this, [this, stop](QAbstractButton* b) {
        if (b != stop) return;
        closing_ = true;
        QTimer::singleShot(0, this, [this] { close(); });
    });
    connect(box, &QObject::destroyed, this, [this] { closeQuestion_ = nullptr; });
    closeQuestion_ = box;
    box->show();
    return false;
}

void MainWindow::saveAll(bool force) {
    if (saved_ && !force) return;
    saved_ = true;
    storeProperties();
    // At the end of the program nobody reads the window: standard error too.
    if (const std::string problem = core_->stop(); !problem.empty()) {
        std::cerr << "wavetrap: warning: " << problem << "\n";
        setStatusText("Warning: " + problem);
    }
}

// ---- The toolbar ------------------------------------------------------------------

void MainWindow::SpeedBar1PosChanged() {
    if (toolBarArea(SpeedBar1_) == Qt::LeftToolBarArea || toolBarArea(SpeedBar1_) == Qt::RightToolBarArea)
        addToolBar(Qt::TopToolBarArea, SpeedBar1_);
}

void MainWindow::RxSpeedButton5Click() {
    SpeedBar1_->popupAt(SpeedBar1_->viewsButton(), displaypopup_);
}

void MainWindow::searchKeyDown() {
    searchStarted(core_->search(fromQt(searchBox()->currentText()), true));
}

void MainWindow::startSearch() {
    searchStarted(core_->search(fromQt(searchBox()->currentText()), false));
}

void MainWindow::RxSpeedButton1Click() {
    searchStarted(core_->searchBy([this] { views_->RxSpeedButton1Click(); }));
}

void MainWindow::searchStarted(const shell::SearchStart& result) {
    if (!result.error.empty()) showError(toQt(result.error));
    if (result.started && views_->mode() == shell::MainViews::StatusView) views_->resultsviewClick();
    refreshSearchControls();
}

void MainWindow::refreshSearchControls() {
    const shell::SearchControls c = core_->searchControls();
    SpeedBar1_->showSearch(c);
    if (listRepaint_ && !c.pbarVisible) { // the search is over: its last rows show now
        listRepaint_->flush();
        sitesRepaint_->flush();
    }
    Form2_->setQueue(qtList(c.queue));
}

bool MainWindow::downloadFolderReady() {
    const std::string problem = core_->prepareDownloadFolder();
    if (problem.empty()) return true;
    setStatusText(problem);
    showError(toQt(problem));
    return false;
}

void MainWindow::ManualaddKeyDown() {
    const QString text = manualAddBox()->currentText();
    if (!text.isEmpty() && !downloadFolderReady()) return;
    if (views_->ManualaddKeyDown(Key_Return, fromQt(text)) != shell::MainViews::ManualAdd::Started) return;
    SpeedBar1_->showManualAddHistory(qtList(views_->history()), text);
}

void MainWindow::haulfilesClick() {
    if (!downloadFolderReady()) return;
    try {
        views_->haulfilesClick();
    } catch (const std::exception& e) {
        showError(e.what());
    }
}

void MainWindow::fileDblClick(const QModelIndex& shown) {
    if (!shown.isValid()) return;
    const QModelIndex index = shown.model() == listRows_ ? listRows_->mapToSource(shown) : shown;
    const std::string url = views_->rowUrl(index.model() == siteModel_, index.row());
    if (url.empty() || !downloadFolderReady()) return;
    try {
        views_->haulfile(url);
    } catch (const std::exception& e) {
        showError(e.what());
    }
}

void MainWindow::Writelisttofile1Click() {
    if (!views_->listHasRows()) return;
    QString name;
    const QString folder = QString::fromStdString(core_->fileDialogFolder());
    if (askSaveFileName) {
        name = askSaveFileName(folder);
    } else {
        QFileDialog save(this, shell::MainViews::SaveTitle, folder);
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
    filter_->setVisible(views_->mode() == shell::MainViews::AllResults);
}

void MainWindow::sortResults(int column) {
    QHeaderView* header = List_->header();
    Qt::SortOrder order = Qt::AscendingOrder;
    if (column == listRows_->sortColumn()) {
        if (listRows_->sortOrder() == Qt::DescendingOrder) { // back to the order by score
            listRows_->sort(-1);
            header->setSortIndicatorShown(false);
            return;
        }
        order = Qt::DescendingOrder;
    }
    listRows_->sort(column, order);
    header->setSortIndicator(column, order);
    header->setSortIndicatorShown(true);
}

void MainWindow::liststatusMouseUp(const QPoint& pos) {
    liststatus_->liststatusMouseUp(pos);
}

void MainWindow::showError(const QString& text) {
    // Not modal: the window's timers and the downloads go on while it is shown.
    showMessageBox(this, QMessageBox::Critical, "Wavetrap", text);
}

void MainWindow::showTotals() {
    const std::string title = core_->titleLine();
    const QString caption = title.empty() ? QString(WindowCaption) : toQt(title);
    if (windowTitle() != caption) setWindowTitle(caption);
    const QString totals = toQt(core_->totalLine());
    if (totals_->text() != totals) totals_->setText(totals);
}

QString MainWindow::totalsText() const {
    return totals_->text();
}

void MainWindow::setStatusText(const std::string& text) {
    StatusBar1_->setText(toQt(text));
}

void MainWindow::setStatusText(const QString& text) {
    StatusBar1_->setText(text);
}

QString MainWindow::statusText() const {
    return StatusBar1_->text();
}

// ---- The other windows ------------------------------------------------------------

void MainWindow::showGuide() {
    if (!Guide_->isVisible()) {
        // Beside this window where the screen has room, so it covers nothing.
        const QRect frame = frameGeometry();
        const QScreen* screen = this->screen();
        const QRect free = screen ? screen->availableGeometry() : QRect();
        const QSize size = Guide_->frameGeometry().size();
        if (frame.right() + size.width() <= free.right())
            Guide_->move(frame.right() + 1, frame.top());
        else if (frame.left() - size.width() >= free.left())
            Guide_->move(frame.left() - size.width(), frame.top());
    }
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
