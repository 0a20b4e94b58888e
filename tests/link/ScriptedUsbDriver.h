// A scripted stand-in for the USB driver layer: each read takes the next scripted packet (or
// failure), every write and every driver call is recorded, and switches make any step of
// opening fail. One thread at a time, like the real drivers.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "link/UsbDriver.h"

struct ScriptedRead {
    bool succeeds = true;
    std::string bytes;  // the packet as it arrives; may hold NUL bytes
};

struct ScriptedDevice {
    // --- switches -------------------------------------------------------------------------
    bool present = true;
    std::string path = "\\\\?\\usb#vid_1a2b&pid_3c4d#0001#{6e1feb40-485f-4d00-b20d-da63b8637b45}";
    bool openFails = false;
    bool initializeFails = false;
    bool speedFails = false;
    bool settingsFails = false;
    std::vector<UsbPipeInformation> pipes = {{UsbPipeType::Bulk, 0x81}, {UsbPipeType::Bulk, 0x02}};
    std::set<std::uint8_t> failingPipeQueries;   // by pipe index
    std::set<std::uint8_t> failingTimeoutPipes;  // by pipe id
    bool writeFails = false;

    // --- what the device sends ----------------------------------------------------------------
    std::deque<ScriptedRead> reads;
    // Answer to every read once the queue is empty; none: the read fails (a time-out).
    std::optional<ScriptedRead> whenExhausted;
    // Called with each request written (CR included) to queue the answer.
    std::function<void(const std::string& request, ScriptedDevice& device)> responder;

    // --- records ----------------------------------------------------------------------------
    std::vector<std::string> writes;
    std::vector<std::uint8_t> writePipes;
    std::vector<std::uint8_t> readPipes;
    std::vector<std::uint32_t> readLengths;
    std::vector<std::pair<std::uint8_t, std::uint32_t>> timeouts;
    // "find", "open", "initialize", "release interface", "close file", in order.
    std::vector<std::string> events;

    void QueuePackets(const std::vector<std::string>& packets);
    void QueueEmptyPackets(int count);
    void QueueFailure();
    std::size_t ReadCount() const { return readLengths.size(); }
    std::size_t OpenHandles() const { return openFiles + openInterfaces; }

    std::size_t openFiles = 0;
    std::size_t openInterfaces = 0;
};

// A script for a table row: the packets before a pause, the pause as empty packets, and the
// packets after it.
std::vector<std::string> PacketsAroundPause(std::vector<std::string> before, int emptyPackets,
                                            const std::vector<std::string>& after);

class ScriptedUsbDriver final : public UsbDriver {
public:
    explicit ScriptedUsbDriver(std::shared_ptr<ScriptedDevice> scriptedDevice)
        : device(std::move(scriptedDevice)) {}

    bool FindDevicePath(const InterfaceGuid& guid, char* path, std::size_t capacity) override;
    std::unique_ptr<UsbFileHandle> OpenDevicePath(const char* path) override;

private:
    std::shared_ptr<ScriptedDevice> device;
};
