#include "cli/RunSummary.h"

#include <gtest/gtest.h>

namespace {

MeasurementSample SampleOf(const std::string& line) {
    MeasurementSample sample;
    sample.Parse(line);
    return sample;
}

TEST(RunSummary, NamesTheExtremesAsSentTheFinalIntegralAndTheHighestPeak) {
    RunSummary summary;
    for (const char* line : {"2.000E+00 1.0E-01 3.000E+00", "4.000E+00 3.0E-01 4.500E+00",
                             "1.000E+00 3.5E-01 4.000E+00", "5.000E+00 6.0E-01 4.200E+00"}) {
        summary.Add(SampleOf(line));
    }
    EXPECT_EQ(summary.Count(), 4u);
    EXPECT_EQ(summary.MinimumText(), "1.000E+00");
    EXPECT_EQ(summary.MaximumText(), "5.000E+00");
    EXPECT_DOUBLE_EQ(summary.Mean(), 3.0);
    EXPECT_NEAR(summary.StandardDeviation(), 1.8257418583505538, 1e-12);  // sample (n - 1)
    EXPECT_EQ(summary.FinalIntegralText(), "6.0E-01");
    EXPECT_EQ(summary.PeakText(), "4.500E+00");
    EXPECT_EQ(summary.Text(1.5),
              "samples: 4\nduration: 1.500 s\n"
              "irradiance [mW/cm2]: min 1.000E+00, max 5.000E+00, mean 3, standard deviation "
              "1.82574\nfinal integral irradiance [mJ/cm2]: 6.0E-01\n"
              "peak irradiance [mW/cm2]: 4.500E+00\n");
}

TEST(RunSummary, OfNoSamplesHasOnlyTheCountAndTheDuration) {
    EXPECT_EQ(RunSummary().Text(0.25), "samples: 0\nduration: 0.250 s\n");
    RunSummary one;
    one.Add(SampleOf("7 8 9"));
    EXPECT_EQ(one.StandardDeviation(), 0.0);
}

}  // namespace
