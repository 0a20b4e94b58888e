// Zero calibration, the last error code and the reaction to a run the instrument aborted.
#include "tests/services/ServicesFixture.h"

namespace {

using Calibration = ServicesTest;

// A box by its text, caption and icon.
struct ExpectedBox {
    int stringId;
    bool windowCaption;  // "QIRO-7", else the application name
    MessageIcon icon;
};

struct CalibrateCase {
    const char* name;
    void (*prepare)(SimulatedUsbDriver&);
    std::vector<ExpectedBox> boxesAfterQuestion;
    std::vector<std::string> requests;
    UiState state;
    bool errorCodeShown;
};

const CalibrateCase kCalibrateCases[] = {
    {"dark detector",
     [](SimulatedUsbDriver&) {},
     {{IDS_ZERO_CALIBRATION_COMPLETED, false, MessageIcon::Information}},
     {"CAL", "ERR"},
     UiState::Connected,
     true},
    {"lit detector",
     [](SimulatedUsbDriver& d) { d.Instrument()->SetDetectorLit(true); },
     {{IDS_BLOCK_OUT_LIGHT, false, MessageIcon::Exclamation}},
     {"CAL", "ERR"},
     UiState::Connected,
     true},
    {"first line not OK",
     [](SimulatedUsbDriver& d) {
         d.Instrument()->SetReplyOverride("CAL", {"BUSY", "END"});
     },
     {},
     {"CAL", "ERR"},
     UiState::Connected,
     true},
    {"unplugged",
     [](SimulatedUsbDriver& d) { d.SetPresent(false); },
     {{IDS_CONNECTION_ERROR, true, MessageIcon::Exclamation}},
     {},
     UiState::Disconnected,
     false},
    {"reply cut short",
     [](SimulatedUsbDriver& d) {
         d.Instrument()->SetReplyOverride("CAL", {"OK", "DONE"});
     },
     {{IDS_CONNECTING_ERROR, true, MessageIcon::Exclamation}},
     {"CAL", "ERR"},
     UiState::Disconnected,
     true},
};

TEST_F(Calibration, EachOutcomeShowsItsBoxesAndEndsInItsState) {
    for (const CalibrateCase& c : kCalibrateCases) {
        driver->ClearTransportFaults();
        driver->Instrument()->SetDetectorLit(false);
        Override("CAL", {});
        driver->Instrument()->SetLastError(0);
        ConnectFirst();
        driver->Instrument()->SetLastError(9);
        c.prepare(*driver);
        AnswerNext(MessageAnswer::Yes);

        Click(IDC_CALIBRATE);

        ASSERT_EQ(seen.size(), 1 + c.boxesAfterQuestion.size()) << c.name;
        ExpectWindowBox(0, IDS_CONFIRM_ZERO_CALIBRATION, MessageIcon::Question);
        for (std::size_t i = 0; i < c.boxesAfterQuestion.size(); ++i) {
            const ExpectedBox& expected = c.boxesAfterQuestion[i];
            const MessageBoxRequest& box = seen[i + 1].request;
            EXPECT_EQ(box.text, LoadResourceString(expected.stringId)) << c.name;
            EXPECT_EQ(box.caption, expected.windowCaption ? "QIRO-7" : kTestApplicationName)
                << c.name;
            EXPECT_EQ(box.icon, expected.icon) << c.name;
            EXPECT_EQ(seen[i + 1].state, UiState::Busy) << c.name;
        }
        EXPECT_EQ(Requests(), c.requests) << c.name;
        EXPECT_EQ(ShownState(), c.state) << c.name;
        EXPECT_EQ(Text(IDC_LAST_ERROR_CODE), c.errorCodeShown ? "9" : "0") << c.name;
    }
}

TEST_F(Calibration, TheQuestionHasTwoLinesAndNoSendsNothing) {
    ConnectFirst();
    AnswerNext(MessageAnswer::No);

    Click(IDC_CALIBRATE);

    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].request.text,
              "Are you sure you want to start zero calibration ?\n"
              "Please block out light to the detector.");
    EXPECT_TRUE(Requests().empty());
    EXPECT_EQ(ShownState(), UiState::Connected);
}

using LastError = ServicesTest;

TEST_F(LastError, GetShowsTheNewCodeWithoutABox) {
    ConnectFirst();
    ASSERT_EQ(Text(IDC_LAST_ERROR_CODE), "0");
    driver->Instrument()->SetLastError(5);

    Click(IDC_GET_LAST_ERROR);

    EXPECT_EQ(Requests(), std::vector<std::string>{"ERR"});
    EXPECT_EQ(Text(IDC_LAST_ERROR_CODE), "5");
    EXPECT_EQ(window->lastErrorCode, "5");
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(ShownState(), UiState::Connected);
}

TEST_F(LastError, AFailedGetKeepsTheOldCodeAndEndsDisconnected) {
    driver->Instrument()->SetLastError(3);
    ConnectFirst();
    driver->Instrument()->SetLastError(4);
    Override("ERR", {"NG"});

    Click(IDC_GET_LAST_ERROR);

    EXPECT_EQ(Text(IDC_LAST_ERROR_CODE), "3");
    ASSERT_EQ(seen.size(), 1u);
    ExpectWindowBox(0, IDS_CONNECTING_ERROR, MessageIcon::Exclamation);
    EXPECT_EQ(seen[0].state, UiState::Disconnected) << "the box follows the state change";
    EXPECT_EQ(ShownState(), UiState::Disconnected);
}

struct AbortCase {
    const char* name;
    int errorAtConnect;
    void (*prepare)(SimulatedUsbDriver&);
    int stringId;
    UiState state;
    const char* labelAfter;
};

TEST_F(LastError, AnAbortedRunIsExplainedByTheInstrumentsErrorCode) {
    const AbortCase cases[] = {
        {"integration over", 0, [](SimulatedUsbDriver& d) { d.Instrument()->SetLastError(4); },
         IDS_INTEGRATION_OVER, UiState::Connected, "4"},
        {"range over", 0, [](SimulatedUsbDriver& d) { d.Instrument()->SetLastError(5); },
         IDS_RANGE_OVER, UiState::Connected, "5"},
        {"another code", 0, [](SimulatedUsbDriver& d) { d.Instrument()->SetLastError(3); },
         IDS_MEASUREMENT_FAILED, UiState::Disconnected, "3"},
        {"failed read", 0, [](SimulatedUsbDriver& d) { d.SetPresent(false); },
         IDS_MEASUREMENT_FAILED, UiState::Disconnected, "0"},
        // The code shown from an earlier read does not count: only what this read handed back.
        {"failed read after an earlier 4", 4, [](SimulatedUsbDriver& d) { d.SetPresent(false); },
         IDS_MEASUREMENT_FAILED, UiState::Disconnected, "4"},
        {"failed read after an earlier 5", 5, [](SimulatedUsbDriver& d) { d.SetPresent(false); },
         IDS_MEASUREMENT_FAILED, UiState::Disconnected, "5"},
        {"refused read", 0,
         [](SimulatedUsbDriver& d) {
             d.Instrument()->SetLastError(4);
             d.Instrument()->SetReplyOverride("ERR", {"OK", "4"});
         },
         IDS_MEASUREMENT_FAILED, UiState::Disconnected, "0"},
    };
    for (const AbortCase& c : cases) {
        driver->ClearTransportFaults();
        Override("ERR", {});
        driver->Instrument()->SetLastError(c.errorAtConnect);
        ConnectFirst();
        window->SetUiState(UiState::Measuring);
        c.prepare(*driver);

        window->OnMeasError();

        ASSERT_EQ(seen.size(), 1u) << c.name;
        ExpectWindowBox(0, c.stringId, MessageIcon::Exclamation);
        EXPECT_EQ(seen[0].state, c.state) << c.name << ": the state comes before the box";
        EXPECT_EQ(ShownState(), c.state) << c.name;
        EXPECT_EQ(Text(IDC_LAST_ERROR_CODE), c.labelAfter) << c.name;
    }
}

}  // namespace
