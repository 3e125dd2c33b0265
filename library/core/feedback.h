// The camera's feedback loops, run on delivered frames of a continuous
// stream: on channel 0 the range average, far mode, the exposure loop, the
// range state and the capture-readiness test; on channel 1 the positioning
// step that moves the eyes' midline to 46 % of the frame height.
//
// Threads: everything here runs on the application's thread inside
// IxGetImage, at open and at stream start; the state has no lock.
#pragma once
#include <cstdint>

#include "library/core/context.h"
#include "library/core/illumination.h"
#include "library/eyes/locator_result.h"
#include "library/include/IxiLumo.h"

namespace ix {

struct PupilPosition {
    int32_t x, y;
};

struct IlluminationState {
    int32_t rangeSamples[4];
    int32_t rangeSampleIndex;   // where the next reading goes, 0 to 3
    int32_t farMode;            // 1 while the light is held at level 0
    int32_t farCountdown;       // frames outside the outer band still tolerated
    int32_t returnCountdown;    // frames inside the inner band still waited for
    int32_t holdOff;            // frames the exposure loop sits out
    int32_t lastExposure;       // last value exposureStep returned
    int32_t indirect33;         // gain last sent, 4 to 24
    int32_t stableFrames;
    int32_t stableMs;
    int64_t stableSince;        // performance counter at the start of the steady run
    int64_t counterFrequency;   // 0 when the counter is unusable
    PupilPosition lastRightPupil, lastLeftPupil; // pupilX/pupilY of the previous frame
    // A half that was not found on the previous frame has nothing to compare
    // with; these say whether the positions above are real.
    int32_t lastRightValid, lastLeftValid;
    int32_t lastRightX, lastLeftX; // absolute columns, last frame with both pupils
};

// Register numbers the loops drive.
inline constexpr uint16_t kRegIlluminationWord = 49;
inline constexpr uint16_t kRegExposureTime = 37;
inline constexpr uint16_t kRegRangeReading = 60;
inline constexpr uint16_t kRegRangeIndicator = 18;
inline constexpr uint16_t kRegPositionLevel = 74;
inline constexpr uint16_t kRegMoving = 75;
// The rangeLedMode under which the range indicator follows the range
// (channel 0's state, channel 1's status) instead of a fixed value.
inline constexpr uint16_t kRangeLedFollowsRange = 8;

// Grey mean of the patches around the found irises (or the default patches
// when neither half was found). Patches are clipped to the frame; a patch
// with no pixel left gives no mean, and when nothing can be measured the
// brightness is 0, which the exposure loop leaves alone.
int32_t MeasureBrightness(const DualIrisRecord &record, bool verticalFlip);

// One channel-0 frame after the two-half search: reads the range register
// and runs the loop.
void RunIlluminationLoop(CameraContext &ctx, const DualIrisRecord &record);
// The same with the range reading already taken (0 for a failed read).
void RunIlluminationLoopWithReading(CameraContext &ctx, const DualIrisRecord &record, uint16_t reading);
// The exposure loop for brightness B (channel 0, far mode off).
void RunExposureLoop(CameraContext &ctx, int32_t brightness);

// One channel-1 frame whose locator found the eyes.
void RunPositioningStep(CameraContext &ctx, const eyes::LocatorResult &result);

// At every stream start.
void ResetLoopState(CameraContext &ctx);

} // namespace ix
