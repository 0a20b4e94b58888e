#include "tests/reliability/FaultyLink.h"

#include <algorithm>

namespace {

class FaultyInterface final : public UsbInterfaceHandle {
public:
    FaultyInterface(FaultyLink& faultyLink, std::unique_ptr<UsbInterfaceHandle> wrapped)
        : link(faultyLink), inner(std::move(wrapped)) {}

    bool QueryDeviceSpeed(std::uint8_t& speed) override { return inner->QueryDeviceSpeed(speed); }
    bool QueryInterfaceSettings(std::uint8_t alternateSetting,
                                std::uint8_t& endpointCount) override {
        return inner->QueryInterfaceSettings(alternateSetting, endpointCount);
    }
    bool QueryPipe(std::uint8_t alternateSetting, std::uint8_t pipeIndex,
                   UsbPipeInformation& pipe) override {
        return inner->QueryPipe(alternateSetting, pipeIndex, pipe);
    }
    bool SetPipeTransferTimeout(std::uint8_t pipeId, std::uint32_t milliseconds) override {
        return inner->SetPipeTransferTimeout(pipeId, milliseconds);
    }
    bool ReadPipe(std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t length,
                  std::uint32_t& transferred) override {
        return link.Read(*inner, pipeId, buffer, length, transferred);
    }
    bool WritePipe(std::uint8_t pipeId, const std::uint8_t* bytes, std::uint32_t length,
                   std::uint32_t& transferred) override {
        return link.Write(*inner, pipeId, bytes, length, transferred);
    }

private:
    FaultyLink& link;
    std::unique_ptr<UsbInterfaceHandle> inner;
};

class FaultyFile final : public UsbFileHandle {
public:
    FaultyFile(FaultyLink& faultyLink, std::unique_ptr<UsbFileHandle> wrapped)
        : link(faultyLink), inner(std::move(wrapped)) {}

    std::unique_ptr<UsbInterfaceHandle> InitializeInterface() override {
        std::unique_ptr<UsbInterfaceHandle> handle = inner->InitializeInterface();
        if (handle == nullptr) {
            return nullptr;
        }
        return std::make_unique<FaultyInterface>(link, std::move(handle));
    }

private:
    FaultyLink& link;
    std::unique_ptr<UsbFileHandle> inner;
};

// The command word of a request line: up to its first blank or CR.
std::string CommandWord(const std::string& request) {
    return request.substr(0, request.find_first_of(" \r"));
}

}  // namespace

FaultyLink::FaultyLink(std::shared_ptr<SimulatedUsbDriver> simulatedDriver)
    : simulator(std::move(simulatedDriver)) {}

void FaultyLink::Arm(LinkFault fault, const std::string& cue) {
    std::lock_guard lock(mutex);
    armedFault = fault;
    cueWord = cue;
    triggered = false;
    timeOutSpent = false;
}

void FaultyLink::Trigger() {
    bool pullCable = false;
    {
        std::lock_guard lock(mutex);
        triggered = true;
        pullCable = armedFault == LinkFault::CablePulled;
    }
    if (pullCable) {
        simulator->SetPresent(false);
    }
}

void FaultyLink::CountSleep() {
    ++sleeps;
}

std::int64_t FaultyLink::WaitedMs() const {
    std::lock_guard lock(mutex);
    return sleeps.load() * kSleepMs + failedTransfers * kTransferTimeoutMs;
}

bool FaultyLink::FindDevicePath(const InterfaceGuid& guid, char* path, std::size_t capacity) {
    return simulator->FindDevicePath(guid, path, capacity);
}

std::unique_ptr<UsbFileHandle> FaultyLink::OpenDevicePath(const char* path) {
    std::unique_ptr<UsbFileHandle> file = simulator->OpenDevicePath(path);
    if (file == nullptr) {
        return nullptr;
    }
    return std::make_unique<FaultyFile>(*this, std::move(file));
}

void FaultyLink::NoteRequest(const std::string& request) {
    bool cued = false;
    {
        std::lock_guard lock(mutex);
        cued = armedFault != LinkFault::None && !triggered && !cueWord.empty() &&
               CommandWord(request) == cueWord;
    }
    if (cued) {
        Trigger();
    }
}

bool FaultyLink::Write(UsbInterfaceHandle& inner, std::uint8_t pipeId, const std::uint8_t* bytes,
                       std::uint32_t length, std::uint32_t& transferred) {
    const std::string request(reinterpret_cast<const char*>(bytes), length);
    {
        std::lock_guard lock(mutex);
        const bool refused = armedFault == LinkFault::WritesFail &&
                             (triggered || (!cueWord.empty() && CommandWord(request) == cueWord));
        if (refused || hung.load()) {
            triggered = true;
            transferred = 0;
            ++failedTransfers;
            return false;
        }
    }
    const bool written = inner.WritePipe(pipeId, bytes, length, transferred);
    if (written) {
        NoteRequest(request);
    }
    return written;
}

bool FaultyLink::Read(UsbInterfaceHandle& inner, std::uint8_t pipeId, std::uint8_t* buffer,
                      std::uint32_t length, std::uint32_t& transferred) {
    bool fails = false;
    bool strip = false;
    {
        std::lock_guard lock(mutex);
        if (++reads > kHangReads) {
            hung.store(true);
        }
        fails = hung.load() || Active(LinkFault::ReadsFail) ||
                (Active(LinkFault::OneReadTimesOut) && !timeOutSpent);
        timeOutSpent = timeOutSpent || Active(LinkFault::OneReadTimesOut);
        strip = Active(LinkFault::RepliesLoseCr);
    }
    bool read = false;
    if (!fails) {
        read = inner.ReadPipe(pipeId, buffer, length, transferred);
    }
    if (!read) {
        transferred = 0;
        std::lock_guard lock(mutex);
        ++failedTransfers;
        return false;
    }
    if (strip) {
        std::uint8_t* const end = std::remove(buffer, buffer + transferred, '\r');
        transferred = static_cast<std::uint32_t>(end - buffer);
    }
    return true;
}
