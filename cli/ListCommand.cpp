// list: every instrument the driver finds, and every device that looks like one but cannot be
// used, with the reason.
#include <cstdio>

#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "cli/Instruments.h"
#include "cli/JsonText.h"

namespace {

const char* AccessName(UsbDeviceAccess access) {
    switch (access) {
        case UsbDeviceAccess::Available:
            return "available";
        case UsbDeviceAccess::NoPermission:
            return "no-permission";
        case UsbDeviceAccess::Busy:
            return "busy";
        case UsbDeviceAccess::Unopenable:
            break;
    }
    return "unopenable";
}

// "bus 001 port 1  S/N 70412318", or the reason it cannot be used.
std::string ListingLine(const InstrumentListing& instrument) {
    std::string line = instrument.device.location + "  ";
    if (instrument.device.access != UsbDeviceAccess::Available) {
        return line + AccessReason(instrument.device.access);
    }
    return line + "S/N " + instrument.serialNumber.value_or("unknown (it did not answer \"SRL\")");
}

std::string ListingJson(const InstrumentListing& instrument) {
    return JsonObject({
        {"location", JsonString(instrument.device.location)},
        {"path", JsonString(instrument.device.path)},
        {"access", JsonString(AccessName(instrument.device.access))},
        {"serialNumber",
         instrument.serialNumber.has_value() ? JsonString(*instrument.serialNumber) : "null"},
        {"reason", JsonString(AccessReason(instrument.device.access))},
    });
}

}  // namespace

int ListCommand(bool json) {
    const std::vector<InstrumentListing> instruments = ListInstruments();
    if (json) {
        std::string array = "[";
        for (const InstrumentListing& instrument : instruments) {
            array += (array.size() > 1 ? "," : "") + ListingJson(instrument);
        }
        std::printf("%s]\n", array.c_str());
    } else {
        for (const InstrumentListing& instrument : instruments) {
            std::printf("%s\n", ListingLine(instrument).c_str());
        }
    }
    std::fflush(stdout);
    if (instruments.empty()) {
        ReportError("no instrument is attached");
        return ExitCode::kNoInstrument;
    }
    return ExitCode::kSuccess;
}
