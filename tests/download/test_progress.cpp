// Progress as people read it: the rate over the last seconds, and the texts
// the window and the command line share.

#include "download/progress.h"

#include <gtest/gtest.h>

using namespace download;

TEST(RateMeter, TheRateFollowsTheLastSecondsAndStartsAgainWithAFileStartedOver) {
    RateMeter meter(5000);
    EXPECT_LT(meter.bytesPerSecond(), 0) << "not known yet";
    meter.sample(0, 0);
    meter.sample(400, 4000);
    EXPECT_LT(meter.bytesPerSecond(), 0) << "under half a second: no rate yet";
    meter.sample(1000, 10000);
    EXPECT_DOUBLE_EQ(meter.bytesPerSecond(), 10000);
    // Ten seconds at 10 kB/s, then five at 1 kB/s: only the slow window counts.
    for (int s = 2; s <= 10; ++s)
        meter.sample(s * 1000, s * 10000);
    for (int s = 11; s <= 15; ++s)
        meter.sample(s * 1000, 100000 + (s - 10) * 1000);
    EXPECT_DOUBLE_EQ(meter.bytesPerSecond(), 1000);
    // A count that goes back (the file started over) is a new measurement.
    meter.sample(16000, 500);
    EXPECT_LT(meter.bytesPerSecond(), 0);
    meter.sample(17000, 2500);
    EXPECT_DOUBLE_EQ(meter.bytesPerSecond(), 2000);
}

TEST(ProgressText, ReadsAsPeopleExpect) {
    struct Row {
        std::int64_t done, total;
        double rate;
        const char* line;
    };
    const Row rows[] = {
        {0, 0, 0, "0 B  stalled"},
        {5000, 10000, -1, "50%  4.9 KB of 9.8 KB"}, // no rate measured yet
        {4718592, 10485760, 1258291.2, "45%  4.5 MB of 10.0 MB  1.2 MB/s  0:05 left"},
        {4718592, -1, 1258291.2, "4.5 MB  1.2 MB/s"},
        {10485760, 10485760, 1024, "100%  10.0 MB of 10.0 MB  1.0 KB/s"},
        {20000, 10000, 1024, "100%  9.8 KB of 9.8 KB  1.0 KB/s"},
        {0, 3LL << 30, 1024 * 1024, "0%  0 B of 3.00 GB  1.0 MB/s  51:12 left"},
        {0, 10LL << 30, 1024, ""}, // over 99 hours left: no time shown (checked below)
        {999, 4000, 512, "24%  999 B of 3.9 KB  512 B/s  0:06 left"},
        {0, 8000 * 1024, 1024, "0%  0 B of 7.8 MB  1.0 KB/s  2:13:20 left"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.done);
        const std::string line = progressLine(r.done, r.total, r.rate);
        if (*r.line)
            EXPECT_EQ(line, r.line);
        else
            EXPECT_EQ(line.find("left"), std::string::npos) << line;
    }
}
