#include <gtest/gtest.h>

#include <QAbstractButton>
#include <string>
#include <vector>

#include "graph/GraphDlg.h"
#include "measure/RunActive.h"
#include "res/StringTable.h"
#include "tests/graph/GraphPixels.h"
#include "tests/support/MainWindowFixture.h"

namespace {

std::vector<std::string> Lines(int first, int last) {
    std::vector<std::string> lines;
    for (int n = first; n <= last; ++n) {
        lines.push_back(std::to_string(n) + " " + std::to_string(2 * n) + " 1");
    }
    return lines;
}

class MainWindowGraph : public MainWindowFixture {
protected:
    MainWindowGraph() : MainWindowFixture("graph_tests") {}

    CGraphDlg& Graph() { return *window->GraphWindow(); }
    QSize GraphSize() { return Graph().GraphControl().size(); }
    std::string GraphText(int id) { return Graph().ControlText(id); }
    // Samples as the worker would have appended them.
    void Receive(const std::vector<std::string>& lines) {
        for (const MeasurementSample& sample : SamplesOf(lines)) {
            window->samples.Append(sample);
        }
    }
};

TEST_F(MainWindowGraph, ShowGraphBeforeAnyRunShowsAnEmptyGraphOfOneReadingsInterval) {
    ASSERT_EQ(window->GraphWindow(), nullptr);
    window->OnShowGraph();
    ASSERT_NE(window->GraphWindow(), nullptr);
    EXPECT_TRUE(Graph().isVisible());
    EXPECT_EQ(Graph().parentWidget(), window.get());
    EXPECT_EQ(Graph().QWidget::windowTitle(), "Irradiance");
    EXPECT_EQ(GraphText(IDC_GRAPH_INTERVAL), "0.1 [s]");
    EXPECT_EQ(GraphText(IDC_GRAPH_COUNT), "     0");
    EXPECT_EQ(Graph().GraphControl().GetEntryCount(), 1u);
    EXPECT_EQ(GraphText(IDC_GRAPH_START_STOP), "Start");
    EXPECT_FALSE(Graph().IsControlEnabled(IDC_GRAPH_START_STOP)) << "as start/stop in Initial";

    CGraphDlg* first = window->GraphWindow();
    Graph().Button(IDC_GRAPH_CLOSE)->click();
    window->OnShowGraph();
    EXPECT_EQ(window->GraphWindow(), first) << "created once";
    EXPECT_TRUE(Graph().isVisible());
}

struct IntervalCase {
    int intervalSeconds;
    int averagingIndex;
    const char* text;
};

TEST_F(MainWindowGraph, ShowGraphUsesTheIntervalOfTheLastRun) {
    const IntervalCase cases[] = {
        {0, 0, "0.1 [s]"}, {2, 0, "2.0 [s]"}, {0, 2, "0.3 [s]"},
        {0, 4, "0.5 [s]"}, {1, 4, "1.0 [s]"}, {999, 4, "999.0 [s]"},
    };
    for (const IntervalCase& c : cases) {
        window->runIntervalSeconds = c.intervalSeconds;
        window->runAveragingIndex = c.averagingIndex;
        window->OnShowGraph();
        EXPECT_EQ(GraphText(IDC_GRAPH_INTERVAL), c.text);
    }
}

TEST_F(MainWindowGraph, ShowGraphDuringARunReloadsEverySampleSoFar) {
    window->SetUiState(UiState::Measuring);
    runActive = 1;
    Receive(Lines(1, 3));
    window->OnShowGraph();
    EXPECT_EQ(GraphText(IDC_GRAPH_COUNT), "     3");
    EXPECT_EQ(GraphText(IDC_GRAPH_START_STOP), "Stop");
    EXPECT_TRUE(Graph().IsControlEnabled(IDC_GRAPH_START_STOP));

    // Closed meanwhile, the window missed these; the next Show Graph draws them all once.
    Graph().Button(IDC_GRAPH_CLOSE)->click();
    Receive(Lines(4, 9));
    window->OnShowGraph();
    window->OnShowGraph();
    EXPECT_EQ(GraphText(IDC_GRAPH_COUNT), "     9");
    EXPECT_EQ(Graph().GraphControl().GetEntryCount(), 10u);
    EXPECT_TRUE(SamePicture(Render(Graph().GraphControl()),
                            PictureOf(GraphSize(), SamplesOf(Lines(1, 9)))));
}

struct StateCase {
    UiState state;
    const char* caption;
    bool enabled;
};

TEST_F(MainWindowGraph, TheGraphsStartStopFollowsTheMainWindowsInEveryState) {
    window->OnShowGraph();
    const StateCase cases[] = {
        {UiState::Connected, "Start", true},     {UiState::Measuring, "Stop", true},
        {UiState::Busy, "Start", false},         {UiState::Connecting, "Start", false},
        {UiState::Disconnected, "Start", false}, {UiState::Initial, "Start", false},
    };
    for (const bool visible : {true, false}) {
        Graph().ShowGraphWindow(visible);
        for (const StateCase& c : cases) {
            window->SetUiState(c.state);
            EXPECT_EQ(GraphText(IDC_GRAPH_START_STOP), c.caption) << visible;
            EXPECT_EQ(Graph().IsControlEnabled(IDC_GRAPH_START_STOP), c.enabled) << visible;
        }
    }
    window->SetUiState(UiState::Measuring);
    window->OnMeasStopping();
    EXPECT_FALSE(Graph().IsControlEnabled(IDC_GRAPH_START_STOP));
    EXPECT_EQ(GraphText(IDC_GRAPH_START_STOP), "Stop");
}

TEST_F(MainWindowGraph, TheEndOfARunSetsTheVisibleGraphsCaptionBeforeItsBox) {
    window->SetUiState(UiState::Measuring);
    runActive = 1;
    window->OnShowGraph();
    ASSERT_EQ(GraphText(IDC_GRAPH_START_STOP), "Stop");
    std::string captionAtBox;
    operatorScript->OnEveryBox(
        [&](const MessageBoxRequest&) { captionAtBox = GraphText(IDC_GRAPH_START_STOP); });
    window->OnMeasDone();
    EXPECT_EQ(captionAtBox, "Start");
    EXPECT_EQ(operatorScript->Texts(), std::vector<std::string>{String(IDS_MEASUREMENT_COMPLETED)});
}

// Whole runs: the worker runs on its own thread while this thread serves its calls.
class GraphRun : public MainWindowGraph {
protected:
    GraphRun() {
        window->OnConnect();
        operatorScript->Clear();
    }
};

TEST_F(GraphRun, StartStopInTheGraphWindowTicksGraphAndStartsAfterTheQuestion) {
    ASSERT_TRUE(window->IsControlEnabled(IDC_REFRESH)) << "connected";
    driver->Instrument()->SetScriptedStream(Lines(1, 3));
    SetRun("0", "3");
    window->OnShowGraph();
    ASSERT_FALSE(window->IsButtonChecked(IDC_GRAPH));
    operatorScript->AnswerNext(MessageAnswer::Yes);
    Click(Graph().Button(IDC_GRAPH_START_STOP));
    EXPECT_TRUE(window->IsButtonChecked(IDC_GRAPH));
    EXPECT_EQ(GraphText(IDC_GRAPH_START_STOP), "Stop");
    FinishRun();

    EXPECT_EQ(operatorScript->Texts(),
              (std::vector<std::string>{String(IDS_CONFIRM_START_MEASUREMENT),
                                        String(IDS_MEASUREMENT_COMPLETED)}));
    EXPECT_TRUE(Graph().isVisible());
    EXPECT_EQ(GraphText(IDC_GRAPH_START_STOP), "Start");
    EXPECT_EQ(GraphText(IDC_GRAPH_COUNT), "     3");
    EXPECT_TRUE(SamePicture(Render(Graph().GraphControl()),
                            PictureOf(GraphSize(), SamplesOf(Lines(1, 3)))));
}

TEST_F(GraphRun, ATwoSecondRunWithGraphTickedShowsItsIntervalAndEverySample) {
    window->CheckButton(IDC_GRAPH, true);
    SetRun("2", "2");
    operatorScript->AnswerNext(MessageAnswer::Yes);
    Click(window->Button(IDC_START_STOP));
    ASSERT_NE(window->GraphWindow(), nullptr);
    EXPECT_TRUE(Graph().isVisible());
    EXPECT_EQ(GraphText(IDC_GRAPH_INTERVAL), "2.0 [s]");
    EXPECT_EQ(GraphText(IDC_GRAPH_START_STOP), "Stop");
    FinishRun();
    EXPECT_EQ(GraphText(IDC_GRAPH_COUNT), "     2");
    EXPECT_TRUE(
        SamePicture(Render(Graph().GraphControl()),
                    PictureOf(GraphSize(), window->samples.Snapshot(), {.intervalMs = 2000})))
        << "the samples the run kept, in order";
}

// Opened during the run and closed again, the window never draws a sample twice or loses one
// once it is shown again.
TEST_F(GraphRun, ShowGraphDuringARunFollowsTheRunFromWhereItStands) {
    SetRun("0", "0");
    operatorScript->AnswerNext(MessageAnswer::Yes);
    Click(window->Button(IDC_START_STOP));
    EXPECT_EQ(window->GraphWindow(), nullptr) << "Graph not ticked";
    ASSERT_TRUE(ServeUntil([this] { return window->samples.Size() >= 5; }));
    Click(window->Button(IDC_SHOW_GRAPH));
    EXPECT_EQ(GraphText(IDC_GRAPH_START_STOP), "Stop");
    ASSERT_TRUE(ServeUntil([this] { return window->samples.Size() >= 40; }));
    Graph().Button(IDC_GRAPH_CLOSE)->click();
    const std::size_t whileClosed = Graph().GraphControl().GetEntryCount();
    ASSERT_TRUE(ServeUntil([this] { return window->samples.Size() >= 80; }));
    EXPECT_EQ(Graph().GraphControl().GetEntryCount(), whileClosed) << "a hidden graph is not fed";
    Click(window->Button(IDC_SHOW_GRAPH));
    ASSERT_TRUE(ServeUntil([this] { return window->samples.Size() >= 120; }));
    Click(Graph().Button(IDC_GRAPH_START_STOP));
    FinishRun();

    EXPECT_EQ(operatorScript->Texts().back(), String(IDS_MEASUREMENT_CANCELED));
    const std::vector<MeasurementSample> kept = window->samples.Snapshot();
    EXPECT_EQ(Graph().GraphControl().GetEntryCount(), kept.size() + 1);
    EXPECT_TRUE(SamePicture(Render(Graph().GraphControl()), PictureOf(GraphSize(), kept)));
}

// The window's own repaint would leave the graph out: it has to be asked for in its own right.
TEST_F(GraphRun, SettingAfterARunRedrawsThePlotAtOnce) {
    window->CheckButton(IDC_GRAPH, true);
    SetRun("0", "12");
    operatorScript->AnswerNext(MessageAnswer::Yes);
    Click(window->Button(IDC_START_STOP));
    FinishRun();
    const std::vector<MeasurementSample> kept = window->samples.Snapshot();
    ASSERT_TRUE(SamePicture(OnScreen(Graph().GraphControl()), PictureOf(GraphSize(), kept)));

    const struct {
        int radio;
        int countMode;
        const char* from;
        const char* to;
        GraphChoice choice;
    } settings[] = {
        {IDC_PEAK_IRRADIANCE, 0, "", "", {.dataType = PeakIrradiance}},
        {IDC_INTEGRAL_IRRADIANCE,
         1,
         "3",
         "8",
         {.countMode = 1, .from = 3, .to = 8, .dataType = IntegralIrradiance}},
    };
    for (const auto& setting : settings) {
        Graph().CheckButton(setting.radio, true);
        Graph().CheckRadioIndex(IDC_COUNT_ALL, setting.countMode);
        Graph().SetControlText(IDC_COUNT_FROM, setting.from);
        Graph().SetControlText(IDC_COUNT_TO, setting.to);
        Click(Graph().Button(IDC_SETTING));
        EXPECT_TRUE(SamePicture(OnScreen(Graph().GraphControl()),
                                PictureOf(GraphSize(), kept, setting.choice)))
            << Graph().QWidget::windowTitle().toStdString();
    }
}

TEST_F(GraphRun, ResetHidesTheGraphWithItsData) {
    window->CheckButton(IDC_GRAPH, true);
    SetRun("0", "4");
    operatorScript->AnswerNext(MessageAnswer::Yes);
    Click(window->Button(IDC_START_STOP));
    FinishRun();
    ASSERT_EQ(GraphText(IDC_GRAPH_COUNT), "     4");

    Click(window->Button(IDC_RESET));
    EXPECT_FALSE(Graph().isVisible());
    EXPECT_EQ(Graph().GraphControl().GetEntryCount(), 5u) << "hidden, not emptied";
}

}  // namespace
