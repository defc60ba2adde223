#pragma once
// What the whole-program benchmarks read of their own process.

#include <QEventLoop>
#include <QTimer>
#include <sys/resource.h>

namespace benchsupport {

// User and system CPU time used so far, in seconds.
inline double cpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop for ms milliseconds (asleep while nothing happens).
inline void runLoopFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace benchsupport
