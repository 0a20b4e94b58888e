#include "cli/ConsoleInteraction.h"

#include <string>

MessageAnswer ConsoleInteraction::ShowMessageBox(const MessageBoxRequest& request) {
    std::string text = request.caption.empty() ? "" : request.caption + ": ";
    for (const char c : request.text) {
        if (c == '\r') {
            continue;
        }
        text += c;
        if (c == '\n') {
            text += "    ";
        }
    }
    MessageAnswer answer = MessageAnswer::Ok;
    if (request.buttons == MessageButtons::YesNo) {
        answer = yes ? MessageAnswer::Yes : MessageAnswer::No;
        text += yes ? " -> Yes (--yes)" : " -> No (give --yes to answer Yes)";
    }
    const std::lock_guard lock(mutex);
    std::fprintf(stream, "%s\n", text.c_str());
    std::fflush(stream);
    return answer;
}
