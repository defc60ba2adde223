#include "results/site_stats.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace results {

int StrToIntDef(const std::string& text, int def) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool neg = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) neg = text[i++] == '-';
    if (i == text.size()) return def;
    long long v = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return def;
        v = v * 10 + (c - '0');
        if (v > 2147483648LL) return def;
    }
    if (neg) v = -v;
    if (v > INT_MAX) return def;
    return static_cast<int>(v);
}

int scoreFromCounts(int good, int bad) {
    if (bad <= 0) bad = 4; // no defined ratio: counted like a bad count that is not a number
    // Extended precision, division first; the default rounding mode sends
    // halves to the even neighbour.
    const long double q = static_cast<long double>(good) / static_cast<long double>(bad) * 1000.0L;
    const long double r = std::nearbyint(q);
    if (r >= static_cast<long double>(INT_MAX)) return INT_MAX;
    if (r <= static_cast<long double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(r);
}

const platform::StringList& SiteStats::placeholderSites() {
    static const platform::StringList v{"placeholder-1.invalid", "placeholder-2.invalid",
                                        "placeholder-3.invalid"};
    return v;
}
const platform::StringList& SiteStats::placeholderGood() {
    static const platform::StringList v{"1", "1", "1"};
    return v;
}
const platform::StringList& SiteStats::placeholderBad() {
    static const platform::StringList v{"10", "20", "30"};
    return v;
}

SiteStats::SiteStats() : ip_(placeholderSites()), good_(placeholderGood()), bad_(placeholderBad()) {
    rebuildIndex();
}

void SiteStats::setLists(platform::StringList ip, platform::StringList good, platform::StringList bad) {
    const std::size_t n = std::min({ip.size(), good.size(), bad.size()});
    ip.resize(n);
    good.resize(n);
    bad.resize(n);
    ip_ = std::move(ip);
    good_ = std::move(good);
    bad_ = std::move(bad);
    rebuildIndex();
}

void SiteStats::rebuildIndex() {
    index_.clear();
    index_.reserve(ip_.size());
    for (std::size_t k = 0; k < ip_.size(); ++k) {
        auto [it, added] = index_.try_emplace(ip_[k], Rows{k, k});
        if (!added) it->second.last = k;
    }
}

int SiteStats::cachelookup(const std::string& name) {
    const auto it = index_.find(name);
    if (it == index_.end()) return UnknownScore;
    const std::size_t k = it->second.last; // the row furthest down
    const int g = StrToIntDef(good_[k], 1234);
    if (g == 1234) {
        Statistics1Click();
        return CorruptScore;
    }
    return scoreFromCounts(g, StrToIntDef(bad_[k], 4));
}

int SiteStats::ip_to_score(const std::string& name) {
    const std::size_t len = name.size();
    const bool memo = len >= MemoMinLength && len <= MemoMaxLength;
    if (memo) {
        const MemoSlot& s = memo_[len - MemoMinLength];
        if (s.used && s.name == name) return s.score;
    }
    const int score = cachelookup(name);
    if (memo) memo_[len - MemoMinLength] = MemoSlot{true, name, score};
    return score;
}

std::size_t SiteStats::rowForCount(const std::string& name) {
    const auto it = index_.find(name);
    if (it != index_.end()) return it->second.first; // the row nearest the top
    ip_.push_back(name);
    bad_.push_back("5");
    good_.push_back("1");
    const std::size_t k = ip_.size() - 1;
    index_.emplace(name, Rows{k, k});
    return k;
}

void SiteStats::count(const std::string& name, int increment, bool good) {
    const std::size_t k = rowForCount(name);
    std::string& cell = good ? good_[k] : bad_[k];
    const long long v = static_cast<long long>(StrToIntDef(cell, 0)) + increment;
    cell = std::to_string(std::min<long long>(v, INT_MAX)); // a count never wraps round to negative
    cacheinit();
}

void SiteStats::addgood(const std::string& name) {
    count(name, 25, true);
}
void SiteStats::addbad(const std::string& name) {
    count(name, 1, false);
}

void SiteStats::cacheinit() {
    for (MemoSlot& s : memo_)
        s = MemoSlot{};
    scoresChanged();
}

void SiteStats::Statistics1Click() {
    ip_.clear();
    bad_.clear();
    good_.clear();
    index_.clear();
    statisticsReset();
}

} // namespace results
