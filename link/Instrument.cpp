#include "link/Instrument.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "link/Sleep.h"

namespace {

constexpr char kCr = '\r';

// The first characters of a packet are what tells a complete reply, never a later line.
bool PacketEndsCollection(const std::string& packetText, bool continuation) {
    const auto startsWith = [&packetText](const char* token) {
        return packetText.compare(0, std::strlen(token), token) == 0;
    };
    return startsWith("END") || startsWith("NG") || startsWith("NO") ||
           (!continuation && startsWith("OK"));
}

// Splits text at its first CR: text keeps up to and including it, the rest is returned.
// False (text untouched) when there is no CR.
bool SplitAfterFirstCr(std::string& text, std::string& rest) {
    const std::size_t cr = text.find(kCr);
    if (cr == std::string::npos) {
        return false;
    }
    rest = text.substr(cr + 1);
    text.erase(cr + 1);
    return true;
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
    const auto* bytes = reinterpret_cast<const char*>(packet);
    const std::size_t received =
        std::min<std::size_t>(transferred, CInstrument::kPacketBufferSize - 1);
    const void* nul = std::memchr(bytes, '\0', received);
    return std::string(bytes, nul != nullptr ? static_cast<const char*>(nul) : bytes + received);
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
    line = pendingText;
    std::string rest;
    if (!pendingText.empty() && SplitAfterFirstCr(line, rest)) {
        pendingText = std::move(rest);
        return 1;
    }
    int idleCount = 0;
    const int idleLimit = patient ? kPatientIdleLimit : kIdleLimit;
    for (;;) {
        std::uint8_t packet[kPacketBufferSize];
        std::uint32_t transferred = 0;
        if (!ReadPacket(packet, kPacketBufferSize, transferred)) {
            return 0;
        }
        const std::string packetText = PacketText(packet, transferred);
        if (packetText.empty()) {
            if (idleCount > idleLimit) {
                // The caller judges what was collected. The pending text is part of it now;
                // keeping it too would hand it out a second time to the next read.
                pendingText.clear();
                return 1;
            }
            SleepMilliseconds(kEmptyPacketSleepMs);
            ++idleCount;
        }
        line += packetText;
        if (line.size() > kReplyLimitBytes) {
            return 0;
        }
        if (!PacketEndsCollection(packetText, continuation)) {
            if (patient && !packetText.empty()) {
                idleCount = 0;  // the instrument is still talking
            }
            continue;
        }
        if (SplitAfterFirstCr(line, rest)) {
            pendingText = std::move(rest);
            return 1;
        }
    }
}

std::string CInstrument::TakePendingText() {
    return std::exchange(pendingText, std::string());
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
    std::string text;
    while (ReadReplyLine(true, text, false) != 0) {
        // At the idle limit a read hands out everything it collected, which may be several
        // lines: each of them is judged on its own.
        if (text.empty()) {
            return false;
        }
        std::size_t start = 0;
        while (start < text.size()) {
            const std::size_t cr = text.find(kCr, start);
            if (cr == std::string::npos) {
                // Text without a CR means the idle limit was reached: reading on would only
                // hand the same pending text out again.
                collected.append(text, start);
                return false;
            }
            const std::string line = text.substr(start, cr + 1 - start);
            collected += line;
            if (line == endLine) {
                return true;
            }
            if (IsReplyTokenLine(line)) {
                return false;
            }
            start = cr + 1;
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
