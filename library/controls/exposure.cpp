// The exposure table: ascending divisors of the camera's exposure base, so
// that stepping through the table changes the exposure in even steps.
#include "library/controls/controls.h"
#include "library/controls/tables.h"

namespace ix {
namespace {
constexpr uint16_t kRegExposure = 37;
constexpr int32_t kFirstDivisor = 4;
constexpr int32_t kLastDivisor = 515;
// The auto loop works between these indexes of the table.
constexpr int32_t kShortestIndex = 226;
constexpr int32_t kLongestIndex = 134;

int32_t nearest(double x) { return int32_t(x + 0.5); }
} // namespace

void rebuildExposureTable(CameraContext &ctx) {
    ChannelSettings &ch = ctx.selected();
    ch.exposureTableCount = 0;
    const double base = ch.exposureBase;
    if (ch.exposureBase == 0) return;

    int32_t count = 0;
    // Small divisors one by one while each still gives its own exposure.
    int32_t previous = 0, start = 0;
    bool repeated = false;
    for (int32_t n = kFirstDivisor; n <= kLastDivisor; ++n) {
        int32_t q = nearest(base / n);
        if (q == previous) {
            start = q - 1;
            repeated = true;
            break;
        }
        ch.exposureTable[count++] = n;
        previous = q;
    }
    if (!repeated) start = previous;
    // Then the divisors that give the exposures base / start, ..., base / 1.
    for (int32_t i = start; i >= 1 && count < int32_t(kExposureTableCapacity); --i)
        ch.exposureTable[count++] = nearest(base / i);
    ch.exposureTableCount = count;
}

uint16_t exposureStep(CameraContext &ctx, uint32_t brightness, bool shorter, bool longer) {
    ChannelSettings &ch = ctx.selected();
    int32_t step = 1;
    if (brightness <= 40 || brightness >= 200) step = 8;
    else if (brightness <= 60 || brightness >= 160) step = 4;
    else if (brightness <= 80 || brightness >= 140) step = 2;

    if (shorter) {
        if (ch.exposureIndex <= ch.exposureTableCount - step - 1) ch.exposureIndex += step;
        if (ch.exposureIndex > kShortestIndex) ch.exposureIndex = kShortestIndex;
    } else if (longer) {
        if (ch.exposureIndex >= step) ch.exposureIndex -= step;
        if (ch.exposureIndex < kLongestIndex) ch.exposureIndex = kLongestIndex;
    }
    // Selection leaves the index one past a table with no divisor at or above
    // the start, which may be the end of the array: no divisor there.
    if (ch.exposureIndex < 0 || ch.exposureIndex >= int32_t(kExposureTableCapacity)) return 0;
    uint16_t d = uint16_t(ch.exposureTable[ch.exposureIndex] & 0xFFFF);
    if (d == 0) return 0;
    ch.exposureStart = d;
    ch.exposure = uint16_t(ch.exposureBase / d);
    regSet(ctx, kRegExposure, ch.exposure);
    return ch.exposure;
}

} // namespace ix
