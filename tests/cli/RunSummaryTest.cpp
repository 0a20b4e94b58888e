#include "cli/RunSummary.h"

#include "cli/RunProgress.h"

#include <gtest/gtest.h>

#include "tests/common/ScopedLocale.h"

namespace {

MeasurementSample SampleOf(const std::string& line) {
    MeasurementSample sample;
    sample.Parse(line);
    return sample;
}

TEST(RunSummary, NamesTheExtremesTheFinalIntegralAndTheHighestPeak) {
    RunSummary summary;
    for (const char* line : {"2.000E+00 1.0E-01 3.000E+00", "4.000E+00 3.0E-01 4.500E+00",
                             "1.000E+00 3.5E-01 4.000E+00", "5.000E+00 6.0E-01 4.200E+00"}) {
        summary.Add(SampleOf(line));
    }
    EXPECT_EQ(summary.Count(), 4u);
    EXPECT_EQ(summary.Minimum(), 1.0);
    EXPECT_EQ(summary.Maximum(), 5.0);
    EXPECT_DOUBLE_EQ(summary.Mean(), 3.0);
    EXPECT_NEAR(summary.StandardDeviation(), 1.8257418583505538, 1e-12);  // sample (n - 1)
    EXPECT_EQ(summary.FinalIntegral(), 0.6);
    EXPECT_EQ(summary.Peak(), 4.5);
}

TEST(RunSummary, OfNoSamplesHasNoValues) {
    EXPECT_FALSE(RunSummary().FinalIntegral().has_value());
    EXPECT_FALSE(RunSummary().Peak().has_value());
    RunSummary one;
    one.Add(SampleOf("7 8 9"));
    EXPECT_EQ(one.StandardDeviation(), 0.0);
}

// Every number of the summary in the instrument's own notation, whatever the locale.
TEST(RunSummary, WritesMeasuredValuesInTheInstrumentsNotation) {
    const ScopedLocale comma("de_DE.UTF-8");
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {10.598, "1.060E+01"}, {0.0334664, "3.347E-02"}, {-2.5, "-2.500E+00"},
        {0.0, "0.000E+00"},    {1234567.0, "1.235E+06"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MeasuredValueText(c.value), c.text) << c.value;
    }
}

TEST(RunSummary, SaysHowLongInWholeUnits) {
    EXPECT_EQ(DurationText(0.4), "0 s");
    EXPECT_EQ(DurationText(59.6), "1 min 0 s");
    EXPECT_EQ(DurationText(250), "4 min 10 s");
    EXPECT_EQ(DurationText(7380), "2 h 3 min");
}

// The status line says what the run waits for: the first sample, the next, a silent
// instrument, the stop, an instrument that is away.
TEST(RunProgress, SaysWhatTheRunWaitsFor) {
    using Clock = ProgressState::Clock;
    const Clock::time_point start{};
    ProgressState minute;
    minute.phaseSince = minute.lastSample = start;
    minute.sampleSpacingSeconds = 60;
    minute.countLimit = 100;
    ProgressState running = minute;
    running.phase = RunPhase::Running;
    running.samples = 12;
    running.lastIrradiance = "1.060E+01";
    ProgressState everyReading = running;
    everyReading.everyReading = true;
    everyReading.sampleSpacingSeconds = 0.1;
    everyReading.countLimit = 0;
    ProgressState stopping = running;
    stopping.phase = RunPhase::Stopping;
    ProgressState away = running;
    away.phase = RunPhase::WaitingForInstrument;
    ProgressState timed = everyReading;
    timed.endsAt = start + std::chrono::minutes(5);
    const struct {
        const ProgressState& state;
        double at;  // seconds after start
        const char* text;
    } cases[] = {
        {minute, 2, "waiting for the first sample, 58 s"},
        {minute, 64, "waiting for the first sample, no reading for 1 min 4 s"},
        {running, 12, "12 of 100, next in 48 s, irradiance 1.060E+01 mW/cm2"},
        {running, 70, "12 of 100, no reading for 1 min 10 s, irradiance 1.060E+01 mW/cm2"},
        {everyReading, 0.05, "12 samples, irradiance 1.060E+01 mW/cm2"},
        {stopping, 1, "12 of 100, stopping: waiting for the instrument to end the run"},
        {away, 72, "instrument away for 1 min 12 s, waiting for it"},
        {timed, 0.05, "12 samples, irradiance 1.060E+01 mW/cm2, 5 min 0 s left"},
    };
    for (const auto& c : cases) {
        const auto at = start + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(c.at));
        EXPECT_EQ(ProgressText(c.state, at), c.text);
    }
}

}  // namespace
