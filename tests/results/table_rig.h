#pragma once
// The result table and the site statistics wired as the main window wires
// them, for tests.

#include "download/pending.h"
#include "results/result_table.h"
#include "results/site_stats.h"
#include "search/urlinfo.h"

namespace resultstest {

struct TableRig {
    search::UrlInfo urlinfo;
    download::PendingDownloads pending;
    results::ResultTable table{urlinfo, stats};
    results::SiteStats stats{table, pending};
};

} // namespace resultstest
