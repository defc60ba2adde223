#pragma once
// The download status page (liststatus): one row per slot as the core tells
// it (the State column in the scheduler's words), its pop-up menu
// "download", cancelling the selected slots, and the column widths kept
// between runs.

#include "platform/listview.h"

#include <QTreeView>

class QMenu;

namespace shell {
class Wavetrap;
}

namespace gui {

class ListViewModel;

class StatusPage : public QTreeView {
    Q_OBJECT
public:
    explicit StatusPage(shell::Wavetrap& core, QWidget* parent = nullptr);
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
    shell::Wavetrap& core_;
    ListViewModel* model_;
    QMenu* download_;
};

} // namespace gui
