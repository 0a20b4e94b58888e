// The measurement conditions on the window's side: the factor text check, the write with its
// boxes, the re-read, Save, and the comparison before a run. Window thread.
#include <string>

#include "app/Qiro7Dlg.h"
#include "framework/WaitCursor.h"
#include "link/Instrument.h"
#include "measure/TextRules.h"
#include "res/StringTable.h"

namespace {

// CompareConditions' code for a failure after the instrument was found.
constexpr int kCompareReadFailed = -2;
// WriteConditions' code for a factor text that may not be sent.
constexpr int kFactorTextRefused = 2;

// A factor text that may not be sent is reported with string 156 and the focus on its box.
bool CheckFactorTextOrReport(CQiro7Dlg& window, std::string& factorText) {
    if (window.CheckFactorText(factorText) != 0) {
        return true;
    }
    window.ShowError(IDS_CHECK_INPUT_VALUE);
    window.FocusControl(IDC_CORRECTION_FACTOR);
    return false;
}

}  // namespace

int CQiro7Dlg::CheckFactorText(std::string& factorText) {
    UpdateData(true);
    factorText = ControlText(IDC_CORRECTION_FACTOR);
    return IsAcceptableFactorText(factorText) ? 1 : 0;
}

int CQiro7Dlg::WriteConditions() {
    UpdateData(true);
    std::string factorText;
    if (!CheckFactorTextOrReport(*this, factorText)) {
        return kFactorTextRefused;
    }
    const int code = WriteConditionSet(conditions, factorText);
    if (code == ExchangeResult::kOpenFailed) {
        ShowError(IDS_CONNECTION_ERROR);
    } else if (code < 0) {
        ShowError(IDS_WRITE_FACTOR_FAILED);
    }
    return code;
}

int CQiro7Dlg::WriteConditionsAndReread() {
    if (WriteConditions() != 0) {
        return 0;
    }
    const int result = ReadInstrumentInfo();
    if (result != 0) {
        ShowError(result == -1 ? IDS_CONNECTION_ERROR : IDS_READ_FACTOR_FAILED);
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
    CInstrument instrument;
    std::string productId;
    if (instrument.CheckConnection(productId) != 1) {
        ShowError(IDS_CONNECTION_ERROR);
        return -1;
    }
    MeasurementConditions reported;
    std::string factorReply;
    if (instrument.ReadCorrectionFactor(factorReply) != 1) {
        return kCompareReadFailed;
    }
    reported.correctionFactor = TextToDouble(factorReply);
    if (!ReadMeasuringConditions(instrument, reported)) {
        return kCompareReadFailed;
    }
    return FirstConditionDifference(conditions, reported);
}
