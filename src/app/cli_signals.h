#pragma once
// SIGINT and SIGTERM during a long run: the handler only notes which came, and
// the run looks at the note between events and ends in order (rows printed,
// settings saved, partial files kept).

#include <csignal>

namespace cli {

// The signal caught last while a StopSignals was alive; 0 when none.
extern volatile std::sig_atomic_t stopSignal;

// While alive, SIGINT and SIGTERM set stopSignal; the handlers from before
// come back when it goes. Making one clears stopSignal.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

} // namespace cli
