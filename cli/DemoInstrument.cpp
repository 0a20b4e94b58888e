#include "cli/DemoInstrument.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>

#include "sim/SimulatedUsbDriver.h"

namespace {

using Apply = std::function<bool(SimulatedUsbDriver&, const std::string& argument)>;

struct DemoFault {
    const char* name;
    const char* argument;  // empty: takes none
    const char* help;
    Apply apply;
};

bool ParseCount(const std::string& text, int& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= 0;
}

bool FailOpening(SimulatedUsbDriver& driver, SimulatedUsbDriver::OpenFailure failure) {
    driver.SetOpenFailure(failure);
    return true;
}

// "LINES:CODE", e.g. "20:5".
bool StreamError(SimulatedUsbDriver& driver, const std::string& argument) {
    const std::size_t colon = argument.find(':');
    int lines = 0;
    int code = 0;
    if (colon == std::string::npos || !ParseCount(argument.substr(0, colon), lines) ||
        !ParseCount(argument.substr(colon + 1), code)) {
        return false;
    }
    driver.Instrument()->SetStreamFault(
        SimulatedInstrument::StreamFault{static_cast<std::size_t>(lines), "NG", code});
    return true;
}

// Seconds as a decimal number (fractions allowed), or "never": nullopt.
bool ParseAbsence(const std::string& text, std::optional<std::chrono::milliseconds>& absence) {
    constexpr double kLongestSeconds = 1e9;  // about 30 years: far more than anyone waits
    if (text == "never") {
        absence.reset();
        return true;
    }
    double seconds = 0.0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), seconds, std::chars_format::fixed);
    if (error != std::errc() || end != text.data() + text.size() || !(seconds >= 0.0) ||
        seconds > kLongestSeconds) {
        return false;
    }
    absence = std::chrono::milliseconds(std::llround(seconds * 1000.0));
    return true;
}

// "LINES:SECONDS", e.g. "20:0.5" or "20:never".
bool Unplug(SimulatedUsbDriver& driver, const std::string& argument) {
    const std::size_t colon = argument.find(':');
    int lines = 0;
    std::optional<std::chrono::milliseconds> absence;
    if (colon == std::string::npos || !ParseCount(argument.substr(0, colon), lines) ||
        !ParseAbsence(argument.substr(colon + 1), absence)) {
        return false;
    }
    driver.UnplugAfterStreamLines(static_cast<std::size_t>(lines), absence);
    return true;
}

const DemoFault kFaults[] = {
    {"absent", "", "no instrument is attached",
     [](SimulatedUsbDriver& driver, const std::string&) {
         driver.SetPresent(false);
         return true;
     }},
    {"no-permission", "", "the instrument may not be opened by this user",
     [](SimulatedUsbDriver& driver, const std::string&) {
         return FailOpening(driver, SimulatedUsbDriver::OpenFailure::NoPermission);
     }},
    {"busy", "", "another program holds the instrument",
     [](SimulatedUsbDriver& driver, const std::string&) {
         return FailOpening(driver, SimulatedUsbDriver::OpenFailure::Busy);
     }},
    {"refuse", "WORD", "the instrument answers the command WORD (e.g. MRW) with \"NG\"",
     [](SimulatedUsbDriver& driver, const std::string& word) {
         driver.Instrument()->SetReplyOverride(word, {"NG", "END"});
         return !word.empty();
     }},
    {"silent", "WORD", "the instrument stops answering from the command WORD on",
     [](SimulatedUsbDriver& driver, const std::string& word) {
         driver.Instrument()->SetSilentFromCommand(word);
         return !word.empty();
     }},
    {"stream-error", "LINES:CODE",
     "a run ends with \"NG\" after LINES readings, with the last error CODE (4 integration "
     "over, 5 range over)",
     &StreamError},
    {"unplug", "LINES:SECONDS",
     "after LINES readings of a run the instrument is unplugged, and plugged back in SECONDS "
     "seconds later (such as 0.5; \"never\": it stays away) as if switched off and on; once. "
     "The seconds pass in real time, also with --demo-fast-clock",
     &Unplug},
    {"light", "", "light reaches the detector, so a zero calibration is refused",
     [](SimulatedUsbDriver& driver, const std::string&) {
         driver.Instrument()->SetDetectorLit(true);
         return true;
     }},
};

}  // namespace

std::string DemoFaultHelp() {
    std::string help;
    for (const DemoFault& fault : kFaults) {
        help += std::string("\n  ") + fault.name + (*fault.argument != '\0' ? ":" : "") +
                fault.argument + ": " + fault.help;
    }
    return help;
}

bool InstallDemoInstrument(bool fastClock, const std::vector<std::string>& faults,
                           std::string& reason) {
    auto driver = std::make_shared<SimulatedUsbDriver>(
        fastClock ? SimulatedInstrument::ClockMode::Fast : SimulatedInstrument::ClockMode::Real);
    for (const std::string& fault : faults) {
        const std::size_t colon = fault.find(':');
        const std::string name = fault.substr(0, colon);
        const std::string argument = colon == std::string::npos ? "" : fault.substr(colon + 1);
        bool applied = false;
        for (const DemoFault& known : kFaults) {
            const bool takesArgument = *known.argument != '\0';
            if (name == known.name && takesArgument == (colon != std::string::npos)) {
                applied = known.apply(*driver, argument);
            }
        }
        if (!applied) {
            reason = "--demo-fault " + fault + " is not one of:" + DemoFaultHelp();
            return false;
        }
    }
    InstallUsbDriver(driver);
    return true;
}
