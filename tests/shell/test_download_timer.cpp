// The download timer: the hour a click on the face chooses, the am/pm switch,
// and the check that starts the download at that hour, only once the user
// has placed the hand.

#include "platform/eventloop.h"
#include "platform/system.h"
#include "shell/download_timer.h"

#include <gtest/gtest.h>

using shell::ClockPoint;
using shell::DownloadTimer;

namespace {

TEST(DownloadTimer, ClicksOnTheFaceChooseTheHour) {
    struct Row {
        int x, y;
        int am, pm;
        ClockPoint end;
    };
    const Row rows[] = {
        {160, 102, 3, 15, {149, 102}}, // straight right of the hub
        {110, 62, 0, 12, {109, 62}},   // above the hub, one pixel right
        {108, 62, 0, 12, {109, 62}},   // one pixel left: the same hour, never 24
        {109, 150, 6, 18, {109, 142}}, // on the hub's column, below
        {60, 102, 9, 21, {69, 102}},   // straight left
        {140, 140, 5, 17, {129, 137}}, // lower right, nearer to 5 than to 4
        // Where the face draws the numerals 1, 2, 7 and 8 (70 pixels out).
        {144, 41, 1, 13, {129, 67}},
        {170, 67, 2, 14, {144, 82}},
        {74, 163, 7, 19, {89, 137}},
        {48, 137, 8, 20, {74, 122}},
    };
    for (const Row& r : rows) {
        ClockPoint end;
        EXPECT_EQ(DownloadTimer::hourAt(r.x, r.y, false, &end), r.am) << r.x << "," << r.y;
        EXPECT_EQ(DownloadTimer::hourAt(r.x, r.y, true), r.pm) << r.x << "," << r.y;
        EXPECT_EQ(end, r.end) << r.x << "," << r.y;
    }
    DownloadTimer t;
    std::pair<ClockPoint, ClockPoint> moved;
    t.handMoved.connect([&](ClockPoint from, ClockPoint to) { moved = {from, to}; });
    t.Image1MouseDown(160, 102);
    EXPECT_EQ(t.Label2(), "Connection scheduled for: 15:00 hours");
    EXPECT_EQ(moved, std::make_pair(DownloadTimer::Hub, ClockPoint{149, 102}));
}

TEST(DownloadTimer, TheSwitchMovesTheHourByTwelveAndTheLineFollowsAtOnce) {
    DownloadTimer t;
    int changes = 0;
    t.changed.connect([&] { ++changes; });
    t.ampmClick(); // "pm" -> "am", no hour placed yet: nothing to confirm
    EXPECT_EQ(t.Label2(), "");
    t.Image1MouseDown(160, 102);
    struct Step {
        const char* ampm;
        int hour;
        const char* line;
    };
    const Step steps[] = {
        {"pm", 15, "Connection scheduled for: 15:00 hours"},
        {"am", 3, "Connection scheduled for: 3:00 hours"},
        {"pm", 15, "Connection scheduled for: 15:00 hours"},
    };
    EXPECT_EQ(t.hour(), 3);
    for (const Step& s : steps) {
        const int before = changes;
        t.ampmClick();
        EXPECT_EQ(t.ampm(), s.ampm);
        EXPECT_EQ(t.hour(), s.hour);
        EXPECT_EQ(t.Label2(), s.line);
        EXPECT_EQ(changes, before + 1); // the window redraws both labels
    }
}

TEST(DownloadTimer, FiresAtTheChosenHourOnlyWhenArmed) {
    int now = 0;
    platform::setHourSource([&] { return now; });
    DownloadTimer t;
    int fired = 0, closed = 0;
    t.haulfiles.connect([&] { ++fired; });
    t.closed.connect([&] {
        EXPECT_EQ(fired, 0) << "closed first";
        ++closed;
    });
    t.Timer1.setInterval(5);

    // Shown at midnight with the hour never placed: nothing happens.
    t.FormShow();
    platform::runUntil([] { return false; }, 50);
    EXPECT_EQ(fired, 0);

    // Placed at 15; closing disarms, showing again re-arms.
    t.Image1MouseDown(160, 102);
    t.FormClose();
    now = 15;
    t.Timer1Timer();
    EXPECT_EQ(fired, 0);
    t.FormShow();
    EXPECT_TRUE(platform::runUntil([&] { return fired > 0; }, 5000));
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(t.visible());
    EXPECT_FALSE(t.Timer1.Enabled());
    t.Timer1Timer();
    EXPECT_EQ(fired, 1);
    platform::setHourSource({});
}

} // namespace
