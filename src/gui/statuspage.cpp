#include "gui/statuspage.h"

#include "gui/listmodel.h"
#include "shell/wavetrap.h"

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

} // namespace

StatusPage::StatusPage(shell::Wavetrap& core, QWidget* parent)
    : QTreeView(parent), core_(core),
      model_(new ListViewModel(core.statusRows(), qtList(shell::Wavetrap::statusColumns()), this)) {
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
    setColumnHidden(shell::Wavetrap::StatusColStateNo, true);
    setToolTip("Double-click port number to disconnect site");
    connect(this, &QTreeView::doubleClicked, this, [this] { core_.cancelSelectedDownloads(); });

    download_ = new QMenu(this);
    download_->setObjectName("download");
    download_->addAction("Cancel Download", this, [this] { core_.cancelSelectedDownloads(); });
    download_->addAction("[Port numbers must be selected to cancel]")->setEnabled(false);
}

StatusPage::~StatusPage() {
    setModel(nullptr);
}

std::vector<int> StatusPage::defaultWidths() const {
    std::vector<int> w = shell::Wavetrap::statusColumnWidths();
    const QFontMetrics m(font());
    auto fit = [&](int column, const QString& text) {
        w[static_cast<std::size_t>(column)] =
            std::max(w[static_cast<std::size_t>(column)], m.horizontalAdvance(text) + TextPadding);
    };
    fit(shell::Wavetrap::StatusColState, "Setting up connection");
    fit(shell::Wavetrap::StatusColProgress, "100KB done");
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
    if (widths.size() != shell::Wavetrap::statusColumnWidths().size() || widths == FormerDefaultWidths)
        return;
    for (std::size_t c = 0; c < widths.size(); ++c)
        if (static_cast<int>(c) != shell::Wavetrap::StatusColStateNo)
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
