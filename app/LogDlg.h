// CLogDlg: the modal window that shows the instrument's log (template 104), read-only. "Close",
// Esc and Enter close it; the title bar's close box is greyed. Window thread only.
#pragma once

#include <string>

#include "framework/TemplateDialog.h"

class CLogDlg : public CTemplateDialog {
    Q_OBJECT

public:
    // logText is the instrument's log with its lines separated by CR alone.
    CLogDlg(const std::string& logText, QWidget* parent);

    // The text as the window holds it: every line ends in CR LF but the last.
    const std::string& LogText() const { return text; }

protected:
    void DoDataExchange(CDataExchange& exchange) override;
    bool OnInitDialog() override;

private:
    std::string text;
};

// Every CR becomes CR LF, so each line of the instrument's log is one row of an edit box.
std::string LogTextForDisplay(const std::string& logText);
