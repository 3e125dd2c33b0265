#include "usb/transport.h"

#include <cstring>
#include <vector>

namespace ix::usb {
namespace {

// Header of a kernel-driver request: four little-endian u16.
void putHeader(uint8_t *out, uint16_t direction, uint16_t request, uint16_t value, uint16_t reg) {
    const uint16_t words[4] = {direction, request, value, reg};
    for (int i = 0; i < 4; ++i) {
        out[2 * i] = uint8_t(words[i] & 0xFF);
        out[2 * i + 1] = uint8_t(words[i] >> 8);
    }
}

bool connected(const Transport &t) { return t.device != nullptr; }

int vendorRead(Transport &t, uint16_t reg, void *buffer, uint32_t length, uint32_t *transferred) {
    if (transferred) *transferred = 0;
    if (!connected(t) || length > 0xFFFF) return 1;
    uint32_t n = 0;
    bool ok;
    if (t.winUsbOpen) {
        platform::SetupPacket p{kTypeVendorIn, kRequestRead, 0, reg, uint16_t(length)};
        ok = t.device->controlTransfer(p, static_cast<uint8_t *>(buffer), &n);
    } else {
        uint8_t header[8];
        putHeader(header, 0, kRequestRead, 0, reg);
        ok = t.device->ioControl(kIoctlVendorRequest, header, sizeof header, buffer, length, &n);
    }
    if (!ok) return 1;
    if (transferred) *transferred = n;
    return 0;
}

int plainWrite(Transport &t, uint16_t reg, uint16_t value) {
    if (!connected(t)) return 1;
    bool ok;
    if (t.winUsbOpen) {
        platform::SetupPacket p{kTypeVendorOut, kRequestWrite, value, reg, 0};
        uint32_t n = 0;
        ok = t.device->controlTransfer(p, nullptr, &n);
    } else {
        uint8_t header[8];
        putHeader(header, 1, kRequestWrite, value, reg);
        uint32_t n = 0;
        ok = t.device->ioControl(kIoctlVendorRequest, header, sizeof header, nullptr, 0, &n);
    }
    if (!ok) return 1;
    return 0;
}

} // namespace

int ixGet(Transport &t, uint16_t reg, uint16_t *value) {
    uint8_t bytes[2] = {0, 0};
    int r = vendorRead(t, reg, bytes, 2, nullptr);
    if (r == 0 && value) *value = uint16_t(bytes[0] | (bytes[1] << 8));
    return r;
}

int ixSet(Transport &t, uint16_t reg, uint16_t value) { return plainWrite(t, reg, value); }

int ixGetBlock(Transport &t, uint16_t reg, void *buffer, uint32_t length, uint32_t *transferred) {
    return vendorRead(t, reg, buffer, length, transferred);
}

int ixSetBlock(Transport &t, uint16_t reg, const void *buffer, uint32_t length, uint32_t *transferred) {
    if (transferred) *transferred = 0;
    if (!connected(t) || length > 0xFFFF) return 1;
    if (length <= 2) {
        // Short blocks travel as the register write of their first word; a
        // single byte is zero-extended rather than read past its end.
        const uint8_t *b = static_cast<const uint8_t *>(buffer);
        uint16_t word = 0;
        if (b && length >= 1) word = b[0];
        if (b && length == 2) word = uint16_t(word | (b[1] << 8));
        int r = plainWrite(t, reg, word);
        if (r == 0 && transferred) *transferred = length;
        return r;
    }
    uint32_t n = 0;
    bool ok;
    if (t.winUsbOpen) {
        platform::SetupPacket p{kTypeVendorOut, kRequestWrite, 0, reg, uint16_t(length)};
        // WinUSB takes a non-const buffer for both directions; it only reads it here.
        ok = t.device->controlTransfer(p, const_cast<uint8_t *>(static_cast<const uint8_t *>(buffer)), &n);
    } else {
        std::vector<uint8_t> in;
        try {
            in.resize(8 + size_t(length));
        } catch (...) {
            return 1;
        }
        putHeader(in.data(), 1, kRequestWrite, 0, reg);
        std::memcpy(in.data() + 8, buffer, length);
        ok = t.device->ioControl(kIoctlVendorRequest, in.data(), uint32_t(in.size()), nullptr, 0, &n);
        if (ok) n = length;
    }
    if (!ok) return 1;
    if (transferred) *transferred = n;
    return 0;
}

int readFrame(Transport &t, uint8_t *buffer, uint32_t capacity, uint32_t *count) {
    if (count) *count = 0;
    if (!connected(t)) return 1;
    uint32_t n = 0;
    bool ok = t.winUsbOpen ? t.device->readPipe(kBulkInPipe, buffer, capacity, &n)
                           : t.device->readFile(buffer, capacity, &n);
    if (!ok) return 1;
    if (count) *count = n;
    return 0;
}

int getDeviceName(const platform::Guid &interfaceClass, char16_t path[kDevicePathUnits]) {
    path[0] = 0;
    std::u16string found;
    if (platform::findFirstInterface(interfaceClass, found) != platform::FindResult::Found || found.empty())
        return 16;
    // A path longer than the field is cut, never overrun; the cut path then
    // simply fails to open.
    size_t n = found.size() < kDevicePathUnits - 1 ? found.size() : kDevicePathUnits - 1;
    std::memcpy(path, found.data(), n * sizeof(char16_t));
    path[n] = 0;
    return 0;
}

} // namespace ix::usb
