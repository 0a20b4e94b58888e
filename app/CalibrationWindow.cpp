// Zero calibration, the last error code, the instrument log, and the reaction to a run the
// instrument aborted, on the window's side: states, the label and the boxes. Window thread.
#include <optional>
#include <string>

#include "app/LogDlg.h"
#include "app/Qiro7Dlg.h"
#include "framework/WaitCursor.h"
#include "link/Instrument.h"
#include "res/StringTable.h"
#include "services/CalibrationServices.h"

void CQiro7Dlg::ShowLastErrorCode(const std::string& code) {
    lastErrorCode = code;
    UpdateData(false);
}

bool CQiro7Dlg::ReadLastErrorIntoLabel(std::string& code) {
    if (!ReadLastErrorCode(code)) {
        return false;
    }
    ShowLastErrorCode(code);
    return true;
}

void CQiro7Dlg::OnCalibrate() {
    if (AskYesNo(IDS_CONFIRM_ZERO_CALIBRATION) == MessageAnswer::No) {
        return;
    }
    UpdateData(true);
    WaitCursor waitCursor;
    SetUiState(UiState::Busy);
    const CalibrationResult calibration = ZeroCalibrate();
    if (calibration.errorCodeRead) {
        ShowLastErrorCode(calibration.lastErrorCode);
    }
    if (calibration.result == ExchangeResult::kOpenFailed) {
        ShowError(IDS_CONNECTION_ERROR);
        SetUiState(UiState::Disconnected);
        return;
    }
    if (calibration.result != 0) {
        ShowError(IDS_CONNECTING_ERROR);
        SetUiState(UiState::Disconnected);
        return;
    }
    SetUiState(UiState::Connected);
}

void CQiro7Dlg::OnGetLastError() {
    WaitCursor waitCursor;
    SetUiState(UiState::Busy);
    std::string code;
    // Stored and pushed before the state change, whose pull would otherwise take the label's
    // old text back into lastErrorCode.
    if (!ReadLastErrorIntoLabel(code)) {
        SetUiState(UiState::Disconnected);
        ShowError(IDS_CONNECTING_ERROR);
        return;
    }
    SetUiState(UiState::Connected);
}

void CQiro7Dlg::OnLog() {
    std::optional<WaitCursor> waitCursor(std::in_place);
    SetUiState(UiState::Busy);
    std::string log;
    if (!ReadInstrumentLog(log)) {
        SetUiState(UiState::Disconnected);
        ShowError(IDS_CONNECTING_ERROR);
        return;
    }
    // The operator reads the log with the normal cursor.
    waitCursor.reset();
    CLogDlg logWindow(log, this);
    logWindow.exec();
    SetUiState(UiState::Connected);
    UpdateData(false);
}

void CQiro7Dlg::ReactToMeasurementError() {
    std::string code;
    ReadLastErrorIntoLabel(code);
    switch (RunErrorKindOf(code)) {
        case RunErrorKind::IntegrationOver:
            SetUiState(UiState::Connected);
            ShowError(IDS_INTEGRATION_OVER);
            break;
        case RunErrorKind::RangeOver:
            SetUiState(UiState::Connected);
            ShowError(IDS_RANGE_OVER);
            break;
        case RunErrorKind::Other:
            SetUiState(UiState::Disconnected);
            ShowError(IDS_MEASUREMENT_FAILED);
            break;
    }
    update();
}
