#include "tests/support/ScriptedModalInteraction.h"

#include <gtest/gtest.h>

void ScriptedModalInteraction::AnswerNext(MessageAnswer answer) {
    std::lock_guard lock(mutex);
    answers.push_back(answer);
}

void ScriptedModalInteraction::ChooseNext(std::optional<std::string> path) {
    std::lock_guard lock(mutex);
    choices.push_back(std::move(path));
}

void ScriptedModalInteraction::OnEveryBox(std::function<void(const MessageBoxRequest&)> callback) {
    std::lock_guard lock(mutex);
    everyBox = std::move(callback);
}

std::vector<MessageBoxRequest> ScriptedModalInteraction::Boxes() const {
    std::lock_guard lock(mutex);
    return boxes;
}

std::vector<std::string> ScriptedModalInteraction::Texts() const {
    std::lock_guard lock(mutex);
    std::vector<std::string> texts;
    for (const MessageBoxRequest& box : boxes) {
        texts.push_back(box.text);
    }
    return texts;
}

std::vector<SaveFileRequest> ScriptedModalInteraction::SaveDialogs() const {
    std::lock_guard lock(mutex);
    return saveDialogs;
}

void ScriptedModalInteraction::Clear() {
    std::lock_guard lock(mutex);
    boxes.clear();
    saveDialogs.clear();
}

MessageAnswer ScriptedModalInteraction::ShowMessageBox(const MessageBoxRequest& request) {
    std::function<void(const MessageBoxRequest&)> callback;
    {
        std::lock_guard lock(mutex);
        boxes.push_back(request);
        callback = everyBox;
    }
    // Outside the lock: the callback may look at the window, which may show boxes itself.
    if (callback) {
        callback(request);
    }
    std::lock_guard lock(mutex);
    if (request.buttons == MessageButtons::Ok) {
        return MessageAnswer::Ok;
    }
    if (answers.empty()) {
        ADD_FAILURE() << "Unscripted question: " << request.text;
        return MessageAnswer::No;
    }
    const MessageAnswer answer = answers.front();
    answers.pop_front();
    return answer;
}

bool ScriptedModalInteraction::ChooseSaveFileName(const SaveFileRequest& request,
                                                  std::string& path) {
    std::lock_guard lock(mutex);
    saveDialogs.push_back(request);
    if (choices.empty()) {
        ADD_FAILURE() << "Unscripted save dialog";
        return false;
    }
    const std::optional<std::string> choice = choices.front();
    choices.pop_front();
    if (!choice) {
        return false;
    }
    path = *choice;
    return true;
}

ScopedScriptedInteraction::ScopedScriptedInteraction()
    : interaction(std::make_shared<ScriptedModalInteraction>()) {
    InstallModalInteraction(interaction);
}

ScopedScriptedInteraction::~ScopedScriptedInteraction() {
    InstallModalInteraction(nullptr);
}
