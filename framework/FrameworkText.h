// The window framework's own text rules for data exchange: how a box's text becomes a value,
// how a value is written back, the prompts shown when a text is refused, and the save dialog's
// filter format. Locale-independent (the decimal point is always "."). Any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kPromptInteger = "Enter an integer.";
inline constexpr const char* kPromptNumber = "Enter a number.";
inline constexpr const char* kPromptIntegerRange = "Enter an integer between %1 and %2.";
inline constexpr const char* kPromptNumberRange = "Enter a number between %1 and %2.";

// Blanks (space, tab), an optional sign, decimal digits, blanks, nothing else, in int range.
bool ParseFrameworkInteger(std::string_view text, int& value);

// Blanks, a decimal number with optional sign, fraction and exponent, blanks, nothing else.
// Refuses hexadecimal, infinity, NaN and values beyond the double range.
bool ParseFrameworkNumber(std::string_view text, double& value);

std::string FormatFrameworkInteger(int value);
// printf "%.*g" with 15 significant digits: 1.0 gives "1", 0.5 gives "0.5".
std::string FormatFrameworkNumber(double value);

// The pattern with "%1" and "%2" replaced by first and second.
std::string FormatPrompt(std::string_view pattern, std::string_view first, std::string_view second);

struct FileFilterEntry {
    std::string description;
    std::string pattern;  // patterns separated by ";", e.g. "*.csv"

    bool operator==(const FileFilterEntry&) const = default;
};

// The framework's filter text "description|pattern|description|pattern||" as pairs; the list
// ends at the first empty description or at the end of the text.
std::vector<FileFilterEntry> ParseFileDialogFilter(std::string_view filter);
