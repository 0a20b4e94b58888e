#include "framework/FrameworkText.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cstdio>
#include <ostream>
#include <string>

namespace {

struct IntegerCase {
    const char* text;
    bool accepted;
    int value;
};

// Names the case by its text, with blanks other than spaces made visible.
std::ostream& PrintText(std::ostream& out, const char* text) {
    out << '"';
    for (const char* c = text; *c != '\0'; ++c) {
        out << (*c == '\t' ? "\\t" : *c == '\n' ? "\\n" : std::string(1, *c));
    }
    return out << '"';
}

std::ostream& operator<<(std::ostream& out, const IntegerCase& c) {
    return PrintText(out, c.text);
}

class FrameworkIntegerParsing : public testing::TestWithParam<IntegerCase> {};

TEST_P(FrameworkIntegerParsing, AcceptsBlanksSignDigitsBlanksAndNothingElse) {
    const IntegerCase& c = GetParam();
    int value = 4711;
    EXPECT_EQ(ParseFrameworkInteger(c.text, value), c.accepted) << '"' << c.text << '"';
    EXPECT_EQ(value, c.accepted ? c.value : 4711) << "a refused text must leave the value alone";
}

INSTANTIATE_TEST_SUITE_P(
    Table, FrameworkIntegerParsing,
    testing::Values(
        IntegerCase{"0", true, 0}, IntegerCase{"  42", true, 42}, IntegerCase{"42\t ", true, 42},
        IntegerCase{"+7", true, 7}, IntegerCase{"-13", true, -13}, IntegerCase{" -0 ", true, 0},
        IntegerCase{"007", true, 7}, IntegerCase{"2147483647", true, INT_MAX},
        IntegerCase{"-2147483648", true, INT_MIN}, IntegerCase{"", false, 0},
        IntegerCase{"   ", false, 0}, IntegerCase{"2147483648", false, 0},
        IntegerCase{"-2147483649", false, 0}, IntegerCase{"12a", false, 0},
        IntegerCase{"1 2", false, 0}, IntegerCase{"1.0", false, 0}, IntegerCase{"1e3", false, 0},
        IntegerCase{"0x10", false, 0}, IntegerCase{"+-1", false, 0}, IntegerCase{"--1", false, 0},
        IntegerCase{"+", false, 0}, IntegerCase{"- 1", false, 0}, IntegerCase{"\n5", false, 0}));

struct NumberCase {
    const char* text;
    bool accepted;
    double value;
};

std::ostream& operator<<(std::ostream& out, const NumberCase& c) {
    return PrintText(out, c.text);
}

class FrameworkNumberParsing : public testing::TestWithParam<NumberCase> {};

TEST_P(FrameworkNumberParsing, AcceptsOneDecimalNumberBetweenBlanks) {
    const NumberCase& c = GetParam();
    double value = 47.11;
    EXPECT_EQ(ParseFrameworkNumber(c.text, value), c.accepted) << '"' << c.text << '"';
    EXPECT_DOUBLE_EQ(value, c.accepted ? c.value : 47.11);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FrameworkNumberParsing,
    testing::Values(
        NumberCase{"0.001", true, 0.001}, NumberCase{" 1e3 ", true, 1000.0},
        NumberCase{"1.", true, 1.0}, NumberCase{".5", true, 0.5},
        NumberCase{"-2.5E-3", true, -0.0025}, NumberCase{"+1.25", true, 1.25},
        NumberCase{"+.5", true, 0.5}, NumberCase{"\t7\t", true, 7.0},
        NumberCase{"9.999", true, 9.999}, NumberCase{"", false, 0}, NumberCase{" ", false, 0},
        NumberCase{".", false, 0}, NumberCase{"e5", false, 0}, NumberCase{"1e", false, 0},
        NumberCase{"1e+", false, 0}, NumberCase{"1,5", false, 0}, NumberCase{"abc", false, 0},
        NumberCase{"inf", false, 0}, NumberCase{"nan", false, 0}, NumberCase{"0x1p3", false, 0},
        NumberCase{"1e999", false, 0}, NumberCase{"1.5 x", false, 0}, NumberCase{"- 1", false, 0},
        NumberCase{"++1", false, 0}, NumberCase{"1..2", false, 0}));

struct FormatCase {
    double value;
    const char* text;
};

std::ostream& operator<<(std::ostream& out, const FormatCase& c) {
    return out << c.text;
}

class FrameworkNumberFormat : public testing::TestWithParam<FormatCase> {};

TEST_P(FrameworkNumberFormat, WritesFifteenSignificantDigitsWithoutTrailingZeros) {
    EXPECT_EQ(FormatFrameworkNumber(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Table, FrameworkNumberFormat,
                         testing::Values(FormatCase{1.0, "1"}, FormatCase{0.5, "0.5"},
                                         FormatCase{0.001, "0.001"}, FormatCase{9.999, "9.999"},
                                         FormatCase{-0.25, "-0.25"},
                                         FormatCase{1234567.0, "1234567"},
                                         FormatCase{0.1 + 0.2, "0.3"},
                                         FormatCase{2.0 / 3.0, "0.666666666666667"},
                                         FormatCase{1e20, "1e+20"}, FormatCase{1e-5, "1e-05"},
                                         FormatCase{123456789012345678.0, "1.23456789012346e+17"}));

TEST(FrameworkNumberFormat, AgreesWithTheCFormatterAcrossMagnitudes) {
    for (double value = 1e-12; value < 1e18; value *= 7.31) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.*g", 15, value);
        EXPECT_EQ(FormatFrameworkNumber(value), expected);
    }
}

TEST(FrameworkIntegerFormat, WritesPlainDecimal) {
    EXPECT_EQ(FormatFrameworkInteger(0), "0");
    EXPECT_EQ(FormatFrameworkInteger(-5), "-5");
    EXPECT_EQ(FormatFrameworkInteger(1234567), "1234567");
}

// The decimal point stays "." and the comma stays refused whatever the process locale says.
TEST(FrameworkText, IgnoresACommaDecimalLocale) {
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
    }
    double value = 0;
    const bool pointAccepted = ParseFrameworkNumber("1.5", value);
    double refused = 0;
    const bool commaAccepted = ParseFrameworkNumber("1,5", refused);
    const std::string half = FormatFrameworkNumber(0.5);
    std::setlocale(LC_ALL, previous.c_str());

    EXPECT_TRUE(pointAccepted);
    EXPECT_DOUBLE_EQ(value, 1.5);
    EXPECT_FALSE(commaAccepted);
    EXPECT_EQ(half, "0.5");
}

TEST(FrameworkPrompts, RangePromptsNameTheirBoundsInTheFrameworkFormats) {
    EXPECT_EQ(
        FormatPrompt(kPromptIntegerRange, FormatFrameworkInteger(0), FormatFrameworkInteger(999)),
        "Enter an integer between 0 and 999.");
    EXPECT_EQ(FormatPrompt(kPromptNumberRange, FormatFrameworkNumber(0.001),
                           FormatFrameworkNumber(9.999)),
              "Enter a number between 0.001 and 9.999.");
    EXPECT_EQ(FormatPrompt("%2 before %1, 100%", "a", "b"), "b before a, 100%");
}

struct FilterCase {
    const char* filter;
    std::vector<FileFilterEntry> entries;
};

TEST(FileDialogFilter, SplitsIntoDescriptionPatternPairsUpToTheEmptyEnd) {
    const FilterCase cases[] = {
        {"csv file(*.csv)|*.csv|all file(*.*)|*.*||",
         {{"csv file(*.csv)", "*.csv"}, {"all file(*.*)", "*.*"}}},
        {"Text|*.txt;*.log", {{"Text", "*.txt;*.log"}}},
        {"a|*.a||b|*.b||", {{"a", "*.a"}}},
        {"", {}},
        {"lonely", {}},
    };
    for (const FilterCase& c : cases) {
        EXPECT_EQ(ParseFileDialogFilter(c.filter), c.entries) << c.filter;
    }
}

}  // namespace
