#include "download/progress.h"

#include <cmath>
#include <cstdio>

namespace download {

void RateMeter::sample(std::int64_t nowMs, std::int64_t count) {
    if (!samples_.empty() && count < samples_.back().count) samples_.clear();
    if (!samples_.empty() && nowMs <= samples_.back().ms) {
        samples_.back().count = count; // the same moment: the newest count stands
        return;
    }
    samples_.push_back({nowMs, count});
    // Keep one sample at or before the window's start, so the rate spans it.
    while (samples_.size() > 2 && samples_[1].ms <= nowMs - windowMs_)
        samples_.pop_front();
}

double RateMeter::bytesPerSecond() const {
    if (samples_.size() < 2) return -1;
    const Sample& a = samples_.front();
    const Sample& b = samples_.back();
    if (b.ms - a.ms < 500) return -1;
    return static_cast<double>(b.count - a.count) * 1000.0 / static_cast<double>(b.ms - a.ms);
}

namespace {

std::string scaled(double value, const char* suffix) {
    static const char* const units[] = {"B", "KB", "MB", "GB", "TB"};
    int unit = 0;
    while (value >= 1024 && unit < 4) {
        value /= 1024;
        ++unit;
    }
    char text[48];
    if (unit == 0)
        std::snprintf(text, sizeof text, "%.0f %s%s", value, units[unit], suffix);
    else if (value < 100 && unit >= 3)
        std::snprintf(text, sizeof text, "%.2f %s%s", value, units[unit], suffix);
    else
        std::snprintf(text, sizeof text, "%.1f %s%s", value, units[unit], suffix);
    return text;
}

} // namespace

std::string formatBytes(std::int64_t bytes) {
    return scaled(static_cast<double>(bytes < 0 ? 0 : bytes), "");
}

std::string formatRate(double bytesPerSecond) {
    if (bytesPerSecond < 0) return "";
    if (!(bytesPerSecond > 0)) return "stalled";
    return scaled(bytesPerSecond, "/s");
}

std::string formatTimeLeft(std::int64_t remainingBytes, double bytesPerSecond) {
    if (!(bytesPerSecond > 0) || remainingBytes < 0) return "";
    const double seconds = std::ceil(static_cast<double>(remainingBytes) / bytesPerSecond);
    if (seconds > 99.0 * 3600) return "";
    const long s = static_cast<long>(seconds);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

std::string progressLine(std::int64_t done, std::int64_t total, double bytesPerSecond) {
    const std::string rate = bytesPerSecond < 0 ? "" : "  " + formatRate(bytesPerSecond);
    if (total <= 0) return formatBytes(done) + rate;
    const std::int64_t shown = done > total ? total : done;
    const int percent = static_cast<int>(static_cast<double>(shown) * 100.0 / static_cast<double>(total));
    std::string line =
        std::to_string(percent) + "%  " + formatBytes(shown) + " of " + formatBytes(total) + rate;
    const std::string left = formatTimeLeft(total - shown, bytesPerSecond);
    if (!left.empty() && shown < total) line += "  " + left + " left";
    return line;
}

} // namespace download
