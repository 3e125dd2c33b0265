// No USB backend on POSIX hosts yet: only the virtual camera is found there.
#include "platform/native_usb.h"

namespace ix::platform::native {

FindResult findFirstInterface(const Guid &, std::u16string &path, uint32_t *error) {
    path.clear();
    if (error) *error = 259; // ERROR_NO_MORE_ITEMS: the class has no present interface
    return FindResult::NoInterface;
}

std::unique_ptr<UsbDevice> openDevicePath(const std::u16string &, bool, uint32_t *error) {
    if (error) *error = kErrorFileNotFound;
    return nullptr;
}

} // namespace ix::platform::native
