#include "services/CalibrationServices.h"

#include "link/Instrument.h"

CalibrationResult ZeroCalibrate() {
    CalibrationResult calibration;
    {
        CInstrument instrument;
        calibration.result = instrument.Calibrate();
    }
    if (calibration.result != ExchangeResult::kOpenFailed) {
        calibration.errorCodeRead = ReadLastErrorCode(calibration.lastErrorCode);
    }
    return calibration;
}

bool ReadLastErrorCode(std::string& code) {
    CInstrument instrument;
    return instrument.ReadLastError(code) == 1;
}

bool ReadInstrumentLog(std::string& log) {
    CInstrument instrument;
    return instrument.ReadLog(log) == 1;
}

RunErrorKind RunErrorKindOf(const std::string& code) {
    if (code == "4") {
        return RunErrorKind::IntegrationOver;
    }
    if (code == "5") {
        return RunErrorKind::RangeOver;
    }
    return RunErrorKind::Other;
}
