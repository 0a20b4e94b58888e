// Why a measurement run is asked to stop, and the signals that ask: Ctrl+C (SIGINT) and SIGTERM
// ask the run to stop exactly as the window's Stop does (MeasurementRunner::RequestStop), so the
// worker sends the stop, keeps reading until the instrument's "END" and every sample reaches
// the output. A second signal ends the program at once (the signal's default action): what was
// written so far is already with the system.
#pragma once

enum class StopReason {
    None,
    Signal,        // Ctrl+C or SIGTERM
    Duration,      // --duration has passed
    ReaderGone,    // standard output's reader has gone
    OutputFailed,  // a sample could not be written
};

// Installs the stop handlers. Call once, before the run starts.
void InstallStopSignals();

// Any thread, also a signal handler: asks the run to stop; the first reason given is kept.
void RequestRunStop(StopReason reason);
// The first reason given; None while nobody asked.
StopReason RunStopReason();

// Ignores SIGPIPE and SIGXFSZ for the whole program, so that a reader that goes away (EPIPE)
// and a file that reaches the size limit (EFBIG) show as failed writes that each command
// handles, instead of killing the program mid-line.
void IgnoreWriteSignals();

// While the zero calibration runs: Ctrl+C or SIGTERM cannot stop the instrument, so the
// program says what that means and ends at once with kInterruptedStatus.
void InstallCalibrationInterrupt();
