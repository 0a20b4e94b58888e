// The base of the tests that drive the libusb driver against emulated instruments: a fresh bus
// per test, the real driver with a short transfer time-out, and a sleep that returns at once.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
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

// A stream line "irradiance integral peak", each a number as the instrument writes it.
inline bool IsInstrumentReading(const std::string& line) {
    std::size_t fields = 0;
    std::size_t start = 0;
    while (start <= line.size()) {
        const std::size_t space = std::min(line.find(' ', start), line.size());
        const std::string field = line.substr(start, space - start);
        char* end = nullptr;
        std::strtod(field.c_str(), &end);
        if (field.empty() || end != field.c_str() + field.size()) {
            return false;
        }
        ++fields;
        start = space + 1;
    }
    return fields == 3;
}
