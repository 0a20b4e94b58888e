// Reading reply lines: packet boundaries, the packet-start and whole-line token tests, pending
// text, the idle limit and the bounds on what one read may collect.
#include "LinkTestFixture.h"

namespace {

class ReplyReadingTest : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        instrument = std::make_unique<CInstrument>();  // built after the scripted driver
        std::string productId;
        ASSERT_EQ(instrument->OpenLink(productId), 1);
        EXPECT_EQ(productId, "3c4d");
    }

    std::unique_ptr<CInstrument> instrument;
};

struct ReadCase {
    const char* name;
    std::vector<std::string> packets;  // "" is an empty packet
    bool continuation;
    bool patient;
    int expectedResult;
    std::string expectedLine;
    std::string expectedPending;
    std::size_t expectedReads;
    int expectedSleeps;
};

class ReadReplyLineCases : public ReplyReadingTest,
                           public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadReplyLineCases, CollectsUntilAPacketOrALineIsAnEndingToken) {
    const ReadCase& c = GetParam();
    device->QueuePackets(c.packets);
    device->whenExhausted = ScriptedRead{true, ""};  // idle instrument: empty packets
    std::string line;
    EXPECT_EQ(instrument->ReadReplyLine(c.continuation, line, c.patient), c.expectedResult);
    EXPECT_EQ(line, c.expectedLine);
    EXPECT_EQ(instrument->PendingText(), c.expectedPending);
    EXPECT_EQ(device->ReadCount(), c.expectedReads);
    EXPECT_EQ(sleepCount, c.expectedSleeps);
}

// After the queued packets the device answers empty packets, so a read that does not end on
// the queued ones runs into the idle limit: 501 sleeps, 502 empty reads.
INSTANTIATE_TEST_SUITE_P(
    Channel, ReadReplyLineCases,
    ::testing::Values(
        ReadCase{"OkAndEndInOnePacket", {"OK\rEND\r"}, false, false, 1, "OK\r", "END\r", 1, 0},
        ReadCase{"EndsOnNg", {"NG\r"}, false, false, 1, "NG\r", "", 1, 0},
        ReadCase{"EndsOnNo", {"NO\r"}, false, false, 1, "NO\r", "", 1, 0},
        ReadCase{"OkDoesNotEndAContinuationRead",
                 {"OK\r", "DATA\r", "END\r"},
                 true,
                 false,
                 1,
                 "OK\r",
                 "DATA\rEND\r",
                 3,
                 0},
        ReadCase{"OkAloneInContinuationRunsToTheIdleLimit",
                 {"OK\r"},
                 true,
                 false,
                 1,
                 "OK\r",
                 "",
                 1 + 502,
                 501},
        ReadCase{"DataPacketHoldingAWholeReplyEndsAtItsEndLine",
                 {"12.5\rEND\r"},
                 false,
                 false,
                 1,
                 "12.5\r",
                 "END\r",
                 1,
                 0},
        ReadCase{"OkLineGoesOnInContinuationButASplitEndLineEnds",
                 {"OK\r1.0\rE", "ND\r"},
                 true,
                 false,
                 1,
                 "OK\r",
                 "1.0\rEND\r",
                 2,
                 0},
        ReadCase{"IdleLimitHandsOutTheFirstLineAndKeepsTheRest",
                 {"x\rENDS\rNOT"},
                 false,
                 false,
                 1,
                 "x\r",
                 "ENDS\rNOT",
                 1 + 502,
                 501},
        ReadCase{
            "TokenNotAtPacketStartIsNotSeen", {"X", "OK\r"}, false, false, 1, "XOK\r", "", 2, 0},
        ReadCase{"EndingPacketWithoutCrReadsOnToItsCr",
                 {"END", "\r", "NO\r"},
                 false,
                 false,
                 1,
                 "END\r",
                 "",
                 2,
                 0},
        ReadCase{"EmptyPacketsBeforeTheReplySleepEach",
                 {"", "", "", "OK\r"},
                 false,
                 false,
                 1,
                 "OK\r",
                 "",
                 4,
                 3},
        ReadCase{"NothingButEmptyPackets", {}, false, false, 1, "", "", 502, 501},
        ReadCase{"TextStopsAtTheFirstNul",
                 {std::string("OK\r\0END\r", 8)},
                 false,
                 false,
                 1,
                 "OK\r",
                 "",
                 1,
                 0},
        ReadCase{"PacketStartingWithNulIsEmpty",
                 {std::string("\0OK\r", 4), "NG\r"},
                 false,
                 false,
                 1,
                 "NG\r",
                 "",
                 2,
                 1}),
    CaseName());

TEST_F(ReplyReadingTest, PatientModeWaitsPastTheIdleLimitForTheReply) {
    device->QueueEmptyPackets(1500);
    device->QueuePackets({"OK\rEND\r"});
    std::string line;
    EXPECT_EQ(instrument->ReadReplyLine(false, line, true), 1);
    EXPECT_EQ(line, "OK\r");
    EXPECT_EQ(sleepCount, 1500);
    EXPECT_EQ(sleptMs, 1500 * 10);
}

TEST_F(ReplyReadingTest, PatientModeEndsOnlyWhenAPipeReadFails) {
    device->QueueEmptyPackets(700);
    device->QueueFailure();
    std::string line;
    EXPECT_EQ(instrument->ReadReplyLine(false, line, true), 0);
    EXPECT_EQ(device->ReadCount(), 701u);
}

TEST_F(ReplyReadingTest, NonEmptyPacketsDoNotResetTheIdleCount) {
    device->QueueEmptyPackets(300);
    device->QueuePackets({"partial "});
    device->QueueEmptyPackets(300);
    std::string line;
    EXPECT_EQ(instrument->ReadReplyLine(false, line, false), 1);
    EXPECT_EQ(line, "partial ");
    EXPECT_EQ(sleepCount, 501);
}

TEST_F(ReplyReadingTest, PendingLineIsHandedOutWithoutAPipeRead) {
    device->QueuePackets({"OK\rEND\r"});
    std::string line;
    ASSERT_EQ(instrument->ReadReplyLine(false, line, false), 1);
    ASSERT_EQ(device->ReadCount(), 1u);
    EXPECT_EQ(instrument->ReadReplyLine(false, line, false), 1);
    EXPECT_EQ(line, "END\r");
    EXPECT_EQ(instrument->PendingText(), "");
    EXPECT_EQ(device->ReadCount(), 1u);
}

TEST_F(ReplyReadingTest, PendingTextWithoutCrStartsTheNextLine) {
    device->QueuePackets({"OK\r1.2", "NG\r"});
    std::string line;
    ASSERT_EQ(instrument->ReadReplyLine(false, line, false), 1);
    EXPECT_EQ(instrument->PendingText(), "1.2");
    EXPECT_EQ(instrument->ReadReplyLine(false, line, false), 1);
    EXPECT_EQ(line, "1.2NG\r");
}

TEST_F(ReplyReadingTest, PendingTextCountsTowardsAWholeTokenLine) {
    device->QueuePackets({"OK\rE", "ND\r1 0 0\r"});
    std::string line;
    ASSERT_EQ(instrument->ReadReplyLine(false, line, false), 1);
    ASSERT_EQ(instrument->PendingText(), "E");
    EXPECT_EQ(instrument->ReadReplyLine(false, line, false), 1);
    EXPECT_EQ(line, "END\r");
    EXPECT_EQ(instrument->PendingText(), "1 0 0\r");
    EXPECT_EQ(sleepCount, 0);
}

TEST_F(ReplyReadingTest, AFailedReadKeepsTheCollectedTextAndLeavesPendingTextAlone) {
    device->QueuePackets({"OK\rpart", "ial\r"});
    device->QueueFailure();
    std::string line;
    ASSERT_EQ(instrument->ReadReplyLine(false, line, false), 1);
    EXPECT_EQ(instrument->ReadReplyLine(true, line, false), 0);
    EXPECT_EQ(line, "partial\r");
    EXPECT_EQ(instrument->PendingText(), "part");
}

TEST_F(ReplyReadingTest, TakePendingTextHandsItOverOnce) {
    device->QueuePackets({"OK\rEND\r1.0 2.0 3.0\r"});
    std::string line;
    ASSERT_EQ(instrument->ReadReplyLine(false, line, false), 1);
    EXPECT_EQ(instrument->TakePendingText(), "END\r1.0 2.0 3.0\r");
    EXPECT_EQ(instrument->PendingText(), "");
    EXPECT_EQ(instrument->TakePendingText(), "");
}

TEST_F(ReplyReadingTest, OneReadFailsOnceItHasCollectedMoreThanOneMebibyte) {
    device->whenExhausted = ScriptedRead{true, std::string(64, 'b')};  // a babbling device
    std::string line;
    EXPECT_EQ(instrument->ReadReplyLine(true, line, false), 0);
    const std::size_t packetsToPassTheLimit = CInstrument::kReplyLimitBytes / 64 + 1;
    EXPECT_EQ(device->ReadCount(), packetsToPassTheLimit);
    EXPECT_EQ(sleepCount, 0);
}

// Packets that add up to kReplyLimitBytes + extraBytes, the last one beginning with "END".
void QueueReplyOfSize(ScriptedDevice& device, std::size_t extraBytes) {
    const std::size_t packets = CInstrument::kReplyLimitBytes / 64;
    device.QueuePackets({"x\r" + std::string(62, 'b')});
    device.QueuePackets(std::vector<std::string>(packets - 2, std::string(64, 'b')));
    device.QueuePackets({"END" + std::string(61, 'b')});
    if (extraBytes > 0) {
        device.reads.back().bytes.erase(3, 1);
        device.reads.insert(device.reads.end() - 1,
                            ScriptedRead{true, std::string(extraBytes + 1, 'b')});
    }
}

TEST_F(ReplyReadingTest, ExactlyOneMebibyteIsStillAccepted) {
    QueueReplyOfSize(*device, 0);
    std::string line;
    EXPECT_EQ(instrument->ReadReplyLine(false, line, false), 1);
    EXPECT_EQ(line, "x\r");
    EXPECT_EQ(instrument->PendingText().size(), CInstrument::kReplyLimitBytes - 2);
}

TEST_F(ReplyReadingTest, OneByteMoreThanAMebibyteFails) {
    QueueReplyOfSize(*device, 1);
    std::string line;
    EXPECT_EQ(instrument->ReadReplyLine(false, line, false), 0);
    EXPECT_EQ(instrument->PendingText(), "");
}

}  // namespace
