#include "link/WinUsbDriver.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The sizes the system checks in the cbSize fields of a 64-bit process.
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8);

constexpr DWORD kPresentInterfaces = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;  // 0x12
constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kDeviceFileFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED;
constexpr std::size_t kDevicePathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);

GUID ToWindowsGuid(const InterfaceGuid& guid) {
    GUID result{};
    result.Data1 = guid.data1;
    result.Data2 = guid.data2;
    result.Data3 = guid.data3;
    std::memcpy(result.Data4, guid.data4, sizeof(result.Data4));
    return result;
}

class WinUsbInterface final : public UsbInterfaceHandle {
public:
    WinUsbInterface(const WinUsbApi& systemApi, WINUSB_INTERFACE_HANDLE interfaceHandle)
        : api(systemApi), handle(interfaceHandle) {}
    ~WinUsbInterface() override { api.freeInterface(handle); }
    WinUsbInterface(const WinUsbInterface&) = delete;
    WinUsbInterface& operator=(const WinUsbInterface&) = delete;

    bool QueryDeviceSpeed(std::uint8_t& speed) override {
        UCHAR value = 0;
        ULONG length = sizeof(value);
        const bool ok = api.queryDeviceInformation(handle, DEVICE_SPEED, &length, &value) != 0;
        speed = value;
        return ok;
    }

    bool QueryInterfaceSettings(std::uint8_t alternateSetting,
                                std::uint8_t& endpointCount) override {
        USB_INTERFACE_DESCRIPTOR descriptor{};
        const bool ok = api.queryInterfaceSettings(handle, alternateSetting, &descriptor) != 0;
        endpointCount = ok ? descriptor.bNumEndpoints : 0;
        return ok;
    }

    bool QueryPipe(std::uint8_t alternateSetting, std::uint8_t pipeIndex,
                   UsbPipeInformation& pipe) override {
        WINUSB_PIPE_INFORMATION information{};
        const bool ok = api.queryPipe(handle, alternateSetting, pipeIndex, &information) != 0;
        pipe.pipeType = static_cast<UsbPipeType>(information.PipeType);
        pipe.pipeId = information.PipeId;
        return ok;
    }

    bool SetPipeTransferTimeout(std::uint8_t pipeId, std::uint32_t milliseconds) override {
        ULONG value = milliseconds;
        return api.setPipePolicy(handle, pipeId, PIPE_TRANSFER_TIMEOUT, sizeof(value), &value) != 0;
    }

    bool ReadPipe(std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t length,
                  std::uint32_t& transferred) override {
        ULONG count = 0;
        const bool ok = api.readPipe(handle, pipeId, buffer, length, &count, nullptr) != 0;
        transferred = ok ? count : 0;
        return ok;
    }

    bool WritePipe(std::uint8_t pipeId, const std::uint8_t* bytes, std::uint32_t length,
                   std::uint32_t& transferred) override {
        ULONG count = 0;
        // WinUSB never writes into the buffer of a write; its signature just lacks the const.
        auto* buffer = const_cast<std::uint8_t*>(bytes);
        const bool ok = api.writePipe(handle, pipeId, buffer, length, &count, nullptr) != 0;
        transferred = ok ? count : 0;
        return ok;
    }

private:
    WinUsbApi api;
    WINUSB_INTERFACE_HANDLE handle;
};

class WinUsbFile final : public UsbFileHandle {
public:
    WinUsbFile(const WinUsbApi& systemApi, HANDLE deviceFile) : api(systemApi), file(deviceFile) {}
    ~WinUsbFile() override { api.closeHandle(file); }
    WinUsbFile(const WinUsbFile&) = delete;
    WinUsbFile& operator=(const WinUsbFile&) = delete;

    std::unique_ptr<UsbInterfaceHandle> InitializeInterface() override {
        WINUSB_INTERFACE_HANDLE handle = nullptr;
        if (api.initialize(file, &handle) == 0 || handle == nullptr) {
            return nullptr;
        }
        return std::make_unique<WinUsbInterface>(api, handle);
    }

private:
    WinUsbApi api;
    HANDLE file;
};

class WinUsbDriver final : public UsbDriver {
public:
    explicit WinUsbDriver(const WinUsbApi& systemApi) : api(systemApi) {}

    bool FindDevicePath(const InterfaceGuid& guid, char* path, std::size_t capacity) override {
        if (capacity > 0) {
            path[0] = '\0';
        }
        GUID classGuid = ToWindowsGuid(guid);
        HDEVINFO set = api.getClassDevs(&classGuid, nullptr, nullptr, kPresentInterfaces);
        if (set == INVALID_HANDLE_VALUE) {
            return false;
        }
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        const bool found = EnumInterface(set, classGuid, 0, interfaceData) &&
                           CopyInterfacePath(set, interfaceData, path, capacity);
        api.destroyDeviceInfoList(set);
        return found;
    }

    // Every interface of the class in member order. Without the system's error code (not in
    // the call table) a device that does not open is only known to be unopenable: Windows does
    // not say here whether another program holds it or the user may not open it.
    std::vector<UsbDeviceListing> ListDevices(const InterfaceGuid& guid) override {
        std::vector<std::string> paths;
        GUID classGuid = ToWindowsGuid(guid);
        HDEVINFO set = api.getClassDevs(&classGuid, nullptr, nullptr, kPresentInterfaces);
        if (set == INVALID_HANDLE_VALUE) {
            return {};
        }
        char path[kWinUsbDevicePathCapacity];
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        for (DWORD member = 0; EnumInterface(set, classGuid, member, interfaceData); ++member) {
            if (CopyInterfacePath(set, interfaceData, path, sizeof(path))) {
                paths.emplace_back(path);
            }
        }
        api.destroyDeviceInfoList(set);
        std::vector<UsbDeviceListing> listings;
        for (const std::string& devicePath : paths) {
            listings.push_back({devicePath, devicePath, ProbeByOpening(devicePath.c_str())});
        }
        return listings;
    }

    std::unique_ptr<UsbFileHandle> OpenDevicePath(const char* path) override {
        if (!IsOpenableDevicePath(path)) {
            return nullptr;
        }
        HANDLE file = api.createFile(path, kReadWrite, kShareReadWrite, nullptr, OPEN_EXISTING,
                                     kDeviceFileFlags, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return nullptr;
        }
        return std::make_unique<WinUsbFile>(api, file);
    }

private:
    bool EnumInterface(HDEVINFO set, GUID& classGuid, DWORD member,
                       SP_DEVICE_INTERFACE_DATA& interfaceData) {
        interfaceData = SP_DEVICE_INTERFACE_DATA{};
        interfaceData.cbSize = sizeof(interfaceData);
        return api.enumDeviceInterfaces(set, nullptr, &classGuid, member, &interfaceData) != 0;
    }

    // The set stays the caller's to destroy.
    bool CopyInterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interfaceData, char* path,
                           std::size_t capacity) {
        // Fails by design (the buffer is too small); only the required size matters.
        DWORD requiredSize = 0;
        api.getDeviceInterfaceDetail(set, &interfaceData, nullptr, 0, &requiredSize, nullptr);
        if (requiredSize <= kDevicePathOffset) {
            return false;
        }
        auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(
            api.localAlloc(LMEM_FIXED, requiredSize));
        if (detail == nullptr) {
            return false;
        }
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        const bool copied =
            api.getDeviceInterfaceDetail(set, &interfaceData, detail, requiredSize, nullptr,
                                         nullptr) != 0 &&
            CopyDevicePath(detail->DevicePath, requiredSize - kDevicePathOffset, path, capacity);
        api.localFree(detail);
        return copied;
    }

    WinUsbApi api;
};

}  // namespace

bool CopyDevicePath(const char* source, std::size_t sourceSize, char* path, std::size_t capacity) {
    if (capacity == 0) {
        return false;
    }
    path[0] = '\0';
    const void* terminator = std::memchr(source, '\0', sourceSize);
    if (terminator == nullptr) {
        return false;
    }
    const auto length = static_cast<std::size_t>(static_cast<const char*>(terminator) - source);
    if (length >= capacity) {
        return false;
    }
    std::memcpy(path, source, length + 1);
    return true;
}

bool IsOpenableDevicePath(const char* path) {
    if (path == nullptr) {
        return false;
    }
    const std::string_view text(path, strnlen(path, kWinUsbDevicePathCapacity));
    if (text.size() >= kWinUsbDevicePathCapacity) {
        return false;
    }
    return text.starts_with("\\\\?\\") || text.starts_with("\\\\.\\");
}

WinUsbApi SystemWinUsbApi() {
    return WinUsbApi{
        .getClassDevs = &::SetupDiGetClassDevsA,
        .enumDeviceInterfaces = &::SetupDiEnumDeviceInterfaces,
        .getDeviceInterfaceDetail = &::SetupDiGetDeviceInterfaceDetailA,
        .destroyDeviceInfoList = &::SetupDiDestroyDeviceInfoList,
        .localAlloc = &::LocalAlloc,
        .localFree = &::LocalFree,
        .createFile = &::CreateFileA,
        .closeHandle = &::CloseHandle,
        .initialize = &::WinUsb_Initialize,
        .queryDeviceInformation = &::WinUsb_QueryDeviceInformation,
        .queryInterfaceSettings = &::WinUsb_QueryInterfaceSettings,
        .queryPipe = &::WinUsb_QueryPipe,
        .setPipePolicy = &::WinUsb_SetPipePolicy,
        .readPipe = &::WinUsb_ReadPipe,
        .writePipe = &::WinUsb_WritePipe,
        .freeInterface = &::WinUsb_Free,
    };
}

std::shared_ptr<UsbDriver> CreateWinUsbDriver(const WinUsbApi& api) {
    return std::make_shared<WinUsbDriver>(api);
}

std::shared_ptr<UsbDriver> CreatePlatformUsbDriver() {
    return CreateWinUsbDriver(SystemWinUsbApi());
}
