// The result table: order by score, first come first listed, the limit of
// 150, duplicates, the view by site and the "All files" reset both ways.

#include "results/result_table.h"
#include "results/site_stats.h"
#include "table_rig.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using platform::StringList;

namespace {

struct Fixture : resultstest::TableRig {

    StringList column(int col) const {
        StringList v;
        for (const auto& row : table.List.Items())
            v.push_back(row.cell(static_cast<std::size_t>(col)));
        return v;
    }
    StringList urls() const { return column(results::ResultTable::ColUrl); }
    StringList scores() const { return column(results::ResultTable::ColScore); }
};

TEST(ResultTable, FixnameTurnsUnderscoresIntoSpaces) {
    const std::pair<std::string, std::string> rows[] = {
        {"my_song_.mp3", "my song .mp3"}, {"__", "  "}, {"plain.mp3", "plain.mp3"}, {"", ""}};
    for (const auto& [in, out] : rows)
        EXPECT_EQ(results::ResultTable::fixname(in), out);
}

TEST(ResultTable, RowHoldsNameScoreSiteAndUrl) {
    Fixture f;
    f.table.addlink("ftp://u:p@ftp.example.com:2121/pub/My_Best_Song.mp3");
    ASSERT_EQ(f.table.List.Count(), 1);
    EXPECT_EQ(f.table.List.Item(0).cells,
              (StringList{"My Best Song.mp3", "250", "ftp.example.com",
                          "ftp://u:p@ftp.example.com:2121/pub/My_Best_Song.mp3"}));
    EXPECT_EQ(results::ResultTable::columns(), (StringList{"Filename", "Score", "Site", "URL"}));
}

TEST(ResultTable, OrdersByScoreFirstComeFirstListed) {
    Fixture f;
    f.stats.setLists({"good.example", "bad.example"}, {"26", "1"}, {"5", "6"}); // 5200 and 167
    const StringList arrivals = {"ftp://unknown1.example/a.mp3", "ftp://bad.example/b.mp3",
                                 "ftp://good.example/c.mp3",     "ftp://unknown2.example/d.mp3",
                                 "ftp://good.example/e.mp3",     "ftp://bad.example/f.mp3"};
    for (const auto& u : arrivals)
        f.table.addlink(u);
    EXPECT_EQ(f.urls(), (StringList{"ftp://good.example/c.mp3", "ftp://good.example/e.mp3",
                                    "ftp://unknown1.example/a.mp3", "ftp://unknown2.example/d.mp3",
                                    "ftp://bad.example/b.mp3", "ftp://bad.example/f.mp3"}));
    EXPECT_EQ(f.scores(), (StringList{"5200", "5200", "250", "250", "167", "167"}));
    EXPECT_EQ(f.table.linklist, arrivals); // in order of arrival
    ASSERT_EQ(f.table.sites.Count(), 4);
    EXPECT_EQ(f.table.sites.caption(1), "bad.example");
    EXPECT_EQ(f.table.sites.urls(1), (StringList{"ftp://bad.example/b.mp3", "ftp://bad.example/f.mp3"}));
    EXPECT_EQ(f.table.sites.find("good.example"), 2);
    EXPECT_EQ(f.table.sites.find("nowhere.example"), -1);
}

// The walk for the insertion point compares the rows' Score cells, not the
// current scores of their sites: after a reset the cells keep the old scores.
TEST(ResultTable, InsertionComparesTheScoreCells) {
    Fixture f;
    f.stats.setLists({"good.example", "bad.example"}, {"26", "1"}, {"5", "6"}); // 5200 and 167
    f.table.addlink("ftp://good.example/a.mp3");
    f.table.addlink("ftp://bad.example/b.mp3");
    f.stats.Statistics1Click();                 // the cells still read 5200 and 167
    f.table.addlink("ftp://new.example/c.mp3"); // 250: above the row that reads 167
    EXPECT_EQ(f.urls(),
              (StringList{"ftp://good.example/a.mp3", "ftp://new.example/c.mp3", "ftp://bad.example/b.mp3"}));
    EXPECT_EQ(f.scores(), (StringList{"5200", "250", "167"}));

    // A cell that is not a number counts 0.
    f.table.List.SetCell(0, results::ResultTable::ColScore, "x");
    f.table.addlink("ftp://other.example/d.mp3");
    EXPECT_EQ(f.urls()[0], "ftp://other.example/d.mp3");
}

// Adding a link looks up only the new link's site: statistics loaded later
// with a corrupt row for a site already listed are left alone.
TEST(ResultTable, InsertionLooksUpOnlyTheNewSite) {
    Fixture f;
    f.table.addlink("ftp://listed.example/a.mp3");
    f.stats.setLists({"listed.example"}, {"many"}, {"5"});
    f.table.addlink("ftp://new.example/b.mp3");
    EXPECT_EQ(f.table.List.Count(), 2);
    EXPECT_EQ(f.stats.stats_ip, StringList{"listed.example"});
    EXPECT_EQ(f.resets, 0);
}

TEST(ResultTable, DuplicatesAreDroppedWithoutTrace) {
    struct Row {
        const char* what;
        StringList offered;
        StringList listed;
    };
    const Row rows[] = {
        {"same URL twice", {"ftp://a.example/x.mp3", "ftp://a.example/x.mp3"}, {"ftp://a.example/x.mp3"}},
        {"same file, other site",
         {"ftp://a.example/x.mp3", "ftp://b.example/x.mp3"},
         {"ftp://a.example/x.mp3", "ftp://b.example/x.mp3"}},
        {"same file, other path",
         {"ftp://a.example/x.mp3", "ftp://a.example/d/x.mp3"},
         {"ftp://a.example/x.mp3", "ftp://a.example/d/x.mp3"}},
        {"URLs differ in case",
         {"ftp://a.example/x.mp3", "ftp://a.example/X.mp3"},
         {"ftp://a.example/x.mp3", "ftp://a.example/X.mp3"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        Fixture f;
        for (const auto& u : r.offered)
            f.table.addlink(u);
        EXPECT_EQ(f.urls(), r.listed);
        EXPECT_EQ(f.table.linklist, r.listed);
        std::size_t filed = 0;
        for (int i = 0; i < f.table.sites.Count(); ++i)
            filed += f.table.sites.urls(i).size();
        EXPECT_EQ(filed, r.listed.size());
    }
}

// Rescoring rewrites scores without moving rows, so the table is only roughly
// in score order; a URL already listed is still found wherever its row is.
TEST(ResultTable, DuplicateFoundWhenRowsAreOutOfScoreOrder) {
    Fixture f;
    for (int i = 0; i < 4; ++i)
        f.table.addlink("ftp://site" + std::to_string(i) + ".example/a.mp3");
    f.table.addlink("ftp://late.example/x.mp3"); // row 4, scored 250 like the others
    f.stats.addgood("late.example");             // now 5200, still at row 4
    EXPECT_EQ(f.scores(), (StringList{"250", "250", "250", "250", "5200"}));
    f.table.addlink("ftp://late.example/x.mp3");
    EXPECT_EQ(f.table.List.Count(), 5);
    EXPECT_EQ(f.table.linklist.size(), 5u);
    EXPECT_EQ(f.table.sites.urls(f.table.sites.find("late.example")).size(), 1u);
}

TEST(ResultTable, ALinkWithoutASiteIsRefused) {
    Fixture f;
    for (const char* u : {"ftp:///a.mp3", "ftp://user@/a.mp3", "ftp://:21/a.mp3"})
        f.table.addlink(u);
    EXPECT_EQ(f.table.List.Count(), 0);
    EXPECT_TRUE(f.table.linklist.empty());
    EXPECT_EQ(f.table.sites.Count(), 0);
}

TEST(ResultTable, AcceptsAtMost150Links) {
    Fixture f;
    for (int i = 0; i < 160; ++i)
        f.table.addlink("ftp://s.example/" + std::to_string(i) + ".mp3");
    EXPECT_EQ(f.table.List.Count(), 150);
    EXPECT_EQ(f.table.linklist.size(), 150u);
    EXPECT_EQ(f.table.linklist.back(), "ftp://s.example/149.mp3");

    // Deleting rows does not lower the limit.
    for (int r = 0; r < 10; ++r)
        f.table.List.SetSelected(r, true);
    f.table.ClearList1Click();
    EXPECT_EQ(f.table.List.Count(), 140);
    f.table.addlink("ftp://s.example/new.mp3");
    EXPECT_EQ(f.table.List.Count(), 140);

    // "All files" with nothing selected starts counting again.
    f.table.ClearList1Click();
    f.table.addlink("ftp://s.example/new.mp3");
    EXPECT_EQ(f.urls(), StringList{"ftp://s.example/new.mp3"});
    EXPECT_EQ(f.table.linklist, StringList{"ftp://s.example/new.mp3"});
}

TEST(ResultTable, ClearDeletesExactlyTheSelectedRows) {
    Fixture f;
    for (int i = 0; i < 6; ++i)
        f.table.addlink("ftp://s" + std::to_string(i % 2) + ".example/" + std::to_string(i) + ".mp3");
    const StringList links = f.table.linklist;
    const StringList all = f.urls();
    for (int r : {0, 2, 5})
        f.table.List.SetSelected(r, true);
    std::vector<int> removed;
    platform::ScopedConnection c =
        f.table.List.rowsRemoved.connect([&](int row, int) { removed.push_back(row); });
    f.table.ClearList1Click();
    EXPECT_EQ(f.urls(), (StringList{all[1], all[3], all[4]}));
    EXPECT_EQ(removed, (std::vector<int>{0, 1, 3}));
    EXPECT_EQ(f.table.linklist, links);
    EXPECT_EQ(f.table.sites.Count(), 2);
    EXPECT_EQ(f.table.sites.urls(0).size() + f.table.sites.urls(1).size(), 6u);
    EXPECT_TRUE(f.table.List.Visible());
    // A deleted row's URL may be listed again.
    f.table.addlink(all[0]);
    EXPECT_EQ(f.table.List.Count(), 4);
}

TEST(ResultTable, ClearWithNothingSelectedEmptiesTableAndLinklist) {
    Fixture f;
    for (int i = 0; i < 3; ++i)
        f.table.addlink("ftp://s.example/" + std::to_string(i) + ".mp3");
    std::vector<std::string> events;
    f.table.List.visibilityChanged.connect([&](bool on) { events.push_back(on ? "shown" : "hidden"); });
    f.table.List.wasReset.connect([&] { events.push_back("cleared"); });
    f.table.ClearList1Click();
    EXPECT_EQ(f.table.List.Count(), 0);
    EXPECT_TRUE(f.table.linklist.empty());
    EXPECT_EQ(events, (std::vector<std::string>{"hidden", "cleared", "shown"}));
    ASSERT_EQ(f.table.sites.Count(), 1); // the view by site keeps its entries
    EXPECT_EQ(f.table.sites.urls(0).size(), 3u);
}

TEST(ResultTable, ObserversHearOfInsertedRows) {
    Fixture f;
    std::vector<int> inserted;
    f.table.List.rowsInserted.connect([&](int row, int) { inserted.push_back(row); });
    std::vector<int> newSites, filedUnder;
    f.table.sites.view.rowsInserted.connect([&](int row, int) { newSites.push_back(row); });
    f.table.sites.view.cellsChanged.connect([&](int row, int) { filedUnder.push_back(row); });
    f.stats.setLists({"good.example"}, {"26"}, {"5"});
    f.table.addlink("ftp://a.example/1.mp3");
    f.table.addlink("ftp://good.example/2.mp3");
    f.table.addlink("ftp://a.example/3.mp3");
    EXPECT_EQ(inserted, (std::vector<int>{0, 0, 2}));
    EXPECT_EQ(newSites, (std::vector<int>{0, 1}));
    EXPECT_EQ(filedUnder, (std::vector<int>{0, 1, 0}));
    EXPECT_EQ(f.table.sites.view.Item(0).cells, (StringList{"a.example", "2"}));
}

} // namespace
