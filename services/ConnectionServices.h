// The full information read of Connect and Refresh: identity, temperatures, the eight
// conditions and the last error code, in seventeen steps, each opening and closing the link
// itself (CheckConnection, "STP"/"RM", then fifteen queries). No lasting connection is kept.
//
// Threads: the caller's; blocking. One instrument operation at a time in the process (no run
// may be going). The observer is called on the caller's thread, between steps.
#pragma once

#include <string>

#include "services/MeasurementConditions.h"

// ReadInstrumentInfo's results.
namespace InfoReadResult {
inline constexpr int kSuccess = 0;
inline constexpr int kNotFound = -1;    // no instrument found, or it could not be opened
inline constexpr int kReadFailed = -2;  // a later step failed or gave an empty reply
}  // namespace InfoReadResult

// The texts are the instrument's replies as received.
struct InstrumentInfo {
    std::string model;
    std::string serialNumber;
    std::string maintenanceDate;
    std::string version;
    std::string detectorTemperature;
    std::string controllerTemperature;
    std::string correctionFactorText;
    std::string lastErrorCode;
    // Each setting read overwrites its field; a field the read did not reach keeps what the
    // caller put there. correctionFactor is the factor text's leading number.
    MeasurementConditions conditions;
};

// The texts in the order they are read.
enum class InfoText {
    Model,
    SerialNumber,
    MaintenanceDate,
    Version,
    DetectorTemperature,
    ControllerTemperature,
    CorrectionFactor,
    LastErrorCode,
};

// What a caller that shows the read as it goes hears between the steps.
class InstrumentReadObserver {
public:
    virtual ~InstrumentReadObserver() = default;
    // After each text has arrived, before the next step.
    virtual void TextRead(InfoText field, const std::string& text) = 0;
    // Right after the factor text, before the first setting is read: the caller may take its
    // own values into `conditions` (the settings read later overwrite theirs).
    virtual void BeforeConditionReads(MeasurementConditions& conditions) = 0;
};

// Reads everything into `info`, stopping at the first failure (what was read before it stays).
// Returns an InfoReadResult code.
int ReadInstrumentInfo(InstrumentInfo& info, InstrumentReadObserver* observer = nullptr);
