// Controls that compute what they send: geometry, the tone curve, the
// attenuation table, the illumination word, the exposure table.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "library/core/context.h"

namespace ix {

// Geometry.
struct ResolutionPreset {
    uint16_t width;
    uint16_t height;
    uint16_t code;
    char16_t label[16];
};
// In table order; the row with width 0 ends it.
extern const ResolutionPreset resolutionPresets[];

void readSensorExtent(CameraContext &ctx);
// The selected channel's window as the sensor takes it, unturned: output
// size (29, 30), window size (27, 28) and offsets (31, 32).
void writeWindow(CameraContext &ctx);
int selectPreset(CameraContext &ctx, uint16_t code);
int setSize(CameraContext &ctx, uint32_t id, uint16_t value); // controls 31 to 34
int setDecimation(CameraContext &ctx, uint16_t k);
int setOffsetX(CameraContext &ctx, uint16_t v);
int setOffsetY(CameraContext &ctx, uint16_t v);

// Tone curve: the four reference curves, and the 256 bytes sent to register
// 13 for a strength and a lift.
inline constexpr int kToneCurveCount = 4;
const uint8_t (&toneReferenceCurve(int k))[256];
void buildToneCurve(uint16_t strength, uint16_t lift, uint8_t out[256]);
int uploadToneCurve(CameraContext &ctx);

// Attenuation: the reference table and the 128 values sent to register 25.
inline constexpr int kAttenuationEntries = 128;
extern const uint16_t attenuationReference[kAttenuationEntries];
void buildAttenuation(uint16_t attenuation, uint16_t out[kAttenuationEntries]);
int uploadAttenuation(CameraContext &ctx);

// Exposure.
void rebuildExposureTable(CameraContext &ctx);
uint16_t exposureStep(CameraContext &ctx, uint32_t brightness, bool shorter, bool longer);

// Illumination word of register 49.
inline constexpr uint16_t illuminationWord(uint16_t mode, uint16_t level) {
    return uint16_t(((mode * 1024u) + level) * 8u);
}
// Sends the word to register 49 unless it equals the last one sent (the
// camera flickers when the word is rewritten).
void writeIlluminationWord(CameraContext &ctx, uint16_t word);
int setIlluminationLevel(CameraContext &ctx, uint16_t v);
int setIlluminationMode(CameraContext &ctx, uint16_t v);
void replayIllumination(CameraContext &ctx);

int pulseRegister58(CameraContext &ctx, uint16_t v);

// UTF-16 text in the process locale's multibyte encoding; false when it
// cannot be converted.
bool narrowText(const char16_t *text, size_t length, std::string &out);

} // namespace ix
