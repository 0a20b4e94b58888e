// The measurement stream of the firmware emulation: pacing on the fast clock, the readings,
// the stop, and the stream's faults.
#include <gtest/gtest.h>

#include <charconv>
#include <regex>

#include "sim/SimulatedInstrument.h"
#include "tests/sim/SimTestSupport.h"

namespace {

using ClockMode = SimulatedInstrument::ClockMode;

struct Reading {
    double irradiance = 0;
    double integral = 0;
    double peak = 0;
};

double ParseNumber(const std::string& text) {
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    EXPECT_EQ(result.ptr, text.data() + text.size()) << text;
    return value;
}

Reading ParseReading(const std::string& line) {
    static const std::regex shape(
        R"(([0-9]\.[0-9]{3}E[+-][0-9]{2}) ([0-9]\.[0-9]{3}E[+-][0-9]{2}) )"
        R"(([0-9]\.[0-9]{3}E[+-][0-9]{2})\r)");
    std::smatch parts;
    if (!std::regex_match(line, parts, shape)) {
        ADD_FAILURE() << "not a reading line: " << line;
        return {};
    }
    return {ParseNumber(parts[1]), ParseNumber(parts[2]), ParseNumber(parts[3])};
}

class StreamTest : public ::testing::Test {
protected:
    void SetAveraging(int averaging) {
        SimulatedInstrument::Conditions conditions = instrument.GetConditions();
        conditions.averaging = averaging;
        instrument.SetConditions(conditions);
    }

    std::string NextPacket() { return instrument.NextPacket().value_or("<none>"); }

    // The reply to "CST", taken without reading into the stream behind it.
    std::string Start() { return StartReply(instrument); }

    static std::string StartReply(SimulatedInstrument& target) {
        target.ReceiveBytes("CST\r");
        std::string reply;
        while (reply.size() < std::string("OK\rEND\r").size()) {
            reply += target.NextPacket().value_or("<none>");
        }
        return reply;
    }

    SimulatedInstrument instrument{ClockMode::Fast};
};

class StreamPacingTest : public StreamTest, public ::testing::WithParamInterface<int> {};

TEST_P(StreamPacingTest, OneLineEveryAveragingTimesHundredMilliseconds) {
    const int averaging = GetParam();
    SetAveraging(averaging);
    instrument.AdvanceClock(1234);
    ASSERT_EQ(Start(), "OK\rEND\r");
    ASSERT_TRUE(instrument.IsStreaming());

    for (int line = 1; line <= 20; ++line) {
        ParseReading(NextPacket());
        EXPECT_EQ(instrument.NowMs(), 1234 + line * averaging * 100) << "line " << line;
    }
    EXPECT_EQ(instrument.StreamLinesSent(), 20u);
}

INSTANTIATE_TEST_SUITE_P(Averaging, StreamPacingTest, ::testing::Values(1, 2, 3, 4, 5, 6));

TEST_F(StreamTest, ReadingsAreBelievable) {
    SetAveraging(2);
    ASSERT_EQ(Start(), "OK\rEND\r");
    double expectedIntegral = 0;
    double highest = 0;
    for (int line = 1; line <= 1200; ++line) {
        const Reading reading = ParseReading(NextPacket());
        ASSERT_GT(reading.irradiance, 9.0);
        ASSERT_LT(reading.irradiance, 12.5);
        expectedIntegral += reading.irradiance * 0.2;
        highest = std::max(highest, reading.irradiance);
        ASSERT_NEAR(reading.integral, expectedIntegral, expectedIntegral * 2e-3) << line;
        ASSERT_EQ(reading.peak, highest) << line;
    }
}

TEST_F(StreamTest, EachRunStartsItsIntegralAndPeakAfresh) {
    ASSERT_EQ(Start(), "OK\rEND\r");
    for (int line = 0; line < 50; ++line) {
        NextPacket();
    }
    ASSERT_EQ(ReplyTo(instrument, "STP"), "OK\rEND\r");
    ASSERT_EQ(Start(), "OK\rEND\r");
    const Reading first = ParseReading(NextPacket());
    EXPECT_NEAR(first.integral, first.irradiance * 0.1, 0.01);
    EXPECT_EQ(first.peak, first.irradiance);
}

TEST_F(StreamTest, StopEndsTheStreamWithOkAndEnd) {
    ASSERT_EQ(Start(), "OK\rEND\r");
    NextPacket();
    NextPacket();
    instrument.ReceiveBytes("STP\r");
    EXPECT_EQ(NextPacket(), "OK\r");
    EXPECT_EQ(NextPacket(), "END\r");
    EXPECT_EQ(NextPacket(), "") << "no line after the end";
    EXPECT_FALSE(instrument.IsStreaming());
    EXPECT_EQ(ReplyTo(instrument, "STP"), "NO\r");
}

TEST_F(StreamTest, StopComesAfterTheLinesAlreadyDue) {
    ASSERT_EQ(Start(), "OK\rEND\r");
    instrument.AdvanceClock(350);
    instrument.ReceiveBytes("STP\r");
    std::vector<std::string> packets;
    for (std::string packet = NextPacket(); !packet.empty(); packet = NextPacket()) {
        packets.push_back(packet);
    }
    ASSERT_EQ(packets.size(), 5u);
    EXPECT_EQ(packets[3], "OK\r");
    EXPECT_EQ(packets[4], "END\r");
}

TEST_F(StreamTest, WholeReplyPacketisationSendsStopReplyAndEndTogether) {
    instrument.SetPacketisation(SimulatedInstrument::Packetisation::WholeReply);
    ASSERT_EQ(Start(), "OK\rEND\r");
    ParseReading(NextPacket());
    instrument.ReceiveBytes("STP\r");
    EXPECT_EQ(NextPacket(), "OK\rEND\r");
}

TEST_F(StreamTest, RefusesOtherCommandsWhileStreamingExceptStopAndReset) {
    ASSERT_EQ(Start(), "OK\rEND\r");
    for (const char* request : {"WHO\r", "ACW 2\r", "CST\r", "CAL\r"}) {
        instrument.ReceiveBytes(request);
        EXPECT_EQ(NextPacket(), "NG\r") << request;
    }
    EXPECT_EQ(instrument.GetConditions().averaging, 1);
    instrument.ReceiveBytes("RM\r");
    EXPECT_EQ(NextPacket(), "OK\r");
    EXPECT_FALSE(instrument.IsStreaming());
    EXPECT_EQ(NextPacket(), "");
}

TEST_F(StreamTest, AnUnreadStreamKeepsOnlyWhatItsBufferHolds) {
    ASSERT_EQ(Start(), "OK\rEND\r");
    instrument.AdvanceClock(24 * 3600 * 1000);
    instrument.ReceiveBytes("STP\r");
    std::size_t lines = 0;
    for (std::string packet = NextPacket(); packet != "OK\r"; packet = NextPacket()) {
        ParseReading(packet);
        ++lines;
    }
    EXPECT_EQ(lines, SimulatedInstrument::kStreamBacklogLimit);
    EXPECT_EQ(NextPacket(), "END\r");
}

TEST_F(StreamTest, ScriptedLinesComeFirstThenReadingsResume) {
    instrument.SetScriptedStream({"1.0E+00 2.0E+00", "", "x y z"});
    ASSERT_EQ(Start(), "OK\rEND\r");
    EXPECT_EQ(NextPacket(), "1.0E+00 2.0E+00\r");
    EXPECT_EQ(NextPacket(), "\r");
    EXPECT_EQ(NextPacket(), "x y z\r");
    ParseReading(NextPacket());
    EXPECT_EQ(instrument.NowMs(), 400);
}

struct FaultCase {
    SimulatedInstrument::StreamFault fault;
    const char* finalPacket;
    const char* errorReply;
    const char* logEvent;
};

class StreamFaultTest : public StreamTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(StreamFaultTest, EndsTheStreamAfterTheChosenLine) {
    const FaultCase& fault = GetParam();
    instrument.SetStreamFault(fault.fault);
    ASSERT_EQ(Start(), "OK\rEND\r");
    for (std::size_t line = 0; line < fault.fault.afterLines; ++line) {
        ParseReading(NextPacket());
    }
    EXPECT_EQ(NextPacket(), fault.finalPacket);
    EXPECT_EQ(NextPacket(), "");
    EXPECT_FALSE(instrument.IsStreaming());
    EXPECT_EQ(ReplyTo(instrument, "ERR"), fault.errorReply);
    EXPECT_EQ(instrument.GetLog().back().substr(14), fault.logEvent);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, StreamFaultTest,
    ::testing::Values(FaultCase{{3, "NG", 5}, "NG\r", "OK\r5\rEND\r", "ERROR 5 RANGE OVER"},
                      FaultCase{{0, "NG", 4}, "NG\r", "OK\r4\rEND\r", "ERROR 4 INTEGRATION OVER"},
                      FaultCase{{2, "NO", 0}, "NO\r", "OK\r0\rEND\r", "ZERO CALIBRATION DONE"}));

TEST_F(StreamTest, AStalledStreamSendsNothingButStillStops) {
    instrument.SetStreamFault(SimulatedInstrument::StreamFault{2, "", 0});
    ASSERT_EQ(Start(), "OK\rEND\r");
    ParseReading(NextPacket());
    ParseReading(NextPacket());
    const std::int64_t stalledAt = instrument.NowMs();
    for (int read = 0; read < 600; ++read) {
        ASSERT_EQ(NextPacket(), "");
    }
    EXPECT_EQ(instrument.NowMs(), stalledAt + 100) << "time stops once nothing is due";
    EXPECT_TRUE(instrument.IsStreaming());
    EXPECT_EQ(ReplyTo(instrument, "STP"), "OK\rEND\r");
}

TEST_F(StreamTest, SilenceDuringTheStreamStopsItsLinesAndTheClock) {
    ASSERT_EQ(Start(), "OK\rEND\r");
    ParseReading(NextPacket());
    instrument.SetSilentFromRequest(2);
    instrument.ReceiveBytes("STP\r");
    const std::int64_t silencedAt = instrument.NowMs();
    EXPECT_EQ(NextPacket(), "");
    EXPECT_EQ(NextPacket(), "");
    EXPECT_EQ(instrument.NowMs(), silencedAt);
    EXPECT_TRUE(instrument.IsStreaming()) << "the hung firmware did not execute the stop";
}

TEST_F(StreamTest, TheRealClockSaysWhenTheNextLineIsDue) {
    SimulatedInstrument real(ClockMode::Real);
    EXPECT_EQ(real.MillisecondsUntilOutput(), std::nullopt);
    ASSERT_EQ(StartReply(real), "OK\rEND\r");
    const auto wait = real.MillisecondsUntilOutput();
    ASSERT_TRUE(wait.has_value());
    EXPECT_LE(*wait, 100);
}

TEST_F(StreamTest, SwitchingClocksKeepsTheInstrumentsTime) {
    instrument.AdvanceClock(5000);
    instrument.SetClockMode(ClockMode::Real);
    EXPECT_GE(instrument.NowMs(), 5000);
    instrument.SetClockMode(ClockMode::Fast);
    const std::int64_t now = instrument.NowMs();
    EXPECT_GE(now, 5000);
    instrument.AdvanceClock(-10);
    EXPECT_EQ(instrument.NowMs(), now) << "time never runs backwards";
}

}  // namespace
