#include "services/ConnectionServices.h"

#include "link/Instrument.h"
#include "measure/TextRules.h"
#include "services/ConditionServices.h"

namespace {

using TextQuery = int (*)(CInstrument&, std::string&);

template <int (CInstrument::*Read)(std::string&)>
int Query(CInstrument& instrument, std::string& data) {
    return (instrument.*Read)(data);
}

template <int Sensor>
int QueryTemperature(CInstrument& instrument, std::string& data) {
    return instrument.ReadTemperature(Sensor, data);
}

struct TextStep {
    TextQuery read;
    InfoText field;
    std::string InstrumentInfo::*target;
};

// The factor text comes last: the settings are read after it.
constexpr TextStep kTextSteps[] = {
    {&Query<&CInstrument::ReadModel>, InfoText::Model, &InstrumentInfo::model},
    {&Query<&CInstrument::ReadSerialNumber>, InfoText::SerialNumber, &InstrumentInfo::serialNumber},
    {&Query<&CInstrument::ReadMaintenanceDate>, InfoText::MaintenanceDate,
     &InstrumentInfo::maintenanceDate},
    {&Query<&CInstrument::ReadVersion>, InfoText::Version, &InstrumentInfo::version},
    {&QueryTemperature<0>, InfoText::DetectorTemperature, &InstrumentInfo::detectorTemperature},
    {&QueryTemperature<1>, InfoText::ControllerTemperature, &InstrumentInfo::controllerTemperature},
    {&Query<&CInstrument::ReadCorrectionFactor>, InfoText::CorrectionFactor,
     &InstrumentInfo::correctionFactorText},
};

// Stores the text and tells the observer; false when the query failed.
bool ReadText(CInstrument& instrument, const TextStep& step, InstrumentInfo& info,
              InstrumentReadObserver* observer) {
    std::string reply;
    if (step.read(instrument, reply) != 1) {
        return false;
    }
    info.*step.target = reply;
    if (observer != nullptr) {
        observer->TextRead(step.field, reply);
    }
    return true;
}

constexpr TextStep kLastErrorStep = {&Query<&CInstrument::ReadLastError>, InfoText::LastErrorCode,
                                     &InstrumentInfo::lastErrorCode};

}  // namespace

int ReadInstrumentInfo(InstrumentInfo& info, InstrumentReadObserver* observer) {
    CInstrument instrument;
    std::string productId;
    if (instrument.CheckConnection(productId) != 1) {
        return InfoReadResult::kNotFound;
    }
    if (instrument.StopAndReset(true) != 1) {
        return InfoReadResult::kReadFailed;
    }
    for (const TextStep& step : kTextSteps) {
        if (!ReadText(instrument, step, info, observer)) {
            return InfoReadResult::kReadFailed;
        }
    }
    info.conditions.correctionFactor = TextToDouble(info.correctionFactorText);
    if (observer != nullptr) {
        observer->BeforeConditionReads(info.conditions);
    }
    if (!ReadMeasuringConditions(instrument, info.conditions) ||
        !ReadText(instrument, kLastErrorStep, info, observer) ||
        !ReadDeviceConditions(instrument, info.conditions)) {
        return InfoReadResult::kReadFailed;
    }
    return InfoReadResult::kSuccess;
}
