#include "link/UsbDriver.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

constexpr std::size_t kDevicePathCapacity = 261;

std::mutex registryMutex;
std::shared_ptr<UsbDriver> activeDriver;

class ChosenDeviceDriver final : public UsbDriver {
public:
    ChosenDeviceDriver(std::shared_ptr<UsbDriver> inner, std::string chosenPath)
        : driver(std::move(inner)), path(std::move(chosenPath)) {}

    bool FindDevicePath(const InterfaceGuid&, char* buffer, std::size_t capacity) override {
        if (capacity == 0 || path.empty() || path.size() >= capacity) {
            return false;
        }
        std::memcpy(buffer, path.c_str(), path.size() + 1);
        return true;
    }

    std::unique_ptr<UsbFileHandle> OpenDevicePath(const char* devicePath) override {
        return driver->OpenDevicePath(devicePath);
    }

    std::vector<UsbDeviceListing> ListDevices(const InterfaceGuid& guid) override {
        std::vector<UsbDeviceListing> devices = driver->ListDevices(guid);
        std::erase_if(devices,
                      [this](const UsbDeviceListing& device) { return device.path != path; });
        return devices;
    }

    bool WaitForDeviceChange(std::chrono::milliseconds limit) override {
        return driver->WaitForDeviceChange(limit);
    }

private:
    std::shared_ptr<UsbDriver> driver;
    std::string path;
};

}  // namespace

std::vector<UsbDeviceListing> UsbDriver::ListDevices(const InterfaceGuid& guid) {
    char path[kDevicePathCapacity];
    if (!FindDevicePath(guid, path, sizeof path) ||
        std::memchr(path, '\0', sizeof path) == nullptr) {
        return {};
    }
    return {{path, path, ProbeByOpening(path)}};
}

bool UsbDriver::WaitForDeviceChange(std::chrono::milliseconds limit) {
    using namespace std::chrono;
    const steady_clock::time_point now = steady_clock::now();
    const steady_clock::time_point nextPoll = floor<seconds>(now) + seconds(1);
    const steady_clock::time_point end = now + std::max(limit, milliseconds(0));
    std::this_thread::sleep_until(std::min(nextPoll, end));
    return nextPoll <= end;
}

UsbDeviceAccess UsbDriver::ProbeByOpening(const char* path) {
    const std::unique_ptr<UsbFileHandle> file = OpenDevicePath(path);
    const bool usable = file != nullptr && file->InitializeInterface() != nullptr;
    return usable ? UsbDeviceAccess::Available : UsbDeviceAccess::Unopenable;
}

std::shared_ptr<UsbDriver> ActiveUsbDriver() {
    std::lock_guard lock(registryMutex);
    if (activeDriver == nullptr) {
        activeDriver = CreatePlatformUsbDriver();
    }
    return activeDriver;
}

void InstallUsbDriver(std::shared_ptr<UsbDriver> driver) {
    std::lock_guard lock(registryMutex);
    activeDriver = std::move(driver);
}

std::shared_ptr<UsbDriver> ChooseUsbDevice(std::shared_ptr<UsbDriver> driver, std::string path) {
    return std::make_shared<ChosenDeviceDriver>(std::move(driver), std::move(path));
}
