// The text rules on any text: splitting, a stream line becoming a sample and its CSV line, the
// number texts of the graph, the input checks and the reply and framework number rules. Each is
// checked against what must hold of it, and the number readers against the C library's own.
//
// Input: the text itself; its first 8 bytes also make a double for the exponent text.
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "framework/FrameworkText.h"
#include "link/Instrument.h"
#include "measure/CsvLine.h"
#include "measure/MeasurementSample.h"
#include "measure/TextRules.h"
#include "services/MeasurementConditions.h"

namespace {

std::string Joined(const std::vector<std::string>& pieces, char separator) {
    std::string text;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        text += (i == 0 ? "" : std::string(1, separator)) + pieces[i];
    }
    return text;
}

std::size_t CountOf(const std::string& text, char c) {
    std::size_t count = 0;
    for (const char each : text) {
        count += each == c ? 1 : 0;
    }
    return count;
}

bool SameDouble(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

void CheckSplit(const std::string& text, char separator) {
    const std::vector<std::string> pieces = SplitText(text, separator);
    if (text.empty()) {
        Require(pieces.empty(), "the empty text gives pieces");
        return;
    }
    Require(pieces.size() == CountOf(text, separator) + 1, "n separators do not give n+1 pieces");
    Require(Joined(pieces, separator) == text, "the pieces joined are not the text");
}

// A sample keeps the line and its first three pieces, and its CSV line adds exactly the two
// separating commas and the line end.
void CheckSample(const std::string& line) {
    MeasurementSample sample;
    sample.Parse(line);
    Require(sample.rawLine == line, "the raw line is not the line");
    const std::vector<std::string> pieces = SplitText(line, ' ');
    const std::string* fields[] = {&sample.irradianceText, &sample.integralIrradianceText,
                                   &sample.peakIrradianceText};
    std::size_t fieldCommas = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        Require(*fields[i] == (i < pieces.size() ? pieces[i] : std::string()),
                "a value text is not its piece of the line");
        fieldCommas += CountOf(*fields[i], ',');
        Require(SameDouble(sample.ValueOf(static_cast<int>(i)), TextToDouble(*fields[i])),
                "a value is not its text's number");
        Require(std::isfinite(sample.ValueOf(static_cast<int>(i))), "a value is not finite");
    }
    const std::string csv = sample.CsvFields();
    Require(CountOf(csv, ',') == fieldCommas + 2, "the CSV fields add other than two commas");
    Require(csv == *fields[0] + "," + *fields[1] + "," + *fields[2], "the CSV fields reorder");
    Require(CsvLine(sample) == csv + "\r\n", "the CSV line is not the fields and CR LF");
    Require(sample.ValueOf(3) == 0.0 && sample.ValueOf(-1) == 0.0 && sample.TextOf(3) == "0",
            "an unknown type selects a field");

    MeasurementSample reused;
    reused.Parse("a b c");
    reused.Parse(line);
    if (pieces.size() < 3) {
        Require(reused.peakIrradianceText == "c", "a missing piece clears the previous value");
    }
}

// After blanks and a sign: the decimal notation the C library reads too.
bool IsPlainDecimal(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size() && std::strchr(" \t\n\v\f\r", text[at]) != nullptr && text[at] != 0) {
        ++at;
    }
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        ++at;
    }
    const bool hex = at + 1 < text.size() && text[at] == '0' && (text[at + 1] | 0x20) == 'x';
    return !hex && at < text.size() && (IsDigit(text[at]) || text[at] == '.');
}

void CheckTextToDouble(const std::string& text) {
    const double value = TextToDouble(text);
    Require(std::isfinite(value), "a text's number is not finite");
    if (!IsPlainDecimal(text)) {
        Require(value == 0.0, "a text without a decimal number gives a number");
        return;
    }
    errno = 0;
    const double reference = std::strtod(text.c_str(), nullptr);
    if (std::isinf(reference)) {
        Require(std::fabs(value) == __DBL_MAX__ && std::signbit(value) == std::signbit(reference),
                "an overlarge number is not clamped to the largest double");
    } else if (reference != 0.0 && std::fabs(reference) < __DBL_MIN__) {
        Require(SameDouble(value, reference) || value == 0.0, "a tiny number is misread");
    } else {
        Require(SameDouble(value, reference), "a number reads differently from strtod");
    }
}

void CheckExponentText(double value) {
    const std::string text = ExponentText(value);
    char reference[64];
    std::snprintf(reference, sizeof reference, "%1.3E", value);
    if (!std::isfinite(value)) {
        Require(text == reference, "infinity or NaN is not passed through");
        return;
    }
    const char* marker = std::strchr(reference, 'E');
    const std::size_t e = text.find('E');
    Require(e != std::string::npos && marker != nullptr, "an exponent text without E");
    Require(text.compare(0, e, reference, static_cast<std::size_t>(marker - reference)) == 0,
            "the mantissa differs from %1.3E");
    const std::string exponent = text.substr(e + 1);
    Require(exponent.size() >= 2 && (exponent[0] == '+' || exponent[0] == '-'),
            "the exponent has no sign");
    Require(exponent.size() == 2 || exponent[1] != '0', "the exponent has a leading zero");
    Require(exponent != "-0", "a negative zero exponent");
    for (std::size_t i = 1; i < exponent.size(); ++i) {
        Require(IsDigit(exponent[i]), "the exponent is not a whole number");
    }
    Require(std::strtol(exponent.c_str(), nullptr, 10) == std::strtol(marker + 1, nullptr, 10),
            "the exponent differs from %1.3E");
}

void CheckNumberChecks(const std::string& text) {
    const bool digits = IsNumberText(text, false);
    const bool withPoints = IsNumberText(text, true);
    Require(!digits || withPoints, "digits pass without points but not with them");
    Require(digits == (withPoints && text.find('.') == std::string::npos),
            "a point changes the verdict on a text without points");

    const long reference = std::strtol(text.c_str(), nullptr, 10);
    const long clamped =
        reference < INT_MIN ? INT_MIN : (reference > INT_MAX ? INT_MAX : reference);
    Require(ParseReplyInteger(text) == clamped, "a reply number reads differently from strtol");

    const double number = TextToDouble(text);
    const bool acceptable = withPoints && text.size() <= 5 && number >= 0.001 && number <= 9.999;
    Require(IsAcceptableFactorText(text) == acceptable, "the factor rule disagrees with its parts");
}

void CheckFrameworkNumbers(const std::string& text) {
    int integer = 0;
    if (ParseFrameworkInteger(text, integer)) {
        Require(std::strtol(text.c_str(), nullptr, 10) == integer,
                "an integer box reads differently from strtol");
        int again = 0;
        Require(ParseFrameworkInteger(FormatFrameworkInteger(integer), again) && again == integer,
                "an integer does not survive its own text");
    }
    double number = 0.0;
    if (ParseFrameworkNumber(text, number)) {
        Require(std::isfinite(number), "a number box holds infinity or NaN");
        Require(SameDouble(number, std::strtod(text.c_str(), nullptr)) || number == 0.0,
                "a number box reads differently from strtod");
        double again = 0.0;
        Require(ParseFrameworkNumber(FormatFrameworkNumber(number), again),
                "a number's own text is refused");
        Require(std::fabs(again - number) <= std::fabs(number) * 1e-14,
                "a number's text loses more than its 15 digits");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckSplit(text, ' ');
    CheckSplit(text, 'E');
    if (!text.empty()) {
        CheckSplit(text, text.front());
    }
    CheckSample(text);
    CheckTextToDouble(text);
    CheckExponentText(TextToDouble(text));
    if (size >= sizeof(double)) {
        double bits = 0.0;
        std::memcpy(&bits, data, sizeof bits);
        CheckExponentText(bits);
    }
    CheckNumberChecks(text);
    CheckFrameworkNumbers(text);
    return 0;
}
