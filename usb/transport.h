// Vendor-request framing shared by the library and the firmware tool.
//
// Every register access is a vendor control request: 0x61 reads, 0x60 writes,
// the register number in wIndex. The same requests also go to a kernel driver
// as device I/O controls; `winUsbOpen` picks the form, fixed at open.
#pragma once
#include <cstdint>
#include <memory>

#include "platform/usb.h"

namespace ix::usb {

inline constexpr uint8_t kRequestRead = 0x61;
inline constexpr uint8_t kRequestWrite = 0x60;
inline constexpr uint8_t kTypeVendorIn = 0xC0;   // device-to-host, vendor, device
inline constexpr uint8_t kTypeVendorOut = 0x40;  // host-to-device, vendor, device
inline constexpr uint8_t kBulkInPipe = 0x81;
// CTL_CODE(0x22, 0x800 / 0x801, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)
inline constexpr uint32_t kIoctlVendorRequest = 0x22E000;
inline constexpr uint32_t kIoctlIdentity = 0x22E004;
inline constexpr uint32_t kIdentityRecordBytes = 1542;
inline constexpr uint32_t kDevicePathUnits = 512;

struct Transport {
    // Shared: a stream reader keeps the device alive while it is still inside
    // a read after the camera was closed.
    std::shared_ptr<platform::UsbDevice> device;
    bool winUsbOpen = false;
};

// Each returns 0 on success and 1 when the request failed (no retry).
int ixGet(Transport &t, uint16_t reg, uint16_t *value);
int ixSet(Transport &t, uint16_t reg, uint16_t value);
int ixGetBlock(Transport &t, uint16_t reg, void *buffer, uint32_t length, uint32_t *transferred);
// Two bytes or fewer travel as a plain register write of the first word.
int ixSetBlock(Transport &t, uint16_t reg, const void *buffer, uint32_t length, uint32_t *transferred);
// One bulk read of one frame; *count receives the frame's length.
int readFrame(Transport &t, uint8_t *buffer, uint32_t capacity, uint32_t *count);

// Device path of the first present interface of the class, zero-terminated
// and cut to kDevicePathUnits units. Returns 0, or 16 when there is none.
int getDeviceName(const platform::Guid &interfaceClass, char16_t path[kDevicePathUnits]);

} // namespace ix::usb
