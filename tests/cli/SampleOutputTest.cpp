// The lines a run writes: the window's CSV line untouched, the arrival time, JSON Lines.
#include "cli/SampleOutput.h"

#include <gtest/gtest.h>

#include "cli/JsonText.h"
#include "measure/CsvLine.h"
#include "tests/common/ScopedLocale.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::system_clock;

MeasurementSample SampleOf(const std::string& line) {
    MeasurementSample sample;
    sample.Parse(line);
    return sample;
}

// 2026-03-14T09:30:00.125Z
const system_clock::time_point kArrival{milliseconds(1773480600125)};

struct LineCase {
    const char* name;
    std::string received;
    SampleLineOptions options;
    std::string expected;
};

TEST(SampleLine, IsTheWindowsCsvLineOrItsJsonObject) {
    const LineCase cases[] = {
        {"csv", "1.234E+01 5.000E-01 1.300E+01", {}, "1.234E+01,5.000E-01,1.300E+01\r\n"},
        {"csv with time",
         "1.234E+01 5.000E-01 1.300E+01",
         {SampleFormat::Csv, true},
         "2026-03-14T09:30:00.125Z,1.234E+01,5.000E-01,1.300E+01\r\n"},
        {"csv of a short line", "1.0 2.0", {}, "1.0,2.0,\r\n"},
        {"jsonl",
         "1.234E+01 5.000E-01 1.300E+01",
         {SampleFormat::JsonLines, false},
         "{\"irradiance\":1.234E+01,\"integralIrradiance\":5.000E-01,"
         "\"peakIrradiance\":1.300E+01}\n"},
        {"jsonl with time",
         "-0.5 0 12",
         {SampleFormat::JsonLines, true},
         "{\"time\":\"2026-03-14T09:30:00.125Z\",\"irradiance\":-0.5,\"integralIrradiance\":0,"
         "\"peakIrradiance\":12}\n"},
        {"jsonl of texts that are no JSON numbers",
         "+1.0 01 \"x\\",
         {SampleFormat::JsonLines},
         "{\"irradiance\":\"+1.0\",\"integralIrradiance\":\"01\","
         "\"peakIrradiance\":\"\\\"x\\\\\"}\n"},
        {"jsonl of a short line",
         "1.5",
         {SampleFormat::JsonLines},
         "{\"irradiance\":1.5,\"integralIrradiance\":\"\",\"peakIrradiance\":\"\"}\n"},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.name);
        const MeasurementSample sample = SampleOf(c.received);
        EXPECT_EQ(SampleLine(sample, c.options, kArrival), c.expected);
        if (c.options.format == SampleFormat::Csv && !c.options.timestamps) {
            EXPECT_EQ(SampleLine(sample, c.options, kArrival), CsvLine(sample));
        }
    }
}

TEST(UtcTimestamp, HasMillisecondsTruncatedAndIgnoresTheLocale) {
    const ScopedLocale german("de_DE.UTF-8");
    EXPECT_EQ(UtcTimestamp(kArrival + std::chrono::microseconds(999)), "2026-03-14T09:30:00.125Z");
    EXPECT_EQ(UtcTimestamp(system_clock::time_point{}), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(UtcTimestamp(system_clock::time_point{milliseconds(951782400999)}),
              "2000-02-29T00:00:00.999Z");
}

TEST(JsonString, EscapesQuotesBackslashesControlCharactersAndBytesThatAreNotUtf8) {
    EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(JsonString("\r\n\t\x01\x7f"), "\"\\u000d\\u000a\\u0009\\u0001\\u007f\"");
    EXPECT_EQ(JsonString("25\xc2\xb0"
                         "C"),
              "\"25\xc2\xb0"
              "C\"");  // UTF-8 stays
    EXPECT_EQ(JsonString("25\xb0"
                         "C \xc3"),
              "\"25\\u00b0C \\u00c3\"");
}

}  // namespace
