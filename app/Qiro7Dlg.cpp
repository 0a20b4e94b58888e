#include "app/Qiro7Dlg.h"

#include <array>
#include <initializer_list>

#include "app/RunDisplay.h"
#include "framework/DataExchange.h"
#include "framework/MessageBoxes.h"
#include "framework/QtText.h"
#include "measure/AppMessages.h"
#include "measure/RunActive.h"
#include "res/Accelerators.h"
#include "res/StringTable.h"

namespace {

using Handler = void (CQiro7Dlg::*)();

struct ButtonRoute {
    int id;
    Handler handler;
};

constexpr ButtonRoute kButtonRoutes[] = {
    {IDC_CONNECT, &CQiro7Dlg::OnConnect},
    {IDC_REFRESH, &CQiro7Dlg::OnRefresh},
    {IDC_SAVE, &CQiro7Dlg::OnSave},
    {IDC_CALIBRATE, &CQiro7Dlg::OnCalibrate},
    {IDC_GET_LAST_ERROR, &CQiro7Dlg::OnGetLastError},
    {IDC_LOG, &CQiro7Dlg::OnLog},
    {IDC_BROWSE, &CQiro7Dlg::OnBrowse},
    {IDC_OUTPUT, &CQiro7Dlg::OnOutput},
    {IDC_RESET, &CQiro7Dlg::OnReset},
    {IDC_START_STOP, &CQiro7Dlg::OnStartStopMeas},
    {IDC_SHOW_GRAPH, &CQiro7Dlg::OnShowGraph},
    {IDC_QUIT, &CQiro7Dlg::OnQuit},
    {IDC_INPUT, &CQiro7Dlg::OnInput},
};

struct MessageRoute {
    unsigned message;
    Handler handler;
};

constexpr MessageRoute kMessageRoutes[] = {
    {WM_APP_MEAS_DONE, &CQiro7Dlg::OnMeasDone},
    {WM_APP_MEAS_ERROR, &CQiro7Dlg::OnMeasError},
    {WM_APP_MEAS_FAILED, &CQiro7Dlg::OnMeasFailed},
    {WM_APP_TOGGLE_MEAS, &CQiro7Dlg::OnToggleMeas},
    {WM_APP_MEAS_STOPPING, &CQiro7Dlg::OnMeasStopping},
};

constexpr std::array kInformationBoxes = {
    IDC_MODEL,   IDC_SERIAL_NUMBER,        IDC_MAINTENANCE_DATE,
    IDC_VERSION, IDC_DETECTOR_TEMPERATURE, IDC_CONTROLLER_TEMPERATURE};

// Controls that issue instrument operations or change the conditions: usable only when
// connected.
constexpr std::array kConnectedOnlyControls = {IDC_AUTO_OUTPUT, IDC_REFRESH,       IDC_SAVE,
                                               IDC_CALIBRATE,   IDC_GRAPH,         IDC_BROWSE,
                                               IDC_LOG,         IDC_GET_LAST_ERROR};

// The first buttons of the seven condition groups.
constexpr std::array kConditionGroups = {
    IDC_AVERAGING_1, IDC_RANGE_AUTO,         IDC_FREQUENCY_50HZ, IDC_ZERO_CALIBRATION_ON,
    IDC_FACTOR_ON,   IDC_AUTO_POWER_OFF_INF, IDC_ANALOG_SLOW};

}  // namespace

CQiro7Dlg::CQiro7Dlg(QWidget* parent)
    : CTemplateDialog(IDD_QIRO7_DIALOG, parent), runDisplay(std::make_unique<RunDisplay>(*this)) {}

CQiro7Dlg::~CQiro7Dlg() {
    EndWorkerWithWindow();
    csvFile.reset();
}

void CQiro7Dlg::DoDataExchange(CDataExchange& exchange) {
    const int mode = validationMode;
    validationMode = 0;
    exchange.Radio(IDC_AVERAGING_1, conditions.averagingIndex);
    exchange.Radio(IDC_RANGE_AUTO, conditions.rangeIndex);
    exchange.Radio(IDC_FREQUENCY_50HZ, conditions.frequencyIndex);
    exchange.Radio(IDC_ZERO_CALIBRATION_ON, conditions.zeroCalibrationIndex);
    exchange.Radio(IDC_FACTOR_ON, conditions.factorSwitchIndex);
    exchange.Radio(IDC_AUTO_POWER_OFF_INF, conditions.autoPowerOffIndex);
    exchange.Radio(IDC_ANALOG_SLOW, conditions.analogResponseIndex);
    exchange.Integer(IDC_INTERVAL, intervalSeconds);
    exchange.Integer(IDC_COUNT, measureCount);
    exchange.Number(IDC_CORRECTION_FACTOR, conditions.correctionFactor);
    if (mode == 1 || mode == 2) {
        exchange.NumberRange(IDC_CORRECTION_FACTOR, conditions.correctionFactor, 0.001, 9.999);
    }
    if (mode == 2) {
        exchange.IntegerRange(IDC_COUNT, measureCount, 0, 9999);
        exchange.IntegerRange(IDC_INTERVAL, intervalSeconds, 0, 999);
    }
    exchange.Text(IDC_LAST_ERROR_CODE, lastErrorCode);
}

bool CQiro7Dlg::OnInitDialog() {
    CTemplateDialog::OnInitDialog();
    setWindowTitle(ToQString(windowTitle));
    LoadAcceleratorTable(IDR_ACCELERATOR);
    SwallowEnterAndEsc();
    DisableCloseBox();
    SetUiState(UiState::Initial);
    return true;
}

void CQiro7Dlg::OnCommand(int id) {
    for (const ButtonRoute& route : kButtonRoutes) {
        if (route.id == id) {
            (this->*route.handler)();
            return;
        }
    }
}

// Neither the OK nor the cancel command ends the main window, whoever gives it (the window
// system's accept and reject included); only "Quit" does.
void CQiro7Dlg::OnOK() {}

void CQiro7Dlg::OnCancel() {}

void CQiro7Dlg::OnSetCursor() {
    SetWindowWaitCursor(runActive.load() != 0);
}

void CQiro7Dlg::SetUiState(UiState state) {
    UpdateData(true);

    for (const int id : kInformationBoxes) {
        EnableControl(id, false);
    }
    EnableControl(IDC_RECEIVED, true);

    const bool connected = state == UiState::Connected;
    const bool busy = IsBusyState(state);
    for (const int id : kConnectedOnlyControls) {
        EnableControl(id, connected);
    }
    for (const int leader : kConditionGroups) {
        for (const int id : RadioGroupMembers(Template(), leader)) {
            EnableControl(id, connected);
        }
    }
    ShowControl(IDC_INPUT, false);

    if (state == UiState::Initial) {
        for (const int id : kInformationBoxes) {
            SetControlText(id, "none");
        }
        SetControlText(IDC_RECEIVED, "");
        SetControlText(IDC_CORRECTION_FACTOR, "");
    }
    const UiStateSettings& settings = SettingsFor(state);
    EnableControl(IDC_RESET, settings.resetEnabled);
    EnableControl(IDC_CONNECT, settings.connectEnabled);
    EnableControl(IDC_QUIT, settings.quitEnabled);
    EnableControl(IDC_INTERVAL, settings.intervalEnabled);
    EnableControl(IDC_COUNT, settings.countEnabled);
    EnableControl(IDC_CORRECTION_FACTOR, settings.correctionFactorEnabled);
    EnableControl(IDC_CSV_FILE_NAME, settings.csvFileNameEnabled);
    EnableControl(IDC_START_STOP, settings.startStopEnabled);
    SetControlText(IDC_START_STOP, settings.startStopCaption);

    const bool haveReceived = !ControlText(IDC_RECEIVED).empty();
    EnableControl(IDC_SHOW_GRAPH, haveReceived && !busy);
    EnableControl(IDC_OUTPUT, haveReceived && !busy);
    if (state == UiState::Measuring) {
        EnableControl(IDC_SHOW_GRAPH, true);
    }

    CopyStartStopToGraphWindow();

    UpdateData(false);
    update();
}

MessageAnswer CQiro7Dlg::AskYesNo(int stringId) {
    return ShowStringMessage(stringId, MessageIcon::Question, MessageButtons::YesNo,
                             static_cast<QWidget*>(this));
}

void CQiro7Dlg::ShowError(int stringId) {
    ShowStringMessage(stringId, MessageIcon::Exclamation, MessageButtons::Ok,
                      static_cast<QWidget*>(this));
}

void CQiro7Dlg::ShowInfo(int stringId) {
    ShowStringMessage(stringId, MessageIcon::Information, MessageButtons::Ok,
                      static_cast<QWidget*>(this));
}

void CQiro7Dlg::OnQuit() {
    if (AskYesNo(IDS_CONFIRM_QUIT) == MessageAnswer::No) {
        return;
    }
    EndDialog(QDialog::Rejected);
}

// The button is always hidden; it has nothing to do.
void CQiro7Dlg::OnInput() {}

void CQiro7Dlg::EndRunOutput() {
    CloseRunOutputFile();
    SetGraphStartCaption(true);
}

void CQiro7Dlg::OnMeasDone() {
    EndRunOutput();
    // The worker clears the flag only after this handler; a stop request cleared it earlier.
    ShowInfo(runActive.load() != 0 ? IDS_MEASUREMENT_COMPLETED : IDS_MEASUREMENT_CANCELED);
    SetUiState(UiState::Connected);
    update();
}

void CQiro7Dlg::OnMeasError() {
    EndRunOutput();
    ReactToMeasurementError();
}

void CQiro7Dlg::OnMeasFailed() {
    EndRunOutput();
    SetUiState(UiState::Disconnected);
    ShowError(IDS_MEASUREMENT_FAILED);
    update();
}

void CQiro7Dlg::OnToggleMeas() {
    if (runActive.load() == 0) {
        CheckButton(IDC_GRAPH, true);
    }
    OnStartStopMeas();
}

void CQiro7Dlg::OnMeasStopping() {
    EnableControl(IDC_START_STOP, false);
    update();
    CopyStartStopToGraphWindow();
}

int CQiro7Dlg::AveragingIndex() {
    int value = -1;
    InvokeOnWindowThread([this, &value] { value = conditions.averagingIndex; });
    return value;
}

int CQiro7Dlg::IntervalSeconds() {
    int value = 0;
    InvokeOnWindowThread([this, &value] { value = intervalSeconds; });
    return value;
}

int CQiro7Dlg::MeasureCount() {
    int value = 0;
    InvokeOnWindowThread([this, &value] { value = measureCount; });
    return value;
}

void CQiro7Dlg::OnAppMessage(unsigned message) {
    for (const MessageRoute& route : kMessageRoutes) {
        if (route.message == message) {
            (this->*route.handler)();
            return;
        }
    }
}
