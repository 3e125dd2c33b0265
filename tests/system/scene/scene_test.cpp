// The virtual camera's scene through the library: the eyes= script puts the
// pupils where it says, and the flash's defect pixels show as stuck pixels in
// raw frames until the library's repair is switched on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "library/include/IxiLumo.h"
#include "sim/settings.h"
#include "support/sim_fixture.h"

namespace {

constexpr size_t kGuard = 64;
constexpr uint8_t kGuardByte = 0xA5;

struct Geometry {
    int32_t outW, outH, winW, winH, offX, offY;
    bool vflip = false, hflip = false;
};

class Scene : public ::testing::Test {
protected:
    void TearDown() override { IxClose(); }

    void open(const std::string &extra) {
        IxClose();
        ixtest::useSimulator("fps=200;" + extra);
        ASSERT_EQ(IxOpen(), IX_OK);
    }

    void set(uint32_t id, int32_t value) { ASSERT_EQ(IxSetControlValue(id, value, 2), IX_OK) << "control " << id; }

    void geometry(const Geometry &g, uint16_t format) {
        set(IX_CTL_CHANNEL, 0);
        set(IX_CTL_OUTPUT_WIDTH, g.outW);
        set(IX_CTL_OUTPUT_HEIGHT, g.outH);
        set(IX_CTL_WINDOW_WIDTH, g.winW);
        set(IX_CTL_WINDOW_HEIGHT, g.winH);
        set(IX_CTL_OFFSET_X, g.offX);
        set(IX_CTL_OFFSET_Y, g.offY);
        set(IX_CTL_VERTICAL_FLIP, g.vflip);
        set(IX_CTL_HORIZONTAL_FLIP, g.hflip);
        set(IX_CTL_PIXEL_FORMAT, format);
    }

    // One frame of a fresh stream, its guard checked.
    std::vector<uint8_t> grab(uint32_t bytes) {
        set(IX_CTL_STREAM_MODE, 1);
        std::vector<uint8_t> buf(bytes + kGuard, kGuardByte);
        uint32_t got = 0;
        EXPECT_EQ(IxGetImage(buf.data(), uint32_t(buf.size()), &got), IX_OK);
        EXPECT_EQ(got, bytes);
        EXPECT_TRUE(std::all_of(buf.begin() + bytes, buf.end(), [](uint8_t b) { return b == kGuardByte; }));
        set(IX_CTL_STREAM_MODE, 0);
        buf.resize(bytes);
        return buf;
    }
};

// The factory list of channel 0: 2560-wide windows have (100, 200),
// (1500, 900) and (2001, 1400); 1280-wide ones (50, 100) and (750, 450).
// A pixel lands at the pair less the window's corner, mirrored across the
// frame by a flip; pairs off the frame do not show.
struct DefectCase {
    const char *name;
    Geometry g;
    std::vector<std::pair<int, int>> expected; // (column, row) in the raw frame
};

TEST_F(Scene, FlashDefectsShowAsStuckPixelsAndAreRepaired) {
    const std::vector<DefectCase> cases = {
        {"whole sensor at 640x480", {640, 480, 2560, 1920, 0, 0}, {{100, 200}}},
        {"full-size strip", {2560, 1080, 2560, 1080, 0, 400}, {{1500, 500}, {2001, 1000}}},
        {"both flips", {1600, 1200, 2560, 1920, 0, 0, true, true}, {{1499, 999}, {99, 299}}},
        {"1280 window", {1280, 720, 1280, 720, 0, 0}, {{50, 100}, {750, 450}}},
        {"window with no group", {1200, 900, 1200, 900, 0, 0}, {}},
    };
    for (const DefectCase &c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t bytes = uint32_t(c.g.outW) * uint32_t(c.g.outH) * 2;
        const size_t row = size_t(c.g.outW) * 2;

        open("stuck=0");
        geometry(c.g, IX_FORMAT_YUY2);
        set(IX_CTL_DEFECT_CORRECTION, 0);
        const std::vector<uint8_t> clean = grab(bytes);

        open("stuck=1");
        geometry(c.g, IX_FORMAT_YUY2);
        set(IX_CTL_DEFECT_CORRECTION, 0);
        const std::vector<uint8_t> raw = grab(bytes);
        set(IX_CTL_DEFECT_CORRECTION, 1);
        const std::vector<uint8_t> repaired = grab(bytes);
        ASSERT_EQ(clean.size(), raw.size());

        // Unrepaired: exactly the listed pixels' luma differs from the clean
        // scene, and reads full scale.
        std::vector<size_t> stuck;
        for (auto [u, v] : c.expected) stuck.push_back(size_t(v) * row + size_t(u) * 2);
        std::vector<size_t> differing;
        for (size_t i = 0; i < raw.size(); ++i)
            if (raw[i] != clean[i]) differing.push_back(i);
        std::sort(stuck.begin(), stuck.end());
        EXPECT_EQ(differing, stuck);
        for (size_t at : stuck) EXPECT_EQ(raw[at], 255) << "byte " << at;

        // Repaired: each stuck pixel is back near the scene around it, and
        // nothing changed outside the 3 x 3 patches round the listed pixels.
        for (auto [u, v] : c.expected) {
            const size_t at = size_t(v) * row + size_t(u) * 2;
            EXPECT_LT(std::abs(int(repaired[at]) - int(clean[at])), 40) << "at " << u << "," << v;
        }
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == repaired[i]) continue;
            const int u = int((i % row) / 2), v = int(i / row);
            bool inPatch = false;
            for (auto [pu, pv] : c.expected) inPatch = inPatch || (std::abs(u - pu) <= 1 && std::abs(v - pv) <= 1);
            ASSERT_TRUE(inPatch) << "byte " << i << " changed outside a patch";
        }
        if (c.expected.empty()) {
            EXPECT_EQ(raw, repaired);
        }
    }
}

// The centre of the darkest blob in columns [from, to) of a grey frame.
std::pair<double, double> pupilCentre(const std::vector<uint8_t> &grey, int w, int h, int from, int to) {
    uint8_t darkest = 255;
    for (int y = 0; y < h; ++y)
        for (int x = from; x < to; ++x) darkest = std::min(darkest, grey[size_t(y) * w + x]);
    double sx = 0, sy = 0, n = 0;
    for (int y = 0; y < h; ++y)
        for (int x = from; x < to; ++x)
            if (grey[size_t(y) * w + x] <= darkest + 12) {
                sx += x;
                sy += y;
                ++n;
            }
    return n > 0 ? std::pair{sx / n, sy / n} : std::pair{-1.0, -1.0};
}

// A 1280 x 360 strip from a 2560 x 720 window 600 rows down the sensor: a
// scene point (x, y) is column x * 1280 - 0.5 and row (y * 1920 - 600) / 2
// - 0.5, and the grey frame stores its rows bottom-up.
TEST_F(Scene, ScriptedEyesPutThePupilsWhereTheScriptSays) {
    struct EyesCase {
        const char *settings;
        double x1, y1, x2, y2;
    };
    const std::vector<EyesCase> cases = {
        {"", 0.27, 0.5, 0.73, 0.5}, // unscripted: side by side on the middle line
        {"eyes=0.30,0.45,0.72,0.55", 0.30, 0.45, 0.72, 0.55},
        {"eyes=0.15,0.52,0.60,0.42", 0.15, 0.52, 0.60, 0.42},
    };
    const int w = 1280, h = 360;
    for (const EyesCase &c : cases) {
        SCOPED_TRACE(c.settings);
        open(c.settings);
        geometry({w, h, 2560, 720, 0, 600}, IX_FORMAT_GREY8);
        const std::vector<uint8_t> grey = grab(uint32_t(w * h));
        // The two halves split between the eyes.
        const int split = int((c.x1 + c.x2) / 2 * w);
        auto left = pupilCentre(grey, w, h, 0, split);
        auto right = pupilCentre(grey, w, h, split, w);
        auto column = [&](double x) { return x * w - 0.5; };
        auto greyRow = [&](double y) { return h - 1 - ((y * 1920 - 600) / 2 - 0.5); };
        EXPECT_NEAR(left.first, column(c.x1), 2.0);
        EXPECT_NEAR(left.second, greyRow(c.y1), 2.0);
        EXPECT_NEAR(right.first, column(c.x2), 2.0);
        EXPECT_NEAR(right.second, greyRow(c.y2), 2.0);
    }
}

TEST(SceneSettings, EyesAndStuckValuesAreChecked) {
    ix::sim::Settings s;
    std::string error;
    ASSERT_TRUE(ix::sim::parseSettings("eyes=0.25, 0.4,1,0", s, error)) << error;
    EXPECT_TRUE(s.scriptedEyes);
    EXPECT_DOUBLE_EQ(s.eyes[0], 0.25);
    EXPECT_DOUBLE_EQ(s.eyes[1], 0.4);
    EXPECT_DOUBLE_EQ(s.eyes[2], 1.0);
    EXPECT_DOUBLE_EQ(s.eyes[3], 0.0);
    ASSERT_TRUE(ix::sim::parseSettings("fps=30", s, error));
    EXPECT_FALSE(s.scriptedEyes);
    EXPECT_TRUE(s.stuckPixels);
    ASSERT_TRUE(ix::sim::parseSettings("stuck=0", s, error));
    EXPECT_FALSE(s.stuckPixels);
    for (const char *bad : {"eyes=0.3,0.4,0.7", "eyes=0.3,0.4,0.7,0.5,0.5", "eyes=0.3,0.4,1.2,0.5", "eyes=-0.1,0.4,0.7,0.5",
                            "eyes=0.3,,0.7,0.5", "eyes=0.3,0.4,0.7,nan", "eyes=", "stuck=2", "stuck="}) {
        error.clear();
        EXPECT_FALSE(ix::sim::parseSettings(bad, s, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

} // namespace
