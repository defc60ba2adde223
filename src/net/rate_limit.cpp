#include "net/rate_limit.h"

#include "platform/system.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <vector>

namespace net {

RateLimit::RateLimit() {
    timer_.OnTimer = [this] {
        timer_.setEnabled(false);
        wakeWaiters();
    };
}

RateLimit& RateLimit::shared() {
    static RateLimit limit;
    return limit;
}

void RateLimit::setBytesPerSecond(std::int64_t rate) {
    rate_ = std::max<std::int64_t>(0, rate);
    budget_ = 0;
    carry_ = 0;
    lastMs_ = platform::GetTickCount();
    if (!limited()) wakeWaiters();
}

std::int64_t RateLimit::capacity() const {
    return std::max<std::int64_t>(rate_ / 20, 4096);
}

void RateLimit::refill() {
    const std::uint32_t now = platform::GetTickCount();
    const std::uint32_t elapsed = now - lastMs_; // the tick wraps: the difference does not
    lastMs_ = now;
    carry_ += static_cast<std::int64_t>(elapsed) * rate_;
    budget_ = std::min(capacity(), budget_ + carry_ / 1000);
    carry_ %= 1000;
}

std::size_t RateLimit::take(std::size_t want) {
    if (!limited()) return want;
    refill();
    if (budget_ <= 0) return 0;
    const std::size_t may =
        static_cast<std::size_t>(std::min<std::int64_t>(budget_, static_cast<std::int64_t>(want)));
    budget_ -= static_cast<std::int64_t>(may);
    return may;
}

void RateLimit::giveBack(std::size_t unused) {
    if (!limited()) return;
    budget_ = std::min(capacity(), budget_ + static_cast<std::int64_t>(unused));
}

void RateLimit::wait(const void* owner, std::function<void()> resume) {
    waiters_[owner] = std::move(resume);
    if (!limited()) {
        wakeWaiters();
        return;
    }
    armTimer();
}

void RateLimit::forget(const void* owner) {
    waiters_.erase(owner);
}

void RateLimit::armTimer() {
    if (timer_.Enabled() || waiters_.empty()) return;
    // Wake when a useful share of the budget is back: a few kilobytes, or a
    // quarter of it, whichever comes first; never sooner than 5 ms.
    refill();
    const std::int64_t want = std::min<std::int64_t>(capacity() / 4, 4096) - budget_;
    const std::int64_t ms = want <= 0 ? 1 : (want * 1000 + rate_ - 1) / rate_;
    timer_.setInterval(static_cast<int>(std::clamp<std::int64_t>(ms, 5, 1000)));
    timer_.setEnabled(true);
}

void RateLimit::wakeWaiters() {
    // Each resume may read, pause and wait again: take the list first.
    std::map<const void*, std::function<void()>> now;
    now.swap(waiters_);
    for (auto& [owner, resume] : now)
        if (resume) resume();
    armTimer();
}

bool parseRate(const std::string& text, std::int64_t& bytesPerSecond) {
    if (text.empty() || text.size() > 24) return false;
    std::size_t digits = 0;
    bool dot = false;
    while (digits < text.size() &&
           (std::isdigit(static_cast<unsigned char>(text[digits])) || (text[digits] == '.' && !dot))) {
        dot = dot || text[digits] == '.';
        ++digits;
    }
    if (digits == 0 || text[0] == '.' || text[digits - 1] == '.') return false;
    double unit = 1;
    const std::string suffix = text.substr(digits);
    if (suffix == "k" || suffix == "K")
        unit = 1024;
    else if (suffix == "m" || suffix == "M")
        unit = 1024.0 * 1024;
    else if (suffix == "g" || suffix == "G")
        unit = 1024.0 * 1024 * 1024;
    else if (!suffix.empty())
        return false;
    const double value = std::stod(text.substr(0, digits)) * unit;
    if (!(value < 9e15)) return false;
    bytesPerSecond = static_cast<std::int64_t>(std::llround(value));
    return true;
}

} // namespace net
