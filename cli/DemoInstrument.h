// --demo: the simulated instrument behind the driver layer instead of USB, with some of its
// faults to try out how the command line reports failures. Main thread, before any command.
#pragma once

#include <string>
#include <vector>

// The faults --demo-fault takes, with what each does, for the help text.
std::string DemoFaultHelp();

// Installs a fresh simulated instrument (on the fast clock: virtual time, so runs end at once)
// with the faults. False, with the reason, for a fault it does not know; nothing is installed.
bool InstallDemoInstrument(bool fastClock, const std::vector<std::string>& faults,
                           std::string& reason);
