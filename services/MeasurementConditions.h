// The instrument's eight measurement conditions as the window shows them. Radio indexes are
// zero-based in the group's tab order, -1 when no button is checked. A plain value; the main
// window owns one (window thread).
//
// Below it, the rules for these values: how an instrument reply becomes a radio index, how an
// index becomes a write argument, the factor text rule and the comparison before a run. Pure
// functions; any thread. ConditionServices.h reads and writes whole sets.
#pragma once

#include <optional>
#include <string>

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
