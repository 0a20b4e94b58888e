// The condition rules without a window: reply numbers to radio indexes and indexes to write
// arguments, the factor text rule, the comparison order, and whole sets read from and written to
// the simulated instrument.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/Instrument.h"
#include "link/Sleep.h"
#include "services/ConditionServices.h"
#include "services/MeasurementConditions.h"
#include "sim/SimulatedUsbDriver.h"

namespace {

using enum ConditionSetting;

constexpr ConditionSetting kAllSettings[] = {
    Averaging, Range, Frequency, ZeroCalibration, FactorSwitch, AutoPowerOff, AnalogResponse};

struct ReplyCase {
    ConditionSetting setting;
    int reply;
    int index;
};

const ReplyCase kReplyCases[] = {
    {Averaging, 0, -1},      {Averaging, 1, 0},
    {Averaging, 5, 4},       {Averaging, 6, 5},
    {Averaging, 7, -1},      {Averaging, -1, -1},
    {Range, -1, 0},          {Range, 0, -1},
    {Range, 1, 1},           {Range, 4, 4},
    {Range, 6, 6},           {Range, 7, -1},
    {Range, -2, -1},         {Frequency, 0, 0},
    {Frequency, 1, 1},       {Frequency, 2, -1},
    {Frequency, -1, -1},     {ZeroCalibration, 1, 0},
    {ZeroCalibration, 0, 1}, {ZeroCalibration, 2, -1},
    {FactorSwitch, 1, 0},    {FactorSwitch, 0, 1},
    {FactorSwitch, -1, -1},  {AutoPowerOff, 0, 0},
    {AutoPowerOff, 4, 4},    {AutoPowerOff, 5, -1},
    {AutoPowerOff, -1, -1},  {AnalogResponse, 0, 0},
    {AnalogResponse, 1, 1},  {AnalogResponse, 2, -1},
};

TEST(ConditionMapping, ReplyNumbersBecomeTheirRadioIndex) {
    for (const ReplyCase& c : kReplyCases) {
        EXPECT_EQ(IndexFromReplyNumber(c.setting, c.reply), c.index)
            << "setting " << static_cast<int>(c.setting) << ", reply " << c.reply;
    }
}

struct ArgumentCase {
    ConditionSetting setting;
    int index;
    std::optional<int> argument;
};

const ArgumentCase kArgumentCases[] = {
    {Averaging, 0, 1},
    {Averaging, 4, 5},
    {Averaging, 5, std::nullopt},  // read from a reply of 6, never written
    {Averaging, -1, std::nullopt},
    {Range, 0, -1},
    {Range, 1, 1},
    {Range, 5, 5},
    {Range, 6, 6},
    {Range, 7, std::nullopt},
    {Range, -1, std::nullopt},
    {Frequency, 0, 0},
    {Frequency, 1, 1},
    {Frequency, 2, std::nullopt},
    {ZeroCalibration, 0, 1},
    {ZeroCalibration, 1, 0},
    {ZeroCalibration, -1, std::nullopt},
    {FactorSwitch, 0, 1},
    {FactorSwitch, 1, 0},
    {AutoPowerOff, 0, 0},
    {AutoPowerOff, 4, 4},
    {AutoPowerOff, 5, std::nullopt},
    {AnalogResponse, 0, 0},
    {AnalogResponse, 1, 1},
    {AnalogResponse, -1, std::nullopt},
};

TEST(ConditionMapping, IndexesBecomeTheirWriteArgument) {
    for (const ArgumentCase& c : kArgumentCases) {
        EXPECT_EQ(WriteArgument(c.setting, c.index), c.argument)
            << "setting " << static_cast<int>(c.setting) << ", index " << c.index;
    }
}

TEST(ConditionMapping, EveryWrittenArgumentReadsBackAsTheSameIndex) {
    for (const ConditionSetting setting : kAllSettings) {
        int written = 0;
        for (int index = -2; index <= 8; ++index) {
            const std::optional<int> argument = WriteArgument(setting, index);
            if (argument.has_value()) {
                ++written;
                EXPECT_EQ(IndexFromReplyNumber(setting, *argument), index)
                    << "setting " << static_cast<int>(setting) << ", index " << index;
            }
        }
        EXPECT_GE(written, 2) << "setting " << static_cast<int>(setting);
    }
}

struct ReplyTextCase {
    ConditionSetting setting;
    const char* reply;
    int index;
};

TEST(ConditionMapping, ReplyTextIsReadByTheIntegerRule) {
    const ReplyTextCase cases[] = {
        {Range, " -1", 0},      {Range, "+4", 4},
        {Range, "4 ranges", 4}, {Range, "", -1},
        {Range, "F2", -1},      {Frequency, "abc", 0},
        {Averaging, "06", 5},   {ZeroCalibration, "1\r", 0},
    };
    for (const ReplyTextCase& c : cases) {
        EXPECT_EQ(IndexFromReply(c.setting, c.reply), c.index) << '"' << c.reply << '"';
    }
}

TEST(ConditionMapping, OnlyAnAveragingReplyMayBeEmpty) {
    for (const ConditionSetting setting : kAllSettings) {
        EXPECT_EQ(EmptyReplyFails(setting), setting != Averaging) << static_cast<int>(setting);
    }
}

struct FactorCase {
    const char* text;
    bool accepted;
};

TEST(FactorText, AcceptsOnlyShortPlainDecimalsInRange) {
    const FactorCase cases[] = {
        {"9.999", true},   {"0.001", true},  {".5", true},      {"1", true},
        {"00001", true},   {"1.2.3", true},  // points are not counted; the value is 1.2
        {"0.0010", false},                   // six characters
        {"10", false},     {"10.00", false}, {"9.9991", false}, {"0.000", false},
        {"0.0009", false}, {".", false},     {"1,5", false},    {"", false},
        {"-1", false},     {" 1", false},    {"1e-2", false},   {"1 ", false},
    };
    for (const FactorCase& c : cases) {
        EXPECT_EQ(IsAcceptableFactorText(c.text), c.accepted) << '"' << c.text << '"';
    }
}

MeasurementConditions SampleConditions() {
    MeasurementConditions values;
    values.rangeIndex = 5;
    values.frequencyIndex = 1;
    values.zeroCalibrationIndex = 0;
    values.factorSwitchIndex = 1;
    values.autoPowerOffIndex = 2;
    values.analogResponseIndex = 1;
    values.correctionFactor = 1.0;
    values.averagingIndex = 2;
    return values;
}

struct DifferenceCase {
    const char* name;
    void (*change)(MeasurementConditions&);
    int code;
};

TEST(ConditionComparison, NamesTheFirstDifferenceInItsFixedOrder) {
    const DifferenceCase cases[] = {
        {"equal", [](MeasurementConditions&) {}, 0},
        {"range", [](MeasurementConditions& v) { v.rangeIndex = 0; }, 1},
        {"frequency", [](MeasurementConditions& v) { v.frequencyIndex = 0; }, 2},
        {"zero calibration", [](MeasurementConditions& v) { v.zeroCalibrationIndex = -1; }, 3},
        {"factor switch", [](MeasurementConditions& v) { v.factorSwitchIndex = 0; }, 4},
        {"factor", [](MeasurementConditions& v) { v.correctionFactor = 1.0000001; }, 5},
        {"factor NaN",
         [](MeasurementConditions& v) {
             v.correctionFactor = std::numeric_limits<double>::quiet_NaN();
         },
         5},
        {"averaging", [](MeasurementConditions& v) { v.averagingIndex = 5; }, 6},
        {"auto power off only", [](MeasurementConditions& v) { v.autoPowerOffIndex = 0; }, 0},
        {"analog response only", [](MeasurementConditions& v) { v.analogResponseIndex = 0; }, 0},
        {"averaging and range",
         [](MeasurementConditions& v) {
             v.averagingIndex = 0;
             v.rangeIndex = 1;
         },
         1},
        {"factor and factor switch",
         [](MeasurementConditions& v) {
             v.correctionFactor = 2.0;
             v.factorSwitchIndex = 0;
         },
         4},
    };
    for (const DifferenceCase& c : cases) {
        MeasurementConditions instrument = SampleConditions();
        c.change(instrument);
        EXPECT_EQ(FirstConditionDifference(SampleConditions(), instrument), c.code) << c.name;
        EXPECT_EQ(FirstConditionDifference(instrument, SampleConditions()), c.code)
            << c.name << " (sides swapped)";
    }
}

TEST(ConditionComparison, ANaNOnBothSidesStillDiffers) {
    MeasurementConditions values = SampleConditions();
    values.correctionFactor = std::nan("");
    EXPECT_EQ(FirstConditionDifference(values, values), 5);
}

void NoSleep(int) {}

// The simulated instrument as the process's USB driver, on the fast clock, with no real sleep.
class ConditionsOverSim : public testing::Test {
protected:
    ConditionsOverSim() {
        InstallUsbDriver(driver);
        previousSleep = SetSleepFunction(&NoSleep);
    }
    ~ConditionsOverSim() override {
        SetSleepFunction(previousSleep);
        InstallUsbDriver(nullptr);
    }
    void TearDown() override { EXPECT_EQ(driver->OpenInterfaceCount(), 0) << "link left open"; }

    std::shared_ptr<SimulatedUsbDriver> driver =
        std::make_shared<SimulatedUsbDriver>(SimulatedInstrument::ClockMode::Fast);
    SleepFunction previousSleep = nullptr;
};

struct MissingCase {
    int MeasurementConditions::*field;  // the setting without an argument; null for none
    std::size_t requestsSent;
    const char* factorText = "1.5";
    int result = kConditionWithoutArgument;
};

TEST_F(ConditionsOverSim, WritesInTheFixedOrderUpToASettingWithoutArgument) {
    const MissingCase cases[] = {
        {nullptr, 8, "1.5", 0},
        {&MeasurementConditions::averagingIndex, 0},
        {&MeasurementConditions::rangeIndex, 1},
        {&MeasurementConditions::frequencyIndex, 2},
        {&MeasurementConditions::factorSwitchIndex, 4},
        {&MeasurementConditions::zeroCalibrationIndex, 5},
        {&MeasurementConditions::autoPowerOffIndex, 6},
        {&MeasurementConditions::analogResponseIndex, 7},
        {nullptr, 0, "0.0010", kFactorTextRefused},  // never sent, whoever calls
    };
    const std::vector<std::string> fullOrder = {"ACW 3",  "MRW 5", "FRQW 1", "CFW 1.5",
                                                "CFSW 0", "ZCW 1", "APW 2",  "AFW 1"};
    for (const MissingCase& c : cases) {
        driver->Instrument()->ClearRequestLog();
        MeasurementConditions values = SampleConditions();
        if (c.field != nullptr) {
            values.*c.field = -1;
        }
        EXPECT_EQ(WriteConditionSet(values, c.factorText), c.result) << c.requestsSent;
        const std::vector<std::string> expected(fullOrder.begin(),
                                                fullOrder.begin() + c.requestsSent);
        EXPECT_EQ(driver->RequestLog(), expected);
    }
}

}  // namespace
