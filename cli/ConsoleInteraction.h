// The operator interaction of the command line: every box goes to standard error as one
// message, and questions are answered without asking anyone: Yes when the user gave --yes,
// else No (the safe answer, as for a box nobody answered). There is no file dialog.
// Thread-safe: the measurement worker's boxes may come from its own thread.
#pragma once

#include <cstdio>
#include <mutex>

#include "link/ModalInteraction.h"

class ConsoleInteraction final : public ModalInteraction {
public:
    ConsoleInteraction(std::FILE* errors, bool answerYes) : stream(errors), yes(answerYes) {}

    // Writes "caption: text" (later lines of the text indented); a question adds the answer
    // given and, when it is No, how to answer Yes instead.
    MessageAnswer ShowMessageBox(const MessageBoxRequest& request) override;
    // Always cancelled: the command line names its files itself.
    bool ChooseSaveFileName(const SaveFileRequest&, std::string&) override { return false; }

private:
    std::mutex mutex;
    std::FILE* stream;
    bool yes;
};
