// A scripted operator for GUI tests: records every message box (text, caption, icon, buttons,
// owner) and save dialog in order, and answers from a script. Safe to use from any thread, as
// the measurement worker shows boxes too.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link/ModalInteraction.h"

class ScriptedModalInteraction : public ModalInteraction {
public:
    // Answers for the coming Yes/No boxes, in order. With none left a Yes/No box fails the
    // running test and is answered No; an OK box needs no answer.
    void AnswerNext(MessageAnswer answer);
    // Answers for the coming save dialogs: a path, or nullopt for cancel.
    void ChooseNext(std::optional<std::string> path);

    // Runs for every box just before it is answered (on the thread that asked), e.g. to look
    // at the window at that moment.
    void OnEveryBox(std::function<void(const MessageBoxRequest&)> callback);

    std::vector<MessageBoxRequest> Boxes() const;
    std::vector<std::string> Texts() const;
    std::vector<SaveFileRequest> SaveDialogs() const;
    void Clear();

    MessageAnswer ShowMessageBox(const MessageBoxRequest& request) override;
    bool ChooseSaveFileName(const SaveFileRequest& request, std::string& path) override;

private:
    mutable std::mutex mutex;
    std::deque<MessageAnswer> answers;
    std::deque<std::optional<std::string>> choices;
    std::function<void(const MessageBoxRequest&)> everyBox;
    std::vector<MessageBoxRequest> boxes;
    std::vector<SaveFileRequest> saveDialogs;
};

// Installs a fresh scripted operator for one test and puts the silent one back afterwards.
class ScopedScriptedInteraction {
public:
    ScopedScriptedInteraction();
    ~ScopedScriptedInteraction();
    ScopedScriptedInteraction(const ScopedScriptedInteraction&) = delete;
    ScopedScriptedInteraction& operator=(const ScopedScriptedInteraction&) = delete;

    ScriptedModalInteraction* operator->() const { return interaction.get(); }
    ScriptedModalInteraction& operator*() const { return *interaction; }

private:
    std::shared_ptr<ScriptedModalInteraction> interaction;
};
