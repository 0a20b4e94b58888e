// A USB driver layer in front of the simulated instrument that breaks the link on cue: from the
// request with a given command word on, writes or reads fail, one read times out, the cable is
// pulled, or carriage returns vanish from the replies. It also keeps the link's clock: every
// failed transfer counts as the full 30 s transfer time-out, every sleep of the program as its
// 10 ms, so a test can bound how long an operator would have waited without waiting at all.
// A hang is cut short: past a read limit every transfer fails, and the test learns of it.
//
// Thread-safe: the window thread and the measurement worker use it at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "link/UsbDriver.h"
#include "sim/SimulatedUsbDriver.h"

enum class LinkFault {
    None,
    WritesFail,       // the cue's request and every later one cannot be written
    ReadsFail,        // every read after the cue fails (a pipe error)
    OneReadTimesOut,  // the first read after the cue fails at the transfer time-out
    CablePulled,      // the instrument is gone once it has received the cue
    RepliesLoseCr,    // packets after the cue arrive without their carriage returns
};

class FaultyLink : public UsbDriver {
public:
    static constexpr std::int64_t kTransferTimeoutMs = 30000;
    static constexpr std::int64_t kSleepMs = 10;
    // Reads past this many in one test mean the program would never have returned.
    static constexpr long kHangReads = 200000;

    explicit FaultyLink(std::shared_ptr<SimulatedUsbDriver> simulator);

    // The fault starts with the first request whose command word is cue, or with Trigger()
    // (the only way when cue is empty).
    void Arm(LinkFault fault, const std::string& cue);
    void Trigger();

    // The program's sleep, counted: install through the test's sleep hook.
    void CountSleep();
    // Time the operator waited on the link: 10 ms per sleep, 30 s per failed transfer.
    std::int64_t WaitedMs() const;
    bool Hung() const { return hung.load(); }

    bool FindDevicePath(const InterfaceGuid& guid, char* path, std::size_t capacity) override;
    std::unique_ptr<UsbFileHandle> OpenDevicePath(const char* path) override;

    // Handle side (called by the wrapped handles).
    bool Write(UsbInterfaceHandle& inner, std::uint8_t pipeId, const std::uint8_t* bytes,
               std::uint32_t length, std::uint32_t& transferred);
    bool Read(UsbInterfaceHandle& inner, std::uint8_t pipeId, std::uint8_t* buffer,
              std::uint32_t length, std::uint32_t& transferred);

private:
    void NoteRequest(const std::string& request);
    bool Active(LinkFault fault) const { return armedFault == fault && triggered; }

    std::shared_ptr<SimulatedUsbDriver> simulator;
    mutable std::mutex mutex;
    LinkFault armedFault = LinkFault::None;
    std::string cueWord;
    bool triggered = false;
    bool timeOutSpent = false;
    long reads = 0;
    long failedTransfers = 0;
    std::atomic<long> sleeps{0};
    std::atomic<bool> hung{false};
};
