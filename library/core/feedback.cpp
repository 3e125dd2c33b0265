#include "library/core/feedback.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <new>

#include "library/controls/controls.h"
#include "library/controls/tables.h"
#include "library/core/positioning.h"
#include "platform/sys.h"

namespace ix {

namespace {

// Brightness bands of the exposure loop, in grey levels.
constexpr int32_t kDarkest = 20;         // below this the picture says nothing
constexpr int32_t kBrightMargin = 20;    // too bright from T + 20 on
constexpr int32_t kLevelMax = 100, kLevelMin = 48;
constexpr int32_t kGainMax = 24, kGainMin = 4;
constexpr int32_t kExposureLong = 107;   // longer exposures only below this
constexpr int32_t kExposureShort = 18;   // shorter ones only above this
constexpr int32_t kRangeTolerance = 15;
constexpr int32_t kCountdown = 4;
constexpr int32_t kFarHoldOff = 5;

struct Patch {
    int64_t sum = 0;
    int64_t count = 0;
};

// Sum and count of the pixels of columns x0..x1, image rows y0..y1
// (inclusive), whatever of them lies inside the W x H bottom-up frame.
Patch patchSum(const uint8_t *image, int32_t W, int32_t H, int64_t x0, int64_t x1, int64_t y0, int64_t y1) {
    Patch p;
    x0 = std::max<int64_t>(x0, 0);
    y0 = std::max<int64_t>(y0, 0);
    x1 = std::min<int64_t>(x1, int64_t(W) - 1);
    y1 = std::min<int64_t>(y1, int64_t(H) - 1);
    if (x0 > x1 || y0 > y1) return p;
    for (int64_t y = y0; y <= y1; ++y) {
        const uint8_t *row = image + size_t(H - 1 - y) * size_t(W);
        for (int64_t x = x0; x <= x1; ++x) p.sum += row[x];
    }
    p.count = (x1 - x0 + 1) * (y1 - y0 + 1);
    return p;
}

// Mean of the patch below/around a found iris; false when it has no pixel.
bool irisPatchMean(const DualIrisRecord &rec, const EyeResult &eye, bool verticalFlip, int32_t &mean) {
    const int64_t r = eye.irisRadius;
    const int64_t X = int64_t(eye.originX) + eye.irisX, Y = int64_t(eye.originY) + eye.irisY;
    const int64_t y0 = verticalFlip ? Y - r + 1 : Y - r / 2 + 1;
    const int64_t y1 = verticalFlip ? Y + r / 2 : Y + r;
    Patch p = patchSum(rec.image, rec.width, rec.height, X - 2 * r, X + 2 * r - 1, y0, y1);
    if (p.count == 0) return false;
    mean = int32_t(p.sum / p.count);
    return true;
}

void writeLevelWord(CameraContext &ctx, uint32_t level) {
    writeIlluminationWord(ctx, illuminationWord(ctx.selected().illuminationMode, uint16_t(level)));
}

// A step that changed nothing ends the frame's work without a wait; one
// that moved the exposure lets the camera settle for a few frames.
void takeExposureStep(CameraContext &ctx, IlluminationState &s, int32_t B, bool shorter) {
    const int32_t v = exposureStep(ctx, uint32_t(B), shorter, !shorter);
    if (v == s.lastExposure) return;
    s.lastExposure = v;
    if (B >= 60 && B <= 180) s.holdOff = 3;
}

// A steady run starts now; the counter's frequency is read afresh (0 when
// the counter is unusable, which keeps the run's length at 0).
void restartSteadyClock(IlluminationState &s) {
    s.stableSince = sys::perfCounter();
    const int64_t f = sys::perfFrequency();
    s.counterFrequency = f > 0 ? f : 0;
}

bool within(int32_t a, int32_t b, int32_t tolerance) { return std::abs(int64_t(a) - b) <= tolerance; }

void captureReadiness(CameraContext &ctx, IlluminationState &s, const DualIrisRecord &rec) {
    const ChannelSettings &ch = ctx.selected();
    const int32_t tolerance = rec.width / 160;
    const EyeResult &right = rec.rightResult, &left = rec.leftResult;
    const bool rightFound = right.notFound == 0, leftFound = left.notFound == 0;

    bool jump = false;
    if (rightFound && leftFound) {
        const int64_t rightX = int64_t(right.originX) + right.pupilX;
        const int64_t leftX = int64_t(left.originX) + left.pupilX;
        const int64_t span = rightX - leftX;
        jump = std::llabs(span - (int64_t(s.lastRightX) - s.lastLeftX)) > tolerance;
        s.lastRightX = int32_t(rightX);
        s.lastLeftX = int32_t(leftX);
    }
    const bool rightSteady = rightFound && s.lastRightValid && within(right.pupilX, s.lastRightPupil.x, tolerance) &&
                             within(right.pupilY, s.lastRightPupil.y, tolerance);
    const bool leftSteady = leftFound && s.lastLeftValid && within(left.pupilX, s.lastLeftPupil.x, tolerance) &&
                            within(left.pupilY, s.lastLeftPupil.y, tolerance);
    if (ctx.rangeState == 1 && !jump && (rightSteady || leftSteady)) {
        if (s.stableFrames < std::numeric_limits<int32_t>::max()) ++s.stableFrames;
    } else {
        s.stableFrames = 0;
    }

    if (s.stableFrames > 0) {
        s.stableMs = 0;
        if (s.counterFrequency > 0) {
            const double ms = double(sys::perfCounter() - s.stableSince) / double(s.counterFrequency) / 0.001;
            s.stableMs = ms <= 0 ? 0 : ms >= double(std::numeric_limits<int32_t>::max())
                                           ? std::numeric_limits<int32_t>::max()
                                           : int32_t(ms);
        }
    } else {
        s.stableMs = 0;
        restartSteadyClock(s);
    }

    s.lastRightValid = rightFound;
    s.lastLeftValid = leftFound;
    if (rightFound) s.lastRightPupil = {right.pupilX, right.pupilY};
    if (leftFound) s.lastLeftPupil = {left.pupilX, left.pupilY};

    ctx.captureReady = !jump && s.stableFrames > 2 && s.stableMs >= int32_t(ch.holdTime) ? 1 : 0;
}

} // namespace

IlluminationState *CreateIlluminationState() { return new (std::nothrow) IlluminationState{}; }

void DestroyIlluminationState(IlluminationState *state) { delete state; }

void InitIllumination(CameraContext &ctx) {
    if (!ctx.illuminationState) return;
    IlluminationState &s = *ctx.illuminationState;
    s = IlluminationState{}; // hold-off, last exposure and far mode start at 0
    s.indirect33 = kGainMax;
    ctx.illuminationLevel = 80;
    writeIlluminationWord(ctx, 160);
    setIndirect33(ctx, uint16_t(kGainMax));
    positioningHistory().startupSkip = 3;
}

void ResetLoopState(CameraContext &ctx) {
    ctx.captureReady = 0;
    ctx.rangeState = 0;
    ctx.qualifyingFrames = 0;
    if (!ctx.illuminationState) return;
    IlluminationState &s = *ctx.illuminationState;
    s.stableFrames = 0;
    s.stableMs = 0;
    s.holdOff = 0;
    s.lastExposure = 0;
    s.farMode = 0;
    s.farCountdown = kCountdown;
    restartSteadyClock(s);
}

int32_t MeasureBrightness(const DualIrisRecord &rec, bool verticalFlip) {
    const int32_t W = rec.width, H = rec.height;
    if (!rec.image || W <= 0 || H <= 0) return 0;
    int32_t rightMean = 0, leftMean = 0;
    const bool right = rec.rightResult.notFound == 0 && irisPatchMean(rec, rec.rightResult, verticalFlip, rightMean);
    const bool left = rec.leftResult.notFound == 0 && irisPatchMean(rec, rec.leftResult, verticalFlip, leftMean);
    if (right && left) return (rightMean + leftMean) / 2;
    if (right) return rightMean;
    if (left) return leftMean;
    if (rec.rightResult.notFound == 0 || rec.leftResult.notFound == 0) {
        // A pupil was found but its patch lies wholly outside the frame:
        // nothing trustworthy to steer by.
        return 0;
    }

    // Neither pupil: a patch in the middle of each half.
    const int64_t cw = rec.cropWidth, ch = rec.cropHeight, e = cw / 20;
    const int64_t y0 = int64_t(H) - ch / 2 - 2 * e, y1 = int64_t(H) - ch / 2 + 2 * e - 1;
    Patch l = patchSum(rec.image, W, H, cw / 2 - 4 * e, cw / 2 + 4 * e - 1, y0, y1);
    Patch r = patchSum(rec.image, W, H, cw / 2 + cw - 4 * e, cw / 2 + cw + 4 * e - 1, y0, y1);
    if (l.count && r.count) return int32_t((l.sum / l.count + r.sum / r.count) / 2);
    if (l.count) return int32_t(l.sum / l.count);
    if (r.count) return int32_t(r.sum / r.count);
    return 0;
}

void RunExposureLoop(CameraContext &ctx, int32_t B) {
    IlluminationState *state = ctx.illuminationState;
    if (!state) return;
    IlluminationState &s = *state;
    ChannelSettings &ch = ctx.selected();
    const int32_t T = ch.brightnessTarget / 2 + 44;
    if (ch.autoMode == 0) return;
    if (s.holdOff > 0) {
        --s.holdOff;
        return;
    }

    int32_t E = 0;
    const int32_t d = (ch.exposureIndex >= 0 && ch.exposureIndex < int32_t(kExposureTableCapacity))
                          ? ch.exposureTable[ch.exposureIndex]
                          : 0;
    if (d != 0) {
        ch.exposureStart = uint16_t(d);
        ch.exposure = uint16_t(ch.exposureBase / d);
        regSet(ctx, kRegExposureTime, ch.exposure);
        E = ch.exposure;
    }

    const int32_t step = (B <= 30 || B >= 220) ? 12 : (B >= 61 && B <= 159) ? 4 : 8;
    const int32_t L = int32_t(ctx.illuminationLevel);

    if (B >= kDarkest && B <= T) {
        if (s.indirect33 < kGainMax) {
            ++s.indirect33;
            setIndirect33(ctx, uint16_t(s.indirect33));
            if (B >= 41 && B <= 209) s.holdOff = 2;
        } else if (E < kExposureLong) {
            takeExposureStep(ctx, s, B, false);
        } else if (L < kLevelMax) {
            ctx.illuminationLevel = uint32_t(std::min(L + step, kLevelMax));
            writeLevelWord(ctx, ctx.illuminationLevel / 4);
            if (B >= 40 && B <= 180) s.holdOff = 2;
        }
    } else if (B >= T + kBrightMargin) {
        if (L > kLevelMin) {
            ctx.illuminationLevel = uint32_t(std::max(L - step, kLevelMin));
            writeLevelWord(ctx, ctx.illuminationLevel / 4);
            if (B >= 40 && B <= 180) s.holdOff = 2;
        } else if (E > kExposureShort) {
            takeExposureStep(ctx, s, B, true);
        } else if (s.indirect33 > kGainMin) {
            --s.indirect33;
            setIndirect33(ctx, uint16_t(s.indirect33));
            if (B >= 41 && B <= 209) s.holdOff = 2;
        }
    }
}

void RunIlluminationLoop(CameraContext &ctx, const DualIrisRecord &record) {
    uint16_t reading = 0;
    if (regGet(ctx, kRegRangeReading, &reading) != 0) reading = 0;
    RunIlluminationLoopWithReading(ctx, record, reading);
}

void RunIlluminationLoopWithReading(CameraContext &ctx, const DualIrisRecord &record, uint16_t reading) {
    IlluminationState *state = ctx.illuminationState;
    if (!state) return;
    IlluminationState &s = *state;
    ChannelSettings &ch = ctx.selected();

    const int32_t B = MeasureBrightness(record, ch.verticalFlip != 0);

    s.rangeSampleIndex &= 3;
    s.rangeSamples[s.rangeSampleIndex] = reading;
    s.rangeSampleIndex = (s.rangeSampleIndex + 1) & 3;
    const int32_t A = (s.rangeSamples[0] + s.rangeSamples[1] + s.rangeSamples[2] + s.rangeSamples[3]) / 4;

    PositioningHistory &history = positioningHistory();
    if (history.startupSkip > 0) {
        --history.startupSkip;
    } else {
        const int32_t innerHigh = ctx.rangeThresholds[0], outerHigh = ctx.rangeThresholds[1];
        const int32_t innerLow = ctx.rangeThresholds[2], outerLow = ctx.rangeThresholds[3];
        if (A < outerLow || A > outerHigh) {
            if (s.farCountdown > 0) {
                --s.farCountdown;
            } else {
                writeLevelWord(ctx, 0);
                s.farMode = 1;
                s.holdOff = kFarHoldOff;
                s.returnCountdown = kCountdown;
            }
        } else if (s.farMode == 1 && A > innerLow && A < innerHigh) {
            if (s.returnCountdown > 0) {
                --s.returnCountdown;
            } else {
                writeLevelWord(ctx, ctx.illuminationLevel / 4);
                s.farMode = 0;
                s.farCountdown = kCountdown;
            }
        }
    }

    if (s.farMode == 0) RunExposureLoop(ctx, B);

    const int32_t R = ctx.rangeTarget0;
    ctx.rangeState = A < R - kRangeTolerance ? 0 : A > R + kRangeTolerance ? 2 : 1;
    if (ch.rangeLedMode == kRangeLedFollowsRange) regSet(ctx, kRegRangeIndicator, uint16_t(256u << ctx.rangeState));

    if (ch.stabilityCheck != 0) captureReadiness(ctx, s, record);
}

void RunPositioningStep(CameraContext &ctx, const eyes::LocatorResult &result) {
    PositioningHistory &h = positioningHistory();
    const int64_t H = ctx.selected().outputHeight;
    const int64_t sample = H - (int64_t(result.eye1Y) + result.eye2Y) / 2;
    h.positionIndex &= 3;
    h.positionSamples[h.positionIndex] = int32_t(std::clamp<int64_t>(sample, std::numeric_limits<int32_t>::min(),
                                                                     std::numeric_limits<int32_t>::max()));
    h.positionIndex = (h.positionIndex + 1) & 3;
    const int64_t P =
        (int64_t(h.positionSamples[0]) + h.positionSamples[1] + h.positionSamples[2] + h.positionSamples[3]) / 4;
    if (ctx.locatorAssist == 0) return;

    const int64_t t = 460 * H / 1000, n = H / 64, m = H / 16;
    auto startMoving = [&] {
        if (ctx.movingFlag == 0) {
            ctx.movingFlag = 1;
            regSet(ctx, kRegMoving, 1);
        }
    };
    if (ctx.inBandFlag == 0) {
        if (P > t - n && P < t + n) {
            ctx.inBandFlag = 1;
            if (ctx.movingFlag == 1) ctx.movingFlag = 0;
            return;
        }
        if (P > t + n) ctx.locatorLevel = uint16_t(ctx.locatorLevel + (P > t + m ? 5 : 1));
        else if (P < t - n) ctx.locatorLevel = uint16_t(ctx.locatorLevel - (P < t - m ? 5 : 1));
        else return;
        regSet(ctx, kRegPositionLevel, uint16_t(ctx.locatorLevel + 1000));
        startMoving();
        return;
    }
    if (P >= t - m && P <= t + m) return;
    ctx.inBandFlag = 0;
    startMoving();
}

} // namespace ix
