#include "link/Instrument.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

#include "link/Sleep.h"

namespace {

constexpr char kCr = '\r';

// The tokens that end a reply read; "OK" only when the read is not a continuation. A packet
// ends the read when its text begins with one, a line when it is exactly one.
bool EndsCollection(std::string_view text, bool continuation, bool wholeLine) {
    const auto matches = [text, wholeLine](std::string_view token) {
        return wholeLine ? text == token : text.starts_with(token);
    };
    return matches("END") || matches("NG") || matches("NO") || (!continuation && matches("OK"));
}

// Looks at each line of a growing text once, as soon as its CR has arrived, so that a long
// reply costs linear time.
class CompleteLineScan {
public:
    // True when a line completed since the last call is exactly an ending token.
    bool FindsEndingLine(const std::string& text, bool continuation) {
        for (std::size_t cr = text.find(kCr, scanned); cr != std::string::npos;
             cr = text.find(kCr, lineStart)) {
            const std::string_view line(text.data() + lineStart, cr - lineStart);
            lineStart = cr + 1;
            if (EndsCollection(line, continuation, true)) {
                return true;
            }
        }
        scanned = text.size();
        return false;
    }
    // True once the scanned text holds a CR.
    bool SawCr() const { return lineStart > 0; }

private:
    std::size_t lineStart = 0;  // where the line not yet complete begins
    std::size_t scanned = 0;    // no CR before this, from lineStart on
};

// Cuts text after its first CR and returns the rest; text without a CR stays whole.
std::string CutAfterFirstCr(std::string& text) {
    const std::size_t cr = text.find(kCr);
    if (cr == std::string::npos) {
        return {};
    }
    std::string rest = text.substr(cr + 1);
    text.erase(cr + 1);
    return rest;
}

// The text before the first CR; false when there is none.
bool FirstLineOf(const std::string& text, std::string& line) {
    const std::size_t cr = text.find(kCr);
    if (cr == std::string::npos) {
        return false;
    }
    line = text.substr(0, cr);
    return true;
}

// The received bytes up to the first NUL.
std::string PacketText(const std::uint8_t* packet, std::uint32_t transferred) {
    return std::string(ReceivedText(
        packet, std::min<std::size_t>(transferred, CInstrument::kPacketBufferSize - 1)));
}

bool IsReplyTokenLine(const std::string& line) {
    return line == "OK\r" || line == "END\r" || line == "NG\r" || line == "NO\r";
}

}  // namespace

CInstrument::~CInstrument() {
    CloseLink();
}

int CInstrument::OpenLink(std::string& productId) {
    productId.clear();
    if (!Open(GUID_DEVINTERFACE_INSTRUMENT)) {
        return 0;
    }
    productId = GetProductId();
    return 1;
}

int CInstrument::CheckConnection(std::string& productId) {
    if (OpenLink(productId) == 0) {
        return 0;
    }
    CloseLink();
    return 1;
}

void CInstrument::CloseLink() {
    Close();
}

int CInstrument::SendCommand(const std::string& request) {
    // The CR needs the last byte of the 64 a request line may use.
    if (request.empty() || request.size() > kRequestBufferSize - 2) {
        return 0;
    }
    std::uint8_t line[kRequestBufferSize] = {};
    std::memcpy(line, request.data(), request.size());
    line[request.size()] = kCr;
    std::uint32_t transferred = 0;
    return WritePacket(line, static_cast<std::uint32_t>(request.size() + 1), transferred) ? 1 : 0;
}

int CInstrument::ReadReplyLine(bool continuation, std::string& line, bool patient) {
    if (TakePendingLine(line)) {
        return 1;
    }
    int idleCount = 0;
    const int idleLimit = patient ? kPatientIdleLimit : kIdleLimit;
    CompleteLineScan lines;
    for (;;) {
        std::uint8_t packet[kPacketBufferSize];
        std::uint32_t transferred = 0;
        if (!ReadPacket(packet, kPacketBufferSize, transferred)) {
            return 0;
        }
        const std::string packetText = PacketText(packet, transferred);
        if (packetText.empty()) {
            if (idleCount > idleLimit) {
                // Nothing collected is lost: as at a normal end, the first line goes out and
                // the rest waits for the next read. Text without a CR goes out whole.
                SetPendingText(CutAfterFirstCr(line));
                return 1;
            }
            SleepMilliseconds(kEmptyPacketSleepMs);
            ++idleCount;
        }
        line += packetText;
        if (line.size() > kReplyLimitBytes) {
            return 0;
        }
        const bool packetEnds = EndsCollection(packetText, continuation, false);
        if (!lines.FindsEndingLine(line, continuation) && !packetEnds) {
            if (patient && !packetText.empty()) {
                idleCount = 0;  // the instrument is still talking
            }
            continue;
        }
        if (lines.SawCr()) {
            SetPendingText(CutAfterFirstCr(line));
            return 1;
        }
    }
}

bool CInstrument::TakePendingLine(std::string& line) {
    const std::size_t cr = pendingText.find(kCr, pendingStart);
    const std::size_t end = cr == std::string::npos ? pendingText.size() : cr + 1;
    line.assign(pendingText, pendingStart, end - pendingStart);
    if (cr == std::string::npos) {
        return false;
    }
    pendingStart = end;
    return true;
}

void CInstrument::SetPendingText(std::string text) {
    pendingText = std::move(text);
    pendingStart = 0;
}

std::string CInstrument::TakePendingText() {
    std::string taken(PendingText());
    SetPendingText({});
    return taken;
}

int CInstrument::Exchange(bool openClose, const std::string& request, std::string& firstLine,
                          std::string& secondLine, bool expectEnd, bool patient) {
    using namespace ExchangeResult;
    firstLine.clear();
    secondLine.clear();
    std::string productId;
    if (openClose && OpenLink(productId) == 0) {
        return kOpenFailed;
    }
    const auto closeIfOwned = [this, openClose] {
        if (openClose) {
            CloseLink();
        }
    };
    std::string reply;
    int result = SendAndReadFirstReply(request, reply, patient);
    if (result == kSuccess) {
        FirstLineOf(reply, firstLine);
        if (expectEnd) {
            result = ReadSecondLine(secondLine);
        }
    }
    closeIfOwned();
    return result;
}

int CInstrument::SendAndReadFirstReply(const std::string& request, std::string& reply,
                                       bool patient) {
    using namespace ExchangeResult;
    reply.clear();
    if (SendCommand(request) == 0) {
        return kWriteFailed;
    }
    if (ReadReplyLine(false, reply, patient) == 0) {
        return kFirstReadFailed;
    }
    return reply.find(kCr) == std::string::npos ? kFirstLineWithoutCr : kSuccess;
}

int CInstrument::ReadSecondLine(std::string& secondLine) {
    using namespace ExchangeResult;
    std::string reply;
    if (ReadReplyLine(false, reply, false) == 0) {
        return kSecondReadFailed;
    }
    if (!FirstLineOf(reply, secondLine)) {
        return kSecondLineWithoutCr;
    }
    return secondLine == "END" ? kSuccess : kSecondLineNotEnd;
}

int CInstrument::Query(const std::string& request, const std::string& expectedFirstLine,
                       const std::string& terminator, std::string& data) {
    data.clear();
    std::string productId;
    if (OpenLink(productId) == 0) {
        return 0;
    }
    std::string reply;
    std::string firstLine;
    const bool accepted = SendCommand(request) != 0 && ReadReplyLine(false, reply, false) != 0 &&
                          FirstLineOf(reply, firstLine) && firstLine == expectedFirstLine;
    if (!accepted) {
        CloseLink();
        return 0;
    }
    const std::string endLine = terminator + kCr;
    std::string collected;
    const bool ended = CollectDataLines(endLine, collected);
    CloseLink();
    data = collected;
    // The end line closes the reply; what comes before it, less the CR that separates it, is
    // the data. No data line at all is a failure.
    if (!ended || collected.size() == endLine.size()) {
        return 0;
    }
    data.erase(collected.size() - endLine.size() - 1);
    return 1;
}

bool CInstrument::CollectDataLines(const std::string& endLine, std::string& collected) {
    std::string line;
    while (ReadReplyLine(true, line, false) != 0) {
        collected += line;
        // Text without a CR: the idle limit passed before the line was complete.
        if (line.empty() || line.back() != kCr) {
            return false;
        }
        if (line == endLine) {
            return true;
        }
        if (IsReplyTokenLine(line)) {
            return false;
        }
    }
    return false;
}

int CInstrument::StopAndReset(bool openClose) {
    std::string productId;
    if (openClose && OpenLink(productId) == 0) {
        return 0;
    }
    const int result = StopThenReset();
    if (openClose) {
        CloseLink();
    }
    return result;
}

int CInstrument::StopThenReset() {
    std::string reply;
    std::string firstLine;
    if (SendCommand("STP") == 0 || ReadReplyLine(true, reply, false) == 0 ||
        !FirstLineOf(reply, firstLine)) {
        return 0;
    }
    if (firstLine == "OK") {
        if (ReadReplyLine(true, reply, false) == 0) {
            return 0;
        }
    } else if (firstLine != "NO") {
        return 0;
    }
    std::string resetLine;
    if (SendCommand("RM") == 0 || ReadReplyLine(false, reply, false) == 0 ||
        !FirstLineOf(reply, resetLine)) {
        return 0;
    }
    return resetLine == "OK" ? 1 : 0;
}
