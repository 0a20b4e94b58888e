#include "link/UsbDriver.h"

#include <mutex>

namespace {

std::mutex registryMutex;
std::shared_ptr<UsbDriver> activeDriver;

}  // namespace

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
