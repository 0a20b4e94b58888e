// Ctrl+C (SIGINT) and SIGTERM during a run: they ask the run to stop exactly as the window's
// Stop does (MeasurementRunner::RequestStop), so the worker sends the stop, keeps reading until
// the instrument's "END" and every sample reaches the output. A second one ends the program at
// once (the signal's default action): the samples written so far are already flushed.
#pragma once

// Installs the handlers and ignores SIGPIPE, so that a closed standard output shows as a
// failed write instead of ending the program. Call once, before the run starts.
void InstallStopSignals();

// True once a stop signal arrived; a run that has not started yet must not start then.
bool StopSignalled();
