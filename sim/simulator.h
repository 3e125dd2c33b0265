// The virtual CorvelLumo: a software camera behind the UsbDevice seam,
// switched on by the IXLUMO_SIMULATOR environment variable ("1" or a list of
// key=value settings separated by ';').
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/usb.h"

namespace ix::sim {

bool enabled();
platform::FindResult findFirstInterface(const platform::Guid &interfaceClass, std::u16string &path, uint32_t *error);
std::unique_ptr<platform::UsbDevice> openDevicePath(const std::u16string &path, uint32_t *error);

// Writes a changed flash image back to its file now (also done when a device
// handle closes, on restart and at process exit).
void flushFlash();

} // namespace ix::sim
