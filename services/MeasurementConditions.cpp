#include "services/MeasurementConditions.h"

#include <span>

#include "link/Instrument.h"
#include "measure/TextRules.h"

namespace {

// One wire value and the radio index it stands for. Values that are only ever read (averaging
// 6) have no button and are never written.
struct WireChoice {
    int wire;
    int index;
    bool writable = true;
};

constexpr WireChoice kAveraging[] = {{1, 0}, {2, 1}, {3, 2}, {4, 3}, {5, 4}, {6, 5, false}};
constexpr WireChoice kRange[] = {{-1, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}};
constexpr WireChoice kFrequency[] = {{0, 0}, {1, 1}};
// ON comes first on the window but is 1 on the wire.
constexpr WireChoice kOnOff[] = {{1, 0}, {0, 1}};
constexpr WireChoice kAutoPowerOff[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}};
constexpr WireChoice kAnalogResponse[] = {{0, 0}, {1, 1}};

std::span<const WireChoice> ChoicesOf(ConditionSetting setting) {
    switch (setting) {
        case ConditionSetting::Averaging:
            return kAveraging;
        case ConditionSetting::Range:
            return kRange;
        case ConditionSetting::Frequency:
            return kFrequency;
        case ConditionSetting::ZeroCalibration:
        case ConditionSetting::FactorSwitch:
            return kOnOff;
        case ConditionSetting::AutoPowerOff:
            return kAutoPowerOff;
        case ConditionSetting::AnalogResponse:
            return kAnalogResponse;
    }
    return {};
}

}  // namespace

int IndexFromReplyNumber(ConditionSetting setting, int replyNumber) {
    for (const WireChoice& choice : ChoicesOf(setting)) {
        if (choice.wire == replyNumber) {
            return choice.index;
        }
    }
    return -1;
}

int IndexFromReply(ConditionSetting setting, const std::string& replyText) {
    return IndexFromReplyNumber(setting, ParseReplyInteger(replyText));
}

std::optional<int> WriteArgument(ConditionSetting setting, int index) {
    for (const WireChoice& choice : ChoicesOf(setting)) {
        if (choice.index == index && choice.writable) {
            return choice.wire;
        }
    }
    return std::nullopt;
}

bool EmptyReplyFails(ConditionSetting setting) {
    return setting != ConditionSetting::Averaging;
}

bool IsAcceptableFactorText(const std::string& text) {
    constexpr std::size_t kMaxFactorLength = 5;
    if (!IsNumberText(text, true) || text.size() > kMaxFactorLength) {
        return false;
    }
    const double value = TextToDouble(text);
    return value >= 0.001 && value <= 9.999;
}

int FirstConditionDifference(const MeasurementConditions& window,
                             const MeasurementConditions& instrument) {
    if (window.rangeIndex != instrument.rangeIndex) {
        return 1;
    }
    if (window.frequencyIndex != instrument.frequencyIndex) {
        return 2;
    }
    if (window.zeroCalibrationIndex != instrument.zeroCalibrationIndex) {
        return 3;
    }
    if (window.factorSwitchIndex != instrument.factorSwitchIndex) {
        return 4;
    }
    // Exact on purpose: the instrument's "1.000" and the window's 1 are the same number.
    if (!(window.correctionFactor == instrument.correctionFactor)) {
        return 5;
    }
    if (window.averagingIndex != instrument.averagingIndex) {
        return 6;
    }
    return 0;
}
