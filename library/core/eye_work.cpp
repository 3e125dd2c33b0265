#include "library/core/eye_work.h"

#include <new>

#include "library/controls/controls.h"
#include "library/core/delivery.h"
#include "library/core/feedback.h"
#include "library/eyes/defects.h"
#include "library/eyes/locator_binding.h"
#include "library/eyes/overlay.h"

namespace ix {

namespace {
DualIrisRecord &lastRecord() {
    static DualIrisRecord record{};
    return record;
}
} // namespace

eyes::EyeSearchArea *ConstructSearchArea(uint8_t *bytes) {
    if (!bytes) return nullptr;
    return new (bytes) eyes::EyeSearchArea{};
}

eyes::EyeSearchArea *ContextSearchArea(CameraContext &ctx) {
    if (!ctx.eyeSearchArea) return nullptr;
    return std::launder(reinterpret_cast<eyes::EyeSearchArea *>(ctx.eyeSearchArea));
}

bool ContextRangeSource::readRange(uint16_t &value) { return regGet(ctx_, kRegRangeReading, &value) == 0; }

int32_t ContextRangeSource::rangeTarget() const { return ctx_.rangeTarget0; }

int32_t DualIrisImagesForContext(CameraContext &ctx, DualIrisRecord &record) {
    eyes::EyeSearchArea *area = ContextSearchArea(ctx);
    if (!ctx.connected || !area) return 1;
    ContextRangeSource camera(ctx);
    return eyes::GetDualIrisImages(*area, record, &camera);
}

const DualIrisRecord &LastChannelZeroRecord() { return lastRecord(); }

void CorrectFrameDefects(CameraContext &ctx, uint8_t *image, uint32_t bytes) {
    const ChannelSettings &ch = ctx.selected();
    eyes::DefectSettings settings{};
    settings.channel = ctx.channel & 1;
    settings.windowWidth = ch.windowWidth;
    settings.windowHeight = ch.windowHeight;
    settings.offsetX = ch.offsetX;
    settings.offsetY = ch.offsetY;
    settings.outputWidth = ch.outputWidth;
    settings.outputHeight = ch.outputHeight;
    settings.verticalFlip = ch.verticalFlip;
    settings.horizontalFlip = ch.horizontalFlip;
    static_assert(sizeof ch.defectTable / sizeof ch.defectTable[0] == eyes::kDefectTableWords);
    eyes::CorrectDefects(image, bytes, ch.defectTable, settings);
}

void ChannelZeroFrameWork(CameraContext &ctx, uint8_t *destination) {
    ChannelSettings &ch = ctx.selected();
    eyes::EyeSearchArea *area = ContextSearchArea(ctx);
    const int32_t w = ch.outputWidth, h = ch.outputHeight;
    const uint8_t format = uint8_t(ch.pixelFormat);
    // Format 6 is searched where it was delivered; the others through the
    // grey copy, which must hold the whole frame.
    uint8_t *grey = format == 6 ? destination
                                : (ctx.greyBuffer && ctx.greyBufferSize >= uint32_t(w) * uint32_t(h) ? ctx.greyBuffer
                                                                                                      : nullptr);
    if (!area || !grey || !destination) return;

    DualIrisRecord &record = lastRecord();
    record = DualIrisRecord{};
    record.image = grey;
    record.width = w;
    record.height = h;
    record.cropWidth = w / 2;
    record.cropHeight = h;
    eyes::SearchBothHalves(*area, grey, w, h, record.cropWidth, record.cropHeight, record.leftResult,
                           record.rightResult);
    RunIlluminationLoop(ctx, record);
    if (ch.overlayEnable == 1) {
        eyes::DrawEyeMarker(destination, w, h, record.leftResult, format, int32_t(ctx.rangeState));
        eyes::DrawEyeMarker(destination, w, h, record.rightResult, format, int32_t(ctx.rangeState));
    }
    record.image = nullptr;
}

void ChannelOnePositioning(CameraContext &ctx) { RunPositioningStep(ctx, eyes::locatorBinding().result); }

} // namespace ix
