// CUsbDevice: finds the instrument, opens its interface 0 and moves single packets over its
// bulk pipes. Synchronous; one thread at a time. Knows nothing of the command protocol.
// Every failure is a false result; nothing is retried and no error is kept. (A device path the
// driver answered from memory that fails to open is not a retry: the search is made then.)
// Opening, closing, every request line, every packet with text and every failure are reported
// to the link trace (link/LinkTrace.h) when it is on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "link/UsbDriver.h"

class CUsbDevice {
public:
    static constexpr std::size_t kDevicePathCapacity = 261;  // 260 characters and the NUL
    static constexpr std::uint32_t kTransferTimeoutMs = 30000;

    CUsbDevice();
    ~CUsbDevice();
    CUsbDevice(const CUsbDevice&) = delete;
    CUsbDevice& operator=(const CUsbDevice&) = delete;

    // Fails when no instrument is present or its path does not fit (truncation is failure).
    bool FindDevicePath(const InterfaceGuid& guid, char (&path)[kDevicePathCapacity]);
    // On failure the handles acquired so far stay held until Close (IsOpen() may be true).
    bool Open(const InterfaceGuid& guid);

    // Zeroes all n bytes of buffer, then reads one bulk IN transfer of at most n-1 bytes, so
    // the received bytes are always followed by a NUL.
    bool ReadPacket(std::uint8_t* buffer, std::uint32_t n, std::uint32_t& transferred);
    // Writes one bulk OUT transfer of exactly length bytes.
    bool WritePacket(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t& transferred);
    // Releases the interface, then the file; harmless when closed.
    bool Close();

    std::string GetProductId() const { return productIdText; }
    std::string GetVendorId() const { return vendorIdText; }
    // Endpoint addresses the last Open classified; 0 where it found none.
    std::uint8_t GetBulkInPipe() const { return bulkInPipe; }
    std::uint8_t GetBulkOutPipe() const { return bulkOutPipe; }
    std::uint8_t GetInterruptPipe() const { return interruptPipe; }
    bool IsOpen() const { return fileHandle != nullptr || winUsbHandle != nullptr; }

private:
    bool ClassifyPipes(std::uint8_t endpointCount);
    bool OpenFoundPath(const InterfaceGuid& guid, char (&path)[kDevicePathCapacity]);

    std::shared_ptr<UsbDriver> driver;
    std::unique_ptr<UsbFileHandle> fileHandle;
    std::unique_ptr<UsbInterfaceHandle> winUsbHandle;
    std::string vendorIdText;
    std::string productIdText;
    std::uint8_t bulkInPipe = 0;
    std::uint8_t bulkOutPipe = 0;
    std::uint8_t interruptPipe = 0;
    std::uint8_t deviceSpeed = 0;
    char linkPath[kDevicePathCapacity] = {};  // of the open link, for the trace; empty when closed
};

// The text of a received packet: its first `received` bytes up to the first NUL.
std::string_view ReceivedText(const std::uint8_t* packet, std::size_t received);

// The four characters after the first occurrence of marker ("vid_", "pid_") in a device path,
// case-sensitive; fewer when the path ends sooner, empty when the marker is missing.
std::string IdTextAfterMarker(const std::string& path, const std::string& marker);
