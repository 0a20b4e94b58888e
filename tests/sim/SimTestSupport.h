// Helpers for talking to the firmware emulation directly, byte for byte.
#pragma once

#include <string>
#include <vector>

#include "sim/SimulatedInstrument.h"

// Sends one request line (CR added) and takes every packet queued for it, stopping at the
// first empty packet, or after `maxPackets` (a stream never runs dry on the fast clock).
inline std::vector<std::string> Converse(SimulatedInstrument& instrument,
                                         const std::string& request,
                                         std::size_t maxPackets = 1000) {
    instrument.ReceiveBytes(request + "\r");
    std::vector<std::string> packets;
    while (packets.size() < maxPackets) {
        const auto packet = instrument.NextPacket();
        if (!packet.has_value() || packet->empty()) {
            break;
        }
        packets.push_back(*packet);
    }
    return packets;
}

inline std::string Joined(const std::vector<std::string>& packets) {
    std::string all;
    for (const std::string& packet : packets) {
        all += packet;
    }
    return all;
}

// The reply bytes of one request, whatever the packetisation.
inline std::string ReplyTo(SimulatedInstrument& instrument, const std::string& request) {
    return Joined(Converse(instrument, request));
}
