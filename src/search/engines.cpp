#include "search/engines.h"

#include <algorithm>

namespace search {

const std::array<const char*, 7> DefaultEngines = {
    "192.0.2.17/search.exe?search.exehtyp=AND&MP3Name=",
    "198.51.100.23/~brandl/mp3/search.cgi?noratio=yes&file=",
    "ftpsearch.example/cgi-bin/search?doit=Search&limpath=mp3&sort=hostdist&hits=0100&query=",
    "mp3.search.example/cgi-bin/s?d=m&q=",
    "203.0.113.45/~tavi/search.cgi?p=",
    "robot.example/cgi-bin/osk/robot/robot?project=mp3&srch=",
    "music.example/cgi-bin/search/search.pl?searchstring=",
};

void EngineList::addengine(const std::string& entry) {
    if (std::find(items_.begin(), items_.end(), entry) != items_.end()) return;
    const int row = Count();
    rowsAboutToBeInserted(row, row);
    items_.push_back(entry);
    rowsInserted(row, row);
}

bool EngineList::addDefaultEngines() {
    if (!items_.empty()) return false;
    for (const char* e : DefaultEngines)
        addengine(e);
    return true;
}

void EngineList::Delete(int index) {
    if (index < 0 || index >= Count()) return;
    rowsAboutToBeRemoved(index, index);
    items_.erase(items_.begin() + index);
    rowsRemoved(index, index);
    if (itemIndex_ >= Count()) setItemIndex(-1);
}

void EngineList::Clear() {
    aboutToBeReset();
    items_.clear();
    itemIndex_ = -1;
    wasReset();
}

void EngineList::SetItemIndex(int index) {
    setItemIndex(index >= 0 && index < Count() ? index : -1);
}

void EngineList::setItemIndex(int index) {
    if (index == itemIndex_) return;
    itemIndex_ = index;
    itemIndexChanged(index);
}

std::string queryPhrase(const std::string& text) {
    std::string r = text;
    std::replace(r.begin(), r.end(), ' ', '+');
    return r;
}

} // namespace search
