// A scripted stand-in for the SetupAPI, file and WinUSB calls of the WinUSB driver. It plays one
// attached instrument (or none) and records every call with its arguments, one line per call,
// so tests can compare the conversation with the exact calls the driver must make.
// Single-threaded: one test at a time owns the script.
#pragma once

#include <windows.h>

#include <deque>
#include <set>
#include <string>
#include <vector>

#include "link/WinUsbDriver.h"

struct ScriptedWindows {
    // Device setup. Interface paths in member order (0 first); none: no device.
    bool classDevsFails = false;
    std::vector<std::string> interfacePaths;
    bool reportZeroDetailSize = false;
    bool detailFails = false;
    bool pathUnterminated = false;  // the detail buffer ends without a NUL
    bool allocFails = false;

    // Device file and interface.
    bool createFileFails = false;
    bool initializeFails = false;
    bool speedQueryFails = false;
    bool settingsQueryFails = false;
    std::vector<WINUSB_PIPE_INFORMATION> pipes;
    std::set<UCHAR> failingPipeQueries;  // pipe indexes whose query fails
    std::set<UCHAR> failingPolicyPipes;  // pipe ids whose time-out policy fails

    // Transfers: each read takes the next packet; an empty queue fails like a time-out.
    std::deque<std::string> readPackets;
    bool writeFails = false;
    std::vector<std::string> written;

    // Record of the conversation and of what is still held.
    std::vector<std::string> calls;
    int liveDeviceInfoSets = 0;
    int liveAllocations = 0;
    int liveFiles = 0;
    int liveInterfaces = 0;
};

// The script the functions of ScriptedWinUsbApi() act on; reset by ResetScriptedWindows().
ScriptedWindows& Scripted();
void ResetScriptedWindows();

WinUsbApi ScriptedWinUsbApi();

WINUSB_PIPE_INFORMATION Pipe(USBD_PIPE_TYPE type, UCHAR pipeId);
