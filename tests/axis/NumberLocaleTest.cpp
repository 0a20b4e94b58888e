#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "graph/AxisScaling.h"
#include "measure/MeasurementSample.h"
#include "measure/TextRules.h"
#include "tests/common/ScopedLocale.h"

namespace {

bool CFormatterWritesDecimalComma() {
    char text[16] = {};
    std::snprintf(text, sizeof text, "%.1f", 1.5);
    return std::string(text) == "1,5";
}

TextSize FixedPitch(const std::string& text, LabelFont) {
    return {7 * static_cast<int>(text.size()), 13};
}

TEST(NumberRules, IgnoreACommaDecimalLocale) {
    ScopedLocale german("de_DE.UTF-8");
    if (!german.Active() || !CFormatterWritesDecimalComma()) {
        GTEST_SKIP() << "de_DE.UTF-8 is not available here";
    }

    EXPECT_EQ(ExponentText(0.8), "8.000E-1");
    EXPECT_EQ(ExponentText(123.46), "1.235E+2");
    EXPECT_EQ(FixedPointText(3.8, 2), "3.80");

    MeasurementSample sample;
    sample.Parse("1.5E+01 1,5 -2.25");
    EXPECT_EQ(sample.ValueOf(Irradiance), 15.0);
    EXPECT_EQ(sample.ValueOf(IntegralIrradiance), 1.0);
    EXPECT_EQ(sample.ValueOf(PeakIrradiance), -2.25);

    AxisScalingInputs inputs;
    inputs.width = 700;
    inputs.height = 400;
    inputs.entryCount = 11;
    inputs.countMode = 1;
    inputs.rangeStart = 3;
    inputs.rangeEnd = 7;
    inputs.intervalMs = 1000;
    inputs.valueAt = [](std::uint64_t i) { return 0.1 * static_cast<double>(i); };
    inputs.textAt = [](std::uint64_t) { return std::string("0.7"); };
    inputs.measureText = &FixedPitch;
    const AxisScalingResult result = ComputeAxisScaling(inputs);
    std::vector<std::string> timeTexts;
    for (const AxisLabel& label : result.timeLabels) {
        timeTexts.push_back(label.text);
    }
    EXPECT_EQ(timeTexts,
              (std::vector<std::string>{"3.00", "3.80", "4.60", "5.40", "6.20", "7.00"}));
    ASSERT_FALSE(result.valueLabels.empty());
    EXPECT_EQ(result.valueLabels.front().text, "7.000E-1");
}

}  // namespace
