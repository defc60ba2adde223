#pragma once
// The state the program keeps in list views: rows of text cells, each with a
// selected flag. Observers hear of every change so a window can render it;
// a list nobody renders is simply never observed.

#include <functional>
#include <string>
#include <vector>

namespace platform {

using StringList = std::vector<std::string>;

struct ListItem {
    std::vector<std::string> cells; // cells[0] is the caption, the rest the sub-items
    bool selected = false;
    std::string cell(std::size_t i) const { return i < cells.size() ? cells[i] : std::string(); }
};

struct ListChange {
    enum Kind { Inserted, Changed, Removed, Cleared, Visibility } kind;
    int row; // the row concerned; -1 for Cleared and Visibility
};

class ListView {
public:
    using Observer = std::function<void(const ListChange&)>;

    int Count() const { return static_cast<int>(rows_.size()); }
    const ListItem& Item(int row) const { return rows_.at(static_cast<std::size_t>(row)); }
    const std::vector<ListItem>& Items() const { return rows_; }

    // Inserts before row (row == Count() appends); answers the new row's index.
    int Insert(int row, std::vector<std::string> cells);
    int Add(std::vector<std::string> cells) { return Insert(Count(), std::move(cells)); }
    void SetCell(int row, std::size_t col, const std::string& text);
    void SetSelected(int row, bool on);
    void Delete(int row);
    void Clear();

    std::vector<int> SelectedRows() const;
    int SelCount() const;

    bool Visible() const { return visible_; }
    void SetVisible(bool on);

    // Answers a handle for Unsubscribe.
    int Subscribe(Observer fn);
    void Unsubscribe(int handle);

private:
    void notify(ListChange::Kind kind, int row);
    std::vector<ListItem> rows_;
    std::vector<std::pair<int, Observer>> observers_;
    int nextHandle_ = 1;
    bool visible_ = true;
};

} // namespace platform
