// Window geometry: the preset table, the sensor extent, size and decimation
// edits and the window offsets. Channel 1's sensor sits a quarter turn from
// channel 0's, so its extent registers, offsets and flips come swapped.
#include "library/controls/controls.h"
#include "library/controls/tables.h"

namespace ix {

// Ends with a row of width 0; the label is for people reading the table.
const ResolutionPreset resolutionPresets[] = {
    {160, 120, 1, u"160x120"},       {176, 144, 2, u"176x144"},     {240, 180, 3, u"240x180"},
    {320, 240, 4, u"320x240"},       {352, 288, 5, u"352x288"},     {640, 480, 6, u"640x480"},
    {800, 600, 7, u"800x600"},       {1024, 768, 8, u"1024x768"},   {1280, 960, 9, u"1280x960"},
    {1280, 1024, 10, u"1280x1024"}, {1600, 1200, 11, u"1600x1200"}, {2048, 1536, 12, u"2048x1536"},
    // There never was a code 13.
    {2560, 1920, 14, u"2560x1920"},  {0, 0, 0, u""},
};

namespace {
constexpr uint16_t kRegOutputWidth = 29, kRegOutputHeight = 30;
constexpr uint16_t kRegWindowWidth = 27, kRegWindowHeight = 28;
constexpr uint16_t kRegOffset31 = 31, kRegOffset32 = 32;
constexpr uint16_t kRegExtent33 = 33, kRegExtent34 = 34;
constexpr uint16_t kManualWindow = 255;
} // namespace

void writeWindow(CameraContext &ctx) {
    const ChannelSettings &ch = ctx.selected();
    regSet(ctx, kRegOutputWidth, ch.outputWidth);
    regSet(ctx, kRegOutputHeight, ch.outputHeight);
    regSet(ctx, kRegWindowWidth, ch.windowWidth);
    regSet(ctx, kRegWindowHeight, ch.windowHeight);
    regSet(ctx, kRegOffset31, ch.offsetX);
    regSet(ctx, kRegOffset32, ch.offsetY);
}

void readSensorExtent(CameraContext &ctx) {
    ChannelSettings &ch = ctx.selected();
    uint16_t v = 0;
    if (ctx.channel == 0) {
        if (regGet(ctx, kRegExtent33, &v) == 0) ch.maxWidth = v;
        if (regGet(ctx, kRegExtent34, &v) == 0) ch.maxHeight = v;
    } else {
        if (regGet(ctx, kRegExtent33, &v) == 0) ch.maxHeight = v;
        if (regGet(ctx, kRegExtent34, &v) == 0) ch.maxWidth = v;
    }
    if (ctx.channel != 0) {
        ch.largestPreset = kManualWindow;
        return;
    }
    for (const ResolutionPreset *p = resolutionPresets; p->width != 0; ++p) {
        if (p->width > ch.maxWidth || p->height > ch.maxHeight) break;
        ch.largestPreset = p->code;
    }
}

int selectPreset(CameraContext &ctx, uint16_t code) {
    ChannelSettings &ch = ctx.selected();
    if (ch.streamMode != 0) return 7;
    const ResolutionPreset *row = nullptr;
    for (const ResolutionPreset *p = resolutionPresets; p->width != 0; ++p) {
        if (p->code == code && p->width <= ch.maxWidth && p->height <= ch.maxHeight) {
            row = p;
            break;
        }
    }
    if (!row) return 5;
    ch.outputWidth = ch.windowWidth = row->width;
    ch.outputHeight = ch.windowHeight = row->height;
    ch.decimation = 1;
    ch.offsetX = ch.offsetY = 0;
    ch.resolutionCode = code;
    writeWindow(ctx);
    return 0;
}

int setSize(CameraContext &ctx, uint32_t id, uint16_t v) {
    ChannelSettings &ch = ctx.selected();
    if (ch.streamMode != 0) return 7;
    uint16_t limit = (id == 31 || id == 33) ? ch.maxWidth : ch.maxHeight;
    if (v > limit) return 5;
    switch (id) {
    case 31: ch.outputWidth = v; break;
    case 32: ch.outputHeight = v; break;
    case 33: ch.windowWidth = v; break;
    case 34: ch.windowHeight = v; break;
    default: return 3;
    }
    // The camera hears of a hand-made window at the next stream start.
    ch.resolutionCode = kManualWindow;
    return 0;
}

int setDecimation(CameraContext &ctx, uint16_t k) {
    ChannelSettings &ch = ctx.selected();
    if (ch.streamMode != 0) return 7;
    if (k == 0) return 4;
    uint32_t w = uint32_t(ch.outputWidth) * k, h = uint32_t(ch.outputHeight) * k;
    if (w > ch.maxWidth || h > ch.maxHeight) return 4;
    ch.decimation = k;
    ch.windowWidth = uint16_t(w);
    ch.windowHeight = uint16_t(h);
    ch.offsetX = ch.offsetY = 0;
    writeWindow(ctx);
    return 0;
}

// Register 31 only takes multiples of 16; on channel 1 it carries the
// vertical offset, and the horizontal one runs from the far end of register 32.
int setOffsetX(CameraContext &ctx, uint16_t v) {
    ChannelSettings &ch = ctx.selected();
    if (ctx.channel == 0) {
        if (v % 16 != 0) return 4;
        ch.offsetX = v;
        regSet(ctx, kRegOffset31, v);
    } else {
        ch.offsetX = v;
        regSet(ctx, kRegOffset32, uint16_t(ch.windowWidth - ch.outputWidth - v));
    }
    return 0;
}

int setOffsetY(CameraContext &ctx, uint16_t v) {
    ChannelSettings &ch = ctx.selected();
    if (ctx.channel == 0) {
        ch.offsetY = v;
        regSet(ctx, kRegOffset32, v);
    } else {
        if (v % 16 != 0) return 4;
        ch.offsetY = v;
        regSet(ctx, kRegOffset31, v);
    }
    return 0;
}

} // namespace ix
