#include "framework/MessageBoxes.h"

#include "res/StringTable.h"

namespace {

MessageAnswer Show(std::string text, std::string caption, MessageIcon icon, MessageButtons buttons,
                   void* owner) {
    MessageBoxRequest request;
    request.text = std::move(text);
    request.caption = std::move(caption);
    request.icon = icon;
    request.buttons = buttons;
    request.owner = owner;
    return ActiveModalInteraction()->ShowMessageBox(request);
}

}  // namespace

MessageAnswer ShowStringMessage(int stringId, MessageIcon icon, MessageButtons buttons,
                                void* owner) {
    return Show(LoadResourceString(stringId), kMessageCaption, icon, buttons, owner);
}

void ShowFrameworkPrompt(const std::string& text, void* owner) {
    Show(text, ApplicationName(), MessageIcon::Exclamation, MessageButtons::Ok, owner);
}

MessageBoxRequest SystemErrorRequest(const std::error_code& error, void* owner) {
    MessageBoxRequest request;
    request.text = error.message();
    request.icon = MessageIcon::Error;
    request.buttons = MessageButtons::Ok;
    request.owner = owner;
    return request;
}

void ShowSystemError(const std::error_code& error, void* owner) {
    ActiveModalInteraction()->ShowMessageBox(SystemErrorRequest(error, owner));
}
