#include <cstring>

#include "library/controls/controls.h"
#include "library/controls/tables.h"
#include "library/include/IxiLumo.h"

namespace ix {

namespace {
constexpr uint16_t kRegIndirectIndex = 64;
constexpr uint16_t kRegIndirectData = 65;
constexpr uint16_t kIndFlashAddressLow = 9;
constexpr uint16_t kIndFlashAddressHigh = 10;
constexpr uint16_t kIndFlashData = 11;
constexpr uint32_t kDefectTableAddress[2] = {0x20200, 0x21200};
// The stored list starts with "PD" "TC" (0x4450, 0x4354) and format version 1.0.
constexpr uint16_t kDefectMagic0 = 0x4450;
constexpr uint16_t kDefectMagic1 = 0x4354;
constexpr uint16_t kDefectVersion = 0x0100;
} // namespace

int regGet(CameraContext &ctx, uint16_t reg, uint16_t *value) {
    if (!ctx.connected) return 1;
    return usb::ixGet(ctx.transport, reg, value);
}

int regSet(CameraContext &ctx, uint16_t reg, uint16_t value) {
    if (!ctx.connected) return 1;
    return usb::ixSet(ctx.transport, reg, value);
}

void writeIndirect(CameraContext &ctx, uint16_t index, uint16_t value) {
    regSet(ctx, kRegIndirectIndex, index);
    regSet(ctx, kRegIndirectData, value);
}

int setIndirect33(CameraContext &ctx, uint16_t value) {
    writeIndirect(ctx, 32, 53);
    writeIndirect(ctx, 33, value);
    return 0;
}

int readDefectTable(CameraContext &ctx) {
    ChannelSettings &ch = ctx.selected();
    std::memset(ch.defectTable, 0, sizeof ch.defectTable);
    uint32_t address = kDefectTableAddress[ctx.channel & 1];
    // The flash address goes out through the same controls an application
    // would use, so the port ends on the data register.
    IxSetControlValue(IX_CTL_INDIRECT_ADDRESS, kIndFlashAddressLow, 2);
    IxSetControlValue(IX_CTL_INDIRECT_DATA, int32_t(address & 0xFFFF), 2);
    IxSetControlValue(IX_CTL_INDIRECT_ADDRESS, kIndFlashAddressHigh, 2);
    IxSetControlValue(IX_CTL_INDIRECT_DATA, int32_t(address >> 16), 2);
    IxSetControlValue(IX_CTL_INDIRECT_ADDRESS, kIndFlashData, 2);

    auto next = [&](uint16_t &w) {
        w = 0;
        return regGet(ctx, kRegIndirectData, &w);
    };
    uint16_t w = 0;
    next(w);
    if (w != kDefectMagic0) return 2;
    next(w);
    if (w != kDefectMagic1) return 3;
    next(w);
    if (w != kDefectVersion) return 4;
    next(w);
    uint16_t count = w;
    if (count > kDefectTableWords) return 5;
    for (uint16_t i = 0; i < count; ++i) {
        next(w);
        ch.defectTable[i] = w;
    }
    return 0;
}

// The pulse sends v in the high byte with bit 7 set, then puts back what
// register 58 held. When that first
// read fails nothing is sent: restoring a value we never saw could leave the
// register in any state, so the pulse reports 1 instead.
int pulseRegister58(CameraContext &ctx, uint16_t v) {
    uint16_t before = 0;
    if (regGet(ctx, 58, &before) != 0) return 1;
    regSet(ctx, 58, uint16_t(v * 256 + 128));
    regSet(ctx, 58, before);
    return 0;
}

} // namespace ix
