#include "app/MeasurementConditions.h"

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

using SettingQuery = int (CInstrument::*)(std::string&);
using SettingWrite = int (CInstrument::*)(int);

struct ConditionRead {
    SettingQuery query;
    ConditionSetting setting;
    int MeasurementConditions::*field;
};

constexpr ConditionRead kMeasuringReads[] = {
    {&CInstrument::ReadAveraging, ConditionSetting::Averaging,
     &MeasurementConditions::averagingIndex},
    {&CInstrument::ReadRange, ConditionSetting::Range, &MeasurementConditions::rangeIndex},
    {&CInstrument::ReadFrequency, ConditionSetting::Frequency,
     &MeasurementConditions::frequencyIndex},
    {&CInstrument::ReadZeroCalibration, ConditionSetting::ZeroCalibration,
     &MeasurementConditions::zeroCalibrationIndex},
    {&CInstrument::ReadCorrectionFactorSwitch, ConditionSetting::FactorSwitch,
     &MeasurementConditions::factorSwitchIndex},
};

constexpr ConditionRead kDeviceReads[] = {
    {&CInstrument::ReadAutoPowerOff, ConditionSetting::AutoPowerOff,
     &MeasurementConditions::autoPowerOffIndex},
    {&CInstrument::ReadAnalogResponse, ConditionSetting::AnalogResponse,
     &MeasurementConditions::analogResponseIndex},
};

struct ConditionWrite {
    SettingWrite write;
    ConditionSetting setting;
    int MeasurementConditions::*field;
};

// The factor text goes between these two groups.
constexpr ConditionWrite kWritesBeforeFactor[] = {
    {&CInstrument::WriteAveraging, ConditionSetting::Averaging,
     &MeasurementConditions::averagingIndex},
    {&CInstrument::WriteRange, ConditionSetting::Range, &MeasurementConditions::rangeIndex},
    {&CInstrument::WriteFrequency, ConditionSetting::Frequency,
     &MeasurementConditions::frequencyIndex},
};

constexpr ConditionWrite kWritesAfterFactor[] = {
    {&CInstrument::WriteCorrectionFactorSwitch, ConditionSetting::FactorSwitch,
     &MeasurementConditions::factorSwitchIndex},
    {&CInstrument::WriteZeroCalibration, ConditionSetting::ZeroCalibration,
     &MeasurementConditions::zeroCalibrationIndex},
    {&CInstrument::WriteAutoPowerOff, ConditionSetting::AutoPowerOff,
     &MeasurementConditions::autoPowerOffIndex},
    {&CInstrument::WriteAnalogResponse, ConditionSetting::AnalogResponse,
     &MeasurementConditions::analogResponseIndex},
};

bool ReadConditions(CInstrument& instrument, std::span<const ConditionRead> reads,
                    MeasurementConditions& values) {
    for (const ConditionRead& read : reads) {
        std::string reply;
        if ((instrument.*read.query)(reply) != 1) {
            return false;
        }
        if (reply.empty() && EmptyReplyFails(read.setting)) {
            return false;
        }
        values.*read.field = IndexFromReply(read.setting, reply);
    }
    return true;
}

int WriteConditions(std::span<const ConditionWrite> writes, const MeasurementConditions& values) {
    for (const ConditionWrite& step : writes) {
        const std::optional<int> argument = WriteArgument(step.setting, values.*step.field);
        if (!argument.has_value()) {
            return kConditionWithoutArgument;
        }
        CInstrument instrument;
        if (const int code = (instrument.*step.write)(*argument); code != 0) {
            return code;
        }
    }
    return 0;
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

bool ReadMeasuringConditions(CInstrument& instrument, MeasurementConditions& values) {
    return ReadConditions(instrument, kMeasuringReads, values);
}

bool ReadDeviceConditions(CInstrument& instrument, MeasurementConditions& values) {
    return ReadConditions(instrument, kDeviceReads, values);
}

int WriteConditionSet(const MeasurementConditions& values, const std::string& factorText) {
    if (const int code = WriteConditions(kWritesBeforeFactor, values); code != 0) {
        return code;
    }
    {
        CInstrument instrument;
        if (const int code = instrument.WriteCorrectionFactor(factorText); code != 0) {
            return code;
        }
    }
    return WriteConditions(kWritesAfterFactor, values);
}
