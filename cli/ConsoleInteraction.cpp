#include "cli/ConsoleInteraction.h"

#include <string>

#include "cli/Console.h"

std::string MessageText(const std::string& boxText) {
    std::string text;
    for (const char c : boxText) {
        if (c == '\r') {
            continue;
        }
        text += c;
        if (c == '\n') {
            text += "    ";
        }
    }
    return text;
}

MessageAnswer ConsoleInteraction::ShowMessageBox(const MessageBoxRequest& request) {
    Console& console = Console::Get();
    const std::string text = MessageText(request.text);
    if (request.buttons != MessageButtons::YesNo) {
        if (request.icon == MessageIcon::Exclamation || request.icon == MessageIcon::Error) {
            console.Error(text);
        } else {
            console.Note(text);
        }
        return MessageAnswer::Ok;
    }
    if (yes) {
        console.Note(text + " -> Yes (--yes)");
        return MessageAnswer::Yes;
    }
    if (console.CanAsk()) {
        return console.AskYesNo(text) ? MessageAnswer::Yes : MessageAnswer::No;
    }
    console.Error(text + " -> No (give --yes to answer Yes)");
    return MessageAnswer::No;
}
