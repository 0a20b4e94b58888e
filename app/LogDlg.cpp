#include "app/LogDlg.h"

#include "framework/DataExchange.h"

std::string LogTextForDisplay(const std::string& logText) {
    std::string display;
    display.reserve(logText.size() + logText.size() / 8);
    for (const char c : logText) {
        display += c;
        if (c == '\r') {
            display += '\n';
        }
    }
    return display;
}

CLogDlg::CLogDlg(const std::string& logText, QWidget* parent)
    : CTemplateDialog(IDD_LOG_DIALOG, parent), text(LogTextForDisplay(logText)) {}

void CLogDlg::DoDataExchange(CDataExchange& exchange) {
    exchange.Text(IDC_LOG_TEXT, text);
}

// No accelerator table here: Esc and Enter must keep their dialog meaning and close the window.
bool CLogDlg::OnInitDialog() {
    CTemplateDialog::OnInitDialog();
    DisableCloseBox();
    return true;
}
