// list: every instrument the driver finds, and every device that looks like one but cannot be
// used, with the reason.
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/Instruments.h"
#include "cli/JsonOutput.h"

namespace {

// "bus 001 port 1  S/N 70412318", or the reason it cannot be used.
std::string ListingLine(const InstrumentListing& instrument) {
    std::string line = instrument.device.location + "  ";
    if (instrument.device.access != UsbDeviceAccess::Available) {
        return line + AccessReason(instrument.device.access);
    }
    return line + "S/N " + instrument.serialNumber.value_or("unknown (it did not answer \"SRL\")");
}

}  // namespace

int ListCommand(bool json) {
    const std::vector<InstrumentListing> instruments = ListInstruments();
    std::string text;
    if (json) {
        text = JsonLine(ListDocument(instruments));
    } else {
        for (const InstrumentListing& instrument : instruments) {
            text += ListingLine(instrument) + "\n";
        }
    }
    Console::Get().Out(text);
    if (instruments.empty()) {
        ReportError("no instrument is attached");
        return ExitCode::kNoInstrument;
    }
    return ExitCode::kSuccess;
}
