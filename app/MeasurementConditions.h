// The window's eight measurement conditions. Radio indexes are zero-based in the group's tab
// order, -1 when no button is checked. A plain value; the main window owns one (window thread).
#pragma once

struct MeasurementConditions {
    int rangeIndex = -1;
    int frequencyIndex = -1;
    int zeroCalibrationIndex = -1;
    int factorSwitchIndex = -1;
    int autoPowerOffIndex = -1;
    int analogResponseIndex = -1;
    double correctionFactor = 0.001;
    int averagingIndex = -1;
};
