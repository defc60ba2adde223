#pragma once
// The search engine list ("startlinks"): one engine entry per line, the
// engine's host, path and the start of its query ("host/path?field="); the
// phrase is appended to it. The order of the list is the order in which the
// queries are built and started. Also the search box with its phrase history.

#include "platform/listview.h"
#include "platform/signal.h"

#include <array>
#include <string>

namespace search {

// The seven built-in entries, added when the list is empty after the settings
// are loaded. The hosts are reserved documentation addresses and names, since
// the original services are gone; paths and query prefixes are the engines'.
extern const std::array<const char*, 7> DefaultEngines;

class EngineList {
public:
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

    // ---- Change notices, as platform::ListView gives them (rows first..last) ----
    platform::Signal<int, int> rowsAboutToBeInserted, rowsInserted;
    platform::Signal<int, int> rowsAboutToBeRemoved, rowsRemoved;
    platform::Signal<> aboutToBeReset, wasReset; // Clear
    platform::Signal<int> itemIndexChanged;      // the new selected line, -1 for none

private:
    void setItemIndex(int index);
    platform::StringList items_;
    int itemIndex_ = -1;
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
