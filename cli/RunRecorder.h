// The command line's side of a measurement run: each accepted reading is put into the MQTT spool
// (with --mqtt) and written to the output at once, counted into the summary and shown on the
// status line. The first write that fails asks the run to stop as Stop does, so no sample is
// accepted that cannot be kept: a reader that went away quietly (ReaderGone), any other failure
// with its reason (OutputFailed).
// Threads: Record on the measurement worker; the rest once the run has ended.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "cli/RunOutput.h"
#include "cli/RunSummary.h"
#include "cli/SampleOutput.h"

class RunProgress;
class SamplePublishing;

class RunRecorder {
public:
    // output, progress and publishing may each be null (--mqtt without a file: no output).
    RunRecorder(RunOutput* output, const SampleLineOptions& options, RunProgress* progress,
                SamplePublishing* publishing);

    void Record(const MeasurementSample& sample);

    const RunSummary& Summary() const { return summary; }
    std::size_t Written() const { return written; }
    std::size_t NotWritten() const { return output != nullptr ? summary.Count() - written : 0; }
    // The first failed write's message (file and reason); empty when none failed.
    const std::string& Failure() const { return failure; }

    // --reconnect: the run was interrupted (the link failed). The time without readings runs
    // from the last sample before it (or `now` when there was none) until the first sample
    // after it, or until EndInterruption. Call between parts of the run, not during one.
    void BeginInterruption(std::chrono::steady_clock::time_point now);
    void EndInterruption(std::chrono::steady_clock::time_point now);
    std::size_t Interruptions() const { return interruptions; }
    double SecondsWithoutReadings() const { return secondsWithoutReadings; }

private:
    RunOutput* output;
    SampleLineOptions lineOptions;
    RunProgress* progress;
    SamplePublishing* publishing;
    RunSummary summary;
    std::size_t written = 0;
    bool failed = false;
    std::string failure;
    std::optional<std::chrono::steady_clock::time_point> lastSample;
    std::optional<std::chrono::steady_clock::time_point> interruptedSince;
    std::size_t interruptions = 0;
    double secondsWithoutReadings = 0;
};
