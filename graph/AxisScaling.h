// The numbers behind the live graph: which entries are drawn, the vertical range, the grid,
// each entry's pixel point and every label's text and top-left anchor. One pure computation
// without drawing or state; the graph control draws its result as it stands. Any thread may
// call it; the callbacks run on the caller's thread, during the call only.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

enum class LabelFont { Label, Small };  // the 10-point label font; the 6-point superscript font

struct TextSize {
    int cx = 0;
    int cy = 0;
};

struct AxisPoint {
    int x = 0;
    int y = 0;
    bool operator==(const AxisPoint&) const = default;
};

struct AxisSegment {
    AxisPoint from;
    AxisPoint to;
    bool operator==(const AxisSegment&) const = default;
};

struct AxisLabel {
    std::string text;
    AxisPoint topLeft;
    LabelFont font = LabelFont::Label;
};

// The smallest and largest of some values.
struct ValueRange {
    double smallest = 0.0;
    double largest = 0.0;
};

struct AxisScalingInputs {
    int width = 0;  // client size in pixels, y growing downward
    int height = 0;
    std::uint64_t entryCount = 0;  // the origin entry included
    int countMode = 0;             // 0 = all entries, 1 = range
    double rangeStart = 0.0;       // whole sample numbers, used in range mode
    double rangeEnd = 0.0;
    double intervalMs = 0.0;
    std::string unitText;  // see UnitTextOf
    // Value and text of list entry i for the selected data type; asked only for drawn entries.
    std::function<double(std::uint64_t)> valueAt;
    std::function<std::string(std::uint64_t)> textAt;
    // Optional: the smallest and largest value of list entries first to last, both drawn. With
    // it the scaling asks for a few values per pixel column only and thins the curve (below);
    // without it every drawn entry's value is asked for and every point kept.
    std::function<ValueRange(std::uint64_t first, std::uint64_t last)> rangeOf;
    // Width and height in pixels of a text drawn in the given font.
    std::function<TextSize(const std::string&, LabelFont)> measureText;
};

struct AxisSpan {
    std::uint64_t start = 0;      // s: list index of the first drawn entry
    std::uint64_t intervals = 0;  // n: the span holds entries s to s + n
};

// Drawing order: grid lines, timeUnitLabel, unitLabel, superscriptLabel, closingLabel, then,
// when the span is not empty, valueLabels, timeLabels, the curve and lastValueLabel.
struct AxisScalingResult {
    std::optional<AxisSpan> span;  // empty: only the frame, grid and fixed labels are drawn
    double yMax = 0.0;             // top of the vertical range (bottom is 0); 0 when no span
    std::array<AxisSegment, 6> horizontalLines;  // top to bottom, the last is the zero line
    std::array<AxisSegment, 6> verticalLines;    // left to right
    AxisLabel timeUnitLabel;                     // "[s]"
    AxisLabel unitLabel;                         // the unit text, e.g. "[mW/cm"
    AxisLabel superscriptLabel;                  // "2" in the small font
    AxisLabel closingLabel;                      // "]"
    std::vector<AxisLabel> valueLabels;          // six, top to bottom
    std::vector<AxisLabel> timeLabels;           // six, left to right
    // The drawn entries' points in order, joined by lines. Thinned (with rangeOf) where entries
    // share a pixel column: only the first point, those of the smallest and the largest value
    // and the last stay. Drawn as separate segments, each with both end pixels, the kept points
    // cover the pixels of all: the column's pixels between its extremes, the same joins between
    // columns.
    std::vector<AxisPoint> curve;
    std::optional<AxisLabel> lastValueLabel;  // the last drawn entry's text as received
};

AxisScalingResult ComputeAxisScaling(const AxisScalingInputs& inputs);

// The unit text of a data type: "[mW/cm" for irradiance and peak irradiance, "[mJ/cm" for
// integral irradiance, empty for any other type.
std::string UnitTextOf(int dataType);
