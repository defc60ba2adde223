#include "platform/eventloop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace platform {

void post(std::function<void()> fn) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
}

void processEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void pumpMessages(int maxMs) {
    // A timer makes sure the wait ends; any other event ends it earlier.
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(maxMs < 0 ? 0 : maxMs);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

bool runUntil(const std::function<bool()>& cond, int maxMs) {
    QElapsedTimer clock;
    clock.start();
    while (!cond()) {
        const qint64 left = maxMs - clock.elapsed();
        if (left <= 0) return cond();
        // Wake at least every 50 ms to look at the condition again, in case
        // it changed through something other than an event.
        pumpMessages(static_cast<int>(std::min<qint64>(left, 50)));
    }
    return true;
}

TTimer::TTimer() : timer_(std::make_unique<QTimer>()) {
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_.get(), &QTimer::timeout, [this] {
        if (enabled_ && OnTimer) OnTimer();
    });
}

TTimer::~TTimer() = default;

void TTimer::setInterval(int ms) {
    interval_ = ms;
    restart();
}

void TTimer::setEnabled(bool on) {
    enabled_ = on;
    restart();
}

void TTimer::restart() {
    timer_->stop();
    if (enabled_ && interval_ > 0) timer_->start(interval_);
}

} // namespace platform
