// The USB driver layer under CUsbDevice: the few operations the transport needs from the
// platform's generic USB driver. Implementations: libusb-1.0 (Linux, macOS), WinUSB (Windows)
// and the simulated instrument (tests, demo). No platform type crosses this boundary.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Device interface class GUID, laid out like the Windows GUID structure.
struct InterfaceGuid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
};

// {6E1FEB40-485F-4D00-B20D-DA63B8637B45}
inline constexpr InterfaceGuid GUID_DEVINTERFACE_INSTRUMENT = {
    0x6E1FEB40, 0x485F, 0x4D00, {0xB2, 0x0D, 0xDA, 0x63, 0xB8, 0x63, 0x7B, 0x45}};

// Pipe types numbered as USB endpoint descriptors number them (and WinUSB's USBD_PIPE_TYPE).
enum class UsbPipeType : std::uint8_t { Control = 0, Isochronous = 1, Bulk = 2, Interrupt = 3 };

struct UsbPipeInformation {
    UsbPipeType pipeType = UsbPipeType::Control;
    std::uint8_t pipeId = 0;  // endpoint address; bit 0x80 set for IN
};

// Interface 0 of an opened device (the WinUSB handle; on libusb the claimed interface).
// Destruction releases the interface. Used by one thread at a time.
class UsbInterfaceHandle {
public:
    virtual ~UsbInterfaceHandle() = default;

    virtual bool QueryDeviceSpeed(std::uint8_t& speed) = 0;
    virtual bool QueryInterfaceSettings(std::uint8_t alternateSetting,
                                        std::uint8_t& endpointCount) = 0;
    virtual bool QueryPipe(std::uint8_t alternateSetting, std::uint8_t pipeIndex,
                           UsbPipeInformation& pipe) = 0;
    virtual bool SetPipeTransferTimeout(std::uint8_t pipeId, std::uint32_t milliseconds) = 0;

    // One synchronous bulk transfer. A zero-length packet is a successful read of 0 bytes;
    // a time-out is a failure (bytes that came with it are not reported).
    virtual bool ReadPipe(std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t length,
                          std::uint32_t& transferred) = 0;
    virtual bool WritePipe(std::uint8_t pipeId, const std::uint8_t* bytes, std::uint32_t length,
                           std::uint32_t& transferred) = 0;
};

// An opened device path (the device file handle). Destruction closes it; an interface handle
// made from it must be destroyed first.
class UsbFileHandle {
public:
    virtual ~UsbFileHandle() = default;

    // Null on failure.
    virtual std::unique_ptr<UsbInterfaceHandle> InitializeInterface() = 0;
};

// Whether a device taken for an instrument can be used by this program now.
enum class UsbDeviceAccess {
    Available,     // it opens and its interface 0 can be claimed
    NoPermission,  // the system does not let this user open it
    Busy,          // another program holds its interface 0
    Unopenable,    // it cannot be opened for another reason (gone, failing)
};

struct UsbDeviceListing {
    std::string path;      // what FindDevicePath would hand out for it; OpenDevicePath takes it
    std::string location;  // where it is attached, for people to read
    UsbDeviceAccess access = UsbDeviceAccess::Available;
};

class UsbDriver {
public:
    virtual ~UsbDriver() = default;

    // Writes the path of the first present instrument, NUL-terminated, into path[0..capacity).
    // Fails when there is none or when the path does not fit (truncation is failure).
    // Paths carry "vid_xxxx" and "pid_xxxx" in lower-case hex where the platform knows them.
    // A driver may answer from an earlier search while the devices present are unchanged.
    virtual bool FindDevicePath(const InterfaceGuid& guid, char* path, std::size_t capacity) = 0;

    // Null on failure.
    virtual std::unique_ptr<UsbFileHandle> OpenDevicePath(const char* path) = 0;

    // Called when a path FindDevicePath gave could not be opened. True when that path was an
    // earlier search's answer, which the driver now drops: a search made now may find another.
    virtual bool ForgetDevicePath(const char*) { return false; }

    // Every present device taken for an instrument, in enumeration order, and every device that
    // looks like one but cannot be opened, each with its access. Learning the access may open
    // and claim each device briefly; nothing is held afterwards. The base lists what
    // FindDevicePath finds, probed by opening it.
    virtual std::vector<UsbDeviceListing> ListDevices(const InterfaceGuid& guid);

    // Waits at most `limit` for the devices on the bus to change (one arrived or left). True
    // when a change was seen, or when a driver without change events has reached its next poll
    // (about once a second): the caller should then look again. False when `limit` passed
    // without either. Look first, then wait; a driver that starts watching at its first wait
    // answers that wait with true at once, as changes before it went unseen. A change is
    // reported to one waiter. Any thread; blocks without using the processor. The base is that
    // slow poll: it sleeps until the next whole second of the steady clock or `limit`.
    virtual bool WaitForDeviceChange(std::chrono::milliseconds limit);

protected:
    // Available when the path opens and its interface initialises (both released again), else
    // Unopenable: this way of asking cannot tell why.
    UsbDeviceAccess ProbeByOpening(const char* path);
};

// The process-wide driver every new CUsbDevice uses. Until one is installed, the platform's
// own driver (libusb or WinUSB) is created on first use. Install before any CUsbDevice exists;
// a CUsbDevice keeps the driver it was built with alive.
std::shared_ptr<UsbDriver> ActiveUsbDriver();
void InstallUsbDriver(std::shared_ptr<UsbDriver> driver);

// A driver over `driver` that answers every search with the one device at `path` (a path its
// ListDevices gave) and lists only that device: installed, it makes every CUsbDevice talk to
// that instrument instead of the first one found.
std::shared_ptr<UsbDriver> ChooseUsbDevice(std::shared_ptr<UsbDriver> driver, std::string path);

// The real driver of this platform.
std::shared_ptr<UsbDriver> CreatePlatformUsbDriver();
