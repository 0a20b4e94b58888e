// Connection and the full information read: identity, temperatures, conditions and the last
// error code, in seventeen open-exchange-close steps. Window thread.
#include <string>

#include "app/Qiro7Dlg.h"
#include "framework/WaitCursor.h"
#include "link/Instrument.h"
#include "res/StringTable.h"

namespace {

// ReadInstrumentInfo's code for a failure after the instrument was found.
constexpr int kReadFailed = -2;

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
    int controlId;
};

// Shown as received; the factor text comes last because the pull after it parses it.
constexpr TextStep kTextSteps[] = {
    {&Query<&CInstrument::ReadModel>, IDC_MODEL},
    {&Query<&CInstrument::ReadSerialNumber>, IDC_SERIAL_NUMBER},
    {&Query<&CInstrument::ReadMaintenanceDate>, IDC_MAINTENANCE_DATE},
    {&Query<&CInstrument::ReadVersion>, IDC_VERSION},
    {&QueryTemperature<0>, IDC_DETECTOR_TEMPERATURE},
    {&QueryTemperature<1>, IDC_CONTROLLER_TEMPERATURE},
    {&Query<&CInstrument::ReadCorrectionFactor>, IDC_CORRECTION_FACTOR},
};

// The full read; a failure is reported and leaves the window Disconnected. True on success.
bool ReadInstrumentOrReport(CQiro7Dlg& window) {
    const int result = window.ReadInstrumentInfo();
    if (result == 0) {
        return true;
    }
    window.ShowError(result == -1 ? IDS_CONNECTION_ERROR : IDS_CONNECTING_ERROR);
    window.SetUiState(UiState::Disconnected);
    return false;
}

}  // namespace

int CQiro7Dlg::ReadInstrumentInfo() {
    CInstrument instrument;
    std::string productId;
    if (instrument.CheckConnection(productId) != 1) {
        return -1;
    }
    if (instrument.StopAndReset(true) != 1) {
        return kReadFailed;
    }
    for (const TextStep& step : kTextSteps) {
        std::string reply;
        if (step.read(instrument, reply) != 1) {
            return kReadFailed;
        }
        SetControlText(step.controlId, reply);
    }
    // Parses the factor text; a refused text keeps the old value after the framework's prompt.
    UpdateData(true);
    if (!ReadMeasuringConditions(instrument, conditions)) {
        return kReadFailed;
    }
    std::string errorCode;
    if (instrument.ReadLastError(errorCode) != 1) {
        return kReadFailed;
    }
    lastErrorCode = errorCode;
    if (!ReadDeviceConditions(instrument, conditions)) {
        return kReadFailed;
    }
    UpdateData(false);
    return 0;
}

void CQiro7Dlg::OnConnect() {
    WaitCursor waitCursor;
    OnReset();
    SetUiState(UiState::Connecting);
    if (ReadInstrumentOrReport(*this)) {
        SetUiState(UiState::Connected);
        ShowInfo(IDS_CONNECTION_ESTABLISHED);
    }
}

void CQiro7Dlg::OnRefresh() {
    WaitCursor waitCursor;
    SetUiState(UiState::Busy);
    if (ReadInstrumentOrReport(*this)) {
        SetUiState(UiState::Connected);
    }
}
