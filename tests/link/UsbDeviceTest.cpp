#include <chrono>
#include <cstring>

#include "LinkTestFixture.h"
#include "link/UsbDevice.h"

namespace {

using Pipes = std::vector<UsbPipeInformation>;
constexpr UsbPipeInformation BulkIn(std::uint8_t id) {
    return {UsbPipeType::Bulk, id};
}
constexpr UsbPipeInformation BulkOut(std::uint8_t id) {
    return {UsbPipeType::Bulk, id};
}
constexpr UsbPipeInformation Interrupt(std::uint8_t id) {
    return {UsbPipeType::Interrupt, id};
}

class UsbDeviceTest : public LinkTest {};

struct PipeCase {
    const char* name;
    Pipes pipes;
    std::set<std::uint8_t> failingQueries;
    bool opens;
    std::uint8_t readPipe = 0;
    std::uint8_t writePipe = 0;
};

class PipeClassification : public UsbDeviceTest, public ::testing::WithParamInterface<PipeCase> {};

TEST_P(PipeClassification, OpensOnlyWithBothBulkPipesAndUsesTheLastOfEachKind) {
    const PipeCase& c = GetParam();
    device->pipes = c.pipes;
    device->failingPipeQueries = c.failingQueries;
    device->QueuePackets({"x"});

    CUsbDevice usb;
    ASSERT_EQ(usb.Open(GUID_DEVINTERFACE_INSTRUMENT), c.opens);
    if (!c.opens) {
        return;
    }
    std::uint8_t buffer[65];
    std::uint32_t transferred = 0;
    const std::uint8_t request[] = {'W', 'H', 'O', '\r'};
    EXPECT_TRUE(usb.ReadPacket(buffer, sizeof(buffer), transferred));
    EXPECT_TRUE(usb.WritePacket(request, sizeof(request), transferred));
    EXPECT_EQ(device->readPipes, std::vector<std::uint8_t>{c.readPipe});
    EXPECT_EQ(device->writePipes, std::vector<std::uint8_t>{c.writePipe});
    using Timeout = std::pair<std::uint8_t, std::uint32_t>;
    EXPECT_EQ(device->timeouts, (std::vector<Timeout>{{c.readPipe, 30000}, {c.writePipe, 30000}}));
}

INSTANTIATE_TEST_SUITE_P(
    UsbDevice, PipeClassification,
    ::testing::Values(
        PipeCase{"BulkPair", {BulkIn(0x81), BulkOut(0x02)}, {}, true, 0x81, 0x02},
        PipeCase{"InterruptRecordedNotUsed",
                 {Interrupt(0x83), BulkIn(0x81), BulkOut(0x02)},
                 {},
                 true,
                 0x81,
                 0x02},
        PipeCase{"LaterPipesReplaceEarlier",
                 {BulkIn(0x81), BulkOut(0x01), BulkIn(0x84), BulkOut(0x05)},
                 {},
                 true,
                 0x84,
                 0x05},
        PipeCase{"FailedMiddleQueryIsNotTheRunningResult",
                 {BulkIn(0x81), Interrupt(0x83), BulkOut(0x02)},
                 {1},
                 true,
                 0x81,
                 0x02},
        PipeCase{"IsochronousFails",
                 {BulkIn(0x81), BulkOut(0x02), {UsbPipeType::Isochronous, 0x86}},
                 {},
                 false},
        PipeCase{
            "ControlFails", {{UsbPipeType::Control, 0x00}, BulkIn(0x81), BulkOut(0x02)}, {}, false},
        PipeCase{"MissingBulkOutFails", {BulkIn(0x81), Interrupt(0x83)}, {}, false},
        PipeCase{"MissingBulkInFails", {BulkOut(0x02)}, {}, false},
        PipeCase{"NoEndpointsFails", {}, {}, false},
        PipeCase{
            "LastQueryFailingFails", {BulkIn(0x81), BulkOut(0x02), Interrupt(0x83)}, {2}, false},
        PipeCase{"OutPipeLostToFailedQueryFails", {BulkIn(0x81), BulkOut(0x02)}, {1}, false}),
    CaseName());

struct StepFailure {
    const char* name;
    void (*breakStep)(ScriptedDevice&);
    std::vector<std::string> eventsAfterClose;
};

class OpenStepFailure : public UsbDeviceTest, public ::testing::WithParamInterface<StepFailure> {};

TEST_P(OpenStepFailure, KeepsWhatItAcquiredUntilCloseReleasesInterfaceThenFile) {
    GetParam().breakStep(*device);
    CUsbDevice usb;
    EXPECT_FALSE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
    EXPECT_TRUE(usb.Close());
    EXPECT_FALSE(usb.IsOpen());
    EXPECT_EQ(device->OpenHandles(), 0u);
    std::vector<std::string> expected = GetParam().eventsAfterClose;
    if (!expected.empty() && expected[0] == "open") {
        expected[0] += " " + device->path;
    }
    expected.insert(expected.begin(), "find");
    EXPECT_EQ(device->events, expected);
}

const std::vector<std::string> kFullSequence = {"open", "initialize", "release interface",
                                                "close file"};

INSTANTIATE_TEST_SUITE_P(
    UsbDevice, OpenStepFailure,
    ::testing::Values(
        StepFailure{"NoInstrument", [](ScriptedDevice& d) { d.present = false; }, {}},
        StepFailure{"OpenPath", [](ScriptedDevice& d) { d.openFails = true; }, {"open"}},
        StepFailure{"Initialize",
                    [](ScriptedDevice& d) { d.initializeFails = true; },
                    {"open", "initialize", "close file"}},
        StepFailure{"Speed", [](ScriptedDevice& d) { d.speedFails = true; }, kFullSequence},
        StepFailure{"InterfaceSettings", [](ScriptedDevice& d) { d.settingsFails = true; },
                    kFullSequence},
        StepFailure{"OutPipeTimeout", [](ScriptedDevice& d) { d.failingTimeoutPipes = {0x02}; },
                    kFullSequence}),
    CaseName());

TEST_F(UsbDeviceTest, InPipeTimeoutFailureDoesNotFailOpen) {
    device->failingTimeoutPipes = {0x81};
    CUsbDevice usb;
    EXPECT_TRUE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
}

TEST_F(UsbDeviceTest, NoInstrumentLeavesNoHandles) {
    device->present = false;
    CUsbDevice usb;
    EXPECT_FALSE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
    EXPECT_FALSE(usb.IsOpen());
}

struct IdCase {
    const char* path;
    const char* vendorId;
    const char* productId;
};

class IdTexts : public UsbDeviceTest, public ::testing::WithParamInterface<IdCase> {};

TEST_P(IdTexts, AreTheFourCharactersAfterTheFirstLowerCaseMarker) {
    device->path = GetParam().path;
    CUsbDevice usb;
    ASSERT_TRUE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
    EXPECT_EQ(usb.GetVendorId(), GetParam().vendorId);
    EXPECT_EQ(usb.GetProductId(), GetParam().productId);
}

INSTANTIATE_TEST_SUITE_P(
    UsbDevice, IdTexts,
    ::testing::Values(IdCase{"\\\\?\\usb#vid_1a2b&pid_3c4d#0001", "1a2b", "3c4d"},
                      IdCase{"\\\\?\\USB#VID_1A2B&PID_3C4D#0001", "", ""},
                      IdCase{"usb:pid_0001;vid_0002;pid_0003", "0002", "0001"},
                      IdCase{"no markers at all", "", ""}, IdCase{"ends early vid_12", "12", ""}));

TEST_F(UsbDeviceTest, IdTextsAreOverwrittenAtEachOpen) {
    CUsbDevice usb;
    ASSERT_TRUE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
    usb.Close();
    device->path = "other path without markers";
    ASSERT_TRUE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
    EXPECT_EQ(usb.GetProductId(), "");
}

TEST_F(UsbDeviceTest, OpeningAgainAfterAFailedOpenReleasesTheOldHandlesFirst) {
    device->speedFails = true;
    CUsbDevice usb;
    ASSERT_FALSE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
    device->speedFails = false;
    device->events.clear();
    ASSERT_TRUE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
    EXPECT_EQ(device->OpenHandles(), 2u);
    ASSERT_GE(device->events.size(), 2u);
    EXPECT_EQ(device->events[0], "release interface");
    EXPECT_EQ(device->events[1], "close file");
}

struct PacketCase {
    const char* name;
    std::uint32_t bufferSize;
    std::string packet;
    std::uint32_t expectedAsk;
};

class ReadPacketBounds : public UsbDeviceTest, public ::testing::WithParamInterface<PacketCase> {};

TEST_P(ReadPacketBounds, AsksForAtMostNMinusOneAndLeavesANulAfterTheBytes) {
    const PacketCase& c = GetParam();
    device->QueuePackets({c.packet});
    CUsbDevice usb;
    ASSERT_TRUE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
    std::vector<std::uint8_t> buffer(c.bufferSize, 0xAA);
    std::uint32_t transferred = 99;
    ASSERT_TRUE(usb.ReadPacket(buffer.data(), c.bufferSize, transferred));
    EXPECT_EQ(device->readLengths, std::vector<std::uint32_t>{c.expectedAsk});
    const std::size_t received = std::min<std::size_t>(c.packet.size(), c.expectedAsk);
    EXPECT_EQ(transferred, received);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + received), c.packet.substr(0, received));
    for (std::size_t i = received; i < buffer.size(); ++i) {
        EXPECT_EQ(buffer[i], 0) << "byte " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(UsbDevice, ReadPacketBounds,
                         ::testing::Values(PacketCase{"FullPacket", 65, std::string(64, 'x'), 64},
                                           PacketCase{"OverlongPacket", 65, std::string(80, 'y'),
                                                      64},
                                           PacketCase{"ShortPacket", 65, "OK\r", 64},
                                           PacketCase{"EmptyPacket", 65, "", 64},
                                           PacketCase{"OneByteBuffer", 1, "z", 0}),
                         CaseName());

TEST_F(UsbDeviceTest, ZeroSizedReadFailsWithoutATransfer) {
    CUsbDevice usb;
    ASSERT_TRUE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
    std::uint8_t buffer[1] = {0xAA};
    std::uint32_t transferred = 7;
    EXPECT_FALSE(usb.ReadPacket(buffer, 0, transferred));
    EXPECT_EQ(transferred, 0u);
    EXPECT_EQ(device->ReadCount(), 0u);
}

TEST_F(UsbDeviceTest, WritePacketSendsExactlyTheGivenLength) {
    CUsbDevice usb;
    ASSERT_TRUE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
    const std::uint8_t bytes[] = {'S', 'T', 'P', '\r', 0, 'j', 'u', 'n', 'k'};
    std::uint32_t transferred = 0;
    ASSERT_TRUE(usb.WritePacket(bytes, 4, transferred));
    EXPECT_EQ(device->writes, std::vector<std::string>{"STP\r"});
    EXPECT_EQ(transferred, 4u);
}

TEST_F(UsbDeviceTest, TransferFailuresAreReportedAndTheLinkStaysOpen) {
    device->QueueFailure();
    device->writeFails = true;
    CUsbDevice usb;
    ASSERT_TRUE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
    std::uint8_t buffer[65];
    std::uint32_t transferred = 0;
    EXPECT_FALSE(usb.ReadPacket(buffer, sizeof(buffer), transferred));
    EXPECT_FALSE(usb.WritePacket(buffer, 4, transferred));
    EXPECT_TRUE(usb.IsOpen());
}

TEST_F(UsbDeviceTest, CloseOnANeverOpenedObjectSucceedsAndTouchesNothing) {
    CUsbDevice usb;
    EXPECT_TRUE(usb.Close());
    EXPECT_TRUE(usb.Close());
    EXPECT_FALSE(usb.IsOpen());
    EXPECT_TRUE(device->events.empty());
}

TEST_F(UsbDeviceTest, TransfersOnAClosedObjectFailWithoutTheDriver) {
    CUsbDevice usb;
    std::uint8_t buffer[65];
    std::uint32_t transferred = 0;
    EXPECT_FALSE(usb.ReadPacket(buffer, sizeof(buffer), transferred));
    EXPECT_FALSE(usb.WritePacket(buffer, 4, transferred));
    EXPECT_EQ(device->ReadCount(), 0u);
    EXPECT_TRUE(device->writes.empty());
}

TEST_F(UsbDeviceTest, DestructionClosesInterfaceThenFile) {
    {
        CUsbDevice usb;
        ASSERT_TRUE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
    }
    EXPECT_EQ(device->OpenHandles(), 0u);
    ASSERT_GE(device->events.size(), 2u);
    EXPECT_EQ(device->events[device->events.size() - 2], "release interface");
    EXPECT_EQ(device->events.back(), "close file");
}

// A driver that fills the whole path buffer without a terminating NUL and claims success.
class UnterminatedPathDriver final : public UsbDriver {
public:
    bool FindDevicePath(const InterfaceGuid&, char* path, std::size_t capacity) override {
        std::memset(path, 'p', capacity);
        return true;
    }
    std::unique_ptr<UsbFileHandle> OpenDevicePath(const char*) override {
        ++opens;
        return nullptr;
    }
    int opens = 0;
};

TEST_F(UsbDeviceTest, AnUnterminatedPathFromTheDriverIsNotUsed) {
    auto driver = std::make_shared<UnterminatedPathDriver>();
    InstallUsbDriver(driver);
    CUsbDevice usb;
    char path[CUsbDevice::kDevicePathCapacity];
    EXPECT_FALSE(usb.FindDevicePath(GUID_DEVINTERFACE_INSTRUMENT, path));
    EXPECT_FALSE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
    EXPECT_EQ(driver->opens, 0);
}

TEST_F(UsbDeviceTest, APathThatDoesNotFitFailsTheSearch) {
    device->path = std::string(CUsbDevice::kDevicePathCapacity, 'p');
    CUsbDevice usb;
    char path[CUsbDevice::kDevicePathCapacity];
    EXPECT_FALSE(usb.FindDevicePath(GUID_DEVINTERFACE_INSTRUMENT, path));
    device->path.pop_back();
    EXPECT_TRUE(usb.FindDevicePath(GUID_DEVINTERFACE_INSTRUMENT, path));
    EXPECT_EQ(std::strlen(path), CUsbDevice::kDevicePathCapacity - 1);
}

struct ListingCase {
    const char* name;
    bool present;
    bool openFails;
    bool initializeFails;
    std::vector<UsbDeviceAccess> listed;
};

class DriverListing : public UsbDeviceTest, public ::testing::WithParamInterface<ListingCase> {};

// A driver without an enumeration of its own lists the device its search finds, opened and
// released again to learn whether it can be used.
TEST_P(DriverListing, ListsTheDeviceTheSearchFindsWithWhatOpeningItTold) {
    device->present = GetParam().present;
    device->openFails = GetParam().openFails;
    device->initializeFails = GetParam().initializeFails;
    std::vector<UsbDeviceAccess> listed;
    for (const UsbDeviceListing& entry :
         ActiveUsbDriver()->ListDevices(GUID_DEVINTERFACE_INSTRUMENT)) {
        EXPECT_EQ(entry.path, device->path);
        listed.push_back(entry.access);
    }
    EXPECT_EQ(listed, GetParam().listed);
    EXPECT_EQ(device->OpenHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    UsbDriver, DriverListing,
    ::testing::Values(ListingCase{"Available", true, false, false, {UsbDeviceAccess::Available}},
                      ListingCase{"OpenFails", true, true, false, {UsbDeviceAccess::Unopenable}},
                      ListingCase{
                          "InitializeFails", true, false, true, {UsbDeviceAccess::Unopenable}},
                      ListingCase{"Absent", false, false, false, {}}),
    [](const auto& param) { return std::string(param.param.name); });

// Every search answers with the chosen device; the driver underneath is never asked to search.
TEST_F(UsbDeviceTest, AChosenDeviceAnswersEverySearchAndIsTheOnlyOneListed) {
    const std::string chosen = device->path;
    InstallUsbDriver(ChooseUsbDevice(std::make_shared<ScriptedUsbDriver>(device), chosen));
    CUsbDevice usb;
    EXPECT_TRUE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
    usb.Close();
    EXPECT_EQ(device->events.front(), "open " + chosen);
    EXPECT_EQ(ActiveUsbDriver()->ListDevices(GUID_DEVINTERFACE_INSTRUMENT).size(), 1u);

    InstallUsbDriver(ChooseUsbDevice(std::make_shared<ScriptedUsbDriver>(device), "elsewhere"));
    EXPECT_TRUE(ActiveUsbDriver()->ListDevices(GUID_DEVINTERFACE_INSTRUMENT).empty());
}

// A driver without change events has the caller look again about once a second: never at
// once, always within a second.
TEST_F(UsbDeviceTest, WithoutChangeEventsWaitingForTheBusIsASlowPoll) {
    ScriptedUsbDriver driver(device);
    EXPECT_FALSE(driver.WaitForDeviceChange(std::chrono::milliseconds(0)));
    EXPECT_TRUE(driver.WaitForDeviceChange(std::chrono::seconds(2)));
}

}  // namespace
