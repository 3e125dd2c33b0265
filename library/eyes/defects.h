// Repair of the sensor's listed defect pixels in raw YUY2 frames, before
// conversion.
#pragma once
#include <cstddef>
#include <cstdint>

#include "library/core/limits.h"

namespace ix::eyes {

// A channel's defect list: G, then per group a key (the window size it
// belongs to), a count c and c (p, q) pairs, in kDefectTableWords words.
using ix::kDefectTableWords;

// The selected channel's settings the repair depends on.
struct DefectSettings {
    int32_t channel;  // 0 or 1: channel 1's raw frames arrive turned
    uint16_t windowWidth, windowHeight;
    uint16_t offsetX, offsetY;
    uint16_t outputWidth, outputHeight;
    int32_t verticalFlip, horizontalFlip;
};

// Repairs, in place, every pair of the first group whose key matches the
// window (windowWidth on channel 0, windowHeight on channel 1). Each repair
// rewrites the 18 bytes of the 3 x 3 pixels around the defect. The frame is
// X x Y pixels (outputWidth x outputHeight, swapped on channel 1) and must
// hold X * Y * 2 bytes, otherwise nothing is touched. Returns the number of
// defects repaired.
int CorrectDefects(uint8_t *frame, size_t frameBytes, const uint16_t *defectTable, const DefectSettings &settings);

}  // namespace ix::eyes
