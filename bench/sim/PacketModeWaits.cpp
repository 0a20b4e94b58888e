// What waiting costs the program's conversations with the simulator in every packet mode and
// idle behaviour: Connect's 17 requests, Save's eight writes, the log and a run's start and
// stop. Prints, per conversation, whether it succeeded and lost nothing, the 10 ms idle sleeps
// it asked for (counted, never slept) and the pipe time-outs it met (reported at once). One
// idle-limit wait is 501 sleeps, about 5 s; one time-out stands for 30 s.
//
//   packet_mode_waits
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/Instrument.h"
#include "link/Sleep.h"
#include "measure/MeasurementWorker.h"
#include "measure/RunActive.h"
#include "sim/SimulatedUsbDriver.h"
#include "tests/common/ConnectSequence.h"

namespace {

using Packetisation = SimulatedInstrument::Packetisation;
using IdleReads = SimulatedInstrument::IdleReads;

std::atomic<long long> sleepCount{0};

void CountingSleep(int) {
    ++sleepCount;
}

struct PacketMode {
    const char* name;
    Packetisation packetisation;
    std::size_t packetBytes;
    std::uint64_t seed;
};

constexpr PacketMode kPacketModes[] = {
    {"line per packet", Packetisation::LinePerPacket, 64, 0},
    {"whole reply", Packetisation::WholeReply, 64, 0},
    {"cut every 7 bytes", Packetisation::FixedSize, 7, 0},
    {"cut every byte", Packetisation::FixedSize, 1, 0},
    {"random cuts, seed 1", Packetisation::RandomCuts, 64, 1},
    {"random cuts, seed 2", Packetisation::RandomCuts, 64, 2},
    {"random cuts, seed 3", Packetisation::RandomCuts, 64, 3},
};

constexpr int kRunCount = 30;

std::vector<std::string> NumberedLines(int count) {
    std::vector<std::string> lines;
    for (int i = 1; i <= count; ++i) {
        lines.push_back(std::to_string(i) + " 1.000E+01 2.500E+00");
    }
    return lines;
}

// Every stream line a sample, up to the count.
class RecordingWindow final : public MeasurementWindow {
public:
    int AveragingIndex() override { return 0; }
    int IntervalSeconds() override { return 0; }
    int MeasureCount() override { return kRunCount; }
    void AppendSample(const std::string& line) override { samples.push_back(line); }
    void SendAppMessage(unsigned) override {}

    std::vector<std::string> samples;
};

bool Connect() {
    const ConnectRead read = RunConnectSequence();
    return read.steps == 17 && read.data == kDefaultConnectData;
}

bool Save() {
    CInstrument instrument;
    return instrument.WriteAveraging(2) == 0 && instrument.WriteRange(-1) == 0 &&
           instrument.WriteFrequency(1) == 0 && instrument.WriteCorrectionFactor("1.000") == 0 &&
           instrument.WriteCorrectionFactorSwitch(0) == 0 &&
           instrument.WriteZeroCalibration(1) == 0 && instrument.WriteAutoPowerOff(2) == 0 &&
           instrument.WriteAnalogResponse(0) == 0;
}

bool Log(SimulatedUsbDriver& driver) {
    std::string expected;
    for (const std::string& line : driver.Instrument()->GetLog()) {
        expected += (expected.empty() ? "" : "\r") + line;
    }
    CInstrument instrument;
    std::string data;
    return instrument.ReadLog(data) == 1 && data == expected;
}

bool Run(SimulatedUsbDriver& driver) {
    driver.Instrument()->SetScriptedStream(NumberedLines(2 * kRunCount));
    RecordingWindow window;
    const int result = MeasurementThreadProc(window);
    return result == MeasurementResult::kCompleted && window.samples == NumberedLines(kRunCount);
}

struct Conversation {
    const char* name;
    std::function<bool(SimulatedUsbDriver&)> converse;
};

const Conversation kConversations[] = {
    {"Connect", [](SimulatedUsbDriver&) { return Connect(); }},
    {"Save", [](SimulatedUsbDriver&) { return Save(); }},
    {"log", Log},
    {"run", Run},
};

void Measure(const PacketMode& mode, IdleReads idleReads) {
    std::printf("%-20s %-13s", mode.name,
                idleReads == IdleReads::EmptyPacket ? "empty packets" : "silence");
    for (const Conversation& conversation : kConversations) {
        auto driver = std::make_shared<SimulatedUsbDriver>(SimulatedInstrument::ClockMode::Fast);
        {
            auto firmware = driver->Instrument();
            firmware->SetPacketisation(mode.packetisation, mode.packetBytes);
            firmware->SetCutSeed(mode.seed);
            firmware->SetIdleReads(idleReads);
        }
        InstallUsbDriver(driver);
        sleepCount = 0;
        const bool whole = conversation.converse(*driver);
        InstallUsbDriver(nullptr);
        std::printf(" | %-8s %6lld %3zu", whole ? "ok" : "FAIL", sleepCount.load(),
                    driver->TimedOutReads());
    }
    std::printf("\n");
}

}  // namespace

int main() {
    const SleepFunction previous = SetSleepFunction(&CountingSleep);
    std::printf("%-34s", "packets              while idle");
    for (const Conversation& conversation : kConversations) {
        std::printf(" | %-8s sleeps t/o", conversation.name);
    }
    std::printf("\n");
    for (const PacketMode& mode : kPacketModes) {
        for (const IdleReads idleReads : {IdleReads::EmptyPacket, IdleReads::NoPacket}) {
            Measure(mode, idleReads);
        }
    }
    SetSleepFunction(previous);
    runActive.store(0);
    return 0;
}
