#include "link/UsbDevice.h"

#include <algorithm>
#include <cstring>

#include "link/LinkTrace.h"

namespace {

// "<what> <detail>" (a path, a request), or only what when there is no detail.
void ReportFailure(std::string_view what, std::string_view detail) {
    std::string text(what);
    if (!detail.empty()) {
        text.append(" ").append(detail);
    }
    ReportLinkEvent(LinkEvent::Failed, text);
}

}  // namespace

CUsbDevice::CUsbDevice() : driver(ActiveUsbDriver()) {}

CUsbDevice::~CUsbDevice() {
    Close();
}

bool CUsbDevice::FindDevicePath(const InterfaceGuid& guid, char (&path)[kDevicePathCapacity]) {
    path[0] = '\0';
    if (driver == nullptr || !driver->FindDevicePath(guid, path, kDevicePathCapacity)) {
        return false;
    }
    // A driver that filled the buffer without terminating it would have us read past it.
    return std::memchr(path, '\0', kDevicePathCapacity) != nullptr;
}

bool CUsbDevice::Open(const InterfaceGuid& guid) {
    // Releases whatever a failed earlier Open left, in the right order.
    Close();
    char path[kDevicePathCapacity];
    if (!OpenFoundPath(guid, path)) {
        if (LinkTraceOn()) {
            ReportFailure("open", path);
        }
        return false;
    }
    std::memcpy(linkPath, path, std::strlen(path) + 1);
    if (LinkTraceOn()) {
        ReportLinkEvent(LinkEvent::Opened, linkPath);
    }
    return true;
}

bool CUsbDevice::OpenFoundPath(const InterfaceGuid& guid, char (&path)[kDevicePathCapacity]) {
    if (!FindDevicePath(guid, path)) {
        return false;
    }
    fileHandle = driver->OpenDevicePath(path);
    // A remembered answer may be out of date (the device went, or cannot be opened now): the
    // search it stood in for is made after all, and may find another instrument.
    if (fileHandle == nullptr && driver->ForgetDevicePath(path)) {
        if (!FindDevicePath(guid, path)) {
            return false;
        }
        fileHandle = driver->OpenDevicePath(path);
    }
    vendorIdText = IdTextAfterMarker(path, "vid_");
    productIdText = IdTextAfterMarker(path, "pid_");
    if (fileHandle == nullptr) {
        return false;
    }
    winUsbHandle = fileHandle->InitializeInterface();
    if (winUsbHandle == nullptr) {
        return false;
    }
    std::uint8_t endpointCount = 0;
    if (!winUsbHandle->QueryDeviceSpeed(deviceSpeed) ||
        !winUsbHandle->QueryInterfaceSettings(0, endpointCount) || !ClassifyPipes(endpointCount)) {
        return false;
    }
    // Only the second outcome counts: the OUT pipe's time-out decides.
    winUsbHandle->SetPipeTransferTimeout(bulkInPipe, kTransferTimeoutMs);
    return winUsbHandle->SetPipeTransferTimeout(bulkOutPipe, kTransferTimeoutMs);
}

bool CUsbDevice::ClassifyPipes(std::uint8_t endpointCount) {
    bool lastQueryOk = false;
    bool haveBulkIn = false;
    bool haveBulkOut = false;
    for (std::uint8_t index = 0; index < endpointCount; ++index) {
        UsbPipeInformation pipe;
        lastQueryOk = winUsbHandle->QueryPipe(0, index, pipe);
        if (!lastQueryOk) {
            continue;  // nothing trustworthy to classify; only the last query's result counts
        }
        switch (pipe.pipeType) {
            case UsbPipeType::Bulk:
                if ((pipe.pipeId & 0x80) != 0) {
                    bulkInPipe = pipe.pipeId;
                    haveBulkIn = true;
                } else {
                    bulkOutPipe = pipe.pipeId;
                    haveBulkOut = true;
                }
                break;
            case UsbPipeType::Interrupt:
                interruptPipe = pipe.pipeId;
                break;
            default:
                return false;
        }
    }
    return lastQueryOk && haveBulkIn && haveBulkOut;
}

bool CUsbDevice::ReadPacket(std::uint8_t* buffer, std::uint32_t n, std::uint32_t& transferred) {
    transferred = 0;
    if (n == 0) {
        return false;  // no room for the NUL that must follow the received bytes
    }
    std::memset(buffer, 0, n);
    const bool read =
        winUsbHandle != nullptr && winUsbHandle->ReadPipe(bulkInPipe, buffer, n - 1, transferred);
    if (LinkTraceOn()) {
        if (!read) {
            ReportLinkEvent(LinkEvent::Failed, "read");
        } else if (const std::string_view text =
                       ReceivedText(buffer, std::min<std::size_t>(transferred, n - 1));
                   !text.empty()) {
            ReportLinkEvent(LinkEvent::Received, text);
        }
    }
    return read;
}

bool CUsbDevice::WritePacket(const std::uint8_t* bytes, std::uint32_t length,
                             std::uint32_t& transferred) {
    transferred = 0;
    const bool written =
        winUsbHandle != nullptr && winUsbHandle->WritePipe(bulkOutPipe, bytes, length, transferred);
    if (LinkTraceOn()) {
        std::string_view request(reinterpret_cast<const char*>(bytes), length);
        if (request.ends_with('\r')) {
            request.remove_suffix(1);
        }
        if (written) {
            ReportLinkEvent(LinkEvent::Request, request);
        } else {
            ReportFailure("write", request);
        }
    }
    return written;
}

bool CUsbDevice::Close() {
    winUsbHandle.reset();
    fileHandle.reset();
    if (linkPath[0] != '\0' && LinkTraceOn()) {
        ReportLinkEvent(LinkEvent::Closed, linkPath);
    }
    linkPath[0] = '\0';
    return true;
}

std::string_view ReceivedText(const std::uint8_t* packet, std::size_t received) {
    const auto* bytes = reinterpret_cast<const char*>(packet);
    const void* nul = std::memchr(bytes, '\0', received);
    return std::string_view(
        bytes, nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - bytes)
                              : received);
}

std::string IdTextAfterMarker(const std::string& path, const std::string& marker) {
    const std::size_t at = path.find(marker);
    if (at == std::string::npos) {
        return {};
    }
    return path.substr(at + marker.size(), 4);
}
