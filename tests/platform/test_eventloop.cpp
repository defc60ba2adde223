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

TEST(ListViewModel, ChangesAreAnnouncedBeforeAndAfterWithTheRowCountsAnItemModelNeeds) {
    platform::ListView v;
    std::vector<std::string> log; // notice, rows, and the row count when it came
    platform::Receiver r;
    auto record = [&](const char* what) {
        return [&, what](int first, int last) {
            log.push_back(std::string(what) + std::to_string(first) + "-" + std::to_string(last) + "/" +
                          std::to_string(v.Count()));
        };
    };
    v.rowsAboutToBeInserted.connect(r, record("+?"));
    v.rowsInserted.connect(r, record("+"));
    v.rowsAboutToBeRemoved.connect(r, record("-?"));
    v.rowsRemoved.connect(r, record("-"));
    v.cellsChanged.connect(r, record("c"));
    v.selectionChanged.connect(r, record("s"));
    v.aboutToBeReset.connect(r, [&] { log.push_back("reset?/" + std::to_string(v.Count())); });
    v.wasReset.connect(r, [&] { log.push_back("reset/" + std::to_string(v.Count())); });
    v.visibilityChanged.connect(r, [&](bool on) { log.push_back(on ? "shown" : "hidden"); });
    v.Add({"a", "1"});
    v.Insert(0, {"b", "2"});
    v.Add({"c"});
    v.SetCell(1, 3, "x");
    v.SetCell(1, 3, "x"); // no change, no notice
    v.SetSelected(0, true);
    v.SetSelection({1, 2}); // one notice over the rows whose flag flipped
    EXPECT_EQ(v.SelectedRows(), (std::vector<int>{1, 2}));
    EXPECT_EQ(v.Item(1).cell(3), "x");
    EXPECT_EQ(v.Item(1).cell(9), "");
    v.Delete(0);
    v.SetVisible(false);
    v.Clear();
    EXPECT_EQ(log, (std::vector<std::string>{"+?0-0/0", "+0-0/1", "+?0-0/1", "+0-0/2", "+?2-2/2", "+2-2/3",
                                             "c1-1/3", "s0-0/3", "s0-2/3", "-?0-0/3", "-0-0/2", "hidden",
                                             "reset?/2", "reset/0"}));
    r.disconnectAll();
    v.Add({"d"});
    EXPECT_EQ(log.size(), 14u);
    EXPECT_THROW(v.Delete(5), std::out_of_range);
    EXPECT_THROW(v.SetSelection({7}), std::out_of_range);
}
