#include "gui/statuspage.h"

#include "gui/listmodel.h"

#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>

namespace gui {

namespace {

constexpr int MaxColumnWidth = 10000; // a stored width beyond it is damage
constexpr int TextPadding = 16;       // a cell's margins around its text
// The widths earlier versions stored for a status view nobody resized.
const std::vector<int> FormerDefaultWidths{35, 100, 0, 120, 35, 200};

QStringList qtList(const platform::StringList& items) {
    QStringList out;
    for (const auto& s : items)
        out << toQt(s);
    return out;
}

// The rows of the status view with the State column told by what the slot does.
class StatusModel : public ListViewModel {
public:
    using ListViewModel::ListViewModel;
    QVariant data(const QModelIndex& index, int role) const override {
        if (role == Qt::DisplayRole && index.isValid() && index.column() == download::StatusView::ColState &&
            index.row() < list().Count()) {
            const auto& row = list().Item(index.row());
            bool ok = false;
            const int state = toQt(row.cell(download::StatusView::ColStateNo)).toInt(&ok);
            if (ok) return slotStateText(state, !row.cell(download::StatusView::ColProgress).empty());
        }
        return ListViewModel::data(index, role);
    }
};

} // namespace

QString slotStateText(int state, bool bytesArrived) {
    // The slot's states by number and what it waits for in each.
    switch (state) {
    case 0:
        return "Not connected";
    case 1:
        return "Connecting";
    case 2:
        return "Sending Username"; // connected: the user name goes next
    case 9:
        return "Sending Password"; // the user name answered: the password goes next
    case 3:                        // logged in: the file's size is asked next
    case 7:                        // the size answered: binary type next
    case 8:
        return "Setting up connection"; // binary type set: the transfer starts next
    case 4:
        return bytesArrived ? "Downloading" : "Setting up connection"; // the transfer asked for
    case 5:
    case 10:
        return "Downloading";
    case 6:
        return "Finishing download";
    case 11:
        return "Restarting, site does not support REST";
    default:
        return {};
    }
}

StatusPage::StatusPage(download::StatusView& status, QWidget* parent)
    : QTreeView(parent), status_(status),
      model_(new StatusModel(status.liststatus, qtList(download::StatusView::columns()), this)) {
    setObjectName("liststatus");
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setModel(model_);
    header()->setSectionsClickable(false);
    header()->setStretchLastSection(true);
    model_->bindSelection(selectionModel());
    const std::vector<int> widths = defaultWidths();
    for (std::size_t c = 0; c < widths.size(); ++c)
        setColumnWidth(static_cast<int>(c), widths[c]);
    setColumnHidden(download::StatusView::ColStateNo, true);
    setToolTip("Double-click port number to disconnect site");
    connect(this, &QTreeView::doubleClicked, this, [this] { status_.liststatusDblClick(); });

    download_ = new QMenu(this);
    download_->setObjectName("download");
    download_->addAction("Cancel Download", this, [this] { status_.CancelDownload1Click(); });
    download_->addAction("[Port numbers must be selected to cancel]")->setEnabled(false);
}

StatusPage::~StatusPage() {
    setModel(nullptr);
}

std::vector<int> StatusPage::defaultWidths() const {
    std::vector<int> w = download::StatusView::columnWidths();
    const QFontMetrics m(font());
    auto fit = [&](int column, const QString& text) {
        w[static_cast<std::size_t>(column)] =
            std::max(w[static_cast<std::size_t>(column)], m.horizontalAdvance(text) + TextPadding);
    };
    fit(download::StatusView::ColState, "Setting up connection");
    fit(download::StatusView::ColProgress, "100KB done");
    return w;
}

void StatusPage::restoreWidths(const platform::StringList& stored) {
    std::vector<int> widths;
    for (const std::string& c : stored) {
        bool ok = false;
        const int v = QString::fromStdString(c).toInt(&ok);
        if (!ok || v < 0 || v > MaxColumnWidth) return;
        widths.push_back(v);
    }
    if (widths.size() != download::StatusView::columnWidths().size() || widths == FormerDefaultWidths) return;
    for (std::size_t c = 0; c < widths.size(); ++c)
        if (static_cast<int>(c) != download::StatusView::ColStateNo)
            setColumnWidth(static_cast<int>(c), widths[c]);
}

platform::StringList StatusPage::storedWidths() const {
    platform::StringList out;
    for (int c = 0; c < model_->columnCount(); ++c)
        out.push_back(std::to_string(isColumnHidden(c) ? 0 : columnWidth(c)));
    return out;
}

void StatusPage::liststatusMouseUp(const QPoint& pos) {
    const QPoint origin = viewport()->mapTo(window(), QPoint(0, 0));
    const QRect frame = window()->frameGeometry();
    download_->popup(
        QPoint(frame.left() + origin.x() + pos.x() - 20, frame.top() + origin.y() + pos.y() + 30));
}

void StatusPage::mouseReleaseEvent(QMouseEvent* event) {
    QTreeView::mouseReleaseEvent(event);
    if (event->button() == Qt::RightButton) liststatusMouseUp(event->position().toPoint());
}

} // namespace gui
