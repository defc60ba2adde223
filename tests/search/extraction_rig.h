#pragma once
// Link extraction feeding the result table, wired as the main window wires them.

#include "results/table_rig.h"
#include "search/link_extraction.h"

#include <string>

namespace searchtest {

struct ExtractionRig : resultstest::TableRig {
    search::LinkExtractor extractor{[this] { return table.linklist.size(); }};
    bool httpLinks = false; // the setting httplinks

    ExtractionRig() {
        extractor.offerHttpLinks([this] { return httpLinks; });
        extractor.linkFound.connect([this](const std::string& url) { table.addlink(url); });
        extractor.scanned.connect([this] { table.List.SetVisible(true); });
    }
};

} // namespace searchtest
