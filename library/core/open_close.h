#pragma once
#include "library/core/context.h"

namespace ix {
int IxOpenSequence(CameraContext &ctx);
int IxCloseSequence(CameraContext &ctx);
// The positioning step's history lives beside the context; cleared at open.
void ClearPositioningHistory();
} // namespace ix
