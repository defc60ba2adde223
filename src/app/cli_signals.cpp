#include "app/cli_signals.h"

namespace cli {

volatile std::sig_atomic_t stopSignal = 0;

namespace {
void onStopSignal(int sig) {
    stopSignal = sig;
}
} // namespace

StopSignals::StopSignals() {
    stopSignal = 0;
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, &oldInt_);
    ::sigaction(SIGTERM, &sa, &oldTerm_);
}

StopSignals::~StopSignals() {
    ::sigaction(SIGINT, &oldInt_, nullptr);
    ::sigaction(SIGTERM, &oldTerm_, nullptr);
}

} // namespace cli
