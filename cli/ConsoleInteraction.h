// The operator interaction of the command line: every box becomes one message on standard
// error (errors always, the rest not with --quiet). A question is answered Yes when the user
// gave --yes, asked at the terminal when somebody is there to answer, and otherwise answered
// No (the safe answer, as for a box nobody answered), saying how to answer Yes instead.
// There is no file dialog. Thread-safe: the measurement worker's boxes come from its thread.
#pragma once

#include "link/ModalInteraction.h"

class ConsoleInteraction final : public ModalInteraction {
public:
    explicit ConsoleInteraction(bool answerYes) : yes(answerYes) {}

    MessageAnswer ShowMessageBox(const MessageBoxRequest& request) override;
    // Always cancelled: the command line names its files itself.
    bool ChooseSaveFileName(const SaveFileRequest&, std::string&) override { return false; }

private:
    bool yes;
};

// A box's text as one message: carriage returns dropped, later lines indented.
std::string MessageText(const std::string& boxText);
