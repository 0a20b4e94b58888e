#include "cli/JsonOutput.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <system_error>
#include <utility>

#include "cli/ConditionNames.h"
#include "cli/SampleOutput.h"
#include "measure/TextRules.h"
#include "services/CalibrationServices.h"

namespace {

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The text without the white space around it, as [first, last).
std::pair<const char*, const char*> Trimmed(const std::string& text) {
    const char* first = text.data();
    const char* last = first + text.size();
    while (first != last && IsCSpace(*first)) {
        ++first;
    }
    while (last != first && IsCSpace(last[-1])) {
        --last;
    }
    return {first, last};
}

template <typename T>
JsonDocument OrNull(const std::optional<T>& value) {
    return value.has_value() ? JsonDocument(*value) : JsonDocument(nullptr);
}

JsonDocument Versioned() {
    JsonDocument document = JsonDocument::object();
    document["formatVersion"] = kJsonFormatVersion;
    return document;
}

// How a condition's caption becomes a JSON value. Captions not named here stay strings.
enum class CaptionKind { Text, LeadingInteger, Switch, MinutesOrNever };

struct CaptionRule {
    const char* name;
    CaptionKind kind;
};

constexpr CaptionRule kCaptionRules[] = {
    {"frequency", CaptionKind::LeadingInteger},  // "50Hz": Hz
    {"averaging", CaptionKind::LeadingInteger},
    {"factor-switch", CaptionKind::Switch},
    {"zero-calibration", CaptionKind::Switch},
    {"auto-power-off", CaptionKind::MinutesOrNever},  // "Inf": never
};

// What NameConditions shows for a group without a checked button.
constexpr char kNoButtonChecked[] = "none";

CaptionKind KindOf(const std::string& name) {
    const auto found = std::find_if(std::begin(kCaptionRules), std::end(kCaptionRules),
                                    [&name](const CaptionRule& rule) { return name == rule.name; });
    return found != std::end(kCaptionRules) ? found->kind : CaptionKind::Text;
}

std::optional<int> LeadingInteger(const std::string& caption) {
    int value = 0;
    const auto result = std::from_chars(caption.data(), caption.data() + caption.size(), value);
    return result.ec == std::errc() ? std::optional<int>(value) : std::nullopt;
}

JsonDocument CaptionValue(CaptionKind kind, const std::string& caption) {
    if (caption == kNoButtonChecked) {
        return nullptr;
    }
    switch (kind) {
        case CaptionKind::LeadingInteger:
            return OrNull(LeadingInteger(caption));
        case CaptionKind::Switch:
            return caption == "ON"    ? JsonDocument(true)
                   : caption == "OFF" ? JsonDocument(false)
                                      : JsonDocument(nullptr);
        case CaptionKind::MinutesOrNever:
            return caption == "Inf" ? JsonDocument("never") : OrNull(LeadingInteger(caption));
        case CaptionKind::Text:
            break;
    }
    return caption;
}

JsonDocument ConditionsObject(const MeasurementConditions& conditions, JsonDocument object) {
    for (const NamedCondition& condition : NameConditions(conditions)) {
        object[ConditionJsonKey(condition.name)] =
            condition.name == "factor" ? JsonDocument(conditions.correctionFactor)
                                       : CaptionValue(KindOf(condition.name), condition.value);
    }
    return object;
}

const char* AccessName(UsbDeviceAccess access) {
    switch (access) {
        case UsbDeviceAccess::Available:
            return "available";
        case UsbDeviceAccess::NoPermission:
            return "no-permission";
        case UsbDeviceAccess::Busy:
            return "busy";
        case UsbDeviceAccess::Unopenable:
            break;
    }
    return "unopenable";
}

JsonDocument ListingObject(const InstrumentListing& instrument) {
    const std::string reason = AccessReason(instrument.device.access);
    return {
        {"location", instrument.device.location},
        {"path", instrument.device.path},
        {"access", AccessName(instrument.device.access)},
        {"serialNumber", OrNull(instrument.serialNumber)},
        {"reason", reason.empty() ? JsonDocument(nullptr) : JsonDocument(reason)},
    };
}

// Null for a code whose meaning is not known.
JsonDocument ErrorMeaning(std::optional<long long> code) {
    if (!code.has_value()) {
        return nullptr;
    }
    if (*code == 0) {
        return "no error";
    }
    switch (RunErrorKindOf(std::to_string(*code))) {
        case RunErrorKind::IntegrationOver:
            return "integration over";
        case RunErrorKind::RangeOver:
            return "range over";
        case RunErrorKind::Other:
            break;
    }
    return nullptr;
}

const char* RunEndName(RunEnd ended) {
    switch (ended) {
        case RunEnd::Completed:
            return "completed";
        case RunEnd::Stopped:
            return "stopped";
        case RunEnd::OutputClosed:
            return "outputClosed";
        case RunEnd::OutputFailed:
            return "outputFailed";
        case RunEnd::InstrumentRefused:
            return "instrumentRefused";
        case RunEnd::LinkFailed:
            break;
    }
    return "linkFailed";
}

JsonDocument StatisticsObject(const std::optional<IrradianceStatistics>& statistics) {
    if (!statistics.has_value()) {
        return nullptr;
    }
    return {
        {"minimum", statistics->minimum},
        {"maximum", statistics->maximum},
        {"mean", statistics->mean},
        {"standardDeviation", statistics->standardDeviation},
    };
}

JsonDocument Quantity(const std::string& text, const char* unit) {
    return {{"value", OrNull(NumberOfText(text))}, {"unit", unit}, {"text", text}};
}

constexpr char kIrradianceUnit[] = "mW/cm\xc2\xb2";
constexpr char kIntegralIrradianceUnit[] = "mJ/cm\xc2\xb2";

}  // namespace

std::string JsonLine(const JsonDocument& document) {
    return document.dump(-1, ' ', false, JsonDocument::error_handler_t::replace) + "\n";
}

std::optional<double> NumberOfText(const std::string& text) {
    auto [first, last] = Trimmed(text);
    if (first != last && (*first == '+' || *first == '-')) {
        ++first;
    }
    // Only decimal notation: from_chars alone would also take "inf" and "nan".
    const bool decimal =
        first != last &&
        (IsDigit(*first) || (*first == '.' && last - first > 1 && IsDigit(first[1])));
    double ignored = 0.0;
    const auto parsed = std::from_chars(first, last, ignored, std::chars_format::general);
    const bool whole = parsed.ptr == last &&
                       (parsed.ec == std::errc() || parsed.ec == std::errc::result_out_of_range);
    return decimal && whole ? std::optional<double>(TextToDouble(text)) : std::nullopt;
}

std::optional<long long> IntegerOfText(const std::string& text) {
    auto [first, last] = Trimmed(text);
    if (last - first > 1 && *first == '+' && IsDigit(first[1])) {
        ++first;  // from_chars takes a minus only
    }
    long long value = 0;
    const auto parsed = std::from_chars(first, last, value);
    const bool whole = parsed.ec == std::errc() && parsed.ptr == last;
    return whole ? std::optional<long long>(value) : std::nullopt;
}

std::string ConditionJsonKey(const std::string& name) {
    std::string key;
    bool wordStart = false;
    for (const char c : name) {
        if (c != '-') {
            key += wordStart ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        }
        wordStart = c == '-';
    }
    return key;
}

JsonDocument ConditionsDocument(const MeasurementConditions& conditions) {
    return ConditionsObject(conditions, Versioned());
}

JsonDocument InfoDocument(const InstrumentInfo& info) {
    JsonDocument document = Versioned();
    document["model"] = info.model;
    document["serialNumber"] = info.serialNumber;
    document["maintenanceDate"] = info.maintenanceDate;
    document["version"] = info.version;
    document["detectorTemperature"] = OrNull(NumberOfText(info.detectorTemperature));
    document["controllerTemperature"] = OrNull(NumberOfText(info.controllerTemperature));
    document["lastErrorCode"] = OrNull(IntegerOfText(info.lastErrorCode));
    document["conditions"] = ConditionsObject(info.conditions, JsonDocument::object());
    return document;
}

JsonDocument ListDocument(const std::vector<InstrumentListing>& instruments) {
    JsonDocument document = Versioned();
    JsonDocument& listed = document["instruments"] = JsonDocument::array();
    for (const InstrumentListing& instrument : instruments) {
        listed.push_back(ListingObject(instrument));
    }
    return document;
}

JsonDocument ErrorDocument(const std::string& codeText) {
    const std::optional<long long> code = IntegerOfText(codeText);
    JsonDocument document = Versioned();
    document["code"] = OrNull(code);
    document["meaning"] = ErrorMeaning(code);
    return document;
}

JsonDocument LogDocument(const std::string& log) {
    std::vector<std::string> entries = SplitText(log, '\r');
    if (!entries.empty() && entries.back().empty()) {
        entries.pop_back();  // after the last line's CR
    }
    JsonDocument document = Versioned();
    document["entries"] = entries;
    return document;
}

JsonDocument SampleDocument(const MeasurementSample& sample,
                            std::optional<std::chrono::system_clock::time_point> arrival) {
    JsonDocument document = Versioned();
    if (arrival.has_value()) {
        document["time"] = UtcTimestamp(*arrival);
    }
    document["irradiance"] = OrNull(NumberOfText(sample.irradianceText));
    document["integralIrradiance"] = OrNull(NumberOfText(sample.integralIrradianceText));
    document["peakIrradiance"] = OrNull(NumberOfText(sample.peakIrradianceText));
    return document;
}

JsonDocument SummaryDocument(const RunReport& report) {
    JsonDocument document = Versioned();
    document["summary"] = {
        {"samples", report.samples},
        {"written", report.written},
        {"notWritten", report.notWritten},
        {"durationSeconds", report.durationSeconds},
        {"irradiance", StatisticsObject(report.irradiance)},
        {"finalIntegralIrradiance", OrNull(report.finalIntegralIrradiance)},
        {"peakIrradiance", OrNull(report.peakIrradiance)},
        {"interruptions", report.interruptions},
        {"secondsWithoutReadings", report.secondsWithoutReadings},
        {"ended", RunEndName(report.ended)},
    };
    return document;
}

JsonDocument MqttSampleDocument(const MeasurementSample& sample,
                                const PublishedSampleOrigin& origin) {
    JsonDocument document = Versioned();
    document["serialNumber"] = origin.serialNumber;
    document["runId"] = origin.runId;
    document["sequence"] = origin.sequence;
    document["time"] = UtcTimestamp(origin.arrival);
    document["irradiance"] = Quantity(sample.irradianceText, kIrradianceUnit);
    document["integralIrradiance"] =
        Quantity(sample.integralIrradianceText, kIntegralIrradianceUnit);
    document["peakIrradiance"] = Quantity(sample.peakIrradianceText, kIrradianceUnit);
    return document;
}
