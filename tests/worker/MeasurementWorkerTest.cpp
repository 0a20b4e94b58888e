#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScriptedUsbDriver.h"
#include "link/Instrument.h"
#include "res/StringTable.h"
#include "tests/worker/WorkerTestSupport.h"

namespace {

using Packetisation = SimulatedInstrument::Packetisation;
using IdleReads = SimulatedInstrument::IdleReads;

const std::vector<unsigned> kStoppedThenDone = {WM_APP_MEAS_STOPPING, WM_APP_MEAS_DONE};

// --- thinning the stream ----------------------------------------------------------------

struct ThinningCase {
    int intervalSeconds;
    int averagingIndex;
    int measureCount;
    std::vector<int> expectedLines;
};

class Thinning : public WorkerTest, public testing::WithParamInterface<ThinningCase> {};

TEST_P(Thinning, KeepsOneLinePerIntervalUpToTheCount) {
    const ThinningCase& c = GetParam();
    SetAveraging(c.averagingIndex);
    window->intervalSeconds = c.intervalSeconds;
    window->measureCount = c.measureCount;
    Sim()->SetScriptedStream(NumberedLines(c.expectedLines.back() + 10));

    EXPECT_EQ(MeasurementThreadProc(*window), MeasurementResult::kCompleted);
    EXPECT_EQ(window->SampleLineNumbers(), c.expectedLines);
    EXPECT_EQ(window->Messages(), kStoppedThenDone);
    EXPECT_EQ(driver->RequestLog(), (std::vector<std::string>{"CST", "STP"}));
}

INSTANTIATE_TEST_SUITE_P(IntervalsAndAveraging, Thinning,
                         testing::Values(ThinningCase{1, 0, 3, {10, 20, 30}},
                                         ThinningCase{1, 2, 7, {3, 6, 10, 13, 16, 20, 23}},
                                         ThinningCase{2, 4, 3, {4, 8, 12}},
                                         ThinningCase{0, 0, 5, {1, 2, 3, 4, 5}},
                                         ThinningCase{0, 3, 1, {1}}));

TEST_F(WorkerTest, AFullCountStopsAtTheNextLineAndDiscardsTheRestUntilEnd) {
    window->intervalSeconds = 1;
    window->measureCount = 3;
    {
        auto sim = Sim();
        sim->SetScriptedStream(NumberedLines(45));
        // The instrument keeps streaming after its "OK" and ends at line 40 on its own.
        sim->SetReplyOverride("STP", {"OK"});
        sim->SetStreamFault(SimulatedInstrument::StreamFault{40, "END", 0});
    }

    EXPECT_EQ(MeasurementThreadProc(*window), MeasurementResult::kCompleted);
    EXPECT_EQ(window->SampleLineNumbers(), (std::vector<int>{10, 20, 30}));
    EXPECT_EQ(window->Messages(), kStoppedThenDone);
    EXPECT_EQ(window->MessageEvent(WM_APP_MEAS_STOPPING).streamLinesSent, 31u);
    EXPECT_EQ(Sim()->StreamLinesSent(), 40u);
    EXPECT_EQ(driver->RequestLog(), (std::vector<std::string>{"CST", "STP"}));
}

TEST_F(WorkerTest, CountZeroMeansNineThousandNineHundredNinetyNineSamples) {
    window->measureCount = 0;
    EXPECT_EQ(MeasurementThreadProc(*window), MeasurementResult::kCompleted);
    EXPECT_EQ(window->Samples().size(), 9999u);
    EXPECT_EQ(window->Messages(), kStoppedThenDone);
    EXPECT_EQ(SleepRecord::count.load(), 0);
}

// No control can change during a run: the averaging the window had at the start holds.
TEST_F(WorkerTest, TheWindowsAveragingIsReadOnceAtTheStart) {
    window->intervalSeconds = 1;
    window->measureCount = 4;
    Sim()->SetScriptedStream(NumberedLines(50));
    window->onSample = [this](std::size_t) { window->averagingIndex = 4; };

    EXPECT_EQ(MeasurementThreadProc(*window), MeasurementResult::kCompleted);
    EXPECT_EQ(window->SampleLineNumbers(), (std::vector<int>{10, 20, 30, 40}));
}

// --- stop requests ----------------------------------------------------------------------

TEST_F(WorkerTest, AStopRequestAfterSomeSamplesEndsTheRunAsCancelled) {
    window->measureCount = 100;
    Sim()->SetScriptedStream(NumberedLines(50));
    window->onSample = [](std::size_t samples) {
        if (samples == 4) {
            runActive.store(0);
        }
    };

    EXPECT_EQ(MeasurementThreadProc(*window), MeasurementResult::kCompleted);
    EXPECT_EQ(window->SampleLineNumbers(), Range(1, 4));
    EXPECT_EQ(window->Messages(), kStoppedThenDone);
    EXPECT_EQ(window->MessageEvent(WM_APP_MEAS_STOPPING).streamLinesSent, 4u);
    EXPECT_EQ(window->MessageEvent(WM_APP_MEAS_DONE).runFlag, 0);
}

TEST_F(WorkerTest, AStopRequestWhileTheStreamIsSilentGoesOutBeforeTheNextRead) {
    {
        auto sim = Sim();
        sim->SetScriptedStream(NumberedLines(10));
        sim->SetStreamFault(SimulatedInstrument::StreamFault{3, "", 0});  // stalls, still on
    }
    SleepRecord::stopAfter = 20;

    EXPECT_EQ(MeasurementThreadProc(*window), MeasurementResult::kCompleted);
    EXPECT_EQ(window->SampleLineNumbers(), Range(1, 3));
    EXPECT_EQ(window->Messages(), kStoppedThenDone);
    EXPECT_EQ(SleepRecord::count.load(), 20);
}

TEST_F(WorkerTest, AStopRequestedBeforeTheWorkerStartedIsKept) {
    window->setsRunActive = true;  // the window set the flag, then the operator pressed Stop
    runActive.store(0);
    Sim()->SetScriptedStream(NumberedLines(10));

    EXPECT_EQ(MeasurementThreadProc(*window), MeasurementResult::kCompleted);
    EXPECT_TRUE(window->Samples().empty());
    EXPECT_EQ(window->Messages(), kStoppedThenDone);
    EXPECT_EQ(window->MessageEvent(WM_APP_MEAS_STOPPING).streamLinesSent, 0u);
}

TEST_F(WorkerTest, AWindowThatSetTheFlagKeepsItSetThroughTheRun) {
    window->setsRunActive = true;
    runActive.store(1);
    window->measureCount = 2;

    EXPECT_EQ(MeasurementThreadProc(*window), MeasurementResult::kCompleted);
    EXPECT_EQ(window->Samples().size(), 2u);
    EXPECT_EQ(window->MessageEvent(WM_APP_MEAS_DONE).runFlag, 1);
    EXPECT_EQ(runActive.load(), 0);
}

// --- how a run ends ---------------------------------------------------------------------

TEST_F(WorkerTest, TheLinkIsClosedBeforeTheEndMessageAndTheFlagClearedAfterIt) {
    window->measureCount = 2;

    EXPECT_EQ(MeasurementThreadProc(*window), MeasurementResult::kCompleted);
    EXPECT_EQ(window->MessageEvent(WM_APP_MEAS_STOPPING).openLinks, 1);
    const RunEvent done = window->MessageEvent(WM_APP_MEAS_DONE);
    EXPECT_EQ(done.openLinks, 0);
    EXPECT_EQ(done.runFlag, 1);  // the window still sees a completed run, not a cancelled one
    EXPECT_EQ(runActive.load(), 0);
}

struct InstrumentEndCase {
    const char* name;
    std::size_t afterLines;
    const char* finalLine;
    int expectedResult;
};

class InstrumentEnds : public WorkerTest, public testing::WithParamInterface<InstrumentEndCase> {};

TEST_P(InstrumentEnds, NgOrNoEndsTheRunInErrorKeepingTheSamples) {
    const InstrumentEndCase& c = GetParam();
    {
        auto sim = Sim();
        sim->SetScriptedStream(NumberedLines(20));
        sim->SetStreamFault(SimulatedInstrument::StreamFault{c.afterLines, c.finalLine, 4});
    }

    EXPECT_EQ(MeasurementThreadProc(*window), c.expectedResult);
    EXPECT_EQ(window->Samples().size(), c.afterLines);
    EXPECT_EQ(window->Messages(), std::vector<unsigned>{WM_APP_MEAS_ERROR});
    EXPECT_EQ(window->MessageEvent(WM_APP_MEAS_ERROR).openLinks, 0);
    EXPECT_EQ(runActive.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, InstrumentEnds,
    testing::Values(InstrumentEndCase{"NgFirst", 0, "NG", MeasurementResult::kInstrumentNg},
                    InstrumentEndCase{"NoFirst", 0, "NO", MeasurementResult::kInstrumentNo},
                    InstrumentEndCase{"NgAfterFive", 5, "NG", MeasurementResult::kInstrumentNg}),
    [](const testing::TestParamInfo<InstrumentEndCase>& param) { return param.param.name; });

// --- broken streams ---------------------------------------------------------------------

TEST_F(WorkerTest, EndlessEmptyPacketsFailAfterFiveHundredAndOneSleeps) {
    {
        auto sim = Sim();
        sim->SetScriptedStream(NumberedLines(10));
        sim->SetStreamFault(SimulatedInstrument::StreamFault{6, "", 0});
    }

    EXPECT_EQ(MeasurementThreadProc(*window), MeasurementResult::kStreamFailed);
    EXPECT_EQ(SleepRecord::count.load(), 501);
    EXPECT_EQ(window->SampleLineNumbers(), Range(1, 6));
    EXPECT_EQ(window->Messages(), std::vector<unsigned>{WM_APP_MEAS_FAILED});
    EXPECT_EQ(window->MessageEvent(WM_APP_MEAS_FAILED).openLinks, 0);
}

TEST_F(WorkerTest, ASilentPipeFailsTheRunAtOnceKeepingTheSamples) {
    {
        auto sim = Sim();
        sim->SetScriptedStream(NumberedLines(10));
        sim->SetStreamFault(SimulatedInstrument::StreamFault{2, "", 0});
        sim->SetIdleReads(IdleReads::NoPacket);  // the read times out
    }

    EXPECT_EQ(MeasurementThreadProc(*window), MeasurementResult::kStreamFailed);
    EXPECT_EQ(SleepRecord::count.load(), 0);
    EXPECT_EQ(window->SampleLineNumbers(), Range(1, 2));
    EXPECT_EQ(window->Messages(), std::vector<unsigned>{WM_APP_MEAS_FAILED});
}

TEST_F(WorkerTest, AFailedReadFailsTheRunKeepingTheSamples) {
    Sim()->SetScriptedStream(NumberedLines(10));
    window->onSample = [this](std::size_t samples) {
        if (samples == 3) {
            driver->FailNextReads(1);
        }
    };

    EXPECT_EQ(MeasurementThreadProc(*window), MeasurementResult::kStreamFailed);
    EXPECT_EQ(window->SampleLineNumbers(), Range(1, 3));
    EXPECT_EQ(window->Messages(), std::vector<unsigned>{WM_APP_MEAS_FAILED});
}

TEST_F(WorkerTest, ALineGrowingPastTheLimitFailsTheRun) {
    Sim()->SetScriptedStream({"1 1.000E+01 2.500E+00", std::string(4097, '7'), "3 a b"});

    EXPECT_EQ(MeasurementThreadProc(*window), MeasurementResult::kStreamFailed);
    EXPECT_EQ(window->SampleLineNumbers(), std::vector<int>{1});
    EXPECT_EQ(window->Messages(), std::vector<unsigned>{WM_APP_MEAS_FAILED});
}

TEST_F(WorkerTest, ALineAtTheLimitIsASample) {
    window->measureCount = 2;
    Sim()->SetScriptedStream({std::string(4096, '7'), "2 a b"});

    EXPECT_EQ(MeasurementThreadProc(*window), MeasurementResult::kCompleted);
    ASSERT_EQ(window->Samples().size(), 2u);
    EXPECT_EQ(window->Samples()[0], std::string(4096, '7'));
}

TEST_F(WorkerTest, APacketEndsAtItsFirstNul) {
    window->measureCount = 2;
    Sim()->SetScriptedStream({"1 a b", std::string("2 c\0junk", 8), " d", "4 e f"});

    EXPECT_EQ(MeasurementThreadProc(*window), MeasurementResult::kCompleted);
    EXPECT_EQ(window->Samples(), (std::vector<std::string>{"1 a b", "2 c d"}));
}

// --- packets ----------------------------------------------------------------------------

struct PacketCase {
    const char* name;
    Packetisation packetisation;
    std::size_t packetBytes;
    std::uint64_t cutSeed;
    int periodsPerSample;  // instrument time let pass in each AppendSample: lines pile up
};

// The start's reply, the stream and the stop's reply all cut alike, the instrument answering
// empty packets while idle or nothing at all: no line is lost, and no complete reply waits out
// the idle limit or a time-out.
class PacketBoundaries : public WorkerTest,
                         public testing::WithParamInterface<std::tuple<PacketCase, IdleReads>> {};

TEST_P(PacketBoundaries, EveryLineArrivesWholeAndInOrderWithoutWaiting) {
    const PacketCase& c = std::get<PacketCase>(GetParam());
    window->measureCount = 30;
    {
        auto sim = Sim();
        sim->SetScriptedStream(NumberedLines(60));
        sim->SetPacketisation(c.packetisation, c.packetBytes);
        sim->SetCutSeed(c.cutSeed);
        sim->SetIdleReads(std::get<IdleReads>(GetParam()));
    }
    window->onSample = [this, c](std::size_t) { Sim()->AdvanceClock(100 * c.periodsPerSample); };

    EXPECT_EQ(MeasurementThreadProc(*window), MeasurementResult::kCompleted);
    EXPECT_EQ(window->Samples(), std::vector<std::string>(NumberedLines(30)));
    EXPECT_EQ(window->Messages(), kStoppedThenDone);
    EXPECT_EQ(SleepRecord::count.load(), 0);
    EXPECT_EQ(driver->TimedOutReads(), 0u);
}

const PacketCase kPacketCases[] = {
    {"LinePerPacket", Packetisation::LinePerPacket, 64, 0, 0},
    {"WholeReply", Packetisation::WholeReply, 64, 0, 0},
    {"SeveralLinesPerPacket", Packetisation::FixedSize, 64, 0, 3},
    {"LinesSplitOverPackets", Packetisation::FixedSize, 7, 0, 0},
    {"SplitAndPiledUp", Packetisation::FixedSize, 13, 0, 2},
    {"OneBytePackets", Packetisation::FixedSize, 1, 0, 0},
    {"RandomCutsSeed1", Packetisation::RandomCuts, 64, 1, 0},
    {"RandomCutsPiledUpSeed2", Packetisation::RandomCuts, 64, 2, 2},
    {"RandomShortCutsSeed3", Packetisation::RandomCuts, 16, 3, 1},
};

std::string PacketCaseName(const testing::TestParamInfo<PacketBoundaries::ParamType>& param) {
    const bool emptyPackets = std::get<IdleReads>(param.param) == IdleReads::EmptyPacket;
    return std::string(std::get<PacketCase>(param.param).name) +
           (emptyPackets ? "_EmptyPackets" : "_Silence");
}

INSTANTIATE_TEST_SUITE_P(Packetisations, PacketBoundaries,
                         testing::Combine(testing::ValuesIn(kPacketCases),
                                          testing::Values(IdleReads::EmptyPacket,
                                                          IdleReads::NoPacket)),
                         PacketCaseName);

// --- text the command exchanges read along with their replies ----------------------------

TEST_F(WorkerTest, StreamTextInThePacketOfTheStartReplyIsNotLost) {
    {
        auto sim = Sim();
        sim->SetPacketisation(Packetisation::WholeReply);
        sim->SetReplyOverride("CST", {"OK", "END", "1 a b", "2 c d", "END"});
    }

    EXPECT_EQ(MeasurementThreadProc(*window), MeasurementResult::kCompleted);
    EXPECT_EQ(window->Samples(), (std::vector<std::string>{"1 a b", "2 c d"}));
    EXPECT_EQ(window->Messages(), std::vector<unsigned>{WM_APP_MEAS_DONE});
    EXPECT_EQ(SleepRecord::count.load(), 0);
}

struct StopReplyCase {
    const char* name;
    Packetisation packetisation;
    std::vector<std::string> stopReply;  // empty: the instrument's own
    int expectedResult;
};

class StopReply : public WorkerTest, public testing::WithParamInterface<StopReplyCase> {};

TEST_P(StopReply, ALineThatCameWithTheStopReplyStillCounts) {
    const StopReplyCase& c = GetParam();
    window->measureCount = 2;
    {
        auto sim = Sim();
        sim->SetPacketisation(c.packetisation);
        sim->SetScriptedStream(NumberedLines(10));
        if (!c.stopReply.empty()) {
            // The instrument does not really stop; should the reply be missed, the stream
            // still ends, with a line no row expects.
            sim->SetReplyOverride("STP", c.stopReply);
            sim->SetStreamFault(SimulatedInstrument::StreamFault{10, "NO", 0});
        }
    }

    EXPECT_EQ(MeasurementThreadProc(*window), c.expectedResult);
    EXPECT_EQ(window->SampleLineNumbers(), Range(1, 2));
    EXPECT_EQ(window->Messages(),
              (std::vector<unsigned>{WM_APP_MEAS_STOPPING, OutcomeMessage(c.expectedResult)}));
    EXPECT_EQ(SleepRecord::count.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, StopReply,
    testing::Values(
        StopReplyCase{
            "EndInTheSamePacket", Packetisation::WholeReply, {}, MeasurementResult::kCompleted},
        StopReplyCase{
            "EndInTheNextPacket", Packetisation::LinePerPacket, {}, MeasurementResult::kCompleted},
        StopReplyCase{
            "NoThenEnd", Packetisation::WholeReply, {"NO", "END"}, MeasurementResult::kCompleted},
        StopReplyCase{
            "OkThenNg", Packetisation::WholeReply, {"OK", "NG"}, MeasurementResult::kInstrumentNg}),
    [](const testing::TestParamInfo<StopReplyCase>& param) { return param.param.name; });

TEST_F(WorkerTest, EverythingTheStopExchangeCollectedGoesBackIntoTheStream) {
    window->measureCount = 2;
    Sim()->SetScriptedStream(NumberedLines(40));
    // Lines pile up and are cut into 64-byte packets, so the stop's read collects stream lines
    // ahead of its reply, which begins no packet.
    window->onSample = [this](std::size_t) {
        auto sim = Sim();
        sim->SetPacketisation(Packetisation::FixedSize, 64);
        sim->AdvanceClock(1000);
    };

    EXPECT_EQ(MeasurementThreadProc(*window), MeasurementResult::kCompleted);
    EXPECT_EQ(SleepRecord::count.load(), 0);
    EXPECT_EQ(window->SampleLineNumbers(), Range(1, 2));
    EXPECT_EQ(window->Messages(), kStoppedThenDone);
}

// Exact packets of the start's reply and the stream behind it; reads past them fail.
struct StartPacketsCase {
    const char* name;
    std::vector<std::string> packets;
    int expectedResult;
    std::vector<std::string> expectedSamples;
    int expectedSleeps;
};

class StartPackets : public WorkerTest, public testing::WithParamInterface<StartPacketsCase> {
protected:
    void SetUp() override {
        WorkerTest::SetUp();
        InstallUsbDriver(std::make_shared<ScriptedUsbDriver>(device));  // the simulator idles
    }

    std::shared_ptr<ScriptedDevice> device = std::make_shared<ScriptedDevice>();
};

TEST_P(StartPackets, TheStreamBeginsRightAfterTheStartsEndLine) {
    const StartPacketsCase& c = GetParam();
    device->QueuePackets(c.packets);

    EXPECT_EQ(MeasurementThreadProc(*window), c.expectedResult);
    EXPECT_EQ(window->Samples(), c.expectedSamples);
    EXPECT_EQ(SleepRecord::count.load(), c.expectedSleeps);
    EXPECT_EQ(device->writes, std::vector<std::string>{"CST\r"});
}

INSTANTIATE_TEST_SUITE_P(
    Replies, StartPackets,
    testing::Values(StartPacketsCase{"EndLinesCrBeginsTheStream",
                                     {"OK\rEND", "\r1 a b\r2 c d\r", "3 e f\rEND\r"},
                                     MeasurementResult::kCompleted,
                                     {"1 a b", "2 c d", "3 e f"},
                                     0},
                    // The pause is the stream's: more empty packets than the worker takes.
                    StartPacketsCase{"EndSplitThenALineAndAPause",
                                     PacketsAroundPause({"OK\rE", "ND\r1 0 0\r"},
                                                        CInstrument::kIdleLimit + 2, {"END\r"}),
                                     MeasurementResult::kStreamFailed,
                                     {"1 0 0"},
                                     CInstrument::kIdleLimit + 1}),
    [](const testing::TestParamInfo<StartPacketsCase>& param) { return param.param.name; });

// --- a start that fails -----------------------------------------------------------------

struct StartFailureCase {
    const char* name;
    std::function<void(SimulatedUsbDriver&)> arrange;
    int expectedText;
};

class StartFailure : public WorkerTest, public testing::WithParamInterface<StartFailureCase> {};

TEST_P(StartFailure, ShowsItsBoxThenReportsTheFailure) {
    const StartFailureCase& c = GetParam();
    c.arrange(*driver);

    EXPECT_EQ(MeasurementThreadProc(*window), MeasurementResult::kStartFailed);
    ASSERT_EQ(window->events.size(), 2u);
    const RunEvent& box = window->events[0];
    EXPECT_EQ(box.kind, RunEvent::Kind::Box);
    EXPECT_EQ(box.text, LoadResourceString(c.expectedText));
    EXPECT_EQ(box.icon, MessageIcon::Exclamation);
    EXPECT_EQ(box.caption, "qiro7-worker-test");
    EXPECT_EQ(window->events[1].kind, RunEvent::Kind::Message);
    EXPECT_EQ(window->events[1].message, WM_APP_MEAS_FAILED);
    EXPECT_EQ(window->events[1].openLinks, 0);
    EXPECT_EQ(runActive.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, StartFailure,
    testing::Values(StartFailureCase{"NoInstrument",
                                     [](SimulatedUsbDriver& sim) { sim.SetPresent(false); },
                                     IDS_CONNECTION_ERROR},
                    StartFailureCase{"InterfaceWillNotOpen",
                                     [](SimulatedUsbDriver& sim) {
                                         sim.SetOpenFailure(
                                             SimulatedUsbDriver::OpenFailure::InitializeInterface);
                                     },
                                     IDS_CONNECTION_ERROR},
                    StartFailureCase{"RequestNotWritten",
                                     [](SimulatedUsbDriver& sim) { sim.FailNextWrites(1); },
                                     IDS_CONNECTING_ERROR},
                    StartFailureCase{"RefusedWithNg",
                                     [](SimulatedUsbDriver& sim) {
                                         sim.Instrument()->SetReplyOverride("CST", {"OK", "NG"});
                                     },
                                     IDS_CONNECTING_ERROR}),
    [](const testing::TestParamInfo<StartFailureCase>& param) { return param.param.name; });

// --- the outcome table ------------------------------------------------------------------

TEST(OutcomeMessage, NamesTheMessageOfEveryResult) {
    const struct {
        int result;
        unsigned message;
    } cases[] = {{0, WM_APP_MEAS_DONE},
                 {-1, WM_APP_MEAS_ERROR},
                 {-2, WM_APP_MEAS_ERROR},
                 {1, WM_APP_MEAS_FAILED},
                 {2, WM_APP_MEAS_FAILED}};
    for (const auto& c : cases) {
        EXPECT_EQ(OutcomeMessage(c.result), c.message) << "result " << c.result;
    }
}

}  // namespace
