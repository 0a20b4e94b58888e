// A Connect (its 17 open-converse-close cycles) over the real libusb driver against an
// instrument emulated under umockdev that sends each line in its own packet. Prints the time
// per Connect and, per Connect, the opens of the device, the reads of its product string and
// the channel's 10 ms waits for a reply (slept for real, as in the program).
// "FirstAfterStart" gives each Connect a driver of its own, as for the first Connect after the
// program starts; "Repeated" lets one driver serve every Connect. The CPU column is the whole
// process's, umockdev's thread that plays the device included. Asserts no time.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "link/LibusbDriver.h"
#include "link/Sleep.h"
#include "link/UsbDriver.h"
#include "tests/common/ConnectSequence.h"
#include "tests/usb/EmulatedInstrument.h"

namespace {

constexpr int kConnectsPerRepetition = 5;

std::atomic<long long> sleeps{0};

void CountedSleep(int milliseconds) {
    ++sleeps;
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void RunConnects(benchmark::State& state, bool driverPerConnect) {
    if (!UmockdevPreloadActive()) {
        state.SkipWithError("umockdev's preload library is not available");
        return;
    }
    EmulatedUsbBus bus;
    EmulatedInstrument* device = bus.Attach();
    if (device == nullptr) {
        state.SkipWithError(bus.LastError().c_str());
        return;
    }
    InstallUsbDriver(CreateLibusbDriver());
    const SleepFunction previousSleep = SetSleepFunction(&CountedSleep);
    sleeps = 0;
    const std::size_t opensBefore = device->Opens();
    const std::size_t readsBefore = device->ProductStringReads();
    for (auto _ : state) {
        if (driverPerConnect) {
            state.PauseTiming();
            InstallUsbDriver(CreateLibusbDriver());
            state.ResumeTiming();
        }
        if (RunConnectSequence().steps != 17) {
            state.SkipWithError("the Connect failed");
            break;
        }
    }
    SetSleepFunction(previousSleep);
    InstallUsbDriver(nullptr);
    const auto perConnect = benchmark::Counter::kAvgIterations;
    state.counters["opens"] =
        benchmark::Counter(static_cast<double>(device->Opens() - opensBefore), perConnect);
    state.counters["product_string_reads"] = benchmark::Counter(
        static_cast<double>(device->ProductStringReads() - readsBefore), perConnect);
    state.counters["sleeps"] = benchmark::Counter(static_cast<double>(sleeps.load()), perConnect);
}

void BM_ConnectOverLibusb_FirstAfterStart(benchmark::State& state) {
    RunConnects(state, true);
}

void BM_ConnectOverLibusb_Repeated(benchmark::State& state) {
    RunConnects(state, false);
}

void Register(benchmark::internal::Benchmark* benchmark) {
    benchmark->Iterations(kConnectsPerRepetition)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true)
        ->MeasureProcessCPUTime()
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_ConnectOverLibusb_FirstAfterStart)->Apply(Register);
BENCHMARK(BM_ConnectOverLibusb_Repeated)->Apply(Register);

}  // namespace

int main(int argc, char** argv) {
    EnsureUmockdevPreload(argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
