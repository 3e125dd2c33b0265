#pragma once
#include <cstdint>

#include "library/core/context.h"
#include "platform/usb.h"

namespace ix {

inline constexpr uint32_t kTransportWinUsb = 2;

struct DeviceInterfaceEntry {
    platform::Guid interfaceClass;
    uint32_t transportKind; // kTransportWinUsb, or the kernel-driver form
};

// The camera's driver package: one interface class, bound to WinUSB.
extern const DeviceInterfaceEntry kDeviceTable[1];

// 0, 16 (no device), 17 (access denied) or 1; on success `connected` is set.
int OpenDevice(CameraContext &ctx, const DeviceInterfaceEntry &entry);
// Frees the WinUSB interface and closes the device (no requests are made).
void CloseDevice(CameraContext &ctx);
// Fills the ids and strings; 1 when any read failed (after trying all).
int ReadIdentity(CameraContext &ctx);

} // namespace ix
