#include "results/stats_storage.h"

namespace results {

platform::StringList readStoredList(const platform::TIniFile& file, const std::string& section) {
    platform::StringList items;
    const int count = file.ReadInteger(section, "Count", 0);
    if (count <= 0) return items;
    items.reserve(static_cast<std::size_t>(count));
    std::string key = "Item";
    for (int i = 0; i < count; ++i) {
        key.resize(4);
        key += std::to_string(i);
        items.push_back(file.ReadString(section, key, ""));
    }
    return items;
}

void loadStats(const platform::TIniFile& file, SiteStats& stats) {
    platform::StringList ip = readStoredList(file, StatsIpSection);
    platform::StringList good = readStoredList(file, StatsGoodSection);
    platform::StringList bad = readStoredList(file, StatsBadSection);
    // A list stored empty keeps what it holds (the placeholder rows at start).
    if (ip.empty()) ip = stats.stats_ip;
    if (good.empty()) good = stats.stats_good;
    if (bad.empty()) bad = stats.stats_bad;
    stats.setLists(std::move(ip), std::move(good), std::move(bad));
}

void loadStats(SiteStats& stats) {
    const platform::TIniFile file("wavbin");
    loadStats(file, stats);
}

} // namespace results
