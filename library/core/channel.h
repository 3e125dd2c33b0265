#pragma once
#include <cstdint>

#include "library/core/context.h"

namespace ix {
// Selects channel n (0 or 1) and replays its settings to the camera; 4 when
// n is above 1, with nothing changed.
int SelectChannel(CameraContext &ctx, uint16_t n);
} // namespace ix
