#include "cli/JsonText.h"

#include <cstdio>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::size_t SkipDigits(std::string_view text, std::size_t at) {
    while (at < text.size() && IsDigit(text[at])) {
        ++at;
    }
    return at;
}

// -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
bool IsJsonNumber(std::string_view text) {
    std::size_t at = text.starts_with('-') ? 1 : 0;
    if (at >= text.size() || !IsDigit(text[at])) {
        return false;
    }
    at = text[at] == '0' ? at + 1 : SkipDigits(text, at);
    if (at < text.size() && text[at] == '.') {
        const std::size_t fraction = at + 1;
        at = SkipDigits(text, fraction);
        if (at == fraction) {
            return false;
        }
    }
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
            ++at;
        }
        const std::size_t exponent = at;
        at = SkipDigits(text, exponent);
        if (at == exponent) {
            return false;
        }
    }
    return at == text.size();
}

// The length of the UTF-8 sequence that starts at text[at], 0 when none starts there.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead >= 0xc2 && lead <= 0xdf   ? 2
                               : lead >= 0xe0 && lead <= 0xef ? 3
                               : lead >= 0xf0 && lead <= 0xf4 ? 4
                                                              : 0;
    if (length == 0 || at + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[at + i]) & 0xc0) != 0x80) {
            return 0;
        }
    }
    return length;
}

void AppendEscaped(std::string& json, unsigned char byte) {
    char escaped[8];
    std::snprintf(escaped, sizeof(escaped), "\\u%04x", static_cast<unsigned>(byte));
    json += escaped;
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string json = "\"";
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20 || byte == 0x7f) {
            AppendEscaped(json, byte);
        } else if (byte < 0x80) {
            json += c;
        } else if (const std::size_t length = Utf8SequenceLength(text, at); length > 0) {
            json += text.substr(at, length);
            at += length - 1;
        } else {
            AppendEscaped(json, byte);  // not UTF-8: taken as the Latin-1 character
        }
    }
    return json + "\"";
}

std::string JsonNumberOrString(std::string_view text) {
    return IsJsonNumber(text) ? std::string(text) : JsonString(text);
}

std::string JsonObject(const std::vector<JsonMember>& members) {
    std::string json = "{";
    for (const JsonMember& member : members) {
        json += (json.size() > 1 ? "," : "") + JsonString(member.name) + ":" + member.value;
    }
    return json + "}";
}
