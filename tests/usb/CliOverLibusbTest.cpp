// qiro7-cli over the real libusb driver, started as a child process on an emulated bus: one
// scenario per command, as the shared services are tested elsewhere.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/common/ChildProcess.h"
#include "tests/usb/EmulatedInstrument.h"

namespace {

constexpr std::chrono::milliseconds kCommandLimit{20000};

class CliOverLibusb : public ::testing::Test {
protected:
    void SetUp() override {
        if (!UmockdevPreloadActive()) {
            GTEST_SKIP() << "umockdev's preload library is not available";
        }
    }

    // Attaches a device whose "SRL" answers serialNumber.
    EmulatedInstrument* AttachInstrument(const std::string& serialNumber,
                                         EmulatedDeviceOptions options = {}) {
        EmulatedInstrument* device = bus.Attach(options);
        if (device == nullptr) {
            ADD_FAILURE() << bus.LastError();
            return nullptr;
        }
        SimulatedInstrument::Identity identity;
        identity.serialNumber = serialNumber;
        device->Firmware()->SetIdentity(identity);
        return device;
    }

    // The child finds the emulated bus through the environment umockdev set up in this process.
    static CommandResult RunCli(const std::vector<std::string>& arguments,
                                std::vector<std::string> argv = {}) {
        argv.push_back(QIRO7_CLI);
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return RunCommandCapturing(argv, CurrentEnvironment(), kCommandLimit);
    }

    EmulatedUsbBus bus;
};

TEST_F(CliOverLibusb, ListNamesEachInstrumentWithItsSerialNumberAndOneAnotherProgramHolds) {
    EmulatedDeviceOptions other;
    other.product = "Other instrument";
    EmulatedDeviceOptions held;
    held.claimRefused = true;
    EmulatedInstrument* first = AttachInstrument("SN-FIRST");
    ASSERT_NE(bus.Attach(other), nullptr);
    EmulatedInstrument* busy = AttachInstrument("SN-HELD", held);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(busy, nullptr);

    const CommandResult result = RunCli({"list"});
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_NE(result.output.find("bus 001 port 1  S/N SN-FIRST\n"), std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("bus 001 port 3  busy: another program holds it"),
              std::string::npos)
        << result.output;
    EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 2);
    EXPECT_EQ(first->RequestLog(), std::vector<std::string>{"SRL"});
    EXPECT_TRUE(busy->RequestLog().empty());
}

using Requests = std::vector<std::string>;

// The information read of Connect: what info, get, set and measure send first.
const Requests kInfoRead = {"STP", "RM",  "WHO",  "SRL", "MT",   "VER", "TMP 0", "TMP 1", "CFR",
                            "ACR", "MRR", "FRQR", "ZCR", "CFSR", "ERR", "APR",   "AFR"};

Requests Joined(std::initializer_list<Requests> parts) {
    Requests joined;
    for (const Requests& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

struct CommandCase {
    const char* name;
    std::vector<std::string> arguments;
    std::string output;  // standard output starts with this
    Requests requests;   // everything the instrument received
};

void PrintTo(const CommandCase& value, std::ostream* out) {
    *out << value.name;
}

class CliCommandOverLibusb : public CliOverLibusb,
                             public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CliCommandOverLibusb, SendsTheInstrumentWhatTheWindowsButtonSends) {
    EmulatedInstrument* instrument = AttachInstrument("70412318");
    ASSERT_NE(instrument, nullptr);
    const CommandResult result = RunCli(GetParam().arguments);
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(result.output.substr(0, GetParam().output.size()), GetParam().output);
    EXPECT_EQ(instrument->RequestLog(), GetParam().requests);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CliCommandOverLibusb,
    ::testing::Values(
        CommandCase{"Info", {"info"}, "Model: QIRO-7\nS/N: 70412318\n", kInfoRead},
        CommandCase{"Get", {"get"}, "range=Auto\nfrequency=50Hz\n", kInfoRead},
        CommandCase{
            "Set",
            {"set", "range=A1"},
            "range=A1\n",
            Joined({kInfoRead,
                    {"ACW 1", "MRW 1", "FRQW 0", "CFW 1", "CFSW 0", "ZCW 1", "APW 2", "AFW 0"},
                    kInfoRead})},
        CommandCase{"Calibrate", {"calibrate", "--yes"}, "Last Error Code: 0\n", {"CAL", "ERR"}},
        CommandCase{"Error", {"error"}, "0\n", {"ERR"}},
        CommandCase{"Log", {"log"}, "0001 00:00:00 POWER ON\n", {"LOG"}},
        CommandCase{"Measure",
                    {"measure", "--interval", "0", "--count", "3"},
                    "1.060E+01,1.060E+00,1.060E+01\r\n",
                    Joined({kInfoRead, {"CST", "STP"}})}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(CliOverLibusb, SerialPicksTheSecondOfTwoInstruments) {
    EmulatedInstrument* first = AttachInstrument("SN-FIRST");
    EmulatedInstrument* second = AttachInstrument("SN-SECOND");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    const CommandResult result = RunCli({"--serial", "SN-SECOND", "error"});
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(first->RequestLog(), Requests{"SRL"});
    EXPECT_EQ(second->RequestLog(), (Requests{"SRL", "ERR"}));
}

void OpenToEveryone(const std::filesystem::path& path, bool withContents) {
    using std::filesystem::perms;
    std::filesystem::permissions(path, perms::all, std::filesystem::perm_options::add);
    if (withContents) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
            std::filesystem::permissions(entry.path(), perms::all,
                                         std::filesystem::perm_options::add);
        }
    }
}

// Only root can take the permission away from itself: the command runs as another user, to
// whom the device node (owned by root, not writable by others) is closed, as it is without the
// udev rule.
TEST_F(CliOverLibusb, ListNamesOneThisUserMayNotOpenWithTheReason) {
    const std::string setpriv = FindInPath("setpriv");
    const char* testbed = std::getenv("UMOCKDEV_DIR");
    if (geteuid() != 0 || setpriv.empty() || testbed == nullptr) {
        GTEST_SKIP() << "needs root, setpriv and umockdev's testbed folder";
    }
    ASSERT_NE(AttachInstrument("SN-FIRST"), nullptr);
    // The other user's libusb makes its event socket in the testbed, and umockdev's preload
    // connects to the device's ioctl socket before the device node itself is opened.
    OpenToEveryone(testbed, false);
    OpenToEveryone(std::string(testbed) + "/ioctl", true);

    const CommandResult result =
        RunCli({"list"}, {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"});
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(result.output.rfind("bus 001 port 1  no permission: ", 0), 0u) << result.output;
}

}  // namespace
