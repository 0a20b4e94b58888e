// info, get, set, calibrate, error and log: each the service the window's button calls, its
// result written to standard output and its failure reported with the window's own text.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/ConditionNames.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/Instruments.h"
#include "cli/JsonOutput.h"
#include "cli/RunSummary.h"
#include "cli/StatusTicker.h"
#include "cli/StopSignals.h"
#include "framework/FrameworkText.h"
#include "framework/MessageBoxes.h"
#include "link/Instrument.h"
#include "res/StringTable.h"
#include "services/CalibrationServices.h"
#include "services/ConditionServices.h"
#include "services/ConnectionServices.h"

namespace {

struct LabelledText {
    const char* label;  // as the window labels the box
    std::string InstrumentInfo::*text;
};

constexpr LabelledText kInfoTexts[] = {
    {"Model", &InstrumentInfo::model},
    {"S/N", &InstrumentInfo::serialNumber},
    {"Last Maintenance Date.", &InstrumentInfo::maintenanceDate},
    {"Version", &InstrumentInfo::version},
    {"Detector temperature", &InstrumentInfo::detectorTemperature},
    {"Controller temperature", &InstrumentInfo::controllerTemperature},
    {"Last Error Code", &InstrumentInfo::lastErrorCode},
};

// A failed write is noted by the console and decides the exit status at the end.
void WriteOut(const std::string& text) {
    Console::Get().Out(text);
}

// An ExitCode for an InfoReadResult, the failure reported.
int InfoReadExitCode(int result) {
    if (result == InfoReadResult::kSuccess) {
        return ExitCode::kSuccess;
    }
    return ReportInstrumentFailure(LoadResourceString(IDS_CONNECTING_ERROR));
}

// NAME=VALUE lines, of every condition or of those named (in the order named).
std::string ConditionsText(const MeasurementConditions& conditions,
                           const std::vector<std::string>& names = {}) {
    const std::vector<NamedCondition> named = NameConditions(conditions);
    std::string text;
    for (const NamedCondition& condition : named) {
        if (names.empty()) {
            text += condition.name + "=" + condition.value + "\n";
        }
    }
    for (const std::string& name : names) {
        for (const NamedCondition& condition : named) {
            text += condition.name == name ? condition.name + "=" + condition.value + "\n" : "";
        }
    }
    return text;
}

// The conditions' JSON, with only the names asked for when there are any.
nlohmann::ordered_json SelectedConditionsJson(const MeasurementConditions& conditions,
                                              const std::vector<std::string>& names) {
    nlohmann::ordered_json document = ConditionsDocument(conditions);
    if (names.empty()) {
        return document;
    }
    nlohmann::ordered_json selected;
    selected["formatVersion"] = document["formatVersion"];
    for (const std::string& name : names) {
        const std::string key = ConditionJsonKey(name);
        selected[key] = document[key];
    }
    return selected;
}

// The first name that is not a condition, told with the nearest one; true when all are.
bool KnownConditionNames(const std::vector<std::string>& names) {
    const std::vector<std::string> known = ConditionNameList();
    for (const std::string& name : names) {
        if (std::find(known.begin(), known.end(), name) == known.end()) {
            Console::Get().Error(UnknownConditionText(name));
            return false;
        }
    }
    return true;
}

std::string InfoLines(const InstrumentInfo& info) {
    std::string text;
    for (const LabelledText& field : kInfoTexts) {
        text += std::string(field.label) + ": " + info.*field.text + "\n";
    }
    return text + ConditionsText(info.conditions);
}

// The names whose value the instrument reported without a button for it: they cannot be
// written back as they are.
std::string UnwritableNames(const MeasurementConditions& conditions) {
    std::string names;
    for (const NamedCondition& condition : NameConditions(conditions)) {
        if (condition.value == "none") {
            names += (names.empty() ? "" : ", ") + condition.name;
        }
    }
    return names;
}

// "averaging=3, range=A1" for the settings from `from` to `to` in the instrument's write order.
std::string WrittenSettings(const MeasurementConditions& values, const std::string& factorText,
                            std::size_t from, std::size_t to) {
    const std::vector<std::optional<ConditionSetting>> order = ConditionWriteOrder();
    const std::vector<NamedCondition> named = NameConditions(values);
    std::string text;
    for (std::size_t step = from; step < std::min(to, order.size()); ++step) {
        const std::string name = ConditionNameOf(order[step]);
        for (const NamedCondition& condition : named) {
            if (condition.name == name) {
                text += (text.empty() ? "" : ", ") + name + "=" +
                        (order[step] ? condition.value : factorText);
            }
        }
    }
    return text.empty() ? "none" : text;
}

// Which settings reached the instrument before a write failed, and which did not.
std::string PartialWriteText(const ConditionsUpdate& update, const MeasurementConditions& values,
                             const std::string& factorText) {
    const auto written = static_cast<std::size_t>(update.settingsWritten);
    return "; written: " + WrittenSettings(values, factorText, 0, written) +
           "; not written: " + WrittenSettings(values, factorText, written, SIZE_MAX);
}

// An ExitCode for WriteConditionsAndReread, its failure reported as the window reports it, with
// what the instrument holds now.
int ConditionsUpdateExitCode(const ConditionsUpdate& update, const MeasurementConditions& values,
                             const std::string& factorText) {
    switch (update.written) {
        case 0:
            break;
        case kConditionWithoutArgument:
            ReportError("the instrument reports " + UnwritableNames(values) +
                        " with a value that cannot be written back; give it a value" +
                        PartialWriteText(update, values, factorText));
            return ExitCode::kUsage;
        case kFactorTextRefused:
            ReportError("the instrument's factor " +
                        FormatFrameworkNumber(values.correctionFactor) +
                        " cannot be written back; give factor=" + ConditionValuesHelp("factor"));
            return ExitCode::kUsage;
        case ExchangeResult::kOpenFailed:
            if (update.settingsWritten == 0) {
                return ReportInstrumentFailure(LoadResourceString(IDS_CONNECTION_ERROR));
            }
            ReportError(LoadResourceString(IDS_CONNECTION_ERROR) +
                        PartialWriteText(update, values, factorText));
            return ExitCode::kLinkFailure;
        case ExchangeResult::kSecondLineNotEnd:
        case ExchangeResult::kRefused:
            ReportError(std::string(LoadResourceString(IDS_WRITE_FACTOR_FAILED)) +
                        " The instrument refused " +
                        WrittenSettings(values, factorText,
                                        static_cast<std::size_t>(update.settingsWritten),
                                        static_cast<std::size_t>(update.settingsWritten) + 1) +
                        PartialWriteText(update, values, factorText));
            return ExitCode::kInstrumentRefused;
        default:
            ReportError(LoadResourceString(IDS_WRITE_FACTOR_FAILED) +
                        PartialWriteText(update, values, factorText));
            return ExitCode::kLinkFailure;
    }
    if (update.reread != InfoReadResult::kSuccess) {
        return ReportInstrumentFailure(LoadResourceString(IDS_READ_FACTOR_FAILED));
    }
    return ExitCode::kSuccess;
}

// A factor the instrument does not apply is a surprise worth a word.
void WarnOfUnappliedFactor(const std::vector<std::string>& assignments,
                           const MeasurementConditions& values, const std::string& factorText) {
    const bool factorGiven = std::any_of(
        assignments.begin(), assignments.end(),
        [](const std::string& assignment) { return assignment.starts_with("factor="); });
    const std::vector<NamedCondition> named = NameConditions(values);
    const bool switchedOff = std::any_of(named.begin(), named.end(), [](const NamedCondition& c) {
        return c.name == "factor-switch" && c.value == "OFF";
    });
    if (factorGiven && switchedOff) {
        Console::Get().Warning("factor=" + factorText +
                               " is written, but factor-switch is OFF, so the instrument does not "
                               "apply it; give factor-switch=ON as well");
    }
}

// Takes the calibration's own boxes ("completed", "block out light") instead of showing them:
// the command reports the outcome itself, in one plain line.
class CalibrationBoxes final : public ModalInteraction {
public:
    MessageAnswer ShowMessageBox(const MessageBoxRequest& request) override {
        lightWarned = lightWarned || request.text == LoadResourceString(IDS_BLOCK_OUT_LIGHT);
        return DefaultAnswer(request);
    }
    bool ChooseSaveFileName(const SaveFileRequest&, std::string&) override { return false; }
    bool LightWarned() const { return lightWarned; }

private:
    bool lightWarned = false;
};

// Seconds of the calibration so far, on the status line.
std::string CalibrationStatus(std::chrono::steady_clock::time_point started) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return "zero calibration: " + DurationText(seconds);
}

}  // namespace

int InfoCommand(bool json) {
    InstrumentInfo info;
    const int status = InfoReadExitCode(ReadInstrumentInfo(info));
    if (status == ExitCode::kSuccess) {
        WriteOut(json ? JsonLine(InfoDocument(info)) : InfoLines(info));
    }
    return status;
}

int GetCommand(const std::vector<std::string>& names, bool json) {
    if (!KnownConditionNames(names)) {
        return ExitCode::kUsage;
    }
    InstrumentInfo info;
    const int status = InfoReadExitCode(ReadInstrumentInfo(info));
    if (status == ExitCode::kSuccess) {
        WriteOut(json ? JsonLine(SelectedConditionsJson(info.conditions, names))
                      : ConditionsText(info.conditions, names));
    }
    return status;
}

// Like the window's Save after a Connect: the values read, changed where the user says, written
// whole and read back. Every assignment is checked before the instrument is touched.
int SetCommand(const std::vector<std::string>& assignments) {
    MeasurementConditions checked;
    std::string checkedFactor;
    std::string reason;
    for (const std::string& assignment : assignments) {
        if (!ApplyConditionAssignment(assignment, checked, checkedFactor, reason)) {
            ReportError(reason);
            return ExitCode::kUsage;
        }
    }
    InstrumentInfo info;
    if (const int status = InfoReadExitCode(ReadInstrumentInfo(info)); status != 0) {
        return status;
    }
    MeasurementConditions values = info.conditions;
    // The factor box shows the number it read, and that text is what Save sends.
    std::string factorText = FormatFrameworkNumber(values.correctionFactor);
    for (const std::string& assignment : assignments) {
        ApplyConditionAssignment(assignment, values, factorText, reason);
    }
    const ConditionsUpdate update = WriteConditionsAndReread(values, factorText, info);
    const int status = ConditionsUpdateExitCode(update, values, factorText);
    if (status == ExitCode::kSuccess) {
        ShowStringMessage(IDS_CONDITIONS_UPDATED, MessageIcon::Information, MessageButtons::Ok,
                          nullptr);
        WarnOfUnappliedFactor(assignments, info.conditions, factorText);
        WriteOut(ConditionsText(info.conditions));
    }
    return status;
}

int CalibrateCommand() {
    if (ShowStringMessage(IDS_CONFIRM_ZERO_CALIBRATION, MessageIcon::Question,
                          MessageButtons::YesNo, nullptr) != MessageAnswer::Yes) {
        return ExitCode::kUsage;
    }
    InstallCalibrationInterrupt();
    const auto boxes = std::make_shared<CalibrationBoxes>();
    CalibrationResult calibration;
    {
        const auto started = std::chrono::steady_clock::now();
        const StatusTicker status([started] { return CalibrationStatus(started); });
        const ThreadModalInteraction taken(boxes);
        calibration = ZeroCalibrate();
    }
    if (calibration.result == ExchangeResult::kOpenFailed) {
        return ReportInstrumentFailure(LoadResourceString(IDS_CONNECTION_ERROR));
    }
    const std::string code =
        calibration.errorCodeRead ? " (last error code " + calibration.lastErrorCode + ")" : "";
    if (calibration.result != 0) {
        ReportError(std::string("zero calibration failed: ") +
                    LoadResourceString(IDS_CONNECTING_ERROR) + code);
        return ExitCode::kLinkFailure;
    }
    if (boxes->LightWarned()) {
        ReportError(std::string("zero calibration refused by the instrument, which sees light: ") +
                    LoadResourceString(IDS_BLOCK_OUT_LIGHT) + code);
        return ExitCode::kInstrumentRefused;
    }
    WriteOut("zero calibration: completed" + code + "\n");
    return ExitCode::kSuccess;
}

int ErrorCommand(bool json) {
    std::string code;
    if (!ReadLastErrorCode(code)) {
        return ReportInstrumentFailure(LoadResourceString(IDS_CONNECTING_ERROR));
    }
    WriteOut(json ? JsonLine(ErrorDocument(code)) : code + "\n");
    return ExitCode::kSuccess;
}

// The instrument ends its log lines with CR alone; here each becomes a line of its own.
int LogCommand(bool json) {
    std::string log;
    if (!ReadInstrumentLog(log)) {
        return ReportInstrumentFailure(LoadResourceString(IDS_CONNECTING_ERROR));
    }
    if (json) {
        WriteOut(JsonLine(LogDocument(log)));
        return ExitCode::kSuccess;
    }
    for (char& c : log) {
        c = c == '\r' ? '\n' : c;
    }
    WriteOut(log.empty() ? log : log + "\n");
    return ExitCode::kSuccess;
}
