#include "services/ConditionServices.h"

#include <optional>
#include <span>

#include "link/Instrument.h"
#include "measure/TextRules.h"

namespace {

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

int WriteConditions(std::span<const ConditionWrite> writes, const MeasurementConditions& values,
                    int& written) {
    for (const ConditionWrite& step : writes) {
        const std::optional<int> argument = WriteArgument(step.setting, values.*step.field);
        if (!argument.has_value()) {
            return kConditionWithoutArgument;
        }
        CInstrument instrument;
        if (const int code = (instrument.*step.write)(*argument); code != 0) {
            return code;
        }
        ++written;
    }
    return 0;
}

}  // namespace

bool ReadMeasuringConditions(CInstrument& instrument, MeasurementConditions& values) {
    return ReadConditions(instrument, kMeasuringReads, values);
}

bool ReadDeviceConditions(CInstrument& instrument, MeasurementConditions& values) {
    return ReadConditions(instrument, kDeviceReads, values);
}

int WriteConditionSet(const MeasurementConditions& values, const std::string& factorText,
                      int* settingsWritten) {
    int written = 0;
    int& count = settingsWritten != nullptr ? *settingsWritten : written;
    count = 0;
    if (!IsAcceptableFactorText(factorText)) {
        return kFactorTextRefused;
    }
    if (const int code = WriteConditions(kWritesBeforeFactor, values, count); code != 0) {
        return code;
    }
    {
        CInstrument instrument;
        if (const int code = instrument.WriteCorrectionFactor(factorText); code != 0) {
            return code;
        }
        ++count;
    }
    return WriteConditions(kWritesAfterFactor, values, count);
}

std::vector<std::optional<ConditionSetting>> ConditionWriteOrder() {
    std::vector<std::optional<ConditionSetting>> order;
    for (const ConditionWrite& step : kWritesBeforeFactor) {
        order.emplace_back(step.setting);
    }
    order.emplace_back(std::nullopt);
    for (const ConditionWrite& step : kWritesAfterFactor) {
        order.emplace_back(step.setting);
    }
    return order;
}

ConditionsUpdate WriteConditionsAndReread(const MeasurementConditions& values,
                                          const std::string& factorText, InstrumentInfo& info,
                                          InstrumentReadObserver* observer) {
    ConditionsUpdate update;
    update.written = WriteConditionSet(values, factorText, &update.settingsWritten);
    if (update.written == 0) {
        update.reread = ReadInstrumentInfo(info, observer);
    }
    return update;
}

int CompareConditionsWithInstrument(const MeasurementConditions& window) {
    CInstrument instrument;
    std::string productId;
    if (instrument.CheckConnection(productId) != 1) {
        return CompareResult::kNotFound;
    }
    MeasurementConditions reported;
    std::string factorReply;
    if (instrument.ReadCorrectionFactor(factorReply) != 1) {
        return CompareResult::kReadFailed;
    }
    reported.correctionFactor = TextToDouble(factorReply);
    if (!ReadMeasuringConditions(instrument, reported)) {
        return CompareResult::kReadFailed;
    }
    return FirstConditionDifference(window, reported);
}
