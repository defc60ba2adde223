#include "results/site_stats.h"

#include "platform/prefetch.h"
#include "platform/text.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>

namespace results {

int StrToIntDef(const std::string& text, int def) {
    const std::size_t start = text.find_first_not_of(' ');
    return platform::parseDecimalInt(
        start == std::string::npos ? std::string_view() : std::string_view(text).substr(start), def);
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

namespace {

std::uint32_t nameHash(const std::string& name) {
    const std::size_t h = std::hash<std::string>{}(name);
    return static_cast<std::uint32_t>(h ^ (h >> 32));
}

} // namespace

void SiteStats::rebuildIndex() {
    std::size_t size = 16;
    while (size < 2 * ip_.size())
        size *= 2;
    index_.assign(size, Rows{});
    indexed_ = 0;
    const std::size_t mask = index_.size() - 1;
    platform::fillIndexAhead(
        ip_.size(), [&](std::size_t k) { return nameHash(ip_[k]); },
        [&](std::uint32_t hash) { return &index_[hash & mask]; },
        [&](std::size_t k, std::uint32_t hash) { indexRow(k, hash); });
}

const SiteStats::Rows* SiteStats::findRows(const std::string& name) const {
    if (index_.empty()) return nullptr;
    const std::uint32_t hash = nameHash(name);
    const std::size_t mask = index_.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const Rows& r = index_[at];
        if (r.first == NoRow) return nullptr;
        if (r.hash == hash && ip_[r.first] == name) return &r;
    }
}

void SiteStats::growIndex() {
    std::vector<Rows> old = std::move(index_);
    index_.assign(std::max<std::size_t>(16, 2 * old.size()), Rows{});
    const std::size_t mask = index_.size() - 1;
    for (const Rows& r : old) {
        if (r.first == NoRow) continue;
        std::size_t at = r.hash & mask;
        while (index_[at].first != NoRow)
            at = (at + 1) & mask;
        index_[at] = r;
    }
}

// Adds row k (the lowest row so far), whose name hashes to hash, to the index.
void SiteStats::indexRow(std::size_t k, std::uint32_t hash) {
    if (2 * (indexed_ + 1) > index_.size()) growIndex();
    const std::size_t mask = index_.size() - 1;
    std::size_t at = hash & mask;
    for (; index_[at].first != NoRow; at = (at + 1) & mask) {
        if (index_[at].hash == hash && ip_[index_[at].first] == ip_[k]) {
            index_[at].last = static_cast<std::uint32_t>(k);
            return;
        }
    }
    index_[at] = Rows{static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(k), hash};
    ++indexed_;
}

int SiteStats::cachelookup(const std::string& name) {
    const Rows* rows = findRows(name);
    if (rows == nullptr) return UnknownScore;
    const std::size_t k = rows->last; // the row furthest down
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
    if (const Rows* rows = findRows(name)) return rows->first; // the row nearest the top
    ip_.push_back(name);
    bad_.push_back("5");
    good_.push_back("1");
    const std::size_t k = ip_.size() - 1;
    indexRow(k, nameHash(name));
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
    indexed_ = 0;
    statisticsReset();
}

} // namespace results
