// The simulator as the program uses it: open-query-close cycles ("WHO") answered at once, and
// a full-length measurement stream on the fast clock. Prints time per cycle (or per stream)
// and the 10 ms sleeps the channel asked for (counted, never slept); answered at once, there
// must be none.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <string>

#include "link/Instrument.h"
#include "link/Sleep.h"
#include "sim/SimulatedUsbDriver.h"

namespace {

using ClockMode = SimulatedInstrument::ClockMode;
using Packetisation = SimulatedInstrument::Packetisation;

std::atomic<long long> sleepCount{0};

void CountingSleep(int) {
    ++sleepCount;
}

// Installs the driver and the counting sleep for one benchmark, and restores both.
class BenchSetup {
public:
    explicit BenchSetup(std::shared_ptr<SimulatedUsbDriver> simulated)
        : previousSleep(SetSleepFunction(&CountingSleep)) {
        InstallUsbDriver(std::move(simulated));
        sleepCount = 0;
    }
    ~BenchSetup() {
        SetSleepFunction(previousSleep);
        InstallUsbDriver(nullptr);
    }
    BenchSetup(const BenchSetup&) = delete;
    BenchSetup& operator=(const BenchSetup&) = delete;

private:
    SleepFunction previousSleep;
};

void OpenQueryClose(benchmark::State& state, ClockMode clock, Packetisation packetisation) {
    auto driver = std::make_shared<SimulatedUsbDriver>(clock);
    driver->Instrument()->SetPacketisation(packetisation);
    BenchSetup setup(driver);
    long long failures = 0;
    for (auto _ : state) {
        CInstrument instrument;
        std::string model;
        failures += instrument.ReadModel(model) == 1 ? 0 : 1;
        benchmark::DoNotOptimize(model);
    }
    state.counters["sleeps"] = static_cast<double>(sleepCount.load());
    state.counters["failed_cycles"] = static_cast<double>(failures);
}

// Reads `lines` stream lines over the worker's link, then stops the stream and takes its END.
long long ReadStream(CInstrument& worker, long long lines) {
    std::string carry = worker.TakePendingText();
    long long received = 0;
    while (received < lines) {
        std::uint8_t packet[CInstrument::kPacketBufferSize];
        std::uint32_t transferred = 0;
        if (!worker.ReadPacket(packet, sizeof packet, transferred)) {
            break;
        }
        carry.append(reinterpret_cast<const char*>(packet), transferred);
        for (std::size_t cr = carry.find('\r'); cr != std::string::npos; cr = carry.find('\r')) {
            carry.erase(0, cr + 1);
            ++received;
        }
    }
    std::string firstLine;
    worker.StopMeasurement(firstLine);
    // The stream's own "END" follows; leave nothing behind for the next run.
    std::string line;
    while (worker.ReadReplyLine(false, line, false) == 1 && line != "END\r") {
        benchmark::DoNotOptimize(line);
    }
    return received;
}

void BM_OpenQueryClose_LinePerPacket(benchmark::State& state) {
    OpenQueryClose(state, ClockMode::Fast, Packetisation::LinePerPacket);
}

void BM_OpenQueryClose_WholeReply(benchmark::State& state) {
    OpenQueryClose(state, ClockMode::Fast, Packetisation::WholeReply);
}

void BM_OpenQueryClose_DemoRealClock(benchmark::State& state) {
    OpenQueryClose(state, ClockMode::Real, Packetisation::LinePerPacket);
}

void BM_Stream9999Lines_FastClock(benchmark::State& state) {
    constexpr long long kLines = 9999;
    BenchSetup setup(std::make_shared<SimulatedUsbDriver>(ClockMode::Fast));
    long long received = 0;
    for (auto _ : state) {
        CInstrument worker;
        if (worker.StartMeasurement() == 0) {
            received += ReadStream(worker, kLines);
        }
    }
    state.counters["lines_per_run"] =
        static_cast<double>(received) / static_cast<double>(state.iterations());
    state.counters["sleeps"] = static_cast<double>(sleepCount.load());
}

}  // namespace

BENCHMARK(BM_OpenQueryClose_LinePerPacket)->Iterations(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenQueryClose_WholeReply)->Iterations(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenQueryClose_DemoRealClock)->Iterations(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Stream9999Lines_FastClock)->Iterations(5)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
