#include "link/ModalInteraction.h"

#include <mutex>
#include <utility>

#include "res/StringTable.h"

namespace {

// Stands in until the application installs its own: answers without showing anything.
class SilentInteraction final : public ModalInteraction {
public:
    MessageAnswer ShowMessageBox(const MessageBoxRequest& request) override {
        return DefaultAnswer(request);
    }
    bool ChooseSaveFileName(const SaveFileRequest&, std::string&) override { return false; }
};

std::mutex registryMutex;
std::shared_ptr<ModalInteraction> activeInteraction = std::make_shared<SilentInteraction>();
std::string applicationName;
// A plain pointer to the scope's own instance: a thread-local with a destructor is unsafe with
// MinGW's emulated thread storage, which may free it before running that destructor.
thread_local const std::shared_ptr<ModalInteraction>* threadInteraction = nullptr;

}  // namespace

MessageAnswer DefaultAnswer(const MessageBoxRequest& request) {
    return request.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
}

std::shared_ptr<ModalInteraction> ActiveModalInteraction() {
    if (threadInteraction != nullptr && *threadInteraction != nullptr) {
        return *threadInteraction;
    }
    std::lock_guard lock(registryMutex);
    return activeInteraction;
}

void InstallModalInteraction(std::shared_ptr<ModalInteraction> interaction) {
    std::lock_guard lock(registryMutex);
    activeInteraction =
        interaction != nullptr ? std::move(interaction) : std::make_shared<SilentInteraction>();
}

ThreadModalInteraction::ThreadModalInteraction(std::shared_ptr<ModalInteraction> interaction)
    : own(std::move(interaction)), previous(std::exchange(threadInteraction, &own)) {}

ThreadModalInteraction::~ThreadModalInteraction() {
    threadInteraction = previous;
}

void SetApplicationName(const std::string& name) {
    std::lock_guard lock(registryMutex);
    applicationName = name;
}

std::string ApplicationName() {
    std::lock_guard lock(registryMutex);
    return applicationName;
}

MessageAnswer FrameworkMessageBox(int stringId, MessageIcon icon, MessageButtons buttons) {
    MessageBoxRequest request;
    request.text = LoadResourceString(stringId);
    request.caption = ApplicationName();
    request.icon = icon;
    request.buttons = buttons;
    return ActiveModalInteraction()->ShowMessageBox(request);
}
