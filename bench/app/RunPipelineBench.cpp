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
#include <filesystem>
#include <string>

#include "bench/app/WindowRunBench.h"

namespace {

constexpr int kRunSamples = 9999;
constexpr int kSettleMs = 2000;
constexpr int kMeasuredMs = 20000;

void BM_RunAtIntervalZero(benchmark::State& state) {
    RunBench bench(SimulatedInstrument::ClockMode::Fast, state.range(0) != 0);
    if (!bench.Connected(state)) {
        return;
    }
    CQiro7Dlg& window = bench.window;
    const std::filesystem::path csv =
        std::filesystem::temp_directory_path() / "qiro7-run-pipeline-bench.csv";
    window.SetControlText(IDC_INTERVAL, "0");
    window.CheckButton(IDC_AUTO_OUTPUT, true);

    RunsToTheirEnd(state, window, csv.string(), kRunSamples);
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
        const LoopTimes times = TimedEventLoop(kMeasuredMs);
        state.counters["cpu_percent"] = 100.0 * times.process / times.wall;
        state.counters["window_percent"] = 100.0 * times.windowThread / times.wall;
        state.counters["worker_percent"] =
            100.0 * (times.process - times.windowThread) / times.wall;
        state.counters["samples"] = static_cast<double>(window.samples.Size());
        if (!StopRun(state, window)) {
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
