// The one seam through which the program asks the operator anything: message boxes (the
// window's helpers, the framework's message function, data-exchange prompts, system error
// boxes) and the save-file dialog. The application installs the real, window-system one;
// tests install a scripted one that records every box in order.
#pragma once

#include <memory>
#include <string>

enum class MessageIcon { None, Information, Exclamation, Question, Error };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

struct MessageBoxRequest {
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
    // Opaque handle of the owning window (the window system's own type); null for none.
    void* owner = nullptr;
};

struct SaveFileRequest {
    // Pairs of description and pattern, e.g. {"csv file(*.csv)", "*.csv"}.
    std::string filter;
    std::string defaultExtension;
    std::string initialFileName;
    bool promptOverwrite = true;
    void* owner = nullptr;
};

class ModalInteraction {
public:
    virtual ~ModalInteraction() = default;

    // May be called from any thread; returns when the operator has answered. An implementation
    // that must show boxes on one thread forwards the call there and waits.
    virtual MessageAnswer ShowMessageBox(const MessageBoxRequest& request) = 0;

    // True with the chosen full path; false when cancelled.
    virtual bool ChooseSaveFileName(const SaveFileRequest& request, std::string& path) = 0;
};

// The answer of a box that nobody answered: No to a question, so nothing is agreed to unasked,
// and Ok to anything else.
MessageAnswer DefaultAnswer(const MessageBoxRequest& request);

// The calling thread's own instance while a ThreadModalInteraction is in force on it, else the
// process-wide one. Until one is installed, boxes get their default answer without showing
// anything and file dialogs are cancelled, so a headless caller never blocks.
std::shared_ptr<ModalInteraction> ActiveModalInteraction();
void InstallModalInteraction(std::shared_ptr<ModalInteraction> interaction);

// While it lives, every box and dialog asked for on the thread that made it goes to
// `interaction` instead of the process-wide instance, whichever code asks. Make and destroy it
// on the same thread.
class ThreadModalInteraction {
public:
    explicit ThreadModalInteraction(std::shared_ptr<ModalInteraction> interaction);
    ~ThreadModalInteraction();
    ThreadModalInteraction(const ThreadModalInteraction&) = delete;
    ThreadModalInteraction& operator=(const ThreadModalInteraction&) = delete;

private:
    std::shared_ptr<ModalInteraction> own;
    const std::shared_ptr<ModalInteraction>* previous;
};

// The application's name (the executable's base name): the caption of framework boxes.
void SetApplicationName(const std::string& name);
std::string ApplicationName();

// The framework's own message function: string-table text, caption = application name,
// no owner window.
MessageAnswer FrameworkMessageBox(int stringId, MessageIcon icon,
                                  MessageButtons buttons = MessageButtons::Ok);
