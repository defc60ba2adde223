#include "url/urlinfo.h"

#include "platform/system.h"

namespace url {

const char* const AnonymousPassword = "wavetrap@example.com";

namespace {

bool startsWithMailto(const std::string& u) {
    static constexpr char mailto[] = "mailto:";
    if (u.size() < 7) return false;
    for (std::size_t i = 0; i < 7; ++i) {
        char c = u[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != mailto[i]) return false;
    }
    return true;
}

} // namespace

tlinfo splitUrl(const std::string& u) {
    tlinfo r;
    // The scheme is not kept; the rest follows "://" (or "mailto:").
    std::string_view rest(u);
    if (const std::size_t s = u.find("://"); s != std::string::npos)
        rest.remove_prefix(s + 3);
    else if (startsWithMailto(u))
        rest.remove_prefix(7);

    const std::size_t slash = rest.find('/');
    const std::string_view authority = rest.substr(0, slash);
    const std::string_view path = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);

    // Positions from 1; 0 when absent.
    // The port's colon comes after an IPv6 literal's brackets ("[::1]:21").
    std::size_t colon = authority.rfind(':');
    if (const std::size_t close = authority.rfind(']'); close != std::string_view::npos && colon < close)
        colon = std::string_view::npos;
    const std::size_t at = authority.rfind('@');
    const std::size_t c = colon == std::string_view::npos ? 0 : colon + 1;
    const std::size_t t = at == std::string_view::npos ? 0 : at + 1;
    std::string_view userPart;
    if (c == 0 && t == 0) {
        r.site = authority;
        userPart = authority;
    } else if (c > t) {
        r.port = authority.substr(c);
        r.site = authority.substr(t, c - 1 - t);
        userPart = t > 0 ? authority.substr(0, t - 1) : authority;
    } else {
        r.site = authority.substr(t);
        userPart = authority.substr(0, t - 1);
    }

    if (t == 0 && !authority.empty() && authority.front() == '[') {
        // An IPv6 literal without a login: its colons are no password.
        r.user = r.site;
        r.pass = r.port;
    } else if (const std::size_t uc = userPart.find(':'); uc != std::string_view::npos) {
        r.user = userPart.substr(0, uc);
        r.pass = userPart.substr(uc + 1);
    } else {
        r.user = userPart;
    }

    if (const std::size_t sep = path.find_last_of("/\\"); sep != std::string_view::npos) {
        r.dir = path.substr(0, sep);
        r.fname = path.substr(sep + 1);
    }

    // Defaults: a user part that is just the site (or site:port) means no login.
    if (r.user == r.site) r.user = "anonymous";
    if (r.pass == r.port) r.pass = AnonymousPassword;
    if (r.port.empty()) r.port = "21";
    r.url = u;
    return r;
}

tlinfo UrlInfo::info(const std::string& url) {
    const std::size_t n = url.size();
    const bool cached = n >= MinCachedLength && n <= MaxCachedLength;
    if (cached) {
        for (const Slot& s : cache_[n - MinCachedLength])
            if (s.key == url) return s.rec;
    }
    tlinfo r = splitUrl(url);
    if (cached) {
        // Slot 1 most often, then 2, then 3; slots 4 and 5 are never written.
        const int r1 = platform::Random(4);
        const int r2 = platform::Random(r1);
        Slot& s = cache_[n - MinCachedLength][static_cast<std::size_t>(r2)];
        s.key = url;
        s.rec = r;
    }
    return r;
}

void UrlInfo::clearCache() {
    for (auto& length : cache_)
        for (Slot& s : length)
            s = Slot{};
}

bool name_cmp(const std::string&, const std::string&) {
    return false;
}

int findname(const std::string& name, const platform::StringList& list) {
    int found = -1;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (name_cmp(name, list[i])) found = static_cast<int>(i);
    return found;
}

} // namespace url
