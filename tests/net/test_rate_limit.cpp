// The shared speed limit: a budget that refills at the rate, bursts that stay
// short, readers woken when bytes are there again, and rates as curl reads them.

#include "net/rate_limit.h"
#include "platform/eventloop.h"
#include "platform/system.h"

#include <gtest/gtest.h>

namespace {

struct Clock {
    std::uint32_t ms = 4294960000u; // close to the wrap of the tick counter
    Clock() {
        platform::setTickSource([this] { return ms; });
    }
    ~Clock() { platform::setTickSource({}); }
};

} // namespace

TEST(RateLimit, TheBudgetRefillsAtTheRateAndNeverHoldsMoreThanABurst) {
    Clock clock;
    net::RateLimit limit;
    EXPECT_EQ(limit.take(1 << 20), 1u << 20) << "no limit: everything";

    limit.setBytesPerSecond(100 * 1024);
    EXPECT_EQ(limit.take(65536), 0u) << "the budget starts empty";
    struct Step {
        std::uint32_t after;
        std::size_t want, got;
    };
    const Step steps[] = {
        {10, 65536, 1024},   // 10 ms of 100 KiB/s
        {1, 65536, 102},     // ...and the fractions of a byte are kept:
        {1, 65536, 102},     // 102.4 a millisecond
        {3, 100, 100},       // a small read takes what it asks
        {0, 65536, 208},     // ...and leaves the rest, the fractions kept
        {1000, 65536, 5120}, // a second idle: at most a burst (50 ms of the rate)
    };
    for (const Step& s : steps) {
        clock.ms += s.after;
        EXPECT_EQ(limit.take(s.want), s.got) << "after " << s.after << " ms";
    }
    limit.giveBack(5000);
    EXPECT_EQ(limit.take(65536), 5000u) << "what a read left unused can be read later";

    // Over a simulated minute of reads the bytes read match the rate exactly.
    std::size_t total = 0;
    for (int ms = 0; ms < 60000; ms += 7) {
        clock.ms += 7;
        total += limit.take(16384);
    }
    EXPECT_NEAR(static_cast<double>(total), 100 * 1024 * 59.997, 1024);
}

TEST(RateLimit, ReadersWaitingForTheBudgetAreWokenOnceEach) {
    net::RateLimit limit;
    limit.setBytesPerSecond(1024 * 1024);
    while (limit.take(1 << 20) > 0) {
    }
    int first = 0, second = 0, forgotten = 0;
    int a, b, c;
    limit.wait(&a, [&] { ++first; });
    limit.wait(&b, [&] { ++second; });
    limit.wait(&c, [&] { ++forgotten; });
    limit.forget(&c);
    ASSERT_TRUE(platform::runUntil([&] { return first == 1 && second == 1; }, 2000));
    platform::runUntil([] { return false; }, 50);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(forgotten, 0);

    // Lifting the limit wakes a waiter at once.
    limit.wait(&a, [&] { ++first; });
    limit.setBytesPerSecond(0);
    EXPECT_EQ(first, 2);
}

TEST(RateLimit, RatesReadLikeCurls) {
    struct Row {
        const char* text;
        bool ok;
        std::int64_t rate;
    };
    const Row rows[] = {
        {"2048", true, 2048},    {"500k", true, 512000},
        {"500K", true, 512000},  {"1M", true, 1048576},
        {"1.5m", true, 1572864}, {"2G", true, 2147483648LL},
        {"0", true, 0},          {"", false, 0},
        {"k", false, 0},         {"1.", false, 0},
        {".5k", false, 0},       {"1.2.3", false, 0},
        {"10 k", false, 0},      {"-1", false, 0},
        {"5kb", false, 0},       {"99999999999999999G", false, 0},
    };
    for (const Row& r : rows) {
        std::int64_t rate = -7;
        EXPECT_EQ(net::parseRate(r.text, rate), r.ok) << r.text;
        if (r.ok) {
            EXPECT_EQ(rate, r.rate) << r.text;
        }
    }
}
