#include "graph/AxisScaling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "graph/RangeExtremes.h"

void PrintTo(const AxisPoint& point, std::ostream* out) {
    *out << '(' << point.x << ", " << point.y << ')';
}

void PrintTo(const AxisSegment& segment, std::ostream* out) {
    PrintTo(segment.from, out);
    *out << '-';
    PrintTo(segment.to, out);
}

namespace {

// A fixed-pitch stand-in for the fonts: label font 7 x 13 px per character, small font 4 x 8.
TextSize FakeMeasure(const std::string& text, LabelFont font) {
    const int length = static_cast<int>(text.size());
    return font == LabelFont::Label ? TextSize{7 * length, 13} : TextSize{4 * length, 8};
}

// Inputs for a 700 x 400 control: T = 20, H = 380, plot from x 100 to 600, zero line at y 360.
AxisScalingInputs InputsFor(const std::vector<double>& values, double intervalMs = 1000.0) {
    AxisScalingInputs inputs;
    inputs.width = 700;
    inputs.height = 400;
    inputs.entryCount = values.size();
    inputs.intervalMs = intervalMs;
    inputs.unitText = "[mW/cm";
    inputs.valueAt = [values](std::uint64_t i) { return values.at(i); };
    inputs.textAt = [](std::uint64_t i) { return "text" + std::to_string(i); };
    inputs.measureText = &FakeMeasure;
    return inputs;
}

AxisScalingInputs RangeInputsFor(const std::vector<double>& values, double from, double to) {
    AxisScalingInputs inputs = InputsFor(values);
    inputs.countMode = 1;
    inputs.rangeStart = from;
    inputs.rangeEnd = to;
    return inputs;
}

std::vector<double> Ramp(std::size_t count) {
    std::vector<double> values;
    for (std::size_t i = 0; i < count; ++i) {
        values.push_back(static_cast<double>(i));
    }
    return values;
}

std::vector<std::string> TextsOf(const std::vector<AxisLabel>& labels) {
    std::vector<std::string> texts;
    for (const AxisLabel& label : labels) {
        texts.push_back(label.text);
    }
    return texts;
}

std::vector<AxisPoint> AnchorsOf(const std::vector<AxisLabel>& labels) {
    std::vector<AxisPoint> anchors;
    for (const AxisLabel& label : labels) {
        anchors.push_back(label.topLeft);
    }
    return anchors;
}

struct FrameCase {
    int width;
    int height;
    std::vector<int> lineYs;  // horizontal lines, top to bottom
    std::vector<int> lineXs;  // vertical lines, left to right
    int gridTop;
    int gridBottom;
    AxisPoint secondsAnchor;
};

TEST(AxisScaling, FrameAndGridFollowTheClientSize) {
    const FrameCase cases[] = {
        // T = 20, H = 380
        {700,
         400,
         {43, 106, 170, 233, 296, 360},
         {100, 200, 300, 400, 500, 600},
         20,
         365,
         {650, 374}},
        // T = 16 (16.65 truncated), H = 316.35
        {517,
         333,
         {36, 89, 142, 194, 247, 300},
         {100, 163, 226, 290, 353, 417},
         16,
         305,
         {467, 310}},
        // no plot width at all; T = 0, H = 18.05
        {200, 19, {3, 6, 9, 12, 15, 18}, {100, 100, 100, 100, 100, 100}, 0, 23, {150, 12}},
    };
    for (const FrameCase& c : cases) {
        AxisScalingInputs inputs = InputsFor({0.0});
        inputs.width = c.width;
        inputs.height = c.height;
        const AxisScalingResult result = ComputeAxisScaling(inputs);
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        for (std::size_t k = 0; k < 6; ++k) {
            const AxisSegment horizontal{{95, c.lineYs[k]}, {c.width - 95, c.lineYs[k]}};
            const AxisSegment vertical{{c.lineXs[k], c.gridTop}, {c.lineXs[k], c.gridBottom}};
            EXPECT_EQ(result.horizontalLines[k], horizontal) << "line " << k;
            EXPECT_EQ(result.verticalLines[k], vertical) << "line " << k;
        }
        EXPECT_EQ(result.timeUnitLabel.text, "[s]");
        EXPECT_EQ(result.timeUnitLabel.topLeft, c.secondsAnchor);
    }
}

TEST(AxisScaling, UnitLabelIsBuiltFromThreePieces) {
    const AxisScalingResult result = ComputeAxisScaling(InputsFor({0.0}));
    // "[mW/cm" is 42 x 13 in the label font, "2" is 4 x 8 in the small font.
    const AxisLabel* pieces[] = {&result.unitLabel, &result.superscriptLabel, &result.closingLabel};
    const AxisLabel expected[] = {{"[mW/cm", {10, 9}, LabelFont::Label},
                                  {"2", {52, 7}, LabelFont::Small},
                                  {"]", {58, 9}, LabelFont::Label}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(pieces[i]->text, expected[i].text);
        EXPECT_EQ(pieces[i]->topLeft, expected[i].topLeft) << expected[i].text;
        EXPECT_EQ(pieces[i]->font, expected[i].font) << expected[i].text;
    }
}

TEST(AxisScaling, OriginAloneDrawsOnlyTheFrame) {
    const AxisScalingResult result = ComputeAxisScaling(InputsFor({0.0}));
    EXPECT_FALSE(result.span.has_value());
    EXPECT_TRUE(result.valueLabels.empty());
    EXPECT_TRUE(result.timeLabels.empty());
    EXPECT_TRUE(result.curve.empty());
    EXPECT_FALSE(result.lastValueLabel.has_value());
}

struct SpanCase {
    std::uint64_t count;
    int countMode;
    double from;
    double to;
    std::optional<std::uint64_t> start;  // empty: nothing drawn
    std::uint64_t intervals;
};

TEST(AxisScaling, SpanSelectsTheDrawnEntries) {
    const SpanCase cases[] = {
        {0, 0, 0, 0, std::nullopt, 0},
        {2, 0, 0, 0, 0, 1},
        {101, 0, 0, 0, 0, 100},
        {3, 0, 5, 6, 0, 2},  // the range counts only in range mode
        {11, 1, 3, 7, 3, 4},
        {6, 1, 3, 7, 3, 2},             // range end beyond the last sample
        {10, 1, 0, 2, 0, 2},            // range start 0 includes the origin
        {10, 1, 2.9, 5.7, 2, 3},        // whole numbers, truncated
        {5, 1, 5, 8, std::nullopt, 0},  // range start beyond the last sample
        {5, 1, 4, 8, std::nullopt, 0},  // only the last sample left: n = 0
        {10, 1, 1, 1, std::nullopt, 0},
        {10, 1, 7, 3, std::nullopt, 0},  // end before start selects nothing
        {10, 1, -3, 2, 0, 2},
    };
    for (const SpanCase& c : cases) {
        AxisScalingInputs inputs = RangeInputsFor(Ramp(c.count), c.from, c.to);
        inputs.countMode = c.countMode;
        const AxisScalingResult result = ComputeAxisScaling(inputs);
        SCOPED_TRACE("count " + std::to_string(c.count) + " mode " + std::to_string(c.countMode) +
                     " range " + std::to_string(c.from) + ".." + std::to_string(c.to));
        ASSERT_EQ(result.span.has_value(), c.start.has_value());
        if (c.start) {
            EXPECT_EQ(result.span->start, *c.start);
            EXPECT_EQ(result.span->intervals, c.intervals);
            EXPECT_EQ(result.curve.size(), c.intervals + 1);
            EXPECT_EQ(result.valueLabels.size(), 6u);
            EXPECT_EQ(result.timeLabels.size(), 6u);
        }
    }
}

TEST(AxisScaling, AsksOnlyForTheEntriesOfTheSpan) {
    AxisScalingInputs inputs = RangeInputsFor(Ramp(20), 3, 7);
    std::vector<std::uint64_t> valuesAsked;
    std::vector<std::uint64_t> textsAsked;
    inputs.valueAt = [&valuesAsked](std::uint64_t i) {
        valuesAsked.push_back(i);
        return 1.0;
    };
    inputs.textAt = [&textsAsked](std::uint64_t i) {
        textsAsked.push_back(i);
        return std::string("1.0");
    };
    ComputeAxisScaling(inputs);
    EXPECT_EQ(valuesAsked, (std::vector<std::uint64_t>{3, 4, 5, 6, 7}));
    EXPECT_EQ(textsAsked, (std::vector<std::uint64_t>{7}));
}

TEST(AxisScaling, OneSampleJoinsTheOriginToTheRightEdge) {
    AxisScalingInputs inputs = InputsFor({0.0, 5.0}, 500.0);
    inputs.textAt = [](std::uint64_t i) { return i == 1 ? "5.0E+00" : "0"; };
    const AxisScalingResult result = ComputeAxisScaling(inputs);
    EXPECT_DOUBLE_EQ(result.yMax, 6.0);
    // the largest value sits on the top grid line
    EXPECT_EQ(result.curve, (std::vector<AxisPoint>{{100, 360}, {600, 43}}));
    ASSERT_TRUE(result.lastValueLabel.has_value());
    EXPECT_EQ(result.lastValueLabel->text, "5.0E+00");
    EXPECT_EQ(result.lastValueLabel->topLeft, (AxisPoint{600, 37}));

    EXPECT_EQ(TextsOf(result.valueLabels),
              (std::vector<std::string>{"5.000E+0", "4.000E+0", "3.000E+0", "2.000E+0", "1.000E+0",
                                        "0"}));
    // Right edges at x 96: eight characters are 56 px wide, "0" is 7.
    EXPECT_EQ(
        AnchorsOf(result.valueLabels),
        (std::vector<AxisPoint>{{40, 37}, {40, 100}, {40, 164}, {40, 227}, {40, 290}, {89, 354}}));
    EXPECT_EQ(TextsOf(result.timeLabels),
              (std::vector<std::string>{"0", "0.10", "0.20", "0.30", "0.40", "0.50"}));
    EXPECT_EQ(AnchorsOf(result.timeLabels),
              (std::vector<AxisPoint>{
                  {100, 371}, {200, 371}, {300, 371}, {400, 371}, {500, 371}, {600, 371}}));
}

TEST(AxisScaling, AllZeroValuesUseTheDefaultRange) {
    const AxisScalingResult result = ComputeAxisScaling(InputsFor({0.0, 0.0, 0.0, 0.0}));
    EXPECT_DOUBLE_EQ(result.yMax, 1.2);
    EXPECT_EQ(TextsOf(result.valueLabels),
              (std::vector<std::string>{"1.000E+0", "8.000E-1", "6.000E-1", "4.000E-1", "2.000E-1",
                                        "0"}));
    EXPECT_EQ(result.curve,
              (std::vector<AxisPoint>{{100, 360}, {266, 360}, {433, 360}, {600, 360}}));
}

struct CurveCase {
    AxisScalingInputs inputs;
    double yMax;
    std::vector<std::string> valueTexts;
    std::vector<AxisPoint> curve;
};

TEST(AxisScaling, ValuesMapBetweenZeroLineAndRangeTop) {
    const std::vector<double> negative = {0.0, -2.0, -4.0};
    const CurveCase cases[] = {
        {RangeInputsFor(Ramp(11), 3, 7),
         8.4,
         {"7.000E+0", "5.600E+0", "4.200E+0", "2.800E+0", "1.400E+0", "0"},
         {{100, 224}, {225, 179}, {350, 133}, {475, 88}, {600, 43}}},
        // The origin keeps the largest value at 0: default range, points below the zero line.
        {InputsFor(negative),
         1.2,
         {"1.000E+0", "8.000E-1", "6.000E-1", "4.000E-1", "2.000E-1", "0"},
         {{100, 360}, {350, 993}, {600, 1626}}},
        // Only negative values: the scale runs from 0 at the bottom to negative values upward;
        // -253.3 truncates toward zero to -253.
        {RangeInputsFor(negative, 1, 2),
         -2.4,
         {"-2.000E+0", "-1.600E+0", "-1.200E+0", "-8.000E-1", "-4.000E-1", "0"},
         {{100, 43}, {600, -273}}},
    };
    for (const CurveCase& c : cases) {
        const AxisScalingResult result = ComputeAxisScaling(c.inputs);
        SCOPED_TRACE("yMax " + std::to_string(c.yMax));
        EXPECT_DOUBLE_EQ(result.yMax, c.yMax);
        EXPECT_EQ(TextsOf(result.valueLabels), c.valueTexts);
        EXPECT_EQ(result.curve, c.curve);
    }
}

TEST(AxisScaling, ExtremeValuesStayWithinIntCoordinates) {
    const AxisScalingResult result =
        ComputeAxisScaling(RangeInputsFor({0.0, 1e-300, -1e300}, 1, 2));
    ASSERT_EQ(result.curve.size(), 2u);
    EXPECT_EQ(result.curve[0], (AxisPoint{100, 43}));
    EXPECT_GT(result.curve[1].y, 400);
    ASSERT_TRUE(result.lastValueLabel.has_value());
    EXPECT_EQ(result.lastValueLabel->topLeft.y, result.curve[1].y - 6);
}

struct TimeCase {
    std::uint64_t start;
    std::uint64_t intervals;
    double intervalMs;
    std::vector<std::string> texts;
    std::vector<int> xs;
};

TEST(AxisScaling, TimeLabelsStandOnTheSixVerticalLines) {
    const std::vector<int> onLines = {100, 200, 300, 400, 500, 600};
    const TimeCase cases[] = {
        {0, 1, 1000, {"0", "0.20", "0.40", "0.60", "0.80", "1.00"}, onLines},
        {0, 2, 1000, {"0", "0.40", "0.80", "1.20", "1.60", "2.00"}, onLines},
        // the accumulated offset 2.4 comes out a rounding step low: 499, not 500
        {0, 3, 1000, {"0", "0.60", "1.20", "1.80", "2.40", "3.00"}, {100, 200, 300, 400, 499, 600}},
        {0, 4, 1000, {"0", "0.80", "1.60", "2.40", "3.20", "4.00"}, onLines},
        // t(3) accumulates to just under 4.2 where 3 * 7 / 5 would give exactly 4.2: 399
        {0, 7, 1000, {"0", "1.40", "2.80", "4.20", "5.60", "7.00"}, {100, 200, 300, 399, 499, 600}},
        {3, 4, 1000, {"3.00", "3.80", "4.60", "5.40", "6.20", "7.00"}, onLines},
        {0, 9, 1000, {"0", "1.80", "3.60", "5.40", "7.20", "9.00"}, onLines},
        {0, 10, 1000, {"0", "2.0", "4.0", "6.0", "8.0", "10.0"}, onLines},
        {0, 99, 1000, {"0", "19.8", "39.6", "59.4", "79.2", "99.0"}, onLines},
        {0, 100, 1000, {"0", "20", "40", "60", "80", "100"}, onLines},
        {0, 101, 1000, {"0", "20", "40", "60", "80", "101"}, {100, 200, 300, 400, 499, 600}},
        {5, 100, 1000, {"5", "25", "45", "65", "85", "105"}, onLines},
        {0, 100, 300, {"0", "6", "12", "18", "24", "30"}, onLines},
        {0, 10, 2500, {"0", "5.0", "10.0", "15.0", "20.0", "25.0"}, onLines},
    };
    for (const TimeCase& c : cases) {
        const double end = static_cast<double>(c.start + c.intervals);
        AxisScalingInputs inputs =
            RangeInputsFor(Ramp(c.start + c.intervals + 1), static_cast<double>(c.start), end);
        inputs.intervalMs = c.intervalMs;
        const AxisScalingResult result = ComputeAxisScaling(inputs);
        SCOPED_TRACE("s " + std::to_string(c.start) + " n " + std::to_string(c.intervals));
        EXPECT_EQ(TextsOf(result.timeLabels), c.texts);
        std::vector<int> xs;
        for (const AxisPoint& anchor : AnchorsOf(result.timeLabels)) {
            xs.push_back(anchor.x);
        }
        EXPECT_EQ(xs, c.xs);
    }
}

TEST(AxisScaling, UnitTextFollowsTheDataType) {
    const std::pair<int, std::string> cases[] = {
        {0, "[mW/cm"}, {1, "[mJ/cm"}, {2, "[mW/cm"}, {3, ""}, {-1, ""},
    };
    for (const auto& [dataType, text] : cases) {
        EXPECT_EQ(UnitTextOf(dataType), text) << "type " << dataType;
    }
}

// Every run of lists whose lengths cross several powers of two, against a plain scan.
TEST(RangeExtremes, GiveTheSmallestAndLargestOfEveryRun) {
    std::mt19937 random(17);
    std::uniform_real_distribution<double> value(-5.0, 5.0);
    RangeExtremes extremes;
    for (const std::size_t size : {70u, 1u, 33u}) {
        extremes.Clear();
        std::vector<double> values;
        for (std::size_t i = 0; i < size; ++i) {
            values.push_back(value(random));
            extremes.Append(values.back());
        }
        ASSERT_EQ(extremes.Size(), size);
        for (std::size_t first = 0; first < size; ++first) {
            EXPECT_EQ(extremes.At(first), values[first]);
            for (std::size_t last = first; last < size; ++last) {
                const auto [smallest, largest] =
                    std::minmax_element(values.begin() + first, values.begin() + last + 1);
                const ValueRange range = extremes.Of(first, last);
                EXPECT_EQ(range.smallest, *smallest) << first << ".." << last;
                EXPECT_EQ(range.largest, *largest) << first << ".." << last;
            }
        }
    }
}

}  // namespace
