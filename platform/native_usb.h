// The operating system's own USB discovery and device opening, behind the
// switch in usb_select.cpp.
#pragma once
#include "platform/usb.h"

namespace ix::platform::native {
FindResult findFirstInterface(const Guid &interfaceClass, std::u16string &path, uint32_t *error);
std::unique_ptr<UsbDevice> openDevicePath(const std::u16string &path, bool overlapped, uint32_t *error);
} // namespace ix::platform::native
