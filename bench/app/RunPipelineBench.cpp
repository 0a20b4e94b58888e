// A measurement run through the whole pipeline: the worker on its thread, the sample list, the
// Received box on the window thread, the CSV file and, when asked for, the graph window. Prints
// its figures; asserts no time. Runs on Qt's offscreen platform unless QT_QPA_PLATFORM names
// another.
//
// BM_RunAtIntervalZero/graph:0|1: a 9,999-sample run at interval 0 against the simulator's fast
// clock (items_per_second = samples per second).
// BM_TenHertzRun/graph:0|1: 20 s of a run at the instrument's own pace (the simulator's real
// clock, averaging 1: one line per 100 ms, interval 0), the window thread in its event loop as
// in the program. cpu_percent is the process's CPU time over the wall time, window_percent the
// window thread's share of it and worker_percent the rest (the worker and anything else).
#include <benchmark/benchmark.h>
#include <time.h>

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
constexpr int kSettleMs = 2000;
constexpr int kMeasuredMs = 20000;

// The operator who says Yes to everything and picks no file.
class YesOperator : public ModalInteraction {
public:
    MessageAnswer ShowMessageBox(const MessageBoxRequest& request) override {
        return request.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    }
    bool ChooseSaveFileName(const SaveFileRequest&, std::string&) override { return false; }
};

void NoSleep(int) {}

double SecondsOf(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Serves the worker's calls until its thread procedure has returned.
void ServeUntilWorkerEnds(const CQiro7Dlg& window) {
    QTimer wake;
    wake.start(1);
    while (window.IsWorkerRunning()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

// The window's event loop, as the program runs it, for `milliseconds`.
void RunEventLoopFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// The simulated instrument, the operator and a connected main window for one benchmark.
class RunBench {
public:
    RunBench(SimulatedInstrument::ClockMode clock, bool graph) {
        InstallUsbDriver(std::make_shared<SimulatedUsbDriver>(clock));
        InstallModalInteraction(std::make_shared<YesOperator>());
        // The fast clock needs no sleep; the real one sleeps as the program does.
        previousSleep =
            SetSleepFunction(clock == SimulatedInstrument::ClockMode::Fast ? &NoSleep : nullptr);
        window.show();
        window.OnConnect();
        window.CheckButton(IDC_GRAPH, graph);
    }
    ~RunBench() {
        SetSleepFunction(previousSleep);
        InstallModalInteraction(nullptr);
        InstallUsbDriver(nullptr);
    }

    // False, with the benchmark skipped, when the connect failed.
    bool Connected(benchmark::State& state) const {
        if (!window.IsControlEnabled(IDC_REFRESH)) {
            state.SkipWithError("the connect failed");
            return false;
        }
        return true;
    }

    CQiro7Dlg window;

private:
    SleepFunction previousSleep = nullptr;
};

void BM_RunAtIntervalZero(benchmark::State& state) {
    RunBench bench(SimulatedInstrument::ClockMode::Fast, state.range(0) != 0);
    if (!bench.Connected(state)) {
        return;
    }
    CQiro7Dlg& window = bench.window;
    const std::filesystem::path csv =
        std::filesystem::temp_directory_path() / "qiro7-run-pipeline-bench.csv";
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
}
BENCHMARK(BM_RunAtIntervalZero)
    ->ArgName("graph")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(5);

void BM_TenHertzRun(benchmark::State& state) {
    RunBench bench(SimulatedInstrument::ClockMode::Real, state.range(0) != 0);
    if (!bench.Connected(state)) {
        return;
    }
    CQiro7Dlg& window = bench.window;
    window.SetControlText(IDC_INTERVAL, "0");
    window.SetControlText(IDC_COUNT, "0");
    window.CheckButton(IDC_AUTO_OUTPUT, false);

    for (auto _ : state) {
        window.OnStartStopMeas();
        RunEventLoopFor(kSettleMs);
        const double wallStart = SecondsOf(CLOCK_MONOTONIC);
        const double processStart = SecondsOf(CLOCK_PROCESS_CPUTIME_ID);
        const double windowStart = SecondsOf(CLOCK_THREAD_CPUTIME_ID);
        RunEventLoopFor(kMeasuredMs);
        const double wall = SecondsOf(CLOCK_MONOTONIC) - wallStart;
        const double process = SecondsOf(CLOCK_PROCESS_CPUTIME_ID) - processStart;
        const double windowThread = SecondsOf(CLOCK_THREAD_CPUTIME_ID) - windowStart;
        state.counters["cpu_percent"] = 100.0 * process / wall;
        state.counters["window_percent"] = 100.0 * windowThread / wall;
        state.counters["worker_percent"] = 100.0 * (process - windowThread) / wall;
        state.counters["samples"] = static_cast<double>(window.samples.Size());
        window.OnStartStopMeas();
        ServeUntilWorkerEnds(window);
        if (window.samples.Size() == 0) {
            state.SkipWithError("the run delivered no sample");
            break;
        }
    }
}
BENCHMARK(BM_TenHertzRun)
    ->ArgName("graph")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(5);

}  // namespace
