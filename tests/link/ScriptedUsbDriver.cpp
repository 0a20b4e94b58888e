#include "ScriptedUsbDriver.h"

#include <algorithm>
#include <cstring>

namespace {

class ScriptedInterface final : public UsbInterfaceHandle {
public:
    explicit ScriptedInterface(std::shared_ptr<ScriptedDevice> scriptedDevice)
        : device(std::move(scriptedDevice)) {
        ++device->openInterfaces;
    }
    ~ScriptedInterface() override {
        --device->openInterfaces;
        device->events.push_back("release interface");
    }

    bool QueryDeviceSpeed(std::uint8_t& speed) override {
        speed = 3;
        return !device->speedFails;
    }
    bool QueryInterfaceSettings(std::uint8_t alternateSetting,
                                std::uint8_t& endpointCount) override {
        endpointCount = static_cast<std::uint8_t>(device->pipes.size());
        return alternateSetting == 0 && !device->settingsFails;
    }
    bool QueryPipe(std::uint8_t alternateSetting, std::uint8_t pipeIndex,
                   UsbPipeInformation& pipe) override {
        if (alternateSetting != 0 || pipeIndex >= device->pipes.size() ||
            device->failingPipeQueries.count(pipeIndex) != 0) {
            return false;
        }
        pipe = device->pipes[pipeIndex];
        return true;
    }
    bool SetPipeTransferTimeout(std::uint8_t pipeId, std::uint32_t milliseconds) override {
        device->timeouts.emplace_back(pipeId, milliseconds);
        return device->failingTimeoutPipes.count(pipeId) == 0;
    }

    bool ReadPipe(std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t length,
                  std::uint32_t& transferred) override {
        device->readPipes.push_back(pipeId);
        device->readLengths.push_back(length);
        transferred = 0;
        std::optional<ScriptedRead> read = device->whenExhausted;
        if (!device->reads.empty()) {
            read = device->reads.front();
            device->reads.pop_front();
        }
        if (!read || !read->succeeds) {
            return false;
        }
        transferred = static_cast<std::uint32_t>(std::min<std::size_t>(read->bytes.size(), length));
        std::memcpy(buffer, read->bytes.data(), transferred);
        return true;
    }

    bool WritePipe(std::uint8_t pipeId, const std::uint8_t* bytes, std::uint32_t length,
                   std::uint32_t& transferred) override {
        const std::string request(reinterpret_cast<const char*>(bytes), length);
        device->writes.push_back(request);
        device->writePipes.push_back(pipeId);
        transferred = device->writeFails ? 0 : length;
        if (device->writeFails) {
            return false;
        }
        if (device->responder) {
            device->responder(request, *device);
        }
        return true;
    }

private:
    std::shared_ptr<ScriptedDevice> device;
};

class ScriptedFile final : public UsbFileHandle {
public:
    explicit ScriptedFile(std::shared_ptr<ScriptedDevice> scriptedDevice)
        : device(std::move(scriptedDevice)) {
        ++device->openFiles;
    }
    ~ScriptedFile() override {
        --device->openFiles;
        device->events.push_back("close file");
    }

    std::unique_ptr<UsbInterfaceHandle> InitializeInterface() override {
        device->events.push_back("initialize");
        if (device->initializeFails) {
            return nullptr;
        }
        return std::make_unique<ScriptedInterface>(device);
    }

private:
    std::shared_ptr<ScriptedDevice> device;
};

}  // namespace

void ScriptedDevice::QueuePackets(const std::vector<std::string>& packets) {
    for (const std::string& packet : packets) {
        reads.push_back({true, packet});
    }
}

void ScriptedDevice::QueueEmptyPackets(int count) {
    for (int i = 0; i < count; ++i) {
        reads.push_back({true, std::string()});
    }
}

void ScriptedDevice::QueueFailure() {
    reads.push_back({false, std::string()});
}

std::vector<std::string> PacketsAroundPause(std::vector<std::string> before, int emptyPackets,
                                            const std::vector<std::string>& after) {
    before.insert(before.end(), static_cast<std::size_t>(emptyPackets), std::string());
    before.insert(before.end(), after.begin(), after.end());
    return before;
}

bool ScriptedUsbDriver::FindDevicePath(const InterfaceGuid&, char* path, std::size_t capacity) {
    device->events.push_back("find");
    if (!device->present || device->path.size() >= capacity) {
        return false;
    }
    std::memcpy(path, device->path.c_str(), device->path.size() + 1);
    return true;
}

std::unique_ptr<UsbFileHandle> ScriptedUsbDriver::OpenDevicePath(const char* path) {
    device->events.push_back(std::string("open ") + path);
    if (device->openFails) {
        return nullptr;
    }
    return std::make_unique<ScriptedFile>(device);
}
