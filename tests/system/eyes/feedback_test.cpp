// The feedback loops over scripted inputs: a camera context of our own (not
// connected, so nothing goes to a camera), grey frames drawn here, range
// readings and locator results chosen per frame.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "library/controls/tables.h"
#include "library/core/feedback.h"
#include "library/core/positioning.h"
#include "platform/sys.h"

namespace {

using ix::CameraContext;
using ix::IlluminationState;

constexpr uint16_t kWord(uint16_t level) { return ix::illuminationWord(0, level); }

struct Loop {
    std::unique_ptr<CameraContext> ctx = std::make_unique<CameraContext>();
    std::vector<uint8_t> grey;
    DualIrisRecord rec{};

    explicit Loop(int32_t width = 640, int32_t height = 180, uint8_t level = 115) {
        ctx->illuminationState = ix::CreateIlluminationState();
        ix::InitIllumination(*ctx);
        ctx->rangeTarget0 = 500;
        ctx->rangeThresholds[0] = 810;
        ctx->rangeThresholds[1] = 820;
        ctx->rangeThresholds[2] = 430;
        ctx->rangeThresholds[3] = 360;
        ix::ChannelSettings &ch = ctx->selected();
        ch.autoMode = 1;
        ch.brightnessTarget = 125; // T = 106
        ch.holdTime = 0;
        ch.exposureBase = 20000;
        ix::rebuildExposureTable(*ctx);
        ch.exposureIndex = indexOf(140); // E = 142: long enough not to lengthen
        ix::ResetLoopState(*ctx);
        ix::positioningHistory().startupSkip = 0;
        grey.assign(size_t(width) * height, level);
        rec.image = grey.data();
        rec.width = width;
        rec.height = height;
        rec.cropWidth = width / 2;
        rec.cropHeight = height;
        rec.leftResult.notFound = rec.rightResult.notFound = 1;
    }
    ~Loop() { ix::DestroyIlluminationState(ctx->illuminationState); }

    IlluminationState &state() { return *ctx->illuminationState; }
    ix::ChannelSettings &ch() { return ctx->selected(); }
    int32_t indexOf(int32_t divisor) {
        for (int32_t i = 0; i < ch().exposureTableCount; ++i)
            if (ch().exposureTable[i] == divisor) return i;
        ADD_FAILURE() << "no divisor " << divisor;
        return 0;
    }
    void fill(uint8_t level) { std::fill(grey.begin(), grey.end(), level); }
    // A frame whose four range samples all read `average`.
    void frame(int32_t average) {
        for (int32_t &s : state().rangeSamples) s = average;
        ix::RunIlluminationLoopWithReading(*ctx, rec, uint16_t(average));
    }
    void found(EyeResult &e, int32_t x, int32_t y, int32_t irisRadius = 32) {
        e = EyeResult{};
        e.notFound = 0;
        e.originX = x - 10;
        e.originY = y - 10;
        e.pupilX = e.irisX = 10;
        e.pupilY = e.irisY = 10;
        e.irisRadius = irisRadius;
    }
};

// Far mode over the outer band R - 140 .. R + 320 and, on the way back, the
// inner band above R - 70 and below R + 310 (R = 500).
TEST(FarMode, BandEdges) {
    struct Case {
        int32_t average;
        bool outsideOuter;
    } outer[] = {{360, false}, {359, true}, {820, false}, {821, true}, {500, false}};
    for (const Case &c : outer) {
        Loop l;
        l.frame(c.average);
        EXPECT_EQ(l.state().farCountdown, c.outsideOuter ? 3 : 4) << c.average;
    }
    struct Back {
        int32_t average;
        bool insideInner;
    } inner[] = {{431, true}, {809, true}, {430, false}, {810, false}};
    for (const Back &c : inner) {
        Loop l;
        l.state().farMode = 1;
        l.state().returnCountdown = 4;
        l.frame(c.average);
        EXPECT_EQ(l.state().returnCountdown, c.insideInner ? 3 : 4) << c.average;
        EXPECT_EQ(l.state().farMode, 1);
    }
}

// Five frames out: four counted down, the fifth turns the light off; five
// frames back in the inner band restore level L / 4. A frame outside during
// far mode starts it afresh. Between, the exposure loop is idle.
TEST(FarMode, CountdownsAndRestore) {
    Loop l;
    l.ctx->illuminationLevel = 92;
    for (int i = 1; i <= 4; ++i) {
        l.frame(900);
        EXPECT_EQ(l.state().farMode, 0) << i;
        EXPECT_EQ(l.ctx->register49Shadow, 160u) << i;
    }
    l.frame(900);
    EXPECT_EQ(l.state().farMode, 1);
    EXPECT_EQ(l.ctx->register49Shadow, kWord(0));
    EXPECT_EQ(l.state().holdOff, 5);
    EXPECT_EQ(l.state().returnCountdown, 4);

    // Inside the outer band but not the inner one: nothing counts.
    l.frame(830 - 20);
    EXPECT_EQ(l.state().returnCountdown, 4);
    for (int i = 0; i < 3; ++i) l.frame(500);
    EXPECT_EQ(l.state().returnCountdown, 1);
    l.frame(900); // out again: far mode afresh
    EXPECT_EQ(l.state().returnCountdown, 4);
    EXPECT_EQ(l.state().holdOff, 5);
    l.fill(40); // dark, yet the exposure loop must not touch the level
    for (int i = 0; i < 4; ++i) l.frame(500);
    EXPECT_EQ(l.state().farMode, 1);
    EXPECT_EQ(l.ctx->illuminationLevel, 92u);
    l.frame(500);
    EXPECT_EQ(l.state().farMode, 0);
    EXPECT_EQ(l.state().farCountdown, 4);
    EXPECT_EQ(l.ctx->register49Shadow, kWord(23));
}

// The countdown is not refilled when the subject comes back in time.
TEST(FarMode, CountdownSurvivesAReturn) {
    Loop l;
    for (int i = 0; i < 3; ++i) l.frame(300);
    l.frame(500);
    EXPECT_EQ(l.state().farCountdown, 1);
    l.frame(300);
    l.frame(300);
    EXPECT_EQ(l.state().farMode, 1);
}

// The first three frames after an open are not evaluated for far mode, but
// the exposure loop and the range state run on them.
TEST(FarMode, StartupFramesSkipped) {
    Loop l;
    ix::positioningHistory().startupSkip = 3;
    l.fill(60); // too dark
    for (int i = 0; i < 3; ++i) {
        l.state().holdOff = 0;
        l.frame(100);
        EXPECT_EQ(l.state().farCountdown, 4) << i;
        EXPECT_EQ(l.ctx->rangeState, 0u);
    }
    EXPECT_GT(l.ctx->illuminationLevel, 80u);
    l.frame(100);
    EXPECT_EQ(l.state().farCountdown, 3);
}

TEST(RangeState, AroundTheTarget) {
    struct Case {
        int32_t average;
        uint32_t state;
    } cases[] = {{485, 1}, {515, 1}, {500, 1}, {484, 0}, {516, 2}, {0, 0}};
    for (const Case &c : cases) {
        Loop l;
        l.frame(c.average);
        EXPECT_EQ(l.ctx->rangeState, c.state) << c.average;
    }
}

TEST(RangeState, AverageOfFourReadings) {
    Loop l;
    for (int32_t &s : l.state().rangeSamples) s = 500;
    for (uint16_t r : {560, 560, 560}) ix::RunIlluminationLoopWithReading(*l.ctx, l.rec, r);
    EXPECT_EQ(l.ctx->rangeState, 2u); // (500 + 3 * 560) / 4 = 545
    EXPECT_EQ(l.state().rangeSampleIndex, 3);
    ix::RunIlluminationLoopWithReading(*l.ctx, l.rec, 0); // a failed read enters as 0
    EXPECT_EQ(l.state().rangeSampleIndex, 0);
    EXPECT_EQ(l.ctx->rangeState, 0u); // (3 * 560 + 0) / 4 = 420
}

// T = 125 / 2 + 44 = 106: B = 106 is too dark, 107 to 125 change nothing,
// 126 is too bright, and below 20 nothing is trusted.
TEST(ExposureLoop, BrightnessBands) {
    struct Case {
        uint8_t level;
        int change; // -1 darker, 0 none, +1 brighter
    } cases[] = {{106, +1}, {107, 0}, {125, 0}, {126, -1}, {19, 0}, {20, +1}, {255, -1}};
    for (const Case &c : cases) {
        Loop l(640, 180, c.level);
        l.frame(500);
        const int moved = l.ctx->illuminationLevel > 80 ? +1 : l.ctx->illuminationLevel < 80 ? -1 : 0;
        EXPECT_EQ(moved, c.change) << int(c.level);
    }
}

// Too dark: gain first, then a longer exposure, then more light. Too bright:
// less light first, then a shorter exposure, then less gain.
TEST(ExposureLoop, OrderOfActions) {
    {
        Loop l(640, 180, 25);
        l.state().indirect33 = 20;
        l.frame(500);
        EXPECT_EQ(l.state().indirect33, 21);
        EXPECT_EQ(l.ctx->illuminationLevel, 80u);
        EXPECT_EQ(l.state().holdOff, 0); // 25 is outside 41..209
    }
    {
        // Brightness 25 with the gain at 24 and E = 120: L 80 -> 92, level 23.
        Loop l(640, 180, 25);
        l.ch().exposureBase = 12000;
        ix::rebuildExposureTable(*l.ctx);
        l.ch().exposureIndex = l.indexOf(100);
        l.frame(500);
        EXPECT_EQ(l.ch().exposure, 120);
        EXPECT_EQ(l.ctx->illuminationLevel, 92u);
        EXPECT_EQ(l.ctx->register49Shadow, kWord(23));
    }
    {
        // E below 107: lengthen; the step moves the index by 4 at B = 50.
        Loop l(640, 180, 50);
        const int32_t start = l.indexOf(250); // E = 80
        l.ch().exposureIndex = start;
        l.frame(500);
        EXPECT_EQ(l.ch().exposureIndex, start - 4);
        EXPECT_EQ(l.state().lastExposure, 20000 / l.ch().exposureTable[start - 4]);
        EXPECT_EQ(l.ctx->illuminationLevel, 80u);
        EXPECT_EQ(l.state().holdOff, 0); // 50 is outside 60..180
    }
    {
        Loop l(640, 180, 200);
        l.frame(500);
        EXPECT_EQ(l.ctx->illuminationLevel, 72u); // step 8 at 200
        EXPECT_EQ(l.state().holdOff, 0);          // 200 is outside 40..180
        l.ctx->illuminationLevel = 48;
        const int32_t before = l.ch().exposureIndex;
        l.frame(500);
        EXPECT_EQ(l.ch().exposureIndex, before + 8);
        EXPECT_EQ(l.ctx->illuminationLevel, 48u);
    }
    {
        // Level at its floor and E at 18: the gain goes down.
        Loop l(640, 180, 150);
        l.ctx->illuminationLevel = 48;
        l.ch().exposureBase = 18 * 1000;
        ix::rebuildExposureTable(*l.ctx);
        l.ch().exposureIndex = l.indexOf(1000);
        l.frame(500);
        EXPECT_EQ(l.ch().exposure, 18);
        EXPECT_EQ(l.state().indirect33, 23);
        EXPECT_EQ(l.state().holdOff, 2);
    }
}

// After an action the loop sits out its hold-off; while waiting it does not
// even refresh the exposure. autoMode 0 stops it altogether.
TEST(ExposureLoop, HoldOffAndManualMode) {
    Loop l(640, 180, 100);
    l.frame(500);
    EXPECT_EQ(l.ctx->illuminationLevel, 84u); // step 4 for 61..159
    EXPECT_EQ(l.state().holdOff, 2);
    l.ch().exposure = 1;
    l.frame(500);
    l.frame(500);
    EXPECT_EQ(l.ctx->illuminationLevel, 84u);
    EXPECT_EQ(l.state().holdOff, 0);
    EXPECT_EQ(l.ch().exposure, 1);
    l.frame(500);
    EXPECT_EQ(l.ctx->illuminationLevel, 88u);
    EXPECT_EQ(l.ch().exposure, 142);

    Loop manual(640, 180, 30);
    manual.ch().autoMode = 0;
    manual.frame(500);
    EXPECT_EQ(manual.ctx->illuminationLevel, 80u);
    EXPECT_EQ(manual.ch().exposure, 0);
}

// The level stops at 100 and 48; a step that leaves the exposure where it
// was ends the frame's work without a hold-off.
TEST(ExposureLoop, Limits) {
    Loop dark(640, 180, 30);
    dark.ctx->illuminationLevel = 96;
    dark.frame(500);
    EXPECT_EQ(dark.ctx->illuminationLevel, 100u);
    dark.frame(500);
    EXPECT_EQ(dark.ctx->illuminationLevel, 100u);

    Loop stuck(640, 180, 100);
    stuck.ch().exposureIndex = 134;
    stuck.ch().exposureBase = 20000;
    stuck.ch().exposureTable[134] = 400; // E = 50: lengthen, but the index stops at 134
    stuck.state().lastExposure = 50;
    stuck.frame(500);
    EXPECT_EQ(stuck.ch().exposureIndex, 134);
    EXPECT_EQ(stuck.ctx->illuminationLevel, 80u);
    EXPECT_EQ(stuck.state().holdOff, 0);
}

// The patch round a found iris: columns X - 2r .. X + 2r - 1, rows from
// Y - r/2 + 1 to Y + r (or Y - r + 1 to Y + r/2 when the picture is flipped).
TEST(Brightness, PatchesAndTheirEdges) {
    Loop l;
    const int32_t Y = 90, X = 160, r = 32;
    for (int32_t y = 0; y < 180; ++y)
        for (int32_t x = 0; x < 640; ++x) l.grey[size_t(179 - y) * 640 + x] = y < Y ? 50 : 150;
    l.found(l.rec.leftResult, X, Y, r);
    EXPECT_EQ(ix::MeasureBrightness(l.rec, false), (15 * 50 + 33 * 150) / 48);
    EXPECT_EQ(ix::MeasureBrightness(l.rec, true), (31 * 50 + 17 * 150) / 48);
    l.found(l.rec.rightResult, 480, Y, r);
    EXPECT_EQ(ix::MeasureBrightness(l.rec, false), (15 * 50 + 33 * 150) / 48);

    // A pupil near the edges: only the patch's pixels inside the frame count.
    Loop e;
    for (int32_t y = 0; y < 180; ++y)
        for (int32_t x = 0; x < 640; ++x) e.grey[size_t(179 - y) * 640 + x] = x < 74 ? 60 : 200;
    e.found(e.rec.leftResult, 10, 5, r);
    EXPECT_EQ(ix::MeasureBrightness(e.rec, false), 60);
    e.found(e.rec.leftResult, 800, 90, r); // wholly outside: nothing to steer by
    EXPECT_EQ(ix::MeasureBrightness(e.rec, false), 0);
}

// Neither pupil: a patch in the middle of each half. A crop too narrow for
// any pixel gives no brightness, and the loop then changes nothing.
TEST(Brightness, DefaultPatches) {
    Loop l;
    for (int32_t y = 0; y < 180; ++y)
        for (int32_t x = 0; x < 640; ++x) l.grey[size_t(179 - y) * 640 + x] = x < 320 ? 40 : 120;
    EXPECT_EQ(ix::MeasureBrightness(l.rec, false), (40 + 120) / 2);
    l.rec.cropWidth = 19;
    EXPECT_EQ(ix::MeasureBrightness(l.rec, false), 0);
    l.fill(30);
    l.frame(500);
    EXPECT_EQ(l.ctx->illuminationLevel, 80u);
    l.rec.image = nullptr;
    EXPECT_EQ(ix::MeasureBrightness(l.rec, false), 0);
}

// Capture readiness with W = 640: tolerance 4 pixels.
TEST(CaptureReadiness, SteadyFramesAndHoldTime) {
    Loop l;
    l.ch().stabilityCheck = 1;
    l.found(l.rec.leftResult, 160, 90);
    l.found(l.rec.rightResult, 480, 90);
    const int expectReady[] = {0, 0, 0, 1, 1};
    for (int i = 0; i < 5; ++i) {
        l.frame(500);
        EXPECT_EQ(l.ctx->captureReady, expectReady[i]) << "frame " << i; // the first frame is a jump from 0
    }
    EXPECT_EQ(l.state().stableFrames, 4);

    // Out of range: the run ends.
    l.frame(300);
    EXPECT_EQ(l.state().stableFrames, 0);
    EXPECT_EQ(l.ctx->captureReady, 0);

    // A hold time of 400 ms: ready only once the run is that old.
    Loop h;
    h.ch().stabilityCheck = 1;
    h.ch().holdTime = 400;
    h.found(h.rec.leftResult, 160, 90);
    h.found(h.rec.rightResult, 480, 90);
    for (int i = 0; i < 5; ++i) h.frame(500);
    EXPECT_EQ(h.ctx->captureReady, 0);
    ASSERT_GT(h.state().counterFrequency, 0);
    h.state().stableSince -= h.state().counterFrequency; // the run began a second ago
    h.frame(500);
    EXPECT_GE(h.state().stableMs, 1000);
    EXPECT_EQ(h.ctx->captureReady, 1);

    // Without a usable counter only a hold time of 0 can be met.
    h.state().counterFrequency = 0;
    h.frame(500);
    EXPECT_EQ(h.state().stableMs, 0);
    EXPECT_EQ(h.ctx->captureReady, 0);
}

// The span between the pupils may change by W / 160 without a jump; one
// pixel more is a jump and clears readiness. A half not found leaves nothing
// to compare with on the next frame.
TEST(CaptureReadiness, JumpsAndLostHalves) {
    Loop l;
    l.ch().stabilityCheck = 1;
    l.found(l.rec.leftResult, 160, 90);
    l.found(l.rec.rightResult, 480, 90);
    for (int i = 0; i < 4; ++i) l.frame(500);
    ASSERT_EQ(l.ctx->captureReady, 1);
    l.rec.rightResult.pupilX += 4; // span +4: still steady
    l.frame(500);
    EXPECT_EQ(l.ctx->captureReady, 1);
    l.rec.rightResult.pupilX += 5; // span +5: a jump
    l.frame(500);
    EXPECT_EQ(l.ctx->captureReady, 0);
    EXPECT_EQ(l.state().stableFrames, 0);

    Loop lost;
    lost.ch().stabilityCheck = 1;
    lost.found(lost.rec.leftResult, 160, 90);
    lost.found(lost.rec.rightResult, 480, 90);
    for (int i = 0; i < 4; ++i) lost.frame(500);
    lost.rec.rightResult.notFound = 1; // the left half alone stays steady
    lost.frame(500);
    EXPECT_EQ(lost.state().stableFrames, 4);
    lost.rec.rightResult.notFound = 0;
    lost.rec.leftResult.notFound = 1; // right is back but has no position to compare with
    lost.frame(500);
    EXPECT_EQ(lost.state().stableFrames, 0);

    // With the check off, readiness keeps whatever it was.
    Loop off;
    off.ctx->captureReady = 1;
    off.frame(300);
    EXPECT_EQ(off.ctx->captureReady, 1);
}

// Positioning with H = 1080: t = 496, n = 16, m = 67.
TEST(Positioning, StepsAndHysteresis) {
    struct Case {
        int32_t average;
        int32_t levelChange;
    } outOfBand[] = {{513, +1}, {563, +1}, {564, +5}, {496, 0}, {481, 0}, {480, 0},
                     {512, 0}, {479, -1}, {429, -1}, {428, -5}};
    for (const Case &c : outOfBand) {
        auto ctx = std::make_unique<CameraContext>();
        ctx->selected().outputHeight = 1080;
        ctx->locatorAssist = 1;
        ctx->locatorLevel = 500;
        ix::PositioningHistory &h = ix::positioningHistory();
        for (int32_t &s : h.positionSamples) s = c.average;
        ix::eyes::LocatorResult r{};
        r.found = 1;
        r.eye1Y = r.eye2Y = 1080 - c.average;
        ix::RunPositioningStep(*ctx, r);
        EXPECT_EQ(int(ctx->locatorLevel) - 500, c.levelChange) << c.average;
        const bool entered = c.average > 480 && c.average < 512;
        EXPECT_EQ(ctx->inBandFlag, entered ? 1 : 0) << c.average;
        EXPECT_EQ(ctx->movingFlag, c.levelChange != 0 ? 1u : 0u) << c.average;
    }

    auto ctx = std::make_unique<CameraContext>();
    ctx->selected().outputHeight = 1080;
    ctx->locatorAssist = 1;
    ctx->inBandFlag = 1;
    ctx->movingFlag = 0;
    ix::PositioningHistory &h = ix::positioningHistory();
    ix::eyes::LocatorResult r{};
    r.found = 1;
    for (int32_t p : {429, 563}) { // inside t +- m: stays in band
        for (int32_t &s : h.positionSamples) s = p;
        r.eye1Y = r.eye2Y = 1080 - p;
        ix::RunPositioningStep(*ctx, r);
        EXPECT_EQ(ctx->inBandFlag, 1) << p;
    }
    for (int32_t &s : h.positionSamples) s = 564;
    r.eye1Y = r.eye2Y = 1080 - 564;
    ix::RunPositioningStep(*ctx, r);
    EXPECT_EQ(ctx->inBandFlag, 0);
    EXPECT_EQ(ctx->movingFlag, 1u);
    EXPECT_EQ(ctx->locatorLevel, 0); // the level moves from the next frame on
}

// The sample is H - (eye1Y + eye2Y) / 2, averaged over four frames; without
// locatorAssist it is still recorded. The level is 16 bits and wraps.
TEST(Positioning, HistoryAndWrap) {
    auto ctx = std::make_unique<CameraContext>();
    ctx->selected().outputHeight = 1080;
    ix::PositioningHistory &h = ix::positioningHistory();
    h = ix::PositioningHistory{};
    ix::eyes::LocatorResult r{};
    r.found = 1;
    r.eye1Y = 500;
    r.eye2Y = 601; // sample 1080 - 550 = 530
    ix::RunPositioningStep(*ctx, r);
    EXPECT_EQ(h.positionSamples[0], 530);
    EXPECT_EQ(h.positionIndex, 1);
    EXPECT_EQ(ctx->locatorLevel, 0);

    ctx->locatorAssist = 1;
    ctx->locatorLevel = 2;
    for (int32_t &s : h.positionSamples) s = 100;
    r.eye1Y = r.eye2Y = 980;
    ix::RunPositioningStep(*ctx, r);
    EXPECT_EQ(ctx->locatorLevel, 65533);
}

// A stream start clears the run and the hold-offs but keeps the range
// samples, the gain and the level.
TEST(LoopState, ResetAtStreamStart) {
    Loop l;
    IlluminationState &s = l.state();
    s.stableFrames = 7;
    s.holdOff = 3;
    s.farMode = 1;
    s.farCountdown = 0;
    s.lastExposure = 55;
    s.indirect33 = 9;
    s.rangeSamples[2] = 444;
    l.ctx->captureReady = 1;
    l.ctx->rangeState = 2;
    l.ctx->qualifyingFrames = 9;
    l.ctx->illuminationLevel = 60;
    ix::ResetLoopState(*l.ctx);
    EXPECT_EQ(s.stableFrames, 0);
    EXPECT_EQ(s.holdOff, 0);
    EXPECT_EQ(s.farMode, 0);
    EXPECT_EQ(s.farCountdown, 4);
    EXPECT_EQ(s.lastExposure, 0);
    EXPECT_EQ(s.indirect33, 9);
    EXPECT_EQ(s.rangeSamples[2], 444);
    EXPECT_EQ(l.ctx->captureReady, 0);
    EXPECT_EQ(l.ctx->rangeState, 0u);
    EXPECT_EQ(l.ctx->qualifyingFrames, 0u);
    EXPECT_EQ(l.ctx->illuminationLevel, 60u);
}

} // namespace
