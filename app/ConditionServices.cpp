// The measurement conditions: check, write, re-read and compare. Not written yet: Save does
// nothing and every service reports failure.
#include "app/Qiro7Dlg.h"

void CQiro7Dlg::OnSave() {}

int CQiro7Dlg::CheckFactorText(std::string& factorText) {
    factorText.clear();
    return 0;
}

int CQiro7Dlg::WriteConditions() {
    return -1;
}

int CQiro7Dlg::WriteConditionsAndReread() {
    return 0;
}

int CQiro7Dlg::CompareConditions() {
    return -1;
}
