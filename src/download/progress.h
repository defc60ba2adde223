#pragma once
// How far a transfer (or all of them) has come, as people read it: percent,
// rate and time left. The window's status view and title and the command
// line's live readout take their texts from here, so they agree.

#include <cstdint>
#include <deque>
#include <string>

namespace download {

// The rate of a byte count that grows, over the last few seconds: the bytes
// gained between the oldest and the newest sample of the window. Times are
// the caller's (milliseconds of a monotonic clock), so tests are exact.
class RateMeter {
public:
    RateMeter() = default;
    explicit RateMeter(std::int64_t windowMs) : windowMs_(windowMs) {}
    // The count is the bytes so far; a count below the last one (a file
    // started over) starts the measurement again.
    void sample(std::int64_t nowMs, std::int64_t count);
    // Bytes per second; -1 (not known yet) until two samples at least 0.5 s
    // apart are there.
    double bytesPerSecond() const;
    void reset() { samples_.clear(); }

private:
    struct Sample {
        std::int64_t ms, count;
    };
    std::int64_t windowMs_ = 5000;
    std::deque<Sample> samples_;
};

// "999 B", "10.0 KB", "3.4 MB", "1.20 GB" (units of 1024, as the sizes shown elsewhere).
std::string formatBytes(std::int64_t bytes);
// "512 B/s", "1.2 MB/s"; "stalled" for 0; "" when not known (below 0).
std::string formatRate(double bytesPerSecond);
// "0:07", "12:34", "1:02:03"; "" when unknown (no rate, or no size).
std::string formatTimeLeft(std::int64_t remainingBytes, double bytesPerSecond);

// One line for a running transfer: "45%  4.5 MB of 10.0 MB  1.2 MB/s  0:04 left";
// without a known size (total <= 0): "4.5 MB  1.2 MB/s"; without a known rate,
// no rate and no time left.
std::string progressLine(std::int64_t done, std::int64_t total, double bytesPerSecond);

} // namespace download
