#include <climits>
#include <string>

#include "link/Instrument.h"
#include "link/ModalInteraction.h"
#include "res/StringTable.h"

namespace {

std::string RequestWith(const char* command, int argument) {
    return std::string(command) + ' ' + std::to_string(argument);
}

std::string RequestWith(const char* command, const std::string& argument) {
    return std::string(command) + ' ' + argument;
}

int RefusalAware(int exchangeResult, const std::string& firstLine) {
    if (exchangeResult == ExchangeResult::kSuccess && firstLine != "OK") {
        return ExchangeResult::kRefused;
    }
    return exchangeResult;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int CInstrument::WriteSetting(const std::string& request) {
    std::string firstLine;
    std::string secondLine;
    return RefusalAware(Exchange(true, request, firstLine, secondLine, true, false), firstLine);
}

int CInstrument::QueryData(const std::string& request, std::string& data) {
    return Query(request, "OK", "END", data);
}

int CInstrument::WriteAveraging(int value) {
    return WriteSetting(RequestWith("ACW", value));
}

int CInstrument::WriteRange(int value) {
    return WriteSetting(RequestWith("MRW", value));
}

int CInstrument::WriteFrequency(int value) {
    return WriteSetting(RequestWith("FRQW", value));
}

int CInstrument::WriteCorrectionFactor(const std::string& factorText) {
    return WriteSetting(RequestWith("CFW", factorText));
}

int CInstrument::WriteCorrectionFactorSwitch(int value) {
    return WriteSetting(RequestWith("CFSW", value));
}

int CInstrument::WriteZeroCalibration(int value) {
    return WriteSetting(RequestWith("ZCW", value));
}

int CInstrument::WriteAutoPowerOff(int value) {
    return WriteSetting(RequestWith("APW", value));
}

int CInstrument::WriteAnalogResponse(int value) {
    return WriteSetting(RequestWith("AFW", value));
}

int CInstrument::StartMeasurement() {
    std::string productId;
    if (OpenLink(productId) == 0) {
        return ExchangeResult::kOpenFailed;
    }
    std::string firstLine;
    std::string secondLine;
    return RefusalAware(Exchange(false, "CST", firstLine, secondLine, true, false), firstLine);
}

int CInstrument::StopMeasurement(std::string& replyText) {
    return SendAndReadFirstReply("STP", replyText, false);
}

int CInstrument::Calibrate() {
    std::string firstLine;
    std::string secondLine;
    // Calibration takes as long as it takes: the first line is awaited patiently.
    const int result = Exchange(true, "CAL", firstLine, secondLine, true, true);
    if (result == ExchangeResult::kSuccess && firstLine == "OK") {
        FrameworkMessageBox(IDS_ZERO_CALIBRATION_COMPLETED, MessageIcon::Information);
        return ExchangeResult::kSuccess;
    }
    if (secondLine == "NG") {
        FrameworkMessageBox(IDS_BLOCK_OUT_LIGHT, MessageIcon::Exclamation);
        return ExchangeResult::kSuccess;
    }
    return result;
}

int CInstrument::ReadModel(std::string& data) {
    return QueryData("WHO", data);
}

int CInstrument::ReadSerialNumber(std::string& data) {
    return QueryData("SRL", data);
}

int CInstrument::ReadMaintenanceDate(std::string& data) {
    return QueryData("MT", data);
}

int CInstrument::ReadVersion(std::string& data) {
    return QueryData("VER", data);
}

int CInstrument::ReadTemperature(int sensor, std::string& data) {
    return QueryData(RequestWith("TMP", sensor), data);
}

int CInstrument::ReadCorrectionFactor(std::string& data) {
    return QueryData("CFR", data);
}

int CInstrument::ReadAveraging(std::string& data) {
    return QueryData("ACR", data);
}

int CInstrument::ReadRange(std::string& data) {
    return QueryData("MRR", data);
}

int CInstrument::ReadFrequency(std::string& data) {
    return QueryData("FRQR", data);
}

int CInstrument::ReadZeroCalibration(std::string& data) {
    return QueryData("ZCR", data);
}

int CInstrument::ReadCorrectionFactorSwitch(std::string& data) {
    return QueryData("CFSR", data);
}

int CInstrument::ReadLastError(std::string& data) {
    return QueryData("ERR", data);
}

int CInstrument::ReadAutoPowerOff(std::string& data) {
    return QueryData("APR", data);
}

int CInstrument::ReadAnalogResponse(std::string& data) {
    return QueryData("AFR", data);
}

int CInstrument::ReadLog(std::string& data) {
    return QueryData("LOG", data);
}

int ParseReplyInteger(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size() && IsBlank(text[at])) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    // Accumulated as a negative number, whose range is the larger one.
    long long value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 - (text[at] - '0');
        if (value < INT_MIN) {
            return negative ? INT_MIN : INT_MAX;
        }
    }
    if (negative) {
        return static_cast<int>(value);
    }
    return value < -INT_MAX ? INT_MAX : static_cast<int>(-value);
}
