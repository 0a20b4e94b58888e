// The program's own command channel against the simulator: the connection sequence in every
// packetisation, the faults as the program sees them, and a full-length stream.
#include <gtest/gtest.h>

#include <atomic>

#include "link/Instrument.h"
#include "link/Sleep.h"
#include "sim/SimulatedUsbDriver.h"
#include "tests/common/ConnectSequence.h"

namespace {

using ClockMode = SimulatedInstrument::ClockMode;
using Packetisation = SimulatedInstrument::Packetisation;

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
    int steps;
};

class ConnectSequenceTest : public OverSimTest, public ::testing::WithParamInterface<PacketMode> {};

TEST_P(ConnectSequenceTest, ReadsInOrderAndStopsAtTheFirstFailure) {
    driver->Instrument()->SetPacketisation(GetParam().mode, GetParam().size);
    const ConnectRead result = RunConnectSequence();
    const auto steps = static_cast<std::size_t>(GetParam().steps);
    EXPECT_EQ(result.steps, GetParam().steps);
    EXPECT_EQ(result.data, std::vector<std::string>(kDefaultConnectData.begin(),
                                                    kDefaultConnectData.begin() + (steps - 2)));
    EXPECT_EQ(driver->RequestLog(),
              std::vector<std::string>(
                  kConnectRequests.begin(),
                  kConnectRequests.begin() + std::min(steps + 1, kConnectRequests.size())));
}

// A packet of one byte never begins with a whole token, so the first query's reply is
// collected whole up to the idle limit and its data lines are gone with it.
INSTANTIATE_TEST_SUITE_P(
    Modes, ConnectSequenceTest,
    ::testing::Values(PacketMode{"LinePerPacket", Packetisation::LinePerPacket, 64, 17},
                      PacketMode{"WholeReply", Packetisation::WholeReply, 64, 17},
                      PacketMode{"Split64", Packetisation::FixedSize, 64, 17},
                      PacketMode{"Split7", Packetisation::FixedSize, 7, 17},
                      PacketMode{"Split3", Packetisation::FixedSize, 3, 17},
                      PacketMode{"Split1", Packetisation::FixedSize, 1, 2}),
    [](const ::testing::TestParamInfo<PacketMode>& param) {
        return std::string(param.param.name);
    });

TEST_F(OverSimTest, LineAndWholeReplyPacketsAnswerWithoutASingleSleep) {
    for (const Packetisation mode : {Packetisation::LinePerPacket, Packetisation::WholeReply}) {
        driver->Instrument()->SetPacketisation(mode);
        sleepCount = 0;
        EXPECT_EQ(RunConnectSequence().steps, 17);
        EXPECT_EQ(sleepCount, 0);
    }
}

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
