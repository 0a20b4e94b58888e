// The eight measurement conditions on the command line: one name each, and as values the
// captions of the main window's radio buttons ("Auto", "A1", "50Hz", "ON", "Inf", "Slow", ...)
// and the factor as the window shows it. Pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "services/MeasurementConditions.h"

// The names, in the order `get` and `info` show them: range, frequency, averaging, factor,
// factor-switch, zero-calibration, auto-power-off, analog-response.
std::vector<std::string> ConditionNameList();

// The values a name takes, as the window shows them; for the factor its range.
std::string ConditionValuesHelp(const std::string& name);

struct NamedCondition {
    std::string name;
    std::string value;
};

// The conditions as the window would show them after reading the instrument: the caption of
// the checked button ("none" when no button is checked, as for an averaging of 6), the factor in
// the window's number format (1.000 from the instrument shows as 1).
std::vector<NamedCondition> NameConditions(const MeasurementConditions& conditions);

// Applies one NAME=VALUE to conditions, or to factorText for the factor (the text as typed,
// which is what the instrument is sent). Values are matched without regard to case; the
// frequency also takes 50 and 60, the auto power off also "never". The factor must pass the
// window's rule (0.001 to 9.999, digits and points, at most 5 characters). False with the
// reason in words when the name or the value is not one the window offers.
bool ApplyConditionAssignment(const std::string& assignment, MeasurementConditions& conditions,
                              std::string& factorText, std::string& reason);

// The name of a setting (nullopt: the factor), as NameConditions gives it.
std::string ConditionNameOf(std::optional<ConditionSetting> setting);

// "there is no condition "rnage"; did you mean range? The conditions: range, ..."
std::string UnknownConditionText(const std::string& name);
