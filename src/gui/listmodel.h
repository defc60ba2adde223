#pragma once
// A Qt item model over one of the core's list views. It follows the list's
// change notices row by row (insert, remove, cells changed, reset) and keeps a
// view's selection and the list's selection in step; it never changes a row.

#include "platform/listview.h"

#include <QAbstractTableModel>
#include <QItemSelectionModel>
#include <QPointer>
#include <QSortFilterProxyModel>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <functional>

class QAbstractItemView;

namespace gui {

// The core's 8-bit text for display: UTF-8 when it is valid, else Latin-1.
QString toQt(const std::string& text);
std::string fromQt(const QString& text);

class ListViewModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // headers: the column titles; a list-style view passes one.
    ListViewModel(platform::ListView& list, QStringList headers, QObject* parent = nullptr);
    ~ListViewModel() override;

    platform::ListView& list() const { return list_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Keeps this selection model and the list's selected flags in step: a
    // selection made in the view selects the rows in the list, and one set in
    // the list (by a command or a test) shows in the view.
    void bindSelection(QItemSelectionModel* selection);
    // The same for a view that shows the rows through a proxy (sorted or
    // filtered): its selection is mapped to the list's rows and back; a row
    // the proxy hides is not selected.
    void bindSelection(QItemSelectionModel* selection, QAbstractProxyModel* proxy);

private:
    void copySelectionToList();
    void copySelectionToView(int first, int last);

    platform::ListView& list_;
    QStringList headers_;
    QPointer<QItemSelectionModel> selection_;
    QPointer<QAbstractProxyModel> proxy_;
    bool syncing_ = false;
    platform::Receiver receiver_; // last: the connections end before the members they use
};

// The rows of a list model as a view shows them: in the list's own order
// until a column is chosen to sort by, and only those the filter shows. Cells
// that are whole numbers sort by their value, others by their text.
class SortFilterRows : public QSortFilterProxyModel {
    Q_OBJECT
public:
    SortFilterRows(std::function<bool(int)> shown, QObject* parent = nullptr);
    // The filter changed: every row is asked again.
    void refilter() { invalidateFilter(); }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    std::function<bool(int)> shown_;
};

// Rows that come in a burst (a search fills the table from fifty pages at
// once) would each lay out and redraw the whole view, and drawing the long
// URLs would cost more than the search itself. While rows keep coming, the
// view is drawn at most once per interval: the rows of one interval show
// together when it ends, and a view that receives no rows draws as usual.
class BurstRepaint : public QObject {
public:
    BurstRepaint(QAbstractItemView* view, std::chrono::milliseconds interval);
    // No more rows are coming (a search ended): what is held back is drawn now.
    void flush();

private:
    void rowsArrived();
    void intervalEnded();

    QAbstractItemView* view_;
    QTimer timer_;
};

} // namespace gui
