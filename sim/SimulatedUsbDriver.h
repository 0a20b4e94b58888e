// SimulatedUsbDriver: the USB driver layer with a SimulatedInstrument behind it, for tests and
// the demo program. One instrument at kDevicePath; interface 0 has bulk IN 0x81 and bulk OUT
// 0x01, 64-byte packets.
//
// Thread-safe: the window thread, a measurement worker and a test thread may all use the
// driver, its handles and its controls at once. One mutex guards the instrument and the
// transport state; it is never held while a read waits on the real clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link/UsbDriver.h"
#include "sim/SimulatedInstrument.h"

class SimulatedUsbDriver : public UsbDriver {
public:
    static constexpr const char* kDevicePath =
        "\\\\?\\usb#vid_0a1b&pid_7c07#sim#{6e1feb40-485f-4d00-b20d-da63b8637b45}";
    static constexpr std::uint8_t kBulkInPipe = 0x81;
    static constexpr std::uint8_t kBulkOutPipe = 0x01;
    static constexpr std::uint8_t kDeviceSpeed = 0x02;  // full speed: 64-byte bulk packets

    // Where opening fails: at the path (NoPermission: as a device this user may not open) or at
    // the interface (Busy: as one another program holds). ListDevices names the reason.
    enum class OpenFailure { None, OpenPath, InitializeInterface, NoPermission, Busy };

    // A fresh instrument on the real clock, as the demo program wants it.
    SimulatedUsbDriver();
    explicit SimulatedUsbDriver(SimulatedInstrument::ClockMode clock);
    ~SimulatedUsbDriver() override;

    bool FindDevicePath(const InterfaceGuid& guid, char* path, std::size_t capacity) override;
    std::unique_ptr<UsbFileHandle> OpenDevicePath(const char* path) override;
    std::vector<UsbDeviceListing> ListDevices(const InterfaceGuid& guid) override;
    // True at once when the device left or came back since the last wait that returned true
    // (SetPresent, UnplugAfterStreamLines), else as soon as it does; false after `limit`.
    bool WaitForDeviceChange(std::chrono::milliseconds limit) override;

    // The instrument's controls and state under the driver's lock, held until the returned
    // object is destroyed: use it in one expression, e.g.
    //   driver.Instrument()->SetDetectorLit(true);
    // and never call the driver or its handles while holding it.
    class LockedInstrument {
    public:
        SimulatedInstrument* operator->() const { return instrument; }
        SimulatedInstrument& operator*() const { return *instrument; }

    private:
        friend class SimulatedUsbDriver;
        LockedInstrument(std::mutex& mutex, SimulatedInstrument& target)
            : lock(mutex), instrument(&target) {}
        std::unique_lock<std::mutex> lock;
        SimulatedInstrument* instrument;
    };
    LockedInstrument Instrument();

    // --- transport faults -----------------------------------------------------------------
    // An absent device is not found, and handles already open fail every transfer.
    void SetPresent(bool present);
    // Unplugs the device once the host has read `lines` stream lines of a measurement (0: as
    // soon as one has started): from the next search or transfer on it is absent, and the
    // handles opened before fail every transfer for good. `absence` of real time later (also
    // on the fast clock) it is plugged back in, switched off and on
    // (SimulatedInstrument::PowerCycle); nullopt: it stays away. Happens once. The return is
    // noticed when the driver or a handle is next used or waited on: no thread watches the clock.
    void UnplugAfterStreamLines(std::size_t lines,
                                std::optional<std::chrono::milliseconds> absence);
    void SetOpenFailure(OpenFailure failure);
    // The next `count` reads (or writes) fail, as a pipe error or time-out would.
    void FailNextReads(int count);
    void FailNextWrites(int count);
    // Every read once the instrument has received `requestNumber` request lines, and every
    // write that would carry request number `requestNumber` or a later one, fails. 0 clears.
    void FailReadsFromRequest(std::size_t requestNumber);
    void FailWritesFromRequest(std::size_t requestNumber);
    // Clears every transport fault above, a pending unplug or return included, and makes the
    // device present again.
    void ClearTransportFaults();

    // --- observation ----------------------------------------------------------------------
    std::vector<std::string> RequestLog() const;
    // Reads that had nothing to send within the pipe time-out and reported it (at once).
    std::size_t TimedOutReads() const;
    // Interface handles alive now: 0 once every link is closed.
    int OpenInterfaceCount() const;
    // The transfer time-out last set on a pipe, 0 when never set.
    std::uint32_t PipeTimeoutMs(std::uint8_t pipeId) const;

    struct Shared;  // state shared with the handles, which may outlive the driver

private:
    std::shared_ptr<Shared> shared;
};
