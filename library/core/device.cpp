#include "library/core/device.h"

#include <cstring>

#include "usb/device_class.h"

namespace ix {

const DeviceInterfaceEntry kDeviceTable[1] = {{usb::kLumoInterfaceClass, kTransportWinUsb}};

int OpenDevice(CameraContext &ctx, const DeviceInterfaceEntry &entry) {
    char16_t path[usb::kDevicePathUnits];
    if (usb::getDeviceName(entry.interfaceClass, path) != 0) return 16;
    bool winUsb = entry.transportKind == kTransportWinUsb;
    uint32_t error = 0;
    auto device = platform::openDevicePath(std::u16string(path), winUsb, &error);
    if (!device) return error == platform::kErrorAccessDenied ? 17 : 1;
    ctx.transport.device = std::move(device);
    ctx.transport.winUsbOpen = false;
    if (winUsb) {
        if (!ctx.transport.device->winUsbInitialize()) {
            ctx.transport.device.reset();
            return 1;
        }
        ctx.transport.winUsbOpen = true;
        if (!ctx.transport.device->queryInterfaceSettings(0) || !ctx.transport.device->setCurrentAlternateSetting(0)) {
            CloseDevice(ctx);
            return 1;
        }
    }
    ctx.connected = true;
    return 0;
}

void CloseDevice(CameraContext &ctx) {
    if (ctx.transport.device) ctx.transport.device->cancelReads();
    if (ctx.transport.winUsbOpen && ctx.transport.device) ctx.transport.device->winUsbFree();
    ctx.transport.winUsbOpen = false;
    ctx.transport.device.reset();
    ctx.connected = false;
}

namespace {

// Copies (bLength - 2) / 2 units of a string descriptor, at most 255.
void copyStringDescriptor(const uint8_t *d, uint32_t got, char16_t *field) {
    std::memset(field, 0, 256 * sizeof(char16_t));
    if (got < 2 || d[0] < 2) return;
    uint32_t length = d[0] < got ? d[0] : got; // never past what arrived
    uint32_t units = (length - 2) / 2;
    if (units > 255) units = 255;
    for (uint32_t i = 0; i < units; ++i) field[i] = char16_t(d[2 + 2 * i] | (d[3 + 2 * i] << 8));
}

void copyIdentityString(const uint8_t *record, uint32_t offset, char16_t *field) {
    // The driver's field has 256 units; keep the last one as terminator even
    // when the driver filled all of them.
    for (uint32_t i = 0; i < 255; ++i)
        field[i] = char16_t(record[offset + 2 * i] | (record[offset + 2 * i + 1] << 8));
    field[255] = 0;
}

} // namespace

int ReadIdentity(CameraContext &ctx) {
    std::memset(ctx.manufacturerName, 0, sizeof ctx.manufacturerName);
    std::memset(ctx.productName, 0, sizeof ctx.productName);
    std::memset(ctx.serialNumber, 0, sizeof ctx.serialNumber);
    if (!ctx.transport.device) return 1;
    platform::UsbDevice &dev = *ctx.transport.device;

    if (!ctx.transport.winUsbOpen) {
        uint8_t record[usb::kIdentityRecordBytes] = {};
        uint32_t n = 0;
        if (!dev.ioControl(usb::kIoctlIdentity, nullptr, 0, record, sizeof record, &n)) return 1;
        auto word = [&](uint32_t at) { return uint16_t(record[at] | (record[at + 1] << 8)); };
        ctx.identityWord = word(0);
        ctx.vendorId = word(2);
        copyIdentityString(record, 4, ctx.manufacturerName);
        ctx.productId = word(516);
        copyIdentityString(record, 518, ctx.productName);
        copyIdentityString(record, 1030, ctx.serialNumber);
        return 0;
    }

    int result = 0;
    ctx.identityWord = 256;
    uint8_t device[18] = {};
    uint32_t got = 0;
    if (!dev.getDescriptor(1, 0, 0, device, sizeof device, &got) || got < 18) return 1;
    ctx.vendorId = uint16_t(device[8] | (device[9] << 8));
    ctx.productId = uint16_t(device[10] | (device[11] << 8));

    uint8_t buffer[256] = {};
    if (!dev.getDescriptor(3, 0, 0, buffer, sizeof buffer, &got) || got < 4) return 1;
    uint16_t language = uint16_t(buffer[2] | (buffer[3] << 8));

    char16_t *fields[3] = {ctx.manufacturerName, ctx.productName, ctx.serialNumber};
    for (int i = 0; i < 3; ++i) {
        uint8_t index = device[14 + i];
        if (index == 0) continue;
        std::memset(buffer, 0, sizeof buffer);
        if (!dev.getDescriptor(3, index, language, buffer, sizeof buffer, &got)) {
            result = 1;
            continue;
        }
        copyStringDescriptor(buffer, got, fields[i]);
    }
    return result;
}

} // namespace ix
