#include "sim/frames.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#ifdef IXLUMO_SIM_HAS_ENCODER
#include "sim/encoder/mjpeg_encoder.h"
#endif

namespace ix::sim {

FrameRequest frameRequestFromRegisters(const uint16_t *regs, const Settings &settings, uint64_t number,
                                       uint16_t range) {
    FrameRequest r;
    r.channel = regs[38] & 1;
    r.sensorWidth = settings.sensorWidth[r.channel];
    r.sensorHeight = settings.sensorHeight[r.channel];
    // Before a window is programmed the camera shows its whole sensor.
    r.windowWidth = regs[27] ? regs[27] : r.sensorWidth;
    r.windowHeight = regs[28] ? regs[28] : r.sensorHeight;
    // The sensor cannot look past its edges: the window is cut to the sensor
    // and moved back inside it.
    r.windowWidth = std::min(r.windowWidth, r.sensorWidth);
    r.windowHeight = std::min(r.windowHeight, r.sensorHeight);
    r.windowX = std::min<uint32_t>(regs[31], r.sensorWidth - r.windowWidth);
    r.windowY = std::min<uint32_t>(regs[32], r.sensorHeight - r.windowHeight);
    r.width = regs[29] ? regs[29] : r.windowWidth;
    r.height = regs[30] ? regs[30] : r.windowHeight;
    r.compressed = regs[10] == 16;
    r.flipRows = regs[17] != 0;
    r.flipColumns = regs[19] != 0;
    r.number = number;
    r.range = range;
    r.illumination = regs[49];
    r.exposure = regs[37];
    r.positioning = regs[74];
    return r;
}

namespace {

struct Pixel {
    uint8_t y, u, v;
};

// The scene at a point in scene units (0..1 across, 0..1 down): skin with a
// soft texture, two eyes side by side, each an iris ring round a dark pupil
// with a small bright glint a little off centre.
Pixel scene(double x, double y, double eyeRadius) {
    const double cx[2] = {0.27, 0.73};
    const double cy = 0.5;
    Pixel p{uint8_t(std::clamp(150.0 + 20.0 * std::sin(x * 7.0) * std::cos(y * 5.0), 0.0, 255.0)), 120, 145};
    for (double ex : cx) {
        double dx = x - ex, dy = (y - cy) * 0.75; // scene units are 4:3, eyes are round
        double d = std::sqrt(dx * dx + dy * dy);
        if (d < eyeRadius * 2.6) p = {95, 145, 118}; // iris
        if (d < eyeRadius) p = {18, 128, 128};        // pupil
        double gx = dx + eyeRadius * 0.3, gy = dy + eyeRadius * 0.3; // up and to the left
        if (std::sqrt(gx * gx + gy * gy) < eyeRadius * 0.18)
            p = {252, 128, 128}; // glint
    }
    return p;
}

} // namespace

uint32_t renderFrame(const FrameRequest &r, const Settings &settings, uint8_t *buffer, uint32_t capacity) {
    uint64_t bytes = uint64_t(r.width) * r.height * 2;
    if (bytes == 0 || bytes > capacity || !buffer || r.sensorWidth == 0 || r.sensorHeight == 0) return 0;
    const bool turned = r.channel == 1;
    const double eyeRadius = 0.028 * 500.0 / std::max<double>(r.range, 100.0);
    const double stepX = double(r.windowWidth) / r.width, stepY = double(r.windowHeight) / r.height;
    Pixel pair[2];
    for (uint32_t row = 0; row < r.height; ++row) {
        uint32_t outRow = r.flipRows ? r.height - 1 - row : row;
        double sy = (r.windowY + (outRow + 0.5) * stepY) / r.sensorHeight; // 0..1 down the sensor
        uint8_t *line = buffer + size_t(row) * r.width * 2;
        for (uint32_t col = 0; col < r.width; col += 2) {
            for (uint32_t k = 0; k < 2; ++k) {
                uint32_t c = std::min(col + k, r.width - 1);
                uint32_t outCol = r.flipColumns ? r.width - 1 - c : c;
                double sx = (r.windowX + (outCol + 0.5) * stepX) / r.sensorWidth;
                // Channel 1: the sensor's rows run along the scene from right
                // to left and its columns from top to bottom.
                pair[k] = turned ? scene(1.0 - sy, sx, eyeRadius) : scene(sx, sy, eyeRadius);
            }
            uint8_t *q = line + size_t(col) * 2;
            q[0] = pair[0].y;
            q[1] = uint8_t((pair[0].u + pair[1].u) / 2);
            if (col + 1 < r.width) {
                q[2] = pair[1].y;
                q[3] = uint8_t((pair[0].v + pair[1].v) / 2);
            }
        }
    }
    if (settings.stampFrames && bytes >= 8) {
        // Lets a test tell frames apart: the frame number, little-endian.
        for (int i = 0; i < 8; ++i) buffer[i] = uint8_t(r.number >> (8 * i));
    }
    return uint32_t(bytes);
}

uint32_t produceFrame(const FrameRequest &r, const Settings &settings, uint8_t *buffer, uint32_t capacity) {
    if (!r.compressed) return renderFrame(r, settings, buffer, capacity);
#ifdef IXLUMO_SIM_HAS_ENCODER
    uint64_t raw = uint64_t(r.width) * r.height * 2;
    if (raw == 0 || raw > 0x7FFFFFFF) return 0;
    std::vector<uint8_t> yuy2(size_t(raw), 0);
    if (renderFrame(r, settings, yuy2.data(), uint32_t(raw)) == 0) return 0;
    size_t n = EncodeMjpegFrame(yuy2.data(), int32_t(r.width), int32_t(r.height), int(settings.quality), buffer, capacity);
    return uint32_t(n);
#else
    (void)settings;
    (void)buffer;
    (void)capacity;
    return 0;
#endif
}

} // namespace ix::sim
