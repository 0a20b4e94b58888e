#include "tests/usb/EmulatedInstrument.h"

#include <dlfcn.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string_view>

namespace {

constexpr char kPreloadLibrary[] = "libumockdev-preload.so.0";
// Set before re-executing, so a missing library cannot make the program exec itself forever.
constexpr char kReexecMarker[] = "QIRO7_UMOCKDEV_REEXEC";

constexpr std::uint8_t kGetDescriptor = 6;
constexpr std::uint8_t kDeviceDescriptorType = 1;
constexpr std::uint8_t kConfigDescriptorType = 2;
constexpr std::uint8_t kStringDescriptorType = 3;
constexpr std::uint8_t kProductStringIndex = 2;
constexpr std::size_t kSetupPacketSize = 8;

std::uint8_t Low(std::uint16_t value) {
    return static_cast<std::uint8_t>(value & 0xff);
}

std::uint8_t High(std::uint16_t value) {
    return static_cast<std::uint8_t>(value >> 8);
}

struct EndpointDescription {
    std::uint8_t address;
    std::uint8_t attributes;  // transfer type in bits 0-1
    std::uint16_t maxPacketSize;
    std::uint8_t interval;
};

std::vector<EndpointDescription> EndpointsOf(EndpointLayout layout) {
    const EndpointDescription bulkIn{EmulatedInstrument::kBulkIn, 2, 64, 0};
    const EndpointDescription bulkOut{EmulatedInstrument::kBulkOut, 2, 64, 0};
    switch (layout) {
        case EndpointLayout::BulkPair:
            break;
        case EndpointLayout::BulkPairAndInterrupt:
            return {bulkIn, bulkOut, {EmulatedInstrument::kExtraEndpoint, 3, 8, 10}};
        case EndpointLayout::BulkPairAndIsochronous:
            return {bulkIn, bulkOut, {EmulatedInstrument::kExtraEndpoint, 1, 64, 1}};
        case EndpointLayout::NoBulkOut:
            return {bulkIn, {0x82, 2, 64, 0}};
    }
    return {bulkIn, bulkOut};
}

void AppendWord(std::vector<std::uint8_t>& bytes, std::uint16_t value) {
    bytes.insert(bytes.end(), {Low(value), High(value)});
}

// USB 2.0, class per interface, 64-byte control endpoint; strings 1 to 3; one configuration.
std::vector<std::uint8_t> DeviceDescriptor(const EmulatedDeviceOptions& options) {
    std::vector<std::uint8_t> bytes = {18, 1, 0x00, 0x02, 0, 0, 0, 64};
    AppendWord(bytes, options.vendorId);
    AppendWord(bytes, options.productId);
    bytes.insert(bytes.end(), {0x00, 0x01, 1, kProductStringIndex, 3, 1});
    return bytes;
}

// One configuration with one vendor-specific interface 0.
std::vector<std::uint8_t> ConfigDescriptor(const EmulatedDeviceOptions& options) {
    const std::vector<EndpointDescription> endpoints = EndpointsOf(options.endpoints);
    const auto endpointCount = static_cast<std::uint8_t>(endpoints.size());
    std::vector<std::uint8_t> bytes = {9, 2};
    AppendWord(bytes, static_cast<std::uint16_t>(9 + 9 + 7 * endpointCount));
    bytes.insert(bytes.end(), {1, 1, 0, 0x80, 50});
    bytes.insert(bytes.end(), {9, 4, 0, 0, endpointCount, 0xff, 0, 0, 0});
    for (const EndpointDescription& endpoint : endpoints) {
        bytes.insert(bytes.end(), {7, 5, endpoint.address, endpoint.attributes});
        AppendWord(bytes, endpoint.maxPacketSize);
        bytes.push_back(endpoint.interval);
    }
    return bytes;
}

// Index 0 is the language list (US English); 1 maker, 2 product, 3 serial number.
std::vector<std::uint8_t> StringDescriptor(const EmulatedDeviceOptions& options,
                                           std::uint8_t index) {
    if (index == 0) {
        return {4, 3, 0x09, 0x04};
    }
    const std::string text = index == 1                     ? "Emulated maker"
                             : index == kProductStringIndex ? options.product
                                                            : "0001";
    std::vector<std::uint8_t> bytes = {0, 3};
    for (const char c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(0);
    }
    bytes[0] = static_cast<std::uint8_t>(bytes.size());
    return bytes;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char digits[3];
    for (const std::uint8_t byte : bytes) {
        std::snprintf(digits, sizeof(digits), "%02X", byte);
        text += digits;
    }
    return text;
}

std::string DeviceNodeOf(std::uint8_t address) {
    char node[32];
    std::snprintf(node, sizeof(node), "/dev/bus/usb/001/%03u", static_cast<unsigned>(address));
    return node;
}

std::string SyspathOf(std::uint8_t port) {
    return "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(port);
}

// What libusb reads from sysfs and udev: the device at its port and its descriptors.
std::string SysfsDescription(const EmulatedDeviceOptions& options, std::uint8_t port,
                             std::uint8_t address) {
    std::vector<std::uint8_t> descriptors = DeviceDescriptor(options);
    const std::vector<std::uint8_t> config = ConfigDescriptor(options);
    descriptors.insert(descriptors.end(), config.begin(), config.end());
    const std::string hex = Hex(descriptors);
    const std::string node = DeviceNodeOf(address);
    const std::string number = std::to_string(address);
    const std::vector<std::string> lines = {
        "P: " + SyspathOf(port).substr(std::strlen("/sys")),
        "N: " + node.substr(std::strlen("/dev/")) + "=" + hex,
        "E: DEVNAME=" + node,
        "E: DEVTYPE=usb_device",
        "E: SUBSYSTEM=usb",
        "E: BUSNUM=001",
        "E: DEVNUM=" + node.substr(node.size() - 3),
        "E: MAJOR=189",
        "E: MINOR=" + number,
        "A: busnum=1\\n",
        "A: devnum=" + number + "\\n",
        "A: speed=480\\n",
        "A: bConfigurationValue=1\\n",
        "A: product=" + options.product + "\\n",
        "A: dev=189:" + number + "\\n",
        "H: descriptors=" + hex,
    };
    std::string description;
    for (const std::string& line : lines) {
        description += line + "\n";
    }
    return description;
}

// One usbfs request block of a client process, resolved into this process.
struct Urb {
    UMockdevIoctlClient* client = nullptr;  // identity only, never dereferenced
    UMockdevIoctlData* block = nullptr;     // struct usbdevfs_urb
    UMockdevIoctlData* buffer = nullptr;    // its data buffer, null when it has none
    unsigned long clientAddress = 0;

    usbdevfs_urb* get() const { return reinterpret_cast<usbdevfs_urb*>(block->data); }
    std::size_t BufferLength() const {
        return buffer != nullptr ? static_cast<std::size_t>(get()->buffer_length) : 0;
    }
    // Copies at most the buffer's room after offset; the length excludes the offset.
    void Complete(int status, std::string_view bytes = {}, std::size_t offset = 0) {
        const std::size_t room = BufferLength() > offset ? BufferLength() - offset : 0;
        const std::size_t length = std::min(bytes.size(), room);
        if (length > 0) {
            std::memcpy(buffer->data + offset, bytes.data(), length);
        }
        get()->status = status;
        get()->actual_length = static_cast<int>(length);
    }
    void Release() {
        if (buffer != nullptr) {
            g_object_unref(buffer);
        }
        g_object_unref(block);
    }
};

// A copy of the structure the client's ioctl argument points at; false when it cannot be read.
template <typename Argument>
bool ReadArgument(UMockdevIoctlData* argument, Argument& value) {
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(argument, 0, sizeof(Argument), nullptr);
    if (data == nullptr) {
        return false;
    }
    std::memcpy(&value, data->data, sizeof(Argument));
    g_object_unref(data);
    return true;
}

std::string_view AsText(const std::vector<std::uint8_t>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

// The mutable members are guarded by `mutex`; `base` is touched by the test thread only.
struct EmulatedInstrument::Handler {
    explicit Handler(const EmulatedDeviceOptions& deviceOptions)
        : options(deviceOptions),
          boundKernelDriver(deviceOptions.boundKernelDriver),
          firmware(deviceOptions.clock),
          base(umockdev_ioctl_base_new()) {
        g_signal_connect(base, "handle-ioctl", G_CALLBACK(&Handler::OnIoctl), this);
        g_signal_connect(base, "client-connected", G_CALLBACK(&Handler::OnClientConnected), this);
        g_signal_connect(base, "client-vanished", G_CALLBACK(&Handler::OnClientVanished), this);
    }
    ~Handler() {
        g_object_unref(base);
        for (Urb& urb : inFlight) {
            urb.Release();
        }
        for (Urb& urb : reapable) {
            urb.Release();
        }
    }
    Handler(const Handler&) = delete;
    Handler& operator=(const Handler&) = delete;

    static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        return static_cast<Handler*>(self)->Handle(client);
    }
    // Each open of the device node is a client of its own.
    static void OnClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer self) {
        auto* handler = static_cast<Handler*>(self);
        const std::lock_guard lock(handler->mutex);
        ++handler->opens;
    }
    static void OnClientVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        static_cast<Handler*>(self)->Forget(client);
    }

    gboolean Handle(UMockdevIoctlClient* client);
    gboolean Done(UMockdevIoctlClient* client, int error = 0);
    gboolean Capabilities(UMockdevIoctlClient* client, UMockdevIoctlData* argument);
    gboolean Claim(UMockdevIoctlClient* client);
    gboolean SetInterface(UMockdevIoctlClient* client, UMockdevIoctlData* argument);
    gboolean GetDriver(UMockdevIoctlClient* client, UMockdevIoctlData* argument);
    gboolean DriverIoctl(UMockdevIoctlClient* client, UMockdevIoctlData* argument);
    gboolean Submit(UMockdevIoctlClient* client, UMockdevIoctlData* argument);
    gboolean Reap(UMockdevIoctlClient* client, UMockdevIoctlData* argument);
    gboolean Discard(UMockdevIoctlClient* client, UMockdevIoctlData* argument);
    void Forget(UMockdevIoctlClient* client);

    // With the mutex held.
    void AnswerControl(Urb& urb);
    void ReceiveBulkOut(Urb& urb);
    void DeliverPackets();

    std::mutex mutex;
    const EmulatedDeviceOptions options;
    std::string boundKernelDriver;
    SimulatedInstrument firmware;
    std::deque<Urb> inFlight;  // bulk IN reads waiting for a packet, oldest first
    std::deque<Urb> reapable;  // completed, for their clients to reap
    std::vector<std::string> events;
    std::size_t discarded = 0;
    std::size_t opens = 0;
    std::size_t productStringReads = 0;
    // Off the bus: as the kernel does for a device that was pulled out, every request on a node
    // still open fails with ENODEV.
    bool gone = false;
    UMockdevIoctlBase* base;
};

gboolean EmulatedInstrument::Handler::Handle(UMockdevIoctlClient* client) {
    {
        const std::lock_guard lock(mutex);
        if (gone) {
            return Done(client, ENODEV);
        }
    }
    UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
    switch (umockdev_ioctl_client_get_request(client)) {
        case USBDEVFS_GET_CAPABILITIES:
            return Capabilities(client, argument);
        case USBDEVFS_GETDRIVER:
            return GetDriver(client, argument);
        case USBDEVFS_IOCTL:
            return DriverIoctl(client, argument);
        case USBDEVFS_CLAIMINTERFACE:
            return Claim(client);
        case USBDEVFS_RELEASEINTERFACE: {
            const std::lock_guard lock(mutex);
            events.push_back("release");
            return Done(client);
        }
        case USBDEVFS_SETINTERFACE:
            return SetInterface(client, argument);
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESET:
        case USBDEVFS_RESETEP:
        case USBDEVFS_SETCONFIGURATION:
            return Done(client);
        case USBDEVFS_SUBMITURB:
            return Submit(client, argument);
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            return Reap(client, argument);
        case USBDEVFS_DISCARDURB:
            return Discard(client, argument);
        default:
            return Done(client, ENOTTY);
    }
}

gboolean EmulatedInstrument::Handler::Done(UMockdevIoctlClient* client, int error) {
    umockdev_ioctl_client_complete(client, error == 0 ? 0 : -1, error);
    return TRUE;
}

gboolean EmulatedInstrument::Handler::Capabilities(UMockdevIoctlClient* client,
                                                   UMockdevIoctlData* argument) {
    UMockdevIoctlData* data =
        umockdev_ioctl_data_resolve(argument, 0, sizeof(std::uint32_t), nullptr);
    if (data == nullptr) {
        return Done(client, EFAULT);
    }
    *reinterpret_cast<std::uint32_t*>(data->data) =
        USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_ZERO_PACKET;
    g_object_unref(data);
    return Done(client);
}

gboolean EmulatedInstrument::Handler::Claim(UMockdevIoctlClient* client) {
    const std::lock_guard lock(mutex);
    events.push_back(options.claimRefused ? "claim refused" : "claim");
    return Done(client, options.claimRefused ? EBUSY : 0);
}

// A refused request is stalled, as a device that refuses it would.
gboolean EmulatedInstrument::Handler::SetInterface(UMockdevIoctlClient* client,
                                                   UMockdevIoctlData* argument) {
    usbdevfs_setinterface request{};
    if (!ReadArgument(argument, request)) {
        return Done(client, EFAULT);
    }
    std::string event = "alternate setting " + std::to_string(request.altsetting);
    if (request.interface != 0) {
        event += " of interface " + std::to_string(request.interface);
    }
    const std::lock_guard lock(mutex);
    events.push_back(options.alternateSettingRefused ? event + " refused" : event);
    return Done(client, options.alternateSettingRefused ? EPIPE : 0);
}

gboolean EmulatedInstrument::Handler::GetDriver(UMockdevIoctlClient* client,
                                                UMockdevIoctlData* argument) {
    const std::lock_guard lock(mutex);
    if (boundKernelDriver.empty()) {
        return Done(client, ENODATA);
    }
    UMockdevIoctlData* data =
        umockdev_ioctl_data_resolve(argument, 0, sizeof(usbdevfs_getdriver), nullptr);
    if (data == nullptr) {
        return Done(client, EFAULT);
    }
    auto* getDriver = reinterpret_cast<usbdevfs_getdriver*>(data->data);
    std::snprintf(getDriver->driver, sizeof(getDriver->driver), "%s", boundKernelDriver.c_str());
    g_object_unref(data);
    return Done(client);
}

// Disconnects a bound kernel driver from the interface, or connects it again.
gboolean EmulatedInstrument::Handler::DriverIoctl(UMockdevIoctlClient* client,
                                                  UMockdevIoctlData* argument) {
    usbdevfs_ioctl request{};
    if (!ReadArgument(argument, request)) {
        return Done(client, EFAULT);
    }
    const int code = request.ioctl_code;
    const std::lock_guard lock(mutex);
    if (code == static_cast<int>(USBDEVFS_DISCONNECT) && !boundKernelDriver.empty()) {
        events.push_back("detach " + boundKernelDriver);
        boundKernelDriver.clear();
        return Done(client);
    }
    if (code == static_cast<int>(USBDEVFS_CONNECT)) {
        events.push_back("reattach");
        return Done(client);
    }
    return Done(client, ENODATA);
}

gboolean EmulatedInstrument::Handler::Submit(UMockdevIoctlClient* client,
                                             UMockdevIoctlData* argument) {
    Urb urb;
    urb.client = client;
    urb.clientAddress = *reinterpret_cast<unsigned long*>(argument->data);
    urb.block = umockdev_ioctl_data_resolve(argument, 0, sizeof(usbdevfs_urb), nullptr);
    if (urb.block == nullptr) {
        return Done(client, EFAULT);
    }
    if (urb.get()->buffer_length > 0) {
        urb.buffer =
            umockdev_ioctl_data_resolve(urb.block, offsetof(usbdevfs_urb, buffer),
                                        static_cast<gsize>(urb.get()->buffer_length), nullptr);
    }
    const std::lock_guard lock(mutex);
    const unsigned char type = urb.get()->type;
    const unsigned char endpoint = urb.get()->endpoint;
    if (type == USBDEVFS_URB_TYPE_CONTROL) {
        AnswerControl(urb);
        reapable.push_back(urb);
    } else if (type == USBDEVFS_URB_TYPE_BULK && endpoint == kBulkOut) {
        ReceiveBulkOut(urb);
        reapable.push_back(urb);
    } else if (type == USBDEVFS_URB_TYPE_BULK && endpoint == kBulkIn) {
        inFlight.push_back(urb);
        DeliverPackets();
    } else {
        urb.Complete(-EPIPE);  // the program never uses any other pipe
        reapable.push_back(urb);
    }
    return Done(client);
}

// Answers GET_DESCRIPTOR for the device, its configuration and its strings; stalls the rest.
void EmulatedInstrument::Handler::AnswerControl(Urb& urb) {
    if (urb.BufferLength() < kSetupPacketSize) {
        urb.Complete(-EPIPE);
        return;
    }
    const std::uint8_t* setup = urb.buffer->data;
    const std::uint8_t type = setup[3];
    const std::uint8_t index = setup[2];
    const std::size_t wanted = setup[6] | setup[7] << 8;
    std::vector<std::uint8_t> reply;
    if (setup[0] != 0x80 || setup[1] != kGetDescriptor) {
        urb.Complete(-EPIPE);
        return;
    }
    if (type == kDeviceDescriptorType) {
        reply = DeviceDescriptor(options);
    } else if (type == kConfigDescriptorType) {
        reply = ConfigDescriptor(options);
    } else if (type == kStringDescriptorType && index <= 3) {
        reply = StringDescriptor(options, index);
        productStringReads += index == kProductStringIndex ? 1 : 0;
    } else {
        urb.Complete(-EPIPE);
        return;
    }
    reply.resize(std::min(reply.size(), wanted));
    urb.Complete(0, AsText(reply), kSetupPacketSize);
}

void EmulatedInstrument::Handler::ReceiveBulkOut(Urb& urb) {
    const std::size_t length = urb.BufferLength();
    if (length > 0) {
        firmware.ReceiveBytes(
            std::string_view(reinterpret_cast<const char*>(urb.buffer->data), length));
    }
    urb.Complete(0);
    urb.get()->actual_length = static_cast<int>(length);
    // A request may make a packet due for a read that is already waiting.
    DeliverPackets();
}

// Hands the firmware's packets to the waiting reads, oldest first; a read the firmware has
// nothing for keeps waiting (as do the ones behind it).
void EmulatedInstrument::Handler::DeliverPackets() {
    while (!inFlight.empty()) {
        Urb& urb = inFlight.front();
        const std::optional<std::string> packet =
            firmware.NextPacket(std::min(urb.BufferLength(), SimulatedInstrument::kPacketSize));
        if (!packet.has_value()) {
            return;
        }
        urb.Complete(0, *packet);
        reapable.push_back(urb);
        inFlight.pop_front();
    }
}

// libusb polls this without delay while a transfer is pending: each poll gives the firmware
// a chance to answer a waiting read (a stream line that fell due, say).
gboolean EmulatedInstrument::Handler::Reap(UMockdevIoctlClient* client,
                                           UMockdevIoctlData* argument) {
    std::unique_lock lock(mutex);
    DeliverPackets();
    const auto own = std::find_if(reapable.begin(), reapable.end(),
                                  [client](const Urb& urb) { return urb.client == client; });
    if (own == reapable.end()) {
        return Done(client, EAGAIN);
    }
    Urb urb = *own;
    reapable.erase(own);
    lock.unlock();
    // The argument is the client's "void *"; it is pointed at the client's own block, and
    // completing the ioctl copies the block and its buffer back to the client.
    UMockdevIoctlData* pointer = umockdev_ioctl_data_resolve(argument, 0, sizeof(void*), nullptr);
    if (pointer == nullptr) {
        urb.Release();
        return Done(client, EFAULT);
    }
    umockdev_ioctl_data_set_ptr(pointer, 0, urb.block);
    Done(client);
    g_object_unref(pointer);
    urb.Release();
    return TRUE;
}

// libusb's time-out: the waiting read is cancelled and handed back for reaping.
gboolean EmulatedInstrument::Handler::Discard(UMockdevIoctlClient* client,
                                              UMockdevIoctlData* argument) {
    const unsigned long address = *reinterpret_cast<unsigned long*>(argument->data);
    const std::lock_guard lock(mutex);
    const auto found = std::find_if(inFlight.begin(), inFlight.end(), [&](const Urb& urb) {
        return urb.client == client && urb.clientAddress == address;
    });
    if (found == inFlight.end()) {
        return Done(client, EINVAL);
    }
    found->Complete(-ENOENT);
    reapable.push_back(*found);
    inFlight.erase(found);
    ++discarded;
    return Done(client);
}

// A client process closed the device or died: its blocks can no longer be reaped.
void EmulatedInstrument::Handler::Forget(UMockdevIoctlClient* client) {
    const std::lock_guard lock(mutex);
    for (std::deque<Urb>* queue : {&inFlight, &reapable}) {
        const auto kept =
            std::stable_partition(queue->begin(), queue->end(),
                                  [client](const Urb& urb) { return urb.client != client; });
        for (auto urb = kept; urb != queue->end(); ++urb) {
            urb->Release();
        }
        queue->erase(kept, queue->end());
    }
}

// --- EmulatedInstrument -------------------------------------------------------------------

EmulatedInstrument::EmulatedInstrument(const EmulatedDeviceOptions& options, std::uint8_t busPort,
                                       std::uint8_t deviceAddress)
    : port(busPort), address(deviceAddress), handler(std::make_unique<Handler>(options)) {}

EmulatedInstrument::~EmulatedInstrument() = default;

EmulatedInstrument::LockedFirmware EmulatedInstrument::Firmware() {
    return LockedFirmware(handler->mutex, handler->firmware);
}

std::vector<std::string> EmulatedInstrument::RequestLog() {
    const std::lock_guard lock(handler->mutex);
    return handler->firmware.RequestLog();
}

std::vector<std::string> EmulatedInstrument::InterfaceEvents() {
    const std::lock_guard lock(handler->mutex);
    return handler->events;
}

std::size_t EmulatedInstrument::PendingReads() {
    const std::lock_guard lock(handler->mutex);
    return handler->inFlight.size();
}

std::size_t EmulatedInstrument::DiscardedReads() {
    const std::lock_guard lock(handler->mutex);
    return handler->discarded;
}

std::size_t EmulatedInstrument::Opens() {
    const std::lock_guard lock(handler->mutex);
    return handler->opens;
}

std::size_t EmulatedInstrument::ProductStringReads() {
    const std::lock_guard lock(handler->mutex);
    return handler->productStringReads;
}

std::string EmulatedInstrument::DeviceNode() const {
    return DeviceNodeOf(address);
}

// --- EmulatedUsbBus -----------------------------------------------------------------------

struct EmulatedUsbBus::Testbed {
    UMockdevTestbed* bed = umockdev_testbed_new();
};

EmulatedUsbBus::EmulatedUsbBus() : testbed(std::make_unique<Testbed>()) {}

EmulatedUsbBus::~EmulatedUsbBus() {
    for (const auto& device : devices) {
        umockdev_testbed_detach_ioctl(testbed->bed, device->DeviceNode().c_str(), nullptr);
    }
    devices.clear();
    g_object_unref(testbed->bed);
}

EmulatedInstrument* EmulatedUsbBus::Attach(const EmulatedDeviceOptions& options) {
    return Plug(options, nextPort++);
}

void EmulatedUsbBus::Unplug(EmulatedInstrument& device) {
    if (device.plugged) {
        umockdev_testbed_uevent(testbed->bed, SyspathOf(device.port).c_str(), "remove");
        Vanish(device);
    }
}

void EmulatedUsbBus::Vanish(EmulatedInstrument& device) {
    if (!device.plugged) {
        return;
    }
    // The handler stays attached, answering ENODEV: detached, a request a program is waiting on
    // at that moment would never be answered, and the program would hang where the kernel's
    // would fail.
    {
        const std::lock_guard lock(device.handler->mutex);
        device.handler->gone = true;
    }
    umockdev_testbed_remove_device(testbed->bed, SyspathOf(device.port).c_str());
    device.plugged = false;
}

EmulatedInstrument* EmulatedUsbBus::Replug(EmulatedInstrument& device,
                                           const EmulatedDeviceOptions& options) {
    Unplug(device);
    return Plug(options, device.port);
}

EmulatedInstrument* EmulatedUsbBus::Plug(const EmulatedDeviceOptions& options, std::uint8_t port) {
    const std::uint8_t address = nextAddress++;
    std::unique_ptr<EmulatedInstrument> device(new EmulatedInstrument(options, port, address));
    GError* error = nullptr;
    // The node answers before the device is announced: a program that opens it the moment it
    // appears must find someone there.
    const bool attached =
        umockdev_testbed_attach_ioctl(testbed->bed, device->DeviceNode().c_str(),
                                      device->handler->base, &error) &&
        umockdev_testbed_add_from_string(
            testbed->bed, SysfsDescription(options, port, address).c_str(), &error);
    if (!attached) {
        lastError = error != nullptr ? error->message : "umockdev refused the device";
        if (error != nullptr) {
            g_error_free(error);
        }
        return nullptr;
    }
    devices.push_back(std::move(device));
    return devices.back().get();
}

// --- the preload --------------------------------------------------------------------------

bool UmockdevPreloadActive() {
    void* library = dlopen(kPreloadLibrary, RTLD_LAZY | RTLD_NOLOAD);
    if (library == nullptr) {
        return false;
    }
    dlclose(library);
    return true;
}

std::vector<std::string> LinkCycleEvents(std::size_t count) {
    std::vector<std::string> events;
    for (std::size_t cycle = 0; cycle < count; ++cycle) {
        events.insert(events.end(), {"claim", "alternate setting 0", "release"});
    }
    return events;
}

void EnsureUmockdevPreload(char** argv) {
    // A sanitizer runtime that is not loaded first refuses to start unless told otherwise.
    const char* sanitizerOptions = std::getenv("ASAN_OPTIONS");
    std::string options = sanitizerOptions != nullptr ? sanitizerOptions : "";
    if (options.find("verify_asan_link_order") == std::string::npos) {
        options += options.empty() ? "" : ":";
        options += "verify_asan_link_order=0";
        setenv("ASAN_OPTIONS", options.c_str(), 1);
    }
    if (UmockdevPreloadActive() || std::getenv(kReexecMarker) != nullptr) {
        return;
    }
    const char* preload = std::getenv("LD_PRELOAD");
    const std::string previous = preload != nullptr ? preload : "";
    const std::string value = kPreloadLibrary + (previous.empty() ? "" : ":" + previous);
    setenv("LD_PRELOAD", value.c_str(), 1);
    setenv(kReexecMarker, "1", 1);
    execv("/proc/self/exe", argv);
    std::perror("re-executing under the umockdev preload");
    if (previous.empty()) {
        unsetenv("LD_PRELOAD");
    } else {
        setenv("LD_PRELOAD", previous.c_str(), 1);
    }
}
