// The URL splitter (info, with its cache) and percent decoding.
#include "search/link_extraction.h"
#include "url/urlinfo.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A fresh splitter per input (its second answer comes from its cache).
    // (Inside a struct with a constructor of its own: clang 14 crashes compiling a
    // UrlInfo made on its own.)
    struct Splitter {
        Splitter() {}
        url::UrlInfo info;
    } splitter;
    const std::string url(reinterpret_cast<const char*>(data), size);
    const url::tlinfo fresh = url::splitUrl(url);
    // The cache never answers differently from splitting afresh.
    if (!(splitter.info.info(url) == fresh) || !(splitter.info.info(url) == fresh)) std::abort();
    if (fresh.url != url) std::abort();
    const std::string decoded = search::percentDecode(url);
    if (decoded.size() > url.size()) std::abort();
    return 0;
}
