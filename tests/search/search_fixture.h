#pragma once
// The parts of the program a search needs, wired as the main window does,
// and result pages to serve.

#include "extraction_rig.h"
#include "platform/eventloop.h"
#include "search/dispatch.h"
#include "search/engines.h"

#include <string>
#include <vector>

namespace searchtest {

// The paths and query prefixes of the seven built-in engine entries.
inline const char* const DefaultPaths[7] = {
    "/search.exe?search.exehtyp=AND&MP3Name=",
    "/~brandl/mp3/search.cgi?noratio=yes&file=",
    "/cgi-bin/search?doit=Search&limpath=mp3&sort=hostdist&hits=0100&query=",
    "/cgi-bin/s?d=m&q=",
    "/~tavi/search.cgi?p=",
    "/cgi-bin/osk/robot/robot?project=mp3&srch=",
    "/cgi-bin/search/search.pl?searchstring=",
};

struct SearchRig : ExtractionRig {
    search::EngineList startlinks;
    search::ProxyControls proxy;
    search::SearchDispatch d{startlinks, proxy, extractor};

    // Runs the loop until every query has ended and every client is released.
    bool settle(int maxMs = 10000) {
        return platform::runUntil([this] { return d.clientlist.empty() && d.clientsAlive() == 0; }, maxMs);
    }
    std::vector<std::string> urls() const {
        std::vector<std::string> out;
        for (const auto& row : table.List.Items())
            out.push_back(row.cell(3));
        return out;
    }
};

// A result page: filler text with the given links as quoted href values.
inline std::string resultPage(const std::vector<std::string>& links, std::size_t fillerBetween = 200) {
    std::string page = "<html><head><title>MP3 search</title></head><body><table>\n";
    const std::string filler = "<tr><td>some words of the engine's page</td></tr>\n";
    for (const std::string& l : links) {
        for (std::size_t n = 0; n < fillerBetween; n += filler.size())
            page += filler;
        page += "<tr><td><a href=\"" + l + "\">" + l + "</a></td></tr>\n";
    }
    return page + "</table></body></html>\n";
}

// The links of one engine: n files on one site.
inline std::vector<std::string> siteLinks(const std::string& site, int n) {
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i)
        out.push_back("ftp://" + site + "/pub/mp3/track_" + std::to_string(i) + ".mp3");
    return out;
}

} // namespace searchtest
