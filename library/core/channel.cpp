#include "library/core/channel.h"

#include "library/controls/controls.h"

namespace ix {

int SelectChannel(CameraContext &ctx, uint16_t n) {
    if (n > 1) return 4;
    ctx.channel = n;
    regSet(ctx, 38, n);
    replayChannel(ctx);

    ChannelSettings &ch = ctx.selected();
    int32_t count = ch.exposureTableCount;
    if (count < 0) count = 0;
    if (count > int32_t(kExposureTableCapacity)) count = int32_t(kExposureTableCapacity);
    ch.exposureIndex = count;
    for (int32_t i = 0; i < count; ++i) {
        if (ch.exposureTable[i] >= int32_t(ch.exposureStart)) {
            ch.exposureIndex = i;
            break;
        }
    }
    ctx.inBandFlag = 0;
    // The range sensor's first readings after a switch are stale.
    for (int i = 0; i < 4; ++i) {
        uint16_t discard = 0;
        regGet(ctx, 60, &discard);
    }
    readDefectTable(ctx);
    return 0;
}

} // namespace ix
