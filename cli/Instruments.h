// Which instruments are attached, and which one the command line talks to. Without --serial
// every command talks to the first instrument found, as the window does; with it, the driver
// is made to answer every search with the instrument of that serial number.
// The serial number is the instrument's own answer to "SRL", the one the window shows as "S/N"
// (the USB serial descriptor is not part of what the instrument is known to provide).
// Main thread, before any run.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "link/UsbDriver.h"

struct InstrumentListing {
    UsbDeviceListing device;
    std::optional<std::string> serialNumber;  // read from the available ones; none if it failed
};

// Every device the active driver lists, the available ones asked for their serial number.
std::vector<InstrumentListing> ListInstruments();

// Why a device cannot be used, in words and with what to do about it; empty when it can.
std::string AccessReason(UsbDeviceAccess access);

// The driver of the whole bus (USB, or the demo's), under any choice of one instrument: what
// lists and waits for instruments.
std::shared_ptr<UsbDriver> BusDriver();

// Makes every later CInstrument talk to the instrument whose "SRL" answer is serialNumber.
// Returns an ExitCode: kSuccess, or why it is not there (message says it in words); the serial
// numbers of the other instruments asked go to otherSerialNumbers when given.
int ChooseInstrumentBySerial(const std::string& serialNumber, std::string& message,
                             std::vector<std::string>* otherSerialNumbers = nullptr);

// Without --serial: when several instruments can be used, makes every later CInstrument talk to
// the first (as the window would) and says on standard error which one that is and which others
// there are. With one or none it changes nothing.
void ChooseFirstInstrument();

// After an instrument operation failed: when no instrument can be used (none attached, no
// permission, busy) reports why on standard error and returns that ExitCode; otherwise reports
// whenPresent (the window's text for the failure) and returns kLinkFailure.
int ReportInstrumentFailure(const std::string& whenPresent);
