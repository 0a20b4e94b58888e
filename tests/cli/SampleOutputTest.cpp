// The lines a run writes: the window's CSV line untouched, the arrival time, JSON Lines.
#include "cli/SampleOutput.h"

#include <gtest/gtest.h>

#include "cli/JsonOutput.h"
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

// Under a comma-decimal locale too: neither the number rule nor the JSON may follow it.
TEST(SampleLine, IsTheWindowsCsvLineOrItsJsonObject) {
    const ScopedLocale german("de_DE.UTF-8");
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
         "{\"formatVersion\":1,\"irradiance\":12.34,\"integralIrradiance\":0.5,"
         "\"peakIrradiance\":13.0}\n"},
        {"jsonl with time",
         "-0.5 0 12",
         {SampleFormat::JsonLines, true},
         "{\"formatVersion\":1,\"time\":\"2026-03-14T09:30:00.125Z\",\"irradiance\":-0.5,"
         "\"integralIrradiance\":0.0,\"peakIrradiance\":12.0}\n"},
        {"jsonl of numbers JSON would not take as written",
         "+1.0 01 .5",
         {SampleFormat::JsonLines},
         "{\"formatVersion\":1,\"irradiance\":1.0,\"integralIrradiance\":1.0,"
         "\"peakIrradiance\":0.5}\n"},
        {"jsonl of texts that are no numbers",
         "OVER 1.0E \"x\\",
         {SampleFormat::JsonLines},
         "{\"formatVersion\":1,\"irradiance\":null,\"integralIrradiance\":null,"
         "\"peakIrradiance\":null}\n"},
        {"jsonl of a short line",
         "1.5",
         {SampleFormat::JsonLines},
         "{\"formatVersion\":1,\"irradiance\":1.5,\"integralIrradiance\":null,"
         "\"peakIrradiance\":null}\n"},
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

TEST(JsonLine, IsOneLineOfValidUtf8WhateverBytesTheTextHolds) {
    const JsonDocument document = {{"text",
                                    "a\"b\\c\r\n\x01 25\xc2\xb0"
                                    "C 25\xb0"
                                    "C \xc3"}};
    EXPECT_EQ(JsonLine(document),
              "{\"text\":\"a\\\"b\\\\c\\r\\n\\u0001 25\xc2\xb0"
              "C 25\xef\xbf\xbd"
              "C \xef\xbf\xbd\"}\n");
}

}  // namespace
