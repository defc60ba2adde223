#include "gui/listmodel.h"

#include <QAbstractItemView>
#include <QStringDecoder>

namespace gui {

QString toQt(const std::string& text) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString s = utf8(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    if (!utf8.hasError()) return s;
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string fromQt(const QString& text) {
    return text.toUtf8().toStdString();
}

ListViewModel::ListViewModel(platform::ListView& list, QStringList headers, QObject* parent)
    : QAbstractTableModel(parent), list_(list), headers_(std::move(headers)) {
    list_.rowsAboutToBeInserted.connect(receiver_,
                                        [this](int first, int last) { beginInsertRows({}, first, last); });
    list_.rowsInserted.connect(receiver_, [this](int first, int last) {
        endInsertRows();
        copySelectionToView(first, last);
    });
    list_.rowsAboutToBeRemoved.connect(receiver_,
                                       [this](int first, int last) { beginRemoveRows({}, first, last); });
    list_.rowsRemoved.connect(receiver_, [this](int, int) { endRemoveRows(); });
    list_.cellsChanged.connect(receiver_, [this](int first, int last) {
        emit dataChanged(index(first, 0), index(last, columnCount() - 1), {Qt::DisplayRole});
    });
    list_.aboutToBeReset.connect(receiver_, [this] { beginResetModel(); });
    list_.wasReset.connect(receiver_, [this] { endResetModel(); });
    list_.selectionChanged.connect(receiver_,
                                   [this](int first, int last) { copySelectionToView(first, last); });
}

ListViewModel::~ListViewModel() = default;

int ListViewModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : list_.Count();
}

int ListViewModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant ListViewModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= list_.Count()) return {};
    if (role == Qt::DisplayRole)
        return toQt(list_.Item(index.row()).cell(static_cast<std::size_t>(index.column())));
    return {};
}

QVariant ListViewModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < headers_.size())
        return headers_.at(section);
    return {};
}

void ListViewModel::bindSelection(QItemSelectionModel* selection) {
    bindSelection(selection, nullptr);
}

void ListViewModel::bindSelection(QItemSelectionModel* selection, QAbstractProxyModel* proxy) {
    selection_ = selection;
    proxy_ = proxy;
    connect(selection, &QItemSelectionModel::selectionChanged, this, [this] { copySelectionToList(); });
    copySelectionToView(0, list_.Count() - 1);
}

void ListViewModel::copySelectionToList() {
    if (syncing_ || !selection_) return;
    std::vector<int> rows;
    for (const QModelIndex& i : selection_->selectedRows())
        rows.push_back(proxy_ ? proxy_->mapToSource(i).row() : i.row());
    std::sort(rows.begin(), rows.end());
    syncing_ = true;
    list_.SetSelection(rows);
    syncing_ = false;
}

void ListViewModel::copySelectionToView(int first, int last) {
    if (syncing_ || !selection_ || first > last || list_.Count() == 0) return;
    last = std::min(last, list_.Count() - 1);
    QItemSelection on, off;
    for (int r = first; r <= last; ++r) {
        QItemSelection& s = list_.Item(r).selected ? on : off;
        s.select(index(r, 0), index(r, columnCount() - 1));
    }
    if (proxy_) {
        on = proxy_->mapSelectionFromSource(on);
        off = proxy_->mapSelectionFromSource(off);
    }
    syncing_ = true;
    if (!off.isEmpty()) selection_->select(off, QItemSelectionModel::Deselect);
    if (!on.isEmpty()) selection_->select(on, QItemSelectionModel::Select);
    syncing_ = false;
}

SortFilterRows::SortFilterRows(std::function<bool(int)> shown, QObject* parent)
    : QSortFilterProxyModel(parent), shown_(std::move(shown)) {
    setDynamicSortFilter(true);
}

bool SortFilterRows::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    return !shown_ || shown_(sourceRow);
}

bool SortFilterRows::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const QString a = left.data().toString(), b = right.data().toString();
    bool numberA = false, numberB = false;
    const qlonglong x = a.toLongLong(&numberA), y = b.toLongLong(&numberB);
    if (numberA && numberB) return x < y;
    if (numberA != numberB) return numberA; // numbers before words
    return a.localeAwareCompare(b) < 0;
}

BurstRepaint::BurstRepaint(QAbstractItemView* view, std::chrono::milliseconds interval)
    : QObject(view), view_(view) {
    timer_.setSingleShot(true);
    timer_.setInterval(interval);
    connect(&timer_, &QTimer::timeout, this, &BurstRepaint::intervalEnded);
    connect(view->model(), &QAbstractItemModel::rowsInserted, this, &BurstRepaint::rowsArrived);
}

void BurstRepaint::rowsArrived() {
    // The first rows after a quiet interval are drawn at once; later ones wait.
    if (timer_.isActive())
        view_->setUpdatesEnabled(false); // its scroll bars too: their range changes with every row
    else
        timer_.start();
}

void BurstRepaint::flush() {
    timer_.stop();
    view_->setUpdatesEnabled(true);
}

void BurstRepaint::intervalEnded() {
    if (view_->updatesEnabled()) return;
    view_->setUpdatesEnabled(true); // draws the whole view once
    timer_.start();                 // and holds back the rows of the next interval
}

} // namespace gui
