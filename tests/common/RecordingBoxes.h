// A stand-in for the operator: answers every message box with OK and records it, in order, and
// cancels every file dialog. Needs qiro7_link from its user; one thread at a time.
#pragma once

#include <string>
#include <vector>

#include "link/ModalInteraction.h"

class RecordingBoxes final : public ModalInteraction {
public:
    MessageAnswer ShowMessageBox(const MessageBoxRequest& request) override {
        boxes.push_back(request);
        return MessageAnswer::Ok;
    }
    bool ChooseSaveFileName(const SaveFileRequest&, std::string&) override { return false; }

    std::vector<MessageBoxRequest> boxes;
};
