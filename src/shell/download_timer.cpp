#include "shell/download_timer.h"

#include "platform/system.h"

#include <cmath>

namespace shell {

DownloadTimer::DownloadTimer() {
    Timer1.setInterval(1000);
    Timer1.OnTimer = [this] { Timer1Timer(); };
}

int DownloadTimer::hourAt(int x, int y, bool pm, ClockPoint* handEnd) {
    // The face shows an hour every 30 degrees, 12 at the top: a click chooses
    // the hour nearest to it, and the hand points at that hour.
    constexpr double pi = 3.14159265358979323846;
    const double clockwise = std::atan2(static_cast<double>(x - Hub.x), static_cast<double>(Hub.y - y));
    const int nearest = static_cast<int>(std::lround(clockwise / (pi / 6)));
    const int onFace = (nearest % 12 + 12) % 12; // 0 at the top
    const double a = onFace * (pi / 6);
    if (handEnd)
        *handEnd = {Hub.x + static_cast<int>(std::lround(std::sin(a) * HandLength)),
                    Hub.y - static_cast<int>(std::lround(std::cos(a) * HandLength))};
    return onFace + (pm ? 12 : 0);
}

std::string DownloadTimer::confirmation(int hour) {
    return "Connection scheduled for: " + std::to_string(hour) + ":00 hours";
}

void DownloadTimer::Image1MouseDown(int x, int y) {
    const ClockPoint old = handEnd_;
    hour_ = hourAt(x, y, ampm_ == "pm", &handEnd_);
    placed_ = true;
    label2_ = confirmation(hour_);
    handMoved(old, handEnd_);
    changed();
}

void DownloadTimer::ampmClick() {
    if (ampm_ == "am") {
        ampm_ = "pm";
        if (hour_ < 25) hour_ += 12;
    } else {
        ampm_ = "am";
        if (hour_ >= 12) hour_ -= 12;
    }
    // The line names the hour the check now waits for.
    if (placed_) label2_ = confirmation(hour_);
    changed();
}

void DownloadTimer::Timer1Timer() {
    if (!armed() || platform::localHour() != hour_) return;
    const platform::Lifetime::Watch alive = lifetime_.watch();
    FormClose();
    closed();
    if (alive) haulfiles();
}

void DownloadTimer::FormShow() {
    visible_ = true;
    Timer1.setEnabled(true);
}

void DownloadTimer::FormClose() {
    visible_ = false;
    Timer1.setEnabled(false);
}

} // namespace shell
