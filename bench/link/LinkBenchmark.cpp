// Open-query-close cycles, as every button of the program makes them, against a device whose
// reply is already waiting. Prints the time per cycle and the 10 ms sleeps the channel made
// (counted, never slept): with the reply waiting there must be none. The long log replies show
// how the time grows with the length of a reply (it should grow linearly).
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <string>

#include "ScriptedUsbDriver.h"
#include "link/Instrument.h"
#include "link/Sleep.h"
#include "sim/SimulatedUsbDriver.h"

namespace {

std::atomic<long long> sleepCount{0};

void CountingSleep(int) {
    ++sleepCount;
}

// Answers "WHO" at once, the reply cut into the given packets.
std::shared_ptr<ScriptedDevice> InstantDevice(std::vector<std::string> replyPackets) {
    auto device = std::make_shared<ScriptedDevice>();
    device->responder = [replyPackets](const std::string&, ScriptedDevice& target) {
        target.QueuePackets(replyPackets);
    };
    return device;
}

void RunCycles(benchmark::State& state, const std::shared_ptr<UsbDriver>& driver,
               int (CInstrument::*query)(std::string&) = &CInstrument::ReadModel) {
    InstallUsbDriver(driver);
    const SleepFunction previous = SetSleepFunction(&CountingSleep);
    sleepCount = 0;
    long long failures = 0;
    for (auto _ : state) {
        CInstrument instrument;
        std::string data;
        if ((instrument.*query)(data) != 1) {
            ++failures;
        }
        benchmark::DoNotOptimize(data);
    }
    SetSleepFunction(previous);
    InstallUsbDriver(nullptr);
    state.counters["sleeps"] = static_cast<double>(sleepCount.load());
    state.counters["failed_cycles"] = static_cast<double>(failures);
}

void BM_OpenQueryClose_ScriptedOnePacket(benchmark::State& state) {
    auto device = InstantDevice({"OK\rQIRO-7\rEND\r"});
    RunCycles(state, std::make_shared<ScriptedUsbDriver>(device));
}

void BM_OpenQueryClose_ScriptedPacketPerLine(benchmark::State& state) {
    auto device = InstantDevice({"OK\r", "QIRO-7\r", "END\r"});
    RunCycles(state, std::make_shared<ScriptedUsbDriver>(device));
}

void BM_OpenQueryClose_Simulator(benchmark::State& state) {
    RunCycles(state, std::make_shared<SimulatedUsbDriver>(SimulatedInstrument::ClockMode::Fast));
}

// A log of state.range(0) lines of 40 bytes in 64-byte packets: no packet begins with a token.
void BM_ReadLog_CutInto64BytePackets(benchmark::State& state) {
    std::string reply = "OK\r";
    for (std::int64_t line = 0; line < state.range(0); ++line) {
        reply += std::string(39, 'L') + '\r';
    }
    reply += "END\r";
    std::vector<std::string> packets;
    for (std::size_t at = 0; at < reply.size(); at += 64) {
        packets.push_back(reply.substr(at, 64));
    }
    RunCycles(state, std::make_shared<ScriptedUsbDriver>(InstantDevice(packets)),
              &CInstrument::ReadLog);
    state.SetComplexityN(state.range(0));
}

}  // namespace

BENCHMARK(BM_OpenQueryClose_ScriptedOnePacket)->Iterations(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenQueryClose_ScriptedPacketPerLine)->Iterations(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenQueryClose_Simulator)->Iterations(1000)->Unit(benchmark::kMicrosecond);
// Up to 24,000 lines: a reply just under the 1 MiB a read may collect.
BENCHMARK(BM_ReadLog_CutInto64BytePackets)
    ->RangeMultiplier(4)
    ->Range(100, 24000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
