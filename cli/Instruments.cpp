#include "cli/Instruments.h"

#include <algorithm>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "link/Instrument.h"

namespace {

// Reads "SRL" from the device at path with a driver that finds only it; the active driver is
// put back afterwards.
std::optional<std::string> ReadSerialNumberOf(const std::shared_ptr<UsbDriver>& driver,
                                              const std::string& path) {
    InstallUsbDriver(ChooseUsbDevice(driver, path));
    std::string serial;
    bool read = false;
    {
        CInstrument instrument;
        read = instrument.ReadSerialNumber(serial) == 1;
    }
    InstallUsbDriver(driver);
    return read ? std::optional<std::string>(serial) : std::nullopt;
}

int ExitCodeOf(UsbDeviceAccess access) {
    switch (access) {
        case UsbDeviceAccess::Available:
            return ExitCode::kSuccess;
        case UsbDeviceAccess::NoPermission:
            return ExitCode::kNoPermission;
        case UsbDeviceAccess::Busy:
            return ExitCode::kInstrumentBusy;
        case UsbDeviceAccess::Unopenable:
            break;
    }
    return ExitCode::kLinkFailure;
}

}  // namespace

std::shared_ptr<UsbDriver> BusDriver() {
    static const std::shared_ptr<UsbDriver> bus = ActiveUsbDriver();
    return bus;
}

std::vector<InstrumentListing> ListInstruments() {
    const std::shared_ptr<UsbDriver> driver = BusDriver();
    std::vector<InstrumentListing> instruments;
    for (const UsbDeviceListing& device : driver->ListDevices(GUID_DEVINTERFACE_INSTRUMENT)) {
        InstrumentListing listing{device, std::nullopt};
        if (device.access == UsbDeviceAccess::Available) {
            listing.serialNumber = ReadSerialNumberOf(driver, device.path);
        }
        instruments.push_back(listing);
    }
    return instruments;
}

std::string AccessReason(UsbDeviceAccess access) {
    switch (access) {
        case UsbDeviceAccess::Available:
            return {};
        case UsbDeviceAccess::NoPermission:
            return "no permission: this user may not open it. The udev rule 70-qiro7.rules "
                   "(installed with the program) gives access to the user at the computer's "
                   "seat; install it and plug the instrument in again. Logged in over SSH, "
                   "without a seat, add a rule that gives the device to a group of yours "
                   "(GROUP=\"...\", MODE=\"0660\").";
        case UsbDeviceAccess::Busy:
            return "busy: another program holds it (a measurement program or another "
                   "qiro7-cli); end that one first.";
        case UsbDeviceAccess::Unopenable:
            break;
    }
    return "cannot be opened: it did not answer as an instrument does; plug it in again.";
}

int ChooseInstrumentBySerial(const std::string& serialNumber, std::string& message,
                             std::vector<std::string>* otherSerialNumbers) {
    const std::shared_ptr<UsbDriver> driver = BusDriver();
    const std::vector<InstrumentListing> instruments = ListInstruments();
    for (const InstrumentListing& instrument : instruments) {
        if (instrument.serialNumber == serialNumber) {
            InstallUsbDriver(ChooseUsbDevice(driver, instrument.device.path));
            return ExitCode::kSuccess;
        }
        if (instrument.serialNumber.has_value() && otherSerialNumbers != nullptr) {
            otherSerialNumbers->push_back(*instrument.serialNumber);
        }
    }
    message = "no instrument with serial number " + serialNumber + " is attached";
    // One that could not be asked may be the one wanted: say why it could not.
    for (const InstrumentListing& instrument : instruments) {
        if (instrument.device.access != UsbDeviceAccess::Available) {
            message += "; the one at " + instrument.device.location + " is not known, " +
                       AccessReason(instrument.device.access);
            return ExitCodeOf(instrument.device.access);
        }
    }
    return ExitCode::kNoInstrument;
}

void ChooseFirstInstrument() {
    const std::shared_ptr<UsbDriver> driver = BusDriver();
    InstallUsbDriver(driver);
    const std::vector<UsbDeviceListing> devices = driver->ListDevices(GUID_DEVINTERFACE_INSTRUMENT);
    const auto available = std::count_if(
        devices.begin(), devices.end(),
        [](const UsbDeviceListing& device) { return device.access == UsbDeviceAccess::Available; });
    char firstPath[512] = {};
    if (available < 2 ||
        !driver->FindDevicePath(GUID_DEVINTERFACE_INSTRUMENT, firstPath, sizeof firstPath)) {
        return;
    }
    // The one a search finds first is the window's, whatever order the listing has.
    std::string chosen;
    std::string others;
    for (const InstrumentListing& instrument : ListInstruments()) {
        if (instrument.device.access != UsbDeviceAccess::Available) {
            continue;
        }
        const std::string named = "S/N " + instrument.serialNumber.value_or("unknown") + " (" +
                                  instrument.device.location + ")";
        if (instrument.device.path == firstPath) {
            chosen = named;
        } else {
            others += (others.empty() ? "" : ", ") + named;
        }
    }
    InstallUsbDriver(ChooseUsbDevice(driver, firstPath));
    Console::Get().Warning(std::to_string(available) + " instruments are attached; using " +
                           chosen + ", the first found; the others: " + others +
                           ". Choose one with --serial.");
}

int ReportInstrumentFailure(const std::string& whenPresent) {
    const std::vector<UsbDeviceListing> devices =
        ActiveUsbDriver()->ListDevices(GUID_DEVINTERFACE_INSTRUMENT);
    const bool anyAvailable = std::any_of(
        devices.begin(), devices.end(),
        [](const UsbDeviceListing& device) { return device.access == UsbDeviceAccess::Available; });
    if (anyAvailable) {
        ReportError(whenPresent);
        return ExitCode::kLinkFailure;
    }
    if (devices.empty()) {
        ReportError("no instrument is attached");
        return ExitCode::kNoInstrument;
    }
    ReportError("the instrument at " + devices.front().location + ": " +
                AccessReason(devices.front().access));
    return ExitCodeOf(devices.front().access);
}
