// Link extraction fed in arbitrary blocks: the first byte of the input picks
// the block sizes, the rest is the page. A page must yield the same table
// whether it arrives whole or cut into blocks.
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

    Rig() {
        extractor.linkFound.connect([this](const std::string& url) { table.addlink(url); });
    }

    std::vector<std::string> urls() const {
        std::vector<std::string> out;
        for (const auto& row : table.List.Items())
            out.push_back(row.cell(3));
        return out;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned seed = data[0];
    const std::string_view page(reinterpret_cast<const char*>(data) + 1, size - 1);

    Rig whole;
    search::ScanState st;
    whole.extractor.compileClick(page, st);
    whole.extractor.endPage(st);

    Rig cut;
    search::ScanState cs;
    std::size_t pos = 0, i = 0;
    while (pos < page.size()) {
        // Block sizes 1 .. 16 from the seed's bits, repeating.
        const std::size_t n = 1 + ((seed >> (i++ % 5)) & 15);
        cut.extractor.compileClick(page.substr(pos, n), cs);
        pos += n;
    }
    cut.extractor.endPage(cs);

    if (whole.urls() != cut.urls()) std::abort();
    return 0;
}
