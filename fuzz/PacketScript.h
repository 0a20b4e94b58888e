// Turns fuzz input into what a scripted instrument sends: a list of bulk IN reads (packets with
// any bytes, NULs included, empty packets, failed reads) and what every read gets once the list
// is used up. The byte format is simple enough to write seeds by hand:
//
//   0x00..0x40  a packet of that many bytes, which follow (fewer when the input ends)
//   0xF0        a failed read (a pipe error or the 30 s time-out)
//   0xF1 n      4 x n empty packets in a row (enough to pass the idle limit cheaply)
//   other       one packet holding a reply fragment from kFragments (by value)
//
// Pure decoding; one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ScriptedUsbDriver.h"

// Reads once the script is used up.
enum class ScriptEnd {
    ReadsFail,     // every further read fails: the link is gone
    EmptyPackets,  // empty packets for ever: the instrument is alive but silent
};

class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : next(data), end(data + size) {}

    bool AtEnd() const { return next == end; }
    // 0 once the input is used up.
    std::uint8_t Byte() { return AtEnd() ? 0 : *next++; }
    // Up to count bytes, fewer when the input ends.
    std::string Bytes(std::size_t count);

private:
    const std::uint8_t* next;
    const std::uint8_t* end;
};

// Decodes the rest of the input as reads.
std::vector<ScriptedRead> DecodeReads(ByteReader& input);

// Queues the reads on the device and sets what comes after them.
void LoadScript(ScriptedDevice& device, const std::vector<ScriptedRead>& reads, ScriptEnd end);

// A packet's text as the program takes it: its bytes up to the first NUL.
std::string PacketText(const ScriptedRead& read);

// The texts of reads [first, last) of the script joined, as far as the script goes; reads past
// its end add nothing (failed or empty).
std::string DeliveredText(const std::vector<ScriptedRead>& reads, std::size_t first,
                          std::size_t last);
