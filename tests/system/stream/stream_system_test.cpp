// Streams against the virtual camera: start/stop in both modes on both
// channels, every pixel format, rotations, slow consumers, failing and
// stalled reads, a camera that goes away, and many start/stop cycles.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "library/codec/pixel_convert.h"
#include "library/core/context.h"
#include "library/core/stream.h"
#include "library/eyes/locator_binding.h"
#include "library/include/IxiLumo.h"
#include "platform/sys.h"

namespace {

constexpr uint8_t kGuardByte = 0xA5;
constexpr size_t kGuard = 64;

struct Write {
    int reg;
    long value;
};

long numberField(const std::string &line, const char *name) {
    std::string key = std::string("\"") + name + "\":";
    auto p = line.find(key);
    return p == std::string::npos ? -1 : std::strtol(line.c_str() + p + key.size(), nullptr, 10);
}

// The camera's trace, read while it runs.
struct Trace {
    std::string path;
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::ifstream in(path);
        for (std::string l; std::getline(in, l);) out.push_back(l);
        return out;
    }
    std::vector<Write> writes(int reg = -1) const {
        std::vector<Write> out;
        for (auto &l : lines())
            if (l.find("\"op\":\"set\"") != std::string::npos && (reg < 0 || numberField(l, "reg") == reg))
                out.push_back({int(numberField(l, "reg")), numberField(l, "value")});
        return out;
    }
    size_t goodReads() const {
        size_t n = 0;
        for (auto &l : lines())
            n += l.find("\"op\":\"read\"") != std::string::npos && l.find("\"ok\":true") != std::string::npos;
        return n;
    }
    size_t reads() const {
        size_t n = 0;
        for (auto &l : lines()) n += l.find("\"op\":\"read\"") != std::string::npos;
        return n;
    }
};

class Stream : public ::testing::Test {
protected:
    void TearDown() override {
        ix::eyes::locatorBinding().module = nullptr; // a test's stand-in is not a loaded module
        IxClose();
        ix::setStopWaitLimitMs(0);
    }

    // Opens the virtual camera with its own trace file.
    Trace open(const std::string &extra = "") {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        Trace t{std::string("stream_") + info->name() + ".trace"};
        std::remove(t.path.c_str());
        std::string setting = "trace=" + t.path + ";fps=200" + (extra.empty() ? "" : ";" + extra);
        ix::sys::setEnv("IXLUMO_SIMULATOR", setting.c_str());
        EXPECT_EQ(IxOpen(), 0);
        return t;
    }

    // Selects a channel and a picture of w x h from the whole sensor.
    void shape(uint16_t channel, uint16_t w, uint16_t h, uint16_t format, uint16_t userRotation = 0) {
        ASSERT_EQ(IxSetControlValue(49, channel, 2), 0);
        ix::ChannelSettings &ch = ix::context().selected();
        ch.outputWidth = w;
        ch.outputHeight = h;
        ch.windowWidth = 2560; // the sensor as the caller sees it on either channel
        ch.windowHeight = 1920;
        ch.offsetX = ch.offsetY = 0;
        ch.defectCorrection = 0;
        ASSERT_EQ(IxSetControlValue(13, format, 2), 0);
        ASSERT_EQ(IxSetControlValue(52, userRotation, 2), 0);
    }

    // One delivered frame, checked for its length and an untouched guard.
    std::vector<uint8_t> frame(uint32_t expectBytes) {
        std::vector<uint8_t> buf(expectBytes + kGuard, kGuardByte);
        uint32_t got = 0;
        EXPECT_EQ(IxGetImage(buf.data(), uint32_t(buf.size()), &got), 0);
        EXPECT_EQ(got, expectBytes);
        EXPECT_TRUE(std::all_of(buf.begin() + expectBytes, buf.end(), [](uint8_t b) { return b == kGuardByte; }))
            << "written past the frame";
        buf.resize(expectBytes);
        return buf;
    }

    std::vector<uint8_t> grab(uint16_t channel, uint16_t w, uint16_t h, uint16_t format, uint16_t rotation = 0,
                              uint16_t mode = 1) {
        shape(channel, w, h, format, rotation);
        EXPECT_EQ(IxSetControlValue(8, mode, 2), 0);
        uint32_t bpp = format == 2 ? 3 : format == 6 ? 1 : 2;
        auto f = frame(uint32_t(w) * h * bpp);
        EXPECT_EQ(IxSetControlValue(8, 0, 2), 0);
        return f;
    }
};

// Grey value of picture point (x, image row y) in a bottom-up 8-bit frame.
uint8_t picture(const std::vector<uint8_t> &grey, int w, int h, int x, int y) {
    return grey[size_t(h - 1 - y) * w + x];
}

// Share of pixels that differ by more than 1 (sampling at the same scene
// points through differently ordered arithmetic may round a rare edge pixel).
double mismatch(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
    if (a.size() != b.size()) return 1.0;
    size_t bad = 0;
    for (size_t i = 0; i < a.size(); ++i) bad += std::abs(int(a[i]) - int(b[i])) > 1;
    return double(bad) / double(a.size());
}

std::vector<uint8_t> turnedHalf(const std::vector<uint8_t> &grey) { return {grey.rbegin(), grey.rend()}; }

TEST_F(Stream, OffStreamAnswersStateAndStopWritesStreamRegister) {
    Trace t = open();
    uint8_t buf[16];
    uint32_t got = 1234;
    EXPECT_EQ(IxGetImage(buf, sizeof buf, &got), IX_ERR_STATE);
    EXPECT_EQ(got, 1234u);
    size_t before = t.writes(6).size();
    EXPECT_EQ(IxSetControlValue(8, 0, 2), 0);
    auto w = t.writes(6);
    ASSERT_EQ(w.size(), before + 1);
    EXPECT_EQ(w.back().value, 0);
    EXPECT_EQ(t.reads(), 0u);
}

// Every format at once: the length, the guard, the pixels against the
// converters applied to the same scene as YUY2, and the picture's orientation
// (a dark pupil with its glint up and to the left).
TEST_F(Stream, EveryFormatDeliversTheWholeFrameAndNothingMore) {
    open();
    const uint16_t w = 640, h = 480;
    auto yuy2 = grab(0, w, h, 7);
    EXPECT_EQ(ix::context().lastFrameBytes, uint32_t(w) * h * 2);
    EXPECT_EQ(grab(0, w, h, 21), yuy2);
    struct {
        uint16_t format;
        uint32_t bpp;
        ix::codec::ConvertFn convert;
    } formats[] = {{2, 3, ix::codec::ConvertYuy2ToBgr24},
                   {4, 2, ix::codec::ConvertYuy2ToRgb565},
                   {6, 1, ix::codec::ConvertYuy2ToGrey8}};
    for (auto f : formats) {
        std::vector<uint8_t> expected(size_t(w) * h * f.bpp);
        f.convert(expected.data(), w, h, yuy2.data());
        EXPECT_EQ(grab(0, w, h, f.format), expected) << "format " << f.format;
    }
    auto grey = grab(0, w, h, 6);
    // Left eye: pupil centre at (0.27 w, 0.5 h); glint up-left of it.
    EXPECT_LT(picture(grey, w, h, 173, 240), 40);
    EXPECT_GT(picture(grey, w, h, 167, 232), 230);
    EXPECT_LT(picture(grey, w, h, 178, 248), 40); // the mirror point is still pupil
    EXPECT_GT(picture(grey, w, h, 10, 10), 100);  // skin in the corner
}

TEST_F(Stream, CapacityBelowFrameSizeWritesNothing) {
    open();
    shape(0, 320, 240, 2);
    ASSERT_EQ(IxSetControlValue(8, 1, 2), 0);
    std::vector<uint8_t> buf(320 * 240 * 3 + kGuard, kGuardByte);
    uint32_t got = 77;
    EXPECT_EQ(IxGetImage(buf.data(), 320 * 240 * 3 - 1, &got), IX_ERR_BUFFER_SMALL);
    EXPECT_EQ(got, 77u);
    EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](uint8_t b) { return b == kGuardByte; }));
    EXPECT_EQ(IxGetImage(nullptr, 0, &got), IX_ERR_BUFFER_SMALL);
    frame(320 * 240 * 3); // still streaming
}

// Channel 1's sensor is turned; delivery turns it back, so with the default
// rotation it shows what channel 0 shows. Format 7 comes unturned.
TEST_F(Stream, ChannelOneIsTurnedBackAtDelivery) {
    Trace t = open();
    const int w = 640, h = 480;
    auto straight = grab(0, w, h, 6);
    auto turned = grab(1, w, h, 6);
    EXPECT_LT(mismatch(straight, turned), 0.001);

    // The quarter-turn geometry as the camera was told it.
    auto writes = t.writes();
    auto last = [&](int reg) {
        for (auto it = writes.rbegin(); it != writes.rend(); ++it)
            if (it->reg == reg) return it->value;
        return -1L;
    };
    EXPECT_EQ(last(29), h);
    EXPECT_EQ(last(30), w);
    EXPECT_EQ(last(27), 1920);
    EXPECT_EQ(last(28), 2560);
    EXPECT_EQ(last(31), 0);
    EXPECT_EQ(last(32), 2560 - 0 - w);

    // Unturned: h pixels wide, w rows, top-down; camera (row r, column c) is
    // picture (w - 1 - r, c).
    auto raw = grab(1, w, h, 7);
    ASSERT_EQ(raw.size(), size_t(w) * h * 2);
    size_t bad = 0;
    for (int r = 0; r < w; r += 7)
        for (int c = 0; c < h; c += 5)
            bad += std::abs(int(raw[(size_t(r) * h + c) * 2]) - int(picture(turned, w, h, w - 1 - r, c))) > 1;
    EXPECT_LT(bad, 5u);

    // Format 2 comes turned too: same picture in colour.
    auto bgr = grab(1, w, h, 2);
    std::vector<uint8_t> green(size_t(w) * h);
    for (size_t i = 0; i < green.size(); ++i) green[i] = bgr[i * 3 + 1];
    EXPECT_LT(picture(green, w, h, 173, 240), 40);
    EXPECT_GT(picture(green, w, h, 167, 232), 200);
}

TEST_F(Stream, HalfTurnsUseTheSensorFlipsAndThreeQuartersTurnInSoftware) {
    Trace t = open();
    const int w = 320, h = 240;
    auto upright = grab(0, w, h, 6);
    auto half = grab(0, w, h, 6, 180);
    // The stream start's flips are the last ones written.
    std::vector<long> flips;
    for (auto &wr : t.writes())
        if (wr.reg == 17 || wr.reg == 19) flips.push_back(wr.value);
    ASSERT_GE(flips.size(), 2u);
    EXPECT_EQ(std::vector<long>(flips.end() - 2, flips.end()), (std::vector<long>{1, 1}));
    EXPECT_LT(mismatch(half, turnedHalf(upright)), 0.001);
    // Channel 1: 90 + 180 = 270, turned by software the other way round.
    EXPECT_LT(mismatch(grab(1, w, h, 6, 180), turnedHalf(upright)), 0.001);
    // 90 + 270 = 0: channel 1's frame delivered as the sensor sends it.
    auto sideways = grab(1, w, h, 6, 270);
    EXPECT_EQ(sideways.size(), size_t(w) * h);
    EXPECT_EQ(ix::context().rotation, 0);
}

TEST_F(Stream, StartWhileRunningStopsUntilOffThenOn) {
    Trace t = open();
    shape(0, 320, 240, 4);
    ASSERT_EQ(IxSetControlValue(8, 1, 2), 0);
    frame(320 * 240 * 2);
    EXPECT_EQ(IxSetControlValue(8, 1, 2), IX_ERR_FAILED);
    uint8_t buf[320 * 240 * 2];
    uint32_t got = 0;
    EXPECT_EQ(IxGetImage(buf, sizeof buf, &got), IX_ERR_FAILED);
    EXPECT_EQ(IxSetControlValue(8, 0, 2), 0);
    EXPECT_EQ(IxSetControlValue(8, 1, 2), 0);
    frame(320 * 240 * 2);
    EXPECT_EQ(t.writes(6).back().value, 1);
}

TEST_F(Stream, DirectModeReadsOneFramePerRequestOnBothChannels) {
    Trace t = open();
    for (uint16_t channel : {0, 1}) {
        shape(channel, 320, 240, 6);
        ASSERT_EQ(IxSetControlValue(8, 2, 2), 0);
        EXPECT_EQ(t.writes(6).back().value, 2);
        size_t before = t.reads();
        for (int i = 0; i < 3; ++i) frame(320 * 240);
        EXPECT_EQ(t.reads(), before + 3);
        ASSERT_EQ(IxSetControlValue(8, 0, 2), 0);
    }
}

// A consumer slower than the camera gets the newest frame each time.
TEST_F(Stream, SlowConsumerAlwaysGetsTheNewestFrame) {
    Trace t = open("stamp=1");
    shape(0, 160, 120, 7);
    ASSERT_EQ(IxSetControlValue(8, 1, 2), 0);
    uint64_t previous = 0;
    for (int i = 0; i < 5; ++i) {
        // Let the camera get well ahead (at least eight frames past the last
        // one delivered), however busy the machine is.
        for (int wait = 0; wait < 400 && t.goodReads() < previous + 9; ++wait) ix::sys::sleepMs(5);
        size_t done = t.goodReads();
        ASSERT_GE(done, previous + 9) << "the camera stopped sending";
        auto f = frame(160 * 120 * 2);
        uint64_t number = 0;
        for (int b = 0; b < 8; ++b) number |= uint64_t(f[b]) << (8 * b);
        // The newest frame when the call began (or a newer one). A read's
        // trace line may precede its slot's hand-over, and the reader may be
        // filling the other slots meanwhile: at most three frames behind.
        EXPECT_GE(number + 3, done) << "an older frame was delivered";
        // Three slots cannot queue eight frames: the ones between were dropped.
        EXPECT_GE(number, previous + 5) << "frames were queued, not dropped";
        previous = number;
    }
}

TEST_F(Stream, FailedReadsAreRetried) {
    Trace t = open("fail=read:*:2,read:*:3,read:*:7");
    shape(0, 160, 120, 6);
    ASSERT_EQ(IxSetControlValue(8, 1, 2), 0);
    for (int i = 0; i < 8; ++i) frame(160 * 120);
    ASSERT_EQ(IxSetControlValue(8, 0, 2), 0);
    EXPECT_EQ(t.reads() - t.goodReads(), 3u);
}

TEST_F(Stream, DirectModeFailedReadFailsTheRequest) {
    open("fail=read:*:2");
    shape(1, 160, 120, 2);
    ASSERT_EQ(IxSetControlValue(8, 2, 2), 0);
    std::vector<uint8_t> buf(160 * 120 * 3);
    uint32_t got = 0;
    EXPECT_EQ(IxGetImage(buf.data(), uint32_t(buf.size()), &got), 0);
    EXPECT_EQ(IxGetImage(buf.data(), uint32_t(buf.size()), &got), IX_ERR_FAILED);
    EXPECT_EQ(IxGetImage(buf.data(), uint32_t(buf.size()), &got), 0);
}

// A read that never returns: the stop gives up after its limit, the next
// stream runs on its own slots, and closing the camera ends the stuck read.
TEST_F(Stream, StalledReadPastTheStopLimitIsLeftBehindSafely) {
    EXPECT_EQ(ix::kStopWaitLimitMs, 10000u);
    ix::setStopWaitLimitMs(300);
    Trace t = open("fail=stall:*:1");
    shape(0, 160, 120, 6);
    ASSERT_EQ(IxSetControlValue(8, 1, 2), 0);
    ix::sys::sleepMs(50); // the reader is inside its first read now
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(IxSetControlValue(8, 0, 2), 0);
    auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_GE(waited, std::chrono::milliseconds(290));
    EXPECT_LT(waited, std::chrono::milliseconds(5000));
    EXPECT_EQ(t.writes(6).back().value, 0);

    // A later stream delivers, with the old reader still stuck beside it.
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(IxSetControlValue(8, 1, 2), 0);
        auto f = frame(160 * 120);
        EXPECT_GT(*std::max_element(f.begin(), f.end()), 200); // a real picture (the glint)
        ASSERT_EQ(IxSetControlValue(8, 0, 2), 0);
    }
    EXPECT_EQ(IxClose(), 0); // ends the stuck read; the sanitizer build checks the rest
    size_t stalled = 0;
    for (auto &l : t.lines()) stalled += l.find("\"op\":\"read\"") != std::string::npos && l.find("\"ok\":false") != std::string::npos;
    EXPECT_EQ(stalled, 1u);
}

TEST_F(Stream, CameraGoneMidStream) {
    open("fail=unplug:*:4");
    shape(0, 160, 120, 6);
    ASSERT_EQ(IxSetControlValue(8, 1, 2), 0);
    std::vector<uint8_t> buf(160 * 120);
    uint32_t got = 0;
    int delivered = 0;
    // Frames until the camera leaves the bus, then no frame within the limit.
    while (delivered < 10 && IxGetImage(buf.data(), uint32_t(buf.size()), &got) == 0) ++delivered;
    EXPECT_GE(delivered, 1);
    EXPECT_LE(delivered, 3);
    EXPECT_EQ(IxSetControlValue(8, 0, 2), 0);
    EXPECT_EQ(IxSetControlValue(8, 2, 2), 0);
    EXPECT_EQ(IxGetImage(buf.data(), uint32_t(buf.size()), &got), IX_ERR_FAILED);
}

TEST_F(Stream, RangeStatusOnChannelOneDrivesTheRangeLed) {
    struct {
        int reading;
        long led;
    } cases[] = {{475, 256}, {476, 512}, {524, 512}, {525, 1024}};
    for (auto c : cases) {
        IxClose();
        Trace t = open("range=" + std::to_string(c.reading));
        shape(1, 160, 120, 6);
        ix::CameraContext &ctx = ix::context();
        ctx.rangeTargetSelect = 1;
        ctx.rangeTarget1 = 500;
        ctx.selected().rangeLedMode = 8;
        ASSERT_EQ(IxSetControlValue(8, 1, 2), 0);
        frame(160 * 120);
        auto led = t.writes(18);
        ASSERT_FALSE(led.empty());
        EXPECT_EQ(led.back().value, c.led) << "reading " << c.reading;
        ASSERT_EQ(IxSetControlValue(8, 0, 2), 0);
        // Direct mode puts the LED out after each frame.
        ASSERT_EQ(IxSetControlValue(8, 2, 2), 0);
        frame(160 * 120);
        EXPECT_EQ(t.writes(18).back().value, 0);
        ASSERT_EQ(IxSetControlValue(8, 0, 2), 0);
    }
}

// Stand-in eye locator: always finds both eyes.
float gFirst[2] = {40.0f, 60.0f}, gSecond[2] = {120.0f, 60.0f};
float gNear[2] = {20.0f, 30.0f}, gFar[2] = {140.0f, 90.0f};
int gFindCalls = 0;
int32_t standInFind(int32_t, int32_t, const uint8_t *, int32_t, int32_t) {
    ++gFindCalls;
    return 1;
}
int32_t standInEyes(float **a, float **b) {
    *a = gFirst;
    *b = gSecond;
    return 1;
}
int32_t standInBox(float **a, float **b) {
    *a = gNear;
    *b = gFar;
    return 1;
}
int32_t standInReset() { return 0; }

TEST_F(Stream, SixthLocatedInBandFrameMakesCaptureReady) {
    open("range=500");
    shape(1, 160, 120, 2);
    ix::CameraContext &ctx = ix::context();
    auto &b = ix::eyes::locatorBinding();
    static int dummyModule;
    b.module = &dummyModule;
    b.entry[12] = reinterpret_cast<void (*)()>(&standInFind);
    b.entry[4] = reinterpret_cast<void (*)()>(&standInEyes);
    b.entry[5] = reinterpret_cast<void (*)()>(&standInBox);
    b.entry[6] = reinterpret_cast<void (*)()>(&standInReset);
    ctx.locatorReady = 1;
    ctx.rangeTargetSelect = 1;
    ctx.rangeTarget1 = 500;
    ctx.selected().stabilityCheck = 1;
    ctx.selected().overlayEnable = 1;
    ASSERT_EQ(IxSetControlValue(8, 1, 2), 0);
    ctx.inBandFlag = 0;
    frame(160 * 120 * 3); // not in band: neither counts nor resets
    EXPECT_EQ(ctx.qualifyingFrames, 0u);
    ctx.inBandFlag = 1;
    for (int i = 1; i <= 5; ++i) {
        frame(160 * 120 * 3);
        EXPECT_EQ(ctx.qualifyingFrames, uint32_t(i));
        EXPECT_EQ(ctx.captureReady, 0);
    }
    auto last = frame(160 * 120 * 3);
    EXPECT_EQ(ctx.qualifyingFrames, 6u);
    EXPECT_EQ(ctx.captureReady, 1);
    EXPECT_EQ(gFindCalls, 7);
    // The box's top edge in the in-band colour (green) on image row 120 - 90.
    const uint8_t *px = &last[(size_t(120 - 1 - (120 - 90)) * 160 + 60) * 3];
    EXPECT_EQ(px[0], 0);
    EXPECT_EQ(px[1], 255);
    EXPECT_EQ(px[2], 0);
    // A new stream counts afresh.
    ASSERT_EQ(IxSetControlValue(8, 0, 2), 0);
    EXPECT_EQ(ctx.qualifyingFrames, 0u);
    ctx.locatorReady = 0;
    b.module = nullptr;
}

// Many short streams, switching modes and channels, with a frame in each.
TEST_F(Stream, ThousandStartStopCycles) {
    open();
    std::vector<uint8_t> buf(64 * 48 * 2);
    uint32_t got = 0;
    int failures = 0;
    for (int i = 0; i < 1000; ++i) {
        if (i % 250 == 0) shape(uint16_t((i / 250) & 1), 64, 48, (i / 250) % 3 == 0 ? 4 : 7);
        uint16_t mode = i % 3 == 2 ? 2 : 1;
        ASSERT_EQ(IxSetControlValue(8, mode, 2), 0);
        if (i % 2 == 0) failures += IxGetImage(buf.data(), uint32_t(buf.size()), &got) != 0;
        ASSERT_EQ(IxSetControlValue(8, 0, 2), 0);
    }
    EXPECT_EQ(failures, 0);
}

} // namespace
