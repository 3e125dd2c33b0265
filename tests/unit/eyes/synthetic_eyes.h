// Grey test frames drawn with known eyes: a skin-toned background, an iris
// disc, a dark pupil disc and a small near-white glint, stored bottom-up as
// frame delivery stores them.
#pragma once
#include <cstdint>
#include <vector>

namespace ix::eyes::test {

struct EyeSpec {
    int cx, cy;          // pupil centre, image coordinates
    int pupilRadius;
    int irisRadius;
    uint8_t pupilLevel = 25;
    uint8_t irisLevel = 110;
    int glintDx = 0, glintDy = 0;  // glint centre relative to the pupil centre
    int glintSize = 3;             // side of the square glint
    uint8_t glintLevel = 252;
};

class GreyFrame {
public:
    GreyFrame(int width, int height, uint8_t background)
        : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height + kGuard, background) {
        for (size_t i = 0; i < kGuard; ++i) pixels_[size() + i] = kGuardByte;
    }

    int width() const { return width_; }
    int height() const { return height_; }
    size_t size() const { return static_cast<size_t>(width_) * height_; }
    uint8_t *data() { return pixels_.data(); }
    const uint8_t *data() const { return pixels_.data(); }

    // (column x, image row y), row 0 at the top of the picture.
    uint8_t &at(int x, int y) { return pixels_[static_cast<size_t>(height_ - 1 - y) * width_ + x]; }
    uint8_t at(int x, int y) const { return pixels_[static_cast<size_t>(height_ - 1 - y) * width_ + x]; }

    void fillDisc(int cx, int cy, int radius, uint8_t level) {
        for (int y = cy - radius; y <= cy + radius; ++y)
            for (int x = cx - radius; x <= cx + radius; ++x)
                if (inside(x, y) && (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius) at(x, y) = level;
    }

    void fillRect(int x0, int y0, int w, int h, uint8_t level) {
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x)
                if (inside(x, y)) at(x, y) = level;
    }

    void drawEye(const EyeSpec &e) {
        fillDisc(e.cx, e.cy, e.irisRadius, e.irisLevel);
        fillDisc(e.cx, e.cy, e.pupilRadius, e.pupilLevel);
        const int g0 = -(e.glintSize / 2);
        fillRect(e.cx + e.glintDx + g0, e.cy + e.glintDy + g0, e.glintSize, e.glintSize, e.glintLevel);
    }

    // Adds +-amplitude of noise everywhere, clamped to 0..255. A small
    // xorshift keeps drawing large frames cheap.
    void addNoise(int amplitude, uint32_t seed) {
        uint32_t x = seed * 2654435761u + 1;
        const uint32_t span = static_cast<uint32_t>(2 * amplitude + 1);
        for (size_t i = 0; i < size(); ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            int v = pixels_[i] + static_cast<int>(x % span) - amplitude;
            pixels_[i] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
    }

    bool guardIntact() const {
        for (size_t i = 0; i < kGuard; ++i)
            if (pixels_[size() + i] != kGuardByte) return false;
        return true;
    }

    static constexpr size_t kGuard = 64;
    static constexpr uint8_t kGuardByte = 0xA5;

private:
    bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
    int width_, height_;
    std::vector<uint8_t> pixels_;
};

}  // namespace ix::eyes::test
