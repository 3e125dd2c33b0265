// Controls that compute what they send: geometry, the tone curve, the
// attenuation table, the illumination word, the exposure table.
#pragma once
#include <cstdint>
#include <string>

#include "library/core/context.h"

namespace ix {

// Geometry.
void readSensorExtent(CameraContext &ctx);
int selectPreset(CameraContext &ctx, uint16_t code);
int setSize(CameraContext &ctx, uint32_t id, uint16_t value); // controls 31 to 34
int setDecimation(CameraContext &ctx, uint16_t k);
int setOffsetX(CameraContext &ctx, uint16_t v);
int setOffsetY(CameraContext &ctx, uint16_t v);

// Tables and sequences.
int uploadToneCurve(CameraContext &ctx);
int uploadAttenuation(CameraContext &ctx);
void rebuildExposureTable(CameraContext &ctx);
uint16_t exposureStep(CameraContext &ctx, uint32_t brightness, bool shorter, bool longer);
int setIlluminationLevel(CameraContext &ctx, uint16_t v);
int setIlluminationMode(CameraContext &ctx, uint16_t v);
void replayIllumination(CameraContext &ctx);
int pulseRegister58(CameraContext &ctx, uint16_t v);

// UTF-16 text in the process locale's multibyte encoding; false when it
// cannot be converted.
bool narrowText(const char16_t *text, size_t length, std::string &out);

} // namespace ix
