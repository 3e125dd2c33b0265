#pragma once
#include <cstdint>

#include "library/core/context.h"

namespace ix {
// An application's MJPEG frame decoded into one of the pixel layouts, under
// the decoder mutex shared with frame delivery.
int32_t DecompressMjpg(CameraContext &ctx, uint8_t *destination, int32_t destinationSize, const uint8_t *source,
                       int32_t sourceSize, int32_t format);
} // namespace ix
