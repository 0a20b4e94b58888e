// The libusb driver as far as it can be exercised without an instrument: the path text it
// hands to the transport, and a clean failure when nothing is attached.
#include <gtest/gtest.h>

#include "link/LibusbDriver.h"
#include "link/UsbDevice.h"

namespace {

TEST(LibusbDevicePath, CarriesLowerCaseIdsForTheTransportAndTheLocationToReopen) {
    LibusbDeviceLocation location;
    location.bus = 3;
    location.ports = {1, 4, 12};
    location.address = 27;
    location.vendorId = 0x1A2B;
    location.productId = 0x00CD;
    const std::string path = FormatLibusbDevicePath(location);
    EXPECT_EQ(path, "usb:bus=003;ports=1.4.12;address=027;vid_1a2b&pid_00cd");
    EXPECT_EQ(IdTextAfterMarker(path, "vid_"), "1a2b");
    EXPECT_EQ(IdTextAfterMarker(path, "pid_"), "00cd");

    LibusbDeviceLocation parsed;
    ASSERT_TRUE(ParseLibusbDevicePath(path, parsed));
    EXPECT_EQ(parsed.bus, 3);
    EXPECT_EQ(parsed.ports, (std::vector<std::uint8_t>{1, 4, 12}));
    EXPECT_EQ(parsed.address, 27);
}

TEST(LibusbDevicePath, DeviceOnTheRootPortListHasNoPorts) {
    LibusbDeviceLocation location;
    location.bus = 1;
    location.address = 1;
    LibusbDeviceLocation parsed;
    parsed.ports = {9};
    ASSERT_TRUE(ParseLibusbDevicePath(FormatLibusbDevicePath(location), parsed));
    EXPECT_TRUE(parsed.ports.empty());
}

class MalformedPaths : public ::testing::TestWithParam<const char*> {};

TEST_P(MalformedPaths, AreRefused) {
    LibusbDeviceLocation parsed;
    EXPECT_FALSE(ParseLibusbDevicePath(GetParam(), parsed)) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(
    LibusbDevicePath, MalformedPaths,
    ::testing::Values("", "\\\\?\\usb#vid_1a2b&pid_3c4d#0001",
                      "usb:ports=1;address=2;vid_0000&pid_0000", "usb:bus=1;address=2",
                      "usb:bus=1;ports=1;", "usb:bus=256;ports=1;address=2",
                      "usb:bus=1;ports=1..2;address=2", "usb:bus=1;ports=1;address=-2",
                      "usb:bus=x;ports=1;address=2", "usb:bus=1;ports=1;address=2x"));

TEST(LibusbDriver, OpenFailsCleanlyWithNoInstrumentAttached) {
    auto driver = CreateLibusbDriver(50);
    char path[CUsbDevice::kDevicePathCapacity] = {};
    if (driver->FindDevicePath(GUID_DEVINTERFACE_INSTRUMENT, path, sizeof(path))) {
        GTEST_SKIP() << "an instrument is attached at " << path;
    }
    EXPECT_EQ(driver->OpenDevicePath("usb:bus=001;ports=1;address=099;vid_0000&pid_0000"), nullptr);
    EXPECT_EQ(driver->OpenDevicePath("not a path"), nullptr);

    InstallUsbDriver(driver);
    {
        CUsbDevice usb;
        EXPECT_FALSE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
        EXPECT_FALSE(usb.IsOpen());
        EXPECT_TRUE(usb.Close());
    }
    InstallUsbDriver(nullptr);
}

TEST(LibusbDriver, NoRoomForAPathWritesNothing) {
    auto driver = CreateLibusbDriver();
    char path[4] = {'x', 'x', 'x', 'x'};
    EXPECT_FALSE(driver->FindDevicePath(GUID_DEVINTERFACE_INSTRUMENT, path, 0));
    EXPECT_EQ(path[0], 'x');
}

}  // namespace
