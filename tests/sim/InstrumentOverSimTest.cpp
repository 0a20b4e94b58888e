// The program's own command channel against the simulator: Connect, Save, the log and the
// calibration in every packetisation, the faults as the program sees them, and a full-length
// stream.
#include <gtest/gtest.h>

#include <atomic>

#include "link/Instrument.h"
#include "link/ModalInteraction.h"
#include "link/Sleep.h"
#include "res/StringTable.h"
#include "sim/SimulatedUsbDriver.h"
#include "tests/common/ConnectSequence.h"
#include "tests/common/RecordingBoxes.h"

namespace {

using ClockMode = SimulatedInstrument::ClockMode;
using Packetisation = SimulatedInstrument::Packetisation;
using IdleReads = SimulatedInstrument::IdleReads;

std::atomic<int> sleepCount{0};

void CountingSleep(int) {
    ++sleepCount;
}

class OverSimTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallUsbDriver(driver);
        previousSleep = SetSleepFunction(&CountingSleep);
        sleepCount = 0;
    }
    void TearDown() override {
        SetSleepFunction(previousSleep);
        InstallUsbDriver(nullptr);
        EXPECT_EQ(driver->OpenInterfaceCount(), 0) << "a link was left open";
    }

    std::shared_ptr<SimulatedUsbDriver> driver =
        std::make_shared<SimulatedUsbDriver>(ClockMode::Fast);
    SleepFunction previousSleep = nullptr;
};

struct PacketMode {
    const char* name;
    Packetisation mode;
    std::size_t size;
    std::uint64_t seed;
};

const PacketMode kPacketModes[] = {
    {"LinePerPacket", Packetisation::LinePerPacket, 64, 0},
    {"WholeReply", Packetisation::WholeReply, 64, 0},
    {"Split64", Packetisation::FixedSize, 64, 0},
    {"Split7", Packetisation::FixedSize, 7, 0},
    {"Split3", Packetisation::FixedSize, 3, 0},
    {"Split1", Packetisation::FixedSize, 1, 0},
    {"RandomCutsSeed1", Packetisation::RandomCuts, 64, 1},
    {"RandomCutsSeed2", Packetisation::RandomCuts, 64, 2},
    {"RandomCutsSeed3", Packetisation::RandomCuts, 64, 3},
    {"RandomShortCutsSeed4", Packetisation::RandomCuts, 16, 4},
};

// Every packet mode, with an instrument that answers empty packets while idle or nothing at all
// (each read then meets the pipe time-out). A complete reply must cost neither an idle-limit
// wait nor a time-out, and must lose nothing.
class PacketModeTest : public OverSimTest,
                       public ::testing::WithParamInterface<std::tuple<PacketMode, IdleReads>> {
protected:
    void SetUp() override {
        OverSimTest::SetUp();
        const auto& [packets, idleReads] = GetParam();
        auto sim = driver->Instrument();
        sim->SetPacketisation(packets.mode, packets.size);
        sim->SetCutSeed(packets.seed);
        sim->SetIdleReads(idleReads);
    }

    void ExpectNoWait() const {
        EXPECT_EQ(sleepCount, 0);
        EXPECT_EQ(driver->TimedOutReads(), 0u);
    }
};

TEST_P(PacketModeTest, ConnectReadsEveryStepInOrder) {
    const ConnectRead result = RunConnectSequence();
    EXPECT_EQ(result.steps, 17);
    EXPECT_EQ(result.data, kDefaultConnectData);
    EXPECT_EQ(driver->RequestLog(), kConnectRequests);
    ExpectNoWait();
}

TEST_P(PacketModeTest, SaveWritesTheEightConditionsInOrder) {
    const std::pair<int (*)(CInstrument&), const char*> writes[] = {
        {[](CInstrument& i) { return i.WriteAveraging(3); }, "ACW 3"},
        {[](CInstrument& i) { return i.WriteRange(5); }, "MRW 5"},
        {[](CInstrument& i) { return i.WriteFrequency(1); }, "FRQW 1"},
        {[](CInstrument& i) { return i.WriteCorrectionFactor("1.5"); }, "CFW 1.5"},
        {[](CInstrument& i) { return i.WriteCorrectionFactorSwitch(1); }, "CFSW 1"},
        {[](CInstrument& i) { return i.WriteZeroCalibration(0); }, "ZCW 0"},
        {[](CInstrument& i) { return i.WriteAutoPowerOff(4); }, "APW 4"},
        {[](CInstrument& i) { return i.WriteAnalogResponse(1); }, "AFW 1"},
    };
    std::vector<std::string> requests;
    for (const auto& [write, request] : writes) {
        CInstrument instrument;
        EXPECT_EQ(write(instrument), ExchangeResult::kSuccess) << request;
        requests.push_back(request);
    }
    EXPECT_EQ(driver->RequestLog(), requests);
    EXPECT_EQ(driver->Instrument()->GetConditions().analogResponse, 1);
    ExpectNoWait();
}

TEST_P(PacketModeTest, TheLogComesWhole) {
    std::string expected;
    for (const std::string& line : driver->Instrument()->GetLog()) {
        expected += (expected.empty() ? "" : "\r") + line;
    }
    ASSERT_GT(expected.size(), SimulatedInstrument::kPacketSize) << "the reply spans packets";
    CInstrument instrument;
    std::string data;
    EXPECT_EQ(instrument.ReadLog(data), 1);
    EXPECT_EQ(data, expected);
    ExpectNoWait();
}

TEST_P(PacketModeTest, CalibrationCompletes) {
    auto boxes = std::make_shared<RecordingBoxes>();
    InstallModalInteraction(boxes);
    CInstrument instrument;
    EXPECT_EQ(instrument.Calibrate(), ExchangeResult::kSuccess);
    InstallModalInteraction(nullptr);
    ASSERT_EQ(boxes->boxes.size(), 1u);
    EXPECT_EQ(boxes->boxes[0].text, LoadResourceString(IDS_ZERO_CALIBRATION_COMPLETED));
    ExpectNoWait();
}

// The test name of a packet mode and idle behaviour.
std::string ModeName(const ::testing::TestParamInfo<PacketModeTest::ParamType>& info) {
    const bool emptyPackets = std::get<IdleReads>(info.param) == IdleReads::EmptyPacket;
    return std::string(std::get<PacketMode>(info.param).name) +
           (emptyPackets ? "_EmptyPackets" : "_Silence");
}

INSTANTIATE_TEST_SUITE_P(Modes, PacketModeTest,
                         ::testing::Combine(::testing::ValuesIn(kPacketModes),
                                            ::testing::Values(IdleReads::EmptyPacket,
                                                              IdleReads::NoPacket)),
                         ModeName);

TEST_F(OverSimTest, AStreamLeftRunningFailsOneConnectWhichStopsIt) {
    {
        CInstrument worker;
        ASSERT_EQ(worker.StartMeasurement(), 0);
    }
    driver->Instrument()->AdvanceClock(1000);
    // The readings made meanwhile come before the stop's "OK", so the first line is no token.
    EXPECT_EQ(RunConnectSequence().steps, 0);
    EXPECT_FALSE(driver->Instrument()->IsStreaming());
    EXPECT_EQ(RunConnectSequence().steps, 17);
}

TEST_F(OverSimTest, SilenceAtAStepEndsTheSequenceThere) {
    driver->Instrument()->SetSilentFromCommand("MT");
    const ConnectRead result = RunConnectSequence();
    EXPECT_EQ(result.steps, 4);
    EXPECT_EQ(driver->RequestLog().back(), "MT");
}

using Fault = void (*)(SimulatedUsbDriver&);

struct FaultCase {
    const char* name;
    Fault fault;
    int writeResult;  // of WriteAveraging(3)
};

class FaultAsSeenTest : public OverSimTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultAsSeenTest, GivesTheWriteExchangeItsCode) {
    GetParam().fault(*driver);
    CInstrument instrument;
    EXPECT_EQ(instrument.WriteAveraging(3), GetParam().writeResult);
}

INSTANTIATE_TEST_SUITE_P(
    Controls, FaultAsSeenTest,
    ::testing::Values(
        FaultCase{"Absent", [](SimulatedUsbDriver& d) { d.SetPresent(false); }, -1},
        FaultCase{"OpenFails",
                  [](SimulatedUsbDriver& d) {
                      d.SetOpenFailure(SimulatedUsbDriver::OpenFailure::OpenPath);
                  },
                  -1},
        FaultCase{"InitializeFails",
                  [](SimulatedUsbDriver& d) {
                      d.SetOpenFailure(SimulatedUsbDriver::OpenFailure::InitializeInterface);
                  },
                  -1},
        FaultCase{"WriteFails", [](SimulatedUsbDriver& d) { d.FailNextWrites(1); }, -2},
        FaultCase{"FirstReadFails", [](SimulatedUsbDriver& d) { d.FailNextReads(1); }, -3},
        FaultCase{"SecondLineNeverComes",
                  [](SimulatedUsbDriver& d) {
                      d.Instrument()->SetReplyOverride("ACW", {"OK"});
                      d.Instrument()->SetIdleReads(SimulatedInstrument::IdleReads::NoPacket);
                  },
                  -5},
        FaultCase{"SecondLineMissing",
                  [](SimulatedUsbDriver& d) { d.Instrument()->SetReplyOverride("ACW", {"OK"}); },
                  -6},
        FaultCase{"Silent", [](SimulatedUsbDriver& d) { d.Instrument()->SetSilentFromRequest(1); },
                  -4},
        FaultCase{"SilentBlocking",
                  [](SimulatedUsbDriver& d) {
                      d.Instrument()->SetSilentFromRequest(1);
                      d.Instrument()->SetIdleReads(SimulatedInstrument::IdleReads::NoPacket);
                  },
                  -3},
        FaultCase{"SecondLineNg",
                  [](SimulatedUsbDriver& d) {
                      d.Instrument()->SetReplyOverride("ACW", {"OK", "NG"});
                  },
                  -7},
        FaultCase{"RefusedButEnded",
                  [](SimulatedUsbDriver& d) {
                      d.Instrument()->SetReplyOverride("ACW", {"NG", "END"});
                  },
                  -8}),
    [](const ::testing::TestParamInfo<FaultCase>& param) { return std::string(param.param.name); });

TEST_F(OverSimTest, AFullLengthStreamRunsOnTheFastClockWithoutSleeping) {
    constexpr int kLines = 9999;
    CInstrument worker;
    ASSERT_EQ(worker.StartMeasurement(), 0);
    std::string carry = worker.TakePendingText();
    int lines = 0;
    while (lines < kLines) {
        std::uint8_t packet[CInstrument::kPacketBufferSize];
        std::uint32_t transferred = 0;
        ASSERT_TRUE(worker.ReadPacket(packet, sizeof packet, transferred));
        carry.append(reinterpret_cast<const char*>(packet), transferred);
        for (std::size_t cr = carry.find('\r'); cr != std::string::npos; cr = carry.find('\r')) {
            ASSERT_EQ(cr, 29u) << carry;
            carry.erase(0, cr + 1);
            ++lines;
        }
    }
    std::string replyText;
    EXPECT_EQ(worker.StopMeasurement(replyText), 0);
    EXPECT_EQ(replyText, "OK\r");
    EXPECT_EQ(worker.TakePendingText() + carry, "") << "the stream's END follows in its own packet";
    std::string endLine;
    EXPECT_EQ(worker.ReadReplyLine(false, endLine, false), 1);
    EXPECT_EQ(endLine, "END\r");
    worker.CloseLink();

    EXPECT_EQ(sleepCount, 0);
    EXPECT_EQ(driver->Instrument()->NowMs(), kLines * 100);
}

}  // namespace
