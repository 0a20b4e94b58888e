// The command channel against an instrument that may send anything: a sequence of channel
// operations on one CInstrument (so pending text carries from one to the next) over a scripted
// driver whose packets, failures and silences come from the input.
//
// Input: [end mode][operation count][2 bytes per operation][packet script, see PacketScript.h]
// Operation byte: bits 0-2 the operation, bit 3 opening fails, bit 4 no device, bit 5 the write
// fails. Argument byte: flags and the request, per operation.
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "PacketScript.h"
#include "ScriptedUsbDriver.h"
#include "link/Instrument.h"
#include "link/ModalInteraction.h"
#include "link/Sleep.h"
#include "measure/TextRules.h"
#include "res/StringTable.h"
#include "tests/common/RecordingBoxes.h"

namespace {

constexpr char kCr = '\r';
constexpr int kSleepsPerReplyRead = CInstrument::kIdleLimit + 1;
// The most reply reads any one operation makes once nothing arrives any more: StopAndReset's
// "STP" reply, its second line and the "RM" reply.
constexpr std::size_t kSilentReadsPerOperation = 3 * (kSleepsPerReplyRead + 1);

long sleeps = 0;
void CountSleep(int) {
    ++sleeps;
}

const std::array<std::string, 13> kRequests = {
    "",
    "WHO",
    "MRR",
    "CFW 1.000",
    "MRW -1",
    "STP",
    "CAL",
    "LOG",
    "ERR",
    std::string(63, 'A'),  // the longest request line that fits
    std::string(64, 'A'),  // one too long
    "X\rY",
    std::string("A\0B", 3),
};

std::size_t CountOf(const std::string& text, char c) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), c));
}

bool IsToken(const std::string& line) {
    return line == "OK" || line == "END" || line == "NG" || line == "NO";
}

// Whether a complete line of text (one its CR has followed) ends a reply read.
bool HoldsEndingLine(const std::string& text, bool continuation) {
    std::vector<std::string> lines = SplitText(text, kCr);
    if (!lines.empty()) {
        lines.pop_back();  // after the last CR: not complete
    }
    return std::any_of(lines.begin(), lines.end(), [continuation](const std::string& line) {
        return IsToken(line) && (line != "OK" || !continuation);
    });
}

// What a read hands out: its first line, CR included, or text with no CR at all.
bool IsOneLineOrNone(const std::string& text) {
    const std::size_t crs = CountOf(text, kCr);
    return crs == 0 || (crs == 1 && text.back() == kCr);
}

bool Fits(const std::string& request) {
    return !request.empty() && request.size() <= CInstrument::kRequestBufferSize - 2;
}

struct Operation {
    std::uint8_t kind = 0;
    std::uint8_t argument = 0;

    bool OpenFails() const { return (kind & 0x08) != 0; }
    bool Absent() const { return (kind & 0x10) != 0; }
    bool WriteFails() const { return (kind & 0x20) != 0; }
    bool Flag(int bit) const { return (argument & (1 << bit)) != 0; }
    const std::string& Request() const { return kRequests[(argument >> 3) % kRequests.size()]; }
};

class ChannelFuzz {
public:
    ChannelFuzz(std::shared_ptr<ScriptedDevice> scripted, std::vector<ScriptedRead> script,
                ScriptEnd scriptEnd)
        : device(std::move(scripted)), reads(std::move(script)), end(scriptEnd) {}

    void Run(const Operation& operation);

private:
    // A patient read waits for as long as reads succeed: only a script that ends can end it.
    bool MayWaitPatiently() const { return end == ScriptEnd::ReadsFail; }
    bool CanOpen() const { return device->present && !device->openFails; }

    void ReadLine(const Operation& operation);
    void Exchange(const Operation& operation);
    void Query(const Operation& operation);
    void StopAndReset(const Operation& operation);
    void Calibrate();
    void StartMeasurement();
    void StopMeasurement();

    std::string Delivered() const { return DeliveredText(reads, readsBefore, device->ReadCount()); }
    // What a reply read had collected when it read its last packet.
    std::string CollectedBeforeLastRead() const {
        return pendingBefore + DeliveredText(reads, readsBefore, device->ReadCount() - 1);
    }
    std::vector<std::string> WritesOfOperation() const {
        return std::vector<std::string>(device->writes.begin() + static_cast<long>(writesBefore),
                                        device->writes.end());
    }
    bool LastReadFailed() const {
        const std::size_t count = device->ReadCount();
        if (count == readsBefore) {
            return false;
        }
        return count > reads.size() ? end == ScriptEnd::ReadsFail : !reads[count - 1].succeeds;
    }
    void CheckWrite(const std::string& request, bool linkOpen);

    std::shared_ptr<ScriptedDevice> device;
    std::vector<ScriptedRead> reads;
    ScriptEnd end;
    CInstrument instrument;
    std::size_t readsBefore = 0;
    std::size_t writesBefore = 0;
    std::string pendingBefore;
};

void ChannelFuzz::Run(const Operation& operation) {
    device->openFails = operation.OpenFails();
    device->present = !operation.Absent();
    device->writeFails = operation.WriteFails();
    readsBefore = device->ReadCount();
    writesBefore = device->writes.size();
    pendingBefore = instrument.PendingText();
    switch (operation.kind & 0x07) {
        case 0:
            ReadLine(operation);
            break;
        case 1:
            Exchange(operation);
            break;
        case 2:
            Query(operation);
            break;
        case 3:
            StopAndReset(operation);
            break;
        case 4:
            if (MayWaitPatiently()) {
                Calibrate();
            }
            break;
        case 5:
            StartMeasurement();
            break;
        case 6:
            StopMeasurement();
            break;
        default:
            instrument.CloseLink();
            break;
    }
    // Nothing hangs: once the instrument has gone silent each reply read gives up at the idle
    // limit.
    const std::size_t scripted = std::max(readsBefore, reads.size());
    const std::size_t silentReads =
        device->ReadCount() > scripted ? device->ReadCount() - scripted : 0;
    Require(silentReads <= kSilentReadsPerOperation, "a silent instrument holds an operation");
}

// No text is lost or handed out twice: what the read hands out and what it keeps pending is
// exactly what was pending before and what arrived meanwhile. A read hands out one line, also at
// the idle limit, and reads no packet once a whole line of what it collected ends the reply.
void ChannelFuzz::ReadLine(const Operation& operation) {
    if (!instrument.IsOpen()) {
        device->openFails = false;
        device->present = true;
        std::string productId;
        Require(instrument.OpenLink(productId) == 1, "an openable device does not open");
        readsBefore = device->ReadCount();
    }
    const bool continuation = operation.Flag(0);
    const bool patient = operation.Flag(1) && MayWaitPatiently();
    const long sleepsBefore = sleeps;
    std::string line;
    const int result = instrument.ReadReplyLine(continuation, line, patient);
    const std::string pendingAfter(instrument.PendingText());
    const std::string arrived = pendingBefore + Delivered();
    Require(result == 0 || result == 1, "a reply read returns 1 or 0");
    if (pendingBefore.find(kCr) != std::string::npos) {
        Require(device->ReadCount() == readsBefore, "a read with a pending line reads the pipe");
    } else if (device->ReadCount() > readsBefore) {
        Require(!HoldsEndingLine(CollectedBeforeLastRead(), continuation),
                "a reply read goes on past a whole ending line");
    }
    if (result == 1) {
        Require(line + pendingAfter == arrived, "a reply read loses or repeats text");
        Require(IsOneLineOrNone(line), "a reply read hands out more than one line");
        Require(line.find(kCr) != std::string::npos || pendingAfter.empty(),
                "text without a CR is handed out and also kept pending");
    } else {
        Require(pendingAfter == pendingBefore, "a failed reply read changes the pending text");
        Require(line == arrived, "a failed reply read loses what it collected");
        Require(LastReadFailed() || line.size() > CInstrument::kReplyLimitBytes,
                "a reply read fails without a failed pipe read or an oversized reply");
    }
    Require(patient || sleeps - sleepsBefore <= kSleepsPerReplyRead,
            "a reply read sleeps past the idle limit");
}

void ChannelFuzz::CheckWrite(const std::string& request, bool linkOpen) {
    const std::vector<std::string> writes = WritesOfOperation();
    if (!Fits(request) || !linkOpen) {
        Require(writes.empty(), "a refused request reaches the pipe");
        return;
    }
    Require(!writes.empty() && writes.front() == request + kCr,
            "the request line is not the request and one CR");
}

void ChannelFuzz::Exchange(const Operation& operation) {
    const bool openClose = operation.Flag(0);
    const bool expectEnd = operation.Flag(1);
    const bool patient = operation.Flag(2) && MayWaitPatiently();
    const std::string& request = operation.Request();
    const bool wasOpen = instrument.IsOpen();
    const bool opens = openClose ? CanOpen() : wasOpen;
    std::string firstLine = "stale";
    std::string secondLine = "stale";
    const int result =
        instrument.Exchange(openClose, request, firstLine, secondLine, expectEnd, patient);
    using namespace ExchangeResult;
    Require(result <= kSuccess && result >= kSecondLineNotEnd, "an exchange code out of range");
    Require((result == kOpenFailed) == (openClose && !opens), "-1 without a failed open");
    if (!opens) {
        Require(openClose || result == kWriteFailed, "a request goes out over a closed link");
        return;
    }
    CheckWrite(request, true);
    const bool written = Fits(request) && !device->writeFails;
    Require((result == kWriteFailed) == !written, "-2 does not mean the request was not written");
    Require(firstLine.find(kCr) == std::string::npos && secondLine.find(kCr) == std::string::npos,
            "an exchange hands out a line with its CR");
    if (result == kSuccess && expectEnd) {
        Require(secondLine == "END", "an exchange succeeds without END");
    }
    if (result == kSecondLineNotEnd) {
        Require(secondLine != "END", "an exchange refuses END");
    }
    if (!expectEnd) {
        Require(result >= kFirstLineWithoutCr, "a one-line exchange reads a second line");
    }
    Require(openClose ? !instrument.IsOpen() : instrument.IsOpen() == wasOpen,
            "an exchange leaves the link in the wrong state");
}

void ChannelFuzz::Query(const Operation& operation) {
    const std::string& request = operation.Request();
    std::string data = "stale";
    const int result = instrument.Query(request, "OK", "END", data);
    Require(result == 0 || result == 1, "a query returns 1 or 0");
    Require(!instrument.IsOpen(), "a query leaves the link open");
    if (!CanOpen()) {
        Require(result == 0 && data.empty(), "a query succeeds without a link");
        return;
    }
    CheckWrite(request, true);
    if (result == 0) {
        return;
    }
    const std::string arrived = pendingBefore + Delivered();
    Require(arrived.find("OK\r" + data + "\rEND\r") != std::string::npos,
            "a query's data is not what arrived between OK and END");
    for (const std::string& line : SplitText(data, kCr)) {
        Require(!IsToken(line), "a query's data holds a reply token line");
    }
}

void ChannelFuzz::StopAndReset(const Operation& operation) {
    const bool openClose = operation.Flag(0);
    const bool wasOpen = instrument.IsOpen();
    const int result = instrument.StopAndReset(openClose);
    Require(result == 0 || result == 1, "stop-and-reset returns 1 or 0");
    if (openClose) {
        Require(!instrument.IsOpen(), "stop-and-reset leaves its own link open");
    } else {
        Require(instrument.IsOpen() == wasOpen, "stop-and-reset changes a link it did not open");
    }
    const std::vector<std::string> writes = WritesOfOperation();
    if (result == 1) {
        Require(writes == std::vector<std::string>{"STP\r", "RM\r"},
                "stop-and-reset succeeds without sending STP and RM");
    }
    Require(writes.size() <= 2 && (writes.empty() || writes.front() == "STP\r"),
            "stop-and-reset sends something else");
}

void ChannelFuzz::Calibrate() {
    auto boxes = std::make_shared<RecordingBoxes>();
    InstallModalInteraction(boxes);
    const int result = instrument.Calibrate();
    InstallModalInteraction(nullptr);
    Require(result <= 0 && result >= ExchangeResult::kSecondLineNotEnd,
            "calibration code out of range");
    Require(!instrument.IsOpen(), "calibration leaves the link open");
    Require(boxes->boxes.size() <= 1, "calibration shows more than one box");
    if (!boxes->boxes.empty()) {
        Require(result == 0, "calibration shows its box and reports a failure");
        const std::string& text = boxes->boxes.front().text;
        Require(text == LoadResourceString(IDS_ZERO_CALIBRATION_COMPLETED) ||
                    text == LoadResourceString(IDS_BLOCK_OUT_LIGHT),
                "calibration shows a box of someone else");
    }
}

void ChannelFuzz::StartMeasurement() {
    instrument.CloseLink();
    const bool opens = CanOpen();
    const int result = instrument.StartMeasurement();
    Require((result == ExchangeResult::kOpenFailed) == !opens, "start: -1 without a failed open");
    // The stream follows on the open link: the start never closes it.
    Require(!opens || instrument.IsOpen(), "start closes the stream's link");
}

// The stop's reply read hands out everything it collected: the worker feeds it back into the
// stream, so nothing may go missing between it and the pending text.
void ChannelFuzz::StopMeasurement() {
    const bool wasOpen = instrument.IsOpen();
    std::string replyText = "stale";
    const int result = instrument.StopMeasurement(replyText);
    using namespace ExchangeResult;
    Require(result <= kSuccess && result >= kFirstLineWithoutCr && result != kOpenFailed,
            "stop: a one-line exchange code out of range");
    Require(instrument.IsOpen() == wasOpen, "stop changes the stream's link");
    const std::string arrived = pendingBefore + Delivered();
    if (result == kWriteFailed) {
        Require(replyText.empty() && Delivered().empty(), "stop reads after a failed write");
    } else if (result == kFirstReadFailed) {
        Require(replyText == arrived && instrument.PendingText() == pendingBefore,
                "a failed stop reply read loses text");
    } else {
        Require(replyText + std::string(instrument.PendingText()) == arrived,
                "the stop reply loses text");
        Require(IsOneLineOrNone(replyText), "the stop hands out more than one line");
        Require((result == kSuccess) == (replyText.find(kCr) != std::string::npos),
                "stop: -4 does not mean a reply without CR");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SetSleepFunction(&CountSleep);
    ByteReader input(data, size);
    const ScriptEnd end = (input.Byte() & 1) != 0 ? ScriptEnd::EmptyPackets : ScriptEnd::ReadsFail;
    std::vector<Operation> operations(input.Byte() % 16 + 1);
    for (Operation& operation : operations) {
        operation.kind = input.Byte();
        operation.argument = input.Byte();
    }
    const std::vector<ScriptedRead> reads = DecodeReads(input);

    auto device = std::make_shared<ScriptedDevice>();
    LoadScript(*device, reads, end);
    InstallUsbDriver(std::make_shared<ScriptedUsbDriver>(device));
    {
        ChannelFuzz fuzz(device, reads, end);
        for (const Operation& operation : operations) {
            fuzz.Run(operation);
        }
    }
    Require(device->OpenHandles() == 0, "a link outlives its CInstrument");
    InstallUsbDriver(nullptr);
    return 0;
}
