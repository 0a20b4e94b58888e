// Connect and Refresh on the window's side: the full information read shown as it arrives,
// and its boxes. Window thread.
#include "app/InstrumentInfoView.h"
#include "app/Qiro7Dlg.h"
#include "framework/WaitCursor.h"
#include "res/StringTable.h"

namespace {

struct TextBox {
    InfoText field;
    int controlId;
};

// The texts that are shown in a box as received.
constexpr TextBox kTextBoxes[] = {
    {InfoText::Model, IDC_MODEL},
    {InfoText::SerialNumber, IDC_SERIAL_NUMBER},
    {InfoText::MaintenanceDate, IDC_MAINTENANCE_DATE},
    {InfoText::Version, IDC_VERSION},
    {InfoText::DetectorTemperature, IDC_DETECTOR_TEMPERATURE},
    {InfoText::ControllerTemperature, IDC_CONTROLLER_TEMPERATURE},
    {InfoText::CorrectionFactor, IDC_CORRECTION_FACTOR},
};

// The full read; a failure is reported and leaves the window Disconnected. True on success.
bool ReadInstrumentOrReport(CQiro7Dlg& window) {
    const int result = window.ReadInstrumentInfo();
    if (result == InfoReadResult::kSuccess) {
        return true;
    }
    window.ShowError(result == InfoReadResult::kNotFound ? IDS_CONNECTION_ERROR
                                                         : IDS_CONNECTING_ERROR);
    window.SetUiState(UiState::Disconnected);
    return false;
}

}  // namespace

InstrumentInfoView::InstrumentInfoView(CQiro7Dlg& mainWindow) : window(mainWindow) {
    info.conditions = window.conditions;
}

// The error code waits in its value for the final push, like the settings.
void InstrumentInfoView::TextRead(InfoText field, const std::string& text) {
    if (field == InfoText::LastErrorCode) {
        window.lastErrorCode = text;
        return;
    }
    for (const TextBox& box : kTextBoxes) {
        if (box.field == field) {
            window.SetControlText(box.controlId, text);
        }
    }
}

// A factor text the framework refuses keeps the old value after its prompt.
void InstrumentInfoView::BeforeConditionReads(MeasurementConditions& conditions) {
    window.UpdateData(true);
    conditions = window.conditions;
}

int InstrumentInfoView::Finish(int result) {
    window.conditions = info.conditions;
    if (result == InfoReadResult::kSuccess) {
        window.UpdateData(false);
    }
    return result;
}

int CQiro7Dlg::ReadInstrumentInfo() {
    InstrumentInfoView view(*this);
    return view.Finish(::ReadInstrumentInfo(view.Info(), &view));
}

void CQiro7Dlg::OnConnect() {
    WaitCursor waitCursor;
    OnReset();
    SetUiState(UiState::Connecting);
    if (ReadInstrumentOrReport(*this)) {
        SetUiState(UiState::Connected);
        ShowInfo(IDS_CONNECTION_ESTABLISHED);
    }
}

void CQiro7Dlg::OnRefresh() {
    WaitCursor waitCursor;
    SetUiState(UiState::Busy);
    if (ReadInstrumentOrReport(*this)) {
        SetUiState(UiState::Connected);
    }
}
