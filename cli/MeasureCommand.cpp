// measure: the window's run on the shared runner, with the instrument's own conditions, its
// samples written as they arrive, a status line at the terminal and a summary at the end.
#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/InstrumentWait.h"
#include "cli/Instruments.h"
#include "cli/JsonOutput.h"
#include "cli/RunOutput.h"
#include "cli/RunProgress.h"
#include "cli/RunRecorder.h"
#include "cli/SamplePublishing.h"
#include "cli/StatusTicker.h"
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

// A run that --reconnect carries over a link fault: the start failed for want of the link, or
// the stream failed. The instrument's own "NG" or "NO", and its refusal to start, end the run.
bool IsLinkFault(int result, int startExchange) {
    return result == MeasurementResult::kStreamFailed ||
           (result == MeasurementResult::kStartFailed && startExchange != ExchangeResult::kRefused);
}

// The instruments that cannot be had now are waited for with --reconnect: a service may start
// before the instrument is plugged in or switched on, or before its permission is given.
bool WorthWaitingFor(int status) {
    return status == ExitCode::kNoInstrument || status == ExitCode::kNoPermission ||
           status == ExitCode::kInstrumentBusy || status == ExitCode::kLinkFailure;
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

RunEnd EndOf(int result, int startExchange) {
    switch (RunStopReason()) {
        case StopReason::ReaderGone:
            return RunEnd::OutputClosed;
        case StopReason::OutputFailed:
            return RunEnd::OutputFailed;
        case StopReason::Signal:
            return RunEnd::Stopped;
        case StopReason::Duration:
        case StopReason::None:
            break;
    }
    switch (result) {
        case MeasurementResult::kCompleted:
            return RunEnd::Completed;
        case MeasurementResult::kInstrumentNg:
        case MeasurementResult::kInstrumentNo:
            return RunEnd::InstrumentRefused;
        default:
            return startExchange == ExchangeResult::kRefused ? RunEnd::InstrumentRefused
                                                             : RunEnd::LinkFailed;
    }
}

RunReport ReportOf(const RunRecorder& recorder, double seconds, RunEnd ended) {
    const RunSummary& summary = recorder.Summary();
    RunReport report;
    report.samples = summary.Count();
    report.written = recorder.Written();
    report.notWritten = recorder.NotWritten();
    report.durationSeconds = seconds;
    if (summary.Count() > 0) {
        report.irradiance = IrradianceStatistics{summary.Minimum(), summary.Maximum(),
                                                 summary.Mean(), summary.StandardDeviation()};
    }
    report.finalIntegralIrradiance = summary.FinalIntegral();
    report.peakIrradiance = summary.Peak();
    report.interruptions = recorder.Interruptions();
    report.secondsWithoutReadings = recorder.SecondsWithoutReadings();
    report.ended = ended;
    return report;
}

std::string InterruptionsText(const RunRecorder& recorder) {
    return "interruptions: " + std::to_string(recorder.Interruptions()) + ", without readings " +
           FixedPointText(recorder.SecondsWithoutReadings(), 3) + " s\n";
}

// When --duration ends the command that began at `start`.
std::optional<SteadyClock::time_point> DurationEnd(const MeasureOptions& options,
                                                   SteadyClock::time_point start) {
    if (!options.durationSeconds.has_value()) {
        return std::nullopt;
    }
    return start + std::chrono::duration_cast<SteadyClock::duration>(
                       std::chrono::duration<double>(*options.durationSeconds));
}

ProgressState InitialProgress(const MeasureOptions& options, int averagingIndex,
                              SteadyClock::time_point start) {
    ProgressState state;
    state.countLimit = static_cast<std::size_t>(options.count);
    state.everyReading = options.intervalSeconds == 0;
    state.sampleSpacingSeconds =
        options.intervalSeconds > 0 ? options.intervalSeconds : (averagingIndex + 1) * 0.1;
    state.endsAt = DurationEnd(options, start);
    return state;
}

// The first Connect read; with --reconnect an instrument that is not there yet is waited for.
// Nullopt when the run can start, else the exit status (0 after a stop while waiting).
std::optional<int> FirstInstrumentRead(const MeasureOptions& options, SteadyClock::time_point start,
                                       InstrumentInfo& info) {
    const int read = ReadInstrument(info);
    if (read == ExitCode::kSuccess) {
        return std::nullopt;
    }
    if (!options.reconnect || !WorthWaitingFor(read)) {
        return read;
    }
    InstallStopSignals();
    Console::Get().Warning(MessageTime() + ": waiting for the instrument (Ctrl+C ends the wait)");
    // --duration counts from the command's start, also while the instrument is awaited.
    const StatusTicker status([start, endsAt = DurationEnd(options, start)] {
        const auto now = SteadyClock::now();
        if (endsAt.has_value() && now >= *endsAt) {
            RequestRunStop(StopReason::Duration);
        }
        return "waiting for the instrument, " +
               DurationText(std::chrono::duration<double>(now - start).count());
    });
    if (WaitForInstrument(options.serialNumber, info)) {
        return std::nullopt;
    }
    return ExitCode::kSuccess;
}

RunSettings SettingsFor(const MeasureOptions& options, const InstrumentInfo& info,
                        std::size_t samplesSoFar) {
    RunSettings settings;
    settings.averagingIndex = info.conditions.averagingIndex;
    settings.intervalSeconds = options.intervalSeconds;
    settings.measureCount =
        options.count == 0
            ? kUnlimitedCount
            : options.count - static_cast<int>(std::min<std::size_t>(
                                  samplesSoFar, static_cast<std::size_t>(options.count)));
    return settings;
}

// After a link fault with --reconnect: says so, waits for the instrument and reads it again.
// False when a stop came first.
bool ComeBack(const std::string& serialNumber, RunProgress& progress, RunRecorder& recorder,
              SamplePublishing* publishing, InstrumentInfo& info) {
    recorder.BeginInterruption(SteadyClock::now());
    Console::Get().Warning(MessageTime() + ": " + LoadResourceString(IDS_MEASUREMENT_FAILED) +
                           " The instrument is away or does not answer; waiting for it to come "
                           "back (Ctrl+C ends the run)");
    progress.EnterPhase(RunPhase::WaitingForInstrument);
    if (publishing != nullptr) {
        publishing->InstrumentAway();
    }
    if (!WaitForInstrument(serialNumber, info)) {
        recorder.EndInterruption(SteadyClock::now());
        return false;
    }
    Console::Get().Warning(MessageTime() + ": the instrument is back (S/N " + info.serialNumber +
                           "); the run goes on");
    progress.EnterPhase(RunPhase::Starting);
    return true;
}

// The samples' output: a file or standard output, none when they only go to the broker. Null
// with the exit status when it cannot be had.
std::unique_ptr<RunOutput> OpenOutput(const MeasureOptions& options, int& status) {
    status = ExitCode::kSuccess;
    if (options.outputPath.empty() && !options.publishing.url.empty()) {
        return nullptr;
    }
    const OutputRules rules{options.force, options.append, Console::Get().CanAsk()};
    auto output = std::make_unique<RunOutput>(options.outputPath, rules, options.localTime);
    if (std::string failure; !output->Open(std::chrono::system_clock::now(), failure)) {
        Console::Get().Error(failure);
        status = ExitCode::kOutputFailure;
        return nullptr;
    }
    return output;
}

std::unique_ptr<RunProgress> StartProgress(const MeasureOptions& options,
                                           const InstrumentInfo& info,
                                           SteadyClock::time_point start) {
    const ProgressState initial = InitialProgress(options, info.conditions.averagingIndex, start);
    const std::optional<SteadyClock::time_point> endsAt = initial.endsAt;
    return std::make_unique<RunProgress>(initial, [endsAt] {
        if (endsAt.has_value() && SteadyClock::now() >= *endsAt) {
            RequestRunStop(StopReason::Duration);
        }
    });
}

struct RunEnding {
    int result = MeasurementResult::kCompleted;
    int startExchange = 0;
};

// The run in parts: with --reconnect a link fault ends a part, and the next begins once the
// instrument is back.
RunEnding RunParts(const MeasureOptions& options, InstrumentInfo& info, RunRecorder& recorder,
                   RunProgress& progress, SamplePublishing* publishing) {
    const auto sink = std::make_shared<CommandLineRunSink>(recorder, progress);
    MeasurementRunner runner;
    for (;;) {
        if (publishing != nullptr) {
            publishing->BeginRun(info);
        }
        runner.Start(SettingsFor(options, info, recorder.Summary().Count()), RunRecords{}, sink);
        // A stop that came before the run set its flag is not lost.
        if (RunStopReason() != StopReason::None) {
            MeasurementRunner::RequestStop();
        }
        const RunEnding ending{runner.Wait(), runner.StartExchangeResult()};
        if (!options.reconnect || !IsLinkFault(ending.result, ending.startExchange) ||
            RunStopReason() != StopReason::None) {
            return ending;
        }
        if (!ComeBack(options.serialNumber, progress, recorder, publishing, info)) {
            return {};  // stopped while the instrument was away
        }
    }
}

// The summary record of a jsonl output, then the output closed: the close's failure, empty when
// none.
std::string CloseOutput(RunOutput* output, const RunRecorder& recorder, bool jsonLines,
                        const std::string& summaryJson) {
    if (output == nullptr) {
        return {};
    }
    std::string failure;
    if (jsonLines && recorder.Failure().empty()) {
        output->Write(summaryJson, std::chrono::system_clock::now(), failure);
    }
    const std::string closed = output->Close();
    return failure.empty() ? closed : failure;
}

}  // namespace

int MeasureCommand(const MeasureOptions& options) {
    InstrumentInfo info;
    const auto commandStart = SteadyClock::now();
    if (const std::optional<int> status = FirstInstrumentRead(options, commandStart, info)) {
        return *status;
    }
    int status = ExitCode::kSuccess;
    std::unique_ptr<SamplePublishing> publishing;
    if (!options.publishing.url.empty()) {
        publishing = SamplePublishing::Start(options.publishing, info, status);
        if (publishing == nullptr) {
            return status;
        }
    }
    const std::unique_ptr<RunOutput> output = OpenOutput(options, status);
    if (status != ExitCode::kSuccess) {
        return status;
    }
    const SampleLineOptions lineOptions{
        options.format == "jsonl" ? SampleFormat::JsonLines : SampleFormat::Csv,
        options.timestamps};

    InstallStopSignals();
    const auto started = SteadyClock::now();
    std::unique_ptr<RunProgress> progress = StartProgress(options, info, commandStart);
    RunRecorder recorder(output.get(), lineOptions, progress.get(), publishing.get());
    const RunEnding ending = RunParts(options, info, recorder, *progress, publishing.get());
    const double seconds = std::chrono::duration<double>(SteadyClock::now() - started).count();
    progress.reset();
    status = RunExitCode(ending.result, ending.startExchange);
    if (status == ExitCode::kSuccess) {
        TellCompletion();
    }
    const std::string summaryJson = JsonLine(
        SummaryDocument(ReportOf(recorder, seconds, EndOf(ending.result, ending.startExchange))));
    status =
        OutputExitCode(status, recorder,
                       CloseOutput(output.get(), recorder,
                                   lineOptions.format == SampleFormat::JsonLines, summaryJson));
    const std::string published = publishing != nullptr ? publishing->Finish() : "";
    // Nobody reads any more: end as quietly as a reader that stopped listening expects.
    if (status == ExitCode::kReaderGone) {
        return status;
    }
    if (options.jsonSummary) {
        Console::Get().Report(summaryJson, true);
    } else {
        Console::Get().Report(SummaryText(recorder, seconds) +
                              (options.reconnect ? InterruptionsText(recorder) : "") + published);
    }
    return status;
}
