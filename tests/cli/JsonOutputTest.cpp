// The typed JSON documents: instrument texts to numbers or null, captions to numbers, booleans,
// "never" or null, and the key order a reader sees.
#include "cli/JsonOutput.h"

#include <gtest/gtest.h>

#include <cfloat>

namespace {

JsonDocument Parsed(const char* json) {
    return JsonDocument::parse(json);
}

struct TextCase {
    const char* text;
    std::optional<double> number;
    std::optional<long long> integer;
};

TEST(InstrumentText, IsANumberOnlyWhenTheWholeTextIsOne) {
    const TextCase cases[] = {
        {"1.081E+01", 10.81, std::nullopt},
        {" -0.5\r", -0.5, std::nullopt},
        {".5", 0.5, std::nullopt},
        {"0", 0.0, 0},
        {"+4", 4.0, 4},
        {" -3 ", -3.0, -3},
        {"1e999", DBL_MAX, std::nullopt},  // the number rule's value for it
        {"99999999999999999999", 1e20, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"--.-", std::nullopt, std::nullopt},
        {"+-5", std::nullopt, std::nullopt},
        {"INF", std::nullopt, std::nullopt},
        {"nan", std::nullopt, std::nullopt},
        {"12abc", std::nullopt, std::nullopt},
        {"1.0E", std::nullopt, std::nullopt},
        {"0x1A", std::nullopt, std::nullopt},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(NumberOfText(c.text), c.number);
        EXPECT_EQ(IntegerOfText(c.text), c.integer);
    }
}

MeasurementConditions ConditionsOf(int range, int frequency, int averaging, double factor,
                                   int factorSwitch, int zeroCalibration, int autoPowerOff,
                                   int analogResponse) {
    MeasurementConditions conditions;
    conditions.rangeIndex = range;
    conditions.frequencyIndex = frequency;
    conditions.averagingIndex = averaging;
    conditions.correctionFactor = factor;
    conditions.factorSwitchIndex = factorSwitch;
    conditions.zeroCalibrationIndex = zeroCalibration;
    conditions.autoPowerOffIndex = autoPowerOff;
    conditions.analogResponseIndex = analogResponse;
    return conditions;
}

TEST(ConditionsDocument, TypesEachCaptionAndGivesNullWhereNoButtonIsChecked) {
    const struct {
        MeasurementConditions conditions;
        const char* expected;
    } cases[] = {
        {ConditionsOf(0, 0, 0, 1.0, 1, 0, 0, 0),
         R"({"formatVersion":1,"range":"Auto","frequency":50,"averaging":1,"factor":1.0,
             "factorSwitch":false,"zeroCalibration":true,"autoPowerOff":"never",
             "analogResponse":"Slow"})"},
        {ConditionsOf(6, 1, 4, 0.95, 0, 1, 4, 1),
         R"({"formatVersion":1,"range":"F3","frequency":60,"averaging":5,"factor":0.95,
             "factorSwitch":true,"zeroCalibration":false,"autoPowerOff":30,
             "analogResponse":"Fast"})"},
        // Averaging 6 from the instrument has index 5, which no button shows.
        {ConditionsOf(-1, -1, 5, 0.001, -1, -1, -1, -1),
         R"({"formatVersion":1,"range":null,"frequency":null,"averaging":null,"factor":0.001,
             "factorSwitch":null,"zeroCalibration":null,"autoPowerOff":null,
             "analogResponse":null})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        // ordered_json compares key order too.
        EXPECT_EQ(ConditionsDocument(c.conditions), Parsed(c.expected));
    }
}

TEST(InfoDocument, KeepsIdentifiersAsTextsAndReadsTemperaturesAndTheCode) {
    InstrumentInfo info;
    info.model = "QIRO-7";
    info.serialNumber = "00412318";
    info.maintenanceDate = "2026/03/14";
    info.version = "1.04";
    info.detectorTemperature = "24.8";
    info.controllerTemperature = "--.-";
    info.lastErrorCode = "E1";
    info.conditions = ConditionsOf(1, 0, 2, 2.5, 0, 0, 1, 0);
    EXPECT_EQ(InfoDocument(info),
              Parsed(R"({"formatVersion":1,"model":"QIRO-7","serialNumber":"00412318",
                  "maintenanceDate":"2026/03/14","version":"1.04","detectorTemperature":24.8,
                  "controllerTemperature":null,"lastErrorCode":null,
                  "conditions":{"range":"A1","frequency":50,"averaging":3,"factor":2.5,
                  "factorSwitch":true,"zeroCalibration":true,"autoPowerOff":5,
                  "analogResponse":"Slow"}})"));
}

TEST(ErrorDocument, NamesTheCodesItKnows) {
    const struct {
        const char* code;
        const char* expected;
    } cases[] = {
        {"0", R"({"formatVersion":1,"code":0,"meaning":"no error"})"},
        {"4", R"({"formatVersion":1,"code":4,"meaning":"integration over"})"},
        {" 5", R"({"formatVersion":1,"code":5,"meaning":"range over"})"},
        {"7", R"({"formatVersion":1,"code":7,"meaning":null})"},
        {"", R"({"formatVersion":1,"code":null,"meaning":null})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(ErrorDocument(c.code), Parsed(c.expected));
    }
}

TEST(LogDocument, HasOneEntryPerLineTheInstrumentEndedWithCr) {
    const struct {
        const char* log;
        const char* entries;
    } cases[] = {
        {"0001 POWER ON\r0002 STOP\r", R"(["0001 POWER ON","0002 STOP"])"},
        {"0001 POWER ON\r\r0003 STOP", R"(["0001 POWER ON","","0003 STOP"])"},
        {"", "[]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.log);
        EXPECT_EQ(LogDocument(c.log),
                  (JsonDocument{{"formatVersion", 1}, {"entries", Parsed(c.entries)}}));
    }
}

TEST(ListDocument, GivesNullForWhatAnInstrumentDoesNotHave) {
    const std::vector<InstrumentListing> instruments = {
        {{"/dev/a", "bus 1 port 1", UsbDeviceAccess::Available}, "70412318"},
        {{"/dev/b", "bus 1 port 2", UsbDeviceAccess::Busy}, std::nullopt},
    };
    const JsonDocument document = ListDocument(instruments);
    const JsonDocument& listed = document["instruments"];
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0]["access"], "available");
    EXPECT_EQ(listed[0]["serialNumber"], "70412318");
    EXPECT_TRUE(listed[0]["reason"].is_null());
    EXPECT_EQ(listed[1]["access"], "busy");
    EXPECT_TRUE(listed[1]["serialNumber"].is_null());
    EXPECT_EQ(listed[1]["reason"], AccessReason(UsbDeviceAccess::Busy));
}

TEST(SummaryDocument, HasNullStatisticsWithoutSamples) {
    RunReport report;
    report.ended = RunEnd::OutputClosed;
    const JsonDocument empty = SummaryDocument(report)["summary"];
    EXPECT_TRUE(empty["irradiance"].is_null());
    EXPECT_TRUE(empty["finalIntegralIrradiance"].is_null());
    EXPECT_EQ(empty["ended"], "outputClosed");

    report.samples = 2;
    report.irradiance = IrradianceStatistics{1.0, 3.0, 2.0, 1.4};
    report.finalIntegralIrradiance = 0.25;
    const JsonDocument kept = SummaryDocument(report)["summary"];
    EXPECT_EQ(kept["irradiance"], Parsed(R"({"minimum":1.0,"maximum":3.0,"mean":2.0,
                                             "standardDeviation":1.4})"));
    EXPECT_EQ(kept["finalIntegralIrradiance"], 0.25);
}

TEST(MqttSampleDocument, KeepsTheInstrumentsTextBesideItsValue) {
    MeasurementSample sample;
    sample.Parse("1.081E+01 OVER 1.2E+01");
    const PublishedSampleOrigin origin{"00412318", "run-7", 3,
                                       std::chrono::system_clock::time_point{}};
    EXPECT_EQ(MqttSampleDocument(sample, origin),
              Parsed(R"({"formatVersion":1,"serialNumber":"00412318","runId":"run-7",
                  "sequence":3,"time":"1970-01-01T00:00:00.000Z",
                  "irradiance":{"value":10.81,"unit":"mW/cm²","text":"1.081E+01"},
                  "integralIrradiance":{"value":null,"unit":"mJ/cm²","text":"OVER"},
                  "peakIrradiance":{"value":12.0,"unit":"mW/cm²","text":"1.2E+01"}})"));
}

}  // namespace
