#pragma once
// The download status page (liststatus): one row per slot, its pop-up menu
// "download", cancelling the selected slots, and the column widths kept
// between runs.

#include "download/status.h"
#include "platform/listview.h"

#include <QTreeView>

class QMenu;

namespace gui {

class ListViewModel;

// What a slot is doing, in the words of the State column, by its state
// number and whether bytes have arrived (a progress text is shown).
QString slotStateText(int state, bool bytesArrived);

class StatusPage : public QTreeView {
    Q_OBJECT
public:
    explicit StatusPage(download::StatusView& status, QWidget* parent = nullptr);
    ~StatusPage() override;

    // The widths a new window starts with: wide enough for the State and
    // Progress texts in the window's font.
    std::vector<int> defaultWidths() const;
    // The stored widths (one per column); a list of another length, with a
    // value that is no width, or the widths earlier versions started with,
    // keeps the defaults. "State #" stays hidden.
    void restoreWidths(const platform::StringList& stored);
    platform::StringList storedWidths() const;

    QMenu* downloadMenu() const { return download_; }
    // A mouse button released over the list: the menu opens under the pointer.
    void liststatusMouseUp(const QPoint& pos);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    download::StatusView& status_;
    ListViewModel* model_;
    QMenu* download_;
};

} // namespace gui
