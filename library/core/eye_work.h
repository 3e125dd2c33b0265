// The eye work that rides on the camera context: the search work area the
// context owns, the iris-image export over it, and the per-frame work of
// frame delivery (defect repair, channel 0's search, loop and markers,
// channel 1's positioning step).
#pragma once
#include <cstdint>

#include "library/core/context.h"
#include "library/eyes/eye_search.h"
#include "library/eyes/iris_images.h"
#include "library/include/IxiLumo.h"

namespace ix {

// Starts the work area's life in the bytes the open allocated (all zero, a
// valid empty area) and returns it.
eyes::EyeSearchArea *ConstructSearchArea(uint8_t *bytes);
// The context's work area; null before open.
eyes::EyeSearchArea *ContextSearchArea(CameraContext &ctx);

// Grading's view of the open camera: register 60 and channel 0's target.
class ContextRangeSource final : public eyes::RangeSource {
public:
    explicit ContextRangeSource(CameraContext &ctx) : ctx_(ctx) {}
    bool readRange(uint16_t &value) override;
    int32_t rangeTarget() const override;

private:
    CameraContext &ctx_;
};

// IxGetDualIrisImages once its arguments are checked: 1 without an open
// camera, otherwise the search's answer.
int32_t DualIrisImagesForContext(CameraContext &ctx, DualIrisRecord &record);

// What channel 0's last searched frame gave: sizes and both results. The
// image pointer is not kept (the frame is the caller's).
const DualIrisRecord &LastChannelZeroRecord();

} // namespace ix
