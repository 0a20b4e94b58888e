#include "cli/Usage.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

bool AllDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Edits (insert, delete, replace, swap of neighbours) that turn a into b.
std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) {
        d[i][0] = i;
    }
    for (std::size_t j = 0; j <= b.size(); ++j) {
        d[0][j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

}  // namespace

std::optional<int> ParseWholeNumber(const std::string& text, int minimum, int maximum,
                                    std::string& reason) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (!AllDigits(text) || (error != std::errc() && error != std::errc::result_out_of_range) ||
        end != text.data() + text.size()) {
        reason = "not a whole number";
        return std::nullopt;
    }
    if (error == std::errc::result_out_of_range || value < minimum || value > maximum) {
        reason = "not in range " + std::to_string(minimum) + " to " + std::to_string(maximum);
        return std::nullopt;
    }
    return value;
}

std::optional<double> ParseDuration(const std::string& text, std::string& reason) {
    reason = "not a length of time (a number of seconds, or with s, m or h: 90s, 15m, 8h)";
    if (text.empty()) {
        return std::nullopt;
    }
    const char unit = text.back();
    const double scale = unit == 'h' ? 3600 : unit == 'm' ? 60 : 1;
    const bool hasUnit = unit == 'h' || unit == 'm' || unit == 's';
    const std::string number = hasUnit ? text.substr(0, text.size() - 1) : text;
    const std::size_t point = number.find('.');
    const std::string whole = number.substr(0, point);
    const std::string fraction = point == std::string::npos ? "0" : number.substr(point + 1);
    // Digits on both sides of an optional point only: no sign, exponent or blank.
    if (!AllDigits(whole) || !AllDigits(fraction) || whole.size() > 9) {
        return std::nullopt;
    }
    double value = 0;
    std::from_chars(number.data(), number.data() + number.size(), value, std::chars_format::fixed);
    const double seconds = value * scale;
    if (!(seconds > 0)) {
        reason = "not longer than nothing";
        return std::nullopt;
    }
    reason.clear();
    return seconds;
}

std::optional<std::uint64_t> ParseByteSize(const std::string& text, std::string& reason) {
    reason = "not a size (a whole number of bytes, or with K, M or G: 500M, 2G)";
    const char unit = text.empty() ? '\0' : text.back();
    const int shift = unit == 'G' ? 30 : unit == 'M' ? 20 : unit == 'K' ? 10 : 0;
    const std::string number = shift > 0 ? text.substr(0, text.size() - 1) : text;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (!AllDigits(number) || error != std::errc() || end != number.data() + number.size() ||
        value == 0 || value > (UINT64_MAX >> shift)) {
        return std::nullopt;
    }
    reason.clear();
    return value << shift;
}

std::optional<std::string> NearestName(const std::string& typed,
                                       const std::vector<std::string>& candidates) {
    std::optional<std::string> nearest;
    std::size_t best = typed.size() < 4 ? 1 : 2;  // the edits still called a slip
    for (const std::string& candidate : candidates) {
        const std::size_t distance = EditDistance(typed, candidate);
        if (distance <= best && (!nearest || distance < best)) {
            nearest = candidate;
            best = distance;
        }
    }
    if (nearest || typed.size() < 2) {
        return nearest;
    }
    std::vector<std::string> beginnings;
    std::copy_if(candidates.begin(), candidates.end(), std::back_inserter(beginnings),
                 [&typed](const std::string& c) { return c.starts_with(typed); });
    return beginnings.size() == 1 ? std::optional<std::string>(beginnings.front()) : std::nullopt;
}

std::string Suggestion(const std::string& typed, const std::vector<std::string>& candidates) {
    const std::optional<std::string> nearest = NearestName(typed, candidates);
    return nearest ? "; did you mean " + *nearest + "?" : std::string();
}
