#include "platform/listview.h"

#include <algorithm>
#include <stdexcept>

namespace platform {

int ListView::Insert(int row, std::vector<std::string> cells) {
    row = std::clamp(row, 0, Count());
    rowsAboutToBeInserted(row, row);
    rows_.insert(rows_.begin() + row, ListItem{std::move(cells), false});
    rowsInserted(row, row);
    return row;
}

void ListView::SetCell(int row, std::size_t col, const std::string& text) {
    ListItem& it = rows_.at(static_cast<std::size_t>(row));
    if (it.cells.size() <= col) it.cells.resize(col + 1);
    if (it.cells[col] == text) return;
    it.cells[col] = text;
    cellsChanged(row, row);
}

void ListView::SetSelected(int row, bool on) {
    ListItem& it = rows_.at(static_cast<std::size_t>(row));
    if (it.selected == on) return;
    it.selected = on;
    selectionChanged(row, row);
}

void ListView::SetSelection(const std::vector<int>& rows) {
    std::vector<bool> want(rows_.size(), false);
    for (int r : rows)
        want.at(static_cast<std::size_t>(r)) = true;
    int first = -1, last = -1;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].selected == want[i]) continue;
        rows_[i].selected = want[i];
        if (first < 0) first = static_cast<int>(i);
        last = static_cast<int>(i);
    }
    if (first >= 0) selectionChanged(first, last);
}

void ListView::Delete(int row) {
    if (row < 0 || row >= Count()) throw std::out_of_range("list index out of bounds");
    rowsAboutToBeRemoved(row, row);
    rows_.erase(rows_.begin() + row);
    rowsRemoved(row, row);
}

void ListView::Clear() {
    aboutToBeReset();
    rows_.clear();
    wasReset();
}

std::vector<int> ListView::SelectedRows() const {
    std::vector<int> r;
    for (int i = 0; i < Count(); ++i)
        if (rows_[static_cast<std::size_t>(i)].selected) r.push_back(i);
    return r;
}

int ListView::SelCount() const {
    return static_cast<int>(
        std::count_if(rows_.begin(), rows_.end(), [](const ListItem& i) { return i.selected; }));
}

void ListView::SetVisible(bool on) {
    if (visible_ == on) return;
    visible_ = on;
    visibilityChanged(on);
}

} // namespace platform
