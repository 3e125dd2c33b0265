// Device interface class of the CorvelLumo driver package. The driver
// package's INF registers its interface under this GUID; the library and the
// firmware tool enumerate it.
#pragma once
#include "platform/usb.h"

namespace ix::usb {

// {7A3C5E21-4B1D-4F6A-9C2E-1D5B8F0A6C34}
inline constexpr platform::Guid kLumoInterfaceClass = {
    0x7A3C5E21, 0x4B1D, 0x4F6A, {0x9C, 0x2E, 0x1D, 0x5B, 0x8F, 0x0A, 0x6C, 0x34}};

} // namespace ix::usb
