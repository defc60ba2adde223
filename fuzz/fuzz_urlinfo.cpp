// The URL splitter (info, with its cache) and percent decoding.
#include "search/link_extraction.h"
#include "url/urlinfo.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Kept across inputs, as in the program. (Assigned, not initialised:
    // clang 14 crashes trying to evaluate its initialiser at compile time.)
    static url::UrlInfo* cached = nullptr;
    if (!cached) cached = new url::UrlInfo;
    const std::string url(reinterpret_cast<const char*>(data), size);
    const url::tlinfo fresh = url::splitUrl(url);
    // The cache never answers differently from splitting afresh.
    if (!(cached->info(url) == fresh) || !(cached->info(url) == fresh)) std::abort();
    if (fresh.url != url) std::abort();
    const std::string decoded = search::percentDecode(url);
    if (decoded.size() > url.size()) std::abort();
    return 0;
}
