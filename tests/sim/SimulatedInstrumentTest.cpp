// The firmware emulation's replies, byte for byte: every command, its argument checks, the
// request assembly, packetisation, idle reads and the reply faults.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/SimulatedInstrument.h"
#include "tests/sim/SimTestSupport.h"

namespace {

using ClockMode = SimulatedInstrument::ClockMode;
using Packetisation = SimulatedInstrument::Packetisation;

class FirmwareTest : public ::testing::Test {
protected:
    SimulatedInstrument instrument{ClockMode::Fast};
};

struct ReplyCase {
    const char* request;
    const char* reply;
};

class DefaultQueryReplyTest : public FirmwareTest,
                              public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(DefaultQueryReplyTest, AnswersWithOkDataAndEnd) {
    EXPECT_EQ(ReplyTo(instrument, GetParam().request), GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(
    EveryQuery, DefaultQueryReplyTest,
    ::testing::Values(ReplyCase{"WHO", "OK\rQIRO-7\rEND\r"},
                      ReplyCase{"SRL", "OK\r70412318\rEND\r"},
                      ReplyCase{"MT", "OK\r2026/03/14\rEND\r"}, ReplyCase{"VER", "OK\r1.04\rEND\r"},
                      ReplyCase{"TMP 0", "OK\r24.8\rEND\r"}, ReplyCase{"TMP 1", "OK\r27.3\rEND\r"},
                      ReplyCase{"CFR", "OK\r1.000\rEND\r"}, ReplyCase{"ACR", "OK\r1\rEND\r"},
                      ReplyCase{"MRR", "OK\r-1\rEND\r"}, ReplyCase{"FRQR", "OK\r0\rEND\r"},
                      ReplyCase{"ZCR", "OK\r1\rEND\r"}, ReplyCase{"CFSR", "OK\r0\rEND\r"},
                      ReplyCase{"ERR", "OK\r0\rEND\r"}, ReplyCase{"APR", "OK\r2\rEND\r"},
                      ReplyCase{"AFR", "OK\r0\rEND\r"}, ReplyCase{"STP", "NO\r"},
                      ReplyCase{"RM", "OK\r"},
                      ReplyCase{"LOG",
                                "OK\r0001 00:00:00 POWER ON\r0002 00:00:02 SELF TEST PASSED\r"
                                "0003 00:00:41 ZERO CALIBRATION DONE\rEND\r"}));

class MalformedRequestTest : public FirmwareTest,
                             public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(MalformedRequestTest, IsRefused) {
    const SimulatedInstrument::Conditions before = instrument.GetConditions();
    EXPECT_EQ(ReplyTo(instrument, GetParam().request), GetParam().reply);
    EXPECT_EQ(instrument.GetConditions().factorText, before.factorText);
    EXPECT_EQ(instrument.GetConditions().range, before.range);
    EXPECT_EQ(instrument.GetConditions().averaging, before.averaging);
}

INSTANTIATE_TEST_SUITE_P(
    ArgumentsAndWords, MalformedRequestTest,
    ::testing::Values(
        // writes refuse out-of-range or malformed arguments with "NG","END"
        ReplyCase{"ACW 0", "NG\rEND\r"}, ReplyCase{"ACW 6", "NG\rEND\r"},
        ReplyCase{"MRW 0", "NG\rEND\r"}, ReplyCase{"MRW 7", "NG\rEND\r"},
        ReplyCase{"MRW -2", "NG\rEND\r"}, ReplyCase{"MRW", "NG\rEND\r"},
        ReplyCase{"MRW ", "NG\rEND\r"}, ReplyCase{"MRW  1", "NG\rEND\r"},
        ReplyCase{"MRW 1x", "NG\rEND\r"}, ReplyCase{"MRW +1", "NG\rEND\r"},
        ReplyCase{"MRW 1 2", "NG\rEND\r"}, ReplyCase{"MRW 0000001", "NG\rEND\r"},
        ReplyCase{"FRQW 2", "NG\rEND\r"}, ReplyCase{"CFSW -1", "NG\rEND\r"},
        ReplyCase{"ZCW 2", "NG\rEND\r"}, ReplyCase{"APW 5", "NG\rEND\r"},
        ReplyCase{"AFW 2", "NG\rEND\r"}, ReplyCase{"CFW", "NG\rEND\r"},
        ReplyCase{"CFW 0.000", "NG\rEND\r"}, ReplyCase{"CFW .0001", "NG\rEND\r"},
        ReplyCase{"CFW 10.00", "NG\rEND\r"}, ReplyCase{"CFW 1.2.3", "NG\rEND\r"},
        ReplyCase{"CFW 1e0", "NG\rEND\r"}, ReplyCase{"CFW -1.00", "NG\rEND\r"},
        ReplyCase{"CFW 1.0000", "NG\rEND\r"}, ReplyCase{"CFW .", "NG\rEND\r"},
        // queries and the rest refuse with a single "NG"
        ReplyCase{"WHO 1", "NG\r"}, ReplyCase{"ERR 0", "NG\r"}, ReplyCase{"TMP", "NG\r"},
        ReplyCase{"TMP 2", "NG\r"}, ReplyCase{"TMP -1", "NG\r"}, ReplyCase{"STP 1", "NG\r"},
        ReplyCase{"RM 1", "NG\r"}, ReplyCase{"CST 1", "NG\r"}, ReplyCase{"CAL 1", "NG\r"},
        ReplyCase{"who", "NG\r"}, ReplyCase{"XYZ", "NG\r"}, ReplyCase{"\nWHO", "NG\r"},
        ReplyCase{" WHO", "NG\r"}));

struct WriteCase {
    const char* write;
    const char* read;
    const char* readBack;
};

class WriteReadBackTest : public FirmwareTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteReadBackTest, StoresTheValueInItsWireEncoding) {
    ASSERT_EQ(ReplyTo(instrument, GetParam().write), "OK\rEND\r");
    EXPECT_EQ(ReplyTo(instrument, GetParam().read),
              std::string("OK\r") + GetParam().readBack + "\rEND\r");
}

INSTANTIATE_TEST_SUITE_P(
    EverySetting, WriteReadBackTest,
    ::testing::Values(WriteCase{"ACW 5", "ACR", "5"}, WriteCase{"ACW 1", "ACR", "1"},
                      WriteCase{"MRW 6", "MRR", "6"}, WriteCase{"MRW 1", "MRR", "1"},
                      WriteCase{"MRW -1", "MRR", "-1"}, WriteCase{"FRQW 1", "FRQR", "1"},
                      WriteCase{"CFSW 1", "CFSR", "1"}, WriteCase{"ZCW 0", "ZCR", "0"},
                      WriteCase{"APW 0", "APR", "0"}, WriteCase{"APW 4", "APR", "4"},
                      WriteCase{"AFW 1", "AFR", "1"}, WriteCase{"CFW 9.999", "CFR", "9.999"},
                      WriteCase{"CFW .001", "CFR", ".001"}, WriteCase{"CFW 0.001", "CFR", "0.001"},
                      WriteCase{"CFW 2.", "CFR", "2."}, WriteCase{"CFW 1.5", "CFR", "1.5"}));

TEST_F(FirmwareTest, PanelSetValuesAreReportedAsStored) {
    SimulatedInstrument::Conditions conditions;
    conditions.averaging = 6;
    conditions.range = 0;
    instrument.SetConditions(conditions);
    SimulatedInstrument::Identity identity;
    identity.maintenanceDate = "14 NOV 2026";
    instrument.SetIdentity(identity);
    instrument.SetLastError(5);

    EXPECT_EQ(ReplyTo(instrument, "ACR"), "OK\r6\rEND\r");
    EXPECT_EQ(ReplyTo(instrument, "MRR"), "OK\r0\rEND\r");
    EXPECT_EQ(ReplyTo(instrument, "MT"), "OK\r14 NOV 2026\rEND\r");
    EXPECT_EQ(ReplyTo(instrument, "ERR"), "OK\r5\rEND\r");
}

// --- request assembly -------------------------------------------------------------------

TEST_F(FirmwareTest, AssemblesRequestsAtCarriageReturnsWhateverTheWriteBoundaries) {
    instrument.ReceiveBytes("W");
    instrument.ReceiveBytes("H");
    EXPECT_EQ(instrument.RequestCount(), 0u);
    instrument.ReceiveBytes("O\rSRL\r\rMT");
    instrument.ReceiveBytes("\r");

    EXPECT_EQ(instrument.RequestLog(), (std::vector<std::string>{"WHO", "SRL", "MT"}));
    std::string replies;
    while (true) {
        const auto packet = instrument.NextPacket();
        if (!packet.has_value() || packet->empty()) {
            break;
        }
        replies += *packet;
    }
    EXPECT_EQ(replies, "OK\rQIRO-7\rEND\rOK\r70412318\rEND\rOK\r2026/03/14\rEND\r");
}

TEST_F(FirmwareTest, RefusesAnOverlongRequestWithoutKeepingMoreThanItsBuffer) {
    const std::string longRequest = "CFW " + std::string(200, '1');
    EXPECT_EQ(ReplyTo(instrument, longRequest), "NG\r");
    ASSERT_EQ(instrument.RequestCount(), 1u);
    EXPECT_EQ(instrument.RequestLog()[0].size(), SimulatedInstrument::kRequestLimit);
    EXPECT_EQ(instrument.GetConditions().factorText, "1.000");
    EXPECT_EQ(ReplyTo(instrument, "WHO"), "OK\rQIRO-7\rEND\r");
}

TEST_F(FirmwareTest, AcceptsARequestOfExactlyTheBufferLimit) {
    const std::string request = "XY" + std::string(SimulatedInstrument::kRequestLimit - 2, 'Z');
    EXPECT_EQ(ReplyTo(instrument, request), "NG\r");
    EXPECT_EQ(instrument.RequestLog().back(), request);
}

// --- packetisation and idle reads -------------------------------------------------------

struct PacketCase {
    Packetisation mode;
    std::size_t size;
    const char* request;
    std::vector<std::string> packets;
};

class PacketisationTest : public FirmwareTest, public ::testing::WithParamInterface<PacketCase> {};

TEST_P(PacketisationTest, CutsTheReplyAsAsked) {
    instrument.SetPacketisation(GetParam().mode, GetParam().size);
    EXPECT_EQ(Converse(instrument, GetParam().request), GetParam().packets);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, PacketisationTest,
    ::testing::Values(
        PacketCase{Packetisation::LinePerPacket, 64, "WHO", {"OK\r", "QIRO-7\r", "END\r"}},
        PacketCase{Packetisation::WholeReply, 64, "WHO", {"OK\rQIRO-7\rEND\r"}},
        PacketCase{Packetisation::WholeReply, 64, "ACW 3", {"OK\rEND\r"}},
        PacketCase{Packetisation::FixedSize, 4, "WHO", {"OK\rQ", "IRO-", "7\rEN", "D\r"}},
        PacketCase{Packetisation::FixedSize, 1, "RM", {"O", "K", "\r"}},
        PacketCase{Packetisation::FixedSize, 0, "RM", {"O", "K", "\r"}},
        PacketCase{Packetisation::FixedSize, 500, "STP", {"NO\r"}},
        PacketCase{Packetisation::WholeReply,
                   64,
                   "LOG",
                   {"OK\r0001 00:00:00 POWER ON\r0002 00:00:02 SELF TEST PASSED\r0003 00",
                    ":00:41 ZERO CALIBRATION DONE\rEND\r"}}));

TEST_F(FirmwareTest, LinePerPacketSplitsALineLongerThanAPacket) {
    instrument.SetLog({std::string(100, 'L')});
    EXPECT_EQ(Converse(instrument, "LOG"),
              (std::vector<std::string>{"OK\r", std::string(64, 'L'), std::string(36, 'L') + "\r",
                                        "END\r"}));
}

TEST_F(FirmwareTest, FixedSizePacketsRunAcrossReplies) {
    instrument.SetPacketisation(Packetisation::FixedSize, 5);
    instrument.ReceiveBytes("RM\rSTP\r");
    EXPECT_EQ(instrument.NextPacket(), "OK\rNO");
    EXPECT_EQ(instrument.NextPacket(), "\r");
}

TEST_F(FirmwareTest, RandomCutsComeAgainFromTheSameSeed) {
    const auto cutsOfTheLog = [this](std::uint64_t seed) {
        instrument.SetPacketisation(Packetisation::RandomCuts, 9);
        instrument.SetCutSeed(seed);
        return Converse(instrument, "LOG");
    };
    const std::vector<std::string> first = cutsOfTheLog(7);
    EXPECT_EQ(Joined(first), ReplyTo(instrument, "LOG"));
    EXPECT_TRUE(std::all_of(first.begin(), first.end(),
                            [](const std::string& packet) { return packet.size() <= 9; }));
    EXPECT_EQ(cutsOfTheLog(7), first);
    EXPECT_NE(cutsOfTheLog(8), first);
}

TEST_F(FirmwareTest, NeverHandsOutMoreThanTheReaderAsked) {
    instrument.SetPacketisation(Packetisation::WholeReply);
    instrument.ReceiveBytes("WHO\r");
    EXPECT_EQ(instrument.NextPacket(3), "OK\r");
    EXPECT_EQ(instrument.NextPacket(200), "QIRO-7\rEND\r");
}

TEST_F(FirmwareTest, IdleReadsGiveEmptyPacketsOrNoPacket) {
    EXPECT_EQ(instrument.NextPacket(), std::optional<std::string>(""));
    instrument.SetIdleReads(SimulatedInstrument::IdleReads::NoPacket);
    EXPECT_EQ(instrument.NextPacket(), std::nullopt);
    EXPECT_EQ(instrument.NowMs(), 0);
}

// --- reset, calibration, faults ---------------------------------------------------------

TEST_F(FirmwareTest, ResetDiscardsUnreadOutputAndAnswersOk) {
    instrument.ReceiveBytes("WHO\rSRL\r");
    EXPECT_EQ(ReplyTo(instrument, "RM"), "OK\r");
    EXPECT_EQ(instrument.QueuedBytes(), 0u);
}

struct CalibrationCase {
    bool lit;
    const char* reply;
    const char* logEvent;
};

class CalibrationTest : public FirmwareTest,
                        public ::testing::WithParamInterface<CalibrationCase> {};

TEST_P(CalibrationTest, AnswersWhenTheCalibrationTimeHasPassed) {
    instrument.SetDetectorLit(GetParam().lit);
    instrument.ReceiveBytes("CAL\r");
    EXPECT_TRUE(instrument.IsCalibrating());
    EXPECT_EQ(instrument.QueuedBytes(), 0u);
    instrument.ReceiveBytes("WHO\r");
    EXPECT_EQ(instrument.NextPacket(), "NG\r") << "busy while calibrating";

    std::string reply;
    for (auto packet = instrument.NextPacket(); packet.has_value() && !packet->empty();
         packet = instrument.NextPacket()) {
        reply += *packet;
    }
    EXPECT_EQ(reply, GetParam().reply);
    EXPECT_EQ(instrument.NowMs(), SimulatedInstrument::kCalibrationMs);
    EXPECT_FALSE(instrument.IsCalibrating());
    EXPECT_EQ(instrument.GetLog().back(), std::string("0004 00:00:02 ") + GetParam().logEvent);
    EXPECT_EQ(ReplyTo(instrument, "ERR"), "OK\r0\rEND\r");
}

INSTANTIATE_TEST_SUITE_P(
    DetectorStates, CalibrationTest,
    ::testing::Values(CalibrationCase{false, "OK\rEND\r", "ZERO CALIBRATION DONE"},
                      CalibrationCase{true, "OK\rNG\r", "ZERO CALIBRATION FAILED (LIGHT)"}));

TEST_F(FirmwareTest, RealClockCalibrationSendsEmptyPacketsUntilDone) {
    SimulatedInstrument real(ClockMode::Real);
    real.ReceiveBytes("CAL\r");
    EXPECT_EQ(real.NextPacket(), std::optional<std::string>(""));
    const auto wait = real.MillisecondsUntilOutput();
    ASSERT_TRUE(wait.has_value());
    EXPECT_LE(*wait, SimulatedInstrument::kCalibrationMs);
    EXPECT_EQ(instrument.MillisecondsUntilOutput(), std::nullopt) << "fast clock never waits";
}

TEST_F(FirmwareTest, ReplyOverrideAnswersInsteadOfExecuting) {
    instrument.SetReplyOverride("ACW", {"NG"});
    instrument.SetReplyOverride("STP", {"OK", "NO"});
    EXPECT_EQ(ReplyTo(instrument, "ACW 3"), "NG\r");
    EXPECT_EQ(instrument.GetConditions().averaging, 1);
    EXPECT_EQ(ReplyTo(instrument, "STP"), "OK\rNO\r");

    instrument.SetReplyOverride("ACW", {});
    EXPECT_EQ(ReplyTo(instrument, "ACW 3"), "OK\rEND\r");
    EXPECT_EQ(instrument.GetConditions().averaging, 3);
}

struct SilenceCase {
    std::size_t fromRequest;
    const char* fromCommand;
    std::vector<std::string> replies;  // to WHO, SRL, MT, VER in turn
};

class SilenceTest : public FirmwareTest, public ::testing::WithParamInterface<SilenceCase> {};

TEST_P(SilenceTest, AnswersNothingFromTheChosenRequestOn) {
    instrument.SetSilentFromRequest(GetParam().fromRequest);
    instrument.SetSilentFromCommand(GetParam().fromCommand);
    std::vector<std::string> replies;
    for (const char* request : {"WHO", "SRL", "MT", "VER"}) {
        replies.push_back(ReplyTo(instrument, request));
    }
    EXPECT_EQ(replies, GetParam().replies);
    EXPECT_EQ(instrument.RequestCount(), 4u) << "silenced requests are still received";
}

INSTANTIATE_TEST_SUITE_P(
    Triggers, SilenceTest,
    ::testing::Values(SilenceCase{0,
                                  "",
                                  {"OK\rQIRO-7\rEND\r", "OK\r70412318\rEND\r",
                                   "OK\r2026/03/14\rEND\r", "OK\r1.04\rEND\r"}},
                      SilenceCase{3, "", {"OK\rQIRO-7\rEND\r", "OK\r70412318\rEND\r", "", ""}},
                      SilenceCase{1, "", {"", "", "", ""}},
                      SilenceCase{0, "SRL", {"OK\rQIRO-7\rEND\r", "", "", ""}},
                      SilenceCase{0,
                                  "CST",
                                  {"OK\rQIRO-7\rEND\r", "OK\r70412318\rEND\r",
                                   "OK\r2026/03/14\rEND\r", "OK\r1.04\rEND\r"}}));

TEST_F(FirmwareTest, SettingASilenceTriggerAgainEndsTheSilence) {
    instrument.SetSilentFromCommand("WHO");
    EXPECT_EQ(ReplyTo(instrument, "WHO"), "");
    EXPECT_TRUE(instrument.IsSilent());
    instrument.SetSilentFromCommand("");
    EXPECT_EQ(ReplyTo(instrument, "WHO"), "OK\rQIRO-7\rEND\r");
}

// --- number notation --------------------------------------------------------------------

struct NumberCase {
    double value;
    const char* text;
};

class NumberNotationTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberNotationTest, FourSignificantDigitsAndSignedExponent) {
    EXPECT_EQ(FormatInstrumentNumber(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, NumberNotationTest,
    ::testing::Values(NumberCase{12.34, "1.234E+01"}, NumberCase{1.0, "1.000E+00"},
                      NumberCase{0.0, "0.000E+00"}, NumberCase{0.012345, "1.235E-02"},
                      NumberCase{9.9996, "1.000E+01"}, NumberCase{9.9994, "9.999E+00"},
                      NumberCase{1000.0, "1.000E+03"}, NumberCase{-2.5, "-2.500E+00"},
                      NumberCase{1.0e-100, "1.000E-100"}, NumberCase{123456.0, "1.235E+05"},
                      NumberCase{0.1, "1.000E-01"}));

}  // namespace
