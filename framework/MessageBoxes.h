// The program's message boxes, all through the operator-interaction seam so tests can script
// them: string-table boxes with the caption "QIRO-7", the framework's data-exchange prompts
// (caption = application name) and the system error box. Any thread; the installed
// interaction brings the box to the window thread.
#pragma once

#include <string>
#include <system_error>

#include "link/ModalInteraction.h"

inline constexpr const char* kMessageCaption = "QIRO-7";

// A string-table text in a box with the caption "QIRO-7"; owner is the owning window (a
// QWidget* in this program) or null.
MessageAnswer ShowStringMessage(int stringId, MessageIcon icon, MessageButtons buttons,
                                void* owner);

// A data-exchange prompt: OK, exclamation icon, caption = application name.
void ShowFrameworkPrompt(const std::string& text, void* owner);

// The platform's own text for the error, empty caption, error icon, OK.
MessageBoxRequest SystemErrorRequest(const std::error_code& error, void* owner);
void ShowSystemError(const std::error_code& error, void* owner);
