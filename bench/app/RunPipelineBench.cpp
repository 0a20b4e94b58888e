// A full-length run through the whole pipeline: the worker on its thread against the
// simulator's fast clock, AppendSample, the Received box on the window thread and the CSV
// file. Prints samples per second (items_per_second); asserts no time. Runs on Qt's offscreen
// platform unless QT_QPA_PLATFORM names another.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <string>

#include "app/Qiro7Dlg.h"
#include "link/ModalInteraction.h"
#include "link/Sleep.h"
#include "sim/SimulatedUsbDriver.h"

namespace {

constexpr int kRunSamples = 9999;

// The operator who says Yes to everything and picks no file.
class YesOperator : public ModalInteraction {
public:
    MessageAnswer ShowMessageBox(const MessageBoxRequest& request) override {
        return request.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    }
    bool ChooseSaveFileName(const SaveFileRequest&, std::string&) override { return false; }
};

void NoSleep(int) {}

// Serves the worker's calls until its thread procedure has returned.
void ServeUntilWorkerEnds(const CQiro7Dlg& window) {
    QTimer wake;
    wake.start(1);
    while (window.IsWorkerRunning()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

void BM_RunAtIntervalZero(benchmark::State& state) {
    InstallUsbDriver(std::make_shared<SimulatedUsbDriver>(SimulatedInstrument::ClockMode::Fast));
    InstallModalInteraction(std::make_shared<YesOperator>());
    const SleepFunction previousSleep = SetSleepFunction(&NoSleep);
    const std::filesystem::path csv =
        std::filesystem::temp_directory_path() / "qiro7-run-pipeline-bench.csv";
    CQiro7Dlg window;
    window.show();
    window.OnConnect();
    window.SetControlText(IDC_INTERVAL, "0");
    window.SetControlText(IDC_COUNT, std::to_string(kRunSamples));
    window.CheckButton(IDC_AUTO_OUTPUT, true);

    for (auto _ : state) {
        window.SetControlText(IDC_CSV_FILE_NAME, csv.string());
        window.OnStartStopMeas();
        ServeUntilWorkerEnds(window);
        if (window.samples.Size() != static_cast<std::size_t>(kRunSamples)) {
            state.SkipWithError("the run did not deliver every sample");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kRunSamples);
    state.counters["csv_bytes"] = static_cast<double>(std::filesystem::file_size(csv));

    std::filesystem::remove(csv);
    SetSleepFunction(previousSleep);
    InstallModalInteraction(nullptr);
    InstallUsbDriver(nullptr);
}
BENCHMARK(BM_RunAtIntervalZero)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace
