// Control handlers: the library's numbered controls mapped onto the camera's
// registers, and the per-channel replay.
#pragma once
#include <cstdint>

#include "library/core/context.h"

namespace ix {

// Ids below 128.
int getBasicControl(CameraContext &ctx, uint32_t id, uint16_t *buffer, uint32_t bufferBytes, int32_t *returnedBytes);
int setBasicControl(CameraContext &ctx, uint32_t id, const void *data, uint32_t bytes);
// Ids 128 to 255.
int getExtendedControl(CameraContext &ctx, uint32_t id, uint16_t *buffer, uint32_t bufferBytes,
                       int32_t *returnedBytes);
int setExtendedControl(CameraContext &ctx, uint32_t id, const void *data, uint32_t bytes);

// Brings the camera in line with the selected channel's settings.
void replayChannel(CameraContext &ctx);

// Indirect register port (registers 64/65).
void writeIndirect(CameraContext &ctx, uint16_t index, uint16_t value);
int setIndirect33(CameraContext &ctx, uint16_t value);
// Reads the selected channel's defect list from flash: 0, or 2 to 5 for a
// missing header or an oversized count (the table then stays all zero).
int readDefectTable(CameraContext &ctx);

// Register helpers that check `connected` first.
int regGet(CameraContext &ctx, uint16_t reg, uint16_t *value);
int regSet(CameraContext &ctx, uint16_t reg, uint16_t value);

} // namespace ix
