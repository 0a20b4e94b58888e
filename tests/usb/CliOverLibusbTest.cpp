// qiro7-cli over the real libusb driver, started as a child process on an emulated bus: one
// scenario per command, as the shared services are tested elsewhere.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
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
                                std::vector<std::string> argv = {},
                                const Environment& environment = CurrentEnvironment()) {
        argv.push_back(QIRO7_CLI);
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return RunCommandCapturing(argv, environment, kCommandLimit);
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
    ::testing::Values(CommandCase{"Info", {"info"}, "Model: QIRO-7\nS/N: 70412318\n", kInfoRead},
                      CommandCase{"Get", {"get"}, "range=Auto\nfrequency=50Hz\n", kInfoRead},
                      CommandCase{"Set",
                                  {"set", "range=A1"},
                                  "range=A1\n",
                                  Joined({kInfoRead,
                                          {"ACW 1", "MRW 1", "FRQW 0", "CFW 1", "CFSW 0", "ZCW 1",
                                           "APW 2", "AFW 0"},
                                          kInfoRead})},
                      CommandCase{"Calibrate",
                                  {"calibrate", "--yes"},
                                  "zero calibration: completed (last error code 0)\n",
                                  {"CAL", "ERR"}},
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

// measure --reconnect over the real libusb path: the instrument leaves the bus mid-run and comes
// back (or not), and every reading before and after is in the file, once, in order.
class CliReconnect : public CliOverLibusb {
protected:
    void SetUp() override {
        CliOverLibusb::SetUp();
        char pattern[] = "/tmp/qiro7-reconnect-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        output = folder + "/run.csv";
        errors = folder + "/errors.log";
    }
    void TearDown() override {
        program.Stop();
        std::filesystem::remove_all(folder);
    }

    EmulatedInstrument* AttachRealTime(const std::string& serialNumber) {
        EmulatedDeviceOptions options;
        options.clock = SimulatedInstrument::ClockMode::Real;
        return AttachInstrument(serialNumber, options);
    }

    bool StartRun(std::vector<std::string> extra = {}) {
        std::vector<std::string> argv = {QIRO7_CLI, "measure", "--reconnect", "--interval",
                                         "0",       "--count", "0",           "--timestamps",
                                         "-o",      output};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return program.Start(argv, CurrentEnvironment(), errors);
    }

    std::vector<std::string> Lines() const {
        std::ifstream file(output, std::ios::binary);
        std::vector<std::string> lines;
        for (std::string line; std::getline(file, line);) {
            lines.push_back(line);
        }
        return lines;
    }
    bool LinesReach(std::size_t count) {
        return WaitUntil([&] { return Lines().size() >= count; }, kCommandLimit);
    }
    std::string Errors() const {
        std::ifstream file(errors);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    // Ends the run as a service manager does and checks what a run must leave behind: every
    // line whole, each reading once (arrival times strictly rising), those before `kept` kept.
    void StopAndCheck(const std::vector<std::string>& kept) {
        ASSERT_TRUE(program.Signal(SIGTERM));
        EXPECT_TRUE(WaitUntil([&] { return !program.Running(); }, kCommandLimit));
        EXPECT_EQ(program.Ending(), "exit 0") << Errors();
        const std::vector<std::string> lines = Lines();
        ASSERT_GE(lines.size(), kept.size());
        EXPECT_TRUE(std::equal(kept.begin(), kept.end(), lines.begin()));
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_TRUE(lines[i].ends_with("\r")) << "line " << i << " is cut";
            EXPECT_TRUE(i == 0 || lines[i - 1].substr(0, 24) < lines[i].substr(0, 24))
                << "line " << i << " is not later than the one before";
        }
        EXPECT_NE(Errors().find("samples: " + std::to_string(lines.size()) + "\n"),
                  std::string::npos)
            << Errors();
    }

    std::string folder;
    std::string output;
    std::string errors;
    ChildProcess program;
};

TEST_F(CliReconnect, UnpluggedAndPluggedBackTwoSecondsLater) {
    EmulatedInstrument* first = AttachRealTime("70412318");
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(StartRun());
    ASSERT_TRUE(LinesReach(5));
    bus.Unplug(*first);
    const std::vector<std::string> before = Lines();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EmulatedInstrument* back = AttachRealTime("70412318");
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(LinesReach(before.size() + 5)) << Errors();
    StopAndCheck(before);
    EXPECT_NE(Errors().find("waiting for it to come back"), std::string::npos) << Errors();
    EXPECT_NE(Errors().find("the instrument is back (S/N 70412318)"), std::string::npos);
    const Requests requests = back->RequestLog();
    ASSERT_GE(requests.size(), kInfoRead.size() + 1);
    EXPECT_EQ(Requests(requests.begin(), requests.begin() + kInfoRead.size() + 1),
              Joined({kInfoRead, {"CST"}}));
}

// Switched off and on: a new device on the same port, its stream off until it is started again.
TEST_F(CliReconnect, SwitchedOffAndOn) {
    EmulatedInstrument* first = AttachRealTime("70412318");
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(StartRun());
    ASSERT_TRUE(LinesReach(3));
    EmulatedDeviceOptions options;
    options.clock = SimulatedInstrument::ClockMode::Real;
    EmulatedInstrument* cycled = bus.Replug(*first, options);
    ASSERT_NE(cycled, nullptr);
    const std::size_t atCycle = Lines().size();
    EXPECT_TRUE(LinesReach(atCycle + 5)) << Errors();
    StopAndCheck({});
    EXPECT_NE(Errors().find("the instrument is back"), std::string::npos) << Errors();
    EXPECT_NE(cycled->RequestLog(), Requests{}) << "the switched-on instrument was not started";
}

TEST_F(CliReconnect, UnpluggedForGoodThenStopped) {
    EmulatedInstrument* only = AttachRealTime("70412318");
    ASSERT_NE(only, nullptr);
    ASSERT_TRUE(StartRun());
    ASSERT_TRUE(LinesReach(3));
    bus.Unplug(*only);
    EXPECT_TRUE(WaitUntil([&] { return Errors().find("waiting for it") != std::string::npos; },
                          kCommandLimit));
    const std::vector<std::string> before = Lines();
    StopAndCheck(before);
    EXPECT_EQ(Lines(), before);
    EXPECT_NE(Errors().find("interruptions: 1, without readings "), std::string::npos);
}

TEST_F(CliReconnect, AnotherSerialNumberIsToldAndNotUsed) {
    EmulatedInstrument* wanted = AttachRealTime("SN-WANTED");
    ASSERT_NE(wanted, nullptr);
    ASSERT_TRUE(StartRun({"--serial", "SN-WANTED"}));
    ASSERT_TRUE(LinesReach(3));
    bus.Unplug(*wanted);
    EmulatedInstrument* other = AttachRealTime("SN-OTHER");
    ASSERT_NE(other, nullptr);
    EXPECT_TRUE(WaitUntil(
        [&] {
            return Errors().find(
                       "the instrument with S/N SN-OTHER is attached, but --serial "
                       "asks for SN-WANTED: it is not used") != std::string::npos;
        },
        kCommandLimit))
        << Errors();
    const std::vector<std::string> before = Lines();
    EmulatedInstrument* back = AttachRealTime("SN-WANTED");
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(LinesReach(before.size() + 3)) << Errors();
    StopAndCheck(before);
    for (const std::string& request : other->RequestLog()) {
        EXPECT_EQ(request, "SRL") << "the other instrument was used";
    }
}

// Which one libusb finds first is its own business; the one used must be named, with the other.
TEST_F(CliOverLibusb, WithoutSerialTheFirstFoundOfTwoIsTakenAndNamed) {
    EmulatedInstrument* first = AttachInstrument("SN-FIRST");
    EmulatedInstrument* second = AttachInstrument("SN-SECOND");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    const CommandResult result = RunCli({"error"});
    EXPECT_EQ(result.status, 0) << result.errors;
    const bool firstUsed = first->RequestLog() == Requests{"SRL", "ERR"};
    EXPECT_EQ((firstUsed ? second : first)->RequestLog(), Requests{"SRL"});
    const std::string used =
        firstUsed ? "S/N SN-FIRST (bus 001 port 1)" : "S/N SN-SECOND (bus 001 port 2)";
    const std::string other =
        firstUsed ? "S/N SN-SECOND (bus 001 port 2)" : "S/N SN-FIRST (bus 001 port 1)";
    EXPECT_NE(result.errors.find("2 instruments are attached; using " + used +
                                 ", the first found; the others: " + other),
              std::string::npos)
        << result.errors;
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

// The sanitizers read their suppression files as the user the program runs as, and the checkout
// may be closed to other users (a home folder of mode 0700): the files are copied where anyone
// may read them, and the options point there.
Environment WithSuppressionsIn(const std::string& folder, Environment environment) {
    std::filesystem::create_directories(folder);
    OpenToEveryone(folder, false);
    for (const char* name : {"TSAN_OPTIONS", "LSAN_OPTIONS", "ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
        const auto found = environment.find(name);
        if (found == environment.end()) {
            continue;
        }
        std::string& options = found->second;
        const std::size_t start = options.find("suppressions=");
        if (start == std::string::npos) {
            continue;
        }
        const std::size_t pathStart = start + std::string("suppressions=").size();
        const std::size_t end = std::min(options.find(':', pathStart), options.size());
        const std::string copy = folder + "/" + name + ".supp";
        std::filesystem::copy_file(options.substr(pathStart, end - pathStart), copy,
                                   std::filesystem::copy_options::overwrite_existing);
        OpenToEveryone(copy, false);
        options.replace(pathStart, end - pathStart, copy);
    }
    return environment;
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
        RunCli({"list"}, {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"},
               WithSuppressionsIn(std::string(testbed) + "/suppressions", CurrentEnvironment()));
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(result.output.rfind("bus 001 port 1  no permission: ", 0), 0u) << result.output;
}

}  // namespace
