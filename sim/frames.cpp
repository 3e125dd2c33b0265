#include "sim/frames.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace ix::sim {

FrameRequest frameRequestFromRegisters(const uint16_t *regs, const Settings &settings, uint64_t number,
                                       uint16_t range) {
    FrameRequest r;
    r.channel = regs[38] & 1;
    // Output size registers 29/30; before a window is programmed the camera
    // sends its whole sensor.
    r.width = regs[29] ? regs[29] : settings.sensorWidth[r.channel];
    r.height = regs[30] ? regs[30] : settings.sensorHeight[r.channel];
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

// Grey level of the scene at a point given in scene units (0..1 across the
// frame). Two eyes side by side: iris ring, dark pupil, a small bright glint.
uint8_t scene(double x, double y, double eyeRadius) {
    const double cx[2] = {0.27, 0.73};
    const double cy = 0.5;
    double level = 150.0 + 20.0 * std::sin(x * 7.0) * std::cos(y * 5.0);
    for (double ex : cx) {
        double dx = x - ex, dy = (y - cy) * 0.5;
        double d = std::sqrt(dx * dx + dy * dy);
        if (d < eyeRadius * 2.6) level = 95.0;           // iris
        if (d < eyeRadius) level = 18.0;                  // pupil
        if (d < eyeRadius * 0.18 && dx < 0) level = 252.0; // glint, a little off centre
    }
    return uint8_t(std::clamp(level, 0.0, 255.0));
}

} // namespace

uint32_t renderFrame(const FrameRequest &r, const Settings &, uint8_t *buffer, uint32_t capacity) {
    uint64_t bytes = uint64_t(r.width) * r.height * 2;
    if (bytes == 0 || bytes > capacity || !buffer) return 0;
    // Channel 1's sensor is mounted a quarter turn from channel 0's: its rows
    // run along the scene's columns.
    bool turned = r.channel == 1;
    double eyeRadius = 0.028 * 500.0 / std::max<double>(r.range, 100.0);
    for (uint32_t row = 0; row < r.height; ++row) {
        uint32_t sr = r.flipRows ? r.height - 1 - row : row;
        uint8_t *line = buffer + size_t(row) * r.width * 2;
        for (uint32_t col = 0; col < r.width; ++col) {
            uint32_t sc = r.flipColumns ? r.width - 1 - col : col;
            double x, y;
            if (turned) {
                x = (double(sr) + 0.5) / r.height;
                y = 1.0 - (double(sc) + 0.5) / r.width;
            } else {
                x = (double(sc) + 0.5) / r.width;
                y = (double(sr) + 0.5) / r.height;
            }
            line[2 * col] = scene(x, y, eyeRadius);
            line[2 * col + 1] = 128;
        }
    }
    return uint32_t(bytes);
}

} // namespace ix::sim
