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
    items_.push_back(entry);
    notify();
}

bool EngineList::addDefaultEngines() {
    if (!items_.empty()) return false;
    for (const char* e : DefaultEngines)
        addengine(e);
    return true;
}

void EngineList::Delete(int index) {
    if (index < 0 || index >= Count()) return;
    items_.erase(items_.begin() + index);
    if (itemIndex_ >= Count()) itemIndex_ = -1;
    notify();
}

void EngineList::Clear() {
    items_.clear();
    itemIndex_ = -1;
    notify();
}

void EngineList::SetItemIndex(int index) {
    itemIndex_ = index >= 0 && index < Count() ? index : -1;
    notify();
}

int EngineList::Subscribe(Observer fn) {
    observers_.emplace_back(nextHandle_, std::move(fn));
    return nextHandle_++;
}

void EngineList::Unsubscribe(int handle) {
    std::erase_if(observers_, [handle](const auto& o) { return o.first == handle; });
}

void EngineList::notify() {
    const auto copy = observers_; // an observer may unsubscribe
    for (const auto& o : copy)
        o.second();
}

std::string queryPhrase(const std::string& text) {
    std::string r = text;
    std::replace(r.begin(), r.end(), ' ', '+');
    return r;
}

} // namespace search
