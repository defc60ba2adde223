#include "gui/downloadswindow.h"

#include "gui/listmodel.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTreeView>
#include <QVBoxLayout>

namespace gui {

DownloadsWindow::DownloadsWindow(shell::DownloadsList& downloads, QWidget* parent)
    : QWidget(parent, Qt::Tool), downloads_(downloads) {
    setObjectName("Downloads");
    setWindowTitle("Downloads");
    resize(760, 320);
    openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };

    QStringList headers;
    for (const std::string& c : shell::DownloadsList::columns())
        headers << toQt(c);
    model_ = new ListViewModel(downloads_.rows, headers, this);
    view_ = new QTreeView(this);
    view_->setObjectName("downloads");
    view_->setRootIsDecorated(false);
    view_->setUniformRowHeights(true);
    view_->setAllColumnsShowFocus(true);
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setModel(model_);
    view_->header()->setStretchLastSection(true);
    const auto& widths = shell::DownloadsList::columnWidths();
    for (std::size_t c = 0; c < widths.size(); ++c)
        view_->setColumnWidth(static_cast<int>(c), widths[c]);
    model_->bindSelection(view_->selectionModel());
    connect(view_, &QTreeView::doubleClicked, this, [this] { openFileClick(); });

    auto button = [this](const char* name, const char* text, const char* tip) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        b->setToolTip(tip);
        return b;
    };
    retry_ = button("retry", "&Retry", "Fetch the selected failed or pending files again");
    remove_ = button("remove", "Re&move", "Take the selected files out of the queue and the list");
    openFile_ = button("openFile", "&Open file", "Open the selected finished file");
    openFolder_ = button("openFolder", "Open &folder", "Open the folder of the selected file");
    connect(retry_, &QPushButton::clicked, this, [this] { retryClick(); });
    connect(remove_, &QPushButton::clicked, this, [this] { removeClick(); });
    connect(openFile_, &QPushButton::clicked, this, [this] { openFileClick(); });
    connect(openFolder_, &QPushButton::clicked, this, [this] { openFolderClick(); });

    message_ = new QLabel(this);
    message_->setObjectName("message");
    message_->setWordWrap(true);
    message_->setTextFormat(Qt::PlainText);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(retry_);
    buttons->addWidget(remove_);
    buttons->addStretch(1);
    buttons->addWidget(openFile_);
    buttons->addWidget(openFolder_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(view_, 1);
    layout->addLayout(buttons);
    layout->addWidget(message_);

    // The buttons follow the selection and the rows' states.
    downloads_.rows.selectionChanged.connect(this, [this](int, int) { updateButtons(); });
    downloads_.rows.cellsChanged.connect(this, [this](int, int) { updateButtons(); });
    downloads_.rows.rowsRemoved.connect(this, [this](int, int) { updateButtons(); });
    updateButtons();
}

QString DownloadsWindow::message() const {
    return message_->text();
}

void DownloadsWindow::showDownloads() {
    if (!isVisible()) {
        if (const QScreen* s = QGuiApplication::primaryScreen())
            move(s->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    }
    show();
    raise();
    activateWindow();
}

void DownloadsWindow::say(const std::string& text) {
    message_->setText(toQt(text));
}

void DownloadsWindow::updateButtons() {
    using shell::DownloadState;
    retry_->setEnabled(downloads_.selectionHas(DownloadState::Failed) ||
                       downloads_.selectionHas(DownloadState::Pending));
    remove_->setEnabled(downloads_.rows.SelCount() > 0);
    openFile_->setEnabled(downloads_.selectionHas(DownloadState::Finished));
}

void DownloadsWindow::retryClick() {
    if (mayStart && !mayStart()) return;
    say(downloads_.retrySelected());
}

void DownloadsWindow::removeClick() {
    say(downloads_.removeSelected());
}

void DownloadsWindow::openFileClick() {
    std::string why;
    const std::string path = downloads_.fileToOpen(why);
    if (path.empty()) {
        say(why);
        return;
    }
    say(openUrl(QUrl::fromLocalFile(toQt(path))) ? std::string() : "No program opens " + path + ".");
}

void DownloadsWindow::openFolderClick() {
    const std::string folder = downloads_.folderToOpen();
    say(openUrl(QUrl::fromLocalFile(toQt(folder))) ? std::string() : "No program opens " + folder + ".");
}

} // namespace gui
