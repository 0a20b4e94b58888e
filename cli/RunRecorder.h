// The command line's side of a measurement run: each accepted reading is written to the
// target at once, counted into the summary and shown on the progress line. A failed write to
// standard output asks the run to stop, as nobody reads it any more; a failed write to a file
// is only noted, and the run goes on as the window's does.
// Threads: Record on the measurement worker; the rest once the run has ended.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "cli/RunSummary.h"
#include "cli/SampleOutput.h"
#include "cli/SampleTarget.h"

class RunRecorder {
public:
    // progressStream: where the progress line goes (standard error when it is a terminal),
    // null for none.
    RunRecorder(SampleTarget& target, const SampleLineOptions& options, std::FILE* progressStream);

    void Record(const MeasurementSample& sample);

    bool AnyWriteFailed() const { return anyWriteFailed; }
    const RunSummary& Summary() const { return summary; }
    // Wipes the progress line, so the summary starts on a clean line.
    void EndProgress();

private:
    void ShowProgress(const MeasurementSample& sample);

    SampleTarget& output;
    SampleLineOptions lineOptions;
    std::FILE* progress;
    RunSummary summary;
    bool anyWriteFailed = false;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastShown{};
};
