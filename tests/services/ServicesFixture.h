// The main window with the simulated instrument behind it and a scripted operator in front of
// it, for the instrument services: every box is recorded with the state the window was in when
// it appeared.
#pragma once

#include <string>
#include <vector>

#include "res/StringTable.h"
#include "tests/common/ConnectSequence.h"
#include "tests/support/MainWindowFixture.h"

inline constexpr const char* kTestApplicationName = "services_tests";

// A box as the operator saw it, with the window's state at that moment.
struct SeenBox {
    MessageBoxRequest request;
    UiState state;
};

class ServicesTest : public MainWindowFixture {
protected:
    ServicesTest() : MainWindowFixture(kTestApplicationName) {
        operatorScript->OnEveryBox([this](const MessageBoxRequest& request) {
            seen.push_back({request, ShownState()});
        });
    }
    // The window goes before `seen`: a box it shows while closing is still recorded.
    ~ServicesTest() override { window.reset(); }
    void TearDown() override { EXPECT_EQ(driver->OpenInterfaceCount(), 0) << "link left open"; }

    // --- the operator ---------------------------------------------------------------------
    void Check(int id) { window->CheckButton(id, true); }

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

    std::vector<SeenBox> seen;
};
