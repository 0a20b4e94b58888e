#include "cli/StopSignals.h"

#include <atomic>
#include <csignal>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/ExitCodes.h"
#include "services/MeasurementRunner.h"

namespace {

// Only lock-free atomics may be touched from a signal handler.
static_assert(std::atomic<int>::is_always_lock_free);

std::atomic<int> stopReason{static_cast<int>(StopReason::None)};

extern "C" void OnStopSignal(int) {
    RequestRunStop(StopReason::Signal);
}

constexpr char kCalibrationInterrupted[] =
    "\nqiro7-cli: interrupted: the instrument goes on with the zero calibration it has begun; "
    "its outcome is not known here (read it with: qiro7-cli error)\n";

extern "C" void OnCalibrationSignal(int) {
    // Only async-signal-safe calls: one write, then _exit.
#ifdef _WIN32
    _write(2, kCalibrationInterrupted, sizeof kCalibrationInterrupted - 1);
#else
    [[maybe_unused]] const auto written =
        write(2, kCalibrationInterrupted, sizeof kCalibrationInterrupted - 1);
#endif
    _exit(ExitCode::kInterrupted);
}

#ifdef _WIN32
void Handle(void (*handler)(int), bool) {
    std::signal(SIGINT, handler);
    std::signal(SIGTERM, handler);
}
#else
void Handle(void (*handler)(int), bool once) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // Once only: the next one takes the default action and ends the program.
    action.sa_flags = (once ? SA_RESETHAND : 0) | SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}
#endif

}  // namespace

void InstallStopSignals() {
    Handle(&OnStopSignal, true);
}

void RequestRunStop(StopReason reason) {
    int none = static_cast<int>(StopReason::None);
    stopReason.compare_exchange_strong(none, static_cast<int>(reason));
    MeasurementRunner::RequestStop();
}

StopReason RunStopReason() {
    return static_cast<StopReason>(stopReason.load());
}

void IgnoreWriteSignals() {
#ifndef _WIN32
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    sigaction(SIGXFSZ, &ignore, nullptr);
#endif
}

void InstallCalibrationInterrupt() {
    Handle(&OnCalibrationSignal, false);
}
