// Which device the libusb driver takes for the instrument, how it classifies the endpoints of
// interface 0, that it selects alternate setting 0, and how it hands the interface over to and
// back from a kernel driver.
#include <libusb.h>

#include <string>
#include <vector>

#include "link/Instrument.h"
#include "link/UsbDevice.h"
#include "tests/usb/EmulatedUsbTest.h"

namespace {

using Events = std::vector<std::string>;

struct Pipes {
    std::uint8_t bulkIn = 0;
    std::uint8_t bulkOut = 0;
    std::uint8_t interrupt = 0;
    bool operator==(const Pipes&) const = default;
};

void PrintTo(const Pipes& pipes, std::ostream* out) {
    *out << std::hex << "in 0x" << +pipes.bulkIn << ", out 0x" << +pipes.bulkOut << ", interrupt 0x"
         << +pipes.interrupt;
}

struct RecognitionCase {
    const char* name;
    EmulatedDeviceOptions device;
    bool opens;
    Pipes pipes;    // checked when it opens
    Events events;  // on interface 0, once the device is closed again
};

void PrintTo(const RecognitionCase& value, std::ostream* out) {
    *out << value.name;
}

EmulatedDeviceOptions WithProduct(const char* product) {
    EmulatedDeviceOptions options;
    options.product = product;
    return options;
}

EmulatedDeviceOptions WithEndpoints(EndpointLayout layout) {
    EmulatedDeviceOptions options;
    options.endpoints = layout;
    return options;
}

const Events kClaimedAndReleased = LinkCycleEvents();

class Recognition : public EmulatedUsbTest,
                    public ::testing::WithParamInterface<RecognitionCase> {};

TEST_P(Recognition, OpensOnlyAnInstrumentWithABulkPairAndNoIsochronousEndpoint) {
    ASSERT_TRUE(Present({GetParam().device}));
    {
        CUsbDevice usb;
        EXPECT_EQ(usb.Open(GUID_DEVINTERFACE_INSTRUMENT), GetParam().opens);
        if (GetParam().opens) {
            EXPECT_EQ(Pipes({usb.GetBulkInPipe(), usb.GetBulkOutPipe(), usb.GetInterruptPipe()}),
                      GetParam().pipes);
        }
        usb.Close();
        EXPECT_FALSE(usb.IsOpen());
    }
    EXPECT_EQ(devices[0]->InterfaceEvents(), GetParam().events);
}

// A device the driver does not take for the instrument is never claimed; one whose endpoint
// list only the transport rejects is claimed and released again.
INSTANTIATE_TEST_SUITE_P(
    LibusbDriver, Recognition,
    ::testing::Values(
        RecognitionCase{"BulkPair", {}, true, {0x81, 0x01, 0}, kClaimedAndReleased},
        RecognitionCase{"LongerProductName",
                        WithProduct("QIRO-7 Radiometer"),
                        true,
                        {0x81, 0x01, 0},
                        kClaimedAndReleased},
        RecognitionCase{"InterruptRecorded",
                        WithEndpoints(EndpointLayout::BulkPairAndInterrupt),
                        true,
                        {0x81, 0x01, 0x83},
                        kClaimedAndReleased},
        RecognitionCase{"Isochronous",
                        WithEndpoints(EndpointLayout::BulkPairAndIsochronous),
                        false,
                        {},
                        kClaimedAndReleased},
        RecognitionCase{"NoBulkOut", WithEndpoints(EndpointLayout::NoBulkOut), false, {}, {}},
        RecognitionCase{"OtherProduct", WithProduct("Other instrument"), false, {}, {}},
        RecognitionCase{"ProductNameInside", WithProduct("Not a QIRO-7"), false, {}, {}},
        RecognitionCase{"LowerCaseProduct", WithProduct("qiro-7"), false, {}, {}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(EmulatedUsbTest, FindsTheInstrumentByItsProductStringAndCarriesItsIdsAsText) {
    ASSERT_TRUE(Present({{}}));
    CUsbDevice usb;
    char path[CUsbDevice::kDevicePathCapacity];
    ASSERT_TRUE(usb.FindDevicePath(GUID_DEVINTERFACE_INSTRUMENT, path));
    EXPECT_STREQ(path, "usb:bus=001;ports=1;address=002;vid_0a1b&pid_7c07");
    ASSERT_TRUE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
    EXPECT_EQ(usb.GetVendorId(), "0a1b");
    EXPECT_EQ(usb.GetProductId(), "7c07");
}

// Device addresses in libusb's own enumeration order: what "the first enumerated" means.
std::vector<std::uint8_t> EnumerationOrder() {
    std::vector<std::uint8_t> addresses;
    libusb_context* context = nullptr;
    if (libusb_init(&context) != LIBUSB_SUCCESS) {
        return addresses;
    }
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    for (ssize_t i = 0; i < count; ++i) {
        addresses.push_back(libusb_get_device_address(list[i]));
    }
    if (list != nullptr) {
        libusb_free_device_list(list, 1);
    }
    libusb_exit(context);
    return addresses;
}

struct PairCase {
    const char* name;
    EmulatedDeviceOptions first;  // attached first, at address 2
    EmulatedDeviceOptions second;
    bool firstIsInstrument;
    bool secondIsInstrument;
};

void PrintTo(const PairCase& value, std::ostream* out) {
    *out << value.name;
}

class TwoDevices : public EmulatedUsbTest, public ::testing::WithParamInterface<PairCase> {};

TEST_P(TwoDevices, EveryOperationTalksToTheFirstInstrumentEnumerated) {
    ASSERT_TRUE(Present({GetParam().first, GetParam().second}));
    const bool isInstrument[] = {GetParam().firstIsInstrument, GetParam().secondIsInstrument};
    int expected = -1;
    for (const std::uint8_t address : EnumerationOrder()) {
        const int index = address - devices[0]->Address();
        if (expected < 0 && index >= 0 && index < 2 && isInstrument[index]) {
            expected = index;
        }
    }
    ASSERT_GE(expected, 0) << "libusb lists neither instrument";
    const std::string serials[] = {"SN-FIRST", "SN-SECOND"};
    for (int index = 0; index < 2; ++index) {
        SimulatedInstrument::Identity identity;
        identity.serialNumber = serials[index];
        devices[index]->Firmware()->SetIdentity(identity);
    }

    for (int round = 0; round < 3; ++round) {
        CInstrument instrument;
        std::string serial;
        EXPECT_EQ(instrument.ReadSerialNumber(serial), 1);
        EXPECT_EQ(serial, serials[expected]) << "round " << round;
    }
    EXPECT_EQ(devices[expected]->RequestLog(), Events(3, "SRL"));
    EXPECT_TRUE(devices[1 - expected]->RequestLog().empty());
    EXPECT_TRUE(devices[1 - expected]->InterfaceEvents().empty());
}

INSTANTIATE_TEST_SUITE_P(
    LibusbDriver, TwoDevices,
    ::testing::Values(
        PairCase{"TwoInstruments", {}, {}, true, true},
        PairCase{"OtherProductFirst", WithProduct("Other instrument"), {}, false, true},
        PairCase{"NoBulkOutFirst", WithEndpoints(EndpointLayout::NoBulkOut), {}, false, true},
        PairCase{"OtherProductSecond", {}, WithProduct("Other instrument"), true, false}),
    [](const auto& param) { return std::string(param.param.name); });

struct HandoverCase {
    const char* name;
    bool claimRefused;
    bool alternateSettingRefused;
    bool opens;
    Events events;
};

void PrintTo(const HandoverCase& value, std::ostream* out) {
    *out << value.name;
}

class KernelDriverHandover : public EmulatedUsbTest,
                             public ::testing::WithParamInterface<HandoverCase> {};

TEST_P(KernelDriverHandover, DetachesForTheClaimAndGivesTheInterfaceBack) {
    EmulatedDeviceOptions options;
    options.boundKernelDriver = "usbhid";
    options.claimRefused = GetParam().claimRefused;
    options.alternateSettingRefused = GetParam().alternateSettingRefused;
    ASSERT_TRUE(Present({options}));
    {
        CUsbDevice usb;
        EXPECT_EQ(usb.Open(GUID_DEVINTERFACE_INSTRUMENT), GetParam().opens);
    }
    EXPECT_EQ(devices[0]->InterfaceEvents(), GetParam().events);
}

INSTANTIATE_TEST_SUITE_P(
    LibusbDriver, KernelDriverHandover,
    ::testing::Values(
        HandoverCase{"Claimed",
                     false,
                     false,
                     true,
                     {"detach usbhid", "claim", "alternate setting 0", "release", "reattach"}},
        HandoverCase{
            "ClaimRefused", true, false, false, {"detach usbhid", "claim refused", "reattach"}},
        // A device that refuses alternate setting 0 is not used: the claim is given up again.
        HandoverCase{
            "AlternateSettingRefused",
            false,
            true,
            false,
            {"detach usbhid", "claim", "alternate setting 0 refused", "release", "reattach"}}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
