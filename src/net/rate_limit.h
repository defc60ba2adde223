#pragma once
// One speed limit shared by every data connection of the program: a budget of
// bytes that refills at the limit's rate. A reader asks how much it may read
// now; when the budget is spent it pauses its socket and is resumed once bytes
// are there again, so the limit works through TCP's own flow control, never
// by sleeping.
//
//     std::size_t may = net::RateLimit::shared().take(buffer.size());
//     if (may == 0) { socket.Pause(); net::RateLimit::shared().wait(this, [&] { socket.Resume(); }); return;
//     } const int n = socket.Receive(buffer.data(), may); net::RateLimit::shared().giveBack(may - max(n, 0));

#include "platform/eventloop.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>

namespace net {

class RateLimit {
public:
    RateLimit();
    // The program's one limit (every client reads through it).
    static RateLimit& shared();

    // Bytes per second for all transfers together; 0: no limit.
    void setBytesPerSecond(std::int64_t rate);
    std::int64_t bytesPerSecond() const { return rate_; }
    bool limited() const { return rate_ > 0; }

    // How many of `want` bytes may be read now (all of them without a limit),
    // taken from the budget; 0: none now, wait.
    std::size_t take(std::size_t want);
    // Bytes taken and not read after all (a read returned less).
    void giveBack(std::size_t unused);
    // Calls resume once the budget holds bytes again (once per call; a later
    // wait of the same owner replaces an earlier one).
    void wait(const void* owner, std::function<void()> resume);
    // The owner is gone: its resume is never called.
    void forget(const void* owner);

    // The largest budget: bursts stay short (about 50 ms of the rate).
    std::int64_t capacity() const;

private:
    void refill();
    void wakeWaiters();
    void armTimer();

    std::int64_t rate_ = 0;
    std::int64_t budget_ = 0;  // bytes that may be read now
    std::uint32_t lastMs_ = 0; // when the budget was last refilled
    std::int64_t carry_ = 0;   // rate x milliseconds not yet a whole byte (in thousandths)
    std::map<const void*, std::function<void()>> waiters_;
    platform::TTimer timer_;
};

// "500k", "1M", "1.5m", "2048" (bytes per second, units of 1024 as curl's
// --limit-rate reads them; "0" is no limit) into bytes per second; false for
// anything else.
bool parseRate(const std::string& text, std::int64_t& bytesPerSecond);

} // namespace net
