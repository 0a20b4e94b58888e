// The three conversations: the write exchange with its result codes, the query and the
// stop-and-reset sequence, each checked for the bytes sent, the result and the link left
// closed when the operation opened it.
#include "LinkTestFixture.h"

#include <string_view>
#include <utility>

#include "link/LinkTrace.h"

namespace {

using namespace ExchangeResult;

struct ExchangeCase {
    const char* name;
    void (*arrange)(ScriptedDevice&);
    std::string request;
    bool expectEnd;
    int expectedCode;
    std::string expectedFirst;
    std::string expectedSecond;
    int expectedSleeps;
    std::size_t expectedWrites;
};

class ExchangeCodes : public LinkTest, public ::testing::WithParamInterface<ExchangeCase> {};

TEST_P(ExchangeCodes, EachCodeComesFromItsOwnCause) {
    const ExchangeCase& c = GetParam();
    device->whenExhausted = ScriptedRead{true, ""};
    c.arrange(*device);
    CInstrument instrument;
    std::string first = "stale";
    std::string second = "stale";
    EXPECT_EQ(instrument.Exchange(true, c.request, first, second, c.expectEnd, false),
              c.expectedCode);
    EXPECT_EQ(first, c.expectedFirst);
    EXPECT_EQ(second, c.expectedSecond);
    EXPECT_EQ(sleepCount, c.expectedSleeps);
    EXPECT_EQ(device->writes.size(), c.expectedWrites);
    EXPECT_FALSE(instrument.IsOpen());
    EXPECT_EQ(device->OpenHandles(), 0u);
}

void Reply(ScriptedDevice& d, std::vector<std::string> packets) {
    d.QueuePackets(packets);
}

INSTANTIATE_TEST_SUITE_P(
    Channel, ExchangeCodes,
    ::testing::Values(
        ExchangeCase{"OkEndInOnePacket", [](ScriptedDevice& d) { Reply(d, {"OK\rEND\r"}); },
                     "ACW 1", true, kSuccess, "OK", "END", 0, 1},
        ExchangeCase{"OkEndInTwoPackets",
                     [](ScriptedDevice& d) {
                         Reply(d, {"OK\r", "END\r"});
                     },
                     "ACW 1", true, kSuccess, "OK", "END", 0, 1},
        ExchangeCase{"FirstLineContentIsNotJudged",
                     [](ScriptedDevice& d) {
                         Reply(d, {"NG\r", "END\r"});
                     },
                     "ACW 1", true, kSuccess, "NG", "END", 0, 1},
        ExchangeCase{"OneLineWhenNoEndExpected", [](ScriptedDevice& d) { Reply(d, {"NO\r"}); },
                     "STP", false, kSuccess, "NO", "", 0, 1},
        ExchangeCase{"OpenFails", [](ScriptedDevice& d) { d.present = false; }, "ACW 1", true,
                     kOpenFailed, "", "", 0, 0},
        ExchangeCase{"WriteFails", [](ScriptedDevice& d) { d.writeFails = true; }, "ACW 1", true,
                     kWriteFailed, "", "", 0, 1},
        ExchangeCase{"EmptyRequest", [](ScriptedDevice&) {}, "", true, kWriteFailed, "", "", 0, 0},
        ExchangeCase{"RequestTooLong", [](ScriptedDevice&) {}, std::string(64, 'A'), true,
                     kWriteFailed, "", "", 0, 0},
        ExchangeCase{"FirstReadFails", [](ScriptedDevice& d) { d.QueueFailure(); }, "ACW 1", true,
                     kFirstReadFailed, "", "", 0, 1},
        ExchangeCase{"FirstReplyWithoutCr", [](ScriptedDevice& d) { Reply(d, {"OK"}); }, "ACW 1",
                     true, kFirstLineWithoutCr, "", "", 501, 1},
        ExchangeCase{"SecondReadFails",
                     [](ScriptedDevice& d) {
                         Reply(d, {"OK\r"});
                         d.QueueFailure();
                     },
                     "ACW 1", true, kSecondReadFailed, "OK", "", 0, 1},
        ExchangeCase{"SecondReplyWithoutCr",
                     [](ScriptedDevice& d) {
                         Reply(d, {"OK\r", "END"});
                     },
                     "ACW 1", true, kSecondLineWithoutCr, "OK", "", 501, 1},
        ExchangeCase{"SecondLineNg", [](ScriptedDevice& d) { Reply(d, {"OK\rNG\r"}); }, "ACW 1",
                     true, kSecondLineNotEnd, "OK", "NG", 0, 1},
        ExchangeCase{"SecondLineLongerThanEnd", [](ScriptedDevice& d) { Reply(d, {"OK\rENDS\r"}); },
                     "ACW 1", true, kSecondLineNotEnd, "OK", "ENDS", 0, 1}),
    CaseName());

TEST_F(LinkTest, ExchangeOverAnOpenLinkLeavesItOpen) {
    device->QueuePackets({"OK\rEND\r"});
    CInstrument instrument;
    std::string productId;
    ASSERT_EQ(instrument.OpenLink(productId), 1);
    std::string first;
    std::string second;
    EXPECT_EQ(instrument.Exchange(false, "CST", first, second, true, false), kSuccess);
    EXPECT_TRUE(instrument.IsOpen());
}

TEST_F(LinkTest, RequestLineIsTheTextAndOneCrWithinSixtyFourBytes) {
    CInstrument instrument;
    std::string productId;
    ASSERT_EQ(instrument.OpenLink(productId), 1);
    const std::string longest(63, 'A');
    EXPECT_EQ(instrument.SendCommand(longest), 1);
    EXPECT_EQ(instrument.SendCommand(longest + "B"), 0);
    EXPECT_EQ(instrument.SendCommand(std::string(500, 'C')), 0);
    EXPECT_EQ(instrument.SendCommand(""), 0);
    EXPECT_EQ(Requests(), std::vector<std::string>{longest + "\r"});
}

struct QueryCase {
    const char* name;
    std::vector<std::string> packets;
    int expectedResult;
    std::string expectedData;
    int expectedSleeps = 0;
};

class QueryReplies : public LinkTest, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(QueryReplies, YieldTheDataLinesJoinedByCr) {
    const QueryCase& c = GetParam();
    device->QueuePackets(c.packets);
    device->whenExhausted = ScriptedRead{true, ""};
    CInstrument instrument;
    std::string data = "stale";
    EXPECT_EQ(instrument.Query("LOG", "OK", "END", data), c.expectedResult);
    if (c.expectedResult == 1) {
        EXPECT_EQ(data, c.expectedData);
    }
    EXPECT_EQ(sleepCount, c.expectedSleeps);
    EXPECT_EQ(Requests(), std::vector<std::string>{"LOG\r"});
    EXPECT_EQ(device->OpenHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Channel, QueryReplies,
    ::testing::Values(
        QueryCase{"OnePacket", {"OK\rQIRO-7\rEND\r"}, 1, "QIRO-7"},
        QueryCase{"ThreePackets", {"OK\r", "QIRO-7\r", "END\r"}, 1, "QIRO-7"},
        QueryCase{
            "SeveralLinesJoined", {"OK\r", "a 1\rb 2\r", "c 3\r", "END\r"}, 1, "a 1\rb 2\rc 3"},
        QueryCase{"DataSplitAcrossPackets", {"OK\r", "QIR", "O-7\r", "END\r"}, 1, "QIRO-7"},
        QueryCase{"EmptyDataLine", {"OK\r", "\r", "END\r"}, 1, ""},
        QueryCase{"DateWithNovDoesNotEndTheLoop", {"OK\r", "NOV 2026\r", "END\r"}, 1, "NOV 2026"},
        QueryCase{"NoErrorLineDoesNotEndTheLoop",
                  {"OK\r", "NO ERROR\rOK FINE\r", "END\r"},
                  1,
                  "NO ERROR\rOK FINE"},
        QueryCase{
            "LinesStartingWithEndAreData", {"OK\r", "ENDURANCE\rX\r", "END\r"}, 1, "ENDURANCE\rX"},
        QueryCase{"NoDataLine", {"OK\rEND\r"}, 0, ""},
        QueryCase{"DataAndEndInOnePacket", {"OK\r", "QIRO-7\rEND\r"}, 1, "QIRO-7"},
        QueryCase{"SplitWithoutAnyTokenPacket",
                  {"OK\r", "202", "6/0", "3/1", "4\rE", "ND\r"},
                  1,
                  "2026/03/14"},
        QueryCase{
            "EndWithItsCrInTheNextPacket", {"OK\r", "70412318\r", "END", "\r"}, 1, "70412318"},
        QueryCase{
            "OkWithoutCrThenDataAndEndInPieces", {"OK", "\r1.000\r", "EN", "D", "\r"}, 1, "1.000"},
        // The idle limit hands out "a" and keeps "x" for the rest of its line.
        QueryCase{
            "PauseInsideADataLine",
            PacketsAroundPause({"OK\r", "a\r", "x"}, CInstrument::kIdleLimit + 2, {"y\r", "END\r"}),
            1, "a\rxy", CInstrument::kIdleLimit + 1},
        QueryCase{"FirstLineNotOk", {"NG\r", "X\r", "END\r"}, 0, ""},
        QueryCase{"FirstLineOkWithTrailingText", {"OK \r", "X\r", "END\r"}, 0, ""},
        QueryCase{"NgLineEndsTheReplyAsAFailure", {"OK\r", "ENDLESS\rNG\r"}, 0, ""},
        QueryCase{"NoLineEndsTheReplyAsAFailure", {"OK\r", "X\r", "NO\r", "END\r"}, 0, ""}),
    CaseName());

TEST_F(LinkTest, QueryFailsWhenThePipeFailsMidReply) {
    device->QueuePackets({"OK\r", "line 1\r"});
    device->QueueFailure();
    CInstrument instrument;
    std::string data;
    EXPECT_EQ(instrument.Query("LOG", "OK", "END", data), 0);
    EXPECT_EQ(device->OpenHandles(), 0u);
}

TEST_F(LinkTest, QueryFailsInsteadOfRereadingPendingTextForever) {
    // A data packet that begins with no token and holds the rest of the reply: the first
    // continuation read ends at the idle limit handing out text without a closing CR.
    device->QueuePackets({"OK\r", "partial line"});
    device->whenExhausted = ScriptedRead{true, ""};
    CInstrument instrument;
    std::string data;
    EXPECT_EQ(instrument.Query("LOG", "OK", "END", data), 0);
    EXPECT_EQ(sleepCount, 501);
    EXPECT_EQ(device->OpenHandles(), 0u);
}

TEST_F(LinkTest, QueryFailuresBeforeTheDataCloseTheLink) {
    device->QueueFailure();
    CInstrument instrument;
    std::string data;
    EXPECT_EQ(instrument.Query("WHO", "OK", "END", data), 0);
    EXPECT_EQ(device->OpenHandles(), 0u);

    device->writeFails = true;
    EXPECT_EQ(instrument.Query("WHO", "OK", "END", data), 0);
    EXPECT_EQ(device->OpenHandles(), 0u);

    device->present = false;
    EXPECT_EQ(instrument.Query("WHO", "OK", "END", data), 0);
}

struct StopResetCase {
    const char* name;
    std::vector<std::string> packets;
    int expectedResult;
    std::vector<std::string> expectedRequests;
};

class StopAndResetReplies : public LinkTest, public ::testing::WithParamInterface<StopResetCase> {};

TEST_P(StopAndResetReplies, ResetFollowsAStopAnsweredNoOrOkAndALine) {
    const StopResetCase& c = GetParam();
    device->QueuePackets(c.packets);
    CInstrument instrument;
    EXPECT_EQ(instrument.StopAndReset(true), c.expectedResult);
    EXPECT_EQ(Requests(), c.expectedRequests);
    EXPECT_EQ(device->reads.size(), 0u) << "every scripted packet is read";
    EXPECT_EQ(device->OpenHandles(), 0u);
}

const std::vector<std::string> kStopThenReset = {"STP\r", "RM\r"};

INSTANTIATE_TEST_SUITE_P(
    Channel, StopAndResetReplies,
    ::testing::Values(
        StopResetCase{"NoSkipsTheExtraRead", {"NO\r", "OK\r"}, 1, kStopThenReset},
        StopResetCase{"OkIsFollowedByOneMoreLine", {"OK\r", "END\r", "OK\r"}, 1, kStopThenReset},
        StopResetCase{"OkAndItsLineInOnePacket", {"OK\rEND\r", "OK\r"}, 1, kStopThenReset},
        StopResetCase{"ResetRefused", {"NO\r", "NG\r"}, 0, kStopThenReset},
        StopResetCase{"UnknownStopReplyStops", {"NG\r"}, 0, {"STP\r"}}),
    CaseName());

TEST_F(LinkTest, StopAndResetFailsOnAFailedExtraRead) {
    device->QueuePackets({"OK\r"});
    device->QueueFailure();
    CInstrument instrument;
    EXPECT_EQ(instrument.StopAndReset(true), 0);
    EXPECT_EQ(Requests(), std::vector<std::string>{"STP\r"});
    EXPECT_EQ(device->OpenHandles(), 0u);
}

TEST_F(LinkTest, StopAndResetOverAnOpenLinkLeavesItOpen) {
    device->QueuePackets({"NO\r", "OK\r"});
    CInstrument instrument;
    std::string productId;
    ASSERT_EQ(instrument.OpenLink(productId), 1);
    EXPECT_EQ(instrument.StopAndReset(false), 1);
    EXPECT_TRUE(instrument.IsOpen());
}

// Records the link trace while it lives, and turns it off again however the test ends.
class TraceRecorder {
public:
    using Entry = std::pair<LinkEvent, std::string>;

    TraceRecorder() {
        SetLinkTrace([this](LinkEvent event, std::string_view text) {
            entries.emplace_back(event, std::string(text));
        });
    }
    ~TraceRecorder() { SetLinkTrace({}); }

    std::vector<Entry> entries;
};

TEST_F(LinkTest, TheTraceShowsEachConversationAsItHappensAndNothingOnceOff) {
    using enum LinkEvent;
    const std::string path = device->path;
    std::vector<TraceRecorder::Entry> trace;
    {
        TraceRecorder recorder;
        device->QueuePackets({"OK\r", "", std::string("a 1\r\0junk", 9), "", "END\r"});
        device->QueueFailure();
        CInstrument instrument;
        std::string data;
        EXPECT_EQ(instrument.Query("LOG", "OK", "END", data), 1);
        EXPECT_EQ(instrument.StopAndReset(true), 0);
        device->writeFails = true;
        EXPECT_EQ(instrument.Query("WHO", "OK", "END", data), 0);
        device->present = false;
        EXPECT_EQ(instrument.Query("WHO", "OK", "END", data), 0);
        trace = recorder.entries;
    }
    EXPECT_EQ(trace, (std::vector<TraceRecorder::Entry>{{Opened, path},
                                                        {Request, "LOG"},
                                                        {Received, "OK\r"},
                                                        {Received, "a 1\r"},
                                                        {Received, "END\r"},
                                                        {Closed, path},
                                                        {Opened, path},
                                                        {Request, "STP"},
                                                        {Failed, "read"},
                                                        {Closed, path},
                                                        {Opened, path},
                                                        {Failed, "write WHO"},
                                                        {Closed, path},
                                                        {Failed, "open"}}));

    device->present = true;
    device->writeFails = false;
    device->QueuePackets({"OK\rQIRO-7\rEND\r"});
    CInstrument instrument;
    std::string data;
    EXPECT_EQ(instrument.Query("WHO", "OK", "END", data), 1);
    EXPECT_FALSE(LinkTraceOn());
}

TEST_F(LinkTest, CheckConnectionReportsTheProductIdAndClosesAgain) {
    CInstrument instrument;
    std::string productId = "stale";
    EXPECT_EQ(instrument.CheckConnection(productId), 1);
    EXPECT_EQ(productId, "3c4d");
    EXPECT_FALSE(instrument.IsOpen());

    device->present = false;
    EXPECT_EQ(instrument.CheckConnection(productId), 0);
    EXPECT_EQ(productId, "");
}

}  // namespace
