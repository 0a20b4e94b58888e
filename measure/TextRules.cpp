#include "measure/TextRules.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <charconv>
#include <system_error>

namespace {

constexpr long long kExponentLimit = 1000000;  // far beyond any double, far below overflow

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// An optional sign and digits, stopping at the first other character; 0 when there are none.
long long LeadingInteger(const char* first, const char* last) {
    bool negative = false;
    if (first != last && (*first == '+' || *first == '-')) {
        negative = *first == '-';
        ++first;
    }
    long long magnitude = 0;
    for (; first != last && IsDigit(*first); ++first) {
        magnitude = std::min(magnitude * 10 + (*first - '0'), kExponentLimit);
    }
    return negative ? -magnitude : magnitude;
}

std::string IntegerText(long long value) {
    std::array<char, 24> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return std::string(buffer.data(), result.ptr);
}

// "%1.3E" as the C formatter writes it, whatever the locale: "1.000E+00", "INF", "NAN".
std::string ScientificText(double value) {
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::scientific, 3);
    std::string text(buffer.data(), result.ptr);
    std::transform(text.begin(), text.end(), text.begin(), [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    return text;
}

// The decimal exponent of the first significant digit of a number text such as "0.00012e-5";
// the text must hold a non-zero digit.
long long DecimalMagnitude(const char* first, const char* last) {
    long long integerDigits = 0;
    long long zerosAfterPoint = 0;
    bool afterPoint = false;
    bool significant = false;
    for (; first != last && *first != 'e' && *first != 'E'; ++first) {
        if (*first == '.') {
            afterPoint = true;
        } else if (!afterPoint) {
            significant = significant || *first != '0';
            integerDigits += significant ? 1 : 0;
        } else if (!significant && integerDigits == 0) {
            significant = *first != '0';
            zerosAfterPoint += significant ? 0 : 1;
        }
    }
    const long long exponent = first != last ? LeadingInteger(first + 1, last) : 0;
    const long long leading = integerDigits > 0 ? integerDigits - 1 : -zerosAfterPoint - 1;
    return leading + exponent;
}

bool StartsDecimal(const char* first, const char* last) {
    if (first == last) {
        return false;
    }
    if (IsDigit(*first)) {
        return true;
    }
    return *first == '.' && first + 1 != last && IsDigit(first[1]);
}

}  // namespace

bool IsNumberText(const std::string& text, bool allowPoint) {
    if (text.empty()) {
        return false;
    }
    return std::all_of(text.begin(), text.end(),
                       [allowPoint](char c) { return IsDigit(c) || (allowPoint && c == '.'); });
}

std::vector<std::string> SplitText(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::size_t pieceStart = 0;
    std::size_t pieceEnd = 0;
    while (pieceEnd < text.size()) {
        pieceEnd = std::min(text.find(separator, pieceStart), text.size());
        pieces.push_back(text.substr(pieceStart, pieceEnd - pieceStart));
        pieceStart = pieceEnd + 1;
    }
    return pieces;
}

std::string ExponentText(double value) {
    const std::string formatted = ScientificText(value);
    const std::vector<std::string> pieces = SplitText(formatted, 'E');
    if (pieces.size() < 2) {
        return formatted;
    }
    const std::string& exponentPiece = pieces[1];
    const long long exponent =
        LeadingInteger(exponentPiece.data(), exponentPiece.data() + exponentPiece.size());
    return pieces[0] + (exponent < 0 ? "E" : "E+") + IntegerText(exponent);
}

std::string FixedPointText(double value, int decimals) {
    std::array<char, 400> buffer{};  // DBL_MAX has 309 digits
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, std::clamp(decimals, 0, 17));
    return std::string(buffer.data(), result.ptr);
}

double TextToDouble(const std::string& text) {
    const char* first = text.data();
    const char* const last = first + text.size();
    while (first != last && IsCSpace(*first)) {
        ++first;
    }
    bool negative = false;
    if (first != last && (*first == '+' || *first == '-')) {
        negative = *first == '-';
        ++first;
    }
    if (!StartsDecimal(first, last)) {
        return 0.0;
    }
    double magnitude = 0.0;
    const auto result = std::from_chars(first, last, magnitude, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        magnitude = DecimalMagnitude(first, result.ptr) >= 0 ? DBL_MAX : 0.0;
    } else if (result.ec != std::errc()) {
        return 0.0;
    }
    return negative ? -magnitude : magnitude;
}
