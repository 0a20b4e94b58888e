// qiro7-cli itself, started as a child process with the simulated instrument: what each command
// writes, to which stream, and with which exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "measure/CsvLine.h"
#include "sim/SimulatedInstrument.h"
#include "tests/common/ChildProcess.h"

namespace {

constexpr std::chrono::milliseconds kCommandLimit{20000};

CommandResult RunCli(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {QIRO7_CLI};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunCommandCapturing(argv, CurrentEnvironment(), kCommandLimit);
}

struct CliCase {
    const char* name;
    std::vector<std::string> arguments;
    int status;
    std::string output;  // standard output holds this
    std::string errors;  // standard error holds this
};

void PrintTo(const CliCase& value, std::ostream* out) {
    *out << value.name;
}

class Cli : public ::testing::TestWithParam<CliCase> {};

TEST_P(Cli, WritesItsResultAndEndsWithItsExitStatus) {
    const CommandResult result = RunCli(GetParam().arguments);
    EXPECT_EQ(result.status, GetParam().status) << result.errors;
    EXPECT_NE(result.output.find(GetParam().output), std::string::npos) << result.output;
    EXPECT_NE(result.errors.find(GetParam().errors), std::string::npos) << result.errors;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, Cli,
    ::testing::Values(
        CliCase{"Version", {"--version"}, 0, "qiro7-cli 1.1.0", ""},
        CliCase{"ListsTheInstrumentWithItsSerialNumber",
                {"list", "--demo"},
                0,
                "simulated  S/N 70412318\n",
                ""},
        CliCase{"ListsAsJson",
                {"list", "--json", "--demo"},
                0,
                "\"access\":\"available\",\"serialNumber\":\"70412318\"",
                ""},
        CliCase{"ListsOneItMayNotOpenWithTheReason",
                {"--demo", "--demo-fault", "no-permission", "list"},
                0,
                "simulated  no permission: ",
                ""},
        CliCase{"ListsOneAnotherProgramHolds",
                {"list", "--demo", "--demo-fault=busy"},
                0,
                "simulated  busy: another program holds it",
                ""},
        CliCase{"ListsNothingWithoutAnInstrument",
                {"list", "--demo", "--demo-fault=absent"},
                3,
                "",
                "qiro7-cli: no instrument is attached"},
        CliCase{"NoInstrumentWithThatSerialNumber",
                {"--demo", "--serial", "1", "list"},
                3,
                "",
                "no instrument with serial number 1 is attached"},
        CliCase{"TheOneThatCouldBeIsBusy",
                {"--demo", "--serial", "1", "--demo-fault", "busy", "list"},
                5,
                "",
                "busy: another program holds it"},
        CliCase{"ARangeCheckIsAUsageError",
                {"measure", "--demo", "--interval", "1000", "--count", "1"},
                2,
                "",
                "qiro7-cli: --interval 1000: not in range 0 to 999"},
        CliCase{"AFractionIsNoWholeNumber",
                {"measure", "--demo", "--interval", "0.5", "--count", "1"},
                2,
                "",
                "qiro7-cli: --interval 0.5: not a whole number"},
        CliCase{"ARunNeedsACountOrADuration",
                {"measure", "--demo", "--interval", "0"},
                2,
                "",
                "qiro7-cli: --count is required (or --duration)"},
        CliCase{"ADurationNeedsAUnitItKnows",
                {"measure", "--demo", "--interval", "0", "--duration", "5x"},
                2,
                "",
                "qiro7-cli: --duration 5x: not a length of time"},
        CliCase{"ADurationEndsTheRunAsCompleted",
                {"measure", "--demo", "--interval", "0", "--duration", "0.3s"},
                0,
                "\r\n",
                "The measurement has been completed."},
        CliCase{"AMistypedCommandIsNamedWithTheNearest",
                {"mesure", "--demo"},
                2,
                "",
                "qiro7-cli: there is no command \"mesure\"; did you mean measure?"},
        CliCase{"HelpIsACommandToo", {"help", "measure"}, 0, "--reconnect", ""},
        CliCase{"AMistypedOptionIsNamedBeforeWhatItLeftOut",
                {"measure", "--demo", "--intervall", "5", "--count", "1"},
                2,
                "",
                "there is no option --intervall of measure; did you mean --interval?"},
        CliCase{"AMistypedConditionIsNamedWithTheNearest",
                {"set", "--demo", "rnage=A1"},
                2,
                "",
                "there is no condition \"rnage\"; did you mean range?"},
        CliCase{"SetNeedsAnAssignment",
                {"set", "--demo"},
                2,
                "",
                "qiro7-cli: set needs at least one NAME=VALUE"},
        CliCase{"AnUnknownFaultIsAUsageError",
                {"list", "--demo", "--demo-fault", "gremlins"},
                2,
                "",
                "--demo-fault gremlins is not one of"},
        CliCase{"AFaultNeedsTheDemo", {"list", "--demo-fault", "busy"}, 2, "", "need --demo"},
        CliCase{"InfoIsTheConnectRead",
                {"info", "--demo"},
                0,
                "Model: QIRO-7\nS/N: 70412318\nLast Maintenance Date.: 2026/03/14\n"
                "Version: 1.04\nDetector temperature: 24.8\nController temperature: 27.3\n"
                "Last Error Code: 0\nrange=Auto\n",
                ""},
        CliCase{
            "InfoAsJson", {"info", "--json", "--demo"}, 0, "\"serialNumber\":\"70412318\",", ""},
        CliCase{"GetShowsTheConditionsAsTheWindowDoes",
                {"get", "--demo"},
                0,
                "range=Auto\nfrequency=50Hz\naveraging=1\nfactor=1\nfactor-switch=OFF\n"
                "zero-calibration=ON\nauto-power-off=10\nanalog-response=Slow\n",
                ""},
        CliCase{"SetWritesAndShowsWhatTheInstrumentReadsBack",
                {"set", "--demo", "range=F2", "averaging=3", "factor=0.95"},
                0,
                "range=F2\nfrequency=50Hz\naveraging=3\nfactor=0.95\nfactor-switch=OFF\n",
                "The measurement condition of instrument has been updated."},
        CliCase{"SetRefusedByTheInstrumentSaysWhatWasWritten",
                {"set", "--demo", "--demo-fault", "refuse:FRQW", "frequency=60"},
                6,
                "",
                "Failed in writing factor. The instrument refused frequency=60Hz; written: "
                "averaging=1, range=Auto; not written: frequency=60Hz, factor=1, "},
        CliCase{"AFactorTheSwitchLeavesOffIsWarnedOf",
                {"set", "--demo", "factor=0.95"},
                0,
                "factor=0.95\nfactor-switch=OFF\n",
                "factor=0.95 is written, but factor-switch is OFF"},
        CliCase{"GetNamesTheConditionsAskedFor",
                {"get", "--demo", "averaging", "range"},
                0,
                "averaging=1\nrange=Auto\n",
                ""},
        CliCase{"GetOneConditionAsJson",
                {"get", "--demo", "factor-switch", "--json"},
                0,
                "{\"formatVersion\":1,\"factorSwitch\":false}\n",
                ""},
        CliCase{"SetOfAValueTheWindowDoesNotOffer",
                {"set", "--demo", "range=A9"},
                2,
                "",
                "range=A9 is not one of Auto|A1|A2|A3|F1|F2|F3"},
        CliCase{"CalibrateAsksFirst", {"calibrate", "--demo"}, 2, "", "-> No (give --yes"},
        CliCase{"Calibrate",
                {"calibrate", "--demo", "--demo-fast-clock", "--yes"},
                0,
                "zero calibration: completed (last error code 0)\n",
                "-> Yes (--yes)"},
        CliCase{"CalibrateWithLightOnTheDetector",
                {"calibrate", "--demo", "--demo-fast-clock", "--yes", "--demo-fault", "light"},
                6,
                "",
                "zero calibration refused by the instrument, which sees light: Please block out "
                "light to the detector."},
        CliCase{"Error", {"error", "--demo"}, 0, "0\n", ""},
        CliCase{"LogOneLineAnEntry", {"log", "--demo"}, 0, "0001 00:00:00 POWER ON\n0002", ""},
        CliCase{
            "NoInstrument", {"info", "--demo", "--demo-fault", "absent"}, 3, "", "no instrument"},
        CliCase{"NoPermission",
                {"error", "--demo", "--demo-fault", "no-permission"},
                4,
                "",
                "no permission: "},
        CliCase{"Busy", {"get", "--demo", "--demo-fault", "busy"}, 5, "", "busy: "},
        CliCase{"AReadThatFails",
                {"info", "--demo", "--demo-fault", "refuse:MT"},
                7,
                "",
                "An error occured while connecting."},
        CliCase{"ARunTheInstrumentEnds",
                {"measure", "--demo", "--demo-fast-clock", "--interval", "0", "--count", "9",
                 "--demo-fault", "stream-error:2:5"},
                6,
                "\r\n",
                "An error occured.(Range Over)\nsamples: 2\n"},
        CliCase{
            "ARefusedStartIsARefusal",
            {"measure", "--demo", "--interval", "0", "--count", "1", "--demo-fault", "refuse:CST"},
            6,
            "",
            "qiro7-cli: the instrument refused to start the measurement"},
        CliCase{"AnOutputThatCannotBeAFile",
                {"measure", "--demo", "--interval", "0", "--count", "1", "--output", "/"},
                8,
                "",
                "qiro7-cli: /: Is a directory"},
        CliCase{"AFullDeviceIsWrittenNeverReplaced",
                {"measure", "--demo", "--interval", "0", "--count", "3", "-o", "/dev/full"},
                8,
                "",
                "Failed to output of a file. /dev/full: No space left on device; 0 samples "
                "written, 1 not written"},
        CliCase{"AMalformedBrokerUrl",
                {"measure", "--demo", "--interval", "0", "--count", "1", "--mqtt", "http://broker"},
                2,
                "",
                "qiro7-cli: --mqtt http://broker: "},
        CliCase{"ABrokerWhoseNameIsNotKnown",
                {"measure", "--demo", "--interval", "0", "--count", "1", "--mqtt",
                 "mqtt://no-such-broker.invalid", "--spool", "/tmp/qiro7-cli-unknown-broker"},
                9,
                "",
                "no-such-broker.invalid"},
        CliCase{"TheLinkWaitsForAnInstrumentThatLeft",
                {"measure", "--demo", "--demo-fast-clock", "--interval", "0", "--count", "8",
                 "--reconnect", "--demo-fault", "unplug:3:0.2"},
                0,
                "\r\n",
                "interruptions: 1, without readings "}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace

namespace {

// The first `count` readings a fresh simulated instrument streams on the fast clock: what a
// run of the demo instrument must write, in this order.
std::vector<std::string> FreshInstrumentReadings(std::size_t count) {
    SimulatedInstrument instrument(SimulatedInstrument::ClockMode::Fast);
    instrument.ReceiveBytes("CST\r");
    std::vector<std::string> lines;
    std::string text;
    while (lines.size() < count + 2) {
        const std::optional<std::string> packet = instrument.NextPacket();
        if (!packet.has_value() || packet->empty()) {
            break;
        }
        text += *packet;
        for (std::size_t cr = text.find('\r'); cr != std::string::npos; cr = text.find('\r')) {
            lines.push_back(text.substr(0, cr));
            text.erase(0, cr + 1);
        }
    }
    lines.erase(lines.begin(), lines.begin() + 2);  // the start's own "OK" and "END"
    lines.resize(count);
    return lines;
}

std::string CsvOf(const std::vector<std::string>& lines) {
    std::string csv;
    for (const std::string& line : lines) {
        MeasurementSample sample;
        sample.Parse(line);
        csv += CsvLine(sample);
    }
    return csv;
}

TEST(CliMeasure, KeepsEverySampleOfAFullRunInOrderAsTheWindowsCsv) {
    const CommandResult result =
        RunCli({"measure", "--demo", "--demo-fast-clock", "--interval", "0", "--count", "9999"});
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_TRUE(result.output == CsvOf(FreshInstrumentReadings(9999)))
        << "lines written: " << std::count(result.output.begin(), result.output.end(), '\n');
    EXPECT_NE(result.errors.find("samples: 9999\n"), std::string::npos) << result.errors;
}

std::string FileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

std::size_t LineCount(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Ctrl+C as a terminal sends it, to a real run on the instrument's own clock.
TEST(CliMeasure, CtrlCStopsTheRunAndEverySampleReceivedIsInTheFile) {
    char folder[] = "/tmp/qiro7-cli-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string output = std::string(folder) + "/run.csv";
    const std::string log = std::string(folder) + "/errors.log";
    ChildProcess program;
    ASSERT_TRUE(program.Start(
        {QIRO7_CLI, "measure", "--demo", "--interval", "0", "--count", "0", "--output", output},
        CurrentEnvironment(), log));
    EXPECT_TRUE(WaitUntil([&] { return LineCount(FileText(output)) >= 5; }, kCommandLimit));
    ASSERT_TRUE(program.Signal(SIGINT));
    EXPECT_TRUE(WaitUntil([&] { return !program.Running(); }, kCommandLimit));
    EXPECT_EQ(program.Ending(), "exit 0");

    const std::string written = FileText(output);
    const std::string errors = FileText(log);
    const std::size_t lines = LineCount(written);
    EXPECT_GE(lines, 5u);
    EXPECT_TRUE(written.ends_with("\r\n")) << "the last line is cut";
    EXPECT_EQ(written, CsvOf(FreshInstrumentReadings(lines)).substr(0, written.size()));
    EXPECT_NE(errors.find("samples: " + std::to_string(lines) + "\n"), std::string::npos) << errors;
    std::filesystem::remove_all(folder);
}

}  // namespace

namespace {

// A folder of the test's own, removed with everything in it.
class ScratchFolder {
public:
    ScratchFolder() {
        char pattern[] = "/tmp/qiro7-cli-XXXXXX";
        path = mkdtemp(pattern) != nullptr ? pattern : "";
    }
    ~ScratchFolder() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string& name) const { return path + "/" + name; }

private:
    std::string path;
};

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A shell command line, the program's path first: for what a shell does around it (pipes,
// redirections, limits).
CommandResult RunInShell(const std::string& script) {
    return RunCommandCapturing({"/bin/bash", "-c", "set -o pipefail; cli=" QIRO7_CLI "; " + script},
                               CurrentEnvironment(), kCommandLimit);
}

const std::string kThreeSamples = "measure --demo --demo-fast-clock --interval 0 --count 3";

struct OutputCase {
    const char* name;
    std::string prepare;  // shell commands run in the scratch folder first
    std::string options;  // after the run's own; the output is "out"
    int status;
    std::string out;     // what "out" holds afterwards ("3 lines": the run's three lines)
    std::string errors;  // standard error holds this
    std::string check;   // a shell test of the folder afterwards that must succeed
};

void PrintTo(const OutputCase& value, std::ostream* out) {
    *out << value.name;
}

class CliOutput : public ::testing::TestWithParam<OutputCase> {};

// What becomes of the thing the output names: only a regular file is ever replaced, and only
// when the user agreed; everything else is written through.
TEST_P(CliOutput, NeverDestroysWhatItWritesTo) {
    const OutputCase& c = GetParam();
    ScratchFolder folder;
    const CommandResult result = RunInShell("cd " + folder / "" + " && " + c.prepare + "; $cli " +
                                            kThreeSamples + " " + c.options);
    EXPECT_EQ(result.status, c.status) << result.errors;
    EXPECT_NE(result.errors.find(c.errors), std::string::npos) << result.errors;
    const std::string out = FileText(folder / "out");
    EXPECT_EQ(out, c.out == "3 lines" ? CsvOf(FreshInstrumentReadings(3)) : c.out);
    if (!c.check.empty()) {
        EXPECT_EQ(RunInShell("cd " + folder / "" + " && " + c.check).status, 0) << c.check;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Targets, CliOutput,
    ::testing::Values(
        OutputCase{"ANewFile", "true", "-o out", 0, "3 lines", "", ""},
        OutputCase{"AnExistingFileIsKept", "echo old >out", "-o out", 8, "old\n",
                   "out: The file already exists. Do you want to replace it ? -> No (give "
                   "--force to replace it, or --append to continue it)",
                   ""},
        OutputCase{"AnExistingFileIsReplacedWithForce", "echo old >out", "-o out --force", 0,
                   "3 lines", "", ""},
        OutputCase{"YesIsNoLeaveToReplaceAFile", "echo old >out", "-o out --yes", 8, "old\n",
                   "already exists", ""},
        OutputCase{"ALinkIsWrittenThroughNotReplaced", "echo old >target; ln -s target out",
                   "-o out --force", 0, "3 lines", "", "test -L out"},
        OutputCase{"ALinkToNothingCreatesItsTarget", "ln -s target out", "-o out", 0, "3 lines", "",
                   "test -L out && test -f target"},
        OutputCase{"AFifoGetsTheLinesAndStays", "mkfifo fifo; (cat fifo >out &)", "-o fifo", 0,
                   "3 lines", "", "test -p fifo"},
        OutputCase{"DashIsStandardOutput", "true", "-o - >out", 0, "3 lines", "", "! test -e -"},
        OutputCase{"DevStdoutIsStandardOutput", "true", "-o /dev/stdout >out", 0, "3 lines", "",
                   ""},
        OutputCase{"AppendCutsAPartialLineThenContinues", "printf 'a,b,c\\r\\n1.2' >out",
                   "-o out --append", 0, "a,b,c\r\n" + CsvOf(FreshInstrumentReadings(3)),
                   "out: cut off a partial last line of 3 bytes", ""}),
    [](const auto& param) { return std::string(param.param.name); });

// A file that can take no more (a full disk, here its size limit) stops the run at the first
// line it refuses, keeps whole lines only, and says what was lost.
TEST(CliOutput, AFullFileStopsTheRunAndKeepsWholeLines) {
    for (const std::string format : {"csv", "jsonl"}) {
        SCOPED_TRACE(format);
        ScratchFolder folder;
        const std::string out = folder / "out";
        const CommandResult result = RunInShell(
            "ulimit -f 4; $cli measure --demo --demo-fast-clock --interval 0 --count "
            "0 --format " +
            format + " -o " + out);
        EXPECT_EQ(result.status, 8) << result.errors;
        const std::string written = FileText(out);
        ASSERT_FALSE(written.empty());
        EXPECT_EQ(written.back(), '\n');
        const std::string lost =
            std::to_string(LineCount(written)) + " samples written, 1 not written";
        EXPECT_NE(result.errors.find(out + ": File too large; " + lost), std::string::npos)
            << result.errors;
    }
}

TEST(CliOutput, AReaderThatGoesAwayEndsTheRunQuietly) {
    const CommandResult result = RunInShell(
        "$cli measure --demo --demo-fast-clock --interval 0 --count 0 | head -n 3 >/dev/null");
    EXPECT_EQ(result.status, 141);
    EXPECT_EQ(result.errors, "");
}

TEST(CliOutput, EveryCommandFailsWhenItsResultsCannotBeWritten) {
    for (const char* command : {"info --demo", "get --demo", "log --demo", "list --demo --json",
                                "error --demo", "--help", "--version"}) {
        SCOPED_TRACE(command);
        const CommandResult result = RunInShell(std::string("$cli ") + command + " >/dev/full");
        EXPECT_EQ(result.status, 8);
        EXPECT_NE(result.errors.find("qiro7-cli: standard output: No space left on device"),
                  std::string::npos)
            << result.errors;
    }
}

// At a terminal (a pseudo-terminal that script(1) makes): the status line is wiped before a
// sample is printed to the same terminal, a dumb terminal gets no escape sequences, and a
// question is asked instead of refused.
TEST(CliTerminal, KeepsItReadable) {
    const std::string run = "measure --demo --interval 1 --count 2";
    const CommandResult shown = RunInShell("script -qec \"$cli " + run + "\" /dev/null");
    ASSERT_EQ(shown.status, 0) << shown.output;
    EXPECT_NE(shown.output.find("waiting for the first sample, 1 s"), std::string::npos)
        << shown.output;
    // Each sample starts a line of its own, or follows the sequence that wiped the status.
    const std::regex sample("[0-9]\\.[0-9]{3}E[+-][0-9]{2},[0-9]\\.[0-9]{3}E[+-][0-9]{2},");
    std::size_t samples = 0;
    std::istringstream lines(shown.output);
    for (std::string line; std::getline(lines, line);) {
        std::smatch found;
        if (std::regex_search(line, found, sample)) {
            ++samples;
            const std::string before = found.prefix();
            EXPECT_TRUE(before.empty() || before.ends_with("\r\x1b[K")) << line;
        }
    }
    EXPECT_EQ(samples, 2u) << shown.output;
    const CommandResult dumb = RunInShell("TERM=dumb script -qec \"$cli " + run + "\" /dev/null");
    EXPECT_EQ(dumb.status, 0);
    EXPECT_EQ(dumb.output.find('\x1b'), std::string::npos) << dumb.output;
    EXPECT_NE(dumb.output.find("1 of 2, next in 1 s"), std::string::npos) << dumb.output;

    ScratchFolder folder;
    const std::string out = folder / "out";
    WriteFile(out, "old\n");
    const std::string replace =
        "script -qec \"$cli " + kThreeSamples + " -o " + out + "\" /dev/null";
    const CommandResult no = RunInShell("echo n | " + replace);
    EXPECT_NE(no.output.find("Do you want to replace it ? (y/N)"), std::string::npos) << no.output;
    EXPECT_EQ(FileText(out), "old\n");
    const CommandResult yes = RunInShell("echo y | " + replace);
    EXPECT_EQ(yes.status, 0) << yes.output;
    EXPECT_EQ(FileText(out), CsvOf(FreshInstrumentReadings(3)));
}

TEST(CliCalibrate, CtrlCSaysTheInstrumentGoesOn) {
    ScratchFolder folder;
    const std::string log = folder / "errors.log";
    ChildProcess program;
    ASSERT_TRUE(
        program.Start({QIRO7_CLI, "calibrate", "--demo", "--yes"}, CurrentEnvironment(), log));
    EXPECT_TRUE(WaitUntil([&] { return FileText(log).find("-> Yes") != std::string::npos; },
                          kCommandLimit));
    ASSERT_TRUE(program.Signal(SIGINT));
    EXPECT_TRUE(WaitUntil([&] { return !program.Running(); }, kCommandLimit));
    EXPECT_EQ(program.Ending(), "exit 130");
    EXPECT_NE(FileText(log).find("interrupted: the instrument goes on with the zero calibration"),
              std::string::npos)
        << FileText(log);
}

// A run killed outright, then started again with --append, as a service is restarted: every
// line from before is kept, whole, and the new run's follow.
TEST(CliMeasure, AKilledRunIsContinuedWithAppend) {
    ScratchFolder folder;
    const std::string out = folder / "run.csv";
    ChildProcess first;
    ASSERT_TRUE(
        first.Start({QIRO7_CLI, "measure", "--demo", "--interval", "0", "--count", "0", "-o", out},
                    CurrentEnvironment(), folder / "first.log"));
    EXPECT_TRUE(WaitUntil([&] { return LineCount(FileText(out)) >= 3; }, kCommandLimit));
    ASSERT_TRUE(first.Signal(SIGKILL));
    EXPECT_TRUE(WaitUntil([&] { return !first.Running(); }, kCommandLimit));
    const std::string before = FileText(out);
    ASSERT_TRUE(before.ends_with("\r\n"));
    std::ofstream(out, std::ios::binary | std::ios::app) << "1.06";  // the power went mid-line

    const CommandResult second = RunCli({"measure", "--demo", "--demo-fast-clock", "--interval",
                                         "0", "--count", "3", "-o", out, "--append"});
    EXPECT_EQ(second.status, 0) << second.errors;
    EXPECT_NE(second.errors.find("cut off a partial last line of 4 bytes"), std::string::npos);
    EXPECT_EQ(FileText(out), before + CsvOf(FreshInstrumentReadings(3)));
}

}  // namespace

namespace {

// The completion scripts the program writes from its parser, run by the shells themselves.
TEST(CliCompletion, OffersWhatTheParserTakes) {
    const std::string complete =
        "source <($cli completion bash); "
        "complete_line() { COMP_LINE=\"$1\"; COMP_POINT=${#1}; read -ra COMP_WORDS <<< \"$1\"; "
        "[[ $1 == *' ' ]] && COMP_WORDS+=(''); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); "
        "_qiro7_cli; echo \"${COMPREPLY[*]}\"; }; ";
    const struct {
        const char* line;
        const char* offered;
    } cases[] = {
        {"qiro7-cli mea", "measure"},
        {"qiro7-cli measure --for", "--force --format"},
        {"qiro7-cli measure --format j", "jsonl"},
        {"qiro7-cli --demo set frequency=", "50Hz 60Hz"},
        {"qiro7-cli get zero", "zero-calibration"},
        {"qiro7-cli completion ",
         "bash zsh --help -h --version --serial --yes -y --quiet -q "
         "--verbose -v --demo --demo-fast-clock --demo-fault"},
    };
    for (const auto& c : cases) {
        const CommandResult result =
            RunInShell(complete + "complete_line '" + std::string(c.line) + "'");
        EXPECT_EQ(result.output, std::string(c.offered) + "\n") << c.line << result.errors;
    }
    const std::string zsh = FindInPath("zsh");
    if (zsh.empty()) {
        GTEST_SKIP() << "zsh is not installed: its script is not checked";
    }
    const CommandResult syntax = RunInShell("$cli completion zsh | " + zsh + " -n");
    EXPECT_EQ(syntax.status, 0) << syntax.errors;
}

}  // namespace
