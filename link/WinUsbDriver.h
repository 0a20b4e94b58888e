// The WinUSB driver: SetupAPI finds the instrument's device interface, CreateFileA opens it
// and WinUSB moves synchronous bulk transfers. Windows only.
//
// Every Windows call goes through a WinUsbApi table, so tests can script the system and check
// each call and argument; the program uses SystemWinUsbApi(). A driver and the handles it makes
// are used by one thread at a time.
#pragma once

#ifdef _WIN32

#include <windows.h>

#include <setupapi.h>
#include <winusb.h>

#include <cstddef>
#include <memory>

#include "link/UsbDriver.h"

struct WinUsbApi {
    decltype(&::SetupDiGetClassDevsA) getClassDevs;
    decltype(&::SetupDiEnumDeviceInterfaces) enumDeviceInterfaces;
    decltype(&::SetupDiGetDeviceInterfaceDetailA) getDeviceInterfaceDetail;
    decltype(&::SetupDiDestroyDeviceInfoList) destroyDeviceInfoList;
    decltype(&::LocalAlloc) localAlloc;
    decltype(&::LocalFree) localFree;
    decltype(&::CreateFileA) createFile;
    decltype(&::CloseHandle) closeHandle;
    decltype(&::WinUsb_Initialize) initialize;
    decltype(&::WinUsb_QueryDeviceInformation) queryDeviceInformation;
    decltype(&::WinUsb_QueryInterfaceSettings) queryInterfaceSettings;
    decltype(&::WinUsb_QueryPipe) queryPipe;
    decltype(&::WinUsb_SetPipePolicy) setPipePolicy;
    decltype(&::WinUsb_ReadPipe) readPipe;
    decltype(&::WinUsb_WritePipe) writePipe;
    decltype(&::WinUsb_Free) freeInterface;
};

// The real Windows functions.
WinUsbApi SystemWinUsbApi();

std::shared_ptr<UsbDriver> CreateWinUsbDriver(const WinUsbApi& api);

// A device path buffer: MAX_PATH characters and the NUL.
inline constexpr std::size_t kWinUsbDevicePathCapacity = MAX_PATH + 1;

// Copies the NUL-terminated text in source[0..sourceSize) into path[0..capacity). Fails, leaving
// path empty, when the text has no NUL inside its buffer or does not fit (truncation is failure).
bool CopyDevicePath(const char* source, std::size_t sourceSize, char* path, std::size_t capacity);

// True for a NUL-terminated path in the device namespace ("\\?\" or "\\.\") that fits a device
// path buffer. Anything else is refused before the system is asked to open it.
bool IsOpenableDevicePath(const char* path);

#endif
