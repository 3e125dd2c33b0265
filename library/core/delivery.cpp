#include "library/core/delivery.h"

#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>

#include "library/codec/image_files.h"
#include "library/codec/mjpeg_decoder.h"
#include "library/codec/pixel_convert.h"
#include "library/codec/quarter_turn.h"
#include "library/controls/controls.h"
#include "library/core/feedback.h"
#include "library/core/stream.h"
#include "library/eyes/locator_binding.h"
#include "library/eyes/overlay.h"

namespace ix {

namespace {

// Captures need more than this many located, in-range frames in a row.
constexpr uint32_t kQualifyingFramesNeeded = 5;

bool isYuy2Format(uint16_t f) { return f == 7 || f == 21; }

int32_t bytesPerPixel(uint16_t f) {
    switch (f) {
    case 2: return 3;
    case 4: return 2;
    case 6: return 1;
    default: return 0;
    }
}

codec::ConvertFn converter(uint16_t f) {
    switch (f) {
    case 2: return codec::ConvertYuy2ToBgr24;
    case 4: return codec::ConvertYuy2ToRgb565;
    case 6: return codec::ConvertYuy2ToGrey8;
    default: return nullptr;
    }
}

void channelOneFrameWork(CameraContext &ctx, uint8_t *destination, int32_t w, int32_t h) {
    ChannelSettings &ch = ctx.selected();
    eyes::LocatorBinding &locator = eyes::locatorBinding();
    locator.result = eyes::LocatorResult{};

    uint16_t reading = 0;
    if (regGet(ctx, kRegRangeReading, &reading) != 0) reading = 0;
    int32_t target = ctx.rangeTargetSelect == 0 ? ctx.rangeTarget0 : ctx.rangeTarget1;
    int32_t tolerance = ctx.rangeTargetSelect == 0 ? 15 : 25;
    uint32_t status = RangeStatus(reading, target, tolerance);
    if (ch.rangeLedMode == kRangeLedFollowsRange) regSet(ctx, kRegRangeIndicator, uint16_t(status << 8));

    if (ctx.locatorReady) {
        eyes::RunLocator(ctx, destination, w, h, ch.pixelFormat);
        const eyes::LocatorResult &r = locator.result;
        if (ch.overlayEnable != 0 && r.found == 1 && (ch.pixelFormat == 2 || ch.pixelFormat == 6)) {
            // The locator leaves the eye points at 0 when it gave none.
            if (r.eye1X || r.eye1Y || r.eye2X || r.eye2Y)
                eyes::DrawLocatorCircles(destination, w, h, ch.pixelFormat, r, int32_t(status));
            eyes::DrawLocatorBox(destination, w, h, ch.pixelFormat, r, int32_t(status));
        }
    }
    if (locator.result.found == 1) {
        if (ctx.locatorAssist == 1) ChannelOnePositioning(ctx);
        if (ch.stabilityCheck == 1 && ctx.inBandFlag == 1 && status == 2) {
            ++ctx.qualifyingFrames;
            ctx.captureReady = ctx.qualifyingFrames > kQualifyingFramesNeeded ? 1 : 0;
        }
    }
}

// The next frame from the stream. The camera expects a range read with every
// frame it hands over, whether or not the reading is used.
int takeFrame(CameraContext &ctx, uint8_t **frame, uint32_t *frameBytes) {
    if (AcquireFrame(ctx, frame, frameBytes) != 0) return 1;
    uint16_t unused = 0;
    regGet(ctx, kRegRangeReading, &unused);
    return 0;
}

} // namespace

uint32_t RangeStatus(int32_t r, int32_t t, int32_t d) {
    if (t - d < r && r < t + d) return 2;
    return r <= t - d ? 1 : 4;
}

int DecodeCompressedFrame(CameraContext &ctx, const uint8_t *frame, uint32_t frameBytes, uint8_t *target) {
    if (!ctx.decoder || !ctx.decoderMutex || frameBytes > uint32_t(INT32_MAX)) return 1;
    std::unique_lock<std::timed_mutex> lock(*ctx.decoderMutex, std::defer_lock);
    if (!lock.try_lock_for(std::chrono::milliseconds(3000))) return 1;
    // The target holds the frame the stream was sized for; a frame whose
    // headers claim a larger picture is refused rather than decoded past it.
    const ChannelSettings &ch = ctx.selected();
    int64_t capacity = int64_t(ch.outputWidth) * ch.outputHeight * 2;
    int32_t width = 0, height = 0;
    int32_t r = codec::MjpegDecodeToYuy2(ctx.decoder, frame, int32_t(frameBytes), target, capacity, &width, &height,
                                         ctx.sensorWidth, ctx.sensorHeight);
    return r == 0 ? 0 : 1;
}

// CorrectFrameDefects, ChannelZeroFrameWork and ChannelOnePositioning live
// with the eye work (eye_work.cpp).

int DeliverFrame(CameraContext &ctx, uint8_t *destination, uint32_t capacity, uint32_t *delivered) {
    ChannelSettings &ch = ctx.selected();
    if (ch.streamMode == 0) return 7;
    const uint16_t format = ch.pixelFormat;
    const int32_t w = ch.outputWidth, h = ch.outputHeight;
    const bool yuy2 = isYuy2Format(format);
    if (!yuy2 && !converter(format)) return 1; // no format this path can deliver
    if (ctx.frameSize == 0) return 1;
    // The caller's buffer is only written when the whole frame fits.
    if (capacity < ctx.frameSize) return 8;
    if (!destination) return 1;

    uint8_t *frame = nullptr;
    uint32_t frameBytes = 0;
    if (takeFrame(ctx, &frame, &frameBytes) != 0) return 1;

    const bool compressed = ctx.stream && ctx.stream->compressed;
    const uint32_t imageBytes = uint32_t(w) * uint32_t(h) * 2;
    uint8_t *working = nullptr;
    if (compressed) {
        uint8_t *target = yuy2 ? destination : ctx.decodeBuffer;
        if (!target || (!yuy2 && ctx.decodeBufferSize < imageBytes) ||
            DecodeCompressedFrame(ctx, frame, frameBytes, target) != 0) {
            ReleaseFrame(ctx, frame);
            return 1;
        }
        working = target;
    } else if (yuy2) {
        // Never more than the slot holds nor the caller was promised.
        uint32_t n = frameBytes < ctx.frameSize ? frameBytes : ctx.frameSize;
        std::memcpy(destination, frame, n);
        working = destination;
    } else {
        working = frame;
    }
    if (delivered) *delivered = ctx.frameSize;

    if (!compressed && ch.defectCorrection != 0) CorrectFrameDefects(ctx, working, imageBytes);

    if (!yuy2) {
        codec::ConvertFn convert = converter(format);
        if (ctx.rotation == 90 || ctx.rotation == 270) {
            if (!ctx.rotationBuffer || ctx.rotationBufferSize < ctx.frameSize) {
                ReleaseFrame(ctx, frame);
                return 1;
            }
            // The camera sent the frame turned: h pixels wide, w rows.
            convert(ctx.rotationBuffer, h, w, working);
            codec::QuarterTurn(destination, ctx.rotationBuffer, w, h, bytesPerPixel(format), ctx.rotation);
        } else {
            convert(destination, w, h, working);
        }
    }
    if (ctx.greyBuffer && ctx.greyBufferSize >= uint32_t(w) * uint32_t(h))
        codec::ConvertYuy2ToGrey8(ctx.greyBuffer, w, h, working);
    ReleaseFrame(ctx, frame);

    if (ch.streamMode == 1) {
        if (ctx.channel == 0) {
            if (format == 2 || format == 4 || format == 6) ChannelZeroFrameWork(ctx, destination);
        } else {
            channelOneFrameWork(ctx, destination, w, h);
        }
    } else if (ch.streamMode == 2 && ch.rangeLedMode == kRangeLedFollowsRange) {
        regSet(ctx, kRegRangeIndicator, 0);
    }
    ctx.lastFrameBytes = frameBytes;
    return 0;
}

int DeliverCompressedFrame(CameraContext &ctx, uint8_t *destination, uint32_t capacity, uint32_t *delivered,
                           bool asJpegFile) {
    ChannelSettings &ch = ctx.selected();
    if (ch.streamMode == 0) return 7;
    // Frames as sent only exist when the camera compresses them.
    if (!ctx.stream || !ctx.stream->compressed) return 7;
    if (!destination) return 1;

    uint8_t *frame = nullptr;
    uint32_t frameBytes = 0;
    if (takeFrame(ctx, &frame, &frameBytes) != 0) return 1;

    uint32_t written = 0;
    int result;
    if (asJpegFile) {
        result = codec::composeJpegFile(destination, capacity, frame, frameBytes, &written);
    } else if (frameBytes > capacity) {
        result = 8;
    } else {
        std::memcpy(destination, frame, frameBytes);
        written = frameBytes;
        result = 0;
    }
    ReleaseFrame(ctx, frame);
    if (result != 0) return result;

    if (ch.streamMode == 2 && ch.rangeLedMode == kRangeLedFollowsRange) regSet(ctx, kRegRangeIndicator, 0);
    ctx.lastFrameBytes = frameBytes;
    if (delivered) *delivered = written;
    return 0;
}

} // namespace ix
