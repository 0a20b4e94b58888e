// What a person at the terminal sees while a run goes: one status line, redrawn four times a
// second, that says how far the run is and what it waits for, so that even a run with a long
// interval, a silent instrument or an instrument that is away never looks hung.
//
// Threads: the measurement worker reports samples, the main thread the phases; the status
// ticker's thread draws. One mutex guards the state.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "cli/StatusTicker.h"

enum class RunPhase {
    Starting,              // the run is being started; no sample yet
    Running,               // samples arrive
    Stopping,              // the stop is sent; the instrument ends the run
    WaitingForInstrument,  // the instrument is away (--reconnect)
};

struct ProgressState {
    using Clock = std::chrono::steady_clock;

    RunPhase phase = RunPhase::Starting;
    Clock::time_point phaseSince{};
    std::size_t samples = 0;
    std::size_t countLimit = 0;       // 0: until stopped
    double sampleSpacingSeconds = 0;  // the interval, or the instrument's period with interval 0
    bool everyReading = false;        // interval 0: no "next in"
    Clock::time_point lastSample{};   // of this run's part; phaseSince before the first
    std::string lastIrradiance;       // the instrument's text
    std::optional<Clock::time_point> endsAt;  // --duration
};

// The status line for `state` at `now`, e.g.
//   "waiting for the first sample, 58 s"
//   "12 of 100, next in 48 s, irradiance 1.060E+01 mW/cm2"
//   "12 samples, no reading for 7 s"
//   "instrument away for 1 min 12 s, waiting for it"
std::string ProgressText(const ProgressState& state, ProgressState::Clock::time_point now);

class RunProgress {
public:
    using Clock = ProgressState::Clock;

    // `onTick` (may be empty) runs on the ticker's thread at every tick (the duration limit).
    RunProgress(ProgressState initial, std::function<void()> onTick);

    void EnterPhase(RunPhase phase);
    void SampleTaken(const std::string& irradianceText);

private:
    std::string Text();

    std::mutex mutex;
    ProgressState state;
    std::function<void()> tick;
    StatusTicker ticker;  // last: it calls Text until it is destroyed
};
