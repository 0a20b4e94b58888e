// Whole measurement runs through the main window: the start's checks, the run on its worker
// thread, its end messages, and what the window keeps of it.
#include <QApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QThread>
#include <algorithm>
#include <atomic>

#include "graph/GraphDlg.h"

#include "tests/run/RunFixture.h"

namespace {

class MeasurementRun : public RunWindowTest {
protected:
    // The one box a refused start shows, the focus it leaves, and no run.
    void ExpectRefusedWithoutStarting(const std::string& name, const std::string& expectedBox,
                                      int focus) {
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{expectedBox}) << name;
        const auto boxes = operatorScript->Boxes();
        if (!boxes.empty()) {
            const bool ownText = expectedBox == String(IDS_CHECK_INPUT_VALUE);
            EXPECT_EQ(boxes[0].caption, ownText ? "QIRO-7" : kRunTestApplicationName) << name;
            EXPECT_EQ(boxes[0].icon, MessageIcon::Exclamation) << name;
        }
        EXPECT_EQ(window->focusWidget(), window->Control(focus)) << name;
        EXPECT_FALSE(window->IsWorkerRunning()) << name;
        EXPECT_EQ(runActive.load(), 0) << name;
        EXPECT_TRUE(ShowsConnected()) << name;
    }
};

// The Received box after more rows than it can show at once.
void ExpectCaretAtEndAndNewestRowInView(CQiro7Dlg& window) {
    const auto* box = qobject_cast<QPlainTextEdit*>(window.Control(IDC_RECEIVED));
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->textCursor().atEnd());
    const QScrollBar& rows = *box->verticalScrollBar();
    EXPECT_GT(rows.maximum(), 0);
    EXPECT_EQ(rows.value(), rows.maximum());
}

struct InputCase {
    const char* name;
    int box;
    const char* text;
    std::string expectedBox;
    int focus;
};

TEST_F(MeasurementRun, StartRefusesBadIntervalCountAndFactorTextsWithoutStarting) {
    ConnectFirst();
    const std::string check = String(IDS_CHECK_INPUT_VALUE);
    const InputCase cases[] = {
        {"interval with a point", IDC_INTERVAL, "1.5", check, IDC_INTERVAL},
        {"interval with a sign", IDC_INTERVAL, "-1", check, IDC_INTERVAL},
        {"interval with a space", IDC_INTERVAL, " 1", check, IDC_INTERVAL},
        {"empty interval", IDC_INTERVAL, "", check, IDC_INTERVAL},
        {"interval 1000", IDC_INTERVAL, "1000", "Enter an integer between 0 and 999.",
         IDC_INTERVAL},
        {"count with a point", IDC_COUNT, "1.5", check, IDC_COUNT},
        {"count with a sign", IDC_COUNT, "-1", check, IDC_COUNT},
        {"count with a space", IDC_COUNT, " 1", check, IDC_COUNT},
        {"empty count", IDC_COUNT, "", check, IDC_COUNT},
        {"count 10000", IDC_COUNT, "10000", "Enter an integer between 0 and 9999.", IDC_COUNT},
        {"factor too long", IDC_CORRECTION_FACTOR, "0.0010", check, IDC_CORRECTION_FACTOR},
    };
    for (const InputCase& c : cases) {
        SetRun("1", "3");
        Type(IDC_CORRECTION_FACTOR, "1.000");
        Type(c.box, c.text);
        window->FocusControl(IDC_RESET);
        operatorScript->Clear();

        Click(IDC_START_STOP);

        ExpectRefusedWithoutStarting(c.name, c.expectedBox, c.focus);
    }
    EXPECT_EQ(CountRequests("CST"), 0u);
}

// The instrument's averaging 0, 6 or 7, or none, checks no button: the run would keep nothing.
TEST_F(MeasurementRun, StartRefusesAnAveragingTheWindowHasNoButtonFor) {
    const struct {
        const char* name;
        int averaging;
        std::vector<std::string> acrReply;
    } cases[] = {
        {"averaging 0", 0, {}},
        {"averaging 6", 6, {}},
        {"averaging 7", 7, {}},
        {"no averaging", 1, {"OK", "", "END"}},
    };
    for (const auto& c : cases) {
        SimulatedInstrument::Conditions conditions = driver->Instrument()->GetConditions();
        conditions.averaging = c.averaging;
        driver->Instrument()->SetConditions(conditions);
        driver->Instrument()->SetReplyOverride("ACR", c.acrReply);
        ConnectFirst();
        SetRun("1", "3");
        window->FocusControl(IDC_RESET);

        Click(IDC_START_STOP);

        ExpectRefusedWithoutStarting(c.name, String(IDS_CHECK_INPUT_VALUE), IDC_AVERAGING_1);
        EXPECT_EQ(CountRequests("CST"), 0u) << c.name;
    }
}

TEST_F(MeasurementRun, CountThreeAtIntervalOneKeepsLinesTenTwentyThirtyAndCompletes) {
    ConnectFirst();
    ScriptStream(NumberedLines(1, 40));
    SetRun("1", "3");
    const auto path = AutoOutputTo("run.csv");

    Start();
    EXPECT_TRUE(Text(IDC_START_STOP) == "Stop" && Enabled(IDC_START_STOP));
    EXPECT_FALSE(Enabled(IDC_CONNECT));
    FinishRun();

    const std::vector<std::string> kept = {NumberedLine(10), NumberedLine(20), NumberedLine(30)};
    EXPECT_EQ(SampleLines(), kept);
    EXPECT_EQ(Text(IDC_RECEIVED), ReceivedOf(kept));
    EXPECT_EQ(ReadBytes(path), NumberedCsv({10, 20, 30}));
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{String(IDS_CONFIRM_START_MEASUREMENT),
                                                    String(IDS_MEASUREMENT_COMPLETED)}));
    EXPECT_EQ(CountRequests("CST"), 1u);
    EXPECT_EQ(CountRequests("STP"), 1u);
    EXPECT_TRUE(ShowsConnected());
    EXPECT_EQ(Text(IDC_START_STOP), "Start");
    EXPECT_TRUE(Enabled(IDC_OUTPUT));
    EXPECT_TRUE(Enabled(IDC_SHOW_GRAPH));
    EXPECT_EQ(window->runIntervalSeconds, 1);
    EXPECT_EQ(window->runAveragingIndex, 0);
    EXPECT_EQ(runActive.load(), 0);
    EXPECT_EQ(driver->OpenInterfaceCount(), 0);
}

// Start and stop by the buttons, the worker on its own thread, the event loop serving it.
TEST_F(MeasurementRun, StopPressedDuringTheRunCancelsItAndKeepsWhatCame) {
    ConnectFirst();
    SetRun("0", "0");
    Start();
    ASSERT_TRUE(ServeUntil([this] { return window->samples.Size() >= 5; }));
    Click(IDC_START_STOP);
    EXPECT_EQ(runActive.load(), 0);
    FinishRun();

    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{String(IDS_CONFIRM_START_MEASUREMENT),
                                                    String(IDS_MEASUREMENT_CANCELED)}));
    EXPECT_EQ(CountRequests("STP"), 1u);
    EXPECT_TRUE(ShowsConnected());
    const std::vector<std::string> lines = SampleLines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_LT(lines.size(), 9999u);
    const std::size_t shown = std::min<std::size_t>(lines.size(), 50);
    EXPECT_EQ(Text(IDC_RECEIVED),
              ReceivedOf(std::vector<std::string>(lines.end() - shown, lines.end())));
}

// The flag is set before the worker exists, so a press right after the start is a stop.
TEST_F(MeasurementRun, APressRightAfterTheStartIsAStopRequest) {
    ConnectFirst();
    SetRun("0", "0");
    Start();
    EXPECT_EQ(runActive.load(), 1);
    EXPECT_EQ(Text(IDC_START_STOP), "Stop");

    Click(IDC_START_STOP);
    // The worker has not ended yet: this press neither stops twice nor starts anew.
    Click(IDC_START_STOP);
    FinishRun();

    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{String(IDS_CONFIRM_START_MEASUREMENT),
                                                    String(IDS_MEASUREMENT_CANCELED)}));
    EXPECT_EQ(CountRequests("CST"), 1u);
    EXPECT_TRUE(ShowsConnected());
}

// The window can go while its worker still runs: the worker is stopped and waited for, and
// neither its samples nor its end message reach the window any more.
TEST_F(MeasurementRun, DestroyingTheWindowDuringARunEndsTheWorkerCleanly) {
    ConnectFirst();
    SetRun("0", "0");
    const auto path = AutoOutputTo("destroyed.csv");
    Start();
    ASSERT_TRUE(ServeUntil([this] { return window->samples.Size() >= 3; }));

    window.reset();

    EXPECT_EQ(runActive.load(), 0);
    EXPECT_EQ(driver->OpenInterfaceCount(), 0);
    EXPECT_EQ(CountRequests("STP"), 1u);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{String(IDS_CONFIRM_START_MEASUREMENT)});
    const std::string written = ReadBytes(path);
    EXPECT_GE(std::count(written.begin(), written.end(), '\n'), 3);
}

// The worker's start-failure box waits for the window thread like its other calls, so the
// window can go while the box is pending: the box is released and the worker ends.
TEST_F(MeasurementRun, DestroyingTheWindowWhileTheWorkersStartFailureBoxIsPendingEndsTheWorker) {
    ConnectFirst();
    SetRun("0", "0");
    std::atomic<bool> boxShown = false;
    bool destroyed = false;
    operatorScript->OnEveryBox([this, &boxShown, &destroyed](const MessageBoxRequest& box) {
        if (box.text == String(IDS_CONFIRM_START_MEASUREMENT)) {
            driver->SetPresent(false);
            return;
        }
        if (box.text != String(IDS_CONNECTION_ERROR)) {
            return;
        }
        if (QThread::currentThread() == qApp->thread()) {
            window.reset();  // joins the worker, which waits for this very box
            destroyed = true;
        }
        boxShown = true;
    });

    Start();
    ASSERT_TRUE(ServeUntil([&boxShown] { return boxShown.load(); }));

    ASSERT_TRUE(destroyed) << "the worker's box must show on the window thread";
    EXPECT_EQ(runActive.load(), 0);
    EXPECT_EQ(driver->OpenInterfaceCount(), 0);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{String(IDS_CONFIRM_START_MEASUREMENT),
                                                    String(IDS_CONNECTION_ERROR)}))
        << "the end message never reached the window";
}

struct StreamErrorCase {
    const char* finalLine;
    int errorCode;
    int expectedText;
    bool connected;
};

TEST_F(MeasurementRun, AnInstrumentErrorAsTheFirstLineEndsTheRunWithItsReaction) {
    const StreamErrorCase cases[] = {
        {"NG", 5, IDS_RANGE_OVER, true},
        {"NG", 4, IDS_INTEGRATION_OVER, true},
        {"NO", 3, IDS_MEASUREMENT_FAILED, false},
    };
    for (const StreamErrorCase& c : cases) {
        const std::string label = std::string(c.finalLine) + " " + std::to_string(c.errorCode);
        ConnectFirst();
        driver->Instrument()->SetStreamFault(
            SimulatedInstrument::StreamFault{0, c.finalLine, c.errorCode});
        SetRun("0", "0");
        const auto path = AutoOutputTo("error-" + std::to_string(c.errorCode) + ".csv");

        Start();
        FinishRun();

        EXPECT_TRUE(SampleLines().empty()) << label;
        EXPECT_EQ(Text(IDC_RECEIVED), "") << label;
        EXPECT_EQ(ReadBytes(path), "") << label;
        ASSERT_FALSE(BoxTexts().empty()) << label;
        EXPECT_EQ(BoxTexts().back(), String(c.expectedText)) << label;
        EXPECT_EQ(Requests().back(), "ERR") << label;
        EXPECT_EQ(ShowsConnected(), c.connected) << label;
        EXPECT_EQ(ShowsDisconnected(), !c.connected) << label;
        driver->Instrument()->SetStreamFault(std::nullopt);
    }
}

// A stream that stalls after three lines: empty packets until the idle limit.
void StallAfterThreeLines(SimulatedUsbDriver& driver) {
    driver.Instrument()->SetStreamFault(SimulatedInstrument::StreamFault{3, "", 0});
}

TEST_F(MeasurementRun, ASilentStreamFailsTheRunAndKeepsItsSamplesEverywhere) {
    ConnectFirst();
    ScriptStream(NumberedLines(1, 3));
    StallAfterThreeLines(*driver);
    SetRun("0", "0");
    const auto path = AutoOutputTo("silent.csv");

    Start();
    FinishRun();

    const std::vector<std::string> kept = NumberedLines(1, 3);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{String(IDS_CONFIRM_START_MEASUREMENT),
                                                    String(IDS_MEASUREMENT_FAILED)}));
    EXPECT_TRUE(ShowsDisconnected());
    EXPECT_EQ(SampleLines(), kept);
    EXPECT_EQ(Text(IDC_RECEIVED), ReceivedOf(kept));
    EXPECT_EQ(ReadBytes(path), NumberedCsv({1, 2, 3}));
}

// Every line is on disk as soon as it is written, not only when the run closes the file.
TEST_F(MeasurementRun, EachCsvLineIsInTheFileWhileTheRunIsStillGoing) {
    ConnectFirst();
    ScriptStream(NumberedLines(1, 3));
    StallAfterThreeLines(*driver);
    SetRun("0", "0");
    const auto path = AutoOutputTo("flushed.csv");
    std::string seenMidRun;
    std::uintmax_t sizeMidRun = 0;
    bool runWasGoing = false;
    // The worker sleeps between empty packets: the stream has stalled, the run goes on.
    SleepHook::Set([&] {
        if (!runWasGoing) {
            // Windows lets nobody open the file while the run holds it, but tells its size.
#ifndef _WIN32
            seenMidRun = ReadBytes(path);
#endif
            sizeMidRun = std::filesystem::file_size(path);
            runWasGoing = window->IsWorkerRunning();
        }
    });

    Start();
    FinishRun();

    EXPECT_TRUE(runWasGoing);
    EXPECT_EQ(sizeMidRun, NumberedCsv({1, 2, 3}).size());
#ifndef _WIN32
    EXPECT_EQ(seenMidRun, NumberedCsv({1, 2, 3}));
#endif
}

TEST_F(MeasurementRun, ReceivedShowsTheNewestFiftyWhileSamplesAndFileHoldAll) {
    ConnectFirst();
    ScriptStream(NumberedLines(1, 60));
    SetRun("0", "60");
    const auto path = AutoOutputTo("sixty.csv");

    Start();
    FinishRun();

    std::vector<int> all;
    for (int n = 1; n <= 60; ++n) {
        all.push_back(n);
    }
    EXPECT_EQ(SampleLines(), NumberedLines(1, 60));
    EXPECT_EQ(Text(IDC_RECEIVED), ReceivedOf(NumberedLines(11, 60)));
    EXPECT_EQ(ReadBytes(path), NumberedCsv(all));
    ExpectCaretAtEndAndNewestRowInView(*window);
}

// A full run outpaces the window's refreshes; its end box still comes after the last sample is
// shown.
TEST_F(MeasurementRun, TheEndBoxComesOnceTheLastSampleIsShown) {
    ConnectFirst();
    SetRun("0", "0");
    std::string receivedAtTheEndBox;
    operatorScript->OnEveryBox([this, &receivedAtTheEndBox](const MessageBoxRequest& box) {
        if (box.text == String(IDS_MEASUREMENT_COMPLETED)) {
            receivedAtTheEndBox = Text(IDC_RECEIVED);
        }
    });

    Start();
    FinishRun();

    const std::vector<std::string> lines = SampleLines();
    ASSERT_EQ(lines.size(), 9999u);
    EXPECT_EQ(receivedAtTheEndBox,
              ReceivedOf(std::vector<std::string>(lines.end() - 50, lines.end())));
}

// A line feed inside a received line (the instrument ends lines with CR only) makes that
// record span two rows; the box still shows exactly the newest 50 records, also once that
// record has dropped out of them.
TEST_F(MeasurementRun, ReceivedStaysExactWhenALineHoldsALineFeed) {
    ConnectFirst();
    std::vector<std::string> lines = NumberedLines(1, 52);
    lines[1] = "2E-1\n2E+0 2E+1";
    ScriptStream(lines);
    SetRun("0", "52");

    Start();
    FinishRun();

    std::string expected;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        std::string row = lines[i];
        if (const auto feed = row.find('\n'); feed != std::string::npos) {
            row.insert(feed, "\r");  // the box's text separates rows with CR LF
        }
        expected += row + "\r\n";
    }
    EXPECT_EQ(Text(IDC_RECEIVED), expected);
    EXPECT_EQ(SampleLines(), lines);
    ExpectCaretAtEndAndNewestRowInView(*window);
}

TEST_F(MeasurementRun, TheCsvFileHoldsTheInstrumentsTextsInThreeColumns) {
    ConnectFirst();
    ScriptStream({"1.0 2.0 3.0", "1.5 2.5", "1.0  2.0 3.0", "4.0E-3 5.0E+2 6.0 7.0"});
    SetRun("0", "4");
    const auto path = AutoOutputTo("columns.csv");

    Start();
    FinishRun();

    EXPECT_EQ(ReadBytes(path), "1.0,2.0,3.0\r\n1.5,2.5,\r\n1.0,,2.0\r\n4.0E-3,5.0E+2,6.0\r\n");
    EXPECT_EQ(Text(IDC_RECEIVED),
              "1.0 2.0 3.0\r\n1.5 2.5\r\n1.0  2.0 3.0\r\n4.0E-3 5.0E+2 6.0 7.0\r\n");
}

TEST_F(MeasurementRun, AStartThatCannotOpenTheLinkShowsBothBoxesAndDisconnects) {
    ConnectFirst();
    SetRun("0", "0");
    const auto path = AutoOutputTo("unstarted.csv");
    // The instrument goes away after the comparison, just before the worker opens its link.
    operatorScript->OnEveryBox([this](const MessageBoxRequest& box) {
        if (box.text == String(IDS_CONFIRM_START_MEASUREMENT)) {
            driver->SetPresent(false);
        }
    });

    Start();
    FinishRun();

    const auto boxes = operatorScript->Boxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[1].text, String(IDS_CONNECTION_ERROR));
    EXPECT_EQ(boxes[1].caption, kRunTestApplicationName);
    EXPECT_EQ(boxes[1].icon, MessageIcon::Exclamation);
    EXPECT_EQ(boxes[2].text, String(IDS_MEASUREMENT_FAILED));
    EXPECT_EQ(boxes[2].caption, "QIRO-7");
    EXPECT_TRUE(ShowsDisconnected());
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(ReadBytes(path), "");
}

struct ConditionCase {
    const char* name;
    std::vector<MessageAnswer> answers;
    std::vector<int> expectedBoxes;
    bool runs;
};

TEST_F(MeasurementRun, ConditionsThatDifferAreRewrittenOnlyWithTheOperatorsYes) {
    const ConditionCase cases[] = {
        {"No keeps the instrument's", {MessageAnswer::No}, {IDS_CONDITIONS_DIFFER}, false},
        {"Yes rewrites, then the start is confirmed",
         {MessageAnswer::Yes, MessageAnswer::Yes},
         {IDS_CONDITIONS_DIFFER, IDS_CONDITIONS_UPDATED, IDS_CONFIRM_START_MEASUREMENT,
          IDS_MEASUREMENT_COMPLETED},
         true},
    };
    for (const ConditionCase& c : cases) {
        ConnectFirst();
        ScriptStream(NumberedLines(1, 2));
        SetRun("0", "1");
        SimulatedInstrument::Conditions changed = driver->Instrument()->GetConditions();
        changed.frequency = 1 - changed.frequency;
        driver->Instrument()->SetConditions(changed);
        for (const MessageAnswer answer : c.answers) {
            AnswerNext(answer);
        }

        Click(IDC_START_STOP);
        FinishRun();

        std::vector<std::string> expected;
        for (const int id : c.expectedBoxes) {
            expected.push_back(String(id));
        }
        EXPECT_EQ(BoxTexts(), expected) << c.name;
        EXPECT_EQ(CountRequests("CST"), c.runs ? 1u : 0u) << c.name;
        EXPECT_EQ(CountRequests("FRQW 1") + CountRequests("FRQW 0"), c.runs ? 1u : 0u) << c.name;
        EXPECT_TRUE(ShowsConnected()) << c.name;
    }
}

TEST_F(MeasurementRun, ConditionsThatCannotBeReadAbandonTheStartDisconnected) {
    ConnectFirst();
    driver->SetPresent(false);
    SetRun("0", "0");

    Click(IDC_START_STOP);

    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{String(IDS_CONNECTION_ERROR),
                                                    String(IDS_CONNECTING_ERROR)}));
    EXPECT_TRUE(ShowsDisconnected());
    EXPECT_FALSE(window->IsWorkerRunning());
}

TEST_F(MeasurementRun, NoToTheStartQuestionChangesNothing) {
    ConnectFirst();
    ScriptStream(NumberedLines(1, 2));
    SetRun("0", "2");
    Start();
    FinishRun();
    const std::string received = Text(IDC_RECEIVED);
    operatorScript->Clear();
    AnswerNext(MessageAnswer::No);

    Click(IDC_START_STOP);

    EXPECT_EQ(BoxTexts(), std::vector<std::string>{String(IDS_CONFIRM_START_MEASUREMENT)});
    EXPECT_EQ(SampleLines(), NumberedLines(1, 2));
    EXPECT_EQ(Text(IDC_RECEIVED), received);
    EXPECT_EQ(CountRequests("CST"), 1u);
}

struct AbandonCase {
    const char* name;
    std::string fileName;
    std::vector<MessageAnswer> answers;  // after the start question's Yes
    std::string expectedBox;
};

// The file is prepared and opened before the reset, so a start abandoned over its file keeps
// the previous run's samples and Received list.
TEST_F(MeasurementRun, AStartAbandonedOverItsFileKeepsThePreviousRun) {
    const std::filesystem::path existing = folder / "existing.csv";
    WriteBytes(existing, "old\r\n");
    const AbandonCase cases[] = {
        {"empty name", "", {}, String(IDS_INPUT_FILE_NAME)},
        {"replace answered No",
         existing.string(),
         {MessageAnswer::No},
         String(IDS_CONFIRM_REPLACE_FILE)},
        {"folder missing", (folder / "missing" / "run.csv").string(), {}, MissingFolderText()},
    };
    ConnectFirst();
    ScriptStream(NumberedLines(1, 2));
    SetRun("0", "2");
    Start();
    FinishRun();
    const std::string received = Text(IDC_RECEIVED);
    ASSERT_EQ(SampleLines(), NumberedLines(1, 2));

    for (const AbandonCase& c : cases) {
        operatorScript->Clear();
        window->CheckButton(IDC_AUTO_OUTPUT, true);
        Type(IDC_CSV_FILE_NAME, c.fileName);
        AnswerNext(MessageAnswer::Yes);
        for (const MessageAnswer answer : c.answers) {
            AnswerNext(answer);
        }

        Click(IDC_START_STOP);

        EXPECT_EQ(BoxTexts(),
                  (std::vector<std::string>{String(IDS_CONFIRM_START_MEASUREMENT), c.expectedBox}))
            << c.name;
        EXPECT_EQ(SampleLines(), NumberedLines(1, 2)) << c.name;
        EXPECT_EQ(Text(IDC_RECEIVED), received) << c.name;
        EXPECT_TRUE(Enabled(IDC_OUTPUT)) << c.name;
        EXPECT_TRUE(ShowsConnected()) << c.name;
        EXPECT_FALSE(window->IsWorkerRunning()) << c.name;
        EXPECT_EQ(runActive.load(), 0) << c.name;
    }
    EXPECT_EQ(ReadBytes(existing), "old\r\n");
    EXPECT_EQ(CountRequests("CST"), 1u);
}

TEST_F(MeasurementRun, ResetForgetsTheRunAndDisablesItsButtons) {
    ConnectFirst();
    ScriptStream(NumberedLines(1, 2));
    SetRun("0", "2");
    Start();
    FinishRun();
    ASSERT_TRUE(Enabled(IDC_OUTPUT));

    Click(IDC_RESET);

    EXPECT_EQ(window->samples.Size(), 0u);
    EXPECT_EQ(Text(IDC_RECEIVED), "");
    EXPECT_FALSE(Enabled(IDC_OUTPUT));
    EXPECT_FALSE(Enabled(IDC_SHOW_GRAPH));
    EXPECT_EQ(Text(IDC_INTERVAL), "0");
    EXPECT_EQ(Text(IDC_COUNT), "2");
}

// With "Graph" ticked the run shows the graph window and feeds it every sample; Reset hides it.
TEST_F(MeasurementRun, ARunWithGraphTickedShowsAndFeedsTheGraphWindow) {
    ConnectFirst();
    ScriptStream(NumberedLines(1, 4));
    SetRun("0", "4");
    window->CheckButton(IDC_GRAPH, true);
    Start();
    CGraphDlg* graph = window->GraphWindow();
    ASSERT_NE(graph, nullptr);
    EXPECT_TRUE(graph->isVisible());
    EXPECT_EQ(graph->ControlText(IDC_GRAPH_START_STOP), "Stop");
    FinishRun();

    EXPECT_EQ(graph->GraphControl().GetEntryCount(), 1u + 4u);  // the origin, then the samples
    EXPECT_EQ(graph->ControlText(IDC_GRAPH_START_STOP), "Start");

    Click(IDC_RESET);
    EXPECT_FALSE(graph->isVisible());
    EXPECT_EQ(window->GraphWindow(), graph);
}

// A hidden graph window is not fed (a later "Show Graph" reloads the whole list).
TEST_F(MeasurementRun, AHiddenGraphWindowIsNotFed) {
    ConnectFirst();
    ScriptStream(NumberedLines(1, 3));
    SetRun("0", "3");
    window->CheckButton(IDC_GRAPH, true);
    Start();
    FinishRun();
    CGraphDlg* graph = window->GraphWindow();
    ASSERT_NE(graph, nullptr);
    ASSERT_EQ(graph->GraphControl().GetEntryCount(), 4u);

    window->CheckButton(IDC_GRAPH, false);
    ScriptStream(NumberedLines(5, 7));
    Start();
    FinishRun();

    EXPECT_FALSE(graph->isVisible());
    EXPECT_EQ(graph->GraphControl().GetEntryCount(), 4u);
    EXPECT_EQ(SampleLines(), NumberedLines(5, 7));
}

// A run that starts anew replaces the old samples and file content.
TEST_F(MeasurementRun, ASecondRunReplacesTheFirstOne) {
    ConnectFirst();
    SetRun("0", "2");
    const auto path = AutoOutputTo("twice.csv");
    ScriptStream(NumberedLines(1, 2));
    Start();
    FinishRun();
    ScriptStream(NumberedLines(7, 8));
    AnswerNext(MessageAnswer::Yes);  // replace the first run's file

    Start();
    FinishRun();

    EXPECT_EQ(SampleLines(), NumberedLines(7, 8));
    EXPECT_EQ(Text(IDC_RECEIVED), ReceivedOf(NumberedLines(7, 8)));
    EXPECT_EQ(ReadBytes(path), NumberedCsv({7, 8}));
}

}  // namespace
