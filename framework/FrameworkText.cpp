#include "framework/FrameworkText.h"

#include <cctype>
#include <charconv>
#include <system_error>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// from_chars accepts "-" but not "+"; a "+" directly before a digit or point is dropped.
std::string_view DropPlusSign(std::string_view text) {
    if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+') {
        text.remove_prefix(1);
    }
    return text;
}

std::size_t CountDigits(std::string_view text, std::size_t position) {
    std::size_t count = 0;
    while (position + count < text.size() && IsDigit(text[position + count])) {
        ++count;
    }
    return count;
}

// [sign] (digits [. [digits]] | . digits) [(e|E) [sign] digits], and nothing else.
bool IsDecimalNumber(std::string_view text) {
    std::size_t position = 0;
    if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
        ++position;
    }
    std::size_t mantissaDigits = CountDigits(text, position);
    position += mantissaDigits;
    if (position < text.size() && text[position] == '.') {
        ++position;
        const std::size_t fractionDigits = CountDigits(text, position);
        position += fractionDigits;
        mantissaDigits += fractionDigits;
    }
    if (mantissaDigits == 0) {
        return false;
    }
    if (position < text.size() && (text[position] == 'e' || text[position] == 'E')) {
        ++position;
        if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
            ++position;
        }
        const std::size_t exponentDigits = CountDigits(text, position);
        if (exponentDigits == 0) {
            return false;
        }
        position += exponentDigits;
    }
    return position == text.size();
}

}  // namespace

bool ParseFrameworkInteger(std::string_view text, int& value) {
    const std::string_view number = DropPlusSign(TrimBlanks(text));
    int parsed = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), parsed);
    if (number.empty() || error != std::errc() || end != number.data() + number.size()) {
        return false;
    }
    value = parsed;
    return true;
}

bool ParseFrameworkNumber(std::string_view text, double& value) {
    const std::string_view trimmed = TrimBlanks(text);
    if (!IsDecimalNumber(trimmed)) {
        return false;
    }
    const std::string_view number = DropPlusSign(trimmed);
    double parsed = 0.0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), parsed,
                                              std::chars_format::general);
    if (error != std::errc() || end != number.data() + number.size()) {
        return false;
    }
    value = parsed;
    return true;
}

std::string FormatFrameworkInteger(int value) {
    return std::to_string(value);
}

std::string FormatFrameworkNumber(double value) {
    char buffer[64];
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    return error == std::errc() ? std::string(buffer, end) : std::string();
}

std::string FormatPrompt(std::string_view pattern, std::string_view first,
                         std::string_view second) {
    std::string text;
    for (std::size_t position = 0; position < pattern.size(); ++position) {
        if (pattern[position] == '%' && position + 1 < pattern.size() &&
            (pattern[position + 1] == '1' || pattern[position + 1] == '2')) {
            text += pattern[position + 1] == '1' ? first : second;
            ++position;
        } else {
            text += pattern[position];
        }
    }
    return text;
}

std::vector<FileFilterEntry> ParseFileDialogFilter(std::string_view filter) {
    std::vector<std::string_view> pieces;
    while (!filter.empty()) {
        const std::size_t bar = filter.find('|');
        pieces.push_back(filter.substr(0, bar));
        filter = bar == std::string_view::npos ? std::string_view() : filter.substr(bar + 1);
    }
    std::vector<FileFilterEntry> entries;
    for (std::size_t index = 0; index + 1 < pieces.size() && !pieces[index].empty(); index += 2) {
        entries.push_back({std::string(pieces[index]), std::string(pieces[index + 1])});
    }
    return entries;
}
