// The control catalogue. Register-backed controls are rows of data; only the
// controls with a rule of their own get code.
#include <cstring>

#include "library/controls/controls.h"
#include "library/controls/tables.h"
#include "library/core/channel.h"
#include "library/core/stream.h"
#include "library/include/IxiLumo.h"

namespace ix {
namespace {

struct RegisterRow {
    uint16_t id;
    uint16_t ChannelSettings::*field;
    uint16_t reg;
    bool liveRead; // get reads the register instead of the field
};

constexpr RegisterRow kBasicRows[] = {
    {5, &ChannelSettings::reg48, 48, false},   {11, &ChannelSettings::reg7, 7, false},
    {17, &ChannelSettings::reg15, 15, false},  {24, &ChannelSettings::reg20, 20, false},
    {38, &ChannelSettings::reg35, 35, false},  {41, &ChannelSettings::reg36, 36, false},
    {46, &ChannelSettings::reg2, 2, false},    {6, &ChannelSettings::reg4, 4, true},
    {29, &ChannelSettings::reg26, 26, true},   {42, &ChannelSettings::exposure, 37, true},
};

constexpr RegisterRow kExtendedRows[] = {
    {128, &ChannelSettings::stabilityCheck, 52, false}, {132, &ChannelSettings::reg54, 54, false},
    {133, &ChannelSettings::reg53, 53, false},          {134, &ChannelSettings::holdTime, 56, false},
    {137, &ChannelSettings::reg58, 58, false},          {139, &ChannelSettings::reg59, 59, false},
    {149, &ChannelSettings::reg63, 63, false},          {150, &ChannelSettings::defectCorrection, 69, false},
    {169, &ChannelSettings::reg87, 87, false},
};

template <size_t N> const RegisterRow *findRow(const RegisterRow (&rows)[N], uint32_t id) {
    for (const RegisterRow &r : rows)
        if (r.id == id) return &r;
    return nullptr;
}

// Scalar results go into the first two bytes; a caller that gave fewer gets
// nothing written rather than a write past its buffer.
void putU16(uint16_t *buffer, uint32_t bufferBytes, uint16_t v) {
    if (buffer && bufferBytes >= 2) std::memcpy(buffer, &v, 2);
}

void liveRead(CameraContext &ctx, uint16_t reg, uint16_t *buffer, uint32_t bufferBytes) {
    uint16_t v = 0;
    if (regGet(ctx, reg, &v) == 0) putU16(buffer, bufferBytes, v);
}

// A live read whose failure the caller hears of (1), unlike liveRead's.
int readReported(CameraContext &ctx, uint16_t reg, uint16_t *buffer, uint32_t bufferBytes) {
    uint16_t v = 0;
    int r = regGet(ctx, reg, &v);
    if (r == 0) putU16(buffer, bufferBytes, v);
    return r;
}

int readBit(CameraContext &ctx, uint16_t reg, uint16_t mask, uint16_t *buffer, uint32_t bufferBytes) {
    uint16_t v = 0;
    int r = regGet(ctx, reg, &v);
    if (r == 0) putU16(buffer, bufferBytes, (v & mask) ? 1 : 0);
    return r;
}

// The context's strings are 256 units with a terminator; one that arrived
// without it is read as its first 255 units so the copy stays inside.
constexpr size_t kTextUnits = 256;

size_t textLength(const char16_t *text) {
    size_t n = 0;
    while (n < kTextUnits - 1 && text[n]) ++n;
    return n;
}

int getText(const char16_t *text, bool wide, uint16_t *buffer, uint32_t bufferBytes, int32_t *returnedBytes) {
    size_t n = textLength(text) + 1;
    if (bufferBytes == 0) {
        if (returnedBytes) *returnedBytes = int32_t(wide ? 2 * n : n);
        return 0;
    }
    if (!buffer) return 1;
    if (wide) {
        if (bufferBytes >= 2 * n) {
            std::memcpy(buffer, text, 2 * (n - 1)); // the zero fill is the terminator
            if (returnedBytes) *returnedBytes = int32_t(2 * n);
        } else {
            if (bufferBytes >= 2) std::memcpy(buffer, text, bufferBytes - 2);
            if (returnedBytes) *returnedBytes = int32_t(bufferBytes);
        }
        return 0;
    }
    std::string narrow;
    if (!narrowText(text, n - 1, narrow) || narrow.size() + 1 > bufferBytes) {
        // Empty text: the zero fill already made it so.
        if (returnedBytes) *returnedBytes = int32_t(bufferBytes);
        return 1;
    }
    std::memcpy(buffer, narrow.c_str(), narrow.size() + 1);
    if (returnedBytes) *returnedBytes = int32_t(narrow.size() + 1);
    return 0;
}

uint16_t valueOf(const void *data) {
    uint16_t v = 0;
    std::memcpy(&v, data, 2);
    return v;
}

// A set without a value is malformed: refused before anything changes.
constexpr int kNoValue = 4;

} // namespace

int getBasicControl(CameraContext &ctx, uint32_t id, uint16_t *buffer, uint32_t bufferBytes, int32_t *returnedBytes) {
    if (buffer && bufferBytes) std::memset(buffer, 0, bufferBytes);
    ChannelSettings &ch = ctx.selected();
    int result = 0;
    auto done = [&](int r) {
        if (returnedBytes) *returnedBytes = int32_t(bufferBytes);
        return r;
    };
    if (const RegisterRow *row = findRow(kBasicRows, id)) {
        if (row->liveRead) liveRead(ctx, row->reg, buffer, bufferBytes);
        else putU16(buffer, bufferBytes, ch.*(row->field));
        return done(0);
    }
    switch (id) {
    case 1: putU16(buffer, bufferBytes, ch.autoMode); break;
    case 2: putU16(buffer, bufferBytes, ch.offsetX); break;
    case 3: putU16(buffer, bufferBytes, ch.offsetY); break;
    case 4: putU16(buffer, bufferBytes, ch.toneLift); break;
    case 7: putU16(buffer, bufferBytes, ch.brightnessTarget); break;
    case 8: putU16(buffer, bufferBytes, ch.streamMode); break;
    case 9: putU16(buffer, bufferBytes, ch.compressedTransfer); break;
    case 10: putU16(buffer, bufferBytes, ch.attenuation); break;
    case 12: putU16(buffer, bufferBytes, ch.reg9); break;
    case 13: putU16(buffer, bufferBytes, ch.pixelFormat); break;
    case 14: putU16(buffer, bufferBytes, ch.toneStrength); break;
    case 15: liveRead(ctx, 42, buffer, bufferBytes); break;
    case 16: putU16(buffer, bufferBytes, ch.exposureBase); break;
    case 18: putU16(buffer, bufferBytes, ch.verticalFlip); break;
    case 20: putU16(buffer, bufferBytes, ctx.vendorId); break;
    case 21: return getText(ctx.manufacturerName, false, buffer, bufferBytes, returnedBytes);
    case 22: return getText(ctx.manufacturerName, true, buffer, bufferBytes, returnedBytes);
    case 23: putU16(buffer, bufferBytes, ch.horizontalFlip); break;
    case 25: putU16(buffer, bufferBytes, ctx.control25); break;
    case 26: putU16(buffer, bufferBytes, ctx.productId); break;
    case 27: return getText(ctx.productName, false, buffer, bufferBytes, returnedBytes);
    case 28: return getText(ctx.productName, true, buffer, bufferBytes, returnedBytes);
    case 30: putU16(buffer, bufferBytes, ch.resolutionCode); break;
    case 31: putU16(buffer, bufferBytes, ch.outputWidth); break;
    case 32: putU16(buffer, bufferBytes, ch.outputHeight); break;
    case 33: putU16(buffer, bufferBytes, ch.windowWidth); break;
    case 34: putU16(buffer, bufferBytes, ch.windowHeight); break;
    case 35: putU16(buffer, bufferBytes, ch.largestPreset); break;
    case 36: putU16(buffer, bufferBytes, ch.maxWidth); break;
    case 37: putU16(buffer, bufferBytes, ch.maxHeight); break;
    case 39: return getText(ctx.serialNumber, false, buffer, bufferBytes, returnedBytes);
    case 40: return getText(ctx.serialNumber, true, buffer, bufferBytes, returnedBytes);
    case 43: putU16(buffer, bufferBytes, ctx.identityWord); break;
    case 44: liveRead(ctx, 8, buffer, bufferBytes); break;
    case 45: liveRead(ctx, 16, buffer, bufferBytes); break;
    case 47: putU16(buffer, bufferBytes, ch.decimation); break;
    case 48:
        if (!buffer || bufferBytes < 4) return 8;
        std::memcpy(buffer, &ctx.lastFrameBytes, 4);
        break;
    case 49: putU16(buffer, bufferBytes, ctx.channel); break;
    case 50: result = readBit(ctx, 67, 3, buffer, bufferBytes); break;
    case 51: putU16(buffer, bufferBytes, 257); break;
    case 52: putU16(buffer, bufferBytes, ch.userRotation); break;
    case 125: liveRead(ctx, 66, buffer, bufferBytes); break;
    case 127:
        if (bufferBytes == 2) {
            liveRead(ctx, 65, buffer, bufferBytes);
        } else {
            if (!buffer && bufferBytes) return done(1);
            result = ctx.connected ? usb::ixGetBlock(ctx.transport, 65, buffer, bufferBytes, nullptr) : 1;
        }
        break;
    default: result = 3; break;
    }
    return done(result);
}

int setBasicControl(CameraContext &ctx, uint32_t id, const void *data, uint32_t bytes) {
    if (!data) return kNoValue;
    if (id == 127) {
        // The indirect data port takes blocks of any size; only the 2-byte
        // form is a scalar, and a shorter block must not be read as one.
        if (bytes == 2) {
            regSet(ctx, 65, valueOf(data));
            return 0;
        }
        if (!ctx.connected) return 1;
        return usb::ixSetBlock(ctx.transport, 65, data, bytes, nullptr);
    }
    ChannelSettings &ch = ctx.selected();
    uint16_t v = valueOf(data);
    if (const RegisterRow *row = findRow(kBasicRows, id)) {
        ch.*(row->field) = v;
        regSet(ctx, row->reg, v);
        return 0;
    }
    switch (id) {
    case 1:
        ch.autoMode = v;
        if (ctx.channel == 0 && v != 0) {
            regSet(ctx, 1, 0);
            regSet(ctx, 5, 128);
        } else {
            regSet(ctx, 1, v);
        }
        return 0;
    case 2: return setOffsetX(ctx, v);
    case 3: return setOffsetY(ctx, v);
    case 4:
        ch.toneLift = v > 255 ? 255 : v;
        return uploadToneCurve(ctx);
    case 7:
        ch.brightnessTarget = v;
        if (ctx.channel == 1 || ch.autoMode == 0) regSet(ctx, 5, v);
        return 0;
    case 8: return SetStreamMode(ctx, v);
    case 9: ch.compressedTransfer = v; return 0;
    case 10:
        ch.attenuation = v > 100 ? 100 : v;
        return uploadAttenuation(ctx);
    case 12: {
        ch.reg9 = v;
        regSet(ctx, 9, v);
        uint16_t base = 0;
        if (regGet(ctx, 14, &base) == 0) ch.exposureBase = base;
        rebuildExposureTable(ctx);
        return 0;
    }
    case 13:
        if (v != 2 && v != 4 && v != 6 && v != 7 && v != 21) return 5;
        ch.pixelFormat = v;
        return 0;
    case 14:
        ch.toneStrength = v > 255 ? 255 : v;
        return uploadToneCurve(ctx);
    case 15: regSet(ctx, 42, v); return 0;
    case 18:
        ch.verticalFlip = v;
        regSet(ctx, ctx.channel == 0 ? 17 : 19, v);
        return 0;
    case 23:
        ch.horizontalFlip = v;
        regSet(ctx, ctx.channel == 0 ? 19 : 17, v);
        return 0;
    case 25:
        ctx.control25 = v;
        regSet(ctx, 23, v);
        return 0;
    case 30: return selectPreset(ctx, v);
    case 31: case 32: case 33: case 34: return setSize(ctx, id, v);
    case 47: return setDecimation(ctx, v);
    case 49: return SelectChannel(ctx, v);
    case 52:
        if (v != 0 && v != 90 && v != 180 && v != 270) return 5;
        ch.userRotation = v;
        return 0;
    case 126: regSet(ctx, 64, v); return 0;
    default: return 3;
    }
}

int getExtendedControl(CameraContext &ctx, uint32_t id, uint16_t *buffer, uint32_t bufferBytes,
                       int32_t *returnedBytes) {
    if (buffer && bufferBytes) std::memset(buffer, 0, bufferBytes);
    ChannelSettings &ch = ctx.selected();
    int result = 0;
    if (const RegisterRow *row = findRow(kExtendedRows, id)) {
        putU16(buffer, bufferBytes, ch.*(row->field));
    } else {
        switch (id) {
        case 129:
            putU16(buffer, bufferBytes,
                   (ctx.channel == 0 && ch.autoMode) ? uint16_t(ctx.illuminationLevel / 4) : ch.manualLevel);
            break;
        case 130: putU16(buffer, bufferBytes, ch.overlayEnable); break;
        case 135: putU16(buffer, bufferBytes, 0); break;
        case 140: putU16(buffer, bufferBytes, ch.illuminationMode); break;
        case 141: result = readReported(ctx, 60, buffer, bufferBytes); break;
        case 142: putU16(buffer, bufferBytes, ctx.channel == 0 ? ctx.rangeTarget0 : ctx.rangeTarget1); break;
        case 143: putU16(buffer, bufferBytes, ctx.captureReady); break;
        case 144: result = readBit(ctx, 68, 1, buffer, bufferBytes); break;
        case 145: result = readReported(ctx, 62, buffer, bufferBytes); break;
        case 146: putU16(buffer, bufferBytes, ch.rangeLedMode); break;
        case 161: putU16(buffer, bufferBytes, ctx.locatorLevel); break;
        case 164: putU16(buffer, bufferBytes, ctx.inBandFlag); break;
        case 165: putU16(buffer, bufferBytes, ctx.rangeTargetSelect); break;
        default: result = 3; break;
        }
    }
    if (returnedBytes) *returnedBytes = int32_t(bufferBytes);
    return result;
}

int setExtendedControl(CameraContext &ctx, uint32_t id, const void *data, uint32_t) {
    if (!data) return kNoValue;
    ChannelSettings &ch = ctx.selected();
    uint16_t v = valueOf(data);
    if (const RegisterRow *row = findRow(kExtendedRows, id)) {
        ch.*(row->field) = v;
        regSet(ctx, row->reg, v);
        return 0;
    }
    switch (id) {
    case 129: return setIlluminationLevel(ctx, v);
    case 130:
        ch.overlayEnable = v;
        regSet(ctx, 50, ctx.channel == 0 ? 0 : v);
        return 0;
    case 138: return pulseRegister58(ctx, v);
    case 140: return setIlluminationMode(ctx, v);
    case 146:
        ch.rangeLedMode = v;
        if (v != 8) regSet(ctx, 18, uint16_t(v * 256));
        return 0;
    case 160:
        if (ctx.locatorReady != 1) return 3;
        ctx.locatorAssist = v;
        regSet(ctx, 73, v);
        return 0;
    case 161:
        ctx.locatorLevel = v;
        regSet(ctx, 74, uint16_t(v + 1000));
        return 0;
    case 162: regSet(ctx, 75, v); return 0;
    case 165: ctx.rangeTargetSelect = v; return 0;
    default: return 3;
    }
}

} // namespace ix
