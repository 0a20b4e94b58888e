#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QMouseEvent>
#include <QTest>
#include <QThread>
#include <array>
#include <string>
#include <thread>
#include <vector>

#include "app/Qiro7Dlg.h"
#include "measure/AppMessages.h"
#include "measure/RunActive.h"
#include "tests/support/DialogKeys.h"
#include "tests/support/ScriptedModalInteraction.h"

namespace {

constexpr std::array kInformationBoxes = {
    IDC_MODEL,   IDC_SERIAL_NUMBER,        IDC_MAINTENANCE_DATE,
    IDC_VERSION, IDC_DETECTOR_TEMPERATURE, IDC_CONTROLLER_TEMPERATURE};

constexpr std::array kConditionRadios = {IDC_RANGE_AUTO,
                                         IDC_RANGE_A1,
                                         IDC_RANGE_A2,
                                         IDC_RANGE_A3,
                                         IDC_RANGE_F1,
                                         IDC_RANGE_F2,
                                         IDC_RANGE_F3,
                                         IDC_FREQUENCY_50HZ,
                                         IDC_FREQUENCY_60HZ,
                                         IDC_AVERAGING_1,
                                         IDC_AVERAGING_2,
                                         IDC_AVERAGING_3,
                                         IDC_AVERAGING_4,
                                         IDC_AVERAGING_5,
                                         IDC_FACTOR_ON,
                                         IDC_FACTOR_OFF,
                                         IDC_ZERO_CALIBRATION_ON,
                                         IDC_ZERO_CALIBRATION_OFF,
                                         IDC_AUTO_POWER_OFF_INF,
                                         IDC_AUTO_POWER_OFF_5,
                                         IDC_AUTO_POWER_OFF_10,
                                         IDC_AUTO_POWER_OFF_15,
                                         IDC_AUTO_POWER_OFF_30,
                                         IDC_ANALOG_SLOW,
                                         IDC_ANALOG_FAST};

class MainWindow : public testing::Test {
protected:
    MainWindow() {
        runActive = 0;
        SetApplicationName("app_tests");
        window.show();
        operatorScript->Clear();
    }
    ~MainWindow() override { runActive = 0; }

    std::string Text(int id) const { return window.ControlText(id); }
    bool Enabled(int id) const { return window.IsControlEnabled(id); }

    // Types into a box as the operator would.
    void Type(int id, const std::string& text) { window.SetControlText(id, text); }

    ScopedScriptedInteraction operatorScript;
    CQiro7Dlg window;
};

TEST_F(MainWindow, StartsWithNothingToShowAndOnlyConnectResetAndQuitUsable) {
    for (const int id : kInformationBoxes) {
        EXPECT_EQ(Text(id), "none") << id;
        EXPECT_FALSE(Enabled(id)) << id;
    }
    EXPECT_EQ(Text(IDC_START_STOP), "Start");
    EXPECT_FALSE(Enabled(IDC_START_STOP));
    for (const int id : kConditionRadios) {
        EXPECT_FALSE(Enabled(id)) << id;
        EXPECT_FALSE(window.IsButtonChecked(id)) << id;
    }
    EXPECT_FALSE(Enabled(IDC_CORRECTION_FACTOR));
    EXPECT_EQ(Text(IDC_CORRECTION_FACTOR), "0.001");
    EXPECT_EQ(Text(IDC_INTERVAL), "0");
    EXPECT_EQ(Text(IDC_COUNT), "0");
    EXPECT_FALSE(Enabled(IDC_CSV_FILE_NAME));
    EXPECT_TRUE(window.Control(IDC_INPUT)->isHidden());
    EXPECT_TRUE(Enabled(IDC_CONNECT));
    EXPECT_TRUE(Enabled(IDC_RESET));
    EXPECT_TRUE(Enabled(IDC_QUIT));
    EXPECT_FALSE(Enabled(IDC_SHOW_GRAPH));
    EXPECT_FALSE(Enabled(IDC_OUTPUT));
    EXPECT_EQ(window.QWidget::windowTitle(), "Measurement program");
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(operatorScript->Boxes().empty());
}

struct StateCase {
    UiState state;
    const char* name;
    // Reset, Connect, Quit, Interval, Count, factor box, CSV file name, start/stop.
    std::array<bool, 8> perState;
    const char* startStopCaption;
};

// Instrument operations and condition radios: enabled only when connected.
constexpr std::array kConnectedOnly = {IDC_AUTO_OUTPUT, IDC_REFRESH, IDC_SAVE, IDC_CALIBRATE,
                                       IDC_GRAPH,       IDC_BROWSE,  IDC_LOG,  IDC_GET_LAST_ERROR};

constexpr std::array kPerStateControls = {IDC_RESET,         IDC_CONNECT,   IDC_QUIT,
                                          IDC_INTERVAL,      IDC_COUNT,     IDC_CORRECTION_FACTOR,
                                          IDC_CSV_FILE_NAME, IDC_START_STOP};

const StateCase kStates[] = {
    {UiState::Initial, "Initial", {true, true, true, false, false, false, false, false}, "Start"},
    {UiState::Disconnected,
     "Disconnected",
     {true, true, true, false, false, false, true, false},
     "Start"},
    {UiState::Measuring,
     "Measuring",
     {false, false, false, false, false, false, false, true},
     "Stop"},
    {UiState::Connecting,
     "Connecting",
     {false, false, false, false, false, false, false, false},
     "Start"},
    {UiState::Busy, "Busy", {false, false, false, false, false, false, false, false}, "Start"},
    {UiState::Connected, "Connected", {true, true, true, true, true, true, true, true}, "Start"},
};

TEST_F(MainWindow, EveryStateEnablesExactlyItsControls) {
    for (const StateCase& c : kStates) {
        window.SetUiState(c.state);
        const bool connected = c.state == UiState::Connected;
        for (std::size_t index = 0; index < kPerStateControls.size(); ++index) {
            EXPECT_EQ(Enabled(kPerStateControls[index]), c.perState[index])
                << c.name << ": control " << kPerStateControls[index];
        }
        EXPECT_EQ(Text(IDC_START_STOP), c.startStopCaption) << c.name;
        for (const int id : kConnectedOnly) {
            EXPECT_EQ(Enabled(id), connected) << c.name << ": control " << id;
        }
        for (const int id : kConditionRadios) {
            EXPECT_EQ(Enabled(id), connected) << c.name << ": radio " << id;
        }
        for (const int id : kInformationBoxes) {
            EXPECT_FALSE(Enabled(id)) << c.name << ": box " << id;
        }
        EXPECT_TRUE(Enabled(IDC_RECEIVED)) << c.name;
        EXPECT_TRUE(window.Control(IDC_INPUT)->isHidden()) << c.name;
        // Nothing received yet: nothing to draw or write, except that a run may show its graph.
        EXPECT_EQ(Enabled(IDC_SHOW_GRAPH), c.state == UiState::Measuring) << c.name;
        EXPECT_FALSE(Enabled(IDC_OUTPUT)) << c.name;
    }
    EXPECT_TRUE(operatorScript->Boxes().empty());
}

TEST_F(MainWindow, ReceivedValuesEnableGraphAndOutputWhenNothingRuns) {
    for (const StateCase& c : kStates) {
        Type(IDC_RECEIVED, "1.0E+01 2.0E+00 1.1E+01\r\n");
        window.SetUiState(c.state);
        // Initial empties the list, so it has nothing to offer either.
        const bool idle = c.state == UiState::Disconnected || c.state == UiState::Connected;
        EXPECT_EQ(Enabled(IDC_OUTPUT), idle) << c.name;
        EXPECT_EQ(Enabled(IDC_SHOW_GRAPH), idle || c.state == UiState::Measuring) << c.name;
    }
}

TEST_F(MainWindow, OnlyTheInitialStateResetsTheShownTexts) {
    window.SetUiState(UiState::Connected);
    Type(IDC_MODEL, "QIRO-7");
    Type(IDC_RECEIVED, "1 2 3\r\n");
    Type(IDC_CSV_FILE_NAME, "run.csv");
    window.SetUiState(UiState::Disconnected);
    EXPECT_EQ(Text(IDC_MODEL), "QIRO-7");
    EXPECT_EQ(Text(IDC_RECEIVED), "1 2 3\r\n");
    EXPECT_TRUE(Enabled(IDC_CSV_FILE_NAME)) << "the file name stays editable";
    EXPECT_FALSE(Enabled(IDC_BROWSE));

    window.conditions.correctionFactor = 2.5;
    window.UpdateData(false);
    window.SetUiState(UiState::Initial);
    EXPECT_EQ(Text(IDC_MODEL), "none");
    EXPECT_EQ(Text(IDC_RECEIVED), "");
    EXPECT_EQ(Text(IDC_CORRECTION_FACTOR), "2.5") << "emptied, then pushed again";
    EXPECT_EQ(Text(IDC_CSV_FILE_NAME), "run.csv");
}

TEST_F(MainWindow, EscAndEnterNeitherCloseTheWindowNorPressAButton) {
    window.SetUiState(UiState::Connected);
    for (const int focus : {IDC_QUIT, IDC_CONNECT, IDC_INTERVAL, IDC_RECEIVED}) {
        for (const DialogKeyPress& k : kEnterAndEscPresses) {
            window.FocusControl(focus);
            QTest::keyClick(window.Control(focus), k.key, k.modifiers);
            EXPECT_TRUE(window.isVisible()) << k.name << " in control " << focus;
        }
    }
    EXPECT_TRUE(operatorScript->Boxes().empty()) << "Quit must not have been pressed";
    EXPECT_EQ(Text(IDC_INTERVAL), "0");
}

TEST_F(MainWindow, TheWindowSystemCannotCloseIt) {
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    window.reject();
    EXPECT_TRUE(window.isVisible());
}

TEST_F(MainWindow, QuitAnsweredNoKeepsTheWindow) {
    operatorScript->AnswerNext(MessageAnswer::No);
    window.Button(IDC_QUIT)->click();
    ASSERT_EQ(operatorScript->Boxes().size(), 1u);
    const MessageBoxRequest box = operatorScript->Boxes().front();
    EXPECT_EQ(box.text, "Are you sure you want to quit?");
    EXPECT_EQ(box.caption, "QIRO-7");
    EXPECT_EQ(box.icon, MessageIcon::Question);
    EXPECT_EQ(box.buttons, MessageButtons::YesNo);
    EXPECT_EQ(box.owner, static_cast<QWidget*>(&window));
    EXPECT_TRUE(window.isVisible());
}

TEST_F(MainWindow, QuitAnsweredYesEndsTheWindowWithTheCancelResult) {
    operatorScript->AnswerNext(MessageAnswer::Yes);
    window.Button(IDC_QUIT)->click();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Rejected);
}

struct PullCase {
    const char* interval;
    const char* count;
    const char* factor;
    int mode;
    const char* prompt;  // "" for none
    int focus;
};

TEST_F(MainWindow, APullRefusesBadTextsWithTheFrameworkPromptAndFocusesTheBox) {
    const PullCase cases[] = {
        {"abc", "0", "1", 0, "Enter an integer.", IDC_INTERVAL},
        {"5", "x", "1", 0, "Enter an integer.", IDC_COUNT},
        {"5.5", "5", "1", 2, "Enter an integer.", IDC_INTERVAL},
        {"5", "5", "1,5", 0, "Enter a number.", IDC_CORRECTION_FACTOR},
        {"5", "5", "", 1, "Enter a number.", IDC_CORRECTION_FACTOR},
        {"1000", "5", "1", 0, "", 0},
        {"1000", "5", "1", 1, "", 0},
        {"1000", "5", "1", 2, "Enter an integer between 0 and 999.", IDC_INTERVAL},
        {"-1", "5", "1", 2, "Enter an integer between 0 and 999.", IDC_INTERVAL},
        {"5", "10000", "1", 2, "Enter an integer between 0 and 9999.", IDC_COUNT},
        {"5", "10000", "1", 1, "", 0},
        {"5", "5", "10", 1, "Enter a number between 0.001 and 9.999.", IDC_CORRECTION_FACTOR},
        {"5", "5", "0.0005", 2, "Enter a number between 0.001 and 9.999.", IDC_CORRECTION_FACTOR},
        {"5", "5", "10", 0, "", 0},
        {"999", "9999", "9.999", 2, "", 0},
        {"0", "0", "0.001", 2, "", 0},
        {" 12 ", "+3", "1e0", 2, "", 0},
    };
    window.SetUiState(UiState::Connected);
    for (const PullCase& c : cases) {
        operatorScript->Clear();
        window.FocusControl(IDC_CONNECT);
        Type(IDC_INTERVAL, c.interval);
        Type(IDC_COUNT, c.count);
        Type(IDC_CORRECTION_FACTOR, c.factor);
        window.validationMode = c.mode;
        const bool pulled = window.UpdateData(true);
        const std::string label = std::string(c.interval) + " / " + c.count + " / " + c.factor +
                                  " mode " + std::to_string(c.mode);

        const std::vector<MessageBoxRequest> boxes = operatorScript->Boxes();
        if (*c.prompt == '\0') {
            EXPECT_TRUE(pulled) << label;
            EXPECT_TRUE(boxes.empty()) << label;
            continue;
        }
        EXPECT_FALSE(pulled) << label;
        ASSERT_EQ(boxes.size(), 1u) << label;
        EXPECT_EQ(boxes[0].text, c.prompt) << label;
        EXPECT_EQ(boxes[0].caption, "app_tests") << label;
        EXPECT_EQ(boxes[0].icon, MessageIcon::Exclamation) << label;
        EXPECT_EQ(boxes[0].buttons, MessageButtons::Ok) << label;
        EXPECT_EQ(window.focusWidget(), window.Control(c.focus)) << label;
    }
}

TEST_F(MainWindow, APullStoresTheParsedValues) {
    window.SetUiState(UiState::Connected);
    Type(IDC_INTERVAL, " 12 ");
    Type(IDC_COUNT, "+3");
    Type(IDC_CORRECTION_FACTOR, "1.000");
    window.Button(IDC_RANGE_F2)->click();
    window.Button(IDC_ANALOG_SLOW)->click();
    ASSERT_TRUE(window.UpdateData(true));
    EXPECT_EQ(window.intervalSeconds, 12);
    EXPECT_EQ(window.measureCount, 3);
    EXPECT_DOUBLE_EQ(window.conditions.correctionFactor, 1.0);
    EXPECT_EQ(window.conditions.rangeIndex, 5);
    EXPECT_EQ(window.conditions.analogResponseIndex, 0);
    EXPECT_EQ(window.conditions.frequencyIndex, -1);
}

TEST_F(MainWindow, TheValidationModeAppliesToOneExchangeOnly) {
    window.SetUiState(UiState::Connected);
    Type(IDC_INTERVAL, "1000");
    window.validationMode = 2;
    EXPECT_FALSE(window.UpdateData(true));
    EXPECT_EQ(window.validationMode, 0);
    EXPECT_TRUE(window.UpdateData(true)) << "no range check without a new mode";
    EXPECT_EQ(window.intervalSeconds, 1000);

    window.validationMode = 2;
    window.UpdateData(false);
    EXPECT_EQ(window.validationMode, 0) << "a push resets the mode as well";
    EXPECT_TRUE(window.UpdateData(true));
    EXPECT_EQ(operatorScript->Boxes().size(), 1u);
}

TEST_F(MainWindow, APushWritesIntegersInDecimalAndTheFactorInGeneralFormat) {
    const std::pair<double, const char*> factors[] = {{1.0, "1"},
                                                      {0.5, "0.5"},
                                                      {0.001, "0.001"},
                                                      {9.999, "9.999"},
                                                      {2.0 / 3.0, "0.666666666666667"}};
    for (const auto& [value, text] : factors) {
        window.conditions.correctionFactor = value;
        window.UpdateData(false);
        EXPECT_EQ(Text(IDC_CORRECTION_FACTOR), text);
    }
    window.intervalSeconds = 999;
    window.measureCount = -5;
    window.lastErrorCode = "3";
    window.UpdateData(false);
    EXPECT_EQ(Text(IDC_INTERVAL), "999");
    EXPECT_EQ(Text(IDC_COUNT), "-5");
    EXPECT_EQ(Text(IDC_LAST_ERROR_CODE), "3");
}

TEST_F(MainWindow, AConditionWithoutAButtonShowsNoCheckedButton) {
    window.SetUiState(UiState::Connected);
    window.conditions.rangeIndex = 3;
    window.conditions.averagingIndex = 2;
    window.UpdateData(false);
    EXPECT_TRUE(window.IsButtonChecked(IDC_RANGE_A3));
    EXPECT_TRUE(window.IsButtonChecked(IDC_AVERAGING_3));

    window.conditions.rangeIndex = -1;
    window.conditions.averagingIndex = 5;  // read back as 6 from the instrument
    window.UpdateData(false);
    for (const int id : kConditionRadios) {
        const bool ownGroup = (id >= IDC_RANGE_AUTO && id <= IDC_RANGE_A3) || id == IDC_RANGE_F1 ||
                              id == IDC_RANGE_F2 || id == IDC_RANGE_F3 ||
                              (id >= IDC_AVERAGING_1 && id <= IDC_AVERAGING_5);
        if (ownGroup) {
            EXPECT_FALSE(window.IsButtonChecked(id)) << id;
        }
    }
    ASSERT_TRUE(window.UpdateData(true));
    EXPECT_EQ(window.conditions.rangeIndex, -1);
    EXPECT_EQ(window.conditions.averagingIndex, -1);
}

// The end of a run as the worker reports it, with the flag as the worker leaves it.
TEST_F(MainWindow, ARunThatReachedItsEndIsCompletedAndOneStoppedIsCanceled) {
    const std::pair<int, const char*> cases[] = {
        {1, "The measurement has been completed."},
        {0, "The measurement has been canceled."},
    };
    for (const auto& [flag, text] : cases) {
        operatorScript->Clear();
        window.SetUiState(UiState::Measuring);
        runActive = flag;
        window.OnMeasDone();
        ASSERT_EQ(operatorScript->Boxes().size(), 1u);
        EXPECT_EQ(operatorScript->Boxes()[0].text, text);
        EXPECT_EQ(operatorScript->Boxes()[0].icon, MessageIcon::Information);
        EXPECT_EQ(operatorScript->Boxes()[0].caption, "QIRO-7");
        EXPECT_TRUE(Enabled(IDC_START_STOP)) << "back in Connected";
        EXPECT_TRUE(Enabled(IDC_INTERVAL)) << "back in Connected";
        EXPECT_EQ(Text(IDC_START_STOP), "Start");
    }
}

TEST_F(MainWindow, AFailedRunEndsDisconnectedAfterTheFailureBox) {
    window.SetUiState(UiState::Measuring);
    bool disconnectedWhenShown = false;
    operatorScript->OnEveryBox([this, &disconnectedWhenShown](const MessageBoxRequest&) {
        disconnectedWhenShown = Enabled(IDC_CONNECT) && !Enabled(IDC_INTERVAL);
    });
    window.OnMeasFailed();
    ASSERT_EQ(operatorScript->Texts(), std::vector<std::string>{"Failed in measurement."});
    EXPECT_EQ(operatorScript->Boxes()[0].icon, MessageIcon::Exclamation);
    EXPECT_TRUE(disconnectedWhenShown);
    EXPECT_TRUE(Enabled(IDC_CSV_FILE_NAME));
    EXPECT_FALSE(Enabled(IDC_START_STOP));
}

TEST_F(MainWindow, TheStopRequestDisablesStartStopUntilTheRunEnds) {
    window.SetUiState(UiState::Measuring);
    ASSERT_TRUE(Enabled(IDC_START_STOP));
    window.OnMeasStopping();
    EXPECT_FALSE(Enabled(IDC_START_STOP));
    EXPECT_EQ(Text(IDC_START_STOP), "Stop");
    EXPECT_TRUE(operatorScript->Boxes().empty());
}

TEST_F(MainWindow, TheGraphWindowsStartTicksGraphOnlyWhenNoRunIsGoing) {
    window.SetUiState(UiState::Connected);
    runActive = 1;
    window.OnToggleMeas();
    EXPECT_FALSE(window.IsButtonChecked(IDC_GRAPH));
    runActive = 0;
    window.OnToggleMeas();
    EXPECT_TRUE(window.IsButtonChecked(IDC_GRAPH));
}

// The worker's messages run on the window thread while the worker waits, boxes included.
TEST_F(MainWindow, TheWorkersMessagesRunOnTheWindowThreadAndWaitForTheHandler) {
    window.SetUiState(UiState::Measuring);
    window.conditions.averagingIndex = 3;
    window.intervalSeconds = 7;
    window.measureCount = 42;
    QThread* handlerThread = nullptr;
    operatorScript->OnEveryBox(
        [&handlerThread](const MessageBoxRequest&) { handlerThread = QThread::currentThread(); });

    std::size_t boxesWhenReturned = 0;
    bool stoppingDisabledButton = false;
    std::array<int, 3> values{};
    QEventLoop loop;
    runActive = 1;
    std::thread worker([&] {
        values = {window.AveragingIndex(), window.IntervalSeconds(), window.MeasureCount()};
        QMetaObject::invokeMethod(&window, "OnMeasStopping", Qt::BlockingQueuedConnection);
        window.InvokeOnWindowThread(
            [&] { stoppingDisabledButton = !window.IsControlEnabled(IDC_START_STOP); });
        window.SendAppMessage(WM_APP_MEAS_DONE);
        boxesWhenReturned = operatorScript->Boxes().size();
        runActive = 0;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();

    EXPECT_EQ(values, (std::array<int, 3>{3, 7, 42}));
    EXPECT_TRUE(stoppingDisabledButton);
    EXPECT_EQ(boxesWhenReturned, 1u);
    EXPECT_EQ(handlerThread, qApp->thread());
    EXPECT_EQ(operatorScript->Texts(),
              std::vector<std::string>{"The measurement has been completed."});
    EXPECT_TRUE(Enabled(IDC_START_STOP));
}

void MovePointerOver(QWidget* widget) {
    QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

TEST_F(MainWindow, ThePointerShowsTheWaitCursorOverTheWindowWhileARunIsActive) {
    window.SetUiState(UiState::Measuring);
    const Qt::CursorShape editCursor = window.Control(IDC_CSV_FILE_NAME)->cursor().shape();
    runActive = 1;
    MovePointerOver(window.Control(IDC_START_STOP));
    for (const int id : {IDC_START_STOP, IDC_CSV_FILE_NAME, IDC_RECEIVED}) {
        EXPECT_EQ(window.Control(id)->cursor().shape(), Qt::WaitCursor) << id;
    }
    EXPECT_EQ(window.cursor().shape(), Qt::WaitCursor);

    runActive = 0;
    MovePointerOver(window.Control(IDC_INTERVAL));
    EXPECT_EQ(window.Control(IDC_START_STOP)->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(window.Control(IDC_CSV_FILE_NAME)->cursor().shape(), editCursor);
    EXPECT_EQ(window.cursor().shape(), Qt::ArrowCursor);
}

}  // namespace
