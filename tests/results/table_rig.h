#pragma once
// The result table and the site statistics wired as the main window wires
// them, for tests; resets counts the statistics' reset notices.

#include "results/result_table.h"
#include "results/site_stats.h"
#include "url/urlinfo.h"

namespace resultstest {

struct TableRig {
    url::UrlInfo urlinfo;
    results::SiteStats stats;
    results::ResultTable table{urlinfo, stats};
    int resets = 0;

    TableRig() {
        stats.statisticsReset.connect([this] { ++resets; });
    }
};

} // namespace resultstest
