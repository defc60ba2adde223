#pragma once
// The site statistics: for every site the count of finished downloads (good)
// and failed attempts (bad), kept between runs, and the score derived from
// them that orders the result table.

#include "platform/listview.h"
#include "platform/signal.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace results {

// A list item read as an integer: optional spaces, an optional sign and
// decimal digits; anything else (or a value out of range) gives def.
int StrToIntDef(const std::string& text, int def);

// The score of a site with good count g and bad count b: g / b * 1000,
// rounded to the nearest integer with halves to the even neighbour. A bad
// count of 0 or below counts as 4, like one that is not a number; a result
// beyond the integer range is held at its end.
int scoreFromCounts(int good, int bad);

class SiteStats {
public:
    static constexpr int UnknownScore = 250; // a site never counted
    static constexpr int CorruptScore = 256; // the lookup that found corrupt statistics
    static constexpr std::size_t MemoMinLength = 21;
    static constexpr std::size_t MemoMaxLength = 25;

    // The rows the lists hold when the settings file holds none.
    static const platform::StringList& placeholderSites();
    static const platform::StringList& placeholderGood();
    static const platform::StringList& placeholderBad();

    SiteStats();
    SiteStats(const SiteStats&) = delete;
    SiteStats& operator=(const SiteStats&) = delete;

    // The three parallel lists (site name, good count, bad count per row), to
    // read; they change only through the operations below.
    const platform::StringList& stats_ip = ip_;
    const platform::StringList& stats_good = good_;
    const platform::StringList& stats_bad = bad_;

    // Replaces the three lists at once (after loading them from the settings
    // file) and rebuilds the index. Lists of unequal length are cut to the
    // shortest, so every row has a name and both counts.
    void setLists(platform::StringList ip, platform::StringList good, platform::StringList bad);

    // The score of a site, answered from the memo for names of 21 to 25
    // characters that were looked up since the last count.
    int ip_to_score(const std::string& name);
    // The score of a site computed from the lists: 250 for an unknown site;
    // corrupt statistics (a good count that is not a number, or is 1234) are
    // all cleared, and that lookup answers 256.
    int cachelookup(const std::string& name);
    // Counts one finished download (+25 good) / one failed attempt (+1 bad);
    // a new site starts at good 1, bad 5. Then announces scoresChanged.
    void addgood(const std::string& name);
    void addbad(const std::string& name);
    // Empties the memo and announces scoresChanged.
    void cacheinit();
    // "Reset" -> "Statistics": empties the statistics, then announces
    // statisticsReset (the program empties the pending downloads on it).
    // Also done by a lookup that finds corrupt statistics.
    void Statistics1Click();

    // The scores may have changed: the result table rescores its rows.
    platform::Signal<> scoresChanged;
    platform::Signal<> statisticsReset;

private:
    // The rows of every site name, found by the name's hash; the names stay
    // in ip_ and are not copied. Open addressing, at most half full; a slot
    // keeps the hash, so only a name that hashes alike is compared.
    static constexpr std::uint32_t NoRow = 0xffffffffu;
    struct Rows {
        std::uint32_t first = NoRow; // the row nearest the top with this name; NoRow: a free slot
        std::uint32_t last = NoRow;  // the row furthest down with this name
        std::uint32_t hash = 0;
    };
    struct MemoSlot {
        bool used = false;
        std::string name;
        int score = 0;
    };

    std::size_t rowForCount(const std::string& name);
    void count(const std::string& name, int increment, bool good);
    void rebuildIndex();
    const Rows* findRows(const std::string& name) const;
    void indexRow(std::size_t k, std::uint32_t hash);
    void growIndex();

    platform::StringList ip_, good_, bad_;
    std::vector<Rows> index_;
    std::size_t indexed_ = 0; // names in index_
    std::array<MemoSlot, MemoMaxLength - MemoMinLength + 1> memo_{};
};

} // namespace results
