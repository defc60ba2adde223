#pragma once
// The state the program keeps in list views: rows of text cells, each with a
// selected flag. Every change is announced before and after it happens, with
// row ranges, so a window's item model can follow it row by row; a list
// nobody renders is simply never observed.

#include "platform/signal.h"

#include <string>
#include <vector>

namespace platform {

using StringList = std::vector<std::string>;

struct ListItem {
    std::vector<std::string> cells; // cells[0] is the caption, the rest the sub-items
    bool selected = false;
    std::string cell(std::size_t i) const { return i < cells.size() ? cells[i] : std::string(); }
};

class ListView {
public:
    int Count() const { return static_cast<int>(rows_.size()); }
    const ListItem& Item(int row) const { return rows_.at(static_cast<std::size_t>(row)); }
    const std::vector<ListItem>& Items() const { return rows_; }

    // Inserts before row (row == Count() appends); answers the new row's index.
    int Insert(int row, std::vector<std::string> cells);
    int Add(std::vector<std::string> cells) { return Insert(Count(), std::move(cells)); }
    void SetCell(int row, std::size_t col, const std::string& text);
    void SetSelected(int row, bool on);
    // Selects exactly these rows (others are deselected), announced as one change.
    void SetSelection(const std::vector<int>& rows);
    void Delete(int row);
    void Clear();

    std::vector<int> SelectedRows() const;
    int SelCount() const;

    bool Visible() const { return visible_; }
    void SetVisible(bool on);

    // ---- Change notices (rows first..last, inclusive) -------------------------
    platform::Signal<int, int> rowsAboutToBeInserted, rowsInserted;
    platform::Signal<int, int> rowsAboutToBeRemoved, rowsRemoved;
    platform::Signal<int, int> cellsChanged;     // the text of these rows changed
    platform::Signal<int, int> selectionChanged; // the selected flag of these rows changed
    platform::Signal<> aboutToBeReset, wasReset; // Clear
    platform::Signal<bool> visibilityChanged;

private:
    std::vector<ListItem> rows_;
    bool visible_ = true;
};

} // namespace platform
