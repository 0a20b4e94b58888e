// measure: the window's run on the shared runner, with the instrument's own conditions, its
// samples written as they arrive, a status line at the terminal and a summary at the end.
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/Instruments.h"
#include "cli/RunOutput.h"
#include "cli/RunProgress.h"
#include "cli/RunRecorder.h"
#include "cli/StopSignals.h"
#include "link/Instrument.h"
#include "measure/AppMessages.h"
#include "measure/MeasurementWorker.h"
#include "measure/TextRules.h"
#include "res/StringTable.h"
#include "services/CalibrationServices.h"
#include "services/ConnectionServices.h"
#include "services/MeasurementRunner.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// The run's samples go to the recorder; the stop shows on the status line.
class CommandLineRunSink final : public RunSink {
public:
    CommandLineRunSink(RunRecorder& runRecorder, RunProgress& runProgress)
        : recorder(runRecorder), progress(runProgress) {}

    void SampleAccepted(const MeasurementSample& sample, std::size_t) override {
        recorder.Record(sample);
    }
    void RunMessage(unsigned message) override {
        if (message == WM_APP_MEAS_STOPPING) {
            progress.EnterPhase(RunPhase::Stopping);
        }
    }

private:
    RunRecorder& recorder;
    RunProgress& progress;
};

// The instrument's averaging decides its pace; one the window has no value for cannot be run.
int ReadInstrument(InstrumentInfo& info) {
    if (ReadInstrumentInfo(info) != InfoReadResult::kSuccess) {
        return ReportInstrumentFailure(LoadResourceString(IDS_CONNECTING_ERROR));
    }
    if (info.conditions.averagingIndex < 0) {
        Console::Get().Error(
            "the instrument's averaging is not one it can measure with; set averaging=1..5");
        return ExitCode::kInstrumentRefused;
    }
    return ExitCode::kSuccess;
}

// What the run's outcome means for the exit status, with the window's text for it. After "NG"
// or "NO" the instrument's error code names the reason, as in the window.
int RunExitCode(int result, int startExchange) {
    switch (result) {
        case MeasurementResult::kCompleted:
            return ExitCode::kSuccess;
        case MeasurementResult::kInstrumentNg:
        case MeasurementResult::kInstrumentNo: {
            std::string code;
            ReadLastErrorCode(code);
            const RunErrorKind kind = RunErrorKindOf(code);
            Console::Get().Error(
                LoadResourceString(kind == RunErrorKind::IntegrationOver ? IDS_INTEGRATION_OVER
                                   : kind == RunErrorKind::RangeOver     ? IDS_RANGE_OVER
                                                                         : IDS_MEASUREMENT_FAILED));
            return ExitCode::kInstrumentRefused;
        }
        case MeasurementResult::kStartFailed:
            if (startExchange == ExchangeResult::kRefused) {
                Console::Get().Error("the instrument refused to start the measurement");
                return ExitCode::kInstrumentRefused;
            }
            return ReportInstrumentFailure(LoadResourceString(IDS_MEASUREMENT_FAILED));
        default:
            Console::Get().Error(LoadResourceString(IDS_MEASUREMENT_FAILED));
            return ExitCode::kLinkFailure;
    }
}

// The end of a run that ended well, as the window words it; a duration that ran out is the
// run's planned end.
void TellCompletion() {
    const StopReason reason = RunStopReason();
    if (reason == StopReason::None || reason == StopReason::Duration) {
        Console::Get().Note(LoadResourceString(IDS_MEASUREMENT_COMPLETED));
    } else if (reason == StopReason::Signal) {
        Console::Get().Note(LoadResourceString(IDS_MEASUREMENT_CANCELED));
    }
}

// The outcome of the output once the run has ended: a reader that went away ends the program as
// such a reader expects, quietly; a failed write or close is told with what it cost.
int OutputExitCode(int status, const RunRecorder& recorder, const std::string& closeFailure) {
    if (RunStopReason() == StopReason::ReaderGone) {
        return ExitCode::kReaderGone;
    }
    if (RunStopReason() == StopReason::OutputFailed || !closeFailure.empty()) {
        const std::string reason = recorder.Failure().empty() ? closeFailure : recorder.Failure();
        Console::Get().Error(LoadResourceString(IDS_FILE_OUTPUT_FAILED) + std::string(" ") +
                             reason + "; " + std::to_string(recorder.Written()) +
                             " samples written, " + std::to_string(recorder.NotWritten()) +
                             " not written");
        return status == ExitCode::kSuccess ? ExitCode::kOutputFailure : status;
    }
    return status;
}

std::string SummaryText(const RunRecorder& recorder, double seconds) {
    const RunSummary& summary = recorder.Summary();
    std::string text = "samples: " + std::to_string(summary.Count());
    if (recorder.NotWritten() > 0) {
        text += " (" + std::to_string(recorder.Written()) + " written, " +
                std::to_string(recorder.NotWritten()) + " not written)";
    }
    text += "\nduration: " + FixedPointText(seconds, 3) + " s\n";
    if (summary.Count() == 0) {
        return text;
    }
    text += "irradiance [mW/cm2]: min " + MeasuredValueText(summary.Minimum()) + ", max " +
            MeasuredValueText(summary.Maximum()) + ", mean " + MeasuredValueText(summary.Mean()) +
            ", standard deviation " + MeasuredValueText(summary.StandardDeviation()) + "\n";
    text +=
        "final integral irradiance [mJ/cm2]: " + MeasuredValueText(*summary.FinalIntegral()) + "\n";
    text += "peak irradiance [mW/cm2]: " + MeasuredValueText(*summary.Peak()) + "\n";
    return text;
}

ProgressState InitialProgress(const MeasureOptions& options, int averagingIndex) {
    ProgressState state;
    state.countLimit = static_cast<std::size_t>(options.count);
    state.everyReading = options.intervalSeconds == 0;
    state.sampleSpacingSeconds =
        options.intervalSeconds > 0 ? options.intervalSeconds : (averagingIndex + 1) * 0.1;
    if (options.durationSeconds.has_value()) {
        state.endsAt =
            SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                     std::chrono::duration<double>(*options.durationSeconds));
    }
    return state;
}

}  // namespace

int MeasureCommand(const MeasureOptions& options) {
    InstrumentInfo info;
    if (const int read = ReadInstrument(info); read != ExitCode::kSuccess) {
        return read;
    }
    const OutputRules rules{options.force, options.append, Console::Get().CanAsk()};
    RunOutput output(options.outputPath, rules, options.localTime);
    if (std::string failure; !output.Open(std::chrono::system_clock::now(), failure)) {
        Console::Get().Error(failure);
        return ExitCode::kOutputFailure;
    }
    const SampleLineOptions lineOptions{
        options.format == "jsonl" ? SampleFormat::JsonLines : SampleFormat::Csv,
        options.timestamps};

    InstallStopSignals();
    const auto started = SteadyClock::now();
    const ProgressState initial = InitialProgress(options, info.conditions.averagingIndex);
    const std::optional<SteadyClock::time_point> endsAt = initial.endsAt;
    RunProgress progress(initial, [endsAt] {
        if (endsAt.has_value() && SteadyClock::now() >= *endsAt) {
            RequestRunStop(StopReason::Duration);
        }
    });
    RunRecorder recorder(output, lineOptions, &progress);

    RunSettings settings;
    settings.averagingIndex = info.conditions.averagingIndex;
    settings.intervalSeconds = options.intervalSeconds;
    settings.measureCount = options.count == 0 ? kUnlimitedCount : options.count;
    MeasurementRunner runner;
    runner.Start(settings, RunRecords{}, std::make_shared<CommandLineRunSink>(recorder, progress));
    // A stop that came before the run set its flag is not lost.
    if (RunStopReason() != StopReason::None) {
        MeasurementRunner::RequestStop();
    }
    const int result = runner.Wait();
    const double seconds = std::chrono::duration<double>(SteadyClock::now() - started).count();
    int status = RunExitCode(result, runner.StartExchangeResult());
    if (status == ExitCode::kSuccess) {
        TellCompletion();
    }
    status = OutputExitCode(status, recorder, output.Close());
    // Nobody reads any more: end as quietly as a reader that stopped listening expects.
    if (status != ExitCode::kReaderGone) {
        Console::Get().Report(SummaryText(recorder, seconds));
    }
    return status;
}
