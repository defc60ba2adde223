#pragma once
// The main window's core without any widget: it owns the program's state and
// wires the components together. Each component takes references to the
// components it needs; this object only creates them in a workable order.

#include "download/pending.h"
#include "results/result_table.h"
#include "results/site_stats.h"
#include "search/link_extraction.h"
#include "search/urlinfo.h"

namespace shell {

class Wavetrap {
public:
    Wavetrap();
    Wavetrap(const Wavetrap&) = delete;
    Wavetrap& operator=(const Wavetrap&) = delete;

    search::UrlInfo urlinfo;            // the URL splitter and its cache
    download::PendingDownloads pending; // downloads in progress kept between runs
    results::ResultTable table;         // List, linklist, sites
    results::SiteStats stats;           // stats_ip, stats_good, stats_bad and the score
    search::LinkExtractor extractor;    // compileClick
};

} // namespace shell
