#include "library/core/stream.h"

#include <new>

#include "library/controls/controls.h"

namespace ix {

void FreeDeliveryBuffers(CameraContext &ctx) {
    delete[] ctx.decodeBuffer;
    ctx.decodeBuffer = nullptr;
    ctx.decodeBufferSize = 0;
    delete[] ctx.greyBuffer;
    ctx.greyBuffer = nullptr;
    ctx.greyBufferSize = 0;
    delete[] ctx.rotationBuffer;
    ctx.rotationBuffer = nullptr;
    ctx.rotationBufferSize = 0;
}

FrameStream *CreateStream() { return new (std::nothrow) FrameStream(); }

void StopReading(CameraContext &ctx) {
    if (!ctx.stream) return;
    regSet(ctx, 6, 0);
    ctx.stream->state = 0;
}

int SetStreamMode(CameraContext &ctx, uint16_t mode) {
    ChannelSettings &ch = ctx.selected();
    ch.streamMode = mode;
    ctx.inBandFlag = 0;
    ctx.qualifyingFrames = 0;
    if (mode == 0) {
        StopReading(ctx);
        FreeDeliveryBuffers(ctx);
        return 0;
    }
    // Starting a stream is not available yet: report it rather than pretend.
    StopReading(ctx);
    FreeDeliveryBuffers(ctx);
    return 1;
}

void ReleaseStream(CameraContext &ctx) {
    if (!ctx.stream) return;
    StopReading(ctx);
    for (FrameSlot &s : ctx.stream->slots) {
        delete[] s.buffer;
        s.buffer = nullptr;
        s.capacity = 0;
    }
    delete ctx.stream;
    ctx.stream = nullptr;
}

} // namespace ix
