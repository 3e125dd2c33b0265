// The loops themselves come with the eye work; until then the state is a
// zeroed record with the open-time level.
#include <new>

#include "library/core/illumination.h"

namespace ix {

struct IlluminationState {
    int32_t farCountdown;
    int32_t holdOff;
    int64_t timingBaseline;
};

IlluminationState *CreateIlluminationState() { return new (std::nothrow) IlluminationState{}; }
void DestroyIlluminationState(IlluminationState *state) { delete state; }
void InitIllumination(CameraContext &ctx) {
    if (ctx.illuminationState) *ctx.illuminationState = IlluminationState{};
}

} // namespace ix
