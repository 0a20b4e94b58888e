// The JSON that qiro7-cli writes for programs (--json, --format jsonl, the MQTT payloads): one
// function per output, each returning a document whose keys keep the order written. Every
// top-level object carries "formatVersion"; keys are lowerCamelCase; quantities are numbers,
// switches booleans, and a value the window would not show is null. Identifiers and instrument
// texts that are not quantities (model, serial number, dates, firmware version) stay strings.
// The schemas in cli/schemas/ describe each document. Pure functions; any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/Instruments.h"
#include "measure/MeasurementSample.h"
#include "services/ConnectionServices.h"

using JsonDocument = nlohmann::ordered_json;

inline constexpr int kJsonFormatVersion = 1;

// The document on one line, compact, UTF-8, ended by "\n". A byte of a text that is not part of
// valid UTF-8 is written as U+FFFD (no encoding is guessed), so whatever the instrument sent
// gives valid JSON.
std::string JsonLine(const JsonDocument& document);

// An instrument text as a number by the program's number rule (TextToDouble), when the whole
// text is one number, white space around it allowed: "1.081E+01", " -0.5", ".5". Nullopt for
// anything else: "", "INF", "12abc", "0x1A".
std::optional<double> NumberOfText(const std::string& text);
// The text as a decimal integer, white space around it allowed: "0", "-3", "+4"; nullopt for
// anything else, and for a number beyond long long.
std::optional<long long> IntegerOfText(const std::string& text);

// The JSON key of a condition's name (ConditionNames.h): "factor-switch" -> "factorSwitch".
std::string ConditionJsonKey(const std::string& name);

// get --json: {formatVersion, range, frequency, averaging, factor, factorSwitch,
// zeroCalibration, autoPowerOff, analogResponse}.
JsonDocument ConditionsDocument(const MeasurementConditions& conditions);
// info --json, and the retained MQTT info payload: identity, temperatures (degrees Celsius),
// lastErrorCode and the conditions as a nested object (without a formatVersion of its own).
JsonDocument InfoDocument(const InstrumentInfo& info);
// list --json: {formatVersion, instruments: [{location, path, access, serialNumber, reason}]}.
JsonDocument ListDocument(const std::vector<InstrumentListing>& instruments);
// error --json: {formatVersion, code, meaning}; codeText is the instrument's reply.
JsonDocument ErrorDocument(const std::string& codeText);
// log --json: {formatVersion, entries}; log holds the instrument's lines, each ended by CR.
JsonDocument LogDocument(const std::string& log);

// measure --format jsonl, one per sample: {formatVersion, time (only with an arrival time),
// irradiance, integralIrradiance, peakIrradiance}. mW/cm², mJ/cm², mW/cm².
JsonDocument SampleDocument(const MeasurementSample& sample,
                            std::optional<std::chrono::system_clock::time_point> arrival);

// How a run ended.
enum class RunEnd {
    Completed,          // its count was reached
    Stopped,            // stopped by the user (Ctrl+C, SIGTERM)
    OutputClosed,       // nobody read the output any more
    OutputFailed,       // a sample could not be written
    InstrumentRefused,  // the instrument ended it with NG or NO
    LinkFailed,         // a transfer failed or the instrument stopped answering
};

// Irradiance over a run's accepted samples, mW/cm².
struct IrradianceStatistics {
    double minimum = 0.0;
    double maximum = 0.0;
    double mean = 0.0;
    double standardDeviation = 0.0;  // sample standard deviation (n - 1); 0 for one sample
};

// What a measurement run amounted to, filled by whoever ran it. A plain value.
struct RunReport {
    std::size_t samples = 0;     // accepted by the run
    std::size_t written = 0;     // of those, written to the output
    std::size_t notWritten = 0;  // of those, lost to a failed write
    double durationSeconds = 0.0;
    std::optional<IrradianceStatistics> irradiance;  // none without samples
    std::optional<double> finalIntegralIrradiance;   // mJ/cm², the last sample's
    std::optional<double> peakIrradiance;            // mW/cm², the highest of the run
    std::size_t interruptions = 0;                   // times the readings broke off
    double secondsWithoutReadings = 0.0;             // the length of those breaks together
    RunEnd ended = RunEnd::Completed;
};

// The run's summary: {formatVersion, summary: {...}}, the last jsonl record or, with
// measure --json, the object on standard error.
JsonDocument SummaryDocument(const RunReport& report);

// Where a published sample comes from.
struct PublishedSampleOrigin {
    std::string serialNumber;
    std::string runId;
    std::uint64_t sequence = 0;                     // from 1 within the run
    std::chrono::system_clock::time_point arrival;  // when the computer received it
};

// The MQTT sample payload: {formatVersion, serialNumber, runId, sequence, time, and for each of
// the three quantities {value, unit, text}}, text being the instrument's text unchanged.
JsonDocument MqttSampleDocument(const MeasurementSample& sample,
                                const PublishedSampleOrigin& origin);
