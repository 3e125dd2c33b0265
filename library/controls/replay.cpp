#include "library/controls/controls.h"
#include "library/controls/tables.h"

namespace ix {

void replayChannel(CameraContext &ctx) {
    ChannelSettings &ch = ctx.selected();
    readSensorExtent(ctx);

    // The camera takes the settings in this order; control 12 re-reads the
    // exposure base and rebuilds the exposure table on the way, and 10 and 14
    // send the attenuation table and the tone curve.
    const uint16_t order[] = {1, 7, 5, 6, 9, 10, 11, 12, 17, 14, 18, 23, 24, 29, 38, 41, 42, 46};
    for (uint16_t id : order) {
        uint16_t value = 0;
        switch (id) {
        case 1: value = ch.autoMode; break;
        case 7: value = ch.brightnessTarget; break;
        case 5: value = ch.reg48; break;
        case 6: value = ch.reg4; break;
        case 9: value = ch.compressedTransfer; break;
        case 10: value = ch.attenuation; break;
        case 11: value = ch.reg7; break;
        case 12: value = ch.reg9; break;
        case 17: value = ch.reg15; break;
        case 14: value = ch.toneStrength; break;
        case 18: value = ch.verticalFlip; break;
        case 23: value = ch.horizontalFlip; break;
        case 24: value = ch.reg20; break;
        case 29: value = ch.reg26; break;
        case 38: value = ch.reg35; break;
        case 41: value = ch.reg36; break;
        case 42: value = ch.exposure; break;
        case 46: value = ch.reg2; break;
        }
        setBasicControl(ctx, id, &value, 2);
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
        if (ctx.register49Shadow != 0) {
            ctx.register49Shadow = 0;
            regSet(ctx, 49, 0);
        }
    }

    regSet(ctx, 75, 1);
    regSet(ctx, 74, uint16_t(ctx.locatorLevel + 1000));
    regSet(ctx, 75, 0);
    rebuildExposureTable(ctx);
}

} // namespace ix
