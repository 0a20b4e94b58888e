#include "tests/windows/ScriptedWindows.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

ScriptedWindows script;

// Distinct fake handle values, so a handle passed to the wrong call shows in the record.
HDEVINFO const kDeviceInfoSet = reinterpret_cast<HDEVINFO>(std::uintptr_t{0x5E7});
HANDLE const kDeviceFile = reinterpret_cast<HANDLE>(std::uintptr_t{0xF11E});
WINUSB_INTERFACE_HANDLE const kInterface =
    reinterpret_cast<WINUSB_INTERFACE_HANDLE>(std::uintptr_t{0x1F});

constexpr std::size_t kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);

std::string Hex(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%lX", value);
    return text;
}

std::string Pointer(const void* pointer) {
    return pointer == nullptr ? "null" : "set";
}

std::string SetName(HDEVINFO set) {
    return set == kDeviceInfoSet ? "set" : "unknown-set";
}

std::string FileName(HANDLE file) {
    return file == kDeviceFile ? "file" : "unknown-file";
}

std::string InterfaceName(WINUSB_INTERFACE_HANDLE handle) {
    return handle == kInterface ? "winusb" : "unknown-winusb";
}

std::string GuidText(const GUID* guid) {
    if (guid == nullptr) {
        return "null";
    }
    char text[40];
    std::snprintf(text, sizeof(text), "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned long>(guid->Data1), guid->Data2, guid->Data3, guid->Data4[0],
                  guid->Data4[1], guid->Data4[2], guid->Data4[3], guid->Data4[4], guid->Data4[5],
                  guid->Data4[6], guid->Data4[7]);
    return text;
}

void Record(const std::string& call) {
    script.calls.push_back(call);
}

// The member that SetupDiEnumDeviceInterfaces put into the interface data.
std::size_t MemberOf(const SP_DEVICE_INTERFACE_DATA* data) {
    return data != nullptr ? static_cast<std::size_t>(data->Reserved) : 0;
}

DWORD DetailSize(std::size_t member) {
    if (script.reportZeroDetailSize || member >= script.interfacePaths.size()) {
        return 0;
    }
    const std::size_t terminator = script.pathUnterminated ? 0 : 1;
    return static_cast<DWORD>(kPathOffset + script.interfacePaths[member].size() + terminator);
}

HDEVINFO WINAPI GetClassDevs(const GUID* guid, PCSTR enumerator, HWND window, DWORD flags) {
    Record("SetupDiGetClassDevsA " + GuidText(guid) + " enumerator=" + Pointer(enumerator) +
           " window=" + Pointer(window) + " flags=" + Hex(flags));
    if (script.classDevsFails) {
        return INVALID_HANDLE_VALUE;
    }
    ++script.liveDeviceInfoSets;
    return kDeviceInfoSet;
}

WINBOOL WINAPI EnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device, const GUID* guid,
                                    DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
    Record("SetupDiEnumDeviceInterfaces " + SetName(set) + " device=" + Pointer(device) + " " +
           GuidText(guid) + " index=" + std::to_string(index) +
           " cbSize=" + std::to_string(data->cbSize));
    if (index >= script.interfacePaths.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->InterfaceClassGuid = *guid;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = index;
    return TRUE;
}

WINBOOL WINAPI GetDeviceInterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                        PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                                        PDWORD requiredSize, PSP_DEVINFO_DATA device) {
    Record("SetupDiGetDeviceInterfaceDetailA " + SetName(set) + " data=" + Pointer(data) +
           " buffer=" + (detail == nullptr ? "null" : "cbSize=" + std::to_string(detail->cbSize)) +
           " size=" + std::to_string(size) + " required=" + Pointer(requiredSize) +
           " device=" + Pointer(device));
    const DWORD needed = DetailSize(MemberOf(data));
    if (requiredSize != nullptr) {
        *requiredSize = needed;
    }
    if (detail == nullptr || size < needed || needed == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (script.detailFails || detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    const std::string& path = script.interfacePaths[MemberOf(data)];
    std::memcpy(detail->DevicePath, path.data(), path.size());
    if (!script.pathUnterminated) {
        detail->DevicePath[path.size()] = '\0';
    }
    return TRUE;
}

WINBOOL WINAPI DestroyDeviceInfoList(HDEVINFO set) {
    Record("SetupDiDestroyDeviceInfoList " + SetName(set));
    --script.liveDeviceInfoSets;
    return TRUE;
}

HLOCAL WINAPI LocalAllocate(UINT flags, SIZE_T size) {
    Record("LocalAlloc flags=" + std::to_string(flags) + " size=" + std::to_string(size));
    if (script.allocFails) {
        return nullptr;
    }
    ++script.liveAllocations;
    return std::malloc(size);
}

HLOCAL WINAPI LocalRelease(HLOCAL memory) {
    Record("LocalFree " + Pointer(memory));
    --script.liveAllocations;
    std::free(memory);
    return nullptr;
}

HANDLE WINAPI CreateDeviceFile(LPCSTR path, DWORD access, DWORD share,
                               LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                               HANDLE templateFile) {
    Record(std::string("CreateFileA ") + path + " access=" + Hex(access) +
           " share=" + std::to_string(share) + " security=" + Pointer(security) +
           " disposition=" + std::to_string(disposition) + " flags=" + Hex(flags) +
           " template=" + Pointer(templateFile));
    if (script.createFileFails) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    ++script.liveFiles;
    return kDeviceFile;
}

WINBOOL WINAPI CloseDeviceFile(HANDLE file) {
    Record("CloseHandle " + FileName(file));
    --script.liveFiles;
    return TRUE;
}

WINBOOL WINAPI Initialize(HANDLE file, PWINUSB_INTERFACE_HANDLE handle) {
    Record("WinUsb_Initialize " + FileName(file));
    if (script.initializeFails) {
        return FALSE;
    }
    ++script.liveInterfaces;
    *handle = kInterface;
    return TRUE;
}

WINBOOL WINAPI QueryDeviceInformation(WINUSB_INTERFACE_HANDLE handle, ULONG type, PULONG length,
                                      PVOID buffer) {
    Record("WinUsb_QueryDeviceInformation " + InterfaceName(handle) +
           " type=" + std::to_string(type) + " length=" + std::to_string(*length));
    if (script.speedQueryFails) {
        return FALSE;
    }
    *static_cast<UCHAR*>(buffer) = 3;  // high speed
    *length = 1;
    return TRUE;
}

WINBOOL WINAPI QueryInterfaceSettings(WINUSB_INTERFACE_HANDLE handle, UCHAR alternateSetting,
                                      PUSB_INTERFACE_DESCRIPTOR descriptor) {
    Record("WinUsb_QueryInterfaceSettings " + InterfaceName(handle) +
           " alt=" + std::to_string(alternateSetting));
    if (script.settingsQueryFails) {
        return FALSE;
    }
    *descriptor = USB_INTERFACE_DESCRIPTOR{};
    descriptor->bNumEndpoints = static_cast<UCHAR>(script.pipes.size());
    return TRUE;
}

WINBOOL WINAPI QueryPipe(WINUSB_INTERFACE_HANDLE handle, UCHAR alternateSetting, UCHAR index,
                         PWINUSB_PIPE_INFORMATION information) {
    Record("WinUsb_QueryPipe " + InterfaceName(handle) +
           " alt=" + std::to_string(alternateSetting) + " index=" + std::to_string(index));
    if (index >= script.pipes.size() || script.failingPipeQueries.count(index) != 0) {
        return FALSE;
    }
    *information = script.pipes[index];
    return TRUE;
}

WINBOOL WINAPI SetPipePolicy(WINUSB_INTERFACE_HANDLE handle, UCHAR pipeId, ULONG policy,
                             ULONG length, PVOID value) {
    ULONG milliseconds = 0;
    std::memcpy(&milliseconds, value, sizeof(milliseconds));
    Record("WinUsb_SetPipePolicy " + InterfaceName(handle) + " pipe=" + Hex(pipeId) +
           " policy=" + std::to_string(policy) + " length=" + std::to_string(length) +
           " value=" + std::to_string(milliseconds));
    return script.failingPolicyPipes.count(pipeId) == 0 ? TRUE : FALSE;
}

WINBOOL WINAPI ReadPipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipeId, PUCHAR buffer, ULONG length,
                        PULONG transferred, LPOVERLAPPED overlapped) {
    Record("WinUsb_ReadPipe " + InterfaceName(handle) + " pipe=" + Hex(pipeId) +
           " length=" + std::to_string(length) + " overlapped=" + Pointer(overlapped));
    if (script.readPackets.empty()) {
        *transferred = 0;
        SetLastError(ERROR_SEM_TIMEOUT);
        return FALSE;
    }
    const std::string packet = script.readPackets.front();
    script.readPackets.pop_front();
    const ULONG count =
        static_cast<ULONG>(packet.size()) < length ? static_cast<ULONG>(packet.size()) : length;
    std::memcpy(buffer, packet.data(), count);
    *transferred = count;
    return TRUE;
}

WINBOOL WINAPI WritePipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipeId, PUCHAR buffer, ULONG length,
                         PULONG transferred, LPOVERLAPPED overlapped) {
    Record("WinUsb_WritePipe " + InterfaceName(handle) + " pipe=" + Hex(pipeId) +
           " length=" + std::to_string(length) + " overlapped=" + Pointer(overlapped));
    if (script.writeFails) {
        *transferred = 0;
        return FALSE;
    }
    script.written.emplace_back(reinterpret_cast<const char*>(buffer), length);
    *transferred = length;
    return TRUE;
}

WINBOOL WINAPI FreeInterface(WINUSB_INTERFACE_HANDLE handle) {
    Record("WinUsb_Free " + InterfaceName(handle));
    --script.liveInterfaces;
    return TRUE;
}

}  // namespace

ScriptedWindows& Scripted() {
    return script;
}

void ResetScriptedWindows() {
    script = ScriptedWindows{};
}

WinUsbApi ScriptedWinUsbApi() {
    return WinUsbApi{
        .getClassDevs = &GetClassDevs,
        .enumDeviceInterfaces = &EnumDeviceInterfaces,
        .getDeviceInterfaceDetail = &GetDeviceInterfaceDetail,
        .destroyDeviceInfoList = &DestroyDeviceInfoList,
        .localAlloc = &LocalAllocate,
        .localFree = &LocalRelease,
        .createFile = &CreateDeviceFile,
        .closeHandle = &CloseDeviceFile,
        .initialize = &Initialize,
        .queryDeviceInformation = &QueryDeviceInformation,
        .queryInterfaceSettings = &QueryInterfaceSettings,
        .queryPipe = &QueryPipe,
        .setPipePolicy = &SetPipePolicy,
        .readPipe = &ReadPipe,
        .writePipe = &WritePipe,
        .freeInterface = &FreeInterface,
    };
}

WINUSB_PIPE_INFORMATION Pipe(USBD_PIPE_TYPE type, UCHAR pipeId) {
    WINUSB_PIPE_INFORMATION pipe{};
    pipe.PipeType = type;
    pipe.PipeId = pipeId;
    pipe.MaximumPacketSize = 64;
    return pipe;
}
