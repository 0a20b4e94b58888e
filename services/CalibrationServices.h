// Zero calibration, the instrument's last error code and its log, each with a CInstrument of its
// own that opens and closes the link itself; and what a run the instrument aborted means.
//
// Threads: the caller's; blocking. One instrument operation at a time in the process (no run
// may be going). ZeroCalibrate shows its two messages through the operator-interaction seam
// (link/ModalInteraction.h) on the caller's thread.
#pragma once

#include <string>

struct CalibrationResult {
    // CInstrument::Calibrate's code: 0 also when the instrument refused ("NG", after its
    // light warning), -1 when the link could not be opened, another negative value otherwise.
    int result = 0;
    // Read after every result but -1, whether the calibration succeeded or not.
    bool errorCodeRead = false;
    std::string lastErrorCode;
};

// "CAL", waiting patiently for its answer, then "ERR" unless the link could not be opened.
CalibrationResult ZeroCalibrate();

// "ERR": true with the code. False when the read failed; code then holds what it handed back
// (normally nothing).
bool ReadLastErrorCode(std::string& code);

// "LOG": true with the log, its lines separated by CR.
bool ReadInstrumentLog(std::string& log);

// What an error code read after a run that ended with "NG" or "NO" names, whether or not the
// read succeeded.
enum class RunErrorKind {
    IntegrationOver,  // "4"
    RangeOver,        // "5"
    Other,
};
RunErrorKind RunErrorKindOf(const std::string& code);
