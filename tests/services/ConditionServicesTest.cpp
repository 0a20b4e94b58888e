// Save, the factor text check, the rewrite and the comparison before a run, through the main
// window with the simulated instrument behind it.
#include <algorithm>
#include <cstdio>

#include "tests/common/ScopedLocale.h"
#include "tests/services/ServicesFixture.h"

namespace {

using Conditions = ServicesTest;
using Wire = SimulatedInstrument::Conditions;

std::vector<std::string> Joined(std::vector<std::string> first,
                                const std::vector<std::string>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// The simulator's defaults as eight write requests.
const std::vector<std::string> kDefaultWrites = {"ACW 1",  "MRW -1", "FRQW 0", "CFW 1",
                                                 "CFSW 0", "ZCW 1",  "APW 2",  "AFW 0"};

TEST_F(Conditions, SavingF2SendsFiveRereadsItAndLeavesNothingToCompare) {
    ConnectFirst();
    Check(IDC_RANGE_F2);
    AnswerNext(MessageAnswer::Yes);

    Click(IDC_SAVE);

    std::vector<std::string> writes = kDefaultWrites;
    writes[1] = "MRW 5";
    EXPECT_EQ(Requests(), Joined(writes, kConnectRequests));
    ASSERT_EQ(seen.size(), 2u);
    ExpectWindowBox(0, IDS_CONFIRM_WRITE_CONDITIONS, MessageIcon::Question);
    ExpectWindowBox(1, IDS_CONDITIONS_UPDATED, MessageIcon::Information);
    EXPECT_EQ(seen[1].state, UiState::Connected);
    EXPECT_TRUE(Checked(IDC_RANGE_F2));
    EXPECT_EQ(InstrumentConditions().range, 5);
    EXPECT_EQ(ShownState(), UiState::Connected);

    // As the start of a run does it.
    Forget();
    window->validationMode = 2;
    ASSERT_TRUE(window->UpdateData(true));
    EXPECT_EQ(window->CompareConditions(), 0);
    EXPECT_EQ(Requests(), (std::vector<std::string>{"CFR", "ACR", "MRR", "FRQR", "ZCR", "CFSR"}));
    EXPECT_TRUE(seen.empty());
}

struct ChoiceCase {
    int buttonId;
    const char* request;
};

TEST_F(Conditions, EachChoiceIsWrittenWithItsArgumentAndReadBack) {
    const ChoiceCase cases[] = {
        {IDC_RANGE_AUTO, "MRW -1"},
        {IDC_RANGE_A1, "MRW 1"},
        {IDC_RANGE_F3, "MRW 6"},
        {IDC_FREQUENCY_60HZ, "FRQW 1"},
        {IDC_AVERAGING_1, "ACW 1"},
        {IDC_AVERAGING_5, "ACW 5"},
        {IDC_ZERO_CALIBRATION_ON, "ZCW 1"},
        {IDC_ZERO_CALIBRATION_OFF, "ZCW 0"},
        {IDC_FACTOR_ON, "CFSW 1"},
        {IDC_FACTOR_OFF, "CFSW 0"},
        {IDC_AUTO_POWER_OFF_INF, "APW 0"},
        {IDC_AUTO_POWER_OFF_30, "APW 4"},
        {IDC_ANALOG_FAST, "AFW 1"},
        {IDC_ANALOG_SLOW, "AFW 0"},
    };
    for (const ChoiceCase& c : cases) {
        // Every group starts on a choice other than the one tested.
        Wire wire;
        wire.range = c.buttonId == IDC_RANGE_AUTO ? 4 : -1;
        wire.frequency = 0;
        wire.averaging = c.buttonId == IDC_AVERAGING_1 ? 3 : 1;
        wire.zeroCalibration = c.buttonId == IDC_ZERO_CALIBRATION_ON ? 0 : 1;
        wire.factorSwitch = c.buttonId == IDC_FACTOR_OFF ? 1 : 0;
        wire.analogResponse = c.buttonId == IDC_ANALOG_SLOW ? 1 : 0;
        SetInstrumentConditions(wire);
        ConnectFirst();
        Check(c.buttonId);
        AnswerNext(MessageAnswer::Yes);

        Click(IDC_SAVE);

        const std::vector<std::string> requests = Requests();
        EXPECT_NE(std::find(requests.begin(), requests.end(), c.request), requests.end())
            << c.request;
        EXPECT_TRUE(Checked(c.buttonId)) << c.request << " is read back";
        EXPECT_EQ(ShownState(), UiState::Connected) << c.request;
    }
}

// The state change before the write pushes the parsed factor back into its box, so what goes
// out is the box text the number gives: the same value as typed.
TEST_F(Conditions, TheFactorIsSentAsTheBoxShowsItAndReadBack) {
    struct FactorCase {
        const char* typed;
        const char* request;
        double value;
    };
    const FactorCase cases[] = {{"9.999", "CFW 9.999", 9.999},
                                {"0.50", "CFW 0.5", 0.5},
                                {".5", "CFW 0.5", 0.5},
                                {"2", "CFW 2", 2.0}};
    for (const auto& [typed, request, value] : cases) {
        ConnectFirst();
        Type(IDC_CORRECTION_FACTOR, typed);
        AnswerNext(MessageAnswer::Yes);

        Click(IDC_SAVE);

        ASSERT_GE(Requests().size(), 4u) << typed;
        EXPECT_EQ(Requests()[3], request) << typed;
        EXPECT_EQ(window->conditions.correctionFactor, value) << typed;
        EXPECT_EQ(ShownState(), UiState::Connected) << typed;
    }
}

TEST_F(Conditions, AnAveragingOfSixDiffersAndCannotBeSaved) {
    Wire wire;
    wire.averaging = 6;
    SetInstrumentConditions(wire);
    ConnectFirst();
    EXPECT_EQ(CheckedIndex(IDC_AVERAGING_1), -1);

    window->validationMode = 2;
    ASSERT_TRUE(window->UpdateData(true));
    EXPECT_EQ(window->CompareConditions(), 6);

    Forget();
    AnswerNext(MessageAnswer::Yes);
    Click(IDC_SAVE);

    EXPECT_TRUE(Requests().empty()) << "nothing is sent";
    EXPECT_EQ(BoxTexts(),
              std::vector<std::string>{LoadResourceString(IDS_CONFIRM_WRITE_CONDITIONS)});
    EXPECT_EQ(ShownState(), UiState::Disconnected);
}

TEST_F(Conditions, AWriteRefusedAtTheFrequencyLeavesAveragingAndRangeWritten) {
    ConnectFirst();
    Override("FRQW", {"OK", "NG"});
    Check(IDC_AVERAGING_3);
    Check(IDC_RANGE_A1);
    AnswerNext(MessageAnswer::Yes);

    Click(IDC_SAVE);

    EXPECT_EQ(Requests(), (std::vector<std::string>{"ACW 3", "MRW 1", "FRQW 0"}));
    ASSERT_EQ(seen.size(), 2u);
    ExpectWindowBox(1, IDS_WRITE_FACTOR_FAILED, MessageIcon::Exclamation);
    EXPECT_EQ(InstrumentConditions().averaging, 3);
    EXPECT_EQ(InstrumentConditions().range, 1);
    EXPECT_EQ(ShownState(), UiState::Disconnected);
}

struct SaveFailureCase {
    const char* name;
    void (*breakInstrument)(SimulatedUsbDriver&);
    std::size_t requestsSent;
    int stringId;
};

TEST_F(Conditions, SaveReportsWhereTheWriteOrTheRereadFailed) {
    const SaveFailureCase cases[] = {
        {"unplugged", [](SimulatedUsbDriver& d) { d.SetPresent(false); }, 0, IDS_CONNECTION_ERROR},
        {"silent after the writes",
         [](SimulatedUsbDriver& d) { d.Instrument()->SetSilentFromCommand("WHO"); }, 11,
         IDS_READ_FACTOR_FAILED},
        {"reply cut short",
         [](SimulatedUsbDriver& d) { d.Instrument()->SetReplyOverride("APW", {"OK"}); }, 7,
         IDS_WRITE_FACTOR_FAILED},
    };
    for (const SaveFailureCase& c : cases) {
        driver->ClearTransportFaults();
        driver->Instrument()->SetSilentFromCommand("");
        Override("APW", {});
        ConnectFirst();
        c.breakInstrument(*driver);
        AnswerNext(MessageAnswer::Yes);

        Click(IDC_SAVE);

        EXPECT_EQ(Requests().size(), c.requestsSent) << c.name;
        ASSERT_EQ(seen.size(), 2u) << c.name;
        ExpectWindowBox(1, c.stringId, MessageIcon::Exclamation);
        EXPECT_EQ(seen[1].state, UiState::Busy) << c.name;
        EXPECT_EQ(ShownState(), UiState::Disconnected) << c.name;
    }
}

struct RefusedFactorCase {
    const char* text;
    std::vector<std::string> prompts;  // the framework's, from the pull before the check
};

TEST_F(Conditions, ARefusedFactorTextSendsNothingAndFocusesTheBox) {
    const RefusedFactorCase cases[] = {
        {"0.0010", {}},
        {"10", {}},
        {"1,5", {"Enter a number."}},
        {"", {"Enter a number."}},
    };
    for (const RefusedFactorCase& c : cases) {
        ConnectFirst();
        Type(IDC_CORRECTION_FACTOR, c.text);
        window->FocusControl(IDC_CONNECT);
        AnswerNext(MessageAnswer::Yes);

        Click(IDC_SAVE);

        std::vector<std::string> expected = {LoadResourceString(IDS_CONFIRM_WRITE_CONDITIONS)};
        expected.insert(expected.end(), c.prompts.begin(), c.prompts.end());
        expected.push_back(LoadResourceString(IDS_CHECK_INPUT_VALUE));
        EXPECT_EQ(BoxTexts(), expected) << '"' << c.text << '"';
        EXPECT_TRUE(Requests().empty()) << '"' << c.text << '"';
        EXPECT_EQ(window->focusWidget(), window->Control(IDC_CORRECTION_FACTOR)) << c.text;
        EXPECT_EQ(ShownState(), UiState::Connected) << c.text;
    }
}

TEST_F(Conditions, NoToTheQuestionChangesNothing) {
    ConnectFirst();
    Check(IDC_RANGE_F1);
    AnswerNext(MessageAnswer::No);

    Click(IDC_SAVE);

    EXPECT_TRUE(Requests().empty());
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_TRUE(Checked(IDC_RANGE_F1));
    EXPECT_EQ(ShownState(), UiState::Connected);
}

struct RewriteCase {
    const char* name;
    void (*prepare)(CQiro7Dlg&, SimulatedUsbDriver&);
    int result;
    UiState state;
    std::size_t requestsSent;
    std::string box;
};

TEST_F(Conditions, TheRewriteTellsAFailedPullFromAFailedWrite) {
    const RewriteCase cases[] = {
        {"written", [](CQiro7Dlg&, SimulatedUsbDriver&) {}, 1, UiState::Connected,
         kDefaultWrites.size() + kConnectRequests.size(),
         LoadResourceString(IDS_CONDITIONS_UPDATED)},
        {"count is no integer",
         [](CQiro7Dlg& w, SimulatedUsbDriver&) { w.SetControlText(IDC_COUNT, "many"); }, 0,
         UiState::Connected, 0, "Enter an integer."},
        {"unplugged", [](CQiro7Dlg&, SimulatedUsbDriver& d) { d.SetPresent(false); }, -1,
         UiState::Disconnected, 0, LoadResourceString(IDS_CONNECTION_ERROR)},
    };
    for (const RewriteCase& c : cases) {
        driver->ClearTransportFaults();
        ConnectFirst();
        c.prepare(*window, *driver);

        EXPECT_EQ(window->RewriteConditions(), c.result) << c.name;

        EXPECT_EQ(ShownState(), c.state) << c.name;
        EXPECT_EQ(Requests().size(), c.requestsSent) << c.name;
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{c.box}) << c.name;
        Type(IDC_COUNT, "0");
    }
}

TEST_F(Conditions, TheComparisonFindsAFactorOf1Point000EqualTo1) {
    Wire wire;
    wire.factorText = "1.000";
    SetInstrumentConditions(wire);
    ConnectFirst();
    ASSERT_EQ(Text(IDC_CORRECTION_FACTOR), "1");
    ASSERT_TRUE(window->UpdateData(true));

    EXPECT_EQ(window->CompareConditions(), 0);
}

struct DifferenceCase {
    const char* name;
    void (*change)(Wire&);
    int code;
};

TEST_F(Conditions, TheComparisonNamesTheFirstSettingTheInstrumentChanged) {
    const DifferenceCase cases[] = {
        {"range", [](Wire& w) { w.range = 3; }, 1},
        {"frequency", [](Wire& w) { w.frequency = 1; }, 2},
        {"zero calibration", [](Wire& w) { w.zeroCalibration = 0; }, 3},
        {"factor switch", [](Wire& w) { w.factorSwitch = 1; }, 4},
        {"factor", [](Wire& w) { w.factorText = "1.001"; }, 5},
        {"averaging", [](Wire& w) { w.averaging = 2; }, 6},
        {"averaging and frequency",
         [](Wire& w) {
             w.averaging = 2;
             w.frequency = 1;
         },
         2},
        {"auto power off", [](Wire& w) { w.autoPowerOff = 4; }, 0},
        {"analog response", [](Wire& w) { w.analogResponse = 1; }, 0},
    };
    for (const DifferenceCase& c : cases) {
        SetInstrumentConditions(Wire{});
        ConnectFirst();
        ASSERT_TRUE(window->UpdateData(true));
        Wire changed;
        c.change(changed);
        SetInstrumentConditions(changed);

        EXPECT_EQ(window->CompareConditions(), c.code) << c.name;
        EXPECT_TRUE(seen.empty()) << c.name;
    }
}

struct CompareFailureCase {
    const char* name;
    const char* command;
    std::vector<std::string> reply;
};

TEST_F(Conditions, AFailedComparisonIsNegativeAndOnlyAMissingInstrumentShowsABox) {
    ConnectFirst();
    ASSERT_TRUE(window->UpdateData(true));
    const CompareFailureCase cases[] = {
        {"factor refused", "CFR", {"NG"}},
        {"averaging refused", "ACR", {"NO"}},
        {"empty range", "MRR", {"OK", "", "END"}},
        {"empty frequency", "FRQR", {"OK", "", "END"}},
        {"empty zero calibration", "ZCR", {"OK", "", "END"}},
        {"empty factor switch", "CFSR", {"OK", "", "END"}},
    };
    for (const CompareFailureCase& c : cases) {
        Override(c.command, c.reply);
        EXPECT_LT(window->CompareConditions(), 0) << c.name;
        EXPECT_NE(window->CompareConditions(), -1) << c.name << ": -1 means not found";
        Override(c.command, {});
    }
    EXPECT_TRUE(seen.empty());

    Override("ACR", {"OK", "", "END"});
    EXPECT_EQ(window->CompareConditions(), 6) << "an empty averaging reply is no failure";

    driver->SetPresent(false);
    EXPECT_EQ(window->CompareConditions(), -1);
    ASSERT_EQ(seen.size(), 1u);
    ExpectWindowBox(0, IDS_CONNECTION_ERROR, MessageIcon::Exclamation);
}

TEST_F(Conditions, TheFactorReplyIsReadWithAFullStopWhateverTheLocale) {
    Wire wire;
    wire.factorText = "0.5";
    SetInstrumentConditions(wire);
    ConnectFirst();
    ASSERT_TRUE(window->UpdateData(true));

    ScopedLocale german("de_DE.UTF-8");
    if (!german.Active()) {
        GTEST_SKIP() << "de_DE.UTF-8 is not available here";
    }
    EXPECT_EQ(window->CompareConditions(), 0);
    wire.factorText = "0.55";
    SetInstrumentConditions(wire);
    EXPECT_EQ(window->CompareConditions(), 5);
}

}  // namespace
