// Marks drawn into delivered frames (formats 2, 4 and 6, bottom-up): the
// channel-0 pupil markers and the eye locator's circles and box on channel
// 1. Every pixel is clipped to the frame, whatever the coordinates.
#pragma once
#include <cstdint>

#include "IxiLumo.h"
#include "locator_result.h"

namespace ix::eyes {

// One colour in each of the three drawable formats.
struct OverlayColour {
    uint8_t blue, green, red;  // format 2, stored in this order
    uint16_t rgb565;           // format 4
    uint8_t grey;              // format 6
};

inline constexpr OverlayColour kCrossColour{192, 192, 192, 0xC618, 192};
// Range low is drawn 0xF100 in RGB565, not the pure red 0xF800.
inline constexpr OverlayColour kRangeLowColour{0, 0, 255, 0xF100, 0};
inline constexpr OverlayColour kInRangeColour{0, 255, 0, 0x07E0, 0};
inline constexpr OverlayColour kRangeHighColour{255, 0, 0, 0x001F, 0};

// Colour of channel 0's range state: 0 low, 1 in range, 2 high.
const OverlayColour &RangeStateColour(int32_t rangeState);
// Colour of channel 1's range status: 1 low, 2 in the band, 4 high.
const OverlayColour &RangeStatusColour(int32_t status);

// Midpoint circle around (x, image row y). Only the grey format has the
// dashed form; `dashed` is ignored in the others.
void DrawCircle(uint8_t *frame, int32_t width, int32_t height, int32_t format, int32_t x, int32_t y,
                int32_t radius, const OverlayColour &colour, bool dashed);

// Channel 0: a grey cross in a circle of 5/4 of the iris radius around a
// found pupil, only when the whole marker stays clear of the frame's edges.
void DrawEyeMarker(uint8_t *frame, int32_t width, int32_t height, const EyeResult &eye, int32_t format,
                   int32_t rangeState);

// Channel 1, after the locator gave valid eye points: a circle of W / 32 at
// each (the second point first); range colour in format 2, solid 0 in 6.
void DrawLocatorCircles(uint8_t *frame, int32_t width, int32_t height, int32_t format,
                        const LocatorResult &marks, int32_t status);

// Channel 1, after the locator gave its box: the outline in the range
// colour, format 2 only, and only when boxNearY is at least 1.
void DrawLocatorBox(uint8_t *frame, int32_t width, int32_t height, int32_t format, const LocatorResult &marks,
                    int32_t status);

}  // namespace ix::eyes
