#pragma once
// The search engine list ("startlinks"): one engine entry per line, the
// engine's host, path and the start of its query ("host/path?field="); the
// phrase is appended to it. The order of the list is the order in which the
// queries are built and started. Also the search box with its phrase history.

#include "platform/listview.h"

#include <array>
#include <functional>
#include <string>

namespace search {

// The seven built-in entries, added when the list is empty after the settings
// are loaded. The hosts are reserved documentation addresses and names, since
// the original services are gone; paths and query prefixes are the engines'.
extern const std::array<const char*, 7> DefaultEngines;

class EngineList {
public:
    using Observer = std::function<void()>;

    const platform::StringList& Items() const { return items_; }
    int Count() const { return static_cast<int>(items_.size()); }
    const std::string& Item(int i) const { return items_.at(static_cast<std::size_t>(i)); }

    // Appends entry unless an equal item (exact, case-sensitive) is listed.
    void addengine(const std::string& entry);
    // Fills the seven defaults when the list is empty; answers whether it did.
    bool addDefaultEngines();
    void Delete(int index);
    void Clear();

    // The selected line, -1 for none.
    int ItemIndex() const { return itemIndex_; }
    void SetItemIndex(int index);

    // Told of every change of the items or of the selection.
    int Subscribe(Observer fn);
    void Unsubscribe(int handle);

private:
    void notify();
    platform::StringList items_;
    int itemIndex_ = -1;
    std::vector<std::pair<int, Observer>> observers_;
    int nextHandle_ = 1;
};

// The search box: its text is the phrase, its drop-down items the phrase
// history of the run, newest first (not saved).
struct SearchBox {
    std::string Text;
    platform::StringList Items;
};

// The phrase as sent: every space turned into "+", nothing else changed.
std::string queryPhrase(const std::string& text);

} // namespace search
