#pragma once
// The program's one URL splitter, with a small cache of recent answers, and
// the file-name lookup used by the search box and the download scheduler.

#include "platform/listview.h"

#include <array>
#include <cstdint>
#include <string>

namespace url {

// The parsed-link record: seven texts, in this order, and one integer that
// info does not fill (callers may keep what they like in it).
struct tlinfo {
    std::string port;  // after the last ":" of the site part; "21" when none is given
    std::string user;  // "anonymous" unless the link names a user
    std::string pass;  // AnonymousPassword unless the link names a password
    std::string site;  // the host, without user, password or port
    std::string dir;   // the path before the last "/" or "\"
    std::string fname; // the path after the last "/" or "\"
    std::string url;   // the URL exactly as given
    std::int32_t tag = 0;

    bool operator==(const tlinfo&) const = default;
};

// The password sent for a link that names none.
extern const char* const AnonymousPassword;

// Splits a URL without looking at any cache.
tlinfo splitUrl(const std::string& url);

class UrlInfo {
public:
    // URLs of 20 to 100 characters are cached, five entries per length.
    static constexpr std::size_t MinCachedLength = 20;
    static constexpr std::size_t MaxCachedLength = 100;
    static constexpr int SlotsPerLength = 5;

    // Splits a URL; never fails, any text yields a record. A repeated URL of a
    // cached length is answered from the cache (the answer is the same).
    tlinfo info(const std::string& url);

    // Empties the cache (done once when the main window is first shown).
    void clearCache();

private:
    struct Slot {
        std::string key; // empty: the slot is unused (an empty URL is never cached)
        tlinfo rec;
    };
    std::array<std::array<Slot, SlotsPerLength>, MaxCachedLength - MinCachedLength + 1> cache_;
};

// The file-name comparison: it answers false for every pair, so no two names
// ever count as the same by it.
bool name_cmp(const std::string& a, const std::string& b);

// The index of the last entry of list that name_cmp reports equal to name, or
// -1 when none; since name_cmp never reports equality, always -1.
int findname(const std::string& name, const platform::StringList& list);

} // namespace url
