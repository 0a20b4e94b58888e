// The eight conditions by name and by the values the window shows.
#include "cli/ConditionNames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct AssignmentCase {
    std::string assignment;
    bool accepted;
    int MeasurementConditions::*index;  // null: the factor
    int expectedIndex;
    std::string expectedFactorText;
};

TEST(ConditionNames, TakeTheWindowsCaptionsAndTheUsualSpellingsAndRefuseTheRest) {
    using MC = MeasurementConditions;
    const AssignmentCase cases[] = {
        {"range=Auto", true, &MC::rangeIndex, 0, ""},
        {"range=a1", true, &MC::rangeIndex, 1, ""},
        {"range=F3", true, &MC::rangeIndex, 6, ""},
        {"frequency=60Hz", true, &MC::frequencyIndex, 1, ""},
        {"frequency=50", true, &MC::frequencyIndex, 0, ""},
        {"averaging=5", true, &MC::averagingIndex, 4, ""},
        {"factor-switch=off", true, &MC::factorSwitchIndex, 1, ""},
        {"zero-calibration=ON", true, &MC::zeroCalibrationIndex, 0, ""},
        {"auto-power-off=never", true, &MC::autoPowerOffIndex, 0, ""},
        {"auto-power-off=30", true, &MC::autoPowerOffIndex, 4, ""},
        {"analog-response=Fast", true, &MC::analogResponseIndex, 1, ""},
        {"factor=0.95", true, nullptr, 0, "0.95"},
        {"factor=9.999", true, nullptr, 0, "9.999"},
        {"range=A4", false, nullptr, 0, ""},
        {"averaging=6", false, nullptr, 0, ""},
        {"frequency=55", false, nullptr, 0, ""},
        {"range", false, nullptr, 0, ""},
        {"colour=red", false, nullptr, 0, ""},
        {"factor=0.0010", false, nullptr, 0, ""},
        {"factor=10", false, nullptr, 0, ""},
        {"factor=1e0", false, nullptr, 0, ""},
        {"factor=", false, nullptr, 0, ""},
    };
    for (const AssignmentCase& c : cases) {
        SCOPED_TRACE(c.assignment);
        MeasurementConditions conditions;
        std::string factorText = "untouched";
        std::string reason;
        EXPECT_EQ(ApplyConditionAssignment(c.assignment, conditions, factorText, reason),
                  c.accepted);
        EXPECT_EQ(reason.empty(), c.accepted) << reason;
        if (!c.accepted) {
            EXPECT_EQ(factorText, "untouched");
        } else if (c.index != nullptr) {
            EXPECT_EQ(conditions.*c.index, c.expectedIndex);
        } else {
            EXPECT_EQ(factorText, c.expectedFactorText);
        }
    }
}

// What get prints, set takes back: every value of every group survives the round trip.
TEST(ConditionNames, EveryValueShownIsTakenBackAsTheSameValue) {
    using MC = MeasurementConditions;
    const std::vector<std::pair<int MC::*, int>> groups = {
        {&MC::rangeIndex, 7},          {&MC::frequencyIndex, 2},       {&MC::averagingIndex, 5},
        {&MC::factorSwitchIndex, 2},   {&MC::zeroCalibrationIndex, 2}, {&MC::autoPowerOffIndex, 5},
        {&MC::analogResponseIndex, 2},
    };
    for (const auto& [field, buttons] : groups) {
        for (int index = 0; index < buttons; ++index) {
            MeasurementConditions shown;
            shown.*field = index;
            shown.correctionFactor = 0.5;
            MeasurementConditions read;
            std::string factorText;
            std::string reason;
            for (const NamedCondition& condition : NameConditions(shown)) {
                if (condition.value != "none") {
                    EXPECT_TRUE(ApplyConditionAssignment(condition.name + "=" + condition.value,
                                                         read, factorText, reason))
                        << reason;
                }
            }
            EXPECT_EQ(read.*field, index);
            EXPECT_EQ(factorText, "0.5");
        }
    }
}

TEST(ConditionNames, ShowTheWindowsOrderCaptionsAndNoneWhereNoButtonIsChecked) {
    MeasurementConditions conditions;
    conditions.rangeIndex = 0;
    conditions.frequencyIndex = 1;
    conditions.averagingIndex = 5;  // the instrument's 6: no button
    conditions.correctionFactor = 1.0;
    conditions.factorSwitchIndex = 0;
    conditions.zeroCalibrationIndex = 1;
    conditions.autoPowerOffIndex = 0;
    conditions.analogResponseIndex = 0;
    std::string shown;
    for (const NamedCondition& condition : NameConditions(conditions)) {
        shown += condition.name + "=" + condition.value + " ";
    }
    EXPECT_EQ(shown,
              "range=Auto frequency=60Hz averaging=none factor=1 factor-switch=ON "
              "zero-calibration=OFF auto-power-off=Inf analog-response=Slow ");
}

}  // namespace
