// Whole sets of measurement conditions against the instrument: the reads of the information
// read, the write in the instrument's fixed order, the write followed by a full re-read, and the
// comparison before a run. Every query and write opens and closes the link itself.
//
// Threads: the caller's; blocking. One instrument operation at a time in the process (no run
// may be going). ReadMeasuringConditions and ReadDeviceConditions use the caller's CInstrument,
// so they run on its thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "services/ConnectionServices.h"
#include "services/MeasurementConditions.h"

class CInstrument;

// Reads "ACR", "MRR", "FRQR", "ZCR" and "CFSR" into their indexes, in that order. False at the
// first failed query or empty reply that EmptyReplyFails names; the settings read before it
// keep their new values.
bool ReadMeasuringConditions(CInstrument& instrument, MeasurementConditions& values);
// The same for "APR" and "AFR".
bool ReadDeviceConditions(CInstrument& instrument, MeasurementConditions& values);

// WriteConditionSet's results besides 0 (all written) and a failing write's code (-1 when the
// link could not be opened, -2..-8). Nothing was sent for the setting that failed.
inline constexpr int kConditionWithoutArgument = 1;  // an index without write argument
inline constexpr int kFactorTextRefused = 2;         // IsAcceptableFactorText refused: nothing sent

// Writes the eight settings in the instrument's fixed order "ACW", "MRW", "FRQW", "CFW" (the
// factor text as given), "CFSW", "ZCW", "APW", "AFW", each with its own CInstrument, stopping
// at the first that fails. Earlier settings stay written; settingsWritten, when given, tells
// how many.
int WriteConditionSet(const MeasurementConditions& values, const std::string& factorText,
                      int* settingsWritten = nullptr);

// The settings in the order WriteConditionSet writes them; nullopt stands for the factor.
std::vector<std::optional<ConditionSetting>> ConditionWriteOrder();

// WriteConditionSet, then, when everything was written, ReadInstrumentInfo into `info` (with
// `observer`), so that `info` ends holding the instrument's own report.
struct ConditionsUpdate {
    int written = 0;          // WriteConditionSet's result
    int settingsWritten = 0;  // how many, in ConditionWriteOrder, before it stopped
    int reread = 0;           // ReadInstrumentInfo's result; 0 when not run
};
ConditionsUpdate WriteConditionsAndReread(const MeasurementConditions& values,
                                          const std::string& factorText, InstrumentInfo& info,
                                          InstrumentReadObserver* observer = nullptr);

// CompareConditionsWithInstrument's failures.
namespace CompareResult {
inline constexpr int kNotFound = -1;    // no instrument found, or it could not be opened
inline constexpr int kReadFailed = -2;  // a query failed or gave an empty reply
}  // namespace CompareResult

// Reads the instrument's factor ("CFR", its leading number) and the settings of
// ReadMeasuringConditions, then FirstConditionDifference(window, instrument's): 0 when equal,
// 1..6 for the first difference, or a CompareResult code. Sends no "STP"/"RM".
int CompareConditionsWithInstrument(const MeasurementConditions& window);
