// The read a Connect makes, run through CInstrument against whatever USB driver is installed,
// and what it sends and reads from an instrument with the simulator's default answers.
// Needs qiro7_link. Call from one thread at a time: each step opens and closes the link.
#pragma once

#include <string>
#include <vector>

#include "link/Instrument.h"

// What a Connect reads, step by step, each step in its own open-converse-close cycle.
struct ConnectRead {
    int steps = 0;  // successful steps, the two link checks included
    std::vector<std::string> data;
};

// Stops at the first step that fails; `data` holds the replies of the queries before it.
inline ConnectRead RunConnectSequence() {
    using Query = int (CInstrument::*)(std::string&);
    const Query queries[] = {
        &CInstrument::ReadModel,
        &CInstrument::ReadSerialNumber,
        &CInstrument::ReadMaintenanceDate,
        &CInstrument::ReadVersion,
        nullptr,  // temperature 0
        nullptr,  // temperature 1
        &CInstrument::ReadCorrectionFactor,
        &CInstrument::ReadAveraging,
        &CInstrument::ReadRange,
        &CInstrument::ReadFrequency,
        &CInstrument::ReadZeroCalibration,
        &CInstrument::ReadCorrectionFactorSwitch,
        &CInstrument::ReadLastError,
        &CInstrument::ReadAutoPowerOff,
        &CInstrument::ReadAnalogResponse,
    };
    ConnectRead result;
    CInstrument instrument;
    std::string productId;
    if (instrument.CheckConnection(productId) != 1 || instrument.StopAndReset(true) != 1) {
        return result;
    }
    result.steps = 2;
    int sensor = 0;
    for (const Query query : queries) {
        std::string data;
        const int ok = query != nullptr ? (instrument.*query)(data)
                                        : instrument.ReadTemperature(sensor++, data);
        if (ok != 1) {
            break;
        }
        result.data.push_back(data);
        ++result.steps;
    }
    return result;
}

// The request lines of a whole Connect read, in the order they are sent.
inline const std::vector<std::string> kConnectRequests = {
    "STP", "RM",  "WHO",  "SRL", "MT",   "VER", "TMP 0", "TMP 1", "CFR",
    "ACR", "MRR", "FRQR", "ZCR", "CFSR", "ERR", "APR",   "AFR"};

// The data of the queries of a Connect read from the simulator's default instrument.
inline const std::vector<std::string> kDefaultConnectData = {
    "QIRO-7", "70412318", "2026/03/14", "1.04", "24.8", "27.3", "1.000", "1",
    "-1",     "0",        "1",          "0",    "0",    "2",    "0"};
