#include "cli/RunSummary.h"

#include <gtest/gtest.h>

#include "tests/common/ScopedLocale.h"

namespace {

MeasurementSample SampleOf(const std::string& line) {
    MeasurementSample sample;
    sample.Parse(line);
    return sample;
}

TEST(RunSummary, NamesTheExtremesTheFinalIntegralAndTheHighestPeak) {
    RunSummary summary;
    for (const char* line : {"2.000E+00 1.0E-01 3.000E+00", "4.000E+00 3.0E-01 4.500E+00",
                             "1.000E+00 3.5E-01 4.000E+00", "5.000E+00 6.0E-01 4.200E+00"}) {
        summary.Add(SampleOf(line));
    }
    EXPECT_EQ(summary.Count(), 4u);
    EXPECT_EQ(summary.Minimum(), 1.0);
    EXPECT_EQ(summary.Maximum(), 5.0);
    EXPECT_DOUBLE_EQ(summary.Mean(), 3.0);
    EXPECT_NEAR(summary.StandardDeviation(), 1.8257418583505538, 1e-12);  // sample (n - 1)
    EXPECT_EQ(summary.FinalIntegral(), 0.6);
    EXPECT_EQ(summary.Peak(), 4.5);
}

TEST(RunSummary, OfNoSamplesHasNoValues) {
    EXPECT_FALSE(RunSummary().FinalIntegral().has_value());
    EXPECT_FALSE(RunSummary().Peak().has_value());
    RunSummary one;
    one.Add(SampleOf("7 8 9"));
    EXPECT_EQ(one.StandardDeviation(), 0.0);
}

// Every number of the summary in the instrument's own notation, whatever the locale.
TEST(RunSummary, WritesMeasuredValuesInTheInstrumentsNotation) {
    const ScopedLocale comma("de_DE.UTF-8");
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {10.598, "1.060E+01"}, {0.0334664, "3.347E-02"}, {-2.5, "-2.500E+00"},
        {0.0, "0.000E+00"},    {1234567.0, "1.235E+06"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MeasuredValueText(c.value), c.text) << c.value;
    }
}

TEST(RunSummary, SaysHowLongInWholeUnits) {
    EXPECT_EQ(DurationText(0.4), "0 s");
    EXPECT_EQ(DurationText(59.6), "1 min 0 s");
    EXPECT_EQ(DurationText(250), "4 min 10 s");
    EXPECT_EQ(DurationText(7380), "2 h 3 min");
}

}  // namespace
