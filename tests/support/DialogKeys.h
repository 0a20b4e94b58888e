// Enter and Esc as an operator may press them in a window that must ignore both: plain, on the
// keypad, and with each modifier.
#pragma once

#include <Qt>

struct DialogKeyPress {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    const char* name;
};

inline const DialogKeyPress kEnterAndEscPresses[] = {
    {Qt::Key_Escape, Qt::NoModifier, "Esc"},
    {Qt::Key_Return, Qt::NoModifier, "Enter"},
    {Qt::Key_Enter, Qt::KeypadModifier, "keypad Enter"},
    {Qt::Key_Escape, Qt::ShiftModifier, "Shift+Esc"},
    {Qt::Key_Escape, Qt::ControlModifier, "Ctrl+Esc"},
    {Qt::Key_Escape, Qt::AltModifier, "Alt+Esc"},
    {Qt::Key_Return, Qt::ShiftModifier, "Shift+Enter"},
    {Qt::Key_Return, Qt::ControlModifier, "Ctrl+Enter"},
    {Qt::Key_Return, Qt::AltModifier, "Alt+Enter"},
    {Qt::Key_Enter, Qt::KeypadModifier | Qt::ControlModifier, "Ctrl+keypad Enter"},
};
