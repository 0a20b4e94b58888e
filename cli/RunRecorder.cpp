#include "cli/RunRecorder.h"

#include "services/MeasurementRunner.h"

namespace {

// The progress line is redrawn at most this often; a fast run would otherwise spend its time
// drawing it.
constexpr std::chrono::milliseconds kProgressEvery{200};

}  // namespace

RunRecorder::RunRecorder(SampleTarget& target, const SampleLineOptions& options,
                         std::FILE* progressStream)
    : output(target), lineOptions(options), progress(progressStream) {}

void RunRecorder::Record(const MeasurementSample& sample) {
    const auto arrival = std::chrono::system_clock::now();
    if (!output.Write(SampleLine(sample, lineOptions, arrival))) {
        anyWriteFailed = true;
        if (output.IsStandardOutput()) {
            MeasurementRunner::RequestStop();
        }
    }
    summary.Add(sample);
    ShowProgress(sample);
}

void RunRecorder::ShowProgress(const MeasurementSample& sample) {
    const auto now = std::chrono::steady_clock::now();
    if (progress == nullptr || now - lastShown < kProgressEvery) {
        return;
    }
    lastShown = now;
    const double seconds = std::chrono::duration<double>(now - started).count();
    std::fprintf(progress, "\r%zu samples, %s s, irradiance %s mW/cm2\x1b[K", summary.Count(),
                 ShortNumberText(seconds).c_str(), sample.irradianceText.c_str());
    std::fflush(progress);
}

void RunRecorder::EndProgress() {
    if (progress != nullptr && lastShown != std::chrono::steady_clock::time_point{}) {
        std::fputs("\r\x1b[K", progress);
        std::fflush(progress);
    }
}
