#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTest>
#include <string>
#include <thread>
#include <vector>

#include "graph/GraphDlg.h"
#include "res/DialogTemplates.h"
#include "tests/graph/GraphPixels.h"
#include "tests/support/DialogKeys.h"
#include "tests/support/ScriptedModalInteraction.h"

namespace {

const std::vector<std::string> kTwentySamples = [] {
    std::vector<std::string> lines;
    for (int i = 1; i <= 20; ++i) {
        lines.push_back(std::to_string(i % 7 + 1) + " " + std::to_string(i) + " 9");
    }
    return lines;
}();

class GraphWindow : public testing::Test {
protected:
    GraphWindow() {
        SetApplicationName("graph_tests");
        dialog.ResetForRun(1000);
        dialog.ShowRunSamples(SamplesOf(kTwentySamples));
        dialog.ShowGraphWindow(true);
    }

    std::string Text(int id) const { return dialog.ControlText(id); }
    std::string Title() const { return dialog.QWidget::windowTitle().toStdString(); }

    void ChooseRange(const std::string& from, const std::string& to) {
        dialog.CheckRadioIndex(IDC_COUNT_ALL, 1);
        dialog.SetControlText(IDC_COUNT_FROM, from);
        dialog.SetControlText(IDC_COUNT_TO, to);
    }

    // The picture the graph should show with these samples and this choice.
    QImage Expected(GraphChoice choice, const std::vector<std::string>& lines = kTwentySamples) {
        choice.intervalMs = 1000;
        return PictureOf(dialog.GraphControl().size(), SamplesOf(lines), choice);
    }

    ScopedScriptedInteraction operatorScript;
    CGraphDlg dialog{nullptr};
};

TEST_F(GraphWindow, FillsTheGraphFrameOfItsTemplate) {
    const QWidget* frame = dialog.Control(IDC_REALTIME_GRAPH);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(dialog.GraphControl().parentWidget(), frame);
    EXPECT_EQ(dialog.GraphControl().geometry(), QRect(QPoint(0, 0), frame->size()));
    EXPECT_TRUE(dialog.GraphControl().isVisible());
    EXPECT_TRUE(SamePicture(Render(dialog.GraphControl()), Expected({})));
}

struct SettingCase {
    const char* name;
    const char* from;
    const char* to;
    int focus;  // 0: accepted
    const char* title;
    int appliedFrom;
    int appliedTo;
};

const SettingCase kSettingCases[] = {
    {"both empty", "", "", 0, "Irradiance (0 - 9999)", 0, 9999},
    {"leading zeros", "007", "12", 0, "Irradiance (7 - 12)", 7, 12},
    {"one sample", "9999", "9999", 0, "Irradiance (9999 - 9999)", 9999, 9999},
    {"start only", "15", "", 0, "Irradiance (15 - 9999)", 15, 9999},
    {"start above end", "5", "3", IDC_COUNT_FROM, nullptr, 0, 0},
    {"end above 9999", "", "10000", IDC_COUNT_FROM, nullptr, 0, 0},
    {"start above 9999", "10000", "", IDC_COUNT_FROM, nullptr, 0, 0},
    {"start past int", "99999999999", "", IDC_COUNT_FROM, nullptr, 0, 0},
    {"end past int", "0", "99999999999", IDC_COUNT_FROM, nullptr, 0, 0},
    {"letter in start", "a", "12", IDC_COUNT_FROM, nullptr, 0, 0},
    {"point in start", "1.5", "12", IDC_COUNT_FROM, nullptr, 0, 0},
    {"sign in start", "-1", "12", IDC_COUNT_FROM, nullptr, 0, 0},
    {"blank in start", " 1", "12", IDC_COUNT_FROM, nullptr, 0, 0},
    {"letter in end", "1", "a", IDC_COUNT_TO, nullptr, 0, 0},
    {"point in end", "1", "1.5", IDC_COUNT_TO, nullptr, 0, 0},
    {"both bad", "a", "b", IDC_COUNT_FROM, nullptr, 0, 0},
};

TEST_F(GraphWindow, SettingAppliesAValidRangeAndRefusesAnyOtherWithoutChangingAnything) {
    for (const SettingCase& c : kSettingCases) {
        SCOPED_TRACE(c.name);
        dialog.ResetForRun(1000);
        dialog.ShowRunSamples(SamplesOf(kTwentySamples));
        ChooseRange(c.from, c.to);
        const std::string titleBefore = Title();
        const QImage pictureBefore = Render(dialog.GraphControl());
        dialog.FocusControl(IDC_SETTING);
        operatorScript->Clear();

        dialog.OnSetting();

        if (c.focus == 0) {
            EXPECT_TRUE(operatorScript->Boxes().empty());
            EXPECT_EQ(Title(), c.title);
            EXPECT_EQ(Text(IDC_COUNT_FROM), std::to_string(c.appliedFrom));
            EXPECT_EQ(Text(IDC_COUNT_TO), std::to_string(c.appliedTo));
            EXPECT_TRUE(SamePicture(Render(dialog.GraphControl()),
                                    Expected({.countMode = 1,
                                              .from = static_cast<double>(c.appliedFrom),
                                              .to = static_cast<double>(c.appliedTo)})));
            continue;
        }
        const std::vector<MessageBoxRequest> boxes = operatorScript->Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "Please check the input value.");
        EXPECT_EQ(boxes[0].caption, "QIRO-7");
        EXPECT_EQ(boxes[0].icon, MessageIcon::Exclamation);
        EXPECT_EQ(boxes[0].buttons, MessageButtons::Ok);
        EXPECT_EQ(boxes[0].owner, static_cast<QWidget*>(&dialog));
        EXPECT_EQ(dialog.focusWidget(), dialog.Control(c.focus));
        EXPECT_EQ(Title(), titleBefore);
        EXPECT_EQ(Text(IDC_COUNT_FROM), c.from);
        EXPECT_EQ(Text(IDC_COUNT_TO), c.to);
        EXPECT_TRUE(SamePicture(Render(dialog.GraphControl()), pictureBefore));
    }
}

TEST_F(GraphWindow, SettingInAllModeLeavesTheEditsAloneAndAppliesTheDataType) {
    dialog.SetControlText(IDC_COUNT_FROM, "abc");
    dialog.SetControlText(IDC_COUNT_TO, "5");
    const struct {
        int radio;
        int dataType;
        const char* title;
    } cases[] = {
        {IDC_PEAK_IRRADIANCE, PeakIrradiance, "Peak Irradiance "},
        {IDC_INTEGRAL_IRRADIANCE, IntegralIrradiance, "Integral irradiance "},
        {IDC_IRRADIANCE, Irradiance, "Irradiance "},
    };
    for (const auto& c : cases) {
        dialog.CheckButton(c.radio, true);
        dialog.OnSetting();
        EXPECT_EQ(Title(), c.title);
        EXPECT_EQ(dialog.dataTypeIndex, c.dataType);
        EXPECT_TRUE(SamePicture(Render(dialog.GraphControl()), Expected({.dataType = c.dataType})))
            << c.title;
    }
    EXPECT_EQ(Text(IDC_COUNT_FROM), "abc");
    EXPECT_EQ(Text(IDC_COUNT_TO), "5");
    EXPECT_TRUE(operatorScript->Boxes().empty());
}

struct ResetCase {
    int dataType;
    int countMode;
    double intervalMs;
    const char* title;
    const char* interval;
};

TEST_F(GraphWindow, ResetForRunStartsAnEmptyGraphWithTheStoredChoice) {
    const ResetCase cases[] = {
        {Irradiance, 0, 100, "Irradiance", "0.1 [s]"},
        {IntegralIrradiance, 1, 2000, "Integral irradiance (0 - 9999)", "2.0 [s]"},
        {PeakIrradiance, 0, 300, "Peak Irradiance", "0.3 [s]"},
        {Irradiance, 1, 999000, "Irradiance (0 - 9999)", "999.0 [s]"},
    };
    for (const ResetCase& c : cases) {
        dialog.dataTypeIndex = c.dataType;
        dialog.countModeIndex = c.countMode;
        // Radios moved without Setting or Start/Stop are put back.
        dialog.CheckRadioIndex(IDC_IRRADIANCE, (c.dataType + 1) % 3);
        dialog.CheckRadioIndex(IDC_COUNT_ALL, 1 - c.countMode);
        dialog.SetControlText(IDC_COUNT_FROM, "3");
        dialog.ResetForRun(c.intervalMs);
        EXPECT_EQ(Title(), c.title);
        EXPECT_EQ(Text(IDC_GRAPH_INTERVAL), c.interval);
        EXPECT_EQ(Text(IDC_GRAPH_COUNT), "     0");
        EXPECT_EQ(Text(IDC_COUNT_FROM), "0");
        EXPECT_EQ(Text(IDC_COUNT_TO), "9999");
        EXPECT_EQ(dialog.CheckedRadioIndex(IDC_IRRADIANCE), c.dataType);
        EXPECT_EQ(dialog.CheckedRadioIndex(IDC_COUNT_ALL), c.countMode);
        EXPECT_EQ(dialog.GraphControl().GetEntryCount(), 1u) << c.title;
    }
}

TEST_F(GraphWindow, ShownSamplesAreCountedWithoutTheOriginEntry) {
    EXPECT_EQ(Text(IDC_GRAPH_COUNT), "    20");
    dialog.ShowRunSamples({});
    EXPECT_EQ(Text(IDC_GRAPH_COUNT), "     0");
    const std::vector<std::string> fullRun(9999, "1 1 1");
    dialog.ShowRunSamples(SamplesOf(fullRun));
    EXPECT_EQ(Text(IDC_GRAPH_COUNT), "  9999");
}

// The worker adds while the window thread runs its event loop; the count follows each add.
TEST_F(GraphWindow, SamplesAddedByTheWorkerArriveInOrderAndTheCountFollows) {
    dialog.ResetForRun(1000);
    std::vector<std::string> countsSeen;
    QEventLoop loop;
    std::thread worker([&] {
        for (int i = 1; i <= 25; ++i) {
            dialog.AddRunSample(SampleOf(std::to_string(i) + " 0 0"), static_cast<std::size_t>(i));
            // AddRunSample returns once the text is set, so it can be read back at once.
            dialog.InvokeOnWindowThread([&] { countsSeen.push_back(Text(IDC_GRAPH_COUNT)); });
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    ASSERT_EQ(countsSeen.size(), 25u);
    EXPECT_EQ(countsSeen.front(), "     1");
    EXPECT_EQ(countsSeen[9], "    10");
    EXPECT_EQ(countsSeen.back(), "    25");
    EXPECT_EQ(dialog.GraphControl().GetEntryCount(), 26u);
    std::vector<std::string> lines;
    for (int i = 1; i <= 25; ++i) {
        lines.push_back(std::to_string(i) + " 0 0");
    }
    EXPECT_TRUE(SamePicture(Render(dialog.GraphControl()), Expected({}, lines)));
}

// A reload can take in a sample that is still on its way to the window; it is drawn once.
TEST_F(GraphWindow, ASampleTheGraphHoldsAlreadyIsNotAddedAgain) {
    const struct {
        const char* line;
        std::size_t number;
        const char* count;
    } adds[] = {
        {"20 0 0", 20, "    20"},  // held since the reload
        {"3 0 0", 3, "    20"},   {"21 0 0", 21, "    21"}, {"21 0 0", 21, "    21"},
        {"30 0 0", 30, "    22"},  // the window missed some while hidden: drawn after a gap
    };
    for (const auto& add : adds) {
        dialog.AddRunSample(SampleOf(add.line), add.number);
        EXPECT_EQ(Text(IDC_GRAPH_COUNT), add.count) << add.line << " as " << add.number;
    }
    std::vector<std::string> lines = kTwentySamples;
    lines.insert(lines.end(), {"21 0 0", "30 0 0"});
    EXPECT_TRUE(SamePicture(Render(dialog.GraphControl()), Expected({}, lines)));
}

TEST_F(GraphWindow, EscAndEnterDoNothingAndOnlyCloseHidesIt) {
    dialog.CheckRadioIndex(IDC_IRRADIANCE, 2);
    dialog.CheckRadioIndex(IDC_COUNT_ALL, 1);
    dialog.SetControlText(IDC_COUNT_FROM, "x");
    for (const DialogKeyPress& k : kEnterAndEscPresses) {
        for (const int focus : {IDC_COUNT_FROM, IDC_SETTING, IDC_GRAPH_START_STOP}) {
            dialog.FocusControl(focus);
            QTest::keyClick(dialog.focusWidget(), k.key, k.modifiers);
            EXPECT_TRUE(dialog.isVisible()) << k.name << " in " << focus;
        }
    }
    EXPECT_TRUE(operatorScript->Boxes().empty()) << "no button was pressed";
    EXPECT_EQ(dialog.dataTypeIndex, 0) << "only Setting and Start/Stop store the radios";
    EXPECT_EQ(dialog.countModeIndex, 0) << "only Setting and Start/Stop store the radios";
    EXPECT_FALSE(dialog.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    dialog.close();
    EXPECT_TRUE(dialog.isVisible()) << "the window system cannot close it";

    dialog.Button(IDC_GRAPH_CLOSE)->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.GraphControl().GetEntryCount(), 21u) << "hiding keeps the graph";
    EXPECT_EQ(Text(IDC_GRAPH_COUNT), "    20");
}

}  // namespace
