#include "overlay.h"

#include <algorithm>

namespace ix::eyes {
namespace {

// Radii beyond this belong to no frame the camera delivers; refusing them
// keeps a wild value from spinning the circle loop for seconds.
constexpr int64_t kMaxRadius = 65535;

void setPixel(uint8_t *frame, int32_t width, int32_t height, int32_t format, int64_t x, int64_t y,
              const OverlayColour &colour) {
    if (!frame || x < 0 || y < 0 || x >= width || y >= height) return;
    // Image row y is stored row H - 1 - y.
    const size_t index = static_cast<size_t>(height - 1 - y) * static_cast<size_t>(width) + static_cast<size_t>(x);
    switch (format) {
    case IX_FORMAT_BGR24: {
        uint8_t *p = frame + index * 3;
        p[0] = colour.blue;
        p[1] = colour.green;
        p[2] = colour.red;
        break;
    }
    case IX_FORMAT_RGB565: {
        uint8_t *p = frame + index * 2;
        p[0] = static_cast<uint8_t>(colour.rgb565 & 0xFF);
        p[1] = static_cast<uint8_t>(colour.rgb565 >> 8);
        break;
    }
    case IX_FORMAT_GREY8:
        frame[index] = colour.grey;
        break;
    default:
        break;
    }
}

// Horizontal run on image row y, columns from .. to - 1, clipped first so a
// wild coordinate costs nothing.
void horizontalLine(uint8_t *frame, int32_t width, int32_t height, int32_t format, int64_t y, int64_t from,
                    int64_t to, const OverlayColour &colour) {
    if (y < 0 || y >= height) return;
    from = std::max<int64_t>(from, 0);
    to = std::min<int64_t>(to, width);
    for (int64_t x = from; x < to; ++x) setPixel(frame, width, height, format, x, y, colour);
}

void verticalLine(uint8_t *frame, int32_t width, int32_t height, int32_t format, int64_t x, int64_t from,
                  int64_t to, const OverlayColour &colour) {
    if (x < 0 || x >= width) return;
    from = std::max<int64_t>(from, 0);
    to = std::min<int64_t>(to, height);
    for (int64_t y = from; y < to; ++y) setPixel(frame, width, height, format, x, y, colour);
}

bool drawable(int32_t format) {
    return format == IX_FORMAT_BGR24 || format == IX_FORMAT_RGB565 || format == IX_FORMAT_GREY8;
}

void circle(uint8_t *frame, int32_t width, int32_t height, int32_t format, int64_t x, int64_t y, int64_t radius,
            const OverlayColour &colour, bool dashed) {
    if (!frame || width <= 0 || height <= 0 || !drawable(format)) return;
    if (radius < 0 || radius > kMaxRadius) return;
    if (x + radius < 0 || y + radius < 0 || x - radius >= width || y - radius >= height) return;
    dashed = dashed && format == IX_FORMAT_GREY8;
    const int64_t dash = radius / 8;
    int64_t countdown = dash;
    bool pen = true;
    int64_t r = radius, d = -radius;
    for (int64_t i = 0; i <= r; ++i) {
        if (pen || !dashed) {
            setPixel(frame, width, height, format, x + r, y + i, colour);
            setPixel(frame, width, height, format, x - r, y + i, colour);
            setPixel(frame, width, height, format, x + r, y - i, colour);
            setPixel(frame, width, height, format, x - r, y - i, colour);
            setPixel(frame, width, height, format, x + i, y + r, colour);
            setPixel(frame, width, height, format, x - i, y + r, colour);
            setPixel(frame, width, height, format, x + i, y - r, colour);
            setPixel(frame, width, height, format, x - i, y - r, colour);
        }
        d += 2 * i + 1;
        if (d > 0) {
            r -= 1;
            d -= 2 * r;
        }
        if (--countdown <= 0) {
            countdown = dash;
            pen = !pen;
        }
    }
}

}  // namespace

const OverlayColour &RangeStateColour(int32_t rangeState) {
    if (rangeState == 1) return kInRangeColour;
    if (rangeState == 2) return kRangeHighColour;
    return kRangeLowColour;
}

const OverlayColour &RangeStatusColour(int32_t status) {
    if (status == 2) return kInRangeColour;
    if (status == 4) return kRangeHighColour;
    return kRangeLowColour;
}

void DrawCircle(uint8_t *frame, int32_t width, int32_t height, int32_t format, int32_t x, int32_t y,
                int32_t radius, const OverlayColour &colour, bool dashed) {
    circle(frame, width, height, format, x, y, radius, colour, dashed);
}

void DrawEyeMarker(uint8_t *frame, int32_t width, int32_t height, const EyeResult &eye, int32_t format,
                   int32_t rangeState) {
    if (!frame || eye.notFound != 0 || !drawable(format)) return;
    const int64_t x = static_cast<int64_t>(eye.originX) + eye.irisX;
    const int64_t y = static_cast<int64_t>(eye.originY) + eye.irisY;
    const int64_t m = 5 * static_cast<int64_t>(eye.irisRadius) / 4;
    if (m < 0) return;
    // A marker that would reach the frame's edge is left out whole.
    if (!(x > m && y > m && x + m < width && y + m < height)) return;
    horizontalLine(frame, width, height, format, y, x - m, x + m, kCrossColour);
    verticalLine(frame, width, height, format, x, y - m, y + m, kCrossColour);
    // The grey frame cannot show colour: in range is a dashed black circle.
    circle(frame, width, height, format, x, y, m, RangeStateColour(rangeState),
           format == IX_FORMAT_GREY8 && rangeState == 1);
}

void DrawLocatorCircles(uint8_t *frame, int32_t width, int32_t height, int32_t format,
                        const LocatorResult &marks, int32_t status) {
    if (format != IX_FORMAT_BGR24 && format != IX_FORMAT_GREY8) return;
    const OverlayColour &colour = RangeStatusColour(status);
    const int64_t radius = width / 32;
    circle(frame, width, height, format, marks.eye2X, static_cast<int64_t>(height) - marks.eye2Y, radius, colour,
           false);
    circle(frame, width, height, format, marks.eye1X, static_cast<int64_t>(height) - marks.eye1Y, radius, colour,
           false);
}

void DrawLocatorBox(uint8_t *frame, int32_t width, int32_t height, int32_t format, const LocatorResult &marks,
                    int32_t status) {
    if (!frame || format != IX_FORMAT_BGR24 || marks.boxNearY < 1) return;
    const OverlayColour &colour = RangeStatusColour(status);
    const int64_t top = static_cast<int64_t>(height) - marks.boxFarY;
    const int64_t bottom = static_cast<int64_t>(height) - marks.boxNearY;
    horizontalLine(frame, width, height, format, top, marks.boxNearX, marks.boxFarX, colour);
    horizontalLine(frame, width, height, format, bottom, marks.boxNearX, marks.boxFarX, colour);
    verticalLine(frame, width, height, format, marks.boxNearX, top, bottom, colour);
    verticalLine(frame, width, height, format, marks.boxFarX, top, bottom, colour);
}

}  // namespace ix::eyes
