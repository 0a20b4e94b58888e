#include "sim/SimulatedUsbDriver.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <iterator>
#include <map>
#include <string_view>
#include <thread>

struct SimulatedUsbDriver::Shared {
    using Clock = std::chrono::steady_clock;

    explicit Shared(SimulatedInstrument::ClockMode clock) : instrument(clock) {}

    // Called with the mutex held, first on every use of the driver or a handle: a planned
    // unplug or return that is due happens now.
    void CatchUp() {
        if (unplug.has_value() && present && instrument.IsStreaming() &&
            instrument.StreamLinesDelivered() >= unplug->afterLines) {
            present = false;
            ++generation;
            if (unplug->absence.has_value()) {
                returnAt = Clock::now() + *unplug->absence;
            }
            unplug.reset();
            NoteChange();
        }
        if (returnAt.has_value() && Clock::now() >= *returnAt) {
            returnAt.reset();
            instrument.PowerCycle();
            present = true;
            NoteChange();
        }
    }

    void NoteChange() {
        changed = true;
        changes.notify_all();
    }

    // Whether a handle opened in `handleGeneration` still reaches the device.
    bool Reaches(unsigned handleGeneration) const {
        return present && generation == handleGeneration;
    }

    // Called with the mutex held.
    bool ReadFails() {
        if (failNextReads > 0) {
            --failNextReads;
            return true;
        }
        return failReadsFromRequest != 0 && instrument.RequestCount() >= failReadsFromRequest;
    }
    bool WriteFails() {
        if (failNextWrites > 0) {
            --failNextWrites;
            return true;
        }
        return failWritesFromRequest != 0 && instrument.RequestCount() + 1 >= failWritesFromRequest;
    }

    struct Unplug {
        std::size_t afterLines;
        std::optional<std::chrono::milliseconds> absence;
    };

    mutable std::mutex mutex;
    SimulatedInstrument instrument;
    bool present = true;
    unsigned generation = 0;  // counts unplugs: handles of an earlier one never reach the device
    std::optional<Unplug> unplug;
    std::optional<Clock::time_point> returnAt;
    bool changed = false;  // the device left or came back since the last wait saw a change
    std::condition_variable changes;
    OpenFailure openFailure = OpenFailure::None;
    int failNextReads = 0;
    int failNextWrites = 0;
    std::size_t failReadsFromRequest = 0;
    std::size_t failWritesFromRequest = 0;
    int openInterfaces = 0;
    std::size_t timedOutReads = 0;
    std::map<std::uint8_t, std::uint32_t> lastPipeTimeouts;
};

namespace {

using Shared = SimulatedUsbDriver::Shared;

bool SameGuid(const InterfaceGuid& a, const InterfaceGuid& b) {
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
           std::equal(std::begin(a.data4), std::end(a.data4), std::begin(b.data4));
}

class SimulatedInterfaceHandle : public UsbInterfaceHandle {
public:
    SimulatedInterfaceHandle(std::shared_ptr<Shared> state, unsigned deviceGeneration)
        : shared(std::move(state)), generation(deviceGeneration) {}

    ~SimulatedInterfaceHandle() override {
        std::lock_guard lock(shared->mutex);
        --shared->openInterfaces;
    }

    bool QueryDeviceSpeed(std::uint8_t& speed) override {
        std::lock_guard lock(shared->mutex);
        shared->CatchUp();
        speed = SimulatedUsbDriver::kDeviceSpeed;
        return shared->Reaches(generation);
    }

    bool QueryInterfaceSettings(std::uint8_t alternateSetting,
                                std::uint8_t& endpointCount) override {
        endpointCount = 2;
        return alternateSetting == 0;
    }

    bool QueryPipe(std::uint8_t alternateSetting, std::uint8_t pipeIndex,
                   UsbPipeInformation& pipe) override {
        if (alternateSetting != 0 || pipeIndex > 1) {
            return false;
        }
        pipe.pipeType = UsbPipeType::Bulk;
        pipe.pipeId =
            pipeIndex == 0 ? SimulatedUsbDriver::kBulkInPipe : SimulatedUsbDriver::kBulkOutPipe;
        return true;
    }

    bool SetPipeTransferTimeout(std::uint8_t pipeId, std::uint32_t milliseconds) override {
        if (pipeId != SimulatedUsbDriver::kBulkInPipe &&
            pipeId != SimulatedUsbDriver::kBulkOutPipe) {
            return false;
        }
        timeouts[pipeId] = milliseconds;
        std::lock_guard lock(shared->mutex);
        shared->lastPipeTimeouts[pipeId] = milliseconds;
        return true;
    }

    bool ReadPipe(std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t length,
                  std::uint32_t& transferred) override {
        transferred = 0;
        std::unique_lock lock(shared->mutex);
        shared->CatchUp();
        if (pipeId != SimulatedUsbDriver::kBulkInPipe || !shared->Reaches(generation) ||
            shared->ReadFails()) {
            return false;
        }
        for (;;) {
            if (const auto packet = shared->instrument.NextPacket(length)) {
                std::memcpy(buffer, packet->data(), packet->size());
                transferred = static_cast<std::uint32_t>(packet->size());
                return true;
            }
            // Nothing to send: wait on the real clock for what is due within the time-out;
            // anything else is reported as the time-out at once.
            const auto wait = shared->instrument.MillisecondsUntilOutput();
            const std::uint32_t timeout = timeouts[pipeId];
            if (!wait.has_value() || (timeout != 0 && *wait > timeout)) {
                ++shared->timedOutReads;
                return false;
            }
            lock.unlock();
            std::this_thread::sleep_for(
                std::chrono::milliseconds(std::max<std::int64_t>(*wait, 1)));
            lock.lock();
            shared->CatchUp();
            if (!shared->Reaches(generation)) {
                return false;
            }
        }
    }

    bool WritePipe(std::uint8_t pipeId, const std::uint8_t* bytes, std::uint32_t length,
                   std::uint32_t& transferred) override {
        transferred = 0;
        std::lock_guard lock(shared->mutex);
        shared->CatchUp();
        if (pipeId != SimulatedUsbDriver::kBulkOutPipe || !shared->Reaches(generation) ||
            shared->WriteFails()) {
            return false;
        }
        shared->instrument.ReceiveBytes(
            std::string_view(reinterpret_cast<const char*>(bytes), length));
        transferred = length;
        return true;
    }

private:
    std::shared_ptr<Shared> shared;
    unsigned generation;
    std::map<std::uint8_t, std::uint32_t> timeouts;  // 0: never set, no time-out
};

class SimulatedFileHandle : public UsbFileHandle {
public:
    SimulatedFileHandle(std::shared_ptr<Shared> state, unsigned deviceGeneration)
        : shared(std::move(state)), generation(deviceGeneration) {}

    std::unique_ptr<UsbInterfaceHandle> InitializeInterface() override {
        std::lock_guard lock(shared->mutex);
        shared->CatchUp();
        if (!shared->Reaches(generation) ||
            shared->openFailure == SimulatedUsbDriver::OpenFailure::InitializeInterface ||
            shared->openFailure == SimulatedUsbDriver::OpenFailure::Busy) {
            return nullptr;
        }
        ++shared->openInterfaces;
        return std::make_unique<SimulatedInterfaceHandle>(shared, generation);
    }

private:
    std::shared_ptr<Shared> shared;
    unsigned generation;
};

}  // namespace

SimulatedUsbDriver::SimulatedUsbDriver()
    : SimulatedUsbDriver(SimulatedInstrument::ClockMode::Real) {}

SimulatedUsbDriver::SimulatedUsbDriver(SimulatedInstrument::ClockMode clock)
    : shared(std::make_shared<Shared>(clock)) {}

SimulatedUsbDriver::~SimulatedUsbDriver() = default;

bool SimulatedUsbDriver::FindDevicePath(const InterfaceGuid& guid, char* path,
                                        std::size_t capacity) {
    std::lock_guard lock(shared->mutex);
    shared->CatchUp();
    const std::size_t length = std::strlen(kDevicePath);
    if (!shared->present || !SameGuid(guid, GUID_DEVINTERFACE_INSTRUMENT) || path == nullptr ||
        length >= capacity) {
        return false;
    }
    std::memcpy(path, kDevicePath, length + 1);
    return true;
}

std::unique_ptr<UsbFileHandle> SimulatedUsbDriver::OpenDevicePath(const char* path) {
    std::lock_guard lock(shared->mutex);
    shared->CatchUp();
    if (!shared->present || shared->openFailure == OpenFailure::OpenPath ||
        shared->openFailure == OpenFailure::NoPermission || path == nullptr ||
        std::strcmp(path, kDevicePath) != 0) {
        return nullptr;
    }
    return std::make_unique<SimulatedFileHandle>(shared, shared->generation);
}

std::vector<UsbDeviceListing> SimulatedUsbDriver::ListDevices(const InterfaceGuid& guid) {
    std::lock_guard lock(shared->mutex);
    shared->CatchUp();
    if (!shared->present || !SameGuid(guid, GUID_DEVINTERFACE_INSTRUMENT)) {
        return {};
    }
    UsbDeviceListing device{kDevicePath, "simulated", UsbDeviceAccess::Available};
    switch (shared->openFailure) {
        case OpenFailure::None:
            break;
        case OpenFailure::NoPermission:
            device.access = UsbDeviceAccess::NoPermission;
            break;
        case OpenFailure::Busy:
            device.access = UsbDeviceAccess::Busy;
            break;
        case OpenFailure::OpenPath:
        case OpenFailure::InitializeInterface:
            device.access = UsbDeviceAccess::Unopenable;
            break;
    }
    return {device};
}

SimulatedUsbDriver::LockedInstrument SimulatedUsbDriver::Instrument() {
    return LockedInstrument(shared->mutex, shared->instrument);
}

bool SimulatedUsbDriver::WaitForDeviceChange(std::chrono::milliseconds limit) {
    using Clock = Shared::Clock;
    std::unique_lock lock(shared->mutex);
    const Clock::time_point end = Clock::now() + std::max(limit, std::chrono::milliseconds(0));
    for (;;) {
        shared->CatchUp();
        if (shared->changed) {
            shared->changed = false;
            return true;
        }
        if (Clock::now() >= end) {
            return false;
        }
        shared->changes.wait_until(
            lock, shared->returnAt.has_value() ? std::min(end, *shared->returnAt) : end);
    }
}

void SimulatedUsbDriver::SetPresent(bool present) {
    std::lock_guard lock(shared->mutex);
    if (shared->present != present) {
        shared->present = present;
        shared->NoteChange();
    }
}

void SimulatedUsbDriver::UnplugAfterStreamLines(std::size_t lines,
                                                std::optional<std::chrono::milliseconds> absence) {
    std::lock_guard lock(shared->mutex);
    shared->unplug = Shared::Unplug{lines, absence};
}

void SimulatedUsbDriver::SetOpenFailure(OpenFailure failure) {
    std::lock_guard lock(shared->mutex);
    shared->openFailure = failure;
}

void SimulatedUsbDriver::FailNextReads(int count) {
    std::lock_guard lock(shared->mutex);
    shared->failNextReads = count;
}

void SimulatedUsbDriver::FailNextWrites(int count) {
    std::lock_guard lock(shared->mutex);
    shared->failNextWrites = count;
}

void SimulatedUsbDriver::FailReadsFromRequest(std::size_t requestNumber) {
    std::lock_guard lock(shared->mutex);
    shared->failReadsFromRequest = requestNumber;
}

void SimulatedUsbDriver::FailWritesFromRequest(std::size_t requestNumber) {
    std::lock_guard lock(shared->mutex);
    shared->failWritesFromRequest = requestNumber;
}

void SimulatedUsbDriver::ClearTransportFaults() {
    std::lock_guard lock(shared->mutex);
    if (!shared->present) {
        shared->NoteChange();
    }
    shared->present = true;
    shared->unplug.reset();
    shared->returnAt.reset();
    shared->openFailure = OpenFailure::None;
    shared->failNextReads = 0;
    shared->failNextWrites = 0;
    shared->failReadsFromRequest = 0;
    shared->failWritesFromRequest = 0;
}

std::vector<std::string> SimulatedUsbDriver::RequestLog() const {
    std::lock_guard lock(shared->mutex);
    return shared->instrument.RequestLog();
}

std::size_t SimulatedUsbDriver::TimedOutReads() const {
    std::lock_guard lock(shared->mutex);
    return shared->timedOutReads;
}

int SimulatedUsbDriver::OpenInterfaceCount() const {
    std::lock_guard lock(shared->mutex);
    return shared->openInterfaces;
}

std::uint32_t SimulatedUsbDriver::PipeTimeoutMs(std::uint8_t pipeId) const {
    std::lock_guard lock(shared->mutex);
    const auto found = shared->lastPipeTimeouts.find(pipeId);
    return found == shared->lastPipeTimeouts.end() ? 0 : found->second;
}
