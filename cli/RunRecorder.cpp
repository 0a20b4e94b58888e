#include "cli/RunRecorder.h"

#include "cli/RunProgress.h"
#include "cli/SamplePublishing.h"
#include "cli/StopSignals.h"

RunRecorder::RunRecorder(RunOutput* runOutput, const SampleLineOptions& options,
                         RunProgress* runProgress, SamplePublishing* samplePublishing)
    : output(runOutput),
      lineOptions(options),
      progress(runProgress),
      publishing(samplePublishing) {}

void RunRecorder::Record(const MeasurementSample& sample) {
    const auto arrival = std::chrono::system_clock::now();
    lastSample = std::chrono::steady_clock::now();
    EndInterruption(*lastSample);
    summary.Add(sample);
    if (progress != nullptr) {
        progress->SampleTaken(sample.irradianceText);
    }
    // After a failure the run is stopping: what still comes is counted as not written.
    if (failed) {
        return;
    }
    std::string reason;
    WriteOutcome outcome = WriteOutcome::Written;
    if (publishing != nullptr && !publishing->Publish(sample, arrival, reason)) {
        outcome = WriteOutcome::Failed;
    } else if (output != nullptr) {
        outcome = output->Write(SampleLine(sample, lineOptions, arrival), arrival, reason);
        written += outcome == WriteOutcome::Written ? 1 : 0;
    }
    if (outcome == WriteOutcome::Written) {
        return;
    }
    failed = true;
    failure = reason;
    RequestRunStop(outcome == WriteOutcome::ReaderGone ? StopReason::ReaderGone
                                                       : StopReason::OutputFailed);
}

void RunRecorder::BeginInterruption(std::chrono::steady_clock::time_point now) {
    ++interruptions;
    interruptedSince = lastSample.value_or(now);
}

void RunRecorder::EndInterruption(std::chrono::steady_clock::time_point now) {
    if (interruptedSince.has_value()) {
        secondsWithoutReadings += std::chrono::duration<double>(now - *interruptedSince).count();
        interruptedSince.reset();
    }
}
