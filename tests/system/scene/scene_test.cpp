// The virtual camera's scene through the library: the eyes= script puts the
// pupils where it says and when, glint= moves or removes the glints, and the
// flash's defect pixels show as stuck pixels in raw frames of either channel
// until the library's repair is switched on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "library/include/IxiLumo.h"
#include "platform/sys.h"
#include "sim/settings.h"
#include "support/sim_fixture.h"

namespace {

constexpr size_t kGuard = 64;
constexpr uint8_t kGuardByte = 0xA5;

// The host's geometry of a channel (on channel 1 the frames arrive turned:
// outH columns, outW rows).
struct Geometry {
    int32_t outW, outH, winW, winH, offX, offY;
    bool vflip = false, hflip = false;
    int32_t channel = 0;
};

// A 1280 x 360 strip from a 2560 x 720 window 600 rows down the sensor: a
// scene point (x, y) is column x * 1280 - 0.5 and image row (y * 1920 - 600)
// / 2 - 0.5, and the grey frame stores its rows bottom-up.
constexpr int kStripW = 1280, kStripH = 360;
const Geometry kStrip{kStripW, kStripH, 2560, 720, 0, 600};
double stripColumn(double x) { return x * kStripW - 0.5; }
double stripRow(double y) { return (y * 1920 - 600) / 2 - 0.5; }

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
        set(IX_CTL_CHANNEL, g.channel);
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

    // One grey frame of the strip from the camera as it stands.
    std::vector<uint8_t> grabStrip() {
        geometry(kStrip, IX_FORMAT_GREY8);
        return grab(uint32_t(kStripW * kStripH));
    }
};

// The factory lists. Channel 0, keyed by window width: 2560 has (100, 200),
// (1500, 900) and (2001, 1400); 1280 has (50, 100) and (750, 450). Channel 1,
// keyed by the host's window height: 2560 has (300, 1200) and (1700, 2100),
// 1280 has (150, 600). A pixel lands at the pair less the host's window
// corner, mirrored across the frame as sent by a flip; pairs off the frame
// do not show. Channel 1's YUY2 frames come as the camera sent them, turned:
// outH pixels a row, so its pair counts across the host's window height and
// the offsets swap over.
struct DefectCase {
    const char *name;
    Geometry g;
    std::vector<std::pair<int, int>> expected; // (column, row) in the raw frame
    const char *settings = "";
};

TEST_F(Scene, FlashDefectsShowAsStuckPixelsAndAreRepaired) {
    const std::vector<DefectCase> cases = {
        {"whole sensor at 640x480", {640, 480, 2560, 1920, 0, 0}, {{100, 200}}},
        {"full-size strip", {2560, 1080, 2560, 1080, 0, 400}, {{1500, 500}, {2001, 1000}}},
        {"both flips", {1600, 1200, 2560, 1920, 0, 0, true, true}, {{1499, 999}, {99, 299}}},
        {"1280 window", {1280, 720, 1280, 720, 0, 0}, {{50, 100}, {750, 450}}},
        {"window with no group", {1200, 900, 1200, 900, 0, 0}, {}},
        {"channel 1, 1280-high window", {1920, 1280, 1920, 1280, 0, 0, false, false, 1}, {{150, 600}}},
        // X = 1280, Y = 1920: (1280 - 150 - 1, 1920 - 600 - 1).
        {"channel 1, both flips", {1920, 1280, 1920, 1280, 0, 0, true, true, 1}, {{1129, 1319}}},
        {"channel 1, row flip only", {1920, 1280, 1920, 1280, 0, 0, true, false, 1}, {{150, 1319}}},
        // The host sends offset Y in register 31 and 1920 - 100 - 1600 in 32.
        {"channel 1, offsets", {1600, 1280, 1920, 1280, 100, 48, false, false, 1}, {{50, 552}}},
        // A sensor tall enough for the 2560 group: (1700, 2100) is off the
        // 1920 rows.
        {"channel 1, 2560-high window", {1920, 2560, 1920, 2560, 0, 0, false, false, 1}, {{300, 1200}}, "sensor1=2560x2560"},
        // The key is the height, not the width: a 1280-wide window with no
        // group for its height shows nothing.
        {"channel 1, window with no group", {1280, 1200, 1280, 1200, 0, 0, false, false, 1}, {}},
    };
    for (const DefectCase &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string extra = std::string(c.settings).empty() ? "" : std::string(";") + c.settings;
        const uint32_t bytes = uint32_t(c.g.outW) * uint32_t(c.g.outH) * 2;
        const size_t row = size_t(c.g.channel == 0 ? c.g.outW : c.g.outH) * 2;

        open("stuck=0" + extra);
        geometry(c.g, IX_FORMAT_YUY2);
        set(IX_CTL_DEFECT_CORRECTION, 0);
        const std::vector<uint8_t> clean = grab(bytes);

        open("stuck=1" + extra);
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

// The library's own pupil search on a grey frame, with room for both crops
// (their guards checked); `found` is whether it should find the pupils. A
// half without one leaves its crop unwritten.
DualIrisRecord searchBothHalves(std::vector<uint8_t> &grey, int w, int h, bool found = true) {
    constexpr int cw = 200, ch = 120;
    std::vector<uint8_t> left(cw * ch + kGuard, kGuardByte), right(cw * ch + kGuard, kGuardByte);
    DualIrisRecord rec{};
    rec.image = grey.data();
    rec.width = w;
    rec.height = h;
    rec.leftImage = left.data();
    rec.rightImage = right.data();
    rec.cropWidth = cw;
    rec.cropHeight = ch;
    EXPECT_EQ(IxGetDualIrisImages(&rec), found ? IX_OK : IX_ERR_FAILED);
    for (const auto *img : {&left, &right})
        EXPECT_TRUE(std::all_of(img->begin() + (found ? cw * ch : 0), img->end(),
                                [](uint8_t b) { return b == kGuardByte; }));
    rec.leftImage = rec.rightImage = nullptr;
    rec.image = nullptr;
    return rec;
}

struct EyePlaces {
    double x1, y1, x2, y2;
};

// Both pupils of a grey strip where the places say: the darkest blobs to
// within 2 pixels, and the library's search to within 3.
void expectPupilsAt(std::vector<uint8_t> &grey, const EyePlaces &at) {
    const int w = kStripW, h = kStripH;
    // The two halves split between the eyes.
    const int split = int((at.x1 + at.x2) / 2 * w);
    auto left = pupilCentre(grey, w, h, 0, split);
    auto right = pupilCentre(grey, w, h, split, w);
    EXPECT_NEAR(left.first, stripColumn(at.x1), 2.0);
    EXPECT_NEAR(left.second, h - 1 - stripRow(at.y1), 2.0);
    EXPECT_NEAR(right.first, stripColumn(at.x2), 2.0);
    EXPECT_NEAR(right.second, h - 1 - stripRow(at.y2), 2.0);

    const DualIrisRecord rec = searchBothHalves(grey, w, h);
    ASSERT_EQ(rec.leftResult.notFound, 0);
    ASSERT_EQ(rec.rightResult.notFound, 0);
    EXPECT_NEAR(rec.leftResult.originX + rec.leftResult.pupilX, stripColumn(at.x1), 3.0);
    EXPECT_NEAR(rec.leftResult.originY + rec.leftResult.pupilY, stripRow(at.y1), 3.0);
    EXPECT_NEAR(rec.rightResult.originX + rec.rightResult.pupilX, stripColumn(at.x2), 3.0);
    EXPECT_NEAR(rec.rightResult.originY + rec.rightResult.pupilY, stripRow(at.y2), 3.0);
}

TEST_F(Scene, ScriptedEyesPutThePupilsWhereTheScriptSays) {
    struct EyesCase {
        const char *settings;
        EyePlaces at;
    };
    const std::vector<EyesCase> cases = {
        {"", {0.27, 0.5, 0.73, 0.5}}, // unscripted: side by side on the middle line
        {"eyes=0.30,0.45,0.72,0.55", {0.30, 0.45, 0.72, 0.55}},
        {"eyes=0.15,0.52,0.60,0.42", {0.15, 0.52, 0.60, 0.42}},
        {"eyes=0.15,0.52,0.60,0.42@0/0.30,0.45,0.72,0.55@600000", {0.15, 0.52, 0.60, 0.42}},
        // Glints elsewhere, or none, leave the pupils where they were.
        {"glint=0.4,0.3", {0.27, 0.5, 0.73, 0.5}},
        {"glint=0,0.5;eyes=0.30,0.45,0.72,0.55", {0.30, 0.45, 0.72, 0.55}},
    };
    for (const EyesCase &c : cases) {
        SCOPED_TRACE(c.settings);
        open(c.settings);
        std::vector<uint8_t> grey = grabStrip();
        expectPupilsAt(grey, c.at);
    }
}

// The script's second step takes over at its time, counted from the
// camera's power-up: a frame drawn well before it shows the first places, one
// drawn after it the second. The camera powers up inside IxOpen, so the
// test's clock before the open bounds the camera's from above, and after it
// from below.
TEST_F(Scene, EyeScriptMovesThePupilsAtItsTime) {
    constexpr uint32_t kSwitchMs = 2000, kMarginMs = 100;
    const EyePlaces first{0.30, 0.45, 0.72, 0.55}, second{0.20, 0.52, 0.64, 0.42};
    const uint32_t beforeOpen = ix::sys::tickMs();
    open("eyes=0.30,0.45,0.72,0.55/0.20,0.52,0.64,0.42@2000");
    const uint32_t afterOpen = ix::sys::tickMs();
    std::vector<uint8_t> early = grabStrip();
    ASSERT_LT(ix::sys::tickMs() - beforeOpen, kSwitchMs - kMarginMs) << "the first frame came too late to test";
    {
        SCOPED_TRACE("before the switch");
        expectPupilsAt(early, first);
    }
    while (ix::sys::tickMs() - afterOpen < kSwitchMs + kMarginMs) ix::sys::sleepMs(20);
    std::vector<uint8_t> late = grab(uint32_t(kStripW * kStripH));
    {
        SCOPED_TRACE("after the switch");
        expectPupilsAt(late, second);
    }
}

// The library's pupil search wants a glint in the pupil: without one it
// finds neither eye, with the default glint both, and with glints moved
// elsewhere inside the pupil both still.
TEST_F(Scene, WithoutGlintsThePupilSearchFindsNoEye) {
    struct GlintCase {
        const char *settings;
        bool found;
    };
    const GlintCase cases[] = {
        {"", true},
        {"glint=-0.3,-0.3", true},
        {"glint=0.35,0.2", true},
        {"glint=none", false},
        {"glint=none;eyes=0.30,0.45,0.72,0.55", false},
    };
    for (const GlintCase &c : cases) {
        SCOPED_TRACE(c.settings);
        open(c.settings);
        std::vector<uint8_t> grey = grabStrip();
        const DualIrisRecord rec = searchBothHalves(grey, kStripW, kStripH, c.found);
        EXPECT_EQ(rec.leftResult.notFound, c.found ? 0 : 1);
        EXPECT_EQ(rec.rightResult.notFound, c.found ? 0 : 1);
    }
}

// The glint sits where glint= says, in pupil radii from the pupil's centre:
// the brightest spot of each eye's surroundings moves with it, and with
// glint=none nothing in the pupil is bright.
TEST_F(Scene, GlintSitsWhereTheSettingSays) {
    // Pupil radius: 0.028 of the scene across = 35.84 columns; down, the
    // scene's rows are 4:3, so 35.84 image rows as well in this strip.
    const double radius = 0.028 * kStripW;
    struct GlintCase {
        const char *settings;
        double dx, dy;
    };
    const GlintCase cases[] = {
        {"", -0.3, -0.3},
        {"glint=0.5,-0.2", 0.5, -0.2},
        {"glint=-0.6,0.4", -0.6, 0.4},
        {"glint=0,0", 0, 0},
    };
    const EyePlaces at{0.27, 0.5, 0.73, 0.5};
    for (const GlintCase &c : cases) {
        SCOPED_TRACE(c.settings);
        open(c.settings);
        const std::vector<uint8_t> grey = grabStrip();
        for (double x : {at.x1, at.x2}) {
            const double cx = stripColumn(x), cy = stripRow(at.y1);
            // The centre of the bright pixels (> 200) within 1.5 radii of the pupil.
            double sx = 0, sy = 0, n = 0;
            for (int y = 0; y < kStripH; ++y)
                for (int col = 0; col < kStripW; ++col) {
                    const double ddx = col - cx, ddy = y - cy;
                    if (ddx * ddx + ddy * ddy > 2.25 * radius * radius) continue;
                    if (grey[size_t(kStripH - 1 - y) * kStripW + col] > 200) {
                        sx += col;
                        sy += y;
                        ++n;
                    }
                }
            ASSERT_GT(n, 0) << "no glint near " << cx;
            EXPECT_NEAR(sx / n, cx + c.dx * radius, 1.5);
            EXPECT_NEAR(sy / n, cy + c.dy * radius, 1.5);
        }
    }
    open("glint=none");
    const std::vector<uint8_t> grey = grabStrip();
    for (double x : {at.x1, at.x2}) {
        const int cx = int(x * kStripW), cy = int((at.y1 * 1920 - 600) / 2);
        uint8_t brightest = 0;
        for (int y = cy - int(radius); y <= cy + int(radius); ++y)
            for (int col = cx - int(radius); col <= cx + int(radius); ++col)
                brightest = std::max(brightest, grey[size_t(kStripH - 1 - y) * kStripW + col]);
        EXPECT_LT(brightest, 200) << "a glint near " << cx;
    }
}

// Settings texts: good eyes= scripts and glint= values fill the settings,
// bad ones are refused with an error naming the fault.
TEST(SceneSettings, EyesGlintAndStuckValuesAreChecked) {
    struct Step {
        double x1, y1, x2, y2;
        uint32_t atMs;
    };
    struct Good {
        const char *text;
        std::vector<Step> steps;
        bool glint;
        double gx, gy;
    };
    const std::vector<Good> good = {
        {"fps=30", {}, true, -0.3, -0.3},
        {"eyes=0.25, 0.4,1,0", {{0.25, 0.4, 1, 0, 0}}, true, -0.3, -0.3},
        {"eyes=0.3,0.45,0.72,0.55/0.2,0.5,0.6,0.4@1500", {{0.3, 0.45, 0.72, 0.55, 0}, {0.2, 0.5, 0.6, 0.4, 1500}}, true, -0.3, -0.3},
        // The first step may start late; equal times are allowed (the later wins).
        {"eyes=0.3,0.45,0.72,0.55@200 / 0.2,0.5,0.6,0.4@200/0,0,1,1@4294967295",
         {{0.3, 0.45, 0.72, 0.55, 200}, {0.2, 0.5, 0.6, 0.4, 200}, {0, 0, 1, 1, 4294967295u}}, true, -0.3, -0.3},
        {"glint=0.5,-1", {}, true, 0.5, -1},
        {"glint= -0.25 , 1", {}, true, -0.25, 1},
        {"glint=none", {}, false, -0.3, -0.3},
        {"glint=none;glint=0,0", {}, true, 0, 0},
    };
    for (const Good &g : good) {
        SCOPED_TRACE(g.text);
        ix::sim::Settings s;
        std::string error;
        ASSERT_TRUE(ix::sim::parseSettings(g.text, s, error)) << error;
        ASSERT_EQ(s.eyes.size(), g.steps.size());
        for (size_t i = 0; i < g.steps.size(); ++i) {
            EXPECT_DOUBLE_EQ(s.eyes[i].x[0], g.steps[i].x1);
            EXPECT_DOUBLE_EQ(s.eyes[i].y[0], g.steps[i].y1);
            EXPECT_DOUBLE_EQ(s.eyes[i].x[1], g.steps[i].x2);
            EXPECT_DOUBLE_EQ(s.eyes[i].y[1], g.steps[i].y2);
            EXPECT_EQ(s.eyes[i].atMs, g.steps[i].atMs);
        }
        EXPECT_EQ(s.glint, g.glint);
        EXPECT_DOUBLE_EQ(s.glintOffset[0], g.gx);
        EXPECT_DOUBLE_EQ(s.glintOffset[1], g.gy);
    }

    ix::sim::Settings s;
    std::string error;
    ASSERT_TRUE(ix::sim::parseSettings("stuck=0", s, error));
    EXPECT_FALSE(s.stuckPixels);
    ASSERT_TRUE(ix::sim::parseSettings("", s, error));
    EXPECT_TRUE(s.stuckPixels);

    struct Bad {
        const char *text;
        const char *says; // a part of the error
    };
    const Bad bad[] = {
        {"eyes=0.3,0.4,0.7", "four places"},
        {"eyes=0.3,0.4,0.7,0.5,0.5", "four places"},
        {"eyes=0.3,0.4,1.2,0.5", "fractions"},
        {"eyes=-0.1,0.4,0.7,0.5", "fractions"},
        {"eyes=0.3,,0.7,0.5", "fractions"},
        {"eyes=0.3,0.4,0.7,nan", "fractions"},
        {"eyes=0.3,0.4,0.7,1e-1", "fractions"},
        {"eyes=", "step 1"},
        {"eyes=0.3,0.4,0.7,0.5@2000/0.2,0.4,0.6,0.5@1000", "step 2: times must not go back"},
        {"eyes=0.3,0.4,0.7,0.5@10/0.2,0.4,0.6,0.5@20/0.2,0.4,0.6,0.5@19", "step 3: times must not go back"},
        {"eyes=0.3,0.4,0.7,0.5/0.2,0.4,0.6,0.5", "step 2: no @ms"},
        {"eyes=0.3,0.4,0.7,0.5/", "step 2"},
        {"eyes=0.3,0.4,0.7,0.5@100/0.2,0.4,0.6@200", "step 2: needs four places"},
        {"eyes=0.3,0.4,0.7,0.5@100/0.2,0.4,1.5,0.5@200", "step 2: places are fractions"},
        {"eyes=0.3,0.4,0.7,0.5@", "step 1: the time"},
        {"eyes=0.3,0.4,0.7,0.5@-5", "step 1: the time"},
        {"eyes=0.3,0.4,0.7,0.5@+5", "step 1: the time"},
        {"eyes=0.3,0.4,0.7,0.5@1.5", "step 1: the time"},
        {"eyes=0.3,0.4,0.7,0.5@4294967296", "step 1: the time"},
        // Neither a signed time nor one past 32 bits may wrap or saturate
        // into a late one where long has 32 bits.
        {"range=500@-5", "range"},
        {"range=500@4294967296", "range"},
        {"range=500@99999999999999999999999", "range"},
        {"glint=", "glint"},
        {"glint=0.5", "glint"},
        {"glint=0.5,0.5,0.5", "glint"},
        {"glint=1.1,0", "glint"},
        {"glint=0,-1.01", "glint"},
        {"glint=--0.5,0", "glint"},
        {"glint=-,0", "glint"},
        {"glint=nan,0", "glint"},
        {"glint=1e-1,0", "glint"},
        {"glint=off", "glint"},
        {"stuck=2", "stuck"},
        {"stuck=", "stuck"},
    };
    for (const Bad &b : bad) {
        error.clear();
        EXPECT_FALSE(ix::sim::parseSettings(b.text, s, error)) << b.text;
        EXPECT_NE(error.find(b.says), std::string::npos) << b.text << " gave: " << error;
    }
}

} // namespace
