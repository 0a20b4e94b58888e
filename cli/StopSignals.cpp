#include "cli/StopSignals.h"

#include <atomic>
#include <csignal>

#include "services/MeasurementRunner.h"

namespace {

// Only lock-free atomics may be touched from a signal handler.
static_assert(std::atomic<int>::is_always_lock_free);

std::atomic<int> stopSignalled{0};

extern "C" void OnStopSignal(int) {
    stopSignalled.store(1);
    MeasurementRunner::RequestStop();
}

}  // namespace

#ifdef _WIN32

void InstallStopSignals() {
    std::signal(SIGINT, &OnStopSignal);
    std::signal(SIGTERM, &OnStopSignal);
}

#else

void InstallStopSignals() {
    struct sigaction stop {};
    stop.sa_handler = &OnStopSignal;
    sigemptyset(&stop.sa_mask);
    // Once only: the next one takes the default action and ends the program.
    stop.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

#endif

bool StopSignalled() {
    return stopSignalled.load() != 0;
}
