// The window's eight measurement conditions. Radio indexes are zero-based in the group's tab
// order, -1 when no button is checked. A plain value; the main window owns one (window thread).
//
// Below it, the Qt-free rules for these values: how an instrument reply becomes a radio index,
// how an index becomes a write argument, the factor text rule, the comparison before a run, and
// the reads and writes of whole sets. The pure functions may be called from any thread; the
// instrument functions from one thread at a time, like CInstrument itself.
#pragma once

#include <optional>
#include <string>

class CInstrument;

struct MeasurementConditions {
    int rangeIndex = -1;
    int frequencyIndex = -1;
    int zeroCalibrationIndex = -1;
    int factorSwitchIndex = -1;
    int autoPowerOffIndex = -1;
    int analogResponseIndex = -1;
    double correctionFactor = 0.001;
    int averagingIndex = -1;
};

// The seven settings chosen with a radio group.
enum class ConditionSetting {
    Averaging,
    Range,
    Frequency,
    ZeroCalibration,
    FactorSwitch,
    AutoPowerOff,
    AnalogResponse,
};

// The index an instrument's reply number stands for, -1 when none. Averaging reply 6 gives 5,
// which no button shows.
int IndexFromReplyNumber(ConditionSetting setting, int replyNumber);
// The same for the reply text, read by the instrument's integer rule.
int IndexFromReply(ConditionSetting setting, const std::string& replyText);
// The argument that writes an index; nullopt when the index has none (-1, averaging 5, ...).
std::optional<int> WriteArgument(ConditionSetting setting, int index);
// An empty reply to the setting's query is a failed read for every setting but averaging.
bool EmptyReplyFails(ConditionSetting setting);

// The factor box text the instrument may be sent: only "0123456789." and not empty, a value
// (its longest leading decimal number) from 0.001 to 9.999, at most 5 characters.
bool IsAcceptableFactorText(const std::string& text);

// The code of the first difference between the window's conditions and the instrument's, in
// the order 1 range, 2 frequency, 3 zero calibration, 4 factor switch, 5 correction factor
// (exact equality; a NaN differs from everything), 6 averaging; 0 when those six are equal.
// Auto power off and analog response are not compared.
int FirstConditionDifference(const MeasurementConditions& window,
                             const MeasurementConditions& instrument);

// Reads, with the instrument's own open-close cycles, "ACR", "MRR", "FRQR", "ZCR" and "CFSR"
// into their indexes, in that order. False at the first failed query or empty reply that
// EmptyReplyFails names; the settings read before it keep their new values.
bool ReadMeasuringConditions(CInstrument& instrument, MeasurementConditions& values);
// The same for "APR" and "AFR".
bool ReadDeviceConditions(CInstrument& instrument, MeasurementConditions& values);

// WriteConditionSet's result when a setting has no argument: nothing was sent for it.
inline constexpr int kConditionWithoutArgument = 1;

// Writes the eight settings in the instrument's fixed order "ACW", "MRW", "FRQW", "CFW" (the
// factor text as given), "CFSW", "ZCW", "APW", "AFW", each with its own CInstrument, stopping
// at the first that fails: 0 when all were written, kConditionWithoutArgument, or the failing
// write's code (-1 when the link could not be opened, -2..-7). Earlier settings stay written.
int WriteConditionSet(const MeasurementConditions& values, const std::string& factorText);
