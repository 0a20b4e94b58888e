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
                "--interval"},
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
        CliCase{"SetRefusedByTheInstrument",
                {"set", "--demo", "--demo-fault", "refuse:FRQW", "frequency=60"},
                6,
                "",
                "Failed in writing factor."},
        CliCase{"SetOfAValueTheWindowDoesNotOffer",
                {"set", "--demo", "range=A9"},
                2,
                "",
                "range=A9 is not one of Auto|A1|A2|A3|F1|F2|F3"},
        CliCase{"CalibrateAsksFirst", {"calibrate", "--demo"}, 2, "", "-> No (give --yes"},
        CliCase{"Calibrate",
                {"calibrate", "--demo", "--demo-fast-clock", "--yes"},
                0,
                "Last Error Code: 0\n",
                "The zero calibration has been completed."},
        CliCase{"CalibrateWithLightOnTheDetector",
                {"calibrate", "--demo", "--demo-fast-clock", "--yes", "--demo-fault", "light"},
                6,
                "",
                "Please block out light to the detector."},
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
        CliCase{"AnOutputThatIsNoFile",
                {"measure", "--demo", "--interval", "0", "--count", "1", "--output", "/"},
                8,
                "",
                "The file already exists."}),
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
