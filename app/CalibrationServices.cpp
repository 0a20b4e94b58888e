// Zero calibration, the last error code, the instrument log, and the reaction to a run the
// instrument aborted. Window thread.
#include <optional>
#include <string>

#include "app/LogDlg.h"
#include "app/Qiro7Dlg.h"
#include "framework/WaitCursor.h"
#include "link/Instrument.h"
#include "res/StringTable.h"

bool CQiro7Dlg::ReadLastErrorCode(std::string& code) {
    CInstrument instrument;
    if (instrument.ReadLastError(code) != 1) {
        return false;
    }
    lastErrorCode = code;
    UpdateData(false);
    return true;
}

void CQiro7Dlg::OnCalibrate() {
    if (AskYesNo(IDS_CONFIRM_ZERO_CALIBRATION) == MessageAnswer::No) {
        return;
    }
    UpdateData(true);
    WaitCursor waitCursor;
    SetUiState(UiState::Busy);
    CInstrument instrument;
    const int result = instrument.Calibrate();
    if (result == ExchangeResult::kOpenFailed) {
        ShowError(IDS_CONNECTION_ERROR);
        SetUiState(UiState::Disconnected);
        return;
    }
    std::string code;
    ReadLastErrorCode(code);
    if (result != 0) {
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
    if (!ReadLastErrorCode(code)) {
        SetUiState(UiState::Disconnected);
        ShowError(IDS_CONNECTING_ERROR);
        return;
    }
    SetUiState(UiState::Connected);
}

void CQiro7Dlg::OnLog() {
    std::optional<WaitCursor> waitCursor(std::in_place);
    SetUiState(UiState::Busy);
    CInstrument instrument;
    std::string log;
    if (instrument.ReadLog(log) != 1) {
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
    ReadLastErrorCode(code);
    if (code == "4") {
        SetUiState(UiState::Connected);
        ShowError(IDS_INTEGRATION_OVER);
    } else if (code == "5") {
        SetUiState(UiState::Connected);
        ShowError(IDS_RANGE_OVER);
    } else {
        SetUiState(UiState::Disconnected);
        ShowError(IDS_MEASUREMENT_FAILED);
    }
    update();
}
