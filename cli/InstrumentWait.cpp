#include "cli/InstrumentWait.h"

#include <chrono>
#include <set>
#include <vector>

#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/Instruments.h"
#include "cli/RunSummary.h"
#include "cli/SampleOutput.h"
#include "cli/StopSignals.h"

namespace {

using Clock = std::chrono::steady_clock;

// Short, so that a stop request ends the wait at once; a wait this long costs no more than a
// sleep of that length.
constexpr std::chrono::milliseconds kWaitStep{200};
// An instrument that is there but does not answer is tried again this often.
constexpr std::chrono::seconds kRetryEvery{5};
constexpr std::chrono::minutes kStillWaitingEvery{1};

bool Stopping() {
    return RunStopReason() != StopReason::None;
}

// Makes later CInstruments talk to the instrument wanted; the other serial numbers found are
// told once each.
bool SelectInstrument(const std::string& serialNumber, std::set<std::string>& told) {
    if (serialNumber.empty()) {
        InstallUsbDriver(BusDriver());
        return true;
    }
    std::string message;
    std::vector<std::string> others;
    if (ChooseInstrumentBySerial(serialNumber, message, &others) == ExitCode::kSuccess) {
        return true;
    }
    for (const std::string& other : others) {
        if (told.insert(other).second) {
            Console::Get().Warning(MessageTime() + ": the instrument with S/N " + other +
                                   " is attached, but --serial asks for " + serialNumber +
                                   ": it is not used");
        }
    }
    return false;
}

bool InstrumentAnswers(const std::string& serialNumber, std::set<std::string>& told,
                       InstrumentInfo& info) {
    if (!SelectInstrument(serialNumber, told)) {
        return false;
    }
    InstrumentInfo read;
    if (ReadInstrumentInfo(read) != InfoReadResult::kSuccess ||
        read.conditions.averagingIndex < 0) {
        return false;
    }
    info = read;
    return true;
}

// Waits until the bus changes or the retry is due; false when a stop came first.
bool WaitForChange(Clock::time_point since, Clock::time_point& nextNote) {
    const Clock::time_point retry = Clock::now() + kRetryEvery;
    while (!Stopping()) {
        if (Clock::now() >= nextNote) {
            Console::Get().Warning(
                MessageTime() + ": still waiting for the instrument (away for " +
                DurationText(std::chrono::duration<double>(Clock::now() - since).count()) + ")");
            nextNote += kStillWaitingEvery;
        }
        if (BusDriver()->WaitForDeviceChange(kWaitStep) || Clock::now() >= retry) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string MessageTime() {
    return UtcTimestamp(std::chrono::system_clock::now());
}

bool WaitForInstrument(const std::string& serialNumber, InstrumentInfo& info) {
    const Clock::time_point since = Clock::now();
    Clock::time_point nextNote = since + kStillWaitingEvery;
    std::set<std::string> told;
    while (!Stopping()) {
        if (InstrumentAnswers(serialNumber, told, info)) {
            return true;
        }
        if (!WaitForChange(since, nextNote)) {
            break;
        }
    }
    return false;
}
