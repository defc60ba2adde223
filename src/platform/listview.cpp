#include "platform/listview.h"

#include <algorithm>
#include <stdexcept>

namespace platform {

int ListView::Insert(int row, std::vector<std::string> cells) {
    row = std::clamp(row, 0, Count());
    rows_.insert(rows_.begin() + row, ListItem{std::move(cells), false});
    notify(ListChange::Inserted, row);
    return row;
}

void ListView::SetCell(int row, std::size_t col, const std::string& text) {
    ListItem& it = rows_.at(static_cast<std::size_t>(row));
    if (it.cells.size() <= col) it.cells.resize(col + 1);
    if (it.cells[col] == text) return;
    it.cells[col] = text;
    notify(ListChange::Changed, row);
}

void ListView::SetSelected(int row, bool on) {
    ListItem& it = rows_.at(static_cast<std::size_t>(row));
    if (it.selected == on) return;
    it.selected = on;
    notify(ListChange::Changed, row);
}

void ListView::Delete(int row) {
    if (row < 0 || row >= Count()) throw std::out_of_range("list index out of bounds");
    rows_.erase(rows_.begin() + row);
    notify(ListChange::Removed, row);
}

void ListView::Clear() {
    rows_.clear();
    notify(ListChange::Cleared, -1);
}

std::vector<int> ListView::SelectedRows() const {
    std::vector<int> r;
    for (int i = 0; i < Count(); ++i)
        if (rows_[static_cast<std::size_t>(i)].selected) r.push_back(i);
    return r;
}

int ListView::SelCount() const {
    return static_cast<int>(std::count_if(rows_.begin(), rows_.end(), [](const ListItem& i) { return i.selected; }));
}

void ListView::SetVisible(bool on) {
    if (visible_ == on) return;
    visible_ = on;
    notify(ListChange::Visibility, -1);
}

int ListView::Subscribe(Observer fn) {
    observers_.emplace_back(nextHandle_, std::move(fn));
    return nextHandle_++;
}

void ListView::Unsubscribe(int handle) {
    std::erase_if(observers_, [handle](const auto& o) { return o.first == handle; });
}

void ListView::notify(ListChange::Kind kind, int row) {
    const ListChange change{kind, row};
    for (auto& o : observers_) o.second(change);
}

} // namespace platform
