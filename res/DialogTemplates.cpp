#include "res/DialogTemplates.h"

#include <algorithm>
#include <iterator>

namespace {

using enum ControlKind;

constexpr unsigned kButton = kTabStop;
constexpr unsigned kLeadRadio = kGroupStart | kTabStop;
constexpr unsigned kRadio = 0;
constexpr unsigned kEdit = kBorder | kAutoHScroll | kTabStop;
constexpr unsigned kCheck = kTabStop;
constexpr unsigned kListBox = kBorder | kMultiLine | kReadOnly | kVScroll | kTabStop;

// clang-format off
constexpr ControlTemplate kMainDialogControls[] = {
    {IDC_CONNECT, PushButton, "Connect", 473, 22, 50, 14, kButton},
    {IDC_QUIT, PushButton, "Quit", 473, 46, 50, 14, kButton},
    {IDC_REFRESH, PushButton, "Refresh", 403, 23, 50, 14, kButton},
    {IDC_SAVE, PushButton, "Save", 403, 46, 50, 14, kButton},
    {IDC_STATIC, GroupBox, "Information", 7, 12, 463, 216, 0},
    {IDC_MODEL, Edit, "", 63, 23, 59, 14, kEdit},
    {IDC_STATIC, Label, "Model", 21, 25, 20, 8, 0},
    {IDC_SERIAL_NUMBER, Edit, "", 172, 23, 59, 14, kEdit},
    {IDC_STATIC, Label, "S/N", 136, 25, 12, 8, 0},
    {IDC_MAINTENANCE_DATE, Edit, "", 323, 23, 64, 14, kEdit},
    {IDC_VERSION, Edit, "", 323, 46, 64, 14, kEdit},
    {IDC_STATIC, Label, "Last Maintenance Date.", 241, 25, 77, 8, 0},
    {IDC_STATIC, Label, "Version", 241, 49, 24, 8, 0},
    {IDC_STATIC, GroupBox, "Temperature", 13, 40, 211, 33, 0},
    {IDC_DETECTOR_TEMPERATURE, Edit, "", 63, 55, 35, 14, kEdit},
    {IDC_STATIC, Label, "Detector", 21, 57, 29, 8, 0},
    {IDC_CONTROLLER_TEMPERATURE, Edit, "", 172, 55, 35, 14, kEdit},
    {IDC_STATIC, Label, "Controller", 136, 57, 34, 8, 0},
    {IDC_STATIC, GroupBox, "Range", 14, 76, 211, 33, 0},
    {IDC_RANGE_AUTO, RadioButton, "Auto", 21, 90, 31, 10, kLeadRadio},
    {IDC_RANGE_A1, RadioButton, "A1", 54, 90, 25, 10, kRadio},
    {IDC_RANGE_A2, RadioButton, "A2", 81, 90, 25, 10, kRadio},
    {IDC_RANGE_A3, RadioButton, "A3", 110, 90, 25, 10, kRadio},
    {IDC_RANGE_F1, RadioButton, "F1", 139, 90, 24, 10, kRadio},
    {IDC_RANGE_F2, RadioButton, "F2", 169, 90, 24, 10, kRadio},
    {IDC_RANGE_F3, RadioButton, "F3", 196, 90, 24, 10, kRadio},
    {IDC_STATIC, GroupBox, "Frequency", 242, 77, 211, 33, 0},
    {IDC_FREQUENCY_50HZ, RadioButton, "50Hz", 252, 94, 32, 10, kLeadRadio},
    {IDC_FREQUENCY_60HZ, RadioButton, "60Hz", 302, 95, 32, 10, kRadio},
    {IDC_STATIC, GroupBox, "The average number of measurement", 15, 114, 211, 33, 0},
    {IDC_AVERAGING_1, RadioButton, "1", 21, 129, 20, 10, kLeadRadio},
    {IDC_AVERAGING_2, RadioButton, "2", 63, 129, 20, 10, kRadio},
    {IDC_AVERAGING_3, RadioButton, "3", 100, 129, 20, 10, kRadio},
    {IDC_AVERAGING_4, RadioButton, "4", 134, 129, 20, 10, kRadio},
    {IDC_AVERAGING_5, RadioButton, "5", 171, 129, 20, 10, kRadio},
    {IDC_STATIC, GroupBox, "User Correction Factor", 243, 114, 211, 33, 0},
    {IDC_FACTOR_ON, RadioButton, "ON", 252, 129, 26, 10, kLeadRadio},
    {IDC_FACTOR_OFF, RadioButton, "OFF", 396, 129, 29, 10, kRadio},
    {IDC_CORRECTION_FACTOR, Edit, "", 296, 129, 35, 14, kEdit | kGroupStart},
    {IDC_STATIC, Label, " (0.001-9.999)", 337, 132, 48, 8, 0},
    {IDC_STATIC, GroupBox, "Zero Calibration", 15, 189, 211, 33, 0},
    {IDC_ZERO_CALIBRATION_ON, RadioButton, "ON", 22, 205, 26, 10, kLeadRadio},
    {IDC_ZERO_CALIBRATION_OFF, RadioButton, "OFF", 101, 205, 29, 10, kRadio},
    {IDC_CALIBRATE, PushButton, "Calibrate", 169, 201, 50, 14, kButton},
    {IDC_STATIC, Label, "Interval ", 27, 246, 28, 8, 0},
    {IDC_INTERVAL, Edit, "", 63, 243, 35, 14, kEdit},
    {IDC_STATIC, Label, "[sec]", 105, 246, 17, 8, 0},
    {IDC_STATIC, Label, "Count", 144, 246, 20, 8, 0},
    {IDC_COUNT, Edit, "", 170, 243, 35, 14, kEdit},
    {IDC_GRAPH, CheckBox, "Graph", 22, 263, 35, 10, kCheck},
    {IDC_STATIC, GroupBox, "CSV File", 15, 275, 290, 59, 0},
    {IDC_AUTO_OUTPUT, CheckBox, "Auto Output", 23, 286, 56, 10, kCheck},
    {IDC_BROWSE, PushButton, "Browse..", 248, 282, 50, 14, kButton},
    {IDC_CSV_FILE_NAME, Edit, "", 23, 299, 275, 14, kEdit},
    {IDC_OUTPUT, PushButton, "Output", 248, 315, 50, 14, kButton},
    {IDC_STATIC, GroupBox, "Measurement", 7, 229, 516, 127, 0},
    {IDC_RECEIVED, Edit, "", 319, 246, 186, 81, kListBox | kAutoHScroll},
    {IDC_STATIC, GroupBox, "Received", 311, 234, 205, 100, 0},
    {IDC_RESET, PushButton, "Reset", 349, 336, 50, 14, kButton},
    {IDC_START_STOP, PushButton, "start/stop", 450, 336, 50, 14, kButton},
    {IDC_SHOW_GRAPH, PushButton, "Show Graph", 248, 336, 50, 14, kButton},
    {IDC_LOG, PushButton, "Log", 405, 201, 50, 14, kButton},
    {IDC_STATIC, GroupBox, "Last Error Code", 243, 190, 140, 33, 0},
    {IDC_LAST_ERROR_CODE, Label, "", 256, 206, 58, 8, 0},
    {IDC_GET_LAST_ERROR, PushButton, "Get", 328, 201, 50, 14, kButton},
    {IDC_INPUT, PushButton, "Input", 194, 315, 50, 14, kButton},
    {IDC_STATIC, Label, " (max 9,999)", 213, 246, 42, 8, 0},
    {IDC_STATIC, GroupBox, "Auto power off setting [minutes]", 15, 152, 211, 33, 0},
    {IDC_AUTO_POWER_OFF_INF, RadioButton, "Inf", 22, 167, 25, 10, kLeadRadio},
    {IDC_AUTO_POWER_OFF_5, RadioButton, "5", 64, 167, 20, 10, kRadio},
    {IDC_AUTO_POWER_OFF_10, RadioButton, "10", 100, 167, 24, 10, kRadio},
    {IDC_AUTO_POWER_OFF_15, RadioButton, "15", 134, 167, 24, 10, kRadio},
    {IDC_AUTO_POWER_OFF_30, RadioButton, "30", 172, 167, 24, 10, kRadio},
    {IDC_STATIC, GroupBox, "Analog output response speed", 243, 152, 211, 33, 0},
    {IDC_ANALOG_SLOW, RadioButton, "Slow", 253, 169, 31, 10, kLeadRadio},
    {IDC_ANALOG_FAST, RadioButton, "Fast", 303, 169, 30, 10, kRadio},
};

constexpr ControlTemplate kGraphDialogControls[] = {
    {IDC_STATIC, GroupBox, "Data Type", 12, 13, 251, 33, 0},
    {IDC_IRRADIANCE, RadioButton, "Irradiance", 17, 25, 56, 14, kGroupStart},
    {IDC_INTEGRAL_IRRADIANCE, RadioButton, "Integral irradiance", 90, 25, 76, 14, kRadio},
    {IDC_PEAK_IRRADIANCE, RadioButton, "Peak Irradiance", 172, 25, 76, 14, kRadio},
    {IDC_STATIC, GroupBox, "Data Count", 270, 13, 152, 32, kGroupStart},
    {IDC_COUNT_ALL, RadioButton, "ALL", 277, 29, 27, 10, kGroupStart},
    {IDC_COUNT_RANGE, RadioButton, "", 307, 29, 16, 10, kRadio},
    {IDC_COUNT_FROM, Edit, "", 323, 26, 39, 14, kBorder | kTabStop | kGroupStart},
    {IDC_STATIC, Label, "-", 367, 28, 8, 8, 0},
    {IDC_COUNT_TO, Edit, "", 376, 25, 39, 14, kBorder | kTabStop},
    {IDC_SETTING, PushButton, "Setting", 426, 25, 50, 14, kGroupStart},
    {IDC_REALTIME_GRAPH, Label, "", 7, 57, 564, 267, kGroupStart},
    {IDC_GRAPH_CLOSE, PushButton, "Close", 521, 332, 50, 14, kTabStop},
    {IDC_STATIC, GroupBox, "", 7, 7, 473, 43, 0},
    {IDC_GRAPH_START_STOP, PushButton, "Start/Stop", 427, 332, 50, 14, kGroupStart},
    {IDC_STATIC, GroupBox, "", 484, 7, 88, 42, 0},
    {IDC_STATIC, Label, "Interval", 490, 18, 26, 8, 0},
    {IDC_STATIC, Label, "Count", 490, 31, 20, 8, 0},
    {IDC_GRAPH_INTERVAL, Label, "xxxx [s]", 524, 18, 41, 8, kRightAligned | kGroupStart},
    {IDC_GRAPH_COUNT, Label, "xxxxxx", 521, 31, 34, 8, kRightAligned | kGroupStart},
};

constexpr ControlTemplate kLogDialogControls[] = {
    {IDC_LOG_CLOSE, PushButton, "Close", 259, 162, 50, 14, kButton},
    {IDC_LOG_TEXT, Edit, "", 7, 7, 302, 154, kListBox},
};
// clang-format on

constexpr DialogTemplate kDialogTemplates[] = {
    {IDD_QIRO7_DIALOG, "QIRO-7", 530, 362, "MS Shell Dlg", 8,
     kDialogCaption | kDialogSystemMenu | kDialogModalFrame | kDialogAppWindow | kDialogVisible,
     kMainDialogControls},
    {IDD_GRAPH_DIALOG, "", 578, 353, "MS Shell Dlg", 8,
     kDialogCaption | kDialogSystemMenu | kDialogModalFrame, kGraphDialogControls},
    {IDD_LOG_DIALOG, "Log", 316, 183, "MS Shell Dlg", 8,
     kDialogCaption | kDialogSystemMenu | kDialogModalFrame, kLogDialogControls},
};

bool StartsGroup(const ControlTemplate& control) {
    return (control.style & kGroupStart) != 0;
}

bool IsRadio(const ControlTemplate& control) {
    return control.kind == ControlKind::RadioButton;
}

}  // namespace

const DialogTemplate* FindDialogTemplate(int id) {
    for (const DialogTemplate& dialog : kDialogTemplates) {
        if (dialog.id == id) {
            return &dialog;
        }
    }
    return nullptr;
}

const ControlTemplate* FindControlTemplate(const DialogTemplate& dialog, int id) {
    const auto found =
        std::find_if(dialog.controls.begin(), dialog.controls.end(),
                     [id](const ControlTemplate& control) { return control.id == id; });
    return found != dialog.controls.end() ? &*found : nullptr;
}

std::vector<int> RadioGroupMembers(const DialogTemplate& dialog, int firstButtonId) {
    const auto first = std::find_if(
        dialog.controls.begin(), dialog.controls.end(),
        [firstButtonId](const ControlTemplate& control) { return control.id == firstButtonId; });
    if (first == dialog.controls.end() || !IsRadio(*first)) {
        return {};
    }
    std::vector<int> members{first->id};
    for (auto control = std::next(first);
         control != dialog.controls.end() && !StartsGroup(*control); ++control) {
        if (IsRadio(*control)) {
            members.push_back(control->id);
        }
    }
    return members;
}

std::vector<int> RadioGroupLeaders(const DialogTemplate& dialog) {
    std::vector<int> leaders;
    bool groupHasLeader = false;
    for (const ControlTemplate& control : dialog.controls) {
        if (StartsGroup(control)) {
            groupHasLeader = false;
        }
        if (IsRadio(control) && !groupHasLeader) {
            leaders.push_back(control.id);
            groupHasLeader = true;
        }
    }
    return leaders;
}
