#include "framework/DataExchange.h"

#include <QLineEdit>

#include "framework/FrameworkText.h"
#include "framework/MessageBoxes.h"
#include "framework/TemplateDialog.h"

CDataExchange::CDataExchange(CTemplateDialog& target, bool saveAndValidate)
    : dialog(target), pull(saveAndValidate) {}

void CDataExchange::Radio(int firstButtonId, int& index) {
    if (!Active()) {
        return;
    }
    if (pull) {
        index = dialog.CheckedRadioIndex(firstButtonId);
    } else {
        dialog.CheckRadioIndex(firstButtonId, index);
    }
}

void CDataExchange::Integer(int controlId, int& value) {
    if (!Active()) {
        return;
    }
    if (!pull) {
        dialog.SetControlText(controlId, FormatFrameworkInteger(value));
    } else if (!ParseFrameworkInteger(dialog.ControlText(controlId), value)) {
        Fail(controlId, kPromptInteger);
    }
}

void CDataExchange::Number(int controlId, double& value) {
    if (!Active()) {
        return;
    }
    if (!pull) {
        dialog.SetControlText(controlId, FormatFrameworkNumber(value));
    } else if (!ParseFrameworkNumber(dialog.ControlText(controlId), value)) {
        Fail(controlId, kPromptNumber);
    }
}

void CDataExchange::Text(int controlId, std::string& value) {
    if (!Active()) {
        return;
    }
    if (pull) {
        value = dialog.ControlText(controlId);
    } else {
        dialog.SetControlText(controlId, value);
    }
}

void CDataExchange::IntegerRange(int controlId, int value, int minimum, int maximum) {
    if (Active() && pull && (value < minimum || value > maximum)) {
        Fail(controlId, FormatPrompt(kPromptIntegerRange, FormatFrameworkInteger(minimum),
                                     FormatFrameworkInteger(maximum)));
    }
}

void CDataExchange::NumberRange(int controlId, double value, double minimum, double maximum) {
    if (Active() && pull && (value < minimum || value > maximum)) {
        Fail(controlId, FormatPrompt(kPromptNumberRange, FormatFrameworkNumber(minimum),
                                     FormatFrameworkNumber(maximum)));
    }
}

void CDataExchange::Fail(int controlId, const std::string& prompt) {
    failed = true;
    ShowFrameworkPrompt(prompt, static_cast<QWidget*>(&dialog));
    dialog.FocusControl(controlId);
    if (auto* edit = qobject_cast<QLineEdit*>(dialog.Control(controlId))) {
        edit->selectAll();
    }
}
