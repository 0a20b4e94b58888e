#include "PacketScript.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

constexpr std::uint8_t kMaxPacketHeader = 0x40;
constexpr std::uint8_t kFailedRead = 0xF0;
constexpr std::uint8_t kEmptyRun = 0xF1;
constexpr int kEmptyRunUnit = 4;

// Replies and stream pieces the instrument really sends, so the fuzzer reaches deep states
// without having to guess the tokens byte by byte.
constexpr std::array<std::string_view, 16> kFragments = {
    "OK\r",
    "END\r",
    "NG\r",
    "NO\r",
    "OK\rEND\r",
    "OK\rNG\r",
    "1.234E+01 5.678E-01 9.999E+02\r",
    "1.0 2.0 3.0\r",
    "OK",
    "END",
    "\r",
    "OK\r70412318\rEND\r",
    "1.0 2.0\rEND\r",
    "NOV 2026\r",
    "NO ERROR\rEND\r",
    "OK\rOK\rEND\r",
};

}  // namespace

std::string ByteReader::Bytes(std::size_t count) {
    const std::size_t available =
        std::min<std::size_t>(count, static_cast<std::size_t>(end - next));
    std::string bytes(reinterpret_cast<const char*>(next), available);
    next += available;
    return bytes;
}

std::vector<ScriptedRead> DecodeReads(ByteReader& input) {
    std::vector<ScriptedRead> reads;
    while (!input.AtEnd()) {
        const std::uint8_t header = input.Byte();
        if (header <= kMaxPacketHeader) {
            reads.push_back({true, input.Bytes(header)});
        } else if (header == kFailedRead) {
            reads.push_back({false, std::string()});
        } else if (header == kEmptyRun) {
            const int count = kEmptyRunUnit * input.Byte();
            reads.insert(reads.end(), static_cast<std::size_t>(count), ScriptedRead{});
        } else {
            reads.push_back({true, std::string(kFragments[header % kFragments.size()])});
        }
    }
    return reads;
}

void LoadScript(ScriptedDevice& device, const std::vector<ScriptedRead>& reads, ScriptEnd end) {
    device.reads.assign(reads.begin(), reads.end());
    if (end == ScriptEnd::EmptyPackets) {
        device.whenExhausted = ScriptedRead{};
    } else {
        device.whenExhausted.reset();
    }
}

std::string PacketText(const ScriptedRead& read) {
    if (!read.succeeds) {
        return {};
    }
    return read.bytes.substr(0, read.bytes.find('\0'));
}

std::string DeliveredText(const std::vector<ScriptedRead>& reads, std::size_t first,
                          std::size_t last) {
    std::string text;
    for (std::size_t i = first; i < last && i < reads.size(); ++i) {
        text += PacketText(reads[i]);
    }
    return text;
}
