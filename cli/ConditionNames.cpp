#include "cli/ConditionNames.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "cli/Usage.h"
#include "framework/FrameworkText.h"
#include "res/DialogTemplates.h"

namespace {

constexpr char kFactorName[] = "factor";

// A radio group of the main window and the condition it holds. The values are the captions of
// the group's buttons, in index order, read from the window's own template. The factor has an
// edit box instead: no group, no index.
struct RadioCondition {
    const char* name;
    int leaderId;
    int MeasurementConditions::*index;
    std::optional<ConditionSetting> setting;  // nullopt for the factor
};

const RadioCondition kConditions[] = {
    {"range", IDC_RANGE_AUTO, &MeasurementConditions::rangeIndex, ConditionSetting::Range},
    {"frequency", IDC_FREQUENCY_50HZ, &MeasurementConditions::frequencyIndex,
     ConditionSetting::Frequency},
    {"averaging", IDC_AVERAGING_1, &MeasurementConditions::averagingIndex,
     ConditionSetting::Averaging},
    {kFactorName, 0, nullptr, std::nullopt},
    {"factor-switch", IDC_FACTOR_ON, &MeasurementConditions::factorSwitchIndex,
     ConditionSetting::FactorSwitch},
    {"zero-calibration", IDC_ZERO_CALIBRATION_ON, &MeasurementConditions::zeroCalibrationIndex,
     ConditionSetting::ZeroCalibration},
    {"auto-power-off", IDC_AUTO_POWER_OFF_INF, &MeasurementConditions::autoPowerOffIndex,
     ConditionSetting::AutoPowerOff},
    {"analog-response", IDC_ANALOG_SLOW, &MeasurementConditions::analogResponseIndex,
     ConditionSetting::AnalogResponse},
};

// Other spellings of a caption that people type.
struct Alias {
    const char* name;
    const char* alias;
    const char* caption;
};

constexpr Alias kAliases[] = {
    {"frequency", "50", "50Hz"},
    {"frequency", "60", "60Hz"},
    {"auto-power-off", "never", "Inf"},
};

std::vector<std::string> Captions(const RadioCondition& condition) {
    const DialogTemplate* dialog = FindDialogTemplate(IDD_QIRO7_DIALOG);
    std::vector<std::string> captions;
    if (dialog == nullptr) {
        return captions;
    }
    for (const int id : RadioGroupMembers(*dialog, condition.leaderId)) {
        if (const ControlTemplate* control = FindControlTemplate(*dialog, id)) {
            captions.emplace_back(control->caption);
        }
    }
    return captions;
}

// Null for the factor and for unknown names.
const RadioCondition* FindRadioCondition(const std::string& name) {
    const auto found = std::find_if(std::begin(kConditions), std::end(kConditions),
                                    [&name](const RadioCondition& c) { return name == c.name; });
    return found != std::end(kConditions) && found->index != nullptr ? &*found : nullptr;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

std::string WithoutAlias(const std::string& name, const std::string& value) {
    for (const Alias& alias : kAliases) {
        if (name == alias.name && SameIgnoringCase(value, alias.alias)) {
            return alias.caption;
        }
    }
    return value;
}

std::optional<int> IndexOfValue(const RadioCondition& condition, const std::string& value) {
    const std::vector<std::string> captions = Captions(condition);
    const std::string wanted = WithoutAlias(condition.name, value);
    for (std::size_t index = 0; index < captions.size(); ++index) {
        if (SameIgnoringCase(captions[index], wanted)) {
            return static_cast<int>(index);
        }
    }
    return std::nullopt;
}

std::string JoinCaptions(const std::vector<std::string>& captions) {
    std::string text;
    for (const std::string& caption : captions) {
        text += (text.empty() ? "" : "|") + caption;
    }
    return text;
}

bool ApplyFactor(const std::string& value, MeasurementConditions& conditions,
                 std::string& factorText, std::string& reason) {
    double number = 0.0;
    if (!IsAcceptableFactorText(value) || !ParseFrameworkNumber(value, number)) {
        reason = "factor=" + value + " is not " + ConditionValuesHelp(kFactorName);
        return false;
    }
    factorText = value;
    conditions.correctionFactor = number;
    return true;
}

}  // namespace

std::vector<std::string> ConditionNameList() {
    std::vector<std::string> names;
    for (const RadioCondition& condition : kConditions) {
        names.emplace_back(condition.name);
    }
    return names;
}

std::string ConditionValuesHelp(const std::string& name) {
    if (name == kFactorName) {
        return "a number from 0.001 to 9.999 of at most 5 characters (digits and a point)";
    }
    const RadioCondition* condition = FindRadioCondition(name);
    return condition != nullptr ? JoinCaptions(Captions(*condition)) : std::string();
}

std::vector<NamedCondition> NameConditions(const MeasurementConditions& conditions) {
    std::vector<NamedCondition> named;
    for (const RadioCondition& condition : kConditions) {
        if (condition.index == nullptr) {
            named.push_back({condition.name, FormatFrameworkNumber(conditions.correctionFactor)});
            continue;
        }
        const std::vector<std::string> captions = Captions(condition);
        const int index = conditions.*condition.index;
        const bool shown = index >= 0 && static_cast<std::size_t>(index) < captions.size();
        named.push_back(
            {condition.name, shown ? captions[static_cast<std::size_t>(index)] : "none"});
    }
    return named;
}

bool ApplyConditionAssignment(const std::string& assignment, MeasurementConditions& conditions,
                              std::string& factorText, std::string& reason) {
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos) {
        reason = "\"" + assignment + "\" is not NAME=VALUE";
        return false;
    }
    const std::string name = assignment.substr(0, equals);
    const std::string value = assignment.substr(equals + 1);
    if (name == kFactorName) {
        return ApplyFactor(value, conditions, factorText, reason);
    }
    const RadioCondition* condition = FindRadioCondition(name);
    if (condition == nullptr) {
        reason = UnknownConditionText(name);
        return false;
    }
    const std::optional<int> index = IndexOfValue(*condition, value);
    if (!index.has_value()) {
        reason = name + "=" + value + " is not one of " + ConditionValuesHelp(name);
        return false;
    }
    conditions.*condition->index = *index;
    return true;
}

std::string ConditionNameOf(std::optional<ConditionSetting> setting) {
    const auto found =
        std::find_if(std::begin(kConditions), std::end(kConditions),
                     [&setting](const RadioCondition& c) { return c.setting == setting; });
    return found != std::end(kConditions) ? found->name : std::string();
}

std::string UnknownConditionText(const std::string& name) {
    std::string names;
    for (const std::string& known : ConditionNameList()) {
        names += (names.empty() ? "" : ", ") + known;
    }
    const std::string nearest = Suggestion(name, ConditionNameList());
    return "there is no condition \"" + name + "\"" + nearest + " (the conditions: " + names + ")";
}
