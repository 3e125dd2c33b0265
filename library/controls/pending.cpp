// Controls whose camera-side work is not built yet: they keep their field and
// report a failure instead of pretending to have reached the camera.
#include "library/controls/controls.h"
#include "library/controls/tables.h"

namespace ix {

void readSensorExtent(CameraContext &ctx) {
    ChannelSettings &ch = ctx.selected();
    uint16_t w = 0, h = 0;
    if (regGet(ctx, 33, &w) != 0 || regGet(ctx, 34, &h) != 0) return;
    ch.maxWidth = w;
    ch.maxHeight = h;
}
int selectPreset(CameraContext &, uint16_t) { return 1; }
int setSize(CameraContext &, uint32_t, uint16_t) { return 1; }
int setDecimation(CameraContext &, uint16_t) { return 1; }
int setOffsetX(CameraContext &, uint16_t) { return 1; }
int setOffsetY(CameraContext &, uint16_t) { return 1; }
int uploadToneCurve(CameraContext &) { return 1; }
int uploadAttenuation(CameraContext &) { return 1; }
void rebuildExposureTable(CameraContext &) {}
uint16_t exposureStep(CameraContext &, uint32_t, bool, bool) { return 0; }
int setIlluminationLevel(CameraContext &, uint16_t) { return 1; }
int setIlluminationMode(CameraContext &, uint16_t) { return 1; }
void replayIllumination(CameraContext &) {}
int pulseRegister58(CameraContext &, uint16_t) { return 1; }

bool narrowText(const char16_t *text, size_t length, std::string &out) {
    out.clear();
    for (size_t i = 0; i < length; ++i) {
        if (text[i] >= 0x80) return false;
        out += char(text[i]);
    }
    return true;
}

} // namespace ix
