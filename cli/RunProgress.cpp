#include "cli/RunProgress.h"

#include <cmath>

#include "cli/Console.h"
#include "cli/RunSummary.h"

namespace {

// A sample this late means the instrument has gone quiet; the line then counts the silence.
constexpr double kLateAfterSeconds = 1.5;

double SecondsBetween(ProgressState::Clock::time_point from, ProgressState::Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

std::string CountText(const ProgressState& state) {
    if (state.countLimit > 0) {
        return std::to_string(state.samples) + " of " + std::to_string(state.countLimit);
    }
    return std::to_string(state.samples) + (state.samples == 1 ? " sample" : " samples");
}

// "next in 48 s" while the next sample is due, "no reading for 7 s" once it is late.
std::string WaitText(const ProgressState& state, ProgressState::Clock::time_point now) {
    const double since = SecondsBetween(state.lastSample, now);
    const double late = since - state.sampleSpacingSeconds;
    if (late > kLateAfterSeconds) {
        return "no reading for " + DurationText(late + state.sampleSpacingSeconds);
    }
    if (state.everyReading) {
        return {};
    }
    return "next in " + DurationText(std::ceil(std::max(0.0, -late)));
}

ProgressState StartedNow(ProgressState state) {
    state.phaseSince = ProgressState::Clock::now();
    state.lastSample = state.phaseSince;
    return state;
}

std::string Joined(std::string text, const std::string& more) {
    if (more.empty()) {
        return text;
    }
    return text.empty() ? more : text + ", " + more;
}

}  // namespace

std::string ProgressText(const ProgressState& state, ProgressState::Clock::time_point now) {
    std::string text;
    switch (state.phase) {
        case RunPhase::WaitingForInstrument:
            return "instrument away for " + DurationText(SecondsBetween(state.phaseSince, now)) +
                   ", waiting for it";
        case RunPhase::Stopping:
            return Joined(CountText(state), "stopping: waiting for the instrument to end the run");
        case RunPhase::Starting:
            if (state.samples == 0) {
                const std::string wait = WaitText(state, now);
                text = wait.starts_with("next in ")
                           ? "waiting for the first sample, " + wait.substr(8)
                           : Joined("waiting for the first sample", wait);
                break;
            }
            [[fallthrough]];
        case RunPhase::Running:
            text = Joined(CountText(state), WaitText(state, now));
            if (!state.lastIrradiance.empty()) {
                text = Joined(text, "irradiance " + state.lastIrradiance + " mW/cm2");
            }
            break;
    }
    if (state.endsAt.has_value()) {
        text =
            Joined(text, DurationText(std::max(0.0, SecondsBetween(now, *state.endsAt))) + " left");
    }
    return text;
}

RunProgress::RunProgress(ProgressState initial, std::function<void()> onTick)
    : state(StartedNow(std::move(initial))),
      tick(std::move(onTick)),
      ticker([this] { return Text(); }) {}

std::string RunProgress::Text() {
    if (tick) {
        tick();
    }
    const std::lock_guard lock(mutex);
    return ProgressText(state, Clock::now());
}

void RunProgress::EnterPhase(RunPhase phase) {
    const std::lock_guard lock(mutex);
    state.phase = phase;
    state.phaseSince = Clock::now();
    if (phase == RunPhase::Starting) {
        state.lastSample = state.phaseSince;
    }
}

void RunProgress::SampleTaken(const std::string& irradianceText) {
    const std::lock_guard lock(mutex);
    ++state.samples;
    state.lastSample = Clock::now();
    state.lastIrradiance = irradianceText;
    if (state.phase == RunPhase::Starting) {
        state.phase = RunPhase::Running;
    }
}
