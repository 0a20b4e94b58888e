// Nothing an instrument does holds the program for ever: a patient reply read gives up after a
// minute of empty packets, and a run whose stop cannot be sent ends instead of reading a stream
// that nobody can stop.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/link/LinkTestFixture.h"
#include "tests/worker/WorkerTestSupport.h"

namespace {

constexpr int kPatientSleeps = CInstrument::kPatientIdleLimit + 1;

struct PatientCase {
    const char* name;
    // "" is an empty packet. Three minutes of empty packets follow, then reads fail, so a read
    // that never gives up fails the case instead of hanging it.
    std::vector<std::string> packets;
    int expectedResult;
    std::string expectedLine;
    int expectedSleeps;
};

std::vector<std::string> Empties(int count) {
    return std::vector<std::string>(static_cast<std::size_t>(count), "");
}

std::vector<std::string> Joined(std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> packets;
    for (const std::vector<std::string>& part : parts) {
        packets.insert(packets.end(), part.begin(), part.end());
    }
    return packets;
}

class PatientRead : public LinkTest, public testing::WithParamInterface<PatientCase> {};

TEST_P(PatientRead, WaitsWhileTheInstrumentTalksAndAMinuteOfEmptyPackets) {
    const PatientCase& c = GetParam();
    device->QueuePackets(c.packets);
    device->QueueEmptyPackets(3 * kPatientSleeps);
    CInstrument instrument;
    std::string productId;
    ASSERT_EQ(instrument.OpenLink(productId), 1);
    std::string line;
    EXPECT_EQ(instrument.ReadReplyLine(false, line, true), c.expectedResult);
    EXPECT_EQ(line, c.expectedLine);
    EXPECT_EQ(sleepCount.load(), c.expectedSleeps);
}

INSTANTIATE_TEST_SUITE_P(
    Channel, PatientRead,
    testing::Values(
        PatientCase{"ReplyAfterAlmostAMinute", Joined({Empties(kPatientSleeps), {"OK\rEND\r"}}), 1,
                    "OK\r", kPatientSleeps},
        PatientCase{"DataStartsTheMinuteAgain",
                    Joined({Empties(5000), {"busy "}, Empties(5000), {"OK\r"}}), 1, "busy OK\r",
                    10000},
        PatientCase{"SilentInstrumentGivesUp", {}, 1, "", kPatientSleeps},
        PatientCase{"ReplyWithoutCrGivesUp", {"OK", "END"}, 1, "OKEND", kPatientSleeps}),
    CaseName());

// A zero calibration that never answers ends as an incomplete reply, without a box.
TEST_F(LinkTest, CalibrationOfAHungInstrumentEndsWithoutItsBoxes) {
    device->QueueEmptyPackets(3 * kPatientSleeps);
    CInstrument instrument;
    EXPECT_EQ(instrument.Calibrate(), ExchangeResult::kFirstLineWithoutCr);
    EXPECT_EQ(sleepCount.load(), kPatientSleeps);
    EXPECT_TRUE(interaction->boxes.empty());
    EXPECT_FALSE(instrument.IsOpen());
}

// The stop of a run of three cannot be written: the instrument would stream on and the run
// never end. It ends at once as failed, without reporting a stop that was never sent, with
// its samples and its link closed.
TEST_F(WorkerTest, ARunWhoseStopCannotBeSentEndsAsFailed) {
    window->measureCount = 3;
    Sim()->SetScriptedStream(NumberedLines(6));
    Sim()->SetStreamFault(SimulatedInstrument::StreamFault{6, "", 0});
    driver->FailWritesFromRequest(2);  // "CST" is request 1, "STP" request 2

    EXPECT_EQ(MeasurementThreadProc(*window), MeasurementResult::kStreamFailed);
    EXPECT_EQ(window->SampleLineNumbers(), Range(1, 3));
    EXPECT_EQ(window->Messages(), std::vector<unsigned>{WM_APP_MEAS_FAILED});
    EXPECT_EQ(window->MessageEvent(WM_APP_MEAS_FAILED).openLinks, 0);
    EXPECT_EQ(SleepRecord::count.load(), 0) << "the run waited on a stream it could not stop";
    EXPECT_EQ(runActive.load(), 0);
}

}  // namespace
