// Dialog templates as plain data: every window's controls with ids, kinds, captions and
// positions in dialog units. The window layer builds its widgets from these tables, so the
// layout lives in one place and can be checked without a window system. Immutable; any thread.
#pragma once

#include <span>
#include <vector>

inline constexpr int IDD_QIRO7_DIALOG = 102;
inline constexpr int IDD_GRAPH_DIALOG = 103;
inline constexpr int IDD_LOG_DIALOG = 104;

// Controls without an id of their own (labels, group boxes).
inline constexpr int IDC_STATIC = -1;

// Main window (template 102).
inline constexpr int IDC_QUIT = 2;
inline constexpr int IDC_MODEL = 1050;
inline constexpr int IDC_SERIAL_NUMBER = 1051;
inline constexpr int IDC_MAINTENANCE_DATE = 1052;
inline constexpr int IDC_RANGE_AUTO = 1053;
inline constexpr int IDC_RANGE_A1 = 1054;
inline constexpr int IDC_RANGE_A2 = 1055;
inline constexpr int IDC_RANGE_A3 = 1056;
inline constexpr int IDC_FREQUENCY_50HZ = 1057;
inline constexpr int IDC_FREQUENCY_60HZ = 1058;
inline constexpr int IDC_DETECTOR_TEMPERATURE = 1059;
inline constexpr int IDC_CONTROLLER_TEMPERATURE = 1060;
inline constexpr int IDC_REFRESH = 1061;
inline constexpr int IDC_ZERO_CALIBRATION_ON = 1062;
inline constexpr int IDC_ZERO_CALIBRATION_OFF = 1063;
inline constexpr int IDC_CALIBRATE = 1064;
inline constexpr int IDC_FACTOR_ON = 1065;
inline constexpr int IDC_FACTOR_OFF = 1066;
inline constexpr int IDC_CORRECTION_FACTOR = 1067;
inline constexpr int IDC_AUTO_OUTPUT = 1068;
inline constexpr int IDC_RANGE_F1 = 1069;
inline constexpr int IDC_CONNECT = 1070;
inline constexpr int IDC_INTERVAL = 1071;
inline constexpr int IDC_GRAPH = 1072;
inline constexpr int IDC_CSV_FILE_NAME = 1073;
inline constexpr int IDC_START_STOP = 1074;
inline constexpr int IDC_RECEIVED = 1075;
inline constexpr int IDC_OUTPUT = 1076;
inline constexpr int IDC_INPUT = 1077;
inline constexpr int IDC_BROWSE = 1078;
inline constexpr int IDC_RESET = 1079;
inline constexpr int IDC_VERSION = 1080;
inline constexpr int IDC_SAVE = 1081;
inline constexpr int IDC_RANGE_F2 = 1082;
inline constexpr int IDC_RANGE_F3 = 1083;
inline constexpr int IDC_SHOW_GRAPH = 1085;
inline constexpr int IDC_COUNT = 1086;
inline constexpr int IDC_AVERAGING_1 = 1088;
inline constexpr int IDC_AVERAGING_2 = 1089;
inline constexpr int IDC_AVERAGING_3 = 1090;
inline constexpr int IDC_AVERAGING_4 = 1091;
inline constexpr int IDC_AVERAGING_5 = 1092;
inline constexpr int IDC_LOG = 1100;
inline constexpr int IDC_LAST_ERROR_CODE = 1101;
inline constexpr int IDC_GET_LAST_ERROR = 1102;
inline constexpr int IDC_AUTO_POWER_OFF_INF = 1105;
inline constexpr int IDC_AUTO_POWER_OFF_5 = 1106;
inline constexpr int IDC_AUTO_POWER_OFF_10 = 1107;
inline constexpr int IDC_AUTO_POWER_OFF_15 = 1108;
inline constexpr int IDC_AUTO_POWER_OFF_30 = 1109;
inline constexpr int IDC_ANALOG_FAST = 1110;
inline constexpr int IDC_ANALOG_SLOW = 1111;

// Graph window (template 103).
inline constexpr int IDC_GRAPH_CLOSE = 2;
inline constexpr int IDC_IRRADIANCE = 1082;
inline constexpr int IDC_INTEGRAL_IRRADIANCE = 1083;
inline constexpr int IDC_PEAK_IRRADIANCE = 1084;
inline constexpr int IDC_REALTIME_GRAPH = 1093;
inline constexpr int IDC_COUNT_ALL = 1094;
inline constexpr int IDC_COUNT_RANGE = 1095;
inline constexpr int IDC_COUNT_TO = 1096;
inline constexpr int IDC_COUNT_FROM = 1097;
inline constexpr int IDC_SETTING = 1098;
inline constexpr int IDC_GRAPH_START_STOP = 1099;
inline constexpr int IDC_GRAPH_COUNT = 1102;
inline constexpr int IDC_GRAPH_INTERVAL = 1103;

// Log window (template 104).
inline constexpr int IDC_LOG_CLOSE = 2;
inline constexpr int IDC_LOG_TEXT = 1104;

enum class ControlKind { PushButton, RadioButton, CheckBox, Edit, Label, GroupBox };

// Style bits of a control, named after what they mean to the window.
enum ControlStyle : unsigned {
    kGroupStart = 1u << 0,  // starts a group: a new radio group, or the end of the previous one
    kTabStop = 1u << 1,
    kBorder = 1u << 2,
    kAutoHScroll = 1u << 3,  // edit: scrolls to the side instead of refusing more text
    kMultiLine = 1u << 4,
    kReadOnly = 1u << 5,
    kVScroll = 1u << 6,  // a vertical scroll bar, always shown
    kRightAligned = 1u << 7,
    kDefaultButton = 1u << 8,  // the button Enter presses
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* caption;
    int x;
    int y;
    int width;
    int height;
    unsigned style;
};

enum DialogStyle : unsigned {
    kDialogCaption = 1u << 0,
    kDialogSystemMenu = 1u << 1,
    kDialogModalFrame = 1u << 2,
    kDialogAppWindow = 1u << 3,  // shows in the task bar
    kDialogVisible = 1u << 4,    // visible as soon as it is created
};

struct DialogTemplate {
    int id;
    const char* caption;
    int width;  // client area, dialog units
    int height;
    const char* fontName;
    int fontPointSize;
    unsigned style;
    std::span<const ControlTemplate> controls;  // template order = tab order
};

// Null for an unknown id.
const DialogTemplate* FindDialogTemplate(int id);

// The controls of the template in template order, null when the id is not one of them.
const ControlTemplate* FindControlTemplate(const DialogTemplate& dialog, int id);

// The radio buttons of the group that begins at firstButtonId: every radio button from there
// up to the next control that starts a group, in template order. Empty when firstButtonId is
// not a radio button of the template.
std::vector<int> RadioGroupMembers(const DialogTemplate& dialog, int firstButtonId);

// The first button of every radio group of the template, in template order.
std::vector<int> RadioGroupLeaders(const DialogTemplate& dialog);
