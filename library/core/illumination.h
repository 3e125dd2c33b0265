// State of the ranging and illumination loops, owned by the context.
#pragma once
#include "library/core/context.h"

namespace ix {
IlluminationState *CreateIlluminationState();
void DestroyIlluminationState(IlluminationState *state);
// Initial values at open, after the open-time register writes.
void InitIllumination(CameraContext &ctx);
} // namespace ix
