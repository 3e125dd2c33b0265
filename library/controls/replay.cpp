#include "library/controls/controls.h"
#include "library/controls/tables.h"

namespace ix {

void replayChannel(CameraContext &ctx) {
    ChannelSettings &ch = ctx.selected();
    readSensorExtent(ctx);

    // The camera takes the settings in this order; control 12 re-reads the
    // exposure base and rebuilds the exposure table on the way, and 10 and 14
    // send the attenuation table and the tone curve.
    using S = ChannelSettings;
    static constexpr struct {
        uint16_t id;
        uint16_t S::*field;
    } order[] = {
        {1, &S::autoMode}, {7, &S::brightnessTarget}, {5, &S::reg48},      {6, &S::reg4},
        {9, &S::compressedTransfer}, {10, &S::attenuation}, {11, &S::reg7}, {12, &S::reg9},
        {17, &S::reg15},   {14, &S::toneStrength},   {18, &S::verticalFlip}, {23, &S::horizontalFlip},
        {24, &S::reg20},   {29, &S::reg26},          {38, &S::reg35},      {41, &S::reg36},
        {42, &S::exposure}, {46, &S::reg2},
    };
    for (const auto &item : order) {
        const uint16_t value = ch.*(item.field);
        setBasicControl(ctx, item.id, &value, 2);
    }

    regSet(ctx, 21, 0);
    regSet(ctx, 46, 0);
    uint16_t base = 0;
    if (regGet(ctx, 14, &base) == 0) ch.exposureBase = base;

    regSet(ctx, 58, ch.reg58);
    regSet(ctx, 63, ch.reg63);
    regSet(ctx, 52, ch.stabilityCheck);
    regSet(ctx, 56, ch.holdTime);
    regSet(ctx, 69, ch.defectCorrection);
    regSet(ctx, 53, ch.reg53);
    regSet(ctx, 54, ch.reg54);

    if (ctx.channel == 0) replayIllumination(ctx);

    regSet(ctx, 50, ctx.channel == 0 ? 0 : ch.overlayEnable);
    regSet(ctx, 87, ch.reg87);
    if (ch.rangeLedMode != 8) regSet(ctx, 18, uint16_t(ch.rangeLedMode * 256));
    regSet(ctx, 59, ch.reg59);

    uint16_t target = 0;
    if (ctx.channel == 0) {
        if (regGet(ctx, 61, &target) == 0) ctx.rangeTarget0 = target;
        // Thresholds of the ranging loop, around the channel-0 target.
        ctx.rangeThresholds[0] = int32_t(ctx.rangeTarget0) + 310;
        ctx.rangeThresholds[1] = int32_t(ctx.rangeTarget0) + 320;
        ctx.rangeThresholds[2] = int32_t(ctx.rangeTarget0) - 70;
        ctx.rangeThresholds[3] = int32_t(ctx.rangeTarget0) - 140;
    } else {
        if (regGet(ctx, 61, &target) == 0) ctx.rangeTarget1 = target;
        writeIlluminationWord(ctx, 0);
    }

    regSet(ctx, 75, 1);
    regSet(ctx, 74, uint16_t(ctx.locatorLevel + 1000));
    regSet(ctx, 75, 0);
    rebuildExposureTable(ctx);
}

} // namespace ix
