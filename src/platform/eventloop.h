#pragma once
// The message loop. Everything runs on one thread from Qt's event loop; these
// are the few things the rest of the program needs from it.

#include <cstdint>
#include <functional>
#include <memory>

class QTimer;

namespace platform {

// Runs fn later from the event loop, never inside the caller.
void post(std::function<void()> fn);

// Runs pending events once, without waiting.
void processEvents();

// Pumps the event loop once, waiting up to maxMs for an event to arrive
// (sleeps in the loop, never spins). The synchronous waits use it.
void pumpMessages(int maxMs);

// Runs the event loop until cond() holds or maxMs milliseconds of real time
// have passed; answers whether cond() held. Waits without spinning.
bool runUntil(const std::function<bool()>& cond, int maxMs);

// A timer in the manner of the desktop toolkit's: Interval in milliseconds,
// Enabled, and OnTimer called at every expiry while enabled.
class TTimer {
public:
    TTimer();
    ~TTimer();
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;

    void setInterval(int ms);
    int Interval() const { return interval_; }
    void setEnabled(bool on);
    bool Enabled() const { return enabled_; }

    std::function<void()> OnTimer;

private:
    void restart();
    std::unique_ptr<QTimer> timer_;
    int interval_ = 1000;
    bool enabled_ = false;
};

} // namespace platform
