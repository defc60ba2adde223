// Link extraction fed in arbitrary blocks: the first byte of the input picks
// the block sizes, the rest is the page. A page must yield the same table
// whether it arrives whole or cut into blocks, and whichever scan kernel
// looks at it (the plain one against the machine's best), with http links
// off and on.
#include "results/result_table.h"
#include "results/site_stats.h"
#include "search/link_extraction.h"
#include "url/urlinfo.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Wired as the main window wires them.
struct Rig {
    url::UrlInfo urlinfo;
    results::SiteStats stats;
    results::ResultTable table{urlinfo, stats};
    search::LinkExtractor extractor{[this] { return table.linklist.size(); }};
    bool http = false;

    explicit Rig(bool httpLinks) : http(httpLinks) {
        extractor.linkFound.connect([this](const std::string& url) { table.addlink(url); });
        extractor.offerHttpLinks([this] { return http; });
    }

    std::vector<std::string> urls() const {
        std::vector<std::string> out;
        for (const auto& row : table.List.Items())
            out.push_back(row.cell(3));
        return out;
    }
};

// The table of the page whole or cut into blocks of 1 .. 16
// characters from the seed's bits, repeating.
std::vector<std::string> tableOf(std::string_view page, bool http, unsigned seed, bool cut) {
    Rig r(http);
    search::ScanState st;
    if (!cut) {
        r.extractor.compileClick(page, st);
    } else {
        std::size_t pos = 0, i = 0;
        while (pos < page.size()) {
            const std::size_t n = 1 + ((seed >> (i++ % 5)) & 15);
            r.extractor.compileClick(page.substr(pos, n), st);
            pos += n;
        }
    }
    r.extractor.endPage(st);
    return r.urls();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned seed = data[0];
    const std::string_view page(reinterpret_cast<const char*>(data) + 1, size - 1);
    static const search::ScanKernel best = search::scanKernel();

    for (const bool http : {false, true}) {
        const std::vector<std::string> whole = tableOf(page, http, seed, false);
        if (tableOf(page, http, seed, true) != whole) std::abort();
        if (best != search::ScanKernel::Plain) {
            search::setScanKernel(search::ScanKernel::Plain);
            const std::vector<std::string> plain = tableOf(page, http, seed, false);
            search::setScanKernel(best);
            if (plain != whole) std::abort();
        }
    }
    return 0;
}
