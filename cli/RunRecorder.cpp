#include "cli/RunRecorder.h"

#include "cli/RunProgress.h"
#include "cli/StopSignals.h"

RunRecorder::RunRecorder(RunOutput& runOutput, const SampleLineOptions& options,
                         RunProgress* runProgress)
    : output(runOutput), lineOptions(options), progress(runProgress) {}

void RunRecorder::Record(const MeasurementSample& sample) {
    const auto arrival = std::chrono::system_clock::now();
    summary.Add(sample);
    if (progress != nullptr) {
        progress->SampleTaken(sample.irradianceText);
    }
    // After a failure the run is stopping: what still comes is counted as not written.
    if (failed) {
        return;
    }
    std::string reason;
    const WriteOutcome outcome =
        output.Write(SampleLine(sample, lineOptions, arrival), arrival, reason);
    if (outcome == WriteOutcome::Written) {
        ++written;
        return;
    }
    failed = true;
    failure = reason;
    RequestRunStop(outcome == WriteOutcome::ReaderGone ? StopReason::ReaderGone
                                                       : StopReason::OutputFailed);
}
