// One data exchange between a dialog's controls and its values, as the framework does it: a
// pull parses each control's text and stops at the first refusal, with the framework's prompt
// and the focus on the offending control; a push writes every value. Window thread only.
#pragma once

#include <string>

class CTemplateDialog;

class CDataExchange {
public:
    CDataExchange(CTemplateDialog& dialog, bool saveAndValidate);

    // True for a pull (controls to values).
    bool IsPull() const { return pull; }
    bool Failed() const { return failed; }

    // The index of the checked button of the group that begins at firstButtonId; -1 for none.
    void Radio(int firstButtonId, int& index);
    void Integer(int controlId, int& value);
    void Number(int controlId, double& value);
    void Text(int controlId, std::string& value);

    // Range checks of a pull; a push ignores them. The prompt names the bounds.
    void IntegerRange(int controlId, int value, int minimum, int maximum);
    void NumberRange(int controlId, double value, double minimum, double maximum);

private:
    bool Active() const { return !failed; }
    void Fail(int controlId, const std::string& prompt);

    CTemplateDialog& dialog;
    const bool pull;
    bool failed = false;
};
