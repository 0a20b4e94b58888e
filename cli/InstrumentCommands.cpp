// info, get, set, calibrate, error and log: each the service the window's button calls, its
// result written to standard output and its failure reported with the window's own text.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/ConditionNames.h"
#include "cli/ExitCodes.h"
#include "cli/Instruments.h"
#include "cli/JsonOutput.h"
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

void WriteOut(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

// An ExitCode for an InfoReadResult, the failure reported.
int InfoReadExitCode(int result) {
    if (result == InfoReadResult::kSuccess) {
        return ExitCode::kSuccess;
    }
    return ReportInstrumentFailure(LoadResourceString(IDS_CONNECTING_ERROR));
}

std::string ConditionsText(const MeasurementConditions& conditions) {
    std::string text;
    for (const NamedCondition& condition : NameConditions(conditions)) {
        text += condition.name + "=" + condition.value + "\n";
    }
    return text;
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

// An ExitCode for WriteConditionsAndReread, its failure reported as the window reports it.
int ConditionsUpdateExitCode(const ConditionsUpdate& update, const MeasurementConditions& values) {
    switch (update.written) {
        case 0:
            break;
        case kConditionWithoutArgument:
            ReportError("the instrument reports " + UnwritableNames(values) +
                        " with a value that cannot be written back; give it a value");
            return ExitCode::kUsage;
        case kFactorTextRefused:
            ReportError("the instrument's factor " +
                        FormatFrameworkNumber(values.correctionFactor) +
                        " cannot be written back; give factor=" + ConditionValuesHelp("factor"));
            return ExitCode::kUsage;
        case ExchangeResult::kOpenFailed:
            return ReportInstrumentFailure(LoadResourceString(IDS_CONNECTION_ERROR));
        case ExchangeResult::kSecondLineNotEnd:
        case ExchangeResult::kRefused:
            ReportError(std::string(LoadResourceString(IDS_WRITE_FACTOR_FAILED)) +
                        " (the instrument refused it; the settings before it are written)");
            return ExitCode::kInstrumentRefused;
        default:
            ReportError(LoadResourceString(IDS_WRITE_FACTOR_FAILED));
            return ExitCode::kLinkFailure;
    }
    if (update.reread != InfoReadResult::kSuccess) {
        return ReportInstrumentFailure(LoadResourceString(IDS_READ_FACTOR_FAILED));
    }
    return ExitCode::kSuccess;
}

// Passes every box on and notes whether the instrument's light warning was among them: a
// calibration it refused returns success all the same.
class LightWarningWatch final : public ModalInteraction {
public:
    explicit LightWarningWatch(std::shared_ptr<ModalInteraction> shown)
        : console(std::move(shown)) {}

    MessageAnswer ShowMessageBox(const MessageBoxRequest& request) override {
        warned = warned || request.text == LoadResourceString(IDS_BLOCK_OUT_LIGHT);
        return console->ShowMessageBox(request);
    }
    bool ChooseSaveFileName(const SaveFileRequest& request, std::string& path) override {
        return console->ChooseSaveFileName(request, path);
    }
    bool Warned() const { return warned; }

private:
    std::shared_ptr<ModalInteraction> console;
    bool warned = false;
};

}  // namespace

int InfoCommand(bool json) {
    InstrumentInfo info;
    const int status = InfoReadExitCode(ReadInstrumentInfo(info));
    if (status == ExitCode::kSuccess) {
        WriteOut(json ? JsonLine(InfoDocument(info)) : InfoLines(info));
    }
    return status;
}

int GetCommand(bool json) {
    InstrumentInfo info;
    const int status = InfoReadExitCode(ReadInstrumentInfo(info));
    if (status == ExitCode::kSuccess) {
        WriteOut(json ? JsonLine(ConditionsDocument(info.conditions))
                      : ConditionsText(info.conditions));
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
    const int status = ConditionsUpdateExitCode(update, values);
    if (status == ExitCode::kSuccess) {
        ShowStringMessage(IDS_CONDITIONS_UPDATED, MessageIcon::Information, MessageButtons::Ok,
                          nullptr);
        WriteOut(ConditionsText(info.conditions));
    }
    return status;
}

int CalibrateCommand() {
    if (ShowStringMessage(IDS_CONFIRM_ZERO_CALIBRATION, MessageIcon::Question,
                          MessageButtons::YesNo, nullptr) != MessageAnswer::Yes) {
        return ExitCode::kUsage;
    }
    const auto watch = std::make_shared<LightWarningWatch>(ActiveModalInteraction());
    CalibrationResult calibration;
    {
        const ThreadModalInteraction watched(watch);
        calibration = ZeroCalibrate();
    }
    if (calibration.result == ExchangeResult::kOpenFailed) {
        return ReportInstrumentFailure(LoadResourceString(IDS_CONNECTION_ERROR));
    }
    if (calibration.errorCodeRead) {
        WriteOut("Last Error Code: " + calibration.lastErrorCode + "\n");
    }
    if (calibration.result != 0) {
        ReportError(LoadResourceString(IDS_CONNECTING_ERROR));
        return ExitCode::kLinkFailure;
    }
    return watch->Warned() ? ExitCode::kInstrumentRefused : ExitCode::kSuccess;
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
