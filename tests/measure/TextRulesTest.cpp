#include "measure/TextRules.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <limits>
#include <string>
#include <vector>

namespace {

struct NumberTextCase {
    std::string text;
    bool allowPoint;
    bool accepted;
};

TEST(IsNumberText, AcceptsOnlyDigitsAndPointsWhenAllowed) {
    const NumberTextCase cases[] = {
        {"", false, false},   {"", true, false},           {"0", false, true},
        {"0", true, true},    {"0123456789", false, true}, {"12a", false, false},
        {"12a", true, false}, {"-5", false, false},        {"-5", true, false},
        {"+5", true, false},  {"1 2", false, false},       {" 1", true, false},
        {"1\t", true, false}, {"1.5", false, false},       {"1.5", true, true},
        {".", true, true},    {".", false, false},         {"1.2.3", true, true},
        {"1e5", true, false}, {"1,5", true, false},        {"99999999999999999999", false, true},
    };
    for (const NumberTextCase& c : cases) {
        EXPECT_EQ(IsNumberText(c.text, c.allowPoint), c.accepted)
            << '"' << c.text << "\" allowPoint " << c.allowPoint;
    }
}

struct SplitCase {
    std::string text;
    char separator;
    std::vector<std::string> pieces;
};

TEST(SplitText, SplitsAtEverySeparatorButGivesNothingForEmptyText) {
    const SplitCase cases[] = {
        {"", ' ', {}},
        {"0 0 0", ' ', {"0", "0", "0"}},
        {"abc", ' ', {"abc"}},
        {"a ", ' ', {"a", ""}},
        {" a", ' ', {"", "a"}},
        {" ", ' ', {"", ""}},
        {"  ", ' ', {"", "", ""}},
        {"a  b", ' ', {"a", "", "b"}},
        {"1.000E+00", 'E', {"1.000", "+00"}},
        {"E", 'E', {"", ""}},
        {"a,b", ' ', {"a,b"}},
    };
    for (const SplitCase& c : cases) {
        EXPECT_EQ(SplitText(c.text, c.separator), c.pieces) << '"' << c.text << '"';
    }
}

struct ExponentCase {
    double value;
    std::string text;
};

TEST(ExponentText, WritesSignedExponentWithoutLeadingZeros) {
    const double infinity = std::numeric_limits<double>::infinity();
    const ExponentCase cases[] = {
        {1.0, "1.000E+0"},
        {0.8, "8.000E-1"},
        {0.0, "0.000E+0"},
        {-0.0, "-0.000E+0"},
        {123.46, "1.235E+2"},
        {-0.5, "-5.000E-1"},
        {1e100, "1.000E+100"},
        {0.000125, "1.250E-4"},
        {9.9996, "1.000E+1"},  // rounding carries into the exponent
        {1.0625, "1.062E+0"},  // an exact tie rounds to even, as the C formatter does
        {12345678.0, "1.235E+7"},
        {-2.0e-10, "-2.000E-10"},
        {DBL_MAX, "1.798E+308"},
        {4.9406564584124654e-324, "4.941E-324"},
        {infinity, "INF"},
        {-infinity, "-INF"},
        {std::numeric_limits<double>::quiet_NaN(), "NAN"},
    };
    for (const ExponentCase& c : cases) {
        EXPECT_EQ(ExponentText(c.value), c.text) << c.value;
    }
}

struct FixedCase {
    double value;
    int decimals;
    std::string text;
};

TEST(FixedPointText, RoundsLikeTheCFormatter) {
    const FixedCase cases[] = {
        {3.8, 2, "3.80"},
        {0.30000000000000004, 2, "0.30"},
        {2.0, 1, "2.0"},
        {0.125, 2, "0.12"},
        {0.375, 2, "0.38"},
        {2.5, 0, "2"},
        {3.5, 0, "4"},
        {-0.001, 2, "-0.00"},
        {10000000.0, 0, "10000000"},
        {1.5, -3, "2"},
        {0.1, 30, "0.10000000000000001"},
    };
    for (const FixedCase& c : cases) {
        EXPECT_EQ(FixedPointText(c.value, c.decimals), c.text) << c.value << " " << c.decimals;
    }
}

struct ParseCase {
    std::string text;
    double value;
};

TEST(TextToDouble, ReadsTheLongestDecimalPrefix) {
    const ParseCase cases[] = {
        {"1.5", 1.5},
        {"  2.5e3", 2500.0},
        {"\t\n-1E-2", -0.01},
        {"+3", 3.0},
        {"-.5", -0.5},
        {"5.", 5.0},
        {"12abc", 12.0},
        {"1e+", 1.0},
        {"1,5", 1.0},
        {"0x1A", 0.0},
        {"", 0.0},
        {".", 0.0},
        {"+-3", 0.0},
        {"inf", 0.0},
        {"nan", 0.0},
        {"1e999", DBL_MAX},
        {"-1e999", -DBL_MAX},
        {"0.5e400", DBL_MAX},
        {"1000e-330", 0.0},
        {"0." + std::string(400, '0') + "1", 0.0},
        {"123456789e-300", 1.23456789e-292},
    };
    for (const ParseCase& c : cases) {
        EXPECT_EQ(TextToDouble(c.text), c.value) << '"' << c.text << '"';
    }
}

}  // namespace
