// Instruments on an emulated USB bus, so that the libusb driver can be tested end to end.
// umockdev's preload library stands in for the kernel's usbfs; each emulated device's ioctls
// are answered by a handler that passes bulk OUT bytes to a SimulatedInstrument and completes
// bulk IN transfers with its packets. A read the firmware has nothing for stays pending until
// a packet is due or libusb discards it at its time-out.
//
// Threads: the handler runs on umockdev's own thread and never blocks. Build, attach and
// destroy on the test thread; the observation and control calls may come from any thread.
// Linux only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/SimulatedInstrument.h"

// The endpoints of interface 0, alternate setting 0.
enum class EndpointLayout {
    BulkPair,                // bulk IN 0x81 and bulk OUT 0x01, 64 bytes each
    BulkPairAndInterrupt,    // and an interrupt IN 0x83
    BulkPairAndIsochronous,  // and an isochronous IN 0x83
    NoBulkOut,               // bulk IN 0x81 and a second bulk IN 0x82
};

struct EmulatedDeviceOptions {
    std::string product = "QIRO-7";
    EndpointLayout endpoints = EndpointLayout::BulkPair;
    std::uint16_t vendorId = 0x0a1b;
    std::uint16_t productId = 0x7c07;
    std::string boundKernelDriver;         // a kernel driver holding interface 0; empty: none
    bool claimRefused = false;             // the interface is busy
    bool alternateSettingRefused = false;  // the device stalls SET_INTERFACE
    SimulatedInstrument::ClockMode clock = SimulatedInstrument::ClockMode::Fast;
};

class EmulatedInstrument {
public:
    static constexpr std::uint8_t kBulkIn = 0x81;
    static constexpr std::uint8_t kBulkOut = 0x01;
    static constexpr std::uint8_t kExtraEndpoint = 0x83;

    ~EmulatedInstrument();
    EmulatedInstrument(const EmulatedInstrument&) = delete;
    EmulatedInstrument& operator=(const EmulatedInstrument&) = delete;

    // The firmware under the device's lock, held until the returned object dies: use it in
    // one expression, e.g. device.Firmware()->SetIdleReads(...).
    class LockedFirmware {
    public:
        SimulatedInstrument* operator->() const { return firmware; }
        SimulatedInstrument& operator*() const { return *firmware; }

    private:
        friend class EmulatedInstrument;
        LockedFirmware(std::mutex& mutex, SimulatedInstrument& target)
            : lock(mutex), firmware(&target) {}
        std::unique_lock<std::mutex> lock;
        SimulatedInstrument* firmware;
    };
    LockedFirmware Firmware();

    // Every request line the firmware received, without its CR.
    std::vector<std::string> RequestLog();
    // What happened to interface 0, in order: "claim", "claim refused", "release",
    // "detach <driver>", "reattach", "alternate setting <n>", "alternate setting <n> refused"
    // (another interface's setting names it: "alternate setting 1 of interface 2").
    std::vector<std::string> InterfaceEvents();
    // Bulk IN transfers waiting for a packet now.
    std::size_t PendingReads();
    // Bulk IN transfers that libusb cancelled (its time-out) since the device was attached.
    std::size_t DiscardedReads();
    // Opens of the device node, and reads of the product string, since it was attached.
    std::size_t Opens();
    std::size_t ProductStringReads();

    std::uint8_t Address() const { return address; }
    std::string DeviceNode() const;

private:
    friend class EmulatedUsbBus;
    struct Handler;  // the usbfs side, shared with umockdev's thread

    EmulatedInstrument(const EmulatedDeviceOptions& options, std::uint8_t busPort,
                       std::uint8_t deviceAddress);

    std::uint8_t port;
    std::uint8_t address;
    bool plugged = true;
    std::unique_ptr<Handler> handler;
};

// The interface events of `count` opens and closes of a link by the libusb driver: each claims
// interface 0, puts it in alternate setting 0 and releases it.
std::vector<std::string> LinkCycleEvents(std::size_t count = 1);

// One emulated bus (umockdev's testbed) with the devices attached to it. A USB driver created
// afterwards finds them when it starts; later changes reach libusb as hotplug events, which it
// takes in before its next enumeration.
class EmulatedUsbBus {
public:
    EmulatedUsbBus();
    ~EmulatedUsbBus();
    EmulatedUsbBus(const EmulatedUsbBus&) = delete;
    EmulatedUsbBus& operator=(const EmulatedUsbBus&) = delete;

    // Adds a device at the next free port of bus 1 (1, 2, ...) with the next unused address
    // (2, 3, ...). Null on failure, with the reason in LastError().
    EmulatedInstrument* Attach(const EmulatedDeviceOptions& options = {});
    // Takes the device off the bus; the object stays, with what it observed. A node that is
    // still open fails every request from then on, as the kernel's does.
    void Unplug(EmulatedInstrument& device);
    // The same without the hotplug event: libusb still lists the device, but cannot open it.
    void Vanish(EmulatedInstrument& device);
    // Unplugs the device and plugs a new one into its port, which gets a new address.
    EmulatedInstrument* Replug(EmulatedInstrument& device,
                               const EmulatedDeviceOptions& options = {});
    const std::string& LastError() const { return lastError; }

private:
    EmulatedInstrument* Plug(const EmulatedDeviceOptions& options, std::uint8_t port);

    struct Testbed;
    std::unique_ptr<Testbed> testbed;
    std::uint8_t nextPort = 1;
    std::uint8_t nextAddress = 2;
    std::vector<std::unique_ptr<EmulatedInstrument>> devices;
    std::string lastError;
};

// Call first thing in main(): re-executes the program under umockdev's preload library unless
// it already runs under it, and lets sanitizer builds accept the preload. Returns when the
// preload is active, or when it cannot be (library missing, exec failed); then
// UmockdevPreloadActive() is false and the emulated tests skip.
void EnsureUmockdevPreload(char** argv);
bool UmockdevPreloadActive();
