// Process-wide state of the channel-1 positioning step, beside the context.
#pragma once
#include <cstdint>

namespace ix {
struct PositioningHistory {
    int32_t startupSkip;
    int32_t positionSamples[4];
    int32_t positionIndex;
};
PositioningHistory &positioningHistory();
} // namespace ix
