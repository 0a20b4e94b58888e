// Common set-up of the link tests: the scripted driver installed, a counting sleep in place of
// the real one (no test waits), and a modal interaction that records every box.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "ScriptedUsbDriver.h"
#include "link/Instrument.h"
#include "link/ModalInteraction.h"
#include "link/Sleep.h"
#include "tests/common/RecordingBoxes.h"

// Names a parameterised case by its "name" member.
struct CaseName {
    template <class Param>
    std::string operator()(const ::testing::TestParamInfo<Param>& param) const {
        return param.param.name;
    }
};

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        device = std::make_shared<ScriptedDevice>();
        InstallUsbDriver(std::make_shared<ScriptedUsbDriver>(device));
        sleepCount = 0;
        sleptMs = 0;
        previousSleep = SetSleepFunction(&CountingSleep);
        interaction = std::make_shared<RecordingBoxes>();
        InstallModalInteraction(interaction);
        SetApplicationName("qiro7");
    }

    void TearDown() override {
        InstallModalInteraction(nullptr);
        SetSleepFunction(previousSleep);
        InstallUsbDriver(nullptr);
    }

    // Every request the device received, in order.
    const std::vector<std::string>& Requests() const { return device->writes; }

    static void CountingSleep(int milliseconds) {
        ++sleepCount;
        sleptMs += milliseconds;
    }

    static inline std::atomic<int> sleepCount{0};
    static inline std::atomic<long long> sleptMs{0};

    std::shared_ptr<ScriptedDevice> device;
    std::shared_ptr<RecordingBoxes> interaction;
    SleepFunction previousSleep = nullptr;
};
