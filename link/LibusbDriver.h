// The libusb-1.0 implementation of the USB driver layer (Linux, macOS). No libusb type
// appears here. The instrument is the first device, in enumeration order, whose product
// string begins with "QIRO-7" and whose interface 0, alternate setting 0, has a bulk IN and a
// bulk OUT endpoint; vendor and product ids are only carried in the path as text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/UsbDriver.h"

// Where a device sits on the bus at the moment it was found: enough to reopen that device.
struct LibusbDeviceLocation {
    std::uint8_t bus = 0;
    std::vector<std::uint8_t> ports;  // port numbers from the root hub down
    std::uint8_t address = 0;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};

// "usb:bus=001;ports=1.4;address=005;vid_1a2b&pid_3c4d" (ids in lower-case hex).
std::string FormatLibusbDevicePath(const LibusbDeviceLocation& location);
// Reads bus, ports and address back (the ids are not needed to reopen); false when malformed.
bool ParseLibusbDevicePath(const std::string& path, LibusbDeviceLocation& location);

// transferTimeoutOverrideMs = 0: every bulk transfer uses the time-out set on its pipe (none
// set: no limit). Non-zero replaces every pipe's time-out, so that tests against an emulated
// device need not wait 30 s; the program itself always passes 0.
// The driver may be used from several threads; each handle it opens, by one thread at a time.
// It remembers the last search's answer, under a lock, for as long as every device stays at
// its place and address, so the cycles of a Connect open only the instrument itself.
// WaitForDeviceChange blocks in libusb's event handling until a hotplug event (arrival or
// departure) or its limit; where libusb has no hotplug events it is the base's slow poll.
std::shared_ptr<UsbDriver> CreateLibusbDriver(std::uint32_t transferTimeoutOverrideMs = 0);
