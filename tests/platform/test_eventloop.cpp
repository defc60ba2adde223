#include "platform/eventloop.h"
#include "platform/listview.h"
#include "platform/system.h"

#include <gtest/gtest.h>

TEST(EventLoop, PostedCallsRunLaterAndInOrder) {
    std::vector<int> seen;
    platform::post([&] { seen.push_back(1); });
    platform::post([&] { seen.push_back(2); });
    EXPECT_TRUE(seen.empty()); // never inside the caller
    ASSERT_TRUE(platform::runUntil([&] { return seen.size() == 2; }, 2000));
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));
}

TEST(EventLoop, TimerFiresOnlyWhileEnabled) {
    platform::TTimer t;
    int fired = 0;
    t.OnTimer = [&] {
        if (++fired == 3) t.setEnabled(false);
    };
    t.setInterval(5);
    t.setEnabled(true);
    ASSERT_TRUE(platform::runUntil([&] { return fired == 3; }, 2000));
    platform::runUntil([] { return false; }, 50);
    EXPECT_EQ(fired, 3);
}

TEST(System, SourcesAreInjectable) {
    platform::setTickSource([] { return 4000000000u; });
    platform::setHourSource([] { return 23; });
    platform::setRandomSource([](int n) { return n - 1; });
    EXPECT_EQ(platform::GetTickCount(), 4000000000u);
    EXPECT_EQ(platform::localHour(), 23);
    EXPECT_EQ(platform::Random(4), 3);
    EXPECT_EQ(platform::Random(0), 0);
    platform::setTickSource({});
    platform::setHourSource({});
    platform::setRandomSource({});
    for (int i = 0; i < 100; ++i) {
        const int r = platform::Random(3);
        EXPECT_TRUE(r >= 0 && r < 3);
    }
    EXPECT_LT(platform::localHour(), 24);
    std::string out;
    EXPECT_FALSE(platform::registryReadString("SOFTWARE\\x", "v", out));
}

TEST(ListViewModel, ObserversHearEveryChange) {
    platform::ListView v;
    std::vector<std::pair<int, int>> log;
    const int h = v.Subscribe([&](const platform::ListChange& c) { log.emplace_back(c.kind, c.row); });
    v.Add({"a", "1"});
    v.Insert(0, {"b", "2"});
    v.SetCell(1, 3, "x");
    v.SetCell(1, 3, "x"); // no change, no notice
    v.SetSelected(0, true);
    EXPECT_EQ(v.SelectedRows(), std::vector<int>{0});
    EXPECT_EQ(v.Item(1).cell(3), "x");
    EXPECT_EQ(v.Item(1).cell(9), "");
    v.Delete(0);
    v.SetVisible(false);
    v.Clear();
    using K = platform::ListChange;
    EXPECT_EQ(log, (std::vector<std::pair<int, int>>{{K::Inserted, 0}, {K::Inserted, 0}, {K::Changed, 1},
                                                     {K::Changed, 0}, {K::Removed, 0}, {K::Visibility, -1},
                                                     {K::Cleared, -1}}));
    v.Unsubscribe(h);
    v.Add({"c"});
    EXPECT_EQ(log.size(), 7u);
    EXPECT_THROW(v.Delete(5), std::out_of_range);
}
