#include "cli/Commands.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <memory>
#include <sstream>

#include "cli/Completion.h"
#include "cli/ConditionNames.h"
#include "cli/Console.h"
#include "cli/ConsoleInteraction.h"
#include "cli/DemoInstrument.h"
#include "cli/ExitCodes.h"
#include "cli/Instruments.h"
#include "cli/StopSignals.h"
#include "cli/Usage.h"
#include "link/LinkTrace.h"
#include "res/VersionInfo.h"

namespace {

constexpr char kProgramName[] = "qiro7-cli";
constexpr char kHelpHint[] =
    "Run 'qiro7-cli --help', or 'qiro7-cli COMMAND --help', for more information.";

struct GlobalOptions {
    bool demo = false;
    bool demoFastClock = false;
    std::vector<std::string> demoFaults;
    std::string serialNumber;
    bool yes = false;
    bool quiet = false;
    bool verbose = false;
};

// What the parser fills; the numbers stay text until they are checked with their own messages.
struct ParsedCommandLine {
    GlobalOptions global;
    bool json = false;
    std::vector<std::string> names;  // set's assignments, get's condition names
    MeasureOptions measure;
    std::string interval;
    std::string count;
    std::string duration;
    std::string shell;               // completion's
    const CLI::App* tree = nullptr;  // the whole parser, for completion
};

const std::vector<std::string> kSampleFormats = {"csv", "jsonl"};
const std::vector<std::string> kShells = {"bash", "zsh"};

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
    app.add_flag("--yes,-y", options.yes,
                 "Answer Yes to the program's questions (the zero calibration's); files are "
                 "replaced only with --force");
    app.add_flag("--quiet,-q", options.quiet, "Write errors only: no notes, status or summary");
    app.add_flag("--verbose,-v", options.verbose,
                 "Write a time-stamped trace of every request and reply to standard error");
    app.add_flag("--demo", options.demo,
                 "Use the simulated instrument instead of USB (nothing is real)");
    app.add_flag("--demo-fast-clock", options.demoFastClock,
                 "With --demo: the simulated instrument's time passes at once");
    app.add_option(
           "--demo-fault", options.demoFaults,
           "With --demo: a fault of the simulated instrument; may be repeated:" + DemoFaultHelp())
        ->allow_extra_args(false);
}

void AddJsonFlag(CLI::App& command, ParsedCommandLine& parsed) {
    command.add_flag("--json", parsed.json, "Write JSON for programs to read");
}

void AddSetArguments(CLI::App& set, ParsedCommandLine& parsed) {
    set.add_option("assignments", parsed.names, ConditionsHelp())->type_name("NAME=VALUE");
}

void AddGetArguments(CLI::App& get, ParsedCommandLine& parsed) {
    AddJsonFlag(get, parsed);
    get.add_option("names", parsed.names, "The conditions to read (all without a name)");
}

const std::vector<std::string> kMqttProtocols = {"5", "3.1.1"};

void AddPublishingOptions(CLI::App& measure, PublishingOptions& options) {
    const char* group = "Publishing to an MQTT broker";
    measure
        .add_option("--mqtt", options.url,
                    "Publish every sample to this broker: mqtt://[user@]host[:port][/prefix], "
                    "mqtts:// for TLS; the prefix is qiro7/<serial number> without one. Without "
                    "-o no sample goes to standard output")
        ->type_name("URL")
        ->group(group);
    measure.add_option("--mqtt-user", options.userName, "The broker's user name")->group(group);
    measure
        .add_option("--mqtt-password-file", options.passwordFile,
                    "The password, on the first line of this file (or in the environment "
                    "variable QIRO7_MQTT_PASSWORD; never on the command line)")
        ->type_name("FILE")
        ->group(group);
    measure
        .add_option("--mqtt-ca", options.caFile,
                    "mqtts: the CA certificates to verify the broker with (PEM)")
        ->type_name("FILE")
        ->group(group);
    measure.add_option("--mqtt-cert", options.certificateFile, "mqtts: a client certificate")
        ->type_name("FILE")
        ->group(group);
    measure.add_option("--mqtt-key", options.keyFile, "mqtts: the client certificate's key")
        ->type_name("FILE")
        ->group(group);
    measure
        .add_option("--mqtt-client-id", options.clientId,
                    "The client id, the same at every start (qiro7-cli-<host>-<serial number>)")
        ->group(group);
    measure.add_option("--mqtt-protocol", options.protocol, "MQTT version: 5 or 3.1.1")
        ->check(CLI::IsMember(kMqttProtocols))
        ->group(group);
    measure
        .add_option("--spool", options.spoolFolder,
                    "Where samples wait while the broker cannot be reached")
        ->type_name("DIR")
        ->group(group);
    measure
        .add_option("--spool-size", options.spoolSize,
                    "The most the spool holds (500M, 2G; about a week at 10 Hz); the oldest go "
                    "first when it is full")
        ->type_name("SIZE")
        ->group(group);
}

void AddMeasureOptions(CLI::App& measure, ParsedCommandLine& parsed) {
    MeasureOptions& options = parsed.measure;
    measure
        .add_option("--interval", parsed.interval,
                    "Seconds between samples, 0 to 999; 0 takes every reading")
        ->required()
        ->type_name("S");
    measure
        .add_option("--count", parsed.count,
                    "Samples to take, 0 to 9999; 0 runs until stopped (needed unless "
                    "--duration is given)")
        ->type_name("N");
    measure
        .add_option("--duration", parsed.duration,
                    "Stop after this long: seconds, or with s, m or h (90s, 15m, 8h)")
        ->type_name("TIME");
    measure
        .add_option("--output,-o", options.outputPath,
                    "Write the samples to this file ('-': standard output, also without it); "
                    "strftime fields (%Y-%m-%d) start a new file when the name changes")
        ->type_name("FILE");
    measure.add_flag("--force", options.force, "Replace an existing output file");
    measure.add_flag("--append", options.append,
                     "Continue an existing output file (a partial last line is cut off first)");
    measure.add_flag("--local-time", options.localTime,
                     "Fill the output name's time fields in local time instead of UTC");
    measure.add_flag("--timestamps", options.timestamps,
                     "Put the computer's UTC time of arrival before each sample");
    measure.add_option("--format", options.format, "csv (the window's CSV lines) or jsonl")
        ->check(CLI::IsMember(kSampleFormats));
    measure.add_flag("--json", options.jsonSummary,
                     "Write the summary as JSON on standard error (with jsonl: as the last "
                     "line)");
    measure.add_flag("--reconnect", options.reconnect,
                     "Do not end on a link fault: wait for the instrument and go on");
    AddPublishingOptions(measure, options.publishing);
}

// The measure options CLI11 keeps as text, checked with messages that say what was wrong.
bool CheckMeasureValues(ParsedCommandLine& parsed, std::string& message) {
    std::string reason;
    const auto interval = ParseWholeNumber(parsed.interval, 0, 999, reason);
    if (!interval) {
        message = "--interval " + parsed.interval + ": " + reason;
        return false;
    }
    parsed.measure.intervalSeconds = *interval;
    parsed.measure.serialNumber = parsed.global.serialNumber;
    if (!parsed.duration.empty()) {
        parsed.measure.durationSeconds = ParseDuration(parsed.duration, reason);
        if (!parsed.measure.durationSeconds) {
            message = "--duration " + parsed.duration + ": " + reason;
            return false;
        }
    }
    if (parsed.count.empty() && !parsed.measure.durationSeconds) {
        message = "--count is required (or --duration)";
        return false;
    }
    const auto count = ParseWholeNumber(parsed.count.empty() ? "0" : parsed.count, 0, 9999, reason);
    if (!count) {
        message = "--count " + parsed.count + ": " + reason;
        return false;
    }
    parsed.measure.count = *count;
    if (parsed.measure.force && parsed.measure.append) {
        message = "--force and --append exclude each other";
        return false;
    }
    return parsed.measure.publishing.url.empty() ||
           SamplePublishing::Check(parsed.measure.publishing, message);
}

void AddCompletionArguments(CLI::App& completion, ParsedCommandLine& parsed) {
    completion.add_option("shell", parsed.shell, "bash or zsh")
        ->required()
        ->check(CLI::IsMember(kShells));
}

// Every NAME=VALUE that set takes, as the window's buttons name the values.
std::vector<std::string> ConditionAssignments() {
    std::vector<std::string> assignments;
    for (const std::string& name : ConditionNameList()) {
        const std::string values = ConditionValuesHelp(name);
        if (values.find(' ') != std::string::npos) {
            assignments.push_back(name + "=");  // the factor: a number, not a choice
            continue;
        }
        for (std::size_t start = 0; start <= values.size();) {
            const std::size_t bar = std::min(values.find('|', start), values.size());
            assignments.push_back(name + "=" + values.substr(start, bar - start));
            start = bar + 1;
        }
    }
    return assignments;
}

int CompletionCommand(const ParsedCommandLine& parsed) {
    CompletionWords words;
    words.optionValues["--format"] = kSampleFormats;
    words.arguments["set"] = ConditionAssignments();
    words.arguments["get"] = ConditionNameList();
    words.arguments["completion"] = kShells;
    Console::Get().Out(CompletionScript(parsed.shell, *parsed.tree, words));
    return ExitCode::kSuccess;
}

bool CheckSetArguments(ParsedCommandLine& parsed, std::string& message) {
    message = "set needs at least one NAME=VALUE, for example: set range=A1";
    return !parsed.names.empty();
}

struct Subcommand {
    const char* name;
    const char* description;
    void (*addOptions)(CLI::App&, ParsedCommandLine&);  // null: none
    int (*run)(const ParsedCommandLine&);
    bool usesInstrument;  // talks to one instrument (not list)
    // Checks what CLI11 left as text; false with the message. Null: nothing to check.
    bool (*check)(ParsedCommandLine&, std::string&) = nullptr;
};

const Subcommand kSubcommands[] = {
    {"list",
     "List every instrument with where it is attached and its serial number, and every one "
     "that cannot be used, with the reason",
     &AddJsonFlag, [](const ParsedCommandLine& parsed) { return ListCommand(parsed.json); }, false},
    {"info",
     "Read the instrument as the window's Connect does: identity, version, maintenance date, "
     "temperatures, last error code and the eight conditions",
     &AddJsonFlag, [](const ParsedCommandLine& parsed) { return InfoCommand(parsed.json); }, true},
    {"get", "Read the eight conditions, or the ones named", &AddGetArguments,
     [](const ParsedCommandLine& parsed) { return GetCommand(parsed.names, parsed.json); }, true},
    {"set",
     "Write conditions (the others keep the instrument's values), in the instrument's order, "
     "then read them back",
     &AddSetArguments, [](const ParsedCommandLine& parsed) { return SetCommand(parsed.names); },
     true, &CheckSetArguments},
    {"calibrate", "Run the zero calibration (block out light first; asks, or give --yes)", nullptr,
     [](const ParsedCommandLine&) { return CalibrateCommand(); }, true},
    {"error", "Read the instrument's last error code", &AddJsonFlag,
     [](const ParsedCommandLine& parsed) { return ErrorCommand(parsed.json); }, true},
    {"log", "Read the instrument's log", &AddJsonFlag,
     [](const ParsedCommandLine& parsed) { return LogCommand(parsed.json); }, true},
    {"measure",
     "Run a measurement with the instrument's current conditions (set them with set) and "
     "write every sample as it arrives",
     &AddMeasureOptions,
     [](const ParsedCommandLine& parsed) { return MeasureCommand(parsed.measure); }, true,
     &CheckMeasureValues},
    {"completion", "Write the shell completion script for bash or zsh", &AddCompletionArguments,
     &CompletionCommand, false},
};

std::vector<std::string> CommandNames() {
    std::vector<std::string> names;
    for (const Subcommand& subcommand : kSubcommands) {
        names.emplace_back(subcommand.name);
    }
    return names;
}

std::string JoinedNames(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

void BuildCommandTree(CLI::App& app, ParsedCommandLine& parsed) {
    // Set before the subcommands exist: they take the parent's at creation.
    app.failure_message(
        [](const CLI::App*, const CLI::Error& error) { return std::string(error.what()); });
    app.set_version_flag("--version", VersionText());
    app.require_subcommand(0, 1);
    app.allow_extras();  // an unknown command is named below, with a suggestion
    app.fallthrough();   // the options above may also follow the subcommand
    app.footer(
        "Exit status: 0 success, 2 usage error, 3 no instrument, 4 no permission, 5 instrument "
        "busy, 6 instrument refused, 7 link failure, 8 output failure, 130 zero calibration "
        "interrupted, 141 standard output's reader went away.");
    AddGlobalOptions(app, parsed.global);
    for (const Subcommand& subcommand : kSubcommands) {
        CLI::App* command = app.add_subcommand(subcommand.name, subcommand.description);
        if (subcommand.addOptions != nullptr) {
            subcommand.addOptions(*command, parsed);
        }
    }
}

// Help and version go through the checked standard output like every other result.
int WriteCliOutput(const CLI::App& app, const CLI::ParseError& error) {
    std::ostringstream out;
    std::ostringstream errors;
    const int status = app.exit(error, out, errors);
    if (!errors.str().empty()) {
        Console::Get().Error(errors.str());
        Console::Get().Error(kHelpHint);
    }
    Console::Get().Out(out.str());
    return status == static_cast<int>(CLI::ExitCodes::Success) ? ExitCode::kSuccess
                                                               : ExitCode::kUsage;
}

int UsageError(const std::string& message) {
    Console::Get().Error(message);
    Console::Get().Error(kHelpHint);
    return ExitCode::kUsage;
}

// "qiro7-cli help [COMMAND]", as people type it after other programs' manner.
int HelpCommand(const CLI::App& app, int argc, char** argv) {
    const CLI::App* about = &app;
    for (const Subcommand& subcommand : kSubcommands) {
        if (argc > 2 && std::string_view(argv[2]) == subcommand.name) {
            about = app.get_subcommand(subcommand.name);
        }
    }
    Console::Get().Out(about->help());
    return ExitCode::kSuccess;
}

// What is left over after parsing, when no command was recognised: a mistyped command, an
// unknown option, or nothing.
int UnrecognisedCommand(const std::vector<std::string>& extras) {
    if (extras.empty()) {
        return UsageError("a command is required: " + JoinedNames(CommandNames()));
    }
    const std::string& first = extras.front();
    if (first.starts_with("-")) {
        return UsageError("there is no option " + first);
    }
    return UsageError("there is no command \"" + first + "\"" + Suggestion(first, CommandNames()) +
                      " (the commands: " + JoinedNames(CommandNames()) + ")");
}

// Everything a command needs before it talks to the instrument; an ExitCode.
int PrepareInstrument(const GlobalOptions& options, bool usesInstrument) {
    InstallModalInteraction(std::make_shared<ConsoleInteraction>(options.yes));
    std::string reason;
    if (options.demo && !InstallDemoInstrument(options.demoFastClock, options.demoFaults, reason)) {
        Console::Get().Error(reason);
        return ExitCode::kUsage;
    }
    if (!options.demo && (options.demoFastClock || !options.demoFaults.empty())) {
        Console::Get().Error("--demo-fast-clock and --demo-fault need --demo");
        return ExitCode::kUsage;
    }
    if (!options.serialNumber.empty()) {
        const int chosen = ChooseInstrumentBySerial(options.serialNumber, reason);
        if (chosen != ExitCode::kSuccess) {
            Console::Get().Error(reason);
        }
        return chosen;
    }
    if (usesInstrument) {
        ChooseFirstInstrument();
    }
    return ExitCode::kSuccess;
}

// The trace of --verbose: what goes to the instrument (">"), what comes back ("<"), with the
// bytes a terminal would not show as themselves written as escapes ("\r", "\x00").
void TraceLinkEvent(LinkEvent event, std::string_view text) {
    static constexpr const char* kEventNames[] = {"opened", "closed", ">", "<", "failed"};
    std::string line = kEventNames[static_cast<int>(event)];
    line += ' ';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            line += "\\r";
        } else if (byte < 0x20 || byte == 0x7f) {
            static constexpr char kHex[] = "0123456789abcdef";
            line += std::string("\\x") + kHex[byte >> 4] + kHex[byte & 0xf];
        } else {
            line += c;
        }
    }
    Console::Get().Trace(line);
}

// A command's results that standard output did not take end it as the reader expects.
int WithOutputChecked(int status) {
    std::error_code error;
    switch (Console::Get().FirstOutputFailure(error)) {
        case WriteOutcome::Written:
            return status;
        case WriteOutcome::ReaderGone:
            return ExitCode::kReaderGone;
        case WriteOutcome::Failed:
            break;
    }
    Console::Get().Error("standard output: " + error.message());
    return status == ExitCode::kSuccess ? ExitCode::kOutputFailure : status;
}

// The long options a command takes, the program's own among them.
std::vector<std::string> OptionNamesOf(const CLI::App& command) {
    std::vector<std::string> names;
    for (const CLI::App* app = &command; app != nullptr; app = app->get_parent()) {
        for (const CLI::Option* option : app->get_options()) {
            for (const std::string& name : option->get_lnames()) {
                names.push_back("--" + name);
            }
        }
    }
    return names;
}

// A word no option or command took, named with the nearest option of the command given.
int UnknownWord(const CLI::App& app, const std::string& word) {
    const CLI::App* command = &app;
    for (const Subcommand& subcommand : kSubcommands) {
        command =
            app.got_subcommand(subcommand.name) ? app.get_subcommand(subcommand.name) : command;
    }
    const std::string where = command == &app ? "" : " of " + command->get_name();
    if (word.starts_with("-")) {
        const std::string name = word.substr(0, word.find('='));
        return UsageError("there is no option " + name + where +
                          Suggestion(name, OptionNamesOf(*command)));
    }
    return UsageError("there is no argument " + word + where);
}

int RunParsed(CLI::App& app, ParsedCommandLine& parsed) {
    const std::vector<std::string> extras = app.remaining();
    const Subcommand* chosen = nullptr;
    for (const Subcommand& subcommand : kSubcommands) {
        if (app.got_subcommand(subcommand.name)) {
            chosen = &subcommand;
        }
    }
    if (chosen == nullptr) {
        return UnrecognisedCommand(extras);
    }
    if (!extras.empty()) {
        return UnknownWord(app, extras.front());
    }
    if (std::string message; chosen->check != nullptr && !chosen->check(parsed, message)) {
        return UsageError(message);
    }
    parsed.tree = &app;
    if (const int prepared = PrepareInstrument(parsed.global, chosen->usesInstrument);
        prepared != ExitCode::kSuccess) {
        return prepared;
    }
    return chosen->run(parsed);
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
    IgnoreWriteSignals();
    CLI::App app("The QIRO-7 radiometer from the command line.", kProgramName);
    ParsedCommandLine parsed;
    BuildCommandTree(app, parsed);
    if (argc > 1 && std::string_view(argv[1]) == "help") {
        return WithOutputChecked(HelpCommand(app, argc, argv));
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // A mistyped option is the cause of what else is missing: name it first.
        if (const std::vector<std::string> extras = app.remaining();
            !extras.empty() && extras.front().starts_with("-") &&
            error.get_exit_code() != static_cast<int>(CLI::ExitCodes::Success)) {
            return UnknownWord(app, extras.front());
        }
        return WithOutputChecked(WriteCliOutput(app, error));
    }
    const GlobalOptions& global = parsed.global;
    Console::Get().Configure(global.quiet     ? Verbosity::Quiet
                             : global.verbose ? Verbosity::Verbose
                                              : Verbosity::Normal);
    if (global.verbose && !global.quiet) {
        SetLinkTrace(&TraceLinkEvent);
    }
    return WithOutputChecked(RunParsed(app, parsed));
}

void ReportError(const std::string& message) {
    Console::Get().Error(message);
}
