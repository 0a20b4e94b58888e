// qiro7-cli itself, started as a child process with the simulated instrument: what each command
// writes, to which stream, and with which exit status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
        CliCase{"AFaultNeedsTheDemo", {"list", "--demo-fault", "busy"}, 2, "", "need --demo"}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
