// What keeping the automatic CSV output on the storage device costs a run through the main
// window (the worker, the sample list, the Received box, the file). Prints its figures; asserts
// no time. Runs on Qt's offscreen platform unless QT_QPA_PLATFORM names another.
//
// BM_SyncedRunAtIntervalZero/file:0|1|2: a 9,999-sample run at interval 0 against the
// simulator's fast clock, its file in the temp folder and synced (0), the same with the sync
// replaced by one that does nothing (1), or on a tmpfs, /dev/shm, and synced (2).
// items_per_second = samples per second.
// BM_SyncedTenHertzRun/sync:1|0: 20 s of a run at the instrument's own pace (the simulator's
// real clock, averaging 1, interval 0) with the automatic output in the temp folder, synced or
// with the sync that does nothing. cpu_percent is the process's CPU time over the wall time.
// Both count the syncs made (syncs, syncs_per_second) and the wall time they took (sync_ms).
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>

#include "bench/app/WindowRunBench.h"
#include "measure/FileSync.h"

namespace {

constexpr int kRunSamples = 9999;
constexpr int kSettleMs = 2000;
constexpr int kMeasuredMs = 20000;

std::atomic<long> syncCount{0};
std::atomic<long long> syncNanoseconds{0};

std::error_code CountedSync(NativeFile file) {
    const auto start = std::chrono::steady_clock::now();
    const std::error_code error = file_sync_platform::SyncData(file);
    syncNanoseconds += std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
    ++syncCount;
    return error;
}

std::error_code CountedNoSync(NativeFile) {
    ++syncCount;
    return {};
}

// Counts the syncs of every file opened while it lives; real ones or none.
class SyncCounter {
public:
    explicit SyncCounter(bool realSync)
        : previous(SetFileSyncFunction(realSync ? &CountedSync : &CountedNoSync)) {}
    ~SyncCounter() { SetFileSyncFunction(previous); }
    SyncCounter(const SyncCounter&) = delete;
    SyncCounter& operator=(const SyncCounter&) = delete;

    static long Syncs() { return syncCount.load(); }
    static double SyncMilliseconds() { return static_cast<double>(syncNanoseconds.load()) / 1e6; }

private:
    FileSyncFunction previous;
};

void BM_SyncedRunAtIntervalZero(benchmark::State& state) {
    const long file = state.range(0);
    const std::filesystem::path folder =
        file == 2 ? std::filesystem::path("/dev/shm") : std::filesystem::temp_directory_path();
    if (!std::filesystem::is_directory(folder)) {
        state.SkipWithError("no tmpfs at /dev/shm");
        return;
    }
    RunBench bench(SimulatedInstrument::ClockMode::Fast, false);
    if (!bench.Connected(state)) {
        return;
    }
    CQiro7Dlg& window = bench.window;
    const std::filesystem::path csv = folder / "qiro7-csv-sync-bench.csv";
    window.SetControlText(IDC_INTERVAL, "0");
    window.CheckButton(IDC_AUTO_OUTPUT, true);
    const SyncCounter counter(file != 1);
    const long syncsBefore = SyncCounter::Syncs();
    const double syncMsBefore = SyncCounter::SyncMilliseconds();

    RunsToTheirEnd(state, window, csv.string(), kRunSamples);
    const double runs = static_cast<double>(state.iterations());
    state.counters["syncs"] = static_cast<double>(SyncCounter::Syncs() - syncsBefore) / runs;
    state.counters["sync_ms"] = (SyncCounter::SyncMilliseconds() - syncMsBefore) / runs;
    state.counters["csv_bytes"] = static_cast<double>(std::filesystem::file_size(csv));
    std::filesystem::remove(csv);
}
BENCHMARK(BM_SyncedRunAtIntervalZero)
    ->ArgName("file")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(5);

void BM_SyncedTenHertzRun(benchmark::State& state) {
    RunBench bench(SimulatedInstrument::ClockMode::Real, false);
    if (!bench.Connected(state)) {
        return;
    }
    CQiro7Dlg& window = bench.window;
    const std::filesystem::path csv =
        std::filesystem::temp_directory_path() / "qiro7-csv-sync-bench-10hz.csv";
    window.SetControlText(IDC_INTERVAL, "0");
    window.SetControlText(IDC_COUNT, "0");
    window.CheckButton(IDC_AUTO_OUTPUT, true);
    const SyncCounter counter(state.range(0) != 0);

    for (auto _ : state) {
        window.SetControlText(IDC_CSV_FILE_NAME, csv.string());
        window.OnStartStopMeas();
        RunEventLoopFor(kSettleMs);
        const long syncsStart = SyncCounter::Syncs();
        const double syncMsStart = SyncCounter::SyncMilliseconds();
        const std::size_t samplesStart = window.samples.Size();
        const LoopTimes times = TimedEventLoop(kMeasuredMs);
        const auto syncs = static_cast<double>(SyncCounter::Syncs() - syncsStart);
        state.counters["cpu_percent"] = 100.0 * times.process / times.wall;
        state.counters["syncs_per_second"] = syncs / times.wall;
        state.counters["samples_per_second"] =
            static_cast<double>(window.samples.Size() - samplesStart) / times.wall;
        state.counters["sync_ms"] =
            syncs > 0 ? (SyncCounter::SyncMilliseconds() - syncMsStart) / syncs : 0.0;
        if (!StopRun(state, window)) {
            break;
        }
    }
    std::filesystem::remove(csv);
}
BENCHMARK(BM_SyncedTenHertzRun)
    ->ArgName("sync")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(5);

}  // namespace
