#include "shell/download_timer.h"

#include "platform/system.h"

#include <cmath>

namespace shell {

DownloadTimer::DownloadTimer() {
    Timer1.setInterval(1000);
    Timer1.OnTimer = [this] { Timer1Timer(); };
}

int DownloadTimer::hourAt(int x, int y, bool pm, ClockPoint* handEnd) {
    int dx = x - Hub.x;
    const int dy = y - Hub.y;
    if (dx == 0) dx = 1;
    const double a = std::atan(static_cast<double>(dy) / dx);
    int hour = static_cast<int>(std::trunc((a + 1.5) * 100 * (1.0 / 300) * 6));
    if (pm) hour += 12;
    const int cx = static_cast<int>(std::trunc(std::cos(a) * HandLength));
    const int cy = static_cast<int>(std::trunc(std::sin(a) * HandLength));
    ClockPoint end{Hub.x + cx, Hub.y + cy};
    if (dx < 0) {
        end = {Hub.x - cx, Hub.y - cy};
        hour += 6;
    }
    if (handEnd) *handEnd = end;
    return hour;
}

void DownloadTimer::Image1MouseDown(int x, int y) {
    const ClockPoint old = handEnd_;
    hour_ = hourAt(x, y, ampm_ == "pm", &handEnd_);
    placed_ = true;
    label2_ = "Connection scheduled for: " + std::to_string(hour_) + ":00 hours";
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
