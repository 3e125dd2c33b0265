#include "platform/native_usb.h"
#include "platform/usb.h"
#include "sim/simulator.h"

namespace ix::platform {

// With the simulator switched on the real bus is never looked at, so a test or
// a demo behaves the same whether or not a camera is plugged in.
FindResult findFirstInterface(const Guid &interfaceClass, std::u16string &path, uint32_t *error) {
    if (error) *error = 0;
    if (sim::enabled()) return sim::findFirstInterface(interfaceClass, path, error);
    return native::findFirstInterface(interfaceClass, path, error);
}

std::unique_ptr<UsbDevice> openDevicePath(const std::u16string &path, bool overlapped, uint32_t *error) {
    if (error) *error = 0;
    if (sim::enabled()) return sim::openDevicePath(path, error);
    return native::openDevicePath(path, overlapped, error);
}

} // namespace ix::platform
