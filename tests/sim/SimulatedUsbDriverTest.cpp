// The simulated driver through the driver layer's own interface: device search, opening,
// pipes, transfers, the transport faults and use from several threads.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

#include "sim/SimulatedUsbDriver.h"

namespace {

using ClockMode = SimulatedInstrument::ClockMode;
using OpenFailure = SimulatedUsbDriver::OpenFailure;

constexpr std::uint8_t kIn = SimulatedUsbDriver::kBulkInPipe;
constexpr std::uint8_t kOut = SimulatedUsbDriver::kBulkOutPipe;

class DriverTest : public ::testing::Test {
protected:
    // Opens the device as the transport does; null when any step fails.
    std::unique_ptr<UsbInterfaceHandle> OpenInterface() {
        char path[261] = {};
        if (!driver.FindDevicePath(GUID_DEVINTERFACE_INSTRUMENT, path, sizeof path)) {
            return nullptr;
        }
        file = driver.OpenDevicePath(path);
        return file == nullptr ? nullptr : file->InitializeInterface();
    }

    static bool Write(UsbInterfaceHandle& handle, const std::string& bytes) {
        std::uint32_t transferred = 0;
        const bool ok = handle.WritePipe(kOut, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                         static_cast<std::uint32_t>(bytes.size()), transferred);
        EXPECT_EQ(transferred, ok ? bytes.size() : 0u);
        return ok;
    }

    // One read of at most 64 bytes; "<failed>" when the read fails.
    static std::string Read(UsbInterfaceHandle& handle, std::uint32_t length = 64) {
        std::uint8_t buffer[65];
        std::memset(buffer, 0xCC, sizeof buffer);
        std::uint32_t transferred = 99;
        if (!handle.ReadPipe(kIn, buffer, length, transferred)) {
            EXPECT_EQ(transferred, 0u);
            return "<failed>";
        }
        EXPECT_LE(transferred, length);
        EXPECT_EQ(buffer[transferred], 0xCC) << "wrote past the transferred bytes";
        return std::string(reinterpret_cast<const char*>(buffer), transferred);
    }

    // Reads until an empty packet or a failure.
    static std::string ReadReply(UsbInterfaceHandle& handle) {
        std::string reply;
        for (std::string packet = Read(handle); !packet.empty() && packet != "<failed>";
             packet = Read(handle)) {
            reply += packet;
        }
        return reply;
    }

    SimulatedUsbDriver driver{ClockMode::Fast};
    std::unique_ptr<UsbFileHandle> file;
};

TEST_F(DriverTest, FindsTheInstrumentByItsInterfaceGuidOnly) {
    char path[261] = {};
    ASSERT_TRUE(driver.FindDevicePath(GUID_DEVINTERFACE_INSTRUMENT, path, sizeof path));
    EXPECT_STREQ(path, "\\\\?\\usb#vid_0a1b&pid_7c07#sim#{6e1feb40-485f-4d00-b20d-da63b8637b45}");

    InterfaceGuid other = GUID_DEVINTERFACE_INSTRUMENT;
    other.data4[7] ^= 1;
    EXPECT_FALSE(driver.FindDevicePath(other, path, sizeof path));
}

TEST_F(DriverTest, APathThatDoesNotFitFailsTheSearch) {
    const std::size_t length = std::strlen(SimulatedUsbDriver::kDevicePath);
    std::vector<char> path(length + 1, 'x');
    EXPECT_FALSE(driver.FindDevicePath(GUID_DEVINTERFACE_INSTRUMENT, path.data(), length));
    EXPECT_TRUE(driver.FindDevicePath(GUID_DEVINTERFACE_INSTRUMENT, path.data(), length + 1));
    EXPECT_EQ(path[length], '\0');
}

TEST_F(DriverTest, OpensOnlyItsOwnPath) {
    EXPECT_EQ(driver.OpenDevicePath("\\\\?\\usb#vid_0000&pid_0000#x#{}"), nullptr);
    EXPECT_EQ(driver.OpenDevicePath(nullptr), nullptr);
    EXPECT_NE(driver.OpenDevicePath(SimulatedUsbDriver::kDevicePath), nullptr);
}

TEST_F(DriverTest, InterfaceZeroHasOneBulkInAndOneBulkOutPipe) {
    const auto handle = OpenInterface();
    ASSERT_NE(handle, nullptr);
    std::uint8_t speed = 0;
    EXPECT_TRUE(handle->QueryDeviceSpeed(speed));
    EXPECT_EQ(speed, SimulatedUsbDriver::kDeviceSpeed);
    std::uint8_t endpoints = 0;
    ASSERT_TRUE(handle->QueryInterfaceSettings(0, endpoints));
    ASSERT_EQ(endpoints, 2);
    EXPECT_FALSE(handle->QueryInterfaceSettings(1, endpoints));

    UsbPipeInformation pipe;
    ASSERT_TRUE(handle->QueryPipe(0, 0, pipe));
    EXPECT_EQ(pipe.pipeType, UsbPipeType::Bulk);
    EXPECT_EQ(pipe.pipeId, 0x81);
    ASSERT_TRUE(handle->QueryPipe(0, 1, pipe));
    EXPECT_EQ(pipe.pipeType, UsbPipeType::Bulk);
    EXPECT_EQ(pipe.pipeId, 0x01);
    EXPECT_FALSE(handle->QueryPipe(0, 2, pipe));
}

TEST_F(DriverTest, StoresTheTimeOutOfEachPipe) {
    const auto handle = OpenInterface();
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(handle->SetPipeTransferTimeout(kIn, 30000));
    EXPECT_TRUE(handle->SetPipeTransferTimeout(kOut, 25000));
    EXPECT_FALSE(handle->SetPipeTransferTimeout(0x82, 1));
    EXPECT_EQ(driver.PipeTimeoutMs(kIn), 30000u);
    EXPECT_EQ(driver.PipeTimeoutMs(kOut), 25000u);
    EXPECT_EQ(driver.PipeTimeoutMs(0x82), 0u);
}

TEST_F(DriverTest, CountsOpenInterfaces) {
    EXPECT_EQ(driver.OpenInterfaceCount(), 0);
    auto first = OpenInterface();
    auto second = driver.OpenDevicePath(SimulatedUsbDriver::kDevicePath)->InitializeInterface();
    EXPECT_EQ(driver.OpenInterfaceCount(), 2);
    first.reset();
    second.reset();
    EXPECT_EQ(driver.OpenInterfaceCount(), 0);
}

TEST_F(DriverTest, ConversesThroughThePipes) {
    const auto handle = OpenInterface();
    ASSERT_NE(handle, nullptr);
    ASSERT_TRUE(Write(*handle, "WHO\r"));
    EXPECT_EQ(ReadReply(*handle), "OK\rQIRO-7\rEND\r");
    EXPECT_EQ(driver.RequestLog(), std::vector<std::string>{"WHO"});

    std::uint32_t transferred = 0;
    const std::uint8_t request[] = {'W', 'H', 'O', '\r'};
    EXPECT_FALSE(handle->WritePipe(kIn, request, 4, transferred)) << "IN pipe is not writable";
    std::uint8_t buffer[65] = {};
    EXPECT_FALSE(handle->ReadPipe(kOut, buffer, 64, transferred)) << "OUT pipe is not readable";
}

TEST_F(DriverTest, AShortReadNeverOverrunsTheBuffer) {
    const auto handle = OpenInterface();
    ASSERT_NE(handle, nullptr);
    driver.Instrument()->SetPacketisation(SimulatedInstrument::Packetisation::WholeReply);
    ASSERT_TRUE(Write(*handle, "WHO\r"));
    EXPECT_EQ(Read(*handle, 5), "OK\rQI");
    EXPECT_EQ(Read(*handle), "RO-7\rEND\r");
}

struct OpenFailureCase {
    bool present;
    OpenFailure failure;
    bool found;
    bool opened;
    std::optional<UsbDeviceAccess> listedAs;  // nullopt: not listed
};

class OpenFailureTest : public DriverTest, public ::testing::WithParamInterface<OpenFailureCase> {};

TEST_P(OpenFailureTest, FailsAtTheChosenStepAndTheListingNamesTheReason) {
    driver.SetPresent(GetParam().present);
    driver.SetOpenFailure(GetParam().failure);
    char path[261] = {};
    EXPECT_EQ(driver.FindDevicePath(GUID_DEVINTERFACE_INSTRUMENT, path, sizeof path),
              GetParam().found);
    auto openedFile = driver.OpenDevicePath(SimulatedUsbDriver::kDevicePath);
    EXPECT_EQ(openedFile != nullptr, GetParam().opened);
    if (openedFile != nullptr) {
        EXPECT_EQ(openedFile->InitializeInterface(), nullptr);
    }
    EXPECT_EQ(driver.OpenInterfaceCount(), 0);
    const std::vector<UsbDeviceListing> listed = driver.ListDevices(GUID_DEVINTERFACE_INSTRUMENT);
    ASSERT_EQ(listed.size(), GetParam().listedAs.has_value() ? 1u : 0u);
    if (!listed.empty()) {
        EXPECT_EQ(listed[0].path, SimulatedUsbDriver::kDevicePath);
        EXPECT_EQ(listed[0].access, *GetParam().listedAs);
    }

    driver.ClearTransportFaults();
    EXPECT_NE(OpenInterface(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, OpenFailureTest,
    ::testing::Values(OpenFailureCase{false, OpenFailure::None, false, false, std::nullopt},
                      OpenFailureCase{true, OpenFailure::OpenPath, true, false,
                                      UsbDeviceAccess::Unopenable},
                      OpenFailureCase{true, OpenFailure::NoPermission, true, false,
                                      UsbDeviceAccess::NoPermission},
                      OpenFailureCase{true, OpenFailure::InitializeInterface, true, true,
                                      UsbDeviceAccess::Unopenable},
                      OpenFailureCase{true, OpenFailure::Busy, true, true, UsbDeviceAccess::Busy}));

TEST_F(DriverTest, AnUnpluggedDeviceFailsEveryTransferOfAnOpenHandle) {
    const auto handle = OpenInterface();
    ASSERT_NE(handle, nullptr);
    driver.SetPresent(false);
    EXPECT_FALSE(Write(*handle, "WHO\r"));
    EXPECT_EQ(Read(*handle), "<failed>");
    std::uint8_t speed = 0;
    EXPECT_FALSE(handle->QueryDeviceSpeed(speed));
    EXPECT_TRUE(driver.RequestLog().empty());
}

// Through a chosen-device driver, as the command line installs it: the wait is the simulator's.
TEST_F(DriverTest, APresenceChangeWakesAWaiterAtOnceAndIsReportedOnce) {
    using std::chrono::milliseconds;
    const auto chosen = ChooseUsbDevice(std::shared_ptr<UsbDriver>(&driver, [](UsbDriver*) {}),
                                        SimulatedUsbDriver::kDevicePath);
    EXPECT_FALSE(chosen->WaitForDeviceChange(milliseconds(0)));
    bool woken = false;
    std::thread waiter([&] { woken = chosen->WaitForDeviceChange(std::chrono::minutes(1)); });
    driver.SetPresent(false);
    waiter.join();
    EXPECT_TRUE(woken);
    EXPECT_FALSE(chosen->WaitForDeviceChange(milliseconds(0)));
    driver.SetPresent(false);
    EXPECT_FALSE(chosen->WaitForDeviceChange(milliseconds(0))) << "no change, no wake-up";
}

// Leaves after three readings, fails the open link for good, and comes back 20 ms later
// switched off and on: the stream off, the same serial number.
TEST_F(DriverTest, AnUnplugAfterStreamLinesReturnsAFreshInstrumentOnce) {
    driver.UnplugAfterStreamLines(3, std::chrono::milliseconds(20));
    const auto handle = OpenInterface();
    ASSERT_NE(handle, nullptr);
    ASSERT_TRUE(Write(*handle, "CST\r"));
    EXPECT_EQ(Read(*handle), "OK\r");
    EXPECT_EQ(Read(*handle), "END\r");
    for (int line = 0; line < 3; ++line) {
        EXPECT_EQ(Read(*handle).size(), 30u) << "a reading";
    }
    EXPECT_EQ(Read(*handle), "<failed>");
    EXPECT_FALSE(Write(*handle, "STP\r"));
    char path[261] = {};
    EXPECT_FALSE(driver.FindDevicePath(GUID_DEVINTERFACE_INSTRUMENT, path, sizeof path));

    EXPECT_TRUE(driver.WaitForDeviceChange(std::chrono::milliseconds(0))) << "it left";
    EXPECT_TRUE(driver.WaitForDeviceChange(std::chrono::minutes(1))) << "it came back";
    EXPECT_FALSE(driver.Instrument()->IsStreaming());
    EXPECT_EQ(Read(*handle), "<failed>") << "a link from before stays dead";
    const auto fresh = OpenInterface();
    ASSERT_NE(fresh, nullptr);
    ASSERT_TRUE(Write(*fresh, "SRL\r"));
    EXPECT_EQ(ReadReply(*fresh), "OK\r70412318\rEND\r");
    ASSERT_TRUE(Write(*fresh, "CST\r"));
    for (int packet = 0; packet < 2 + 5; ++packet) {
        EXPECT_NE(Read(*fresh), "<failed>") << "it leaves only once";
    }
}

TEST_F(DriverTest, FailsTheNextReadsWithoutLosingTheReply) {
    const auto handle = OpenInterface();
    ASSERT_NE(handle, nullptr);
    ASSERT_TRUE(Write(*handle, "SRL\r"));
    driver.FailNextReads(2);
    EXPECT_EQ(Read(*handle), "<failed>");
    EXPECT_EQ(Read(*handle), "<failed>");
    EXPECT_EQ(ReadReply(*handle), "OK\r70412318\rEND\r");
}

TEST_F(DriverTest, FailsTheNextWritesAndTheInstrumentNeverSeesThem) {
    const auto handle = OpenInterface();
    ASSERT_NE(handle, nullptr);
    driver.FailNextWrites(1);
    EXPECT_FALSE(Write(*handle, "WHO\r"));
    EXPECT_TRUE(Write(*handle, "SRL\r"));
    EXPECT_EQ(driver.RequestLog(), std::vector<std::string>{"SRL"});
}

TEST_F(DriverTest, FailsReadsOnceTheChosenRequestHasArrived) {
    const auto handle = OpenInterface();
    ASSERT_NE(handle, nullptr);
    driver.FailReadsFromRequest(2);
    ASSERT_TRUE(Write(*handle, "WHO\r"));
    EXPECT_EQ(ReadReply(*handle), "OK\rQIRO-7\rEND\r");
    ASSERT_TRUE(Write(*handle, "SRL\r"));
    EXPECT_EQ(Read(*handle), "<failed>");
    EXPECT_EQ(Read(*handle), "<failed>");
}

TEST_F(DriverTest, FailsWritesFromTheChosenRequestOn) {
    const auto handle = OpenInterface();
    ASSERT_NE(handle, nullptr);
    driver.FailWritesFromRequest(3);
    EXPECT_TRUE(Write(*handle, "WHO\r"));
    EXPECT_TRUE(Write(*handle, "SRL\r"));
    EXPECT_FALSE(Write(*handle, "MT\r"));
    EXPECT_FALSE(Write(*handle, "VER\r"));
    EXPECT_EQ(driver.RequestLog(), (std::vector<std::string>{"WHO", "SRL"}));
}

TEST_F(DriverTest, ABlockingReadWithNothingToSendTimesOutAtOnce) {
    const auto handle = OpenInterface();
    ASSERT_NE(handle, nullptr);
    driver.Instrument()->SetIdleReads(SimulatedInstrument::IdleReads::NoPacket);
    EXPECT_EQ(Read(*handle), "<failed>");
    ASSERT_TRUE(Write(*handle, "RM\r"));
    EXPECT_EQ(Read(*handle), "OK\r");
    EXPECT_EQ(Read(*handle), "<failed>");
    driver.FailNextReads(1);
    EXPECT_EQ(Read(*handle), "<failed>");
    EXPECT_EQ(driver.TimedOutReads(), 2u) << "a pipe error is no time-out";
}

TEST_F(DriverTest, ARealClockBlockingReadDueLaterThanTheTimeOutFailsAtOnce) {
    SimulatedUsbDriver real;
    real.Instrument()->SetIdleReads(SimulatedInstrument::IdleReads::NoPacket);
    auto realFile = real.OpenDevicePath(SimulatedUsbDriver::kDevicePath);
    const auto handle = realFile->InitializeInterface();
    ASSERT_TRUE(handle->SetPipeTransferTimeout(kIn, 50));
    ASSERT_TRUE(Write(*handle, "CAL\r"));
    EXPECT_EQ(Read(*handle), "<failed>") << "the calibration ends after the 50 ms time-out";
    EXPECT_TRUE(real.Instrument()->IsCalibrating());
}

TEST_F(DriverTest, AWorkerStreamsWhileAnotherThreadUsesTheControls) {
    constexpr int kLines = 2000;
    const auto handle = OpenInterface();
    ASSERT_NE(handle, nullptr);
    ASSERT_TRUE(Write(*handle, "CST\r"));
    ASSERT_EQ(Read(*handle), "OK\r");
    ASSERT_EQ(Read(*handle), "END\r");

    int wellFormed = 0;
    std::thread worker([&] {
        for (int line = 0; line < kLines; ++line) {
            const std::string packet = Read(*handle);
            wellFormed += packet.size() == 30 && packet.back() == '\r' ? 1 : 0;
        }
    });
    for (int round = 0; round < 500; ++round) {
        driver.Instrument()->SetDetectorLit(round % 2 == 0);
        EXPECT_EQ(driver.RequestLog().size(), 1u);
        EXPECT_EQ(driver.OpenInterfaceCount(), 1);
    }
    worker.join();
    EXPECT_EQ(wellFormed, kLines);
    EXPECT_EQ(driver.Instrument()->StreamLinesSent(), static_cast<std::size_t>(kLines));
}

}  // namespace
