// Writes the documents the simulated instrument cannot bring about (null values, texts that are
// not numbers or not UTF-8, every way a run ends, the MQTT sample payload), one per line as
// "<schema file><TAB><document>", for check_json_schemas.py to validate.
#include <cstdio>
#include <string>

#include "cli/JsonOutput.h"

namespace {

void Write(const char* schema, const JsonDocument& document) {
    std::printf("%s\t%s", schema, JsonLine(document).c_str());
}

MeasurementSample SampleOf(const std::string& line) {
    MeasurementSample sample;
    sample.Parse(line);
    return sample;
}

void WriteInstrumentDocuments() {
    InstrumentInfo info;
    info.serialNumber = "00412318";
    info.detectorTemperature = "--.-";
    info.controllerTemperature = "-5.5";
    info.lastErrorCode = "E";
    info.conditions.averagingIndex = 5;  // no button for it
    Write("info.schema.json", InfoDocument(info));
    Write("conditions.schema.json", ConditionsDocument(info.conditions));
    info.conditions = {.rangeIndex = 0,
                       .frequencyIndex = 1,
                       .zeroCalibrationIndex = 1,
                       .factorSwitchIndex = 0,
                       .autoPowerOffIndex = 4,
                       .analogResponseIndex = 1,
                       .correctionFactor = 2.5,
                       .averagingIndex = 4};
    Write("conditions.schema.json", ConditionsDocument(info.conditions));

    for (const UsbDeviceAccess access :
         {UsbDeviceAccess::NoPermission, UsbDeviceAccess::Busy, UsbDeviceAccess::Unopenable}) {
        Write("list.schema.json", ListDocument({{{"/dev/x", "bus 1 port 1", access}, {}}}));
    }
    Write("list.schema.json", ListDocument({}));
    for (const char* code : {"0", "4", "5", "9", "x"}) {
        Write("error.schema.json", ErrorDocument(code));
    }
    Write("log.schema.json", LogDocument(""));
}

void WriteRunDocuments() {
    const auto arrival = std::chrono::system_clock::time_point{std::chrono::milliseconds(1)};
    const MeasurementSample odd = SampleOf("OVER \xb0\xff 1e999");
    Write("sample.schema.json", SampleDocument(odd, arrival));
    Write("sample.schema.json", SampleDocument(SampleOf(""), std::nullopt));

    RunReport report;
    for (const RunEnd ended :
         {RunEnd::Completed, RunEnd::Stopped, RunEnd::OutputClosed, RunEnd::OutputFailed,
          RunEnd::InstrumentRefused, RunEnd::LinkFailed}) {
        report.ended = ended;
        Write("summary.schema.json", SummaryDocument(report));
    }
    report = {3, 2, 1, 0.3, IrradianceStatistics{1.0, 1.2, 1.1, 0.1}, 0.33, 1.25, 1, 0.5};
    Write("summary.schema.json", SummaryDocument(report));

    Write("mqtt-sample.schema.json",
          MqttSampleDocument(SampleOf("1.081E+01 5.000E-01 1.300E+01"),
                             {"70412318", "2026-03-14T09:30:00Z-1", 1, arrival}));
    Write("mqtt-sample.schema.json", MqttSampleDocument(odd, {"", "r", 9999, arrival}));
}

}  // namespace

int main() {
    WriteInstrumentDocuments();
    WriteRunDocuments();
    return 0;
}
