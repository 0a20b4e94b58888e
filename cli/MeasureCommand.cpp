// measure: the window's run on the shared runner, with the instrument's own conditions, its
// samples written as they arrive and a summary at the end.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "cli/Instruments.h"
#include "cli/RunRecorder.h"
#include "cli/StopSignals.h"
#include "framework/MessageBoxes.h"
#include "measure/AppMessages.h"
#include "measure/CsvFile.h"
#include "measure/MeasurementWorker.h"
#include "measure/RunActive.h"
#include "res/StringTable.h"
#include "services/CalibrationServices.h"
#include "services/ConnectionServices.h"
#include "services/MeasurementRunner.h"

namespace {

// The run's samples go to the recorder; its end is told with the window's texts.
class CommandLineRunSink final : public RunSink {
public:
    explicit CommandLineRunSink(RunRecorder& runRecorder) : recorder(runRecorder) {}

    void SampleAccepted(const MeasurementSample& sample, std::size_t) override {
        recorder.Record(sample);
    }

    // A stop request has cleared runActive by the time "END" ends the run.
    void RunMessage(unsigned message) override {
        if (message == WM_APP_MEAS_DONE) {
            recorder.EndProgress();
            ShowStringMessage(
                runActive.load() != 0 ? IDS_MEASUREMENT_COMPLETED : IDS_MEASUREMENT_CANCELED,
                MessageIcon::Information, MessageButtons::Ok, nullptr);
        }
    }

private:
    RunRecorder& recorder;
};

bool StandardErrorIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

// Standard output without a path; else the file, emptied first as the window does (an existing
// one only after Yes to the window's question). Null when it cannot be had; the reason is told.
std::unique_ptr<SampleTarget> OpenTarget(const std::string& path) {
    if (path.empty()) {
        return SampleTarget::StandardOutput();
    }
    if (PathExists(path)) {
        if (ShowStringMessage(IDS_CONFIRM_REPLACE_FILE, MessageIcon::Question,
                              MessageButtons::YesNo, nullptr) != MessageAnswer::Yes) {
            return nullptr;
        }
        if (const std::error_code error = DeleteFileOnly(path)) {
            ReportError(path + ": " + error.message());
            return nullptr;
        }
    }
    std::error_code error;
    std::unique_ptr<SampleTarget> target = SampleTarget::File(path, error);
    if (target == nullptr) {
        ReportError(path + ": " + error.message());
    }
    return target;
}

// What the run's outcome means for the exit status, with the window's text for it. After "NG"
// or "NO" the instrument's error code names the reason, as in the window.
int RunExitCode(int result) {
    switch (result) {
        case MeasurementResult::kCompleted:
            return ExitCode::kSuccess;
        case MeasurementResult::kInstrumentNg:
        case MeasurementResult::kInstrumentNo: {
            std::string code;
            ReadLastErrorCode(code);
            const RunErrorKind kind = RunErrorKindOf(code);
            ReportError(
                LoadResourceString(kind == RunErrorKind::IntegrationOver ? IDS_INTEGRATION_OVER
                                   : kind == RunErrorKind::RangeOver     ? IDS_RANGE_OVER
                                                                         : IDS_MEASUREMENT_FAILED));
            return ExitCode::kInstrumentRefused;
        }
        case MeasurementResult::kStartFailed:
            return ReportInstrumentFailure(LoadResourceString(IDS_MEASUREMENT_FAILED));
        default:
            ReportError(LoadResourceString(IDS_MEASUREMENT_FAILED));
            return ExitCode::kLinkFailure;
    }
}

// The instrument's averaging decides its pace; one the window has no value for cannot be run.
bool ReadAveraging(int& averagingIndex, int& status) {
    InstrumentInfo info;
    const int read = ReadInstrumentInfo(info);
    if (read != InfoReadResult::kSuccess) {
        status = ReportInstrumentFailure(LoadResourceString(IDS_CONNECTING_ERROR));
        return false;
    }
    averagingIndex = info.conditions.averagingIndex;
    if (averagingIndex < 0) {
        ReportError(
            "the instrument's averaging is not one it can measure with; set averaging=1..5");
        status = ExitCode::kInstrumentRefused;
        return false;
    }
    return true;
}

}  // namespace

int MeasureCommand(const MeasureOptions& options) {
    int status = ExitCode::kSuccess;
    RunSettings settings;
    if (!ReadAveraging(settings.averagingIndex, status)) {
        return status;
    }
    settings.intervalSeconds = options.intervalSeconds;
    settings.measureCount = options.count == 0 ? kUnlimitedCount : options.count;
    const std::unique_ptr<SampleTarget> target = OpenTarget(options.outputPath);
    if (target == nullptr) {
        return ExitCode::kOutputFailure;
    }
    const SampleLineOptions lineOptions{
        options.format == "jsonl" ? SampleFormat::JsonLines : SampleFormat::Csv,
        options.timestamps};
    RunRecorder recorder(*target, lineOptions, StandardErrorIsTerminal() ? stderr : nullptr);

    InstallStopSignals();
    const auto started = std::chrono::steady_clock::now();
    MeasurementRunner runner;
    runner.Start(settings, RunRecords{}, std::make_shared<CommandLineRunSink>(recorder));
    // A stop that came before the run set its flag is not lost.
    if (StopSignalled()) {
        MeasurementRunner::RequestStop();
    }
    status = RunExitCode(runner.Wait());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    recorder.EndProgress();
    std::fputs(recorder.Summary().Text(seconds).c_str(), stderr);
    const bool outputFailed = target->Close() || recorder.AnyWriteFailed();
    if (outputFailed) {
        ReportError(LoadResourceString(IDS_FILE_OUTPUT_FAILED));
    }
    return outputFailed && status == ExitCode::kSuccess ? ExitCode::kOutputFailure : status;
}
