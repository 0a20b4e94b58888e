#include "cli/Commands.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

#include "cli/ConditionNames.h"
#include "cli/ConsoleInteraction.h"
#include "cli/DemoInstrument.h"
#include "cli/ExitCodes.h"
#include "cli/Instruments.h"
#include "res/VersionInfo.h"

namespace {

constexpr char kProgramName[] = "qiro7-cli";

struct GlobalOptions {
    bool demo = false;
    bool demoFastClock = false;
    std::vector<std::string> demoFaults;
    std::string serialNumber;
    bool yes = false;
};

std::string VersionText() {
    return std::string(kProgramName) + " " + QueryVersionString("FileVersion").value_or("") + " (" +
           QueryVersionString("ProductName").value_or("") + ")";
}

std::string ConditionsHelp() {
    std::string help = "NAME=VALUE, the conditions as the window shows them:";
    for (const std::string& name : ConditionNameList()) {
        help += "\n  " + name + "=" + ConditionValuesHelp(name);
    }
    return help;
}

void AddGlobalOptions(CLI::App& app, GlobalOptions& options) {
    app.add_option("--serial", options.serialNumber,
                   "Talk to the instrument with this serial number (its S/N); without it, "
                   "to the first one found");
    app.add_flag("--yes,-y", options.yes, "Answer Yes to every question (replace a file, ...)");
    app.add_flag("--demo", options.demo,
                 "Use the simulated instrument instead of USB (nothing is real)");
    app.add_flag("--demo-fast-clock", options.demoFastClock,
                 "With --demo: the simulated instrument's time passes at once");
    app.add_option(
           "--demo-fault", options.demoFaults,
           "With --demo: a fault of the simulated instrument; may be repeated:" + DemoFaultHelp())
        ->allow_extra_args(false);
}

// Everything a command needs before it talks to the instrument; an ExitCode.
int PrepareInstrument(const GlobalOptions& options) {
    InstallModalInteraction(std::make_shared<ConsoleInteraction>(stderr, options.yes));
    std::string reason;
    if (options.demo && !InstallDemoInstrument(options.demoFastClock, options.demoFaults, reason)) {
        ReportError(reason);
        return ExitCode::kUsage;
    }
    if (!options.demo && (options.demoFastClock || !options.demoFaults.empty())) {
        ReportError("--demo-fast-clock and --demo-fault need --demo");
        return ExitCode::kUsage;
    }
    if (!options.serialNumber.empty()) {
        const int chosen = ChooseInstrumentBySerial(options.serialNumber, reason);
        if (chosen != ExitCode::kSuccess) {
            ReportError(reason);
        }
        return chosen;
    }
    return ExitCode::kSuccess;
}

struct ParsedCommandLine {
    GlobalOptions global;
    bool json = false;
    std::vector<std::string> assignments;
    MeasureOptions measure;
};

void AddSetArguments(CLI::App& set, ParsedCommandLine& parsed) {
    set.add_option("assignments", parsed.assignments, ConditionsHelp())->required();
}

void AddMeasureOptions(CLI::App& measure, ParsedCommandLine& parsed) {
    MeasureOptions& options = parsed.measure;
    measure
        .add_option("--interval", options.intervalSeconds,
                    "Seconds between samples, 0 to 999; 0 takes every reading")
        ->required()
        ->check(CLI::Range(0, 999));
    measure
        .add_option("--count", options.count, "Samples to take, 0 to 9999; 0 runs until stopped")
        ->required()
        ->check(CLI::Range(0, 9999));
    measure.add_option("--output,-o", options.outputPath,
                       "Write the samples to this file (standard output without it)");
    measure.add_flag("--timestamps", options.timestamps,
                     "Put the computer's UTC time of arrival before each sample");
    measure.add_option("--format", options.format, "csv (the window's CSV lines) or jsonl")
        ->check(CLI::IsMember({"csv", "jsonl"}));
}

void AddJsonFlag(CLI::App& command, ParsedCommandLine& parsed) {
    command.add_flag("--json", parsed.json, "Write JSON for programs to read");
}

struct Subcommand {
    const char* name;
    const char* description;
    void (*addOptions)(CLI::App&, ParsedCommandLine&);  // null: none
    int (*run)(const ParsedCommandLine&);
};

const Subcommand kSubcommands[] = {
    {"list",
     "List every instrument with where it is attached and its serial number, and every one "
     "that cannot be used, with the reason",
     &AddJsonFlag, [](const ParsedCommandLine& parsed) { return ListCommand(parsed.json); }},
    {"info",
     "Read the instrument as the window's Connect does: identity, version, maintenance date, "
     "temperatures, last error code and the eight conditions",
     &AddJsonFlag, [](const ParsedCommandLine& parsed) { return InfoCommand(parsed.json); }},
    {"get", "Read the eight conditions", &AddJsonFlag,
     [](const ParsedCommandLine& parsed) { return GetCommand(parsed.json); }},
    {"set",
     "Write conditions (the others keep the instrument's values), in the instrument's order, "
     "then read them back",
     &AddSetArguments,
     [](const ParsedCommandLine& parsed) { return SetCommand(parsed.assignments); }},
    {"calibrate", "Run the zero calibration (block out light first; needs --yes)", nullptr,
     [](const ParsedCommandLine&) { return CalibrateCommand(); }},
    {"error", "Read the instrument's last error code", &AddJsonFlag,
     [](const ParsedCommandLine& parsed) { return ErrorCommand(parsed.json); }},
    {"log", "Read the instrument's log", &AddJsonFlag,
     [](const ParsedCommandLine& parsed) { return LogCommand(parsed.json); }},
    {"measure",
     "Run a measurement with the instrument's current conditions (set them with set) and "
     "write every sample as it arrives",
     &AddMeasureOptions,
     [](const ParsedCommandLine& parsed) { return MeasureCommand(parsed.measure); }},
};

void BuildCommandTree(CLI::App& app, ParsedCommandLine& parsed) {
    app.set_version_flag("--version", VersionText());
    app.require_subcommand(1);
    app.fallthrough();  // the options above may also follow the subcommand
    app.footer(
        "Exit status: 0 success, 2 usage error, 3 no instrument, 4 no permission, 5 instrument "
        "busy, 6 instrument refused, 7 link failure, 8 output file failure.");
    AddGlobalOptions(app, parsed.global);
    for (const Subcommand& subcommand : kSubcommands) {
        CLI::App* command = app.add_subcommand(subcommand.name, subcommand.description);
        if (subcommand.addOptions != nullptr) {
            subcommand.addOptions(*command, parsed);
        }
    }
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
    CLI::App app("The QIRO-7 radiometer from the command line.", kProgramName);
    ParsedCommandLine parsed;
    BuildCommandTree(app, parsed);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == static_cast<int>(CLI::ExitCodes::Success) ? ExitCode::kSuccess
                                                                   : ExitCode::kUsage;
    }
    if (const int prepared = PrepareInstrument(parsed.global); prepared != ExitCode::kSuccess) {
        return prepared;
    }
    for (const Subcommand& subcommand : kSubcommands) {
        if (app.got_subcommand(subcommand.name)) {
            return subcommand.run(parsed);
        }
    }
    return ExitCode::kUsage;  // require_subcommand(1) leaves no way here
}

void ReportError(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", kProgramName, message.c_str());
    std::fflush(stderr);
}
