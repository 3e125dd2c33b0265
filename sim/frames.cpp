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
    r.exposureBase = regs[14];
    r.defectKey = regs[27];
    if (r.channel == 0) {
        r.defectOffsetX = regs[31];
        r.defectOffsetY = regs[32];
    } else {
        // A host that turns channel 1's frames sends its vertical offset in
        // register 31 and, in register 32, the room its picture leaves to
        // the right of the window (window width, less horizontal offset and
        // output width, in 16 bits); registers 28 and 30 carry its window
        // and output widths.
        r.defectOffsetX = uint16_t(regs[28] - regs[32] - regs[30]);
        r.defectOffsetY = regs[31];
    }
    return r;
}

namespace {

struct Pixel {
    uint8_t y, u, v;
};

// Where the pupils sit, in scene units (0..1 across, 0..1 down).
struct EyePlaces {
    double x[2], y[2];
};

// The scene at a point in scene units: skin with a soft texture, two eyes,
// each an iris ring round a dark pupil with a small bright glint off its
// centre (glint= moves it or takes it away). A nearer subject shows bigger
// eyes (scale 1 at the usual distance).
Pixel scene(double x, double y, double scale, const EyePlaces &eyes, const Settings &settings) {
    const double eyeRadius = 0.028 * scale;
    Pixel p{uint8_t(std::clamp(150.0 + 20.0 * std::sin(x * 7.0) * std::cos(y * 5.0), 0.0, 255.0)), 120, 145};
    for (int e = 0; e < 2; ++e) {
        double dx = x - eyes.x[e], dy = (y - eyes.y[e]) * 0.75; // scene units are 4:3, eyes are round
        double d = std::sqrt(dx * dx + dy * dy);
        if (d < eyeRadius * 2.6) p = {95, 145, 118}; // iris
        if (d < eyeRadius) p = {18, 128, 128};        // pupil
        if (!settings.glint) continue;
        // Offsets count in pupil radii from its centre; the default, -0.3
        // both ways, sits up and to the left.
        double gx = dx - settings.glintOffset[0] * eyeRadius, gy = dy - settings.glintOffset[1] * eyeRadius;
        if (std::sqrt(gx * gx + gy * gy) < eyeRadius * 0.18)
            p = {252, 128, 128}; // glint
    }
    return p;
}

// How much light a sensor gathers. As the library leaves the camera at open,
// the eyes come out in the middle of the band its exposure loop aims for
// (hence the 1.15). On channel 0 then: the illuminator's level (register
// 49, bits 3 to 7) over a little ambient light; the exposure only while it
// is shorter than the illuminator's pulse (a 160th of the exposure base),
// since a longer one gathers nothing more; and the gain of indirect
// register 33 (24 at open, 0 until the host sets it). Channel 1's sensor
// has a light of its own.
double lightFactor(const FrameRequest &r, const Settings &settings) {
    double f = 1.15 * settings.light / 100.0;
    if (r.channel != 0) return f;
    const unsigned level = (r.illumination >> 3) & 31;
    f *= (2.0 + level) / 22.0;
    const unsigned pulse = r.exposureBase / 160u;
    if (r.exposure != 0 && r.exposure < pulse) f *= double(r.exposure) / pulse;
    if (r.gain != 0) f *= (8.0 + std::min<unsigned>(r.gain, 40)) / 32.0;
    return f;
}

// Height of the eyes in the scene. Channel 1's camera tilts with the
// positioning level (register 74 = level + 1000, 500 until the host moves
// it): each step up lifts the eyes by 0.4 % of the picture.
double eyeHeight(const FrameRequest &r) {
    if (r.channel != 1 || r.positioning < 1000) return 0.5;
    const double level = double(r.positioning) - 1000.0;
    return std::clamp(0.5 - (level - 500.0) * 0.004, 0.15, 0.85);
}

// The eyes sit where the request places them (the camera does for channel 0
// when the eyes= script runs); otherwise side by side, further apart for a
// nearer subject.
EyePlaces eyePlaces(const FrameRequest &r, double scale) {
    if (r.eyesPlaced) return {{r.eyeX[0], r.eyeX[1]}, {r.eyeY[0], r.eyeY[1]}};
    const double cy = eyeHeight(r);
    return {{0.5 - 0.23 * scale, 0.5 + 0.23 * scale}, {cy, cy}};
}

// The sensor's defect pixels read full scale whatever the light. They show
// where the host's repair looks for them: the first group listed under the
// host's key, each pair mirrored across the frame as sent by the flips and
// then taken less the host's window corner. Channel 1's frames arrive turned,
// which the request's key and corner already allow for.
void stickPixels(const FrameRequest &r, uint8_t *frame) {
    if (r.defects.empty()) return;
    const std::vector<uint16_t> &t = r.defects;
    const int64_t X = r.width, Y = r.height;
    size_t at = 1;
    for (size_t g = 0; g < t[0] && at + 1 < t.size(); ++g) {
        const size_t count = t[at + 1];
        if (t[at] != r.defectKey) {
            at += 2 + 2 * count;
            continue;
        }
        for (size_t i = 0; i < count && at + 3 + 2 * i < t.size(); ++i) {
            const int64_t p = t[at + 2 + 2 * i], q = t[at + 3 + 2 * i];
            const int64_t u = (r.flipColumns ? X - p - 1 : p) - r.defectOffsetX;
            const int64_t v = (r.flipRows ? Y - q - 1 : q) - r.defectOffsetY;
            if (u >= 0 && u < X && v >= 0 && v < Y) frame[size_t(v * X + u) * 2] = 255;
        }
        return;
    }
}

} // namespace

uint32_t renderFrame(const FrameRequest &r, const Settings &settings, uint8_t *buffer, uint32_t capacity) {
    uint64_t bytes = uint64_t(r.width) * r.height * 2;
    if (bytes == 0 || bytes > capacity || !buffer || r.sensorWidth == 0 || r.sensorHeight == 0) return 0;
    const bool turned = r.channel == 1;
    const double scale = 500.0 / std::max<double>(r.range, 100.0);
    const double stepX = double(r.windowWidth) / r.width, stepY = double(r.windowHeight) / r.height;
    const double light = lightFactor(r, settings);
    const EyePlaces eyes = eyePlaces(r, scale);
    auto lit = [light](Pixel p) {
        p.y = uint8_t(std::clamp(p.y * light + 0.5, 0.0, 255.0));
        return p;
    };
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
                pair[k] = lit(turned ? scene(1.0 - sy, sx, scale, eyes, settings) : scene(sx, sy, scale, eyes, settings));
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
    if (settings.stuckPixels) stickPixels(r, buffer);
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
