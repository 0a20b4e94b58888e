#include "measure/MeasurementSample.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ParseCase {
    std::string line;
    std::string irradiance;
    std::string integral;
    std::string peak;
    std::string csvFields;
};

TEST(MeasurementSample, ParseTakesTheFirstThreeSpaceSeparatedPieces) {
    const ParseCase cases[] = {
        {"1.234E+00 5.678E-01 9.012E+02", "1.234E+00", "5.678E-01", "9.012E+02",
         "1.234E+00,5.678E-01,9.012E+02"},
        {"1.0 2.0", "1.0", "2.0", "", "1.0,2.0,"},
        {"1.0  2.0 3.0", "1.0", "", "2.0", "1.0,,2.0"},
        {" 1.0 2.0 3.0", "", "1.0", "2.0", ",1.0,2.0"},
        {"", "", "", "", ",,"},
        {"1 2 3 4", "1", "2", "3", "1,2,3"},
        {"1 2 3 ", "1", "2", "3", "1,2,3"},
        {"7", "7", "", "", "7,,"},
        {"a,b c", "a,b", "c", "", "a,b,c,"},
    };
    for (const ParseCase& c : cases) {
        MeasurementSample sample;
        sample.Parse(c.line);
        EXPECT_EQ(sample.rawLine, c.line);
        EXPECT_EQ(sample.irradianceText, c.irradiance) << '"' << c.line << '"';
        EXPECT_EQ(sample.integralIrradianceText, c.integral) << '"' << c.line << '"';
        EXPECT_EQ(sample.peakIrradianceText, c.peak) << '"' << c.line << '"';
        EXPECT_EQ(sample.CsvFields(), c.csvFields) << '"' << c.line << '"';
    }
}

TEST(MeasurementSample, ParseKeepsFieldsThatTheNewLineDoesNotReach) {
    MeasurementSample sample;
    EXPECT_EQ(sample.CsvFields(), ",,");
    sample.Parse("1 2 3");
    sample.Parse("4");
    EXPECT_EQ(sample.rawLine, "4");
    EXPECT_EQ(sample.CsvFields(), "4,2,3");
}

struct SelectCase {
    int type;
    double value;
    std::string text;
};

TEST(MeasurementSample, TypeSelectsFieldAndOtherTypesGiveZero) {
    MeasurementSample sample;
    sample.Parse("1.5E+01 -2.5e-1 over");
    const SelectCase cases[] = {
        {Irradiance, 15.0, "1.5E+01"},
        {IntegralIrradiance, -0.25, "-2.5e-1"},
        {PeakIrradiance, 0.0, "over"},
        {3, 0.0, "0"},
        {-1, 0.0, "0"},
    };
    for (const SelectCase& c : cases) {
        EXPECT_EQ(sample.ValueOf(c.type), c.value) << "type " << c.type;
        EXPECT_EQ(sample.TextOf(c.type), c.text) << "type " << c.type;
    }
}

}  // namespace
