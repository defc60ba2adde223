// Site statistics: the score formula and its rounding, counting outcomes,
// the memo, corrupt statistics, the reset, and the index checked against a
// plain scan of the lists on random data.

#include "results/result_table.h"
#include "results/site_stats.h"
#include "table_rig.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>

using platform::StringList;

namespace {

using Fixture = resultstest::TableRig;

TEST(SiteStats, ScoreFormulaAndRounding) {
    struct Row {
        int good, bad, score;
    };
    const Row rows[] = {
        {1, 5, 200},
        {26, 5, 5200},
        {1, 6, 167},
        {51, 7, 7286},
        {1, 10, 100},
        {1, 8, 125},   // exactly 125
        {1, 16, 62},   // 62.5: halves go to the even neighbour
        {3, 16, 188},  // 187.5
        {1, 2000, 0},  // 0.5
        {3, 2000, 2},  // 1.5
        {-1, 16, -62}, // -62.5
        {0, 5, 0},
        {-26, 5, -5200},
        {8, 0, 2000},  // a bad count of 0 counts as 4
        {8, -3, 2000}, // ... so does a negative one
        {INT_MAX, 1, INT_MAX},
        {INT_MIN, 1, INT_MIN}, // held at the ends of the range
    };
    for (const Row& r : rows)
        EXPECT_EQ(results::scoreFromCounts(r.good, r.bad), r.score) << r.good << "/" << r.bad;
}

TEST(SiteStats, CountsReadAsIntegers) {
    const std::pair<const char*, int> rows[] = {{"12", 12},         {"-3", -3},
                                                {"+7", 7},          {"  5", 5},
                                                {"5 ", -1},         {"", -1},
                                                {"x", -1},          {"0x10", -1},
                                                {"-", -1},          {"2147483647", INT_MAX},
                                                {"2147483648", -1}, {"-2147483648", INT_MIN},
                                                {"99999999999", -1}};
    for (const auto& [text, value] : rows)
        EXPECT_EQ(results::StrToIntDef(text, -1), value) << text;
}

TEST(SiteStats, ScoresFromTheLists) {
    struct Row {
        const char* what;
        StringList ip, good, bad;
        const char* site;
        int score;
    };
    const Row rows[] = {
        {"unknown site", {"a.example"}, {"1"}, {"5"}, "b.example", 250},
        {"good 1, bad 5", {"a.example"}, {"1"}, {"5"}, "a.example", 200},
        {"names compare exactly", {"A.example"}, {"1"}, {"5"}, "a.example", 250},
        {"the row furthest down wins",
         {"a.example", "a.example"},
         {"1", "26"},
         {"5", "5"},
         "a.example",
         5200},
        {"bad count not a number counts 4", {"a.example"}, {"8"}, {"many"}, "a.example", 2000},
        {"bad count 0", {"a.example"}, {"8"}, {"0"}, "a.example", 2000},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        Fixture f;
        f.stats.setLists(r.ip, r.good, r.bad);
        EXPECT_EQ(f.stats.cachelookup(r.site), r.score);
        EXPECT_EQ(f.stats.ip_to_score(r.site), r.score);
    }
}

TEST(SiteStats, StartsWithThreePlaceholderRows) {
    Fixture f;
    EXPECT_EQ(f.stats.stats_ip.size(), 3u);
    EXPECT_EQ(f.stats.stats_good, (StringList{"1", "1", "1"}));
    EXPECT_EQ(f.stats.stats_bad, (StringList{"10", "20", "30"}));
    EXPECT_EQ(f.stats.cachelookup(f.stats.stats_ip[1]), 50);
}

TEST(SiteStats, CorruptGoodCountClearsEverything) {
    for (const char* good : {"lots", "1234", ""}) {
        SCOPED_TRACE(good);
        Fixture f;
        f.stats.setLists({"short.example", "b.example"}, {good, "26"}, {"5", "5"});
        EXPECT_EQ(f.stats.ip_to_score("short.example"), 256);
        EXPECT_TRUE(f.stats.stats_ip.empty());
        EXPECT_TRUE(f.stats.stats_good.empty());
        EXPECT_TRUE(f.stats.stats_bad.empty());
        EXPECT_EQ(f.resets, 1); // the program empties the pending downloads on it
        EXPECT_EQ(f.stats.ip_to_score("short.example"), 250);
        EXPECT_EQ(f.stats.ip_to_score("b.example"), 250);
    }
}

TEST(SiteStats, MemoKeepsAnsweringUntilTheNextCount) {
    Fixture f;
    const std::string name23 = "ftp.twentythree.example"; // 23 characters: memoised
    const std::string name12 = "twelve.examp";            // 12: never memoised
    ASSERT_EQ(name23.size(), 23u);
    f.stats.setLists({name23, name12, "corrupt-site-22.exampl"}, {"26", "26", "bad"}, {"5", "5", "5"});
    EXPECT_EQ(f.stats.ip_to_score(name23), 5200);
    EXPECT_EQ(f.stats.ip_to_score(name12), 5200);
    f.stats.Statistics1Click();
    EXPECT_EQ(f.stats.ip_to_score(name23), 5200); // still the memo
    EXPECT_EQ(f.stats.cachelookup(name23), 250);
    EXPECT_EQ(f.stats.ip_to_score(name12), 250);
    f.stats.addbad("other.example");
    EXPECT_EQ(f.stats.ip_to_score(name23), 250);

    // Corrupt statistics: a 22-character name keeps answering 256 from the memo.
    f.stats.setLists({"corrupt-site-22.exampl"}, {"bad"}, {"5"});
    EXPECT_EQ(f.stats.ip_to_score("corrupt-site-22.exampl"), 256);
    EXPECT_EQ(f.stats.ip_to_score("corrupt-site-22.exampl"), 256);
    EXPECT_EQ(f.stats.cachelookup("corrupt-site-22.exampl"), 250);
    f.stats.addgood("x.example");
    EXPECT_EQ(f.stats.ip_to_score("corrupt-site-22.exampl"), 250);
}

TEST(SiteStats, CountingOutcomes) {
    Fixture f;
    f.table.addlink("ftp://new.example/a.mp3");
    f.table.addlink("ftp://new.example/b.mp3");
    f.table.addlink("ftp://fresh.example/c.mp3");
    f.stats.addbad("new.example"); // first met through a failure
    EXPECT_EQ(f.stats.stats_ip.back(), "new.example");
    EXPECT_EQ(f.stats.stats_good.back(), "1");
    EXPECT_EQ(f.stats.stats_bad.back(), "6");
    EXPECT_EQ(f.table.List.Item(0).cell(1), "167");
    EXPECT_EQ(f.table.List.Item(1).cell(1), "167");
    EXPECT_EQ(f.table.List.Item(2).cell(1), "250"); // rows are rescored, not moved

    f.stats.addgood("fresh.example"); // first met through a success
    EXPECT_EQ(f.stats.stats_good.back(), "26");
    EXPECT_EQ(f.stats.stats_bad.back(), "5");
    EXPECT_EQ(f.table.List.Item(2).cell(1), "5200");
    EXPECT_EQ(f.table.List.Item(2).cell(2), "fresh.example");

    f.stats.addgood("new.example");
    EXPECT_EQ(f.stats.stats_good[3], "26");
    EXPECT_EQ(f.stats.stats_bad[3], "6");
    EXPECT_EQ(f.table.List.Item(0).cell(1), "4333");
}

TEST(SiteStats, RescoringRewritesOnlyTheCellsThatChange) {
    Fixture f;
    for (const char* u : {"ftp://a.example/1.mp3", "ftp://b.example/2.mp3", "ftp://a.example/3.mp3"})
        f.table.addlink(u);
    std::vector<int> changed;
    f.table.List.cellsChanged.connect([&](int row, int) { changed.push_back(row); });
    f.stats.addbad("a.example");
    EXPECT_EQ(changed, (std::vector<int>{0, 2}));
    changed.clear();
    f.stats.addbad("elsewhere.example"); // no row of that site: nothing is rewritten
    EXPECT_TRUE(changed.empty());
}

TEST(SiteStats, CountsGoToTheRowNearestTheTop) {
    Fixture f;
    f.stats.setLists({"a.example", "a.example"}, {"1", "x"}, {"y", "5"});
    f.stats.addbad("a.example"); // "y" counts 0 before the increment
    f.stats.addgood("a.example");
    EXPECT_EQ(f.stats.stats_good, (StringList{"26", "x"}));
    EXPECT_EQ(f.stats.stats_bad, (StringList{"1", "5"}));
}

TEST(SiteStats, CountsNeverWrap) {
    Fixture f;
    f.stats.setLists({"a.example"}, {"2147483640"}, {"2147483647"});
    f.stats.addgood("a.example");
    f.stats.addbad("a.example");
    EXPECT_EQ(f.stats.stats_good[0], "2147483647");
    EXPECT_EQ(f.stats.stats_bad[0], "2147483647");
}

TEST(SiteStats, ResetEmptiesTheStatisticsAndAnnouncesIt) {
    Fixture f;
    f.table.addlink("ftp://a.example/x.mp3");
    f.stats.addgood("a.example");
    f.stats.Statistics1Click();
    EXPECT_TRUE(f.stats.stats_ip.empty());
    EXPECT_EQ(f.resets, 1);
    EXPECT_EQ(f.table.List.Item(0).cell(1), "5200"); // no rescoring until the next count
    f.stats.addbad("b.example");
    EXPECT_EQ(f.table.List.Item(0).cell(1), "250");
}

TEST(SiteStats, UnequalListsAreCutToTheShortest) {
    Fixture f;
    f.stats.setLists({"a", "b", "c"}, {"1", "2"}, {"5", "5", "5", "5"});
    EXPECT_EQ(f.stats.stats_ip, (StringList{"a", "b"}));
    EXPECT_EQ(f.stats.stats_bad, (StringList{"5", "5"}));
    EXPECT_EQ(f.stats.cachelookup("c"), 250);
}

// ---- the index against plain scans of the lists ----

struct PlainStats {
    StringList ip, good, bad;
    int lookup(const std::string& n) {
        for (std::size_t k = ip.size(); k-- > 0;) {
            if (ip[k] != n) continue;
            const int g = results::StrToIntDef(good[k], 1234);
            if (g == 1234) {
                ip.clear(), good.clear(), bad.clear();
                return 256;
            }
            return results::scoreFromCounts(g, results::StrToIntDef(bad[k], 4));
        }
        return 250;
    }
    void count(const std::string& n, bool isGood) {
        std::size_t k = 0;
        while (k < ip.size() && ip[k] != n)
            ++k;
        if (k == ip.size()) ip.push_back(n), bad.push_back("5"), good.push_back("1");
        std::string& cell = isGood ? good[k] : bad[k];
        cell = std::to_string(results::StrToIntDef(cell, 0) + (isGood ? 25 : 1));
    }
};

TEST(SiteStats, IndexAgreesWithPlainScansOnRandomData) {
    std::mt19937 gen(99);
    auto name = [&] { return "s" + std::to_string(gen() % 40) + ".example"; };
    auto countText = [&] {
        const int kind = static_cast<int>(gen() % 10);
        if (kind == 0) return std::string("x");
        if (kind == 1) return std::string("1234");
        return std::to_string(static_cast<int>(gen() % 60) - 5);
    };
    for (int round = 0; round < 200; ++round) {
        Fixture f;
        PlainStats plain;
        const std::size_t rows = gen() % 30;
        for (std::size_t i = 0; i < rows; ++i) {
            plain.ip.push_back(name());
            plain.good.push_back(gen() % 8 == 0 ? countText() : std::to_string(1 + gen() % 100));
            plain.bad.push_back(countText());
        }
        f.stats.setLists(plain.ip, plain.good, plain.bad);
        for (int op = 0; op < 100; ++op) {
            const std::string n = name();
            switch (gen() % 4) {
            case 0:
                ASSERT_EQ(f.stats.cachelookup(n), plain.lookup(n)) << n;
                break;
            case 1:
                f.stats.addgood(n), plain.count(n, true);
                break;
            case 2:
                f.stats.addbad(n), plain.count(n, false);
                break;
            default:
                if (gen() % 10 == 0) f.stats.Statistics1Click(), plain = PlainStats{};
                break;
            }
            ASSERT_EQ(f.stats.stats_ip, plain.ip);
            ASSERT_EQ(f.stats.stats_good, plain.good);
            ASSERT_EQ(f.stats.stats_bad, plain.bad);
        }
    }
}

} // namespace
