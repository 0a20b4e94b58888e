// The main window with the simulated instrument behind it and a scripted operator in front of
// it: buttons are clicked as an operator would, every box is recorded with the state the window
// was in when it appeared, and the instrument's request lines are read back. No real sleep: the
// simulator runs on its fast clock and the program's sleep does nothing.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <memory>
#include <string>
#include <vector>

#include "app/Qiro7Dlg.h"
#include "link/Sleep.h"
#include "measure/RunActive.h"
#include "res/StringTable.h"
#include "sim/SimulatedUsbDriver.h"
#include "tests/support/ScriptedModalInteraction.h"

inline constexpr const char* kTestApplicationName = "services_tests";

inline void NoSleep(int) {}

// A box as the operator saw it, with the window's state at that moment.
struct SeenBox {
    MessageBoxRequest request;
    UiState state;
};

class ServicesTest : public testing::Test {
protected:
    ServicesTest() {
        runActive = 0;
        SetApplicationName(kTestApplicationName);
        InstallUsbDriver(driver);
        previousSleep = SetSleepFunction(&NoSleep);
        window = std::make_unique<CQiro7Dlg>();
        window->show();
        operatorScript->OnEveryBox([this](const MessageBoxRequest& request) {
            seen.push_back({request, ShownState()});
        });
    }
    ~ServicesTest() override {
        window.reset();
        SetSleepFunction(previousSleep);
        InstallUsbDriver(nullptr);
    }
    void TearDown() override { EXPECT_EQ(driver->OpenInterfaceCount(), 0) << "link left open"; }

    // --- the operator ---------------------------------------------------------------------
    void Click(int id) {
        QAbstractButton* button = window->Button(id);
        ASSERT_NE(button, nullptr) << id;
        ASSERT_TRUE(button->isEnabled()) << "button " << id << " is disabled";
        button->click();
    }
    void Type(int id, const std::string& text) { window->SetControlText(id, text); }
    void Check(int id) { window->CheckButton(id, true); }
    void AnswerNext(MessageAnswer answer) { operatorScript->AnswerNext(answer); }

    // Connects to the instrument as it is now and forgets what that showed and sent.
    void ConnectFirst() {
        Click(IDC_CONNECT);
        ASSERT_EQ(ShownState(), UiState::Connected) << "the first connect failed";
        Forget();
    }
    void Forget() {
        seen.clear();
        operatorScript->Clear();
        driver->Instrument()->ClearRequestLog();
    }

    // --- what the operator sees -------------------------------------------------------------
    std::string Text(int id) const { return window->ControlText(id); }
    bool Enabled(int id) const { return window->IsControlEnabled(id); }
    bool Checked(int id) const { return window->IsButtonChecked(id); }
    int CheckedIndex(int firstButtonId) const { return window->CheckedRadioIndex(firstButtonId); }

    // The UI state as the controls show it. Connecting and Busy look the same: both are Busy.
    UiState ShownState() const {
        if (!window->IsControlEnabled(IDC_CONNECT)) {
            return window->IsControlEnabled(IDC_START_STOP) ? UiState::Measuring : UiState::Busy;
        }
        if (window->IsControlEnabled(IDC_REFRESH)) {
            return UiState::Connected;
        }
        return window->IsControlEnabled(IDC_CSV_FILE_NAME) ? UiState::Disconnected
                                                           : UiState::Initial;
    }

    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const SeenBox& box : seen) {
            texts.push_back(box.request.text);
        }
        return texts;
    }

    // The box showed the string-table text with the window's caption and the icon's buttons.
    void ExpectWindowBox(std::size_t position, int stringId, MessageIcon icon) const {
        ASSERT_LT(position, seen.size()) << "box " << position << " was not shown";
        const MessageBoxRequest& box = seen[position].request;
        EXPECT_EQ(box.text, LoadResourceString(stringId)) << "box " << position;
        EXPECT_EQ(box.caption, "QIRO-7") << "box " << position;
        EXPECT_EQ(box.icon, icon) << "box " << position;
        EXPECT_EQ(box.buttons,
                  icon == MessageIcon::Question ? MessageButtons::YesNo : MessageButtons::Ok)
            << "box " << position;
    }

    std::vector<std::string> Requests() const { return driver->RequestLog(); }

    // --- the instrument -----------------------------------------------------------------------
    SimulatedInstrument::Conditions InstrumentConditions() {
        return driver->Instrument()->GetConditions();
    }
    void SetInstrumentConditions(const SimulatedInstrument::Conditions& values) {
        driver->Instrument()->SetConditions(values);
    }
    void Override(const std::string& command, std::vector<std::string> lines) {
        driver->Instrument()->SetReplyOverride(command, std::move(lines));
    }

    std::shared_ptr<SimulatedUsbDriver> driver =
        std::make_shared<SimulatedUsbDriver>(SimulatedInstrument::ClockMode::Fast);
    SleepFunction previousSleep = nullptr;
    ScopedScriptedInteraction operatorScript;
    std::unique_ptr<CQiro7Dlg> window;
    std::vector<SeenBox> seen;
};

// The request lines of a full information read.
inline const std::vector<std::string> kFullReadRequests = {
    "STP", "RM",  "WHO",  "SRL", "MT",   "VER", "TMP 0", "TMP 1", "CFR",
    "ACR", "MRR", "FRQR", "ZCR", "CFSR", "ERR", "APR",   "AFR"};
