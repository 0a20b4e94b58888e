#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "framework/DialogUnits.h"
#include "res/Accelerators.h"
#include "res/DialogTemplates.h"

namespace {

const DialogTemplate& MainTemplate() {
    const DialogTemplate* dialog = FindDialogTemplate(IDD_QIRO7_DIALOG);
    if (dialog == nullptr) {
        throw std::runtime_error("template 102 missing");
    }
    return *dialog;
}

TEST(MainDialogTemplate, HasTheWindowsSizeFontAndCaption) {
    const DialogTemplate& dialog = MainTemplate();
    EXPECT_STREQ(dialog.caption, "QIRO-7");
    EXPECT_EQ(dialog.width, 530);
    EXPECT_EQ(dialog.height, 362);
    EXPECT_STREQ(dialog.fontName, "MS Shell Dlg");
    EXPECT_EQ(dialog.fontPointSize, 8);
    EXPECT_EQ(dialog.controls.size(), 76u);
    EXPECT_EQ(FindDialogTemplate(999), nullptr);
}

TEST(MainDialogTemplate, EveryControlIdIsUniqueAndEveryControlLiesInsideTheWindow) {
    const DialogTemplate& dialog = MainTemplate();
    std::set<int> ids;
    for (const ControlTemplate& control : dialog.controls) {
        if (control.id != IDC_STATIC) {
            EXPECT_TRUE(ids.insert(control.id).second) << "duplicate id " << control.id;
        }
        EXPECT_GE(control.x, 0);
        EXPECT_GE(control.y, 0);
        EXPECT_LE(control.x + control.width, dialog.width) << control.caption;
        EXPECT_LE(control.y + control.height, dialog.height) << control.caption;
    }
}

TEST(MainDialogTemplate, EveryEditBoxHasABorderAndScrollsToTheSide) {
    for (const ControlTemplate& control : MainTemplate().controls) {
        if (control.kind == ControlKind::Edit) {
            EXPECT_NE(control.style & kBorder, 0u) << control.id;
            EXPECT_NE(control.style & kAutoHScroll, 0u) << control.id;
        }
    }
}

// The caption of the smallest group box that contains the control, "window" for none.
std::string EnclosingFrame(const DialogTemplate& dialog, const ControlTemplate& control) {
    const ControlTemplate* best = nullptr;
    for (const ControlTemplate& frame : dialog.controls) {
        const bool contains = frame.kind == ControlKind::GroupBox && &frame != &control &&
                              frame.x <= control.x && frame.y <= control.y &&
                              control.x + control.width <= frame.x + frame.width &&
                              control.y + control.height <= frame.y + frame.height;
        if (contains &&
            (best == nullptr || frame.width * frame.height < best->width * best->height)) {
            best = &frame;
        }
    }
    return best != nullptr ? best->caption : "window";
}

TEST(MainDialogTemplate, ControlsSitInsideTheirFrames) {
    const std::pair<int, const char*> expected[] = {
        {IDC_CONNECT, "window"},
        {IDC_QUIT, "window"},
        {IDC_REFRESH, "Information"},
        {IDC_SAVE, "Information"},
        {IDC_MODEL, "Information"},
        {IDC_VERSION, "Information"},
        {IDC_DETECTOR_TEMPERATURE, "Temperature"},
        {IDC_CONTROLLER_TEMPERATURE, "Temperature"},
        {IDC_RANGE_AUTO, "Range"},
        {IDC_RANGE_F3, "Range"},
        {IDC_FREQUENCY_60HZ, "Frequency"},
        {IDC_AVERAGING_5, "The average number of measurement"},
        {IDC_FACTOR_OFF, "User Correction Factor"},
        {IDC_CORRECTION_FACTOR, "User Correction Factor"},
        {IDC_ZERO_CALIBRATION_OFF, "Zero Calibration"},
        {IDC_CALIBRATE, "Zero Calibration"},
        {IDC_INTERVAL, "Measurement"},
        {IDC_COUNT, "Measurement"},
        {IDC_GRAPH, "Measurement"},
        {IDC_AUTO_OUTPUT, "CSV File"},
        {IDC_BROWSE, "CSV File"},
        {IDC_CSV_FILE_NAME, "CSV File"},
        {IDC_OUTPUT, "CSV File"},
        {IDC_INPUT, "CSV File"},
        {IDC_RECEIVED, "Received"},
        {IDC_RESET, "Measurement"},
        {IDC_START_STOP, "Measurement"},
        {IDC_SHOW_GRAPH, "Measurement"},
        {IDC_LOG, "Information"},
        {IDC_LAST_ERROR_CODE, "Last Error Code"},
        {IDC_GET_LAST_ERROR, "Last Error Code"},
        {IDC_AUTO_POWER_OFF_30, "Auto power off setting [minutes]"},
        {IDC_ANALOG_FAST, "Analog output response speed"},
    };
    const DialogTemplate& dialog = MainTemplate();
    for (const auto& [id, frame] : expected) {
        const ControlTemplate* control = FindControlTemplate(dialog, id);
        ASSERT_NE(control, nullptr) << id;
        EXPECT_EQ(EnclosingFrame(dialog, *control), frame) << "control " << id;
    }
}

TEST(MainDialogTemplate, RadioGroupsEndAtTheNextGroupStart) {
    const std::vector<std::vector<int>> expected = {
        {IDC_RANGE_AUTO, IDC_RANGE_A1, IDC_RANGE_A2, IDC_RANGE_A3, IDC_RANGE_F1, IDC_RANGE_F2,
         IDC_RANGE_F3},
        {IDC_FREQUENCY_50HZ, IDC_FREQUENCY_60HZ},
        {IDC_AVERAGING_1, IDC_AVERAGING_2, IDC_AVERAGING_3, IDC_AVERAGING_4, IDC_AVERAGING_5},
        // The correction-factor box starts a group of its own, which ends this one.
        {IDC_FACTOR_ON, IDC_FACTOR_OFF},
        {IDC_ZERO_CALIBRATION_ON, IDC_ZERO_CALIBRATION_OFF},
        {IDC_AUTO_POWER_OFF_INF, IDC_AUTO_POWER_OFF_5, IDC_AUTO_POWER_OFF_10, IDC_AUTO_POWER_OFF_15,
         IDC_AUTO_POWER_OFF_30},
        // "Slow" comes first although its id is the higher one.
        {IDC_ANALOG_SLOW, IDC_ANALOG_FAST},
    };
    const DialogTemplate& dialog = MainTemplate();
    const std::vector<int> leaders = RadioGroupLeaders(dialog);
    ASSERT_EQ(leaders.size(), expected.size());
    for (std::size_t group = 0; group < expected.size(); ++group) {
        EXPECT_EQ(leaders[group], expected[group].front());
        EXPECT_EQ(RadioGroupMembers(dialog, leaders[group]), expected[group]);
    }
}

TEST(MainDialogTemplate, GroupMembersOfANonRadioAreNone) {
    const DialogTemplate& dialog = MainTemplate();
    EXPECT_TRUE(RadioGroupMembers(dialog, IDC_CORRECTION_FACTOR).empty());
    EXPECT_TRUE(RadioGroupMembers(dialog, 4242).empty());
    EXPECT_EQ(RadioGroupMembers(dialog, IDC_RANGE_F2),
              (std::vector<int>{IDC_RANGE_F2, IDC_RANGE_F3}));
}

struct KeyCase {
    int virtualKey;
    unsigned modifiers;
    int command;
};

TEST(AcceleratorTable, MapsPlainEscAndEnterOnly) {
    const AcceleratorTable* table = FindAcceleratorTable(IDR_ACCELERATOR);
    ASSERT_NE(table, nullptr);
    const KeyCase cases[] = {
        {VK_KEY_ESCAPE, 0, ID_ACCEL_ESCAPE},
        {VK_KEY_RETURN, 0, ID_ACCEL_ENTER},
        {VK_KEY_ESCAPE, kAccelShift, 0},
        {VK_KEY_RETURN, kAccelControl, 0},
        {VK_KEY_RETURN, kAccelAlt, 0},
        {'A', 0, 0},
        {0, 0, 0},
    };
    for (const KeyCase& c : cases) {
        EXPECT_EQ(TranslateAcceleratorKey(*table, c.virtualKey, c.modifiers), c.command)
            << "key " << c.virtualKey << " modifiers " << c.modifiers;
    }
    EXPECT_EQ(FindAcceleratorTable(130), nullptr);
}

TEST(DialogUnits, MulDivRoundsHalvesAwayFromZero) {
    EXPECT_EQ(MulDivRounded(10, 7, 4), 18);  // 17.5
    EXPECT_EQ(MulDivRounded(6, 7, 4), 11);   // 10.5
    EXPECT_EQ(MulDivRounded(5, 13, 8), 8);   // 8.125
    EXPECT_EQ(MulDivRounded(3, 13, 8), 5);   // 4.875
    EXPECT_EQ(MulDivRounded(-10, 7, 4), -18);
    EXPECT_EQ(MulDivRounded(10, 7, -4), -18);
    EXPECT_EQ(MulDivRounded(1, 1, 0), -1);
    EXPECT_EQ(MulDivRounded(2000000000, 3, 4), 1500000000);  // the product needs 64 bits
}

TEST(DialogUnits, BaseUnitsComeFromTheAverageLetterWidthAndTheFontHeight) {
    // (width / 26 + 1) / 2 in integers: 337 -> 6, 338 -> 7.
    EXPECT_EQ(BaseUnitsFromFont(337, 13).x, 6);
    EXPECT_EQ(BaseUnitsFromFont(338, 13).x, 7);
    EXPECT_EQ(BaseUnitsFromFont(338, 13).y, 13);
}

TEST(DialogUnits, EachCoordinateConvertsOnItsOwn) {
    const DialogBaseUnits base{7, 13};
    EXPECT_EQ(DialogRectToPixels(473, 22, 50, 14, base), (PixelRect{828, 36, 88, 23}));
    EXPECT_EQ(DialogRectToPixels(530, 362, 0, 0, base), (PixelRect{928, 588, 0, 0}));
}

}  // namespace
