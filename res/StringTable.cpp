#include "res/StringTable.h"

#include <iterator>

namespace {

struct StringEntry {
    int id;
    const char* text;
};

// The texts are the program's own words, spelling included: operators and their manuals
// know them as they stand.
constexpr StringEntry kStringTable[] = {
    {IDS_CONNECTION_ERROR, "An error occured. (Connection error)"},
    {IDS_ZERO_CALIBRATION_COMPLETED, "The zero calibration has been completed."},
    {IDS_BLOCK_OUT_LIGHT, "Please block out light to the detector."},
    {IDS_CONFIRM_ZERO_CALIBRATION,
     "Are you sure you want to start zero calibration ?\nPlease block out light to the detector."},
    {IDS_CONNECTING_ERROR, "An error occured while connecting."},
    {IDS_CONDITIONS_UPDATED, "The measurement condition of instrument has been updated."},
    {IDS_READ_FACTOR_FAILED, "Failed in reading factor."},
    {IDS_CONDITIONS_DIFFER,
     "The measurement conditions of application differ from one of instrument."},
    {IDS_CONFIRM_START_MEASUREMENT, "Are you sure you want to start measurement?"},
    {IDS_CONFIRM_WRITE_CONDITIONS,
     "Are you sure you want to set measurement conditions to instrument?"},
    {IDS_WRITE_FACTOR_FAILED, "Failed in writing factor."},
    {IDS_CONFIRM_QUIT, "Are you sure you want to quit?"},
    {IDS_FILE_OUTPUT_FAILED, "Failed to output of a file."},
    {IDS_FILE_SAVED, "The saving file is completed."},
    {IDS_MEASUREMENT_FAILED, "Failed in measurement."},
    {IDS_MEASUREMENT_COMPLETED, "The measurement has been completed."},
    {IDS_MEASUREMENT_CANCELED, "The measurement has been canceled."},
    {IDS_INPUT_FILE_NAME, "Please input the file name."},
    {IDS_CONFIRM_REPLACE_FILE, "The file already exists. Do you want to replace it ?"},
    {IDS_CONNECTION_ESTABLISHED, "Connection established."},
    {IDS_CHECK_INPUT_VALUE, "Please check the input value."},
    {IDS_MULTIPLE_LAUNCHES, "Multiple launches of this application is not allowed."},
    {IDS_RANGE_OVER, "An error occured.(Range Over)"},
    {IDS_INTEGRATION_OVER, "An error occured. (Integration Over)"},
};

}  // namespace

const char* LoadResourceString(int id) {
    for (const StringEntry& entry : kStringTable) {
        if (entry.id == id) {
            return entry.text;
        }
    }
    return "";
}
