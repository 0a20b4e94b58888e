#include "sim/SimulatedInstrument.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <numbers>

namespace {

using Identity = SimulatedInstrument::Identity;
using Conditions = SimulatedInstrument::Conditions;

constexpr char kCr = '\r';
constexpr std::size_t kLogLimit = 100;
constexpr double kBaseIrradiance = 10.6;  // mW/cm2, a lamp at a working distance
constexpr double kDriftFraction = 0.02;   // slow lamp drift over kDriftPeriodS
constexpr double kDriftPeriodS = 60.0;
constexpr double kNoiseFraction = 0.004;  // at averaging 1, shrinking with averaging

struct IdentityQuery {
    std::string_view word;
    std::string Identity::*field;
};

constexpr IdentityQuery kIdentityQueries[] = {
    {"WHO", &Identity::model},
    {"SRL", &Identity::serialNumber},
    {"MT", &Identity::maintenanceDate},
    {"VER", &Identity::version},
};

struct IntegerSetting {
    std::string_view readWord;
    std::string_view writeWord;
    int Conditions::*field;
    bool (*accepts)(int value);
};

constexpr IntegerSetting kIntegerSettings[] = {
    {"ACR", "ACW", &Conditions::averaging, [](int v) { return v >= 1 && v <= 5; }},
    {"MRR", "MRW", &Conditions::range, [](int v) { return v == -1 || (v >= 1 && v <= 6); }},
    {"FRQR", "FRQW", &Conditions::frequency, [](int v) { return v == 0 || v == 1; }},
    {"CFSR", "CFSW", &Conditions::factorSwitch, [](int v) { return v == 0 || v == 1; }},
    {"ZCR", "ZCW", &Conditions::zeroCalibration, [](int v) { return v == 0 || v == 1; }},
    {"APR", "APW", &Conditions::autoPowerOff, [](int v) { return v >= 0 && v <= 4; }},
    {"AFR", "AFW", &Conditions::analogResponse, [](int v) { return v == 0 || v == 1; }},
};

// The firmware's own integer rule: an optional minus and 1 to 6 digits, nothing else.
std::optional<int> ParseWireInteger(const std::optional<std::string>& text) {
    if (!text.has_value()) {
        return std::nullopt;
    }
    std::string_view digits = *text;
    const bool negative = !digits.empty() && digits.front() == '-';
    if (negative) {
        digits.remove_prefix(1);
    }
    if (digits.empty() || digits.size() > 6) {
        return std::nullopt;
    }
    int value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

// "0123456789." only, at most 5 characters, one point, a digit, 0.001 to 9.999.
bool IsAcceptedFactorText(const std::optional<std::string>& text) {
    if (!text.has_value() || text->empty() || text->size() > 5) {
        return false;
    }
    long long tenThousandths = 0;
    int fractionDigits = -1;
    bool anyDigit = false;
    for (char c : *text) {
        if (c == '.') {
            if (fractionDigits >= 0) {
                return false;
            }
            fractionDigits = 0;
            continue;
        }
        if (c < '0' || c > '9') {
            return false;
        }
        anyDigit = true;
        tenThousandths = tenThousandths * 10 + (c - '0');
        if (fractionDigits >= 0) {
            ++fractionDigits;
        }
    }
    for (int scale = std::max(fractionDigits, 0); scale < 4; ++scale) {
        tenThousandths *= 10;
    }
    return anyDigit && tenThousandths >= 10 && tenThousandths <= 99990;
}

std::string TwoDigits(std::int64_t value) {
    return std::string(1, static_cast<char>('0' + value / 10 % 10)) +
           static_cast<char>('0' + value % 10);
}

std::string UptimeText(std::int64_t milliseconds) {
    const std::int64_t seconds = milliseconds / 1000;
    return TwoDigits(seconds / 3600) + ":" + TwoDigits(seconds / 60 % 60) + ":" +
           TwoDigits(seconds % 60);
}

std::int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// splitmix64: the same sequence on every platform.
std::uint64_t NextRandom(std::uint64_t& state) {
    state += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::string ErrorEvent(int code) {
    switch (code) {
        case 4:
            return "ERROR 4 INTEGRATION OVER";
        case 5:
            return "ERROR 5 RANGE OVER";
        default:
            return "ERROR " + std::to_string(code);
    }
}

}  // namespace

SimulatedInstrument::SimulatedInstrument(ClockMode clock)
    : clockMode(clock),
      realEpochMs(SteadyMs()),
      log{"0001 00:00:00 POWER ON", "0002 00:00:02 SELF TEST PASSED",
          "0003 00:00:41 ZERO CALIBRATION DONE"},
      logSequence(log.size()) {}

// --- bulk transfers ---------------------------------------------------------------------

void SimulatedInstrument::ReceiveBytes(std::string_view bytes) {
    for (char c : bytes) {
        if (c != kCr) {
            if (requestText.size() < kRequestLimit) {
                requestText.push_back(c);
            } else {
                requestOverflow = true;
            }
            continue;
        }
        if (!requestText.empty() || requestOverflow) {
            HandleRequest(requestText);
        }
        requestText.clear();
        requestOverflow = false;
    }
}

std::optional<std::string> SimulatedInstrument::NextPacket(std::size_t maxBytes) {
    CatchUp(NowMs());
    if (output.empty() && clockMode == ClockMode::Fast) {
        if (const auto due = NextEventTime()) {
            virtualNowMs = std::max(virtualNowMs, *due);
            CatchUp(virtualNowMs);
        }
    }
    if (output.empty()) {
        if (idleReads == IdleReads::EmptyPacket) {
            return std::string();
        }
        return std::nullopt;
    }
    return TakePacket(std::min(maxBytes, kPacketSize));
}

std::optional<std::int64_t> SimulatedInstrument::MillisecondsUntilOutput() const {
    if (clockMode == ClockMode::Fast) {
        return std::nullopt;
    }
    const auto due = NextEventTime();
    if (!due.has_value()) {
        return std::nullopt;
    }
    return std::max<std::int64_t>(0, *due - NowMs());
}

std::string SimulatedInstrument::TakePacket(std::size_t maxBytes) {
    std::size_t count = 0;
    switch (packetisation) {
        case Packetisation::LinePerPacket: {
            const std::string& front = output.front().bytes;
            const std::size_t cr = front.find(kCr);
            count = cr == std::string::npos ? front.size() : cr + 1;
            break;
        }
        case Packetisation::WholeReply:
            count = output.front().bytes.size();
            break;
        case Packetisation::FixedSize:
            count = packetBytes;
            break;
        case Packetisation::RandomCuts:
            count = 1 + NextRandom(cutState) % packetBytes;
            break;
    }
    count = std::min(count, maxBytes);

    std::string packet;
    while (packet.size() < count && !output.empty()) {
        OutputUnit& front = output.front();
        const std::size_t take = std::min(count - packet.size(), front.bytes.size());
        packet.append(front.bytes, 0, take);
        front.bytes.erase(0, take);
        if (front.bytes.empty()) {
            if (front.streamLine) {
                --queuedStreamLines;
                ++streamLinesDelivered;
            }
            output.pop_front();
        }
    }
    return packet;
}

std::size_t SimulatedInstrument::QueuedBytes() const {
    std::size_t total = 0;
    for (const OutputUnit& unit : output) {
        total += unit.bytes.size();
    }
    return total;
}

// --- controls ---------------------------------------------------------------------------

void SimulatedInstrument::SetPacketisation(Packetisation mode, std::size_t bytes) {
    packetisation = mode;
    packetBytes = std::clamp<std::size_t>(bytes, 1, kPacketSize);
}

void SimulatedInstrument::SetClockMode(ClockMode mode) {
    const std::int64_t now = NowMs();
    clockMode = mode;
    virtualNowMs = now;
    realEpochMs = SteadyMs() - now;
}

void SimulatedInstrument::AdvanceClock(std::int64_t milliseconds) {
    if (clockMode == ClockMode::Fast && milliseconds > 0) {
        virtualNowMs += milliseconds;
    }
}

std::int64_t SimulatedInstrument::NowMs() const {
    return clockMode == ClockMode::Fast ? virtualNowMs : SteadyMs() - realEpochMs;
}

void SimulatedInstrument::SetSilentFromRequest(std::size_t requestNumber) {
    silentFromRequest = requestNumber;
    silent = false;
}

void SimulatedInstrument::SetSilentFromCommand(const std::string& commandWord) {
    silentFromCommand = commandWord;
    silent = false;
}

void SimulatedInstrument::SetReplyOverride(const std::string& commandWord,
                                           std::vector<std::string> lines) {
    if (lines.empty()) {
        replyOverrides.erase(commandWord);
    } else {
        replyOverrides[commandWord] = std::move(lines);
    }
}

void SimulatedInstrument::SetLog(std::vector<std::string> lines) {
    log = std::move(lines);
    logSequence = log.size();
}

void SimulatedInstrument::SetScriptedStream(std::vector<std::string> lines) {
    scriptedStream.assign(lines.begin(), lines.end());
}

void SimulatedInstrument::PowerCycle() {
    requestText.clear();
    requestOverflow = false;
    output.clear();
    queuedStreamLines = 0;
    streaming = false;
    streamStalled = false;
    calibrating = false;
    silent = false;
    virtualNowMs = 0;
    realEpochMs = SteadyMs();
    AddLogEntry("POWER ON");
}

// --- requests ---------------------------------------------------------------------------

void SimulatedInstrument::HandleRequest(const std::string& line) {
    CatchUp(NowMs());
    requestLog.push_back(line);

    Request request;
    const std::size_t space = line.find(' ');
    request.word = line.substr(0, space);
    if (space != std::string::npos) {
        request.argument = line.substr(space + 1);
    }

    if (!silent && SilenceTriggeredBy(request)) {
        silent = true;
    }
    if (silent) {
        return;
    }
    if (requestOverflow) {
        QueueReply({"NG"});
        return;
    }
    if (const auto found = replyOverrides.find(request.word); found != replyOverrides.end()) {
        QueueReply(found->second);
        return;
    }
    Execute(request);
}

bool SimulatedInstrument::SilenceTriggeredBy(const Request& request) const {
    return (silentFromRequest != 0 && requestLog.size() >= silentFromRequest) ||
           (!silentFromCommand.empty() && request.word == silentFromCommand);
}

void SimulatedInstrument::Execute(const Request& request) {
    const bool busy = streaming || calibrating;
    if (busy && request.word != "STP" && request.word != "RM") {
        QueueReply({"NG"});
        return;
    }
    if (ExecuteQuery(request) || ExecuteSettingWrite(request)) {
        return;
    }
    if (request.word == "CFW") {
        ExecuteFactorWrite(request);
    } else if (request.word == "TMP") {
        ExecuteTemperature(request);
    } else if (request.word == "CAL") {
        ExecuteCalibrate(request);
    } else if (request.word == "CST") {
        ExecuteStart(request);
    } else if (request.word == "STP") {
        ExecuteStop(request);
    } else if (request.word == "RM") {
        ExecuteReset(request);
    } else {
        QueueReply({"NG"});
    }
}

bool SimulatedInstrument::ExecuteQuery(const Request& request) {
    std::vector<std::string> data;
    bool known = false;
    for (const IdentityQuery& query : kIdentityQueries) {
        if (request.word == query.word) {
            data = {identity.*query.field};
            known = true;
        }
    }
    for (const IntegerSetting& setting : kIntegerSettings) {
        if (request.word == setting.readWord) {
            data = {std::to_string(conditions.*setting.field)};
            known = true;
        }
    }
    if (request.word == "CFR") {
        data = {conditions.factorText};
        known = true;
    } else if (request.word == "ERR") {
        data = {std::to_string(lastError)};
        known = true;
    } else if (request.word == "LOG") {
        data = log;
        known = true;
    }
    if (!known) {
        return false;
    }
    if (request.argument.has_value()) {
        QueueReply({"NG"});
        return true;
    }
    data.insert(data.begin(), "OK");
    data.push_back("END");
    QueueReply(data);
    return true;
}

bool SimulatedInstrument::ExecuteSettingWrite(const Request& request) {
    for (const IntegerSetting& setting : kIntegerSettings) {
        if (request.word != setting.writeWord) {
            continue;
        }
        const std::optional<int> value = ParseWireInteger(request.argument);
        if (!value.has_value() || !setting.accepts(*value)) {
            QueueReply({"NG", "END"});
            return true;
        }
        conditions.*setting.field = *value;
        QueueReply({"OK", "END"});
        return true;
    }
    return false;
}

void SimulatedInstrument::ExecuteFactorWrite(const Request& request) {
    if (!IsAcceptedFactorText(request.argument)) {
        QueueReply({"NG", "END"});
        return;
    }
    conditions.factorText = *request.argument;
    QueueReply({"OK", "END"});
}

void SimulatedInstrument::ExecuteTemperature(const Request& request) {
    const std::optional<int> sensor = ParseWireInteger(request.argument);
    if (sensor == 0) {
        QueueReply({"OK", identity.detectorTemperature, "END"});
    } else if (sensor == 1) {
        QueueReply({"OK", identity.controllerTemperature, "END"});
    } else {
        QueueReply({"NG"});
    }
}

void SimulatedInstrument::ExecuteCalibrate(const Request& request) {
    if (request.argument.has_value()) {
        QueueReply({"NG"});
        return;
    }
    calibrating = true;
    calibrationDoneMs = NowMs() + kCalibrationMs;
}

void SimulatedInstrument::FinishCalibration() {
    calibrating = false;
    if (detectorLit) {
        AddLogEntry("ZERO CALIBRATION FAILED (LIGHT)");
        QueueReply({"OK", "NG"});
    } else {
        AddLogEntry("ZERO CALIBRATION DONE");
        QueueReply({"OK", "END"});
    }
}

void SimulatedInstrument::ExecuteStart(const Request& request) {
    if (request.argument.has_value()) {
        QueueReply({"NG"});
        return;
    }
    streaming = true;
    streamStalled = false;
    streamLines = 0;
    streamLinesDelivered = 0;
    integral = 0.0;
    peak = 0.0;
    streamStartMs = NowMs();
    nextLineDueMs = streamStartMs + PeriodMs();
    QueueReply({"OK", "END"});
}

void SimulatedInstrument::ExecuteStop(const Request& request) {
    if (request.argument.has_value()) {
        QueueReply({"NG"});
    } else if (!streaming) {
        QueueReply({"NO"});
    } else {
        streaming = false;
        QueueReply({"OK", "END"});
    }
}

void SimulatedInstrument::ExecuteReset(const Request& request) {
    if (request.argument.has_value()) {
        QueueReply({"NG"});
        return;
    }
    streaming = false;
    calibrating = false;
    output.clear();
    queuedStreamLines = 0;
    QueueReply({"OK"});
}

// --- output and time --------------------------------------------------------------------

void SimulatedInstrument::QueueReply(const std::vector<std::string>& lines) {
    if (silent) {
        return;
    }
    OutputUnit unit;
    for (const std::string& line : lines) {
        unit.bytes += line;
        unit.bytes += kCr;
    }
    output.push_back(std::move(unit));
}

void SimulatedInstrument::CatchUp(std::int64_t now) {
    if (calibrating && calibrationDoneMs <= now) {
        FinishCalibration();
    }
    if (!streaming || streamStalled || nextLineDueMs > now) {
        return;
    }
    const std::int64_t period = PeriodMs();
    const std::int64_t periodsBehind = (now - nextLineDueMs) / period;
    const auto keep = static_cast<std::int64_t>(kStreamBacklogLimit);
    if (periodsBehind > keep) {
        // Readings nobody could have buffered: skip them instead of computing each.
        nextLineDueMs += (periodsBehind - keep) * period;
    }
    while (streaming && !streamStalled && nextLineDueMs <= now) {
        SendStreamLine(nextLineDueMs);
        nextLineDueMs += period;
    }
}

void SimulatedInstrument::SendStreamLine(std::int64_t lineTimeMs) {
    if (streamFault.has_value() && streamLines >= streamFault->afterLines) {
        if (streamFault->errorCode != 0) {
            lastError = streamFault->errorCode;
            AddLogEntry(ErrorEvent(lastError));
        }
        if (streamFault->finalLine.empty()) {
            streamStalled = true;
        } else {
            streaming = false;
            QueueReply({streamFault->finalLine});
        }
        return;
    }
    std::string text;
    if (!scriptedStream.empty()) {
        text = std::move(scriptedStream.front());
        scriptedStream.pop_front();
    } else {
        text = NextReading(lineTimeMs);
    }
    ++streamLines;
    if (silent || queuedStreamLines >= kStreamBacklogLimit) {
        return;
    }
    output.push_back(OutputUnit{text + kCr, true});
    ++queuedStreamLines;
}

std::string SimulatedInstrument::NextReading(std::int64_t lineTimeMs) {
    const std::uint64_t z = NextRandom(noiseState);
    const double uniform = static_cast<double>(z >> 11) / 9007199254740992.0 * 2.0 - 1.0;

    const double seconds = static_cast<double>(lineTimeMs - streamStartMs) / 1000.0;
    const double drift =
        kDriftFraction * std::sin(2.0 * std::numbers::pi * seconds / kDriftPeriodS);
    const double noise =
        kNoiseFraction * uniform / std::sqrt(static_cast<double>(PeriodMs() / 100));
    const double irradiance = kBaseIrradiance * (1.0 + drift) * (1.0 + noise);

    integral += irradiance * static_cast<double>(PeriodMs()) / 1000.0;
    peak = std::max(peak, irradiance);
    return FormatInstrumentNumber(irradiance) + " " + FormatInstrumentNumber(integral) + " " +
           FormatInstrumentNumber(peak);
}

std::optional<std::int64_t> SimulatedInstrument::NextEventTime() const {
    std::optional<std::int64_t> due;
    if (calibrating) {
        due = calibrationDoneMs;
    }
    if (streaming && !streamStalled && !silent) {
        due = due.has_value() ? std::min(*due, nextLineDueMs) : nextLineDueMs;
    }
    return due;
}

std::int64_t SimulatedInstrument::PeriodMs() const {
    return std::max(conditions.averaging, 1) * 100;
}

void SimulatedInstrument::AddLogEntry(const std::string& event) {
    std::string number = std::to_string(++logSequence);
    number.insert(0, number.size() < 4 ? 4 - number.size() : 0, '0');
    log.push_back(number + " " + UptimeText(NowMs()) + " " + event);
    if (log.size() > kLogLimit) {
        log.erase(log.begin());
    }
}

std::string FormatInstrumentNumber(double value) {
    if (!std::isfinite(value)) {
        return "0.000E+00";
    }
    // to_chars rounds the same on every platform and in every locale.
    char buffer[32];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 3);
    std::string text(buffer, result.ptr);
    std::replace(text.begin(), text.end(), 'e', 'E');
    return text;
}
