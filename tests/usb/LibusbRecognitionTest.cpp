// Which device the libusb driver takes for the instrument, also when the bus changes between
// operations, how it classifies the endpoints of interface 0, that it selects alternate
// setting 0, and how it hands the interface over to and back from a kernel driver.
#include <libusb.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
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

// The worker and the window thread never use the link at once, yet nothing stops two threads
// from searching at the same moment; the driver's memory of the last search is shared.
TEST_F(EmulatedUsbTest, TwoThreadsSearchingAtOnceBothFindTheInstrumentEveryTime) {
    ASSERT_TRUE(Present({{}}));
    constexpr int kSearches = 20;
    std::atomic<int> found{0};
    const auto search = [&found] {
        for (int i = 0; i < kSearches; ++i) {
            CUsbDevice usb;
            char path[CUsbDevice::kDevicePathCapacity];
            if (usb.FindDevicePath(GUID_DEVINTERFACE_INSTRUMENT, path) &&
                std::string(path) == "usb:bus=001;ports=1;address=002;vid_0a1b&pid_7c07") {
                ++found;
            }
        }
    };
    std::thread other(search);
    search();
    other.join();
    EXPECT_EQ(found.load(), 2 * kSearches);
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
    EXPECT_EQ(devices[expected]->ProductStringReads(), 1u) << "one search serves every round";
    EXPECT_LE(devices[1 - expected]->ProductStringReads(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    LibusbDriver, TwoDevices,
    ::testing::Values(
        PairCase{"TwoInstruments", {}, {}, true, true},
        PairCase{"OtherProductFirst", WithProduct("Other instrument"), {}, false, true},
        PairCase{"NoBulkOutFirst", WithEndpoints(EndpointLayout::NoBulkOut), {}, false, true},
        PairCase{"OtherProductSecond", {}, WithProduct("Other instrument"), true, false}),
    [](const auto& param) { return std::string(param.param.name); });

// What happens on the bus between two operations of the program.
enum class BusChange {
    None,
    Replugged,              // the instrument the first operation used
    OtherDeviceInItsPlace,  // unplugged, and another product plugged into its port
    Unplugged,
    VanishedUnannounced,  // gone before libusb heard of it: the remembered path fails to open
    OtherDeviceAdded,     // with a bulk pair; libusb may list a device plugged in later anywhere
};

struct BusChangeCase {
    const char* name;
    int instruments;  // on the bus at the first operation
    BusChange change;
    bool readsAProductString;  // for the second operation: a search that could open a device
};

void PrintTo(const BusChangeCase& value, std::ostream* out) {
    *out << value.name;
}

class BusChangeBetweenOperations : public EmulatedUsbTest,
                                   public ::testing::WithParamInterface<BusChangeCase> {
protected:
    // Each instrument answers "SRL" with its own address.
    EmulatedInstrument* Plugged(EmulatedInstrument* device, bool instrument = true) {
        if (device == nullptr) {
            ADD_FAILURE() << "cannot plug an emulated device: " << bus->LastError();
            return nullptr;
        }
        SimulatedInstrument::Identity identity;
        identity.serialNumber = "SN-" + std::to_string(device->Address());
        device->Firmware()->SetIdentity(identity);
        all.push_back(device);
        if (instrument) {
            instruments.push_back(device);
        }
        return device;
    }

    void Change(BusChange change, EmulatedInstrument& used) {
        if (change != BusChange::None && change != BusChange::OtherDeviceAdded) {
            std::erase(instruments, &used);
        }
        switch (change) {
            case BusChange::None:
                break;
            case BusChange::Replugged:
                Plugged(bus->Replug(used));
                break;
            case BusChange::OtherDeviceInItsPlace:
                Plugged(bus->Replug(used, WithProduct("Other instrument")), false);
                break;
            case BusChange::Unplugged:
                bus->Unplug(used);
                break;
            case BusChange::VanishedUnannounced:
                bus->Vanish(used);
                break;
            case BusChange::OtherDeviceAdded:
                Plugged(bus->Attach(WithProduct("Other instrument")), false);
                break;
        }
    }

    // The instrument a search made now must find; null when there is none.
    EmulatedInstrument* FirstInstrumentEnumerated() const {
        for (const std::uint8_t address : EnumerationOrder()) {
            for (EmulatedInstrument* device : instruments) {
                if (device->Address() == address) {
                    return device;
                }
            }
        }
        return nullptr;
    }

    std::size_t ProductStringReads() const {
        std::size_t reads = 0;
        for (EmulatedInstrument* device : all) {
            reads += device->ProductStringReads();
        }
        return reads;
    }

    std::vector<EmulatedInstrument*> instruments;  // on the bus now
    std::vector<EmulatedInstrument*> all;          // ever attached
};

int ReadSerial(std::string& serial) {
    CInstrument instrument;
    return instrument.ReadSerialNumber(serial);
}

TEST_P(BusChangeBetweenOperations, TheNextOperationTalksToTheFirstInstrumentOnTheBusAsItIsNow) {
    ASSERT_TRUE(Present(std::vector<EmulatedDeviceOptions>(GetParam().instruments)));
    for (EmulatedInstrument* device : devices) {
        Plugged(device);
    }
    EmulatedInstrument* used = FirstInstrumentEnumerated();
    ASSERT_NE(used, nullptr);
    std::string serial;
    ASSERT_EQ(ReadSerial(serial), 1);
    ASSERT_EQ(serial, "SN-" + std::to_string(used->Address()));

    const std::size_t readsBefore = ProductStringReads();
    Change(GetParam().change, *used);
    const EmulatedInstrument* expected = FirstInstrumentEnumerated();
    serial.clear();
    EXPECT_EQ(ReadSerial(serial), expected != nullptr ? 1 : 0);
    if (expected != nullptr) {
        EXPECT_EQ(serial, "SN-" + std::to_string(expected->Address()));
    }
    EXPECT_EQ(ProductStringReads() > readsBefore, GetParam().readsAProductString);
}

INSTANTIATE_TEST_SUITE_P(
    LibusbDriver, BusChangeBetweenOperations,
    ::testing::Values(
        BusChangeCase{"Unchanged", 1, BusChange::None, false},
        BusChangeCase{"Replugged", 1, BusChange::Replugged, true},
        BusChangeCase{"OtherDeviceInItsPlace", 1, BusChange::OtherDeviceInItsPlace, true},
        BusChangeCase{"UnpluggedSecondInstrumentLeft", 2, BusChange::Unplugged, true},
        BusChangeCase{"VanishedSecondInstrumentLeft", 2, BusChange::VanishedUnannounced, true},
        BusChangeCase{"VanishedAlone", 1, BusChange::VanishedUnannounced, false},
        BusChangeCase{"OtherDeviceAdded", 1, BusChange::OtherDeviceAdded, true}),
    [](const auto& param) { return std::string(param.param.name); });

// Waiting for an instrument to come (back): the first wait has the caller look, a bus left as
// it is lets the limit pass, each change wakes the wait, and a search after the wake-ups the
// change brought finds the bus as it is now, a replugged instrument at its new address.
enum class PlugChange { Unplugged, Attached, Replugged };

struct WaitCase {
    const char* name;
    bool presentBefore;
    PlugChange change;
};

void PrintTo(const WaitCase& value, std::ostream* out) {
    *out << value.name;
}

class WaitingForTheBus : public EmulatedUsbTest, public ::testing::WithParamInterface<WaitCase> {
protected:
    // The path a search finds now; empty when it finds none.
    static std::string Search() {
        CUsbDevice usb;
        char path[CUsbDevice::kDevicePathCapacity];
        return usb.FindDevicePath(GUID_DEVINTERFACE_INSTRUMENT, path) ? path : "";
    }

    static std::string PathOf(const EmulatedInstrument* device) {
        return device == nullptr
                   ? ""
                   : FormatLibusbDevicePath({1, {1}, device->Address(), 0x0a1b, 0x7c07});
    }
};

TEST_P(WaitingForTheBus, WakesOnTheChangeAndTheNextSearchSeesTheBusAsItIsNow) {
    using namespace std::chrono_literals;
    ASSERT_TRUE(Present(std::vector<EmulatedDeviceOptions>(GetParam().presentBefore ? 1 : 0)));
    const std::shared_ptr<UsbDriver> driver = ActiveUsbDriver();
    EXPECT_EQ(Search(), PathOf(devices.empty() ? nullptr : devices[0]));
    EXPECT_TRUE(driver->WaitForDeviceChange(0ms)) << "the first wait has the caller look";
    EXPECT_FALSE(driver->WaitForDeviceChange(100ms)) << "nothing changed";

    EmulatedInstrument* expected = nullptr;
    switch (GetParam().change) {
        case PlugChange::Unplugged:
            bus->Unplug(*devices[0]);
            break;
        case PlugChange::Attached:
            expected = bus->Attach();
            ASSERT_NE(expected, nullptr) << bus->LastError();
            break;
        case PlugChange::Replugged:
            expected = bus->Replug(*devices[0]);
            ASSERT_NE(expected, nullptr) << bus->LastError();
            break;
    }
    ASSERT_TRUE(driver->WaitForDeviceChange(10s));
    // A replug is two changes; the wait may report the first before the second has happened.
    std::string found = Search();
    for (int wait = 0; wait < 2 && found != PathOf(expected); ++wait) {
        EXPECT_TRUE(driver->WaitForDeviceChange(10s));
        found = Search();
    }
    EXPECT_EQ(found, PathOf(expected));
}

INSTANTIATE_TEST_SUITE_P(LibusbDriver, WaitingForTheBus,
                         ::testing::Values(WaitCase{"Unplugged", true, PlugChange::Unplugged},
                                           WaitCase{"Attached", false, PlugChange::Attached},
                                           WaitCase{"Replugged", true, PlugChange::Replugged}),
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
