// The shared text rules: the number check of the input boxes, splitting at one separator, and
// the locale-independent number texts of the graph. Pure functions; any thread may call them.
#pragma once

#include <string>
#include <vector>

// True when text is not empty and holds only the digits 0-9 (and full stops with allowPoint).
// No sign, blank, exponent or length rule: those belong to the callers.
bool IsNumberText(const std::string& text, bool allowPoint);

// Splits at every separator: n separators give n + 1 pieces, empty ones included. The empty
// text gives no pieces at all.
std::vector<std::string> SplitText(const std::string& text, char separator);

// "%1.3E" with the exponent rewritten as a signed whole number without leading zeros, e.g.
// 1.000E+0, 8.000E-1, 1.250E-4. Texts without "E" ("INF", "-INF", "NAN") come back unchanged.
std::string ExponentText(double value);

// "%.*f" of value with the given number of decimals (0 to 17), always with a full stop.
std::string FixedPointText(double value, int decimals);

// The leading number of text, 0.0 when there is none: leading white space is skipped, then the
// longest decimal or exponent prefix with an optional sign is read, full stop as decimal point.
// "inf", "nan" and hexadecimal texts are not decimal notation and give 0.0 (or the "0" prefix).
// Always finite: magnitudes beyond the double range give +-DBL_MAX, tiny ones a signed zero.
double TextToDouble(const std::string& text);
