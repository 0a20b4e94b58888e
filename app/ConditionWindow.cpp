// The measurement conditions on the window's side: the factor text check, the write and re-read
// with their boxes, Save, and the comparison before a run. Window thread.
#include <string>

#include "app/InstrumentInfoView.h"
#include "app/Qiro7Dlg.h"
#include "framework/WaitCursor.h"
#include "link/Instrument.h"
#include "res/StringTable.h"
#include "services/ConditionServices.h"

namespace {

// A factor text that may not be sent is reported with string 156 and the focus on its box.
bool CheckFactorTextOrReport(CQiro7Dlg& window, std::string& factorText) {
    if (window.CheckFactorText(factorText) != 0) {
        return true;
    }
    window.ShowError(IDS_CHECK_INPUT_VALUE);
    window.FocusControl(IDC_CORRECTION_FACTOR);
    return false;
}

// A write that failed on the link is a connection error; any other failure of a write is
// reported as the factor's. A setting without argument fails without a box.
void ReportWriteFailure(CQiro7Dlg& window, int code) {
    if (code == ExchangeResult::kOpenFailed) {
        window.ShowError(IDS_CONNECTION_ERROR);
    } else if (code < 0) {
        window.ShowError(IDS_WRITE_FACTOR_FAILED);
    }
}

}  // namespace

int CQiro7Dlg::CheckFactorText(std::string& factorText) {
    UpdateData(true);
    factorText = ControlText(IDC_CORRECTION_FACTOR);
    return IsAcceptableFactorText(factorText) ? 1 : 0;
}

int CQiro7Dlg::WriteConditionsAndReread() {
    UpdateData(true);
    std::string factorText;
    if (!CheckFactorTextOrReport(*this, factorText)) {
        return 0;
    }
    InstrumentInfoView view(*this);
    const ConditionsUpdate update =
        ::WriteConditionsAndReread(conditions, factorText, view.Info(), &view);
    if (update.written != 0) {
        ReportWriteFailure(*this, update.written);
        return 0;
    }
    if (view.Finish(update.reread) != InfoReadResult::kSuccess) {
        ShowError(update.reread == InfoReadResult::kNotFound ? IDS_CONNECTION_ERROR
                                                             : IDS_READ_FACTOR_FAILED);
        return 0;
    }
    return 1;
}

int CQiro7Dlg::RewriteConditions() {
    WaitCursor waitCursor;
    validationMode = 1;
    if (!UpdateData(true)) {
        return 0;
    }
    SetUiState(UiState::Busy);
    const bool written = WriteConditionsAndReread() == 1;
    SetUiState(written ? UiState::Connected : UiState::Disconnected);
    if (written) {
        ShowInfo(IDS_CONDITIONS_UPDATED);
    }
    update();
    return written ? 1 : -1;
}

void CQiro7Dlg::OnSave() {
    if (AskYesNo(IDS_CONFIRM_WRITE_CONDITIONS) == MessageAnswer::No) {
        return;
    }
    std::string factorText;
    if (!CheckFactorTextOrReport(*this, factorText)) {
        return;
    }
    RewriteConditions();
}

int CQiro7Dlg::CompareConditions() {
    WaitCursor waitCursor;
    const int result = CompareConditionsWithInstrument(conditions);
    if (result == CompareResult::kNotFound) {
        ShowError(IDS_CONNECTION_ERROR);
    }
    return result;
}
