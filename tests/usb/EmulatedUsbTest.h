// The base of the tests that drive the libusb driver against emulated instruments: a fresh bus
// per test, the real driver with a short transfer time-out, and a sleep that returns at once.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "link/LibusbDriver.h"
#include "link/Sleep.h"
#include "link/UsbDriver.h"
#include "tests/usb/EmulatedInstrument.h"

class EmulatedUsbTest : public ::testing::Test {
protected:
    // Transfers give up after this long instead of the program's 30 s.
    static constexpr std::uint32_t kShortTimeoutMs = 200;

    void SetUp() override {
        if (!UmockdevPreloadActive()) {
            GTEST_SKIP() << "umockdev's preload library is not available";
        }
        bus = std::make_unique<EmulatedUsbBus>();
        previousSleep = SetSleepFunction(&NoSleep);
    }

    void TearDown() override {
        InstallUsbDriver(nullptr);
        SetSleepFunction(previousSleep);
        bus.reset();
    }

    // Attaches one device per entry, in order, then starts the driver under test (libusb
    // enumerates at its start). False, with a failure recorded, when umockdev refuses.
    bool Present(const std::vector<EmulatedDeviceOptions>& options,
                 std::uint32_t timeoutMs = kShortTimeoutMs) {
        for (const EmulatedDeviceOptions& option : options) {
            EmulatedInstrument* device = bus->Attach(option);
            if (device == nullptr) {
                ADD_FAILURE() << "cannot attach an emulated device: " << bus->LastError();
                return false;
            }
            devices.push_back(device);
        }
        InstallUsbDriver(CreateLibusbDriver(timeoutMs));
        return true;
    }

    static void NoSleep(int) {}

    std::unique_ptr<EmulatedUsbBus> bus;
    std::vector<EmulatedInstrument*> devices;  // owned by the bus

private:
    SleepFunction previousSleep = nullptr;
};
