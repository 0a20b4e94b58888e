// The libusb driver end to end against an emulated USB device: umockdev's preload library
// stands in for the kernel's usbfs, and the handler below answers its ioctls as the instrument
// would. The executable re-runs itself with the preload library when started without it.
#include <gtest/gtest.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "link/Instrument.h"
#include "link/LibusbDriver.h"

namespace {

constexpr char kDeviceNode[] = "/dev/bus/usb/001/002";
constexpr std::uint8_t kBulkIn = 0x81;
constexpr std::uint8_t kBulkOut = 0x02;

struct EmulatedDescription {
    std::string product = "QIRO-7 Radiometer";
    std::uint8_t secondEndpoint = kBulkOut;  // 0x82 gives two IN endpoints and no OUT
    std::string boundKernelDriver;           // empty: none
    bool claimRefused = false;               // the interface is busy
};

std::vector<std::uint8_t> DeviceDescriptor() {
    return {18, 1, 0x00, 0x02, 0, 0, 0, 64, 0x1b, 0x0a, 0x07, 0x7c, 0x00, 0x01, 1, 2, 3, 1};
}

std::vector<std::uint8_t> ConfigDescriptor(const EmulatedDescription& description) {
    return {9,    2,    39,
            0,    1,    1,
            0,    0x80, 50,  // one interface, three endpoints
            9,    4,    0,
            0,    3,    0xff,
            0,    0,    0,  // interface 0, alternate setting 0, vendor class
            7,    5,    kBulkIn,
            2,    64,   0,
            0,  // bulk IN
            7,    5,    description.secondEndpoint,
            2,    64,   0,
            0,    7,    5,
            0x83, 3,    8,
            0,    10};  // interrupt IN
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char digits[3];
    for (std::uint8_t byte : bytes) {
        std::snprintf(digits, sizeof(digits), "%02X", byte);
        text += digits;
    }
    return text;
}

std::string SysfsDescription(const EmulatedDescription& description) {
    std::vector<std::uint8_t> all = DeviceDescriptor();
    const std::vector<std::uint8_t> config = ConfigDescriptor(description);
    all.insert(all.end(), config.begin(), config.end());
    const std::string hex = Hex(all);
    return "P: /devices/pci0000:00/0000:00:14.0/usb1/1-1\n"
           "N: bus/usb/001/002=" +
           hex +
           "\n"
           "E: DEVNAME=/dev/bus/usb/001/002\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\n"
           "E: BUSNUM=001\nE: DEVNUM=002\nE: MAJOR=189\nE: MINOR=1\n"
           "A: busnum=1\\n\nA: devnum=2\\n\nA: speed=480\\n\nA: bConfigurationValue=1\\n\n"
           "A: dev=189:1\\n\n"
           "H: descriptors=" +
           hex + "\n";
}

struct Urb {
    UMockdevIoctlData* urb = nullptr;
    UMockdevIoctlData* buffer = nullptr;
    unsigned long address = 0;
    usbdevfs_urb* get() const { return reinterpret_cast<usbdevfs_urb*>(urb->data); }
    void Complete(int status, const void* data, int length, int offset = 0) {
        if (length > 0) {
            std::memcpy(buffer->data + offset, data, static_cast<std::size_t>(length));
        }
        get()->status = status;
        get()->actual_length = length;
    }
};

// Answers the usbfs ioctls of one device on umockdev's thread; the test thread scripts the
// replies and reads the records. Every member is guarded by `mutex`.
class EmulatedInstrument {
public:
    explicit EmulatedInstrument(EmulatedDescription deviceDescription)
        : description(std::move(deviceDescription)) {}

    // Queued for the next request line received, one packet each ("" is a zero-length packet).
    void ReplyNextRequestWith(std::vector<std::string> replyPackets) {
        std::lock_guard lock(mutex);
        nextReplies.push_back(std::move(replyPackets));
    }
    std::string Received() {
        std::lock_guard lock(mutex);
        return received;
    }
    std::vector<std::string> Events() {
        std::lock_guard lock(mutex);
        return events;
    }

    static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        return static_cast<EmulatedInstrument*>(self)->Handle(client);
    }

private:
    gboolean Handle(UMockdevIoctlClient* client) {
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
        switch (request) {
            case USBDEVFS_GET_CAPABILITIES:
                return Capabilities(client, argument);
            case USBDEVFS_GETDRIVER:
                return GetDriver(client, argument);
            case USBDEVFS_IOCTL:
                return DriverIoctl(client, argument);
            case USBDEVFS_CLAIMINTERFACE:
                return Claim(client);
            case USBDEVFS_RELEASEINTERFACE:
                Record("release");
                umockdev_ioctl_client_complete(client, 0, 0);
                return TRUE;
            case USBDEVFS_CLEAR_HALT:
            case USBDEVFS_RESET:
            case USBDEVFS_RESETEP:
            case USBDEVFS_SETINTERFACE:
            case USBDEVFS_SETCONFIGURATION:
                umockdev_ioctl_client_complete(client, 0, 0);
                return TRUE;
            case USBDEVFS_SUBMITURB:
                return Submit(client, argument);
            case USBDEVFS_REAPURB:
            case USBDEVFS_REAPURBNDELAY:
                return Reap(client, argument);
            case USBDEVFS_DISCARDURB:
                return Discard(client, argument);
            default:
                umockdev_ioctl_client_complete(client, -1, ENOTTY);
                return TRUE;
        }
    }

    void Record(const std::string& event) {
        std::lock_guard lock(mutex);
        events.push_back(event);
    }

    gboolean Claim(UMockdevIoctlClient* client) {
        std::lock_guard lock(mutex);
        if (description.claimRefused) {
            events.push_back("claim refused");
            umockdev_ioctl_client_complete(client, -1, EBUSY);
        } else {
            events.push_back("claim");
            umockdev_ioctl_client_complete(client, 0, 0);
        }
        return TRUE;
    }

    gboolean Capabilities(UMockdevIoctlClient* client, UMockdevIoctlData* argument) {
        GError* error = nullptr;
        UMockdevIoctlData* data =
            umockdev_ioctl_data_resolve(argument, 0, sizeof(std::uint32_t), &error);
        *reinterpret_cast<std::uint32_t*>(data->data) = USBDEVFS_CAP_BULK_CONTINUATION |
                                                        USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                                        USBDEVFS_CAP_ZERO_PACKET;
        g_object_unref(data);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }

    gboolean GetDriver(UMockdevIoctlClient* client, UMockdevIoctlData* argument) {
        std::lock_guard lock(mutex);
        if (description.boundKernelDriver.empty()) {
            umockdev_ioctl_client_complete(client, -1, ENODATA);
            return TRUE;
        }
        GError* error = nullptr;
        UMockdevIoctlData* data =
            umockdev_ioctl_data_resolve(argument, 0, sizeof(usbdevfs_getdriver), &error);
        auto* getDriver = reinterpret_cast<usbdevfs_getdriver*>(data->data);
        std::snprintf(getDriver->driver, sizeof(getDriver->driver), "%s",
                      description.boundKernelDriver.c_str());
        g_object_unref(data);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }

    // Disconnects (or reconnects) a kernel driver from the interface.
    gboolean DriverIoctl(UMockdevIoctlClient* client, UMockdevIoctlData* argument) {
        GError* error = nullptr;
        UMockdevIoctlData* data =
            umockdev_ioctl_data_resolve(argument, 0, sizeof(usbdevfs_ioctl), &error);
        const int code = reinterpret_cast<usbdevfs_ioctl*>(data->data)->ioctl_code;
        g_object_unref(data);
        std::lock_guard lock(mutex);
        if (code == USBDEVFS_DISCONNECT && !description.boundKernelDriver.empty()) {
            events.push_back("detach " + description.boundKernelDriver);
            description.boundKernelDriver.clear();
            umockdev_ioctl_client_complete(client, 0, 0);
        } else if (code == USBDEVFS_CONNECT) {
            events.push_back("reattach");
            umockdev_ioctl_client_complete(client, 0, 0);
        } else {
            umockdev_ioctl_client_complete(client, -1, ENODATA);
        }
        return TRUE;
    }

    gboolean Submit(UMockdevIoctlClient* client, UMockdevIoctlData* argument) {
        GError* error = nullptr;
        Urb urb;
        urb.address = *reinterpret_cast<unsigned long*>(argument->data);
        urb.urb = umockdev_ioctl_data_resolve(argument, 0, sizeof(usbdevfs_urb), &error);
        if (urb.get()->buffer_length > 0) {
            urb.buffer =
                umockdev_ioctl_data_resolve(urb.urb, offsetof(usbdevfs_urb, buffer),
                                            static_cast<gsize>(urb.get()->buffer_length), &error);
        }
        std::lock_guard lock(mutex);
        if (urb.get()->type == USBDEVFS_URB_TYPE_CONTROL) {
            AnswerControl(urb);
            reapable.push_back(urb);
        } else if ((urb.get()->endpoint & 0x80) == 0) {
            ReceiveBulkOut(urb);
            reapable.push_back(urb);
        } else {
            inFlight.push_back(urb);
            DeliverPackets();
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }

    void AnswerControl(Urb& urb) {
        const std::uint8_t* setup = urb.buffer->data;
        const std::uint8_t type = setup[3];
        const std::uint8_t index = setup[2];
        const int wanted = setup[6] | setup[7] << 8;
        std::vector<std::uint8_t> reply;
        if (setup[0] != 0x80 || setup[1] != 6) {
            urb.Complete(-EPIPE, nullptr, 0);
            return;
        }
        if (type == 1) {
            reply = DeviceDescriptor();
        } else if (type == 2) {
            reply = ConfigDescriptor(description);
        } else if (type == 3 && index == 0) {
            reply = {4, 3, 0x09, 0x04};
        } else if (type == 3 && index <= 3) {
            const std::string text = index == 1   ? "Emulated maker"
                                     : index == 2 ? description.product
                                                  : "0001";
            reply = {0, 3};
            for (char c : text) {
                reply.push_back(static_cast<std::uint8_t>(c));
                reply.push_back(0);
            }
            reply[0] = static_cast<std::uint8_t>(reply.size());
        } else {
            urb.Complete(-EPIPE, nullptr, 0);
            return;
        }
        urb.Complete(0, reply.data(), std::min<int>(static_cast<int>(reply.size()), wanted), 8);
    }

    void ReceiveBulkOut(Urb& urb) {
        const std::string bytes(reinterpret_cast<const char*>(urb.buffer->data),
                                static_cast<std::size_t>(urb.get()->buffer_length));
        received += bytes;
        urb.Complete(0, nullptr, 0);
        urb.get()->actual_length = urb.get()->buffer_length;
        if (bytes.find('\r') != std::string::npos && !nextReplies.empty()) {
            for (const std::string& packet : nextReplies.front()) {
                packets.push_back(packet);
            }
            nextReplies.pop_front();
            DeliverPackets();
        }
    }

    void DeliverPackets() {
        while (!inFlight.empty() && !packets.empty()) {
            Urb urb = inFlight.front();
            inFlight.pop_front();
            const std::string packet = packets.front();
            packets.pop_front();
            const int length =
                std::min<int>(static_cast<int>(packet.size()), urb.get()->buffer_length);
            urb.Complete(0, packet.data(), length);
            reapable.push_back(urb);
        }
    }

    gboolean Reap(UMockdevIoctlClient* client, UMockdevIoctlData* argument) {
        std::unique_lock lock(mutex);
        if (reapable.empty()) {
            lock.unlock();
            umockdev_ioctl_client_complete(client, -1, EAGAIN);
            return TRUE;
        }
        Urb urb = reapable.front();
        reapable.pop_front();
        lock.unlock();
        GError* error = nullptr;
        UMockdevIoctlData* pointer =
            umockdev_ioctl_data_resolve(argument, 0, sizeof(void*), &error);
        umockdev_ioctl_data_set_ptr(pointer, 0, urb.urb);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(pointer);
        if (urb.buffer != nullptr) {
            g_object_unref(urb.buffer);
        }
        g_object_unref(urb.urb);
        return TRUE;
    }

    // libusb's time-out path: the pending read is cancelled and handed back.
    gboolean Discard(UMockdevIoctlClient* client, UMockdevIoctlData* argument) {
        const unsigned long address = *reinterpret_cast<unsigned long*>(argument->data);
        std::lock_guard lock(mutex);
        for (auto urb = inFlight.begin(); urb != inFlight.end(); ++urb) {
            if (urb->address == address) {
                urb->Complete(-ENOENT, nullptr, 0);
                reapable.push_back(*urb);
                inFlight.erase(urb);
                umockdev_ioctl_client_complete(client, 0, 0);
                return TRUE;
            }
        }
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return TRUE;
    }

    std::mutex mutex;
    EmulatedDescription description;
    std::deque<std::vector<std::string>> nextReplies;
    std::deque<std::string> packets;
    std::deque<Urb> inFlight;
    std::deque<Urb> reapable;
    std::string received;
    std::vector<std::string> events;
};

// Transfers give up after this long instead of the program's 30 s.
constexpr std::uint32_t kShortTimeoutMs = 200;

class EmulatedUsbTest : public ::testing::Test {
protected:
    void Attach(const EmulatedDescription& description = {}) {
        instrument = std::make_unique<EmulatedInstrument>(description);
        testbed = umockdev_testbed_new();
        GError* error = nullptr;
        ASSERT_TRUE(umockdev_testbed_add_from_string(testbed, SysfsDescription(description).c_str(),
                                                     &error));
        handler = umockdev_ioctl_base_new();
        g_signal_connect(handler, "handle-ioctl", G_CALLBACK(EmulatedInstrument::OnIoctl),
                         instrument.get());
        ASSERT_TRUE(umockdev_testbed_attach_ioctl(testbed, kDeviceNode, handler, &error));
        InstallUsbDriver(CreateLibusbDriver(kShortTimeoutMs));
    }

    void TearDown() override {
        InstallUsbDriver(nullptr);
        if (testbed != nullptr) {
            umockdev_testbed_detach_ioctl(testbed, kDeviceNode, nullptr);
            g_object_unref(handler);
            g_object_unref(testbed);
        }
    }

    std::unique_ptr<EmulatedInstrument> instrument;
    UMockdevTestbed* testbed = nullptr;
    UMockdevIoctlBase* handler = nullptr;
};

bool WriteText(CUsbDevice& usb, const std::string& text) {
    std::uint32_t transferred = 0;
    return usb.WritePacket(reinterpret_cast<const std::uint8_t*>(text.data()),
                           static_cast<std::uint32_t>(text.size()), transferred);
}

TEST_F(EmulatedUsbTest, FindsTheInstrumentByItsProductStringAndCarriesItsIdsAsText) {
    Attach();
    CUsbDevice usb;
    char path[CUsbDevice::kDevicePathCapacity];
    ASSERT_TRUE(usb.FindDevicePath(GUID_DEVINTERFACE_INSTRUMENT, path));
    EXPECT_STREQ(path, "usb:bus=001;ports=1;address=002;vid_0a1b&pid_7c07");
    ASSERT_TRUE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
    EXPECT_EQ(usb.GetVendorId(), "0a1b");
    EXPECT_EQ(usb.GetProductId(), "7c07");
}

struct Unrecognised {
    const char* name;
    EmulatedDescription description;
};

class UnrecognisedDevices : public EmulatedUsbTest,
                            public ::testing::WithParamInterface<Unrecognised> {};

TEST_P(UnrecognisedDevices, AreNotOpened) {
    Attach(GetParam().description);
    CUsbDevice usb;
    EXPECT_FALSE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
    EXPECT_FALSE(usb.IsOpen());
    EXPECT_TRUE(instrument->Events().empty()) << "nothing was claimed";
}

INSTANTIATE_TEST_SUITE_P(
    LibusbDriver, UnrecognisedDevices,
    ::testing::Values(Unrecognised{"OtherProduct", {"Other instrument", kBulkOut, "", false}},
                      Unrecognised{"ProductNameInside", {"Not a QIRO-7", kBulkOut, "", false}},
                      Unrecognised{"NoBulkOut", {"QIRO-7", 0x82, "", false}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(EmulatedUsbTest, QueryTravelsOverTheBulkPipesAndTheInterfaceIsReleased) {
    Attach();
    instrument->ReplyNextRequestWith({"OK\r", "QIRO-7 EMU\r", "END\r"});
    {
        CInstrument link;
        std::string model;
        EXPECT_EQ(link.ReadModel(model), 1);
        EXPECT_EQ(model, "QIRO-7 EMU");
    }
    EXPECT_EQ(instrument->Received(), "WHO\r");
    EXPECT_EQ(instrument->Events(), (std::vector<std::string>{"claim", "release"}));
}

TEST_F(EmulatedUsbTest, ZeroLengthPacketIsASuccessfulEmptyRead) {
    Attach();
    instrument->ReplyNextRequestWith({"", "OK\r"});
    CUsbDevice usb;
    ASSERT_TRUE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
    ASSERT_TRUE(WriteText(usb, "RM\r"));
    std::uint8_t buffer[65];
    std::uint32_t transferred = 99;
    EXPECT_TRUE(usb.ReadPacket(buffer, sizeof(buffer), transferred));
    EXPECT_EQ(transferred, 0u);
    EXPECT_TRUE(usb.ReadPacket(buffer, sizeof(buffer), transferred));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), transferred), "OK\r");
}

TEST_F(EmulatedUsbTest, ReadWithNothingToSendFailsAtTheTimeOut) {
    Attach();
    CUsbDevice usb;
    ASSERT_TRUE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
    std::uint8_t buffer[65];
    std::uint32_t transferred = 99;
    EXPECT_FALSE(usb.ReadPacket(buffer, sizeof(buffer), transferred));
    EXPECT_EQ(transferred, 0u);
    EXPECT_TRUE(usb.IsOpen());
}

TEST_F(EmulatedUsbTest, BoundKernelDriverIsDetachedBeforeTheClaimAndGetsTheInterfaceBack) {
    Attach({"QIRO-7", kBulkOut, "usbhid", false});
    {
        CUsbDevice usb;
        ASSERT_TRUE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
    }
    EXPECT_EQ(instrument->Events(),
              (std::vector<std::string>{"detach usbhid", "claim", "release", "reattach"}));
}

TEST_F(EmulatedUsbTest, RefusedClaimFailsOpenAndGivesTheKernelDriverItsInterfaceBack) {
    Attach({"QIRO-7", kBulkOut, "usbhid", true});
    CUsbDevice usb;
    EXPECT_FALSE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
    usb.Close();
    EXPECT_EQ(instrument->Events(),
              (std::vector<std::string>{"detach usbhid", "claim refused", "reattach"}));
}

}  // namespace

int main(int argc, char** argv) {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr) {
        const std::string value =
            std::string("libumockdev-preload.so.0") +
            (preload != nullptr && *preload != '\0' ? std::string(":") + preload : "");
        setenv("LD_PRELOAD", value.c_str(), 1);
        execv("/proc/self/exe", argv);
        std::perror("execv");
        return 2;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
