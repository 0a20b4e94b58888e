// measure --reconnect: after a link fault, waiting until the instrument can be read again. It
// waits on the bus's change events (libusb's hotplug where the platform has them, a slow poll
// elsewhere) and tries the instrument when the bus changes, and every few seconds while one
// is there that did not answer; a stop request ends the wait at once.
// Main thread.
#pragma once

#include <string>

#include "services/ConnectionServices.h"

// Waits until the instrument answers the full Connect read, which fills `info`. serialNumber:
// the one --serial names (others found meanwhile are told once each and not used), or empty
// for the first one found. Says on standard error, with the time, every minute that it still
// waits. False when a stop was requested first.
bool WaitForInstrument(const std::string& serialNumber, InstrumentInfo& info);

// The time for messages of a run that goes on for days: "2026-03-14T09:30:00.125Z".
std::string MessageTime();
