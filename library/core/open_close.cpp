#include "library/core/open_close.h"

#include <cstring>
#include <new>

#include "library/codec/mjpeg_decoder.h"
#include "library/controls/controls.h"
#include "library/core/channel.h"
#include "library/core/device.h"
#include "library/core/eye_work.h"
#include "library/core/illumination.h"
#include "library/core/stream.h"
#include "library/eyes/locator_binding.h"

namespace ix {

CameraContext &context() {
    static CameraContext ctx{};
    return ctx;
}

void resetContext(CameraContext &ctx) {
    // Value-initialised: every number zero, every pointer null, no device.
    ctx = CameraContext{};
}

namespace {

void giveDefaults(CameraContext &ctx) {
    ChannelSettings &ch = ctx.selected();
    std::memset(&ch, 0, sizeof ch);
    ch.autoMode = 1;
    ch.pixelFormat = 4;
    ch.decimation = 1;
    ch.toneStrength = 70;
    ch.reg58 = 1;
    ch.reg63 = 148;
    ch.reg4 = 125;
    ch.reg26 = 125;
    ch.brightnessTarget = 125;
    ch.resolutionCode = 1;
    ch.holdTime = 400;
    ch.defectCorrection = 1;
    ch.attenuation = 75;
    ch.reg35 = 125;
    ch.reg36 = 125;
    ch.exposure = 256;
    ch.reg53 = 2;
    ch.reg7 = 125;
    ch.reg2 = 1;
    ch.reg9 = 1;
    ch.baseRotation = ctx.channel == 0 ? 0 : 90;
    if (ctx.channel == 0) ch.exposureStart = ctx.revisionWord <= 257 ? 91 : 140;
    else ch.exposureStart = 60;
}

} // namespace

int IxOpenSequence(CameraContext &ctx) {
    // Closes an open camera and releases anything a failed earlier open left.
    IxCloseSequence(ctx);
    resetContext(ctx);

    int opened = 1;
    for (const DeviceInterfaceEntry &entry : kDeviceTable) {
        if (OpenDevice(ctx, entry) == 0) {
            opened = 0;
            break;
        }
    }
    if (opened != 0) {
        IxCloseSequence(ctx);
        return 1;
    }

    ReadIdentity(ctx);
    ctx.revisionWord = 0;
    regGet(ctx, 16, &ctx.revisionWord);
    ctx.firmwareVersion = 0;
    regGet(ctx, 8, &ctx.firmwareVersion);

    for (uint16_t n = 0; n < 2; ++n) {
        ctx.channel = n;
        giveDefaults(ctx);
    }
    ctx.locatorAssist = 0;
    ctx.locatorLevel = 500;
    ctx.movingFlag = 0;
    ctx.rangeTargetSelect = 1;

    SelectChannel(ctx, 0);

    ctx.decoder = codec::MjpegCreateDecoder();
    if (!ctx.decoder) {
        ctx.decoderReady = 0;
        IxCloseSequence(ctx);
        return 1;
    }
    ctx.decoderReady = 1;
    // The decoder is shared with IxDecompressMjpg on other threads; without
    // its mutex it cannot be used safely, so the open fails as for the decoder.
    ctx.decoderMutex = new (std::nothrow) std::timed_mutex();
    if (!ctx.decoderMutex) {
        IxCloseSequence(ctx);
        return 1;
    }

    ctx.eyeSearchArea = new (std::nothrow) uint8_t[kEyeSearchAreaBytes]();
    if (!ctx.eyeSearchArea) {
        IxCloseSequence(ctx);
        return 1;
    }
    ConstructSearchArea(ctx.eyeSearchArea);

    ctx.illuminationState = CreateIlluminationState();
    if (!ctx.illuminationState) {
        IxCloseSequence(ctx);
        return 1;
    }
    // Level 80, register 49 and the gain of indirect 33, then the loops' state.
    InitIllumination(ctx);

    if (!ctx.stream) {
        ctx.stream = CreateStream();
        if (!ctx.stream) {
            IxCloseSequence(ctx);
            return 1;
        }
    }
    ClearPositioningHistory();

    if (!eyes::BindLocator()) return 0;
    eyes::InitLocator(ctx);
    return 0;
}

int IxCloseSequence(CameraContext &ctx) {
    if (ctx.connected) {
        SetStreamMode(ctx, 0);
        ChannelSettings &ch = ctx.selected();
        ch.reg59 = 0;
        regSet(ctx, 59, 0);
        ch.rangeLedMode = 0;
        regSet(ctx, 18, 0);
        regSet(ctx, 75, 0);
        uint16_t zero = 0;
        setBasicControl(ctx, 25, &zero, 2);
        CloseDevice(ctx);
    }
    ReleaseStream(ctx);
    if (ctx.decoderReady) {
        codec::MjpegDestroyDecoder(ctx.decoder);
        ctx.decoder = nullptr;
        ctx.decoderReady = 0;
    }
    FreeDeliveryBuffers(ctx);
    delete[] ctx.eyeSearchArea;
    ctx.eyeSearchArea = nullptr;
    DestroyIlluminationState(ctx.illuminationState);
    ctx.illuminationState = nullptr;
    delete ctx.decoderMutex;
    ctx.decoderMutex = nullptr;
    eyes::UnbindLocator(ctx);
    return 0;
}

} // namespace ix
