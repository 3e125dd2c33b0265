// The eye work closed-loop against the virtual camera: channel 0's search,
// illumination and exposure steering, range state and capture readiness,
// markers and iris images on delivered frames; channel 1's positioning with
// the stand-in eye locator; defect repair on raw frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "library/controls/tables.h"
#include "library/core/context.h"
#include "library/core/eye_work.h"
#include "library/core/feedback.h"
#include "library/core/positioning.h"
#include "library/eyes/defects.h"
#include "library/include/IxiLumo.h"
#include "platform/sys.h"
#include "support/sim_fixture.h"

namespace {

constexpr size_t kGuard = 64;
constexpr uint8_t kGuardByte = 0xA5;

class EyeWork : public ::testing::Test {
protected:
    std::string trace;

    void TearDown() override { IxClose(); }

    void open(const std::string &extra = "") {
        trace = ixtest::useSimulator("fps=100" + (extra.empty() ? "" : ";" + extra));
        ASSERT_EQ(IxOpen(), IX_OK);
    }

    void set(uint32_t id, int32_t value) { ASSERT_EQ(IxSetControlValue(id, value, 2), IX_OK) << "control " << id; }

    uint16_t get(uint32_t id) {
        uint16_t v[2] = {0xFFFF, 0};
        EXPECT_EQ(IxGetControlValue(id, v, sizeof v, nullptr), IX_OK) << "control " << id;
        return v[0];
    }

    // Channel 0 as a wide strip across the middle of the sensor: the two eyes
    // side by side, w x h delivered from a 2560-wide window.
    void strip(int32_t w, int32_t h, uint16_t format) {
        set(IX_CTL_CHANNEL, 0);
        const int32_t windowHeight = h * 2560 / w;
        set(IX_CTL_OUTPUT_WIDTH, w);
        set(IX_CTL_OUTPUT_HEIGHT, h);
        set(IX_CTL_WINDOW_WIDTH, 2560);
        set(IX_CTL_WINDOW_HEIGHT, windowHeight);
        set(IX_CTL_OFFSET_Y, (1920 - windowHeight) / 2);
        set(IX_CTL_PIXEL_FORMAT, format);
    }

    static uint32_t bytesPerPixel(uint16_t format) { return format == 2 ? 3 : format == 6 ? 1 : 2; }

    // One delivered frame of the selected channel, its guard checked.
    std::vector<uint8_t> frame() {
        const ix::ChannelSettings &ch = ix::context().selected();
        const uint32_t bytes = uint32_t(ch.outputWidth) * ch.outputHeight * bytesPerPixel(ch.pixelFormat);
        std::vector<uint8_t> buf(bytes + kGuard, kGuardByte);
        uint32_t got = 0;
        EXPECT_EQ(IxGetImage(buf.data(), uint32_t(buf.size()), &got), IX_OK);
        EXPECT_EQ(got, bytes);
        EXPECT_TRUE(std::all_of(buf.begin() + bytes, buf.end(), [](uint8_t b) { return b == kGuardByte; }));
        buf.resize(bytes);
        return buf;
    }

    std::vector<ixtest::TraceLine> writes(int reg) {
        std::vector<ixtest::TraceLine> out;
        for (const ixtest::TraceLine &t : ixtest::readTrace(trace))
            if (t.op == "set" && t.reg == reg) out.push_back(t);
        return out;
    }
};

// Brightness as the loop measures it on a delivered grey frame.
int32_t brightnessOf(std::vector<uint8_t> &grey) {
    DualIrisRecord rec = ix::LastChannelZeroRecord();
    rec.image = grey.data();
    return ix::MeasureBrightness(rec, false);
}

bool bothFound() {
    const DualIrisRecord &r = ix::LastChannelZeroRecord();
    return r.leftResult.notFound == 0 && r.rightResult.notFound == 0;
}

// A dark scene: the loop raises the illumination (register 49) until the
// eyes' brightness is in the band T..T+20 (T = 106), and it stays there.
// Once there, both pupils are found in every frame (too dark an iris passes
// for pupil, so the first frames may find none).
TEST_F(EyeWork, DarkSceneIsBroughtIntoTheBand) {
    open("reg14=20000;light=80");
    strip(640, 180, 6);
    set(IX_CTL_STREAM_MODE, 1);
    std::vector<int32_t> seen;
    for (int i = 0; i < 45; ++i) {
        auto f = frame();
        if (i >= 30) {
            EXPECT_TRUE(bothFound()) << "frame " << i;
        }
        seen.push_back(brightnessOf(f));
    }
    set(IX_CTL_STREAM_MODE, 0);
    EXPECT_LE(seen.front(), 106);
    for (size_t i = seen.size() - 15; i < seen.size(); ++i) {
        EXPECT_GE(seen[i], 107) << "frame " << i;
        EXPECT_LE(seen[i], 125) << "frame " << i;
    }
    auto light = writes(ix::kRegIlluminationWord);
    ASSERT_GE(light.size(), 2u);
    EXPECT_GT(light.back().value, 160); // above the open-time level 20
    EXPECT_GT(ix::context().illuminationLevel, 80u);
    // The exposure is refreshed on every evaluated frame.
    EXPECT_GE(writes(ix::kRegExposureTime).size(), 10u);
}

// A bright scene: the level comes down to its floor first, then the
// exposure shortens, and the eyes get darker without dropping below the band.
TEST_F(EyeWork, BrightSceneIsBroughtDown) {
    open("reg14=20000;light=180");
    strip(640, 180, 6);
    set(IX_CTL_STREAM_MODE, 1);
    std::vector<int32_t> seen;
    for (int i = 0; i < 60; ++i) {
        auto f = frame();
        seen.push_back(brightnessOf(f));
    }
    set(IX_CTL_STREAM_MODE, 0);
    EXPECT_TRUE(bothFound());
    EXPECT_GE(seen.front(), 126);
    EXPECT_LT(seen.back(), seen.front());
    EXPECT_GE(seen.back(), 107);
    EXPECT_EQ(ix::context().illuminationLevel, 48u);
    auto exposures = writes(ix::kRegExposureTime);
    ASSERT_FALSE(exposures.empty());
    EXPECT_LT(exposures.back().value, 20000 / 140);
}

// The subject walks off (900) and comes back (500): the light goes to level
// 0 and then back to L / 4; the range indicator follows the range state.
TEST_F(EyeWork, FarSubjectTurnsTheLightOffAndBack) {
    open("reg14=20000;range=500@0,900@400,500@1200");
    strip(640, 180, 6);
    set(IX_CTL_RANGE_LED_MODE, 8);
    set(IX_CTL_STREAM_MODE, 1);
    bool sawFar = false, sawBack = false;
    const uint32_t start = ix::sys::tickMs();
    while (ix::sys::tickMs() - start < 3000 && !(sawFar && sawBack)) {
        frame();
        const ix::IlluminationState &s = *ix::context().illuminationState;
        if (s.farMode == 1) sawFar = true;
        if (sawFar && s.farMode == 0) sawBack = true;
    }
    set(IX_CTL_STREAM_MODE, 0);
    EXPECT_TRUE(sawFar);
    EXPECT_TRUE(sawBack);
    auto light = writes(ix::kRegIlluminationWord);
    auto off = std::find_if(light.begin(), light.end(), [](const ixtest::TraceLine &t) { return t.value == 0; });
    ASSERT_NE(off, light.end());
    auto on = std::find_if(off, light.end(), [](const ixtest::TraceLine &t) { return t.value != 0; });
    ASSERT_NE(on, light.end());
    EXPECT_EQ(on->value, ix::illuminationWord(0, uint16_t(ix::context().illuminationLevel / 4)));
    std::vector<long> led;
    for (auto &t : writes(ix::kRegRangeIndicator)) led.push_back(t.value);
    EXPECT_NE(std::find(led.begin(), led.end(), 512), led.end());
    EXPECT_NE(std::find(led.begin(), led.end(), 1024), led.end());
}

// A steady subject with the stability check on: capture ready once the hold
// time has passed; the subject stepping 10 closer (still in range, but the
// eyes spread) is a jump that clears it; steady again, ready again. A new
// stream starts unready.
TEST_F(EyeWork, CaptureReadyFollowsASteadySubject) {
    open("reg14=20000;range=500@0,510@1500");
    strip(640, 180, 6);
    set(IX_CTL_STABILITY_CHECK, 1);
    set(IX_CTL_HOLD_TIME, 100);
    set(IX_CTL_STREAM_MODE, 1);
    std::vector<uint16_t> ready;
    const uint32_t start = ix::sys::tickMs();
    while (ix::sys::tickMs() - start < 3000) {
        frame();
        EXPECT_TRUE(bothFound()) << "frame " << ready.size();
        ready.push_back(get(IX_CTL_CAPTURE_READY));
    }
    auto firstReady = std::find(ready.begin(), ready.end(), 1);
    ASSERT_NE(firstReady, ready.end());
    EXPECT_GE(firstReady - ready.begin(), 3); // the third steady frame at the earliest
    auto cleared = std::find(firstReady, ready.end(), 0);
    ASSERT_NE(cleared, ready.end()) << "the jump did not clear readiness";
    EXPECT_NE(std::find(cleared, ready.end(), 1), ready.end()) << "never ready again";
    EXPECT_EQ(ready.back(), 1);

    set(IX_CTL_STREAM_MODE, 0);
    set(IX_CTL_STREAM_MODE, 1);
    EXPECT_EQ(get(IX_CTL_CAPTURE_READY), 0);
    set(IX_CTL_STREAM_MODE, 0);
}

// Channel 1 with locatorAssist: the level (register 74) moves the eyes'
// midline up to 46 % of the height, then the in-band flag is set.
TEST_F(EyeWork, ChannelOneIsPositioned) {
    open();
    ASSERT_EQ(ix::context().locatorReady, 1u) << "the stand-in eye locator was not found";
    set(IX_CTL_CHANNEL, 1);
    set(IX_CTL_OUTPUT_WIDTH, 640);
    set(IX_CTL_OUTPUT_HEIGHT, 480);
    set(IX_CTL_WINDOW_WIDTH, 2560);
    set(IX_CTL_WINDOW_HEIGHT, 1920);
    set(IX_CTL_PIXEL_FORMAT, 6);
    set(IX_CTL_LOCATOR_ASSIST, 1);
    set(IX_CTL_STREAM_MODE, 1);
    EXPECT_EQ(get(IX_CTL_IN_BAND), 0);
    for (int i = 0; i < 80 && get(IX_CTL_IN_BAND) == 0; ++i) frame();
    EXPECT_EQ(get(IX_CTL_IN_BAND), 1);
    for (int i = 0; i < 10; ++i) frame();
    set(IX_CTL_STREAM_MODE, 0);
    EXPECT_EQ(get(IX_CTL_IN_BAND), 0) << "a stream stop clears it";

    // The history starts empty, so the first averages lie low and the level
    // first steps down; every write is level + 1000, moved by 1 or 5.
    auto level = writes(ix::kRegPositionLevel);
    ASSERT_GE(level.size(), 3u);
    EXPECT_EQ(level.back().value, ix::context().locatorLevel + 1000);
    long previous = 1500;
    for (auto &t : level) {
        const long step = std::labs(t.value - previous);
        if (step == 0) continue; // the channel selection's replay
        EXPECT_TRUE(step == 1 || step == 5) << t.raw;
        previous = t.value;
    }
    EXPECT_GT(level.back().value, 1500) << "the eyes sat low: the level must end up raised";
    auto moving = writes(ix::kRegMoving);
    EXPECT_TRUE(std::any_of(moving.begin(), moving.end(), [](auto &t) { return t.value == 1; }));
    // The midline now sits within H / 64 of 46 % of the height.
    const ix::PositioningHistory &h = ix::positioningHistory();
    const int32_t p = (h.positionSamples[0] + h.positionSamples[1] + h.positionSamples[2] + h.positionSamples[3]) / 4;
    EXPECT_NEAR(p, 460 * 480 / 1000, 480 / 64);
}

// Markers with overlayEnable 1: a grey cross through each pupil and a circle
// of 5/4 of the iris radius in the range colour (green in range). 2 draws none.
TEST_F(EyeWork, MarkersSitOnThePupils) {
    open("reg14=20000");
    strip(640, 180, 2);
    set(IX_CTL_OVERLAY, 1);
    set(IX_CTL_STREAM_MODE, 1);
    std::vector<uint8_t> f;
    for (int i = 0; i < 6; ++i) f = frame();
    ASSERT_TRUE(bothFound());
    const int W = 640, H = 180;
    auto pixel = [&](int x, int y) { return &f[(size_t(H - 1 - y) * W + x) * 3]; };
    auto isGrey = [&](int x, int y) {
        const uint8_t *p = pixel(x, y);
        return p[0] == 192 && p[1] == 192 && p[2] == 192;
    };
    const DualIrisRecord rec = ix::LastChannelZeroRecord();
    ASSERT_EQ(ix::context().rangeState, 1u);
    for (const EyeResult *e : {&rec.leftResult, &rec.rightResult}) {
        const int x = e->originX + e->irisX, y = e->originY + e->irisY, m = 5 * e->irisRadius / 4;
        SCOPED_TRACE(::testing::Message() << "marker at " << x << "," << y << " m " << m);
        for (int c = x - m + 1; c < x + m; ++c) EXPECT_TRUE(isGrey(c, y)) << "row, column " << c;
        for (int r = y - m + 1; r < y + m; ++r)
            if (r != y) {
                EXPECT_TRUE(isGrey(x, r)) << "column, row " << r;
            }
        const uint8_t *rim = pixel(x + m, y);
        EXPECT_EQ(rim[0], 0);
        EXPECT_EQ(rim[1], 255);
        EXPECT_EQ(rim[2], 0);
        EXPECT_FALSE(isGrey(x + m + 1, y));
    }

    set(IX_CTL_STREAM_MODE, 0);
    set(IX_CTL_OVERLAY, 2);
    set(IX_CTL_STREAM_MODE, 1);
    f = frame();
    set(IX_CTL_STREAM_MODE, 0);
    const EyeResult &l = ix::LastChannelZeroRecord().leftResult;
    ASSERT_EQ(l.notFound, 0);
    int grey = 0;
    for (int c = l.originX + l.irisX - 30; c < l.originX + l.irisX + 30; ++c) grey += isGrey(c, l.originY + l.irisY);
    EXPECT_LT(grey, 5);
}

// IxGetDualIrisImages on a frame the library delivered: both iris images
// are cut around the pupils, each exactly its crop, and nothing past it.
TEST_F(EyeWork, IrisImagesFromADeliveredFrame) {
    open("reg14=20000");
    strip(640, 180, 6);
    set(IX_CTL_STREAM_MODE, 1);
    auto f = frame();
    set(IX_CTL_STREAM_MODE, 0);
    const int W = 640, H = 180, cw = 200, ch = 120;
    std::vector<uint8_t> left(cw * ch + kGuard, kGuardByte), right(cw * ch + kGuard, kGuardByte);
    DualIrisRecord rec{};
    rec.image = f.data();
    rec.width = W;
    rec.height = H;
    rec.leftImage = left.data();
    rec.rightImage = right.data();
    rec.cropWidth = cw;
    rec.cropHeight = ch;
    ASSERT_EQ(IxGetDualIrisImages(&rec), 0);
    for (auto *pair : {&rec.leftResult, &rec.rightResult}) ASSERT_EQ(pair->notFound, 0);
    struct Half {
        const EyeResult &r;
        const std::vector<uint8_t> &img;
        int expectX; // pupil column in the frame
    } halves[] = {{rec.leftResult, left, int(0.27 * W)}, {rec.rightResult, right, int(0.73 * W)}};
    for (const Half &h : halves) {
        // Re-based on the crop: the pupil near its middle, the crop inside the frame.
        EXPECT_NEAR(h.r.originX + h.r.pupilX, h.expectX, 3);
        EXPECT_NEAR(h.r.originY + h.r.pupilY, H / 2, 3);
        EXPECT_NEAR(h.r.pupilX, cw / 2, 3);
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; x += 7) {
                const uint8_t want = f[size_t(H - 1 - (h.r.originY + y)) * W + h.r.originX + x];
                ASSERT_EQ(h.img[size_t(ch - 1 - y) * cw + x], want) << x << "," << y;
            }
        EXPECT_TRUE(std::all_of(h.img.begin() + cw * ch, h.img.end(), [](uint8_t b) { return b == kGuardByte; }));
        EXPECT_LT(h.img[size_t(ch - 1 - h.r.pupilY) * cw + h.r.pupilX], 40); // dark pupil
    }

    IxClose();
    EXPECT_EQ(IxGetDualIrisImages(&rec), 1);
}

// Raw frames have the listed defects repaired when the channel asks: the
// delivered YUY2 frame is the unrepaired one with exactly the repairs of
// the channel's table applied.
TEST_F(EyeWork, DefectsAreRepairedInRawFrames) {
    open();
    set(IX_CTL_CHANNEL, 0);
    set(IX_CTL_OUTPUT_WIDTH, 640);
    set(IX_CTL_OUTPUT_HEIGHT, 480);
    set(IX_CTL_WINDOW_WIDTH, 2560);
    set(IX_CTL_WINDOW_HEIGHT, 1920);
    set(IX_CTL_PIXEL_FORMAT, 7);
    auto grab = [&](int correction) {
        set(IX_CTL_DEFECT_CORRECTION, correction);
        set(IX_CTL_STREAM_MODE, 1);
        auto f = frame();
        set(IX_CTL_STREAM_MODE, 0);
        return f;
    };
    auto raw = grab(0);
    auto repaired = grab(1);
    ASSERT_NE(raw, repaired);
    const ix::ChannelSettings &ch = ix::context().selected();
    ix::eyes::DefectSettings s{};
    s.channel = 0;
    s.windowWidth = ch.windowWidth;
    s.windowHeight = ch.windowHeight;
    s.outputWidth = ch.outputWidth;
    s.outputHeight = ch.outputHeight;
    auto expected = raw;
    EXPECT_GE(ix::eyes::CorrectDefects(expected.data(), expected.size(), ch.defectTable, s), 1);
    EXPECT_EQ(repaired, expected);
    size_t changed = 0;
    for (size_t i = 0; i < raw.size(); ++i) changed += raw[i] != repaired[i];
    EXPECT_LE(changed, 18u * size_t(ch.defectTable[2]));
}

} // namespace
