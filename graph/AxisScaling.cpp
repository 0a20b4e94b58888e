#include "graph/AxisScaling.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "measure/MeasurementSample.h"
#include "measure/TextRules.h"

namespace {

constexpr int kLeft = 100;     // L; the right plot edge is as far from the right side
constexpr int kTick = 5;       // grid lines reach this far past the plot frame
constexpr int kGridLines = 6;  // each way
constexpr double kHeadroom = 1.2;
constexpr double kTopWhenAllZero = 1.2;
constexpr double kMin = 0.0;  // bottom of the vertical range
// Far outside any window, yet far from int overflow when label offsets are subtracted.
constexpr double kPixelLimit = 1 << 30;

// Truncation toward zero. Saturated, because extreme values (a negative one far below a tiny
// maximum, say) give coordinates that no int holds, and converting those would be undefined.
int Pixel(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    return static_cast<int>(std::clamp(value, -kPixelLimit, kPixelLimit));
}

// Range boxes hold whole numbers 0 to 9999; anything else is clamped rather than converted
// with undefined behaviour.
std::uint64_t WholeNumberOf(double value) {
    constexpr double kBeyondUint64 = 18446744073709551616.0;
    if (!(value > 0.0)) {
        return 0;
    }
    return value >= kBeyondUint64 ? UINT64_MAX : static_cast<std::uint64_t>(value);
}

struct Frame {
    int right = 0;            // R
    int plotWidth = 0;        // W
    int top = 0;              // T
    double plotHeight = 0.0;  // H
};

Frame FrameOf(int width, int height) {
    const double topOffset = 0.05 * height;
    Frame frame;
    frame.right = width - kLeft;
    frame.plotWidth = frame.right - kLeft;
    frame.top = Pixel(topOffset);
    frame.plotHeight = height - topOffset;
    return frame;
}

// A range end before its start would make n wrap around; it selects nothing instead.
std::optional<AxisSpan> SelectSpan(const AxisScalingInputs& inputs) {
    if (inputs.entryCount < 2) {
        return std::nullopt;
    }
    const std::uint64_t lastIndex = inputs.entryCount - 1;
    std::uint64_t start = 0;
    std::uint64_t end = lastIndex;
    if (inputs.countMode == 1) {
        start = WholeNumberOf(inputs.rangeStart);
        if (start > lastIndex) {
            return std::nullopt;
        }
        end = std::min(WholeNumberOf(inputs.rangeEnd), lastIndex);
    }
    if (end <= start) {
        return std::nullopt;
    }
    return AxisSpan{start, end - start};
}

int HorizontalLineY(const Frame& frame, int k) {
    return Pixel(k * frame.plotHeight / kGridLines - frame.top);
}

void PlaceGrid(const Frame& frame, int width, AxisScalingResult& result) {
    const int bottom = Pixel(frame.plotHeight - frame.top + kTick);
    for (int k = 1; k <= kGridLines; ++k) {
        const int y = HorizontalLineY(frame, k);
        result.horizontalLines[k - 1] = {{kLeft - kTick, y}, {width - kLeft + kTick, y}};
    }
    for (int j = 0; j < kGridLines; ++j) {
        const int x = Pixel(j / 5.0 * frame.plotWidth + kLeft);
        result.verticalLines[j] = {{x, frame.top}, {x, bottom}};
    }
}

void PlaceFixedLabels(const Frame& frame, const AxisScalingInputs& inputs,
                      AxisScalingResult& result) {
    const TextSize unitSize = inputs.measureText(inputs.unitText, LabelFont::Label);
    const TextSize squareSize = inputs.measureText("2", LabelFont::Small);
    const TextSize secondsSize = inputs.measureText("[s]", LabelFont::Label);
    const int unitTop = 15 - unitSize.cy / 2;
    result.timeUnitLabel = {
        "[s]", {frame.right + 50, Pixel(frame.plotHeight - secondsSize.cy / 2)}, LabelFont::Label};
    result.unitLabel = {inputs.unitText, {10, unitTop}, LabelFont::Label};
    result.superscriptLabel = {
        "2", {10 + unitSize.cx, unitTop - squareSize.cy / 3}, LabelFont::Small};
    result.closingLabel = {"]", {12 + unitSize.cx + squareSize.cx, unitTop}, LabelFont::Label};
}

std::vector<double> SpanValues(const AxisScalingInputs& inputs, const AxisSpan& span) {
    std::vector<double> values;
    values.reserve(span.intervals + 1);
    for (std::uint64_t i = 0; i <= span.intervals; ++i) {
        values.push_back(inputs.valueAt(span.start + i));
    }
    return values;
}

double RangeTopOf(double largest) {
    const double yMax = kHeadroom * largest;
    return yMax == 0.0 ? kTopWhenAllZero : yMax;
}

void PlaceValueLabels(const Frame& frame, const AxisScalingInputs& inputs, double yMax,
                      AxisScalingResult& result) {
    for (int k = 1; k <= kGridLines; ++k) {
        const double value = (kGridLines - k) / 6.0 * (yMax - kMin);
        std::string text = value == 0.0 ? "0" : ExponentText(value);
        const TextSize size = inputs.measureText(text, LabelFont::Label);
        const AxisPoint topLeft{kLeft - kTick - size.cx + 1,
                                HorizontalLineY(frame, k) - size.cy / 2};
        result.valueLabels.push_back({std::move(text), topLeft, LabelFont::Label});
    }
}

// The precision follows the number of intervals drawn, not the size of the value.
std::string SecondsText(double seconds, std::uint64_t intervals) {
    if (intervals < 10) {
        return FixedPointText(seconds, 2);
    }
    if (intervals < 100) {
        return FixedPointText(seconds, 1);
    }
    return FixedPointText(std::trunc(seconds) + 0.0, 0);  // + 0.0 turns -0 into 0
}

void PlaceTimeLabels(const Frame& frame, const AxisScalingInputs& inputs, const AxisSpan& span,
                     AxisScalingResult& result) {
    const double n = static_cast<double>(span.intervals);
    const int top = Pixel(frame.plotHeight) - frame.top + kTick;
    double offset = 0.0;  // accumulated, so it may drift from m * n / 5 by a rounding step
    for (int m = 0; m < kGridLines; ++m) {
        const double entry = static_cast<double>(span.start) + offset;
        std::string text =
            entry == 0.0 ? "0" : SecondsText(entry * inputs.intervalMs / 1000, span.intervals);
        const TextSize size = inputs.measureText(text, LabelFont::Label);
        const AxisPoint topLeft{Pixel(kLeft + (offset / n) * frame.plotWidth), top + size.cy / 2};
        result.timeLabels.push_back({std::move(text), topLeft, LabelFont::Label});
        offset += n / 5;
    }
}

int CurveX(const Frame& frame, std::uint64_t index, double intervals) {
    return Pixel(kLeft + (static_cast<double>(index) / intervals) * frame.plotWidth);
}

int CurveY(const Frame& frame, double value, double yMax) {
    const double y = frame.plotHeight * (1 - (value - kMin) / (yMax - kMin));
    return Pixel(std::trunc(y) - frame.top);
}

void PlaceEveryPoint(const Frame& frame, const std::vector<double>& values, double yMax,
                     AxisScalingResult& result) {
    const double n = static_cast<double>(values.size() - 1);
    result.curve.reserve(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        result.curve.push_back({CurveX(frame, i, n), CurveY(frame, values[i], yMax)});
    }
}

// The last span entry in the pixel column of entry `first`. Columns follow the entries in
// order: a guess from the mapping run backwards, stepped back into the column if rounding put
// it past the end, then doubling steps forward and halving the gap find the end exactly.
std::uint64_t LastInColumn(const Frame& frame, std::uint64_t first, std::uint64_t n, int x) {
    const double intervals = static_cast<double>(n);
    const auto inColumn = [&](std::uint64_t i) {
        return i <= n && CurveX(frame, i, intervals) == x;
    };
    std::uint64_t last = first;
    if (frame.plotWidth > 0) {
        const double guess = (x + 1 - kLeft) * intervals / frame.plotWidth;
        last = std::max(first, static_cast<std::uint64_t>(std::clamp(guess, 0.0, intervals)));
        while (!inColumn(last)) {
            --last;
        }
    }
    std::uint64_t step = 1;
    while (inColumn(last + step)) {
        last += step;
        step *= 2;
    }
    std::uint64_t beyond = last + step;
    while (beyond - last > 1) {
        const std::uint64_t middle = last + (beyond - last) / 2;
        (inColumn(middle) ? last : beyond) = middle;
    }
    return last;
}

// A y that falls with the value (or rises, when yMax is negative) puts a column's extreme
// pixels at its extreme values.
void PlaceThinnedCurve(const Frame& frame, const AxisScalingInputs& inputs, const AxisSpan& span,
                       double yMax, AxisScalingResult& result) {
    const std::uint64_t n = span.intervals;
    for (std::uint64_t first = 0; first <= n;) {
        const int x = CurveX(frame, first, static_cast<double>(n));
        const std::uint64_t last = LastInColumn(frame, first, n, x);
        const auto pointOf = [&](double value) { return AxisPoint{x, CurveY(frame, value, yMax)}; };
        result.curve.push_back(pointOf(inputs.valueAt(span.start + first)));
        if (last - first >= 2) {
            const ValueRange range = inputs.rangeOf(span.start + first, span.start + last);
            result.curve.push_back(pointOf(range.smallest));
            result.curve.push_back(pointOf(range.largest));
        }
        if (last > first) {
            result.curve.push_back(pointOf(inputs.valueAt(span.start + last)));
        }
        first = last + 1;
    }
}

void PlaceLastValueLabel(const AxisScalingInputs& inputs, const AxisSpan& span,
                         AxisScalingResult& result) {
    const AxisPoint last = result.curve.back();
    std::string text = inputs.textAt(span.start + span.intervals);
    const TextSize size = inputs.measureText(text, LabelFont::Label);
    result.lastValueLabel =
        AxisLabel{std::move(text), {last.x, last.y - size.cy / 2}, LabelFont::Label};
}

}  // namespace

AxisScalingResult ComputeAxisScaling(const AxisScalingInputs& inputs) {
    const Frame frame = FrameOf(inputs.width, inputs.height);
    AxisScalingResult result;
    PlaceGrid(frame, inputs.width, result);
    PlaceFixedLabels(frame, inputs, result);
    result.span = SelectSpan(inputs);
    if (!result.span) {
        return result;
    }
    const AxisSpan& span = *result.span;
    if (inputs.rangeOf) {
        result.yMax = RangeTopOf(inputs.rangeOf(span.start, span.start + span.intervals).largest);
        PlaceThinnedCurve(frame, inputs, span, result.yMax, result);
    } else {
        const std::vector<double> values = SpanValues(inputs, span);
        result.yMax = RangeTopOf(*std::max_element(values.begin(), values.end()));
        PlaceEveryPoint(frame, values, result.yMax, result);
    }
    PlaceValueLabels(frame, inputs, result.yMax, result);
    PlaceTimeLabels(frame, inputs, span, result);
    PlaceLastValueLabel(inputs, span, result);
    return result;
}

std::string UnitTextOf(int dataType) {
    switch (dataType) {
        case Irradiance:
        case PeakIrradiance:
            return "[mW/cm";
        case IntegralIrradiance:
            return "[mJ/cm";
        default:
            return "";
    }
}
