#pragma once
// Reading the site statistics from the window storage file "wavbin":
// sections items.stats_ip_Items, items.stats_good_Items and
// items.stats_bad_Items, each with "Count" and "Item0", "Item1", ...
// A list whose stored Count is not above 0 keeps what it holds.

#include "platform/profile.h"
#include "results/site_stats.h"

#include <string>

namespace results {

constexpr const char* StatsIpSection = "items.stats_ip_Items";
constexpr const char* StatsGoodSection = "items.stats_good_Items";
constexpr const char* StatsBadSection = "items.stats_bad_Items";

// The items of a stored list of strings, or nothing when its Count is not above 0.
platform::StringList readStoredList(const platform::TIniFile& file, const std::string& section);

// Loads the three lists from file into stats (one read of the file).
void loadStats(const platform::TIniFile& file, SiteStats& stats);
// The same from "wavbin" in the settings directory.
void loadStats(SiteStats& stats);

} // namespace results
