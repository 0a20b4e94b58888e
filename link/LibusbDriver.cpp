#include "link/LibusbDriver.h"

#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>

namespace {

constexpr char kProductPrefix[] = "QIRO-7";
constexpr int kInterfaceNumber = 0;
constexpr int kAlternateSetting = 0;

// Owns the libusb context; handles keep it alive until they are gone.
class LibusbContext {
public:
    LibusbContext() {
        if (libusb_init(&context) != LIBUSB_SUCCESS) {
            context = nullptr;
        }
    }
    ~LibusbContext() {
        if (context == nullptr) {
            return;
        }
        if (watching) {
            libusb_hotplug_deregister_callback(context, watch);
        }
        libusb_exit(context);
    }
    LibusbContext(const LibusbContext&) = delete;
    LibusbContext& operator=(const LibusbContext&) = delete;

    libusb_context* get() const { return context; }

    enum class Watch { Unavailable, Started, Running };
    // Starts watching the bus for arrivals and departures on the first call. Changes are noted
    // while some thread handles libusb's events (a wait, or a transfer of any handle).
    Watch WatchBus() {
        const std::lock_guard lock(watchMutex);
        if (watching) {
            return Watch::Running;
        }
        if (context == nullptr || libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) == 0) {
            return Watch::Unavailable;
        }
        const int events = LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
        watching = libusb_hotplug_register_callback(
                       context, static_cast<libusb_hotplug_event>(events), LIBUSB_HOTPLUG_NO_FLAGS,
                       LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                       &LibusbContext::NoteChange, this, &watch) == LIBUSB_SUCCESS;
        return watching ? Watch::Started : Watch::Unavailable;
    }

    // True when the bus changed since the last call that returned true.
    bool TakeChange() { return changed.exchange(false); }

private:
    static int LIBUSB_CALL NoteChange(libusb_context*, libusb_device*, libusb_hotplug_event,
                                      void* self) {
        static_cast<LibusbContext*>(self)->changed = true;
        return 0;  // stay registered
    }

    libusb_context* context = nullptr;
    std::mutex watchMutex;
    bool watching = false;  // guarded by watchMutex
    libusb_hotplug_callback_handle watch = 0;
    std::atomic<bool> changed{false};
};

// Handles libusb's events until the bus changes or `end` passes; false at `end`.
bool HandleEventsUntilChange(LibusbContext& context, std::chrono::steady_clock::time_point end) {
    using namespace std::chrono;
    while (!context.TakeChange()) {
        const auto left = duration_cast<microseconds>(end - steady_clock::now());
        if (left <= microseconds(0)) {
            return false;
        }
        timeval timeout{static_cast<time_t>(left.count() / 1000000),
                        static_cast<suseconds_t>(left.count() % 1000000)};
        libusb_handle_events_timeout_completed(context.get(), &timeout, nullptr);
    }
    return true;
}

// The device list of one enumeration, released with its references.
class DeviceList {
public:
    explicit DeviceList(libusb_context* context) {
        const ssize_t count = context != nullptr ? libusb_get_device_list(context, &devices) : 0;
        size = count > 0 ? static_cast<std::size_t>(count) : 0;
    }
    ~DeviceList() {
        if (devices != nullptr) {
            libusb_free_device_list(devices, 1);
        }
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;

    libusb_device* const* begin() const { return devices; }
    libusb_device* const* end() const { return devices + size; }

private:
    libusb_device** devices = nullptr;
    std::size_t size = 0;
};

struct EndpointInfo {
    std::uint8_t address;
    std::uint8_t attributes;
};

// The endpoints of interface 0 in the given alternate setting of the active configuration.
bool ReadInterfaceEndpoints(libusb_device* device, std::uint8_t alternateSetting,
                            std::vector<EndpointInfo>& endpoints) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS) {
        return false;
    }
    bool found = false;
    for (int i = 0; i < config->bNumInterfaces && !found; ++i) {
        const libusb_interface& interface = config->interface[i];
        for (int a = 0; a < interface.num_altsetting && !found; ++a) {
            const libusb_interface_descriptor& setting = interface.altsetting[a];
            if (setting.bInterfaceNumber != kInterfaceNumber ||
                setting.bAlternateSetting != alternateSetting) {
                continue;
            }
            found = true;
            endpoints.clear();
            for (int e = 0; e < setting.bNumEndpoints; ++e) {
                endpoints.push_back(
                    {setting.endpoint[e].bEndpointAddress, setting.endpoint[e].bmAttributes});
            }
        }
    }
    libusb_free_config_descriptor(config);
    return found;
}

bool HasBulkPair(const std::vector<EndpointInfo>& endpoints) {
    bool in = false;
    bool out = false;
    for (const EndpointInfo& endpoint : endpoints) {
        if ((endpoint.attributes & LIBUSB_TRANSFER_TYPE_MASK) == LIBUSB_TRANSFER_TYPE_BULK) {
            ((endpoint.address & LIBUSB_ENDPOINT_IN) != 0 ? in : out) = true;
        }
    }
    return in && out;
}

bool IsInstrumentProduct(const std::string& product) {
    return product.rfind(kProductPrefix, 0) == 0;
}

// Empty when the device has no product string or it cannot be read.
std::string ProductString(libusb_device_handle* handle, std::uint8_t productIndex) {
    if (productIndex == 0) {
        return {};
    }
    unsigned char product[256] = {};
    const int length =
        libusb_get_string_descriptor_ascii(handle, productIndex, product, sizeof(product) - 1);
    return length > 0 ? std::string(reinterpret_cast<const char*>(product),
                                    static_cast<std::size_t>(length))
                      : std::string();
}

bool ProductStringMatches(libusb_device* device, std::uint8_t productIndex) {
    libusb_device_handle* handle = nullptr;
    if (productIndex == 0 || libusb_open(device, &handle) != LIBUSB_SUCCESS) {
        return false;  // not ours to use (no access), or gone
    }
    const bool matches = IsInstrumentProduct(ProductString(handle, productIndex));
    libusb_close(handle);
    return matches;
}

LibusbDeviceLocation LocationOf(libusb_device* device, const libusb_device_descriptor& descriptor) {
    LibusbDeviceLocation location;
    location.bus = libusb_get_bus_number(device);
    location.address = libusb_get_device_address(device);
    std::uint8_t ports[8] = {};
    const int depth = libusb_get_port_numbers(device, ports, sizeof(ports));
    if (depth > 0) {
        location.ports.assign(ports, ports + depth);
    }
    location.vendorId = descriptor.idVendor;
    location.productId = descriptor.idProduct;
    return location;
}

bool SameDevice(const LibusbDeviceLocation& a, const LibusbDeviceLocation& b) {
    return a.bus == b.bus && a.address == b.address && a.ports == b.ports;
}

// Every device of one enumeration, in its order. A replugged device comes back with a new
// address, so two equal layouts hold the same devices in the same places.
using BusLayout = std::vector<LibusbDeviceLocation>;

BusLayout LayoutOf(const DeviceList& devices) {
    BusLayout layout;
    for (libusb_device* device : devices) {
        libusb_device_descriptor descriptor{};
        libusb_get_device_descriptor(device, &descriptor);
        layout.push_back(LocationOf(device, descriptor));
    }
    return layout;
}

bool SameLayout(const BusLayout& a, const BusLayout& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), &SameDevice);
}

// "1.4": the port numbers from the root hub down.
std::string JoinPorts(const std::vector<std::uint8_t>& ports) {
    std::string text;
    for (const std::uint8_t port : ports) {
        text += (text.empty() ? "" : ".") + std::to_string(port);
    }
    return text;
}

// "bus 001 port 1.4": where the device is plugged in, as people and sysfs count ports.
std::string DescribeLocation(const LibusbDeviceLocation& location) {
    std::string text = "bus ";
    char bus[8];
    std::snprintf(bus, sizeof(bus), "%03u", static_cast<unsigned>(location.bus));
    text += bus;
    return text + (location.ports.empty() ? " root hub" : " port " + JoinPorts(location.ports));
}

// The product string a device that cannot be opened announces to everyone: on Linux its
// sysfs attribute, which the udev rule matches as well. Empty where there is none.
std::string AnnouncedProduct(const LibusbDeviceLocation& location) {
#ifdef __linux__
    const std::string name = std::to_string(location.bus) + "-" + JoinPorts(location.ports);
    std::FILE* file = std::fopen(("/sys/bus/usb/devices/" + name + "/product").c_str(), "r");
    if (file == nullptr) {
        return {};
    }
    char product[256] = {};
    const bool read = std::fgets(product, sizeof(product), file) != nullptr;
    std::fclose(file);
    std::string text = read ? product : "";
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
#else
    (void)location;
    return {};
#endif
}

// Claims interface 0 and releases it again. A kernel driver bound to it counts as available:
// the transport detaches it when it opens the device.
UsbDeviceAccess ProbeClaim(libusb_device_handle* handle) {
    if (libusb_kernel_driver_active(handle, kInterfaceNumber) == 1) {
        return UsbDeviceAccess::Available;
    }
    switch (libusb_claim_interface(handle, kInterfaceNumber)) {
        case LIBUSB_SUCCESS:
            libusb_release_interface(handle, kInterfaceNumber);
            return UsbDeviceAccess::Available;
        case LIBUSB_ERROR_BUSY:
            return UsbDeviceAccess::Busy;
        case LIBUSB_ERROR_ACCESS:
            return UsbDeviceAccess::NoPermission;
        default:
            return UsbDeviceAccess::Unopenable;
    }
}

// The access of a device with the instrument's endpoints; nullopt when it is not one.
std::optional<UsbDeviceAccess> ProbeInstrument(libusb_device* device, std::uint8_t productIndex,
                                               const LibusbDeviceLocation& location) {
    libusb_device_handle* handle = nullptr;
    const int opened = libusb_open(device, &handle);
    if (opened != LIBUSB_SUCCESS) {
        if (!IsInstrumentProduct(AnnouncedProduct(location))) {
            return std::nullopt;
        }
        return opened == LIBUSB_ERROR_ACCESS ? UsbDeviceAccess::NoPermission
                                             : UsbDeviceAccess::Unopenable;
    }
    std::optional<UsbDeviceAccess> access;
    if (IsInstrumentProduct(ProductString(handle, productIndex))) {
        access = ProbeClaim(handle);
    }
    libusb_close(handle);
    return access;
}

class LibusbInterfaceHandle final : public UsbInterfaceHandle {
public:
    LibusbInterfaceHandle(libusb_device_handle* deviceHandle, std::uint32_t timeoutOverride,
                          bool kernelDriverDetached)
        : handle(deviceHandle),
          transferTimeoutOverrideMs(timeoutOverride),
          reattachKernelDriver(kernelDriverDetached) {}
    ~LibusbInterfaceHandle() override {
        libusb_release_interface(handle, kInterfaceNumber);
        if (reattachKernelDriver) {
            libusb_attach_kernel_driver(handle, kInterfaceNumber);
        }
    }
    LibusbInterfaceHandle(const LibusbInterfaceHandle&) = delete;
    LibusbInterfaceHandle& operator=(const LibusbInterfaceHandle&) = delete;

    bool QueryDeviceSpeed(std::uint8_t& speed) override {
        speed = static_cast<std::uint8_t>(libusb_get_device_speed(libusb_get_device(handle)));
        return true;
    }

    bool QueryInterfaceSettings(std::uint8_t alternateSetting,
                                std::uint8_t& endpointCount) override {
        if (!ReadInterfaceEndpoints(libusb_get_device(handle), alternateSetting, endpoints)) {
            return false;
        }
        endpointsSetting = alternateSetting;
        endpointCount = static_cast<std::uint8_t>(endpoints.size());
        return true;
    }

    bool QueryPipe(std::uint8_t alternateSetting, std::uint8_t pipeIndex,
                   UsbPipeInformation& pipe) override {
        if (alternateSetting != endpointsSetting || pipeIndex >= endpoints.size()) {
            return false;
        }
        const EndpointInfo& endpoint = endpoints[pipeIndex];
        // The transfer-type bits use the same numbering as UsbPipeType.
        pipe.pipeType = static_cast<UsbPipeType>(endpoint.attributes & LIBUSB_TRANSFER_TYPE_MASK);
        pipe.pipeId = endpoint.address;
        return true;
    }

    bool SetPipeTransferTimeout(std::uint8_t pipeId, std::uint32_t milliseconds) override {
        pipeTimeoutsMs[pipeId] = milliseconds;
        return true;
    }

    bool ReadPipe(std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t length,
                  std::uint32_t& transferred) override {
        return BulkTransfer(pipeId, buffer, length, transferred);
    }

    bool WritePipe(std::uint8_t pipeId, const std::uint8_t* bytes, std::uint32_t length,
                   std::uint32_t& transferred) override {
        // libusb takes one non-const buffer for both directions; an OUT transfer only reads it.
        return BulkTransfer(pipeId, const_cast<std::uint8_t*>(bytes), length, transferred);
    }

private:
    bool BulkTransfer(std::uint8_t pipeId, std::uint8_t* data, std::uint32_t length,
                      std::uint32_t& transferred) {
        transferred = 0;
        if (length > static_cast<std::uint32_t>(INT_MAX)) {
            return false;
        }
        int actual = 0;
        const int result = libusb_bulk_transfer(handle, pipeId, data, static_cast<int>(length),
                                                &actual, TimeoutFor(pipeId));
        if (result != LIBUSB_SUCCESS) {
            return false;  // time-out or error; bytes that came with a time-out are not reported
        }
        transferred = static_cast<std::uint32_t>(actual);
        return true;
    }

    unsigned int TimeoutFor(std::uint8_t pipeId) const {
        if (transferTimeoutOverrideMs != 0) {
            return transferTimeoutOverrideMs;
        }
        const auto found = pipeTimeoutsMs.find(pipeId);
        return found != pipeTimeoutsMs.end() ? found->second : 0;
    }

    libusb_device_handle* handle;  // owned by the file handle, which outlives this
    std::uint32_t transferTimeoutOverrideMs;
    bool reattachKernelDriver;
    std::vector<EndpointInfo> endpoints;
    int endpointsSetting = -1;
    std::map<std::uint8_t, std::uint32_t> pipeTimeoutsMs;
};

class LibusbFileHandle final : public UsbFileHandle {
public:
    LibusbFileHandle(std::shared_ptr<LibusbContext> owner, libusb_device_handle* deviceHandle,
                     std::uint32_t timeoutOverride)
        : context(std::move(owner)),
          handle(deviceHandle),
          transferTimeoutOverrideMs(timeoutOverride) {}
    ~LibusbFileHandle() override { libusb_close(handle); }
    LibusbFileHandle(const LibusbFileHandle&) = delete;
    LibusbFileHandle& operator=(const LibusbFileHandle&) = delete;

    // A kernel driver bound to the interface is detached for the claim and gets the interface
    // back on release; where the platform cannot tell, the claim alone decides. The claimed
    // interface is put in alternate setting 0; should the device refuse, it is released again.
    std::unique_ptr<UsbInterfaceHandle> InitializeInterface() override {
        const bool detached =
            libusb_kernel_driver_active(handle, kInterfaceNumber) == 1 &&
            libusb_detach_kernel_driver(handle, kInterfaceNumber) == LIBUSB_SUCCESS;
        if (libusb_claim_interface(handle, kInterfaceNumber) != LIBUSB_SUCCESS) {
            if (detached) {
                libusb_attach_kernel_driver(handle, kInterfaceNumber);
            }
            return nullptr;
        }
        auto claimed =
            std::make_unique<LibusbInterfaceHandle>(handle, transferTimeoutOverrideMs, detached);
        if (libusb_set_interface_alt_setting(handle, kInterfaceNumber, kAlternateSetting) !=
            LIBUSB_SUCCESS) {
            return nullptr;  // the handle's destruction releases the claim
        }
        return claimed;
    }

private:
    std::shared_ptr<LibusbContext> context;
    libusb_device_handle* handle;
    std::uint32_t transferTimeoutOverrideMs;
};

class LibusbDriver final : public UsbDriver {
public:
    explicit LibusbDriver(std::uint32_t timeoutOverride)
        : context(std::make_shared<LibusbContext>()), transferTimeoutOverrideMs(timeoutOverride) {}

    // There is no interface GUID under libusb: the product string and the endpoints decide.
    // Reading the product string means opening each candidate, so what a search found is
    // reused for as long as the bus holds the same devices in the same places.
    bool FindDevicePath(const InterfaceGuid&, char* path, std::size_t capacity) override {
        if (capacity == 0) {
            return false;
        }
        path[0] = '\0';
        const DeviceList devices(context->get());
        const BusLayout layout = LayoutOf(devices);
        std::string found = RememberedPath(layout);
        if (found.empty()) {
            found = FirstInstrumentPath(devices);
            Remember(layout, found);
        }
        if (found.empty() || found.size() >= capacity) {
            return false;
        }
        std::memcpy(path, found.c_str(), found.size() + 1);
        return true;
    }

    bool ForgetDevicePath(const char* path) override {
        const std::lock_guard lock(memoryMutex);
        if (!memory.has_value() || path == nullptr || memory->path != path) {
            return false;
        }
        const bool reused = memory->reused;
        memory.reset();
        return reused;
    }

    std::unique_ptr<UsbFileHandle> OpenDevicePath(const char* path) override {
        LibusbDeviceLocation wanted;
        if (path == nullptr || !ParseLibusbDevicePath(path, wanted)) {
            return nullptr;
        }
        const DeviceList devices(context->get());
        for (libusb_device* device : devices) {
            libusb_device_descriptor descriptor;
            if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS ||
                !SameDevice(LocationOf(device, descriptor), wanted)) {
                continue;
            }
            libusb_device_handle* handle = nullptr;
            if (libusb_open(device, &handle) != LIBUSB_SUCCESS) {
                return nullptr;
            }
            return std::make_unique<LibusbFileHandle>(context, handle, transferTimeoutOverrideMs);
        }
        return nullptr;
    }

    // libusb's hotplug events where the platform has them, else the base's slow poll. The first
    // wait starts the watch and answers true at once: changes before it went unseen.
    bool WaitForDeviceChange(std::chrono::milliseconds limit) override {
        const auto end =
            std::chrono::steady_clock::now() + std::max(limit, std::chrono::milliseconds(0));
        switch (context->WatchBus()) {
            case LibusbContext::Watch::Unavailable:
                return UsbDriver::WaitForDeviceChange(limit);
            case LibusbContext::Watch::Started:
                return true;
            case LibusbContext::Watch::Running:
                break;
        }
        return HandleEventsUntilChange(*context, end);
    }

    std::vector<UsbDeviceListing> ListDevices(const InterfaceGuid&) override {
        std::vector<UsbDeviceListing> listings;
        const DeviceList devices(context->get());
        for (libusb_device* device : devices) {
            libusb_device_descriptor descriptor;
            std::vector<EndpointInfo> endpoints;
            if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS ||
                !ReadInterfaceEndpoints(device, kAlternateSetting, endpoints) ||
                !HasBulkPair(endpoints)) {
                continue;
            }
            const LibusbDeviceLocation location = LocationOf(device, descriptor);
            if (const auto access = ProbeInstrument(device, descriptor.iProduct, location)) {
                listings.push_back(
                    {FormatLibusbDevicePath(location), DescribeLocation(location), *access});
            }
        }
        return listings;
    }

private:
    // The search itself; empty when no instrument is present.
    static std::string FirstInstrumentPath(const DeviceList& devices) {
        for (libusb_device* device : devices) {
            libusb_device_descriptor descriptor;
            if (libusb_get_device_descriptor(device, &descriptor) == LIBUSB_SUCCESS &&
                IsInstrument(device, descriptor)) {
                return FormatLibusbDevicePath(LocationOf(device, descriptor));
            }
        }
        return {};
    }

    static bool IsInstrument(libusb_device* device, const libusb_device_descriptor& descriptor) {
        std::vector<EndpointInfo> endpoints;
        return ReadInterfaceEndpoints(device, kAlternateSetting, endpoints) &&
               HasBulkPair(endpoints) && ProductStringMatches(device, descriptor.iProduct);
    }

    // Empty unless the last search was made on this very layout.
    std::string RememberedPath(const BusLayout& layout) {
        const std::lock_guard lock(memoryMutex);
        if (!memory.has_value() || !SameLayout(memory->layout, layout)) {
            return {};
        }
        memory->reused = true;
        return memory->path;
    }

    // A search that found nothing is not kept: a device may become ours to open at any time.
    void Remember(const BusLayout& layout, const std::string& path) {
        const std::lock_guard lock(memoryMutex);
        if (path.empty()) {
            memory.reset();
        } else {
            memory = Search{layout, path, false};
        }
    }

    struct Search {
        BusLayout layout;
        std::string path;
        bool reused;  // handed out since, without a search
    };

    std::shared_ptr<LibusbContext> context;
    std::uint32_t transferTimeoutOverrideMs;
    std::mutex memoryMutex;
    std::optional<Search> memory;
};

// Reads the decimal number that follows key in path, up to the next ';' (or the end).
bool ReadField(std::string_view path, std::string_view key, std::string_view& value) {
    const std::size_t at = path.find(key);
    if (at == std::string_view::npos) {
        return false;
    }
    value = path.substr(at + key.size());
    value = value.substr(0, value.find(';'));
    return true;
}

bool ParseByte(std::string_view text, std::uint8_t& value) {
    unsigned int number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() || number > 255) {
        return false;
    }
    value = static_cast<std::uint8_t>(number);
    return true;
}

bool ParsePorts(std::string_view text, std::vector<std::uint8_t>& ports) {
    ports.clear();
    while (!text.empty()) {
        const std::size_t dot = text.find('.');
        std::uint8_t port = 0;
        if (!ParseByte(text.substr(0, dot), port)) {
            return false;
        }
        ports.push_back(port);
        text = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    }
    return true;
}

}  // namespace

std::string FormatLibusbDevicePath(const LibusbDeviceLocation& location) {
    const std::string ports = JoinPorts(location.ports);
    char text[128];
    std::snprintf(text, sizeof(text), "usb:bus=%03u;ports=%s;address=%03u;vid_%04x&pid_%04x",
                  static_cast<unsigned>(location.bus), ports.c_str(),
                  static_cast<unsigned>(location.address), static_cast<unsigned>(location.vendorId),
                  static_cast<unsigned>(location.productId));
    return text;
}

bool ParseLibusbDevicePath(const std::string& path, LibusbDeviceLocation& location) {
    std::string_view bus;
    std::string_view ports;
    std::string_view address;
    if (path.rfind("usb:", 0) != 0 || !ReadField(path, "bus=", bus) ||
        !ReadField(path, "ports=", ports) || !ReadField(path, "address=", address)) {
        return false;
    }
    return ParseByte(bus, location.bus) && ParsePorts(ports, location.ports) &&
           ParseByte(address, location.address);
}

std::shared_ptr<UsbDriver> CreateLibusbDriver(std::uint32_t transferTimeoutOverrideMs) {
    return std::make_shared<LibusbDriver>(transferTimeoutOverrideMs);
}

std::shared_ptr<UsbDriver> CreatePlatformUsbDriver() {
    return std::make_shared<LibusbDriver>(0);
}
