// The little JSON the command line writes (--json, --format jsonl): texts as JSON strings, and
// the instrument's number texts as JSON numbers where their notation already is one. Pure.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The text as a JSON string, quotes included. UTF-8 passes unchanged; control characters, and
// bytes that are not UTF-8 (taken as Latin-1), are escaped as \u00XX, so whatever bytes the
// instrument sent come out as valid JSON.
std::string JsonString(std::string_view text);

// The text itself when it is a JSON number (copied as sent, never reformatted), else the text
// as a JSON string.
std::string JsonNumberOrString(std::string_view text);

struct JsonMember {
    std::string name;
    std::string value;  // already JSON
};

// {"name":value,...} on one line, in the given order.
std::string JsonObject(const std::vector<JsonMember>& members);
