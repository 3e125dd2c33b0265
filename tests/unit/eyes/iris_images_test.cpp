// Iris images: accepted sizes, the crop and its re-basing, refusals, and
// the grading of 2560-wide frames.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "iris_images.h"
#include "synthetic_eyes.h"

namespace ix::eyes {
namespace {

using test::EyeSpec;
using test::GreyFrame;

class ScriptedRange : public RangeSource {
public:
    explicit ScriptedRange(int32_t target, uint16_t reading = 0, bool ok = true)
        : target_(target), reading_(reading), ok_(ok) {}
    bool readRange(uint16_t &value) override {
        ++reads;
        value = ok_ ? reading_ : 0xBEEF;
        return ok_;
    }
    int32_t rangeTarget() const override { return target_; }
    int reads = 0;

private:
    int32_t target_;
    uint16_t reading_;
    bool ok_;
};

// A caller's crop buffer with a guard region after it.
struct CropBuffer {
    CropBuffer(int w, int h) : bytes(static_cast<size_t>(w) * h), data(bytes + kGuard, kFill) {}
    uint8_t *ptr() { return data.data(); }
    bool untouched() const {
        for (uint8_t v : data)
            if (v != kFill) return false;
        return true;
    }
    bool guardIntact() const {
        for (size_t i = bytes; i < data.size(); ++i)
            if (data[i] != kFill) return false;
        return true;
    }
    uint8_t at(int cropW, int cropH, int x, int y) const {  // crop image row y, stored bottom-up
        return data[static_cast<size_t>(cropH - 1 - y) * cropW + x];
    }
    static constexpr size_t kGuard = 64;
    static constexpr uint8_t kFill = 0x5A;
    size_t bytes;
    std::vector<uint8_t> data;
};

struct Request {
    Request(GreyFrame &f, int cw, int ch, CropBuffer *left, CropBuffer *right) {
        std::memset(&record, 0, sizeof record);
        record.image = f.data();
        record.width = f.width();
        record.height = f.height();
        record.cropWidth = cw;
        record.cropHeight = ch;
        record.leftImage = left ? left->ptr() : nullptr;
        record.rightImage = right ? right->ptr() : nullptr;
    }
    DualIrisRecord record;
};

// Gives every pixel a value from its position so a crop can be checked
// byte for byte against the frame.
void paintPattern(GreyFrame &f) {
    for (int y = 0; y < f.height(); ++y)
        for (int x = 0; x < f.width(); ++x) f.at(x, y) = static_cast<uint8_t>(150 + (x * 7 + y * 13) % 60);
}

void expectCropMatches(const GreyFrame &f, const CropBuffer &buf, int cw, int ch, int sx, int sy) {
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x)
            ASSERT_EQ(buf.at(cw, ch, x, y), f.at(sx + x, sy + y)) << "crop pixel " << x << "," << y;
    EXPECT_TRUE(buf.guardIntact());
}

TEST(IrisImages, AcceptedFrameSizes) {
    auto area = std::make_unique<EyeSearchArea>();
    struct Case {
        int w, h;
        int32_t result;
    } cases[] = {{640, 180, 0},  {1280, 360, 0}, {2560, 720, 0},  {2560, 1080, 0}, {2560, 1471, 0},
                 {640, 181, 1},  {1280, 720, 1}, {2560, 719, 1},  {2560, 1472, 1}, {1920, 1080, 1}};
    for (const Case &k : cases) {
        SCOPED_TRACE(::testing::Message() << k.w << "x" << k.h);
        GreyFrame f(k.w, k.h, 175);
        f.drawEye({k.w / 4, k.h / 2, k.w / 64, k.w / 20});
        CropBuffer left(64, 48), right(64, 48);
        Request rq(f, 64, 48, &left, &right);
        rq.record.leftResult.rangeScore = 77;
        rq.record.rightResult.spread = 77;
        rq.record.leftResult.pupilX = 1234;
        ScriptedRange camera(500, 500);
        EXPECT_EQ(GetDualIrisImages(*area, rq.record, &camera), k.result);
        EXPECT_EQ(rq.record.rightResult.notFound, 1);
        if (k.result == 1) {
            EXPECT_EQ(rq.record.leftResult.notFound, 1);
            EXPECT_EQ(rq.record.leftResult.rangeScore, 0) << "grading fields are cleared";
            EXPECT_EQ(rq.record.rightResult.spread, 0);
            EXPECT_EQ(rq.record.leftResult.pupilX, 1234) << "positions keep the caller's values";
            EXPECT_TRUE(left.untouched());
            EXPECT_TRUE(right.untouched());
        } else {
            EXPECT_EQ(rq.record.leftResult.notFound, 0);
            EXPECT_TRUE(right.untouched()) << "no right pupil, no right image";
        }
        EXPECT_EQ(camera.reads, k.w == 2560 && k.result == 0 ? 2 : 0);
    }
}

// Crops around pupils in the middle and near every edge: the start is
// clamped into the frame, the bytes are the frame's, bottom row first, and
// the result is re-based on the crop.
TEST(IrisImages, CropAndRebase) {
    auto area = std::make_unique<EyeSearchArea>();
    const int W = 1280, H = 360, c = 16;
    struct Case {
        const char *what;
        int lx, ly;  // left pupil centre; the right one mirrors it
        int cw, ch;
    } cases[] = {
        {"middle", 320, 180, 256, 192},
        {"near the top", 320, 100, 256, 256},       // wants sy < 0
        {"near the bottom", 320, 260, 256, 256},    // wants sy + ch >= H
        {"crop wider than half the frame", 520, 180, 1200, 200},  // left clamps to 0, right to W - cw
        {"crop as wide as the frame", 320, 180, W, 100},
        {"crop as tall as the frame", 320, 180, 200, H},
        {"width not a multiple of 4", 320, 180, 101, 77},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        GreyFrame f(W, H, 175);
        paintPattern(f);
        const int rx = W - k.lx;
        f.drawEye({k.lx, k.ly, 20, W / 20});
        f.drawEye({rx, k.ly, 20, W / 20});
        CropBuffer left(k.cw, k.ch), right(k.cw, k.ch);
        Request rq(f, k.cw, k.ch, &left, &right);
        ASSERT_EQ(GetDualIrisImages(*area, rq.record, nullptr), 0);
        for (auto [res, buf, cx] : {std::tuple{&rq.record.leftResult, &left, k.lx},
                                    std::tuple{&rq.record.rightResult, &right, rx}}) {
            ASSERT_EQ(res->notFound, 0);
            const int sx = res->originX, sy = res->originY;
            // Where the crop should start, from the true centre (the found one is within 2).
            auto expectedStart = [](int centre, int crop, int limit) {
                if (crop >= limit) return 0;
                int s = centre - crop / 2;
                return s < 0 ? 0 : (s + crop >= limit ? limit - crop : s);
            };
            EXPECT_NEAR(sx, expectedStart(cx, k.cw, W), 2);
            EXPECT_NEAR(sy, expectedStart(k.ly, k.ch, H), 2);
            EXPECT_GE(sx, 0);
            EXPECT_GE(sy, 0);
            EXPECT_LE(sx + k.cw, W);
            EXPECT_LE(sy + k.ch, H);
            // Coordinates are now relative to the crop's top-left corner.
            EXPECT_NEAR(sx + res->pupilX, cx, 2);
            EXPECT_NEAR(sy + res->pupilY, k.ly, 2);
            EXPECT_EQ(res->irisX, res->pupilX);
            EXPECT_EQ(res->irisY, res->pupilY);
            EXPECT_EQ(res->irisRadius, W / 20);
            expectCropMatches(f, *buf, k.cw, k.ch, sx, sy);
        }
        (void)c;
    }
}

TEST(IrisImages, CropEdgesClampExactly) {
    // With the pupil far enough to the side the clamp gives exactly 0 or
    // W - cropWidth, whatever the measured centre.
    auto area = std::make_unique<EyeSearchArea>();
    GreyFrame f(640, 180, 175);
    f.drawEye({100, 55, 8, 32});
    f.drawEye({560, 125, 8, 32});
    CropBuffer left(320, 120), right(320, 120);
    Request rq(f, 320, 120, &left, &right);
    ASSERT_EQ(GetDualIrisImages(*area, rq.record, nullptr), 0);
    EXPECT_EQ(rq.record.leftResult.originX, 0);
    EXPECT_EQ(rq.record.leftResult.originY, 0);
    EXPECT_EQ(rq.record.rightResult.originX, 640 - 320);
    EXPECT_EQ(rq.record.rightResult.originY, 180 - 120);
}

// A crop that cannot lie inside the frame is refused before anything is
// searched or copied.
TEST(IrisImages, CropsThatDoNotFitAreRefused) {
    auto area = std::make_unique<EyeSearchArea>();
    GreyFrame f(640, 180, 175);
    f.drawEye({160, 90, 10, 32});
    f.drawEye({480, 90, 10, 32});
    const int crops[][2] = {{641, 100}, {100, 181}, {0, 100}, {100, 0}, {-4, 100}, {100, -1}, {700, 200}};
    for (auto &cr : crops) {
        SCOPED_TRACE(::testing::Message() << cr[0] << "x" << cr[1]);
        CropBuffer left(64, 64), right(64, 64);  // untouched if refused
        Request rq(f, cr[0], cr[1], &left, &right);
        EXPECT_EQ(GetDualIrisImages(*area, rq.record, nullptr), 1);
        EXPECT_EQ(rq.record.leftResult.notFound, 1);
        EXPECT_EQ(rq.record.rightResult.notFound, 1);
        EXPECT_TRUE(left.untouched());
        EXPECT_TRUE(right.untouched());
    }
    // No frame at all.
    CropBuffer left(64, 64);
    Request rq(f, 64, 64, &left, nullptr);
    rq.record.image = nullptr;
    EXPECT_EQ(GetDualIrisImages(*area, rq.record, nullptr), 1);
    EXPECT_TRUE(left.untouched());
}

TEST(IrisImages, OnlyTheRightPupil) {
    auto area = std::make_unique<EyeSearchArea>();
    GreyFrame f(640, 180, 175);
    f.drawEye({480, 90, 10, 32});
    CropBuffer left(128, 96), right(128, 96);
    Request rq(f, 128, 96, &left, &right);
    rq.record.leftResult.originX = 9;
    rq.record.leftResult.pupilX = 8;
    rq.record.leftResult.pupilY = 7;
    rq.record.reserved = 0x1234567;
    EXPECT_EQ(GetDualIrisImages(*area, rq.record, nullptr), 0);
    EXPECT_EQ(rq.record.rightResult.notFound, 0);
    EXPECT_EQ(rq.record.leftResult.notFound, 1);
    EXPECT_EQ(rq.record.leftResult.originX, 9);
    EXPECT_EQ(rq.record.leftResult.pupilX, 8);
    EXPECT_EQ(rq.record.leftResult.pupilY, 7);
    EXPECT_EQ(rq.record.reserved, 0x1234567);
    EXPECT_TRUE(left.untouched());
    EXPECT_FALSE(right.untouched());
    EXPECT_TRUE(right.guardIntact());
}

TEST(IrisImages, UnwantedHalvesAreNotSearched) {
    auto area = std::make_unique<EyeSearchArea>();
    GreyFrame f(2560, 720, 175);
    f.drawEye({640, 360, 40, 128});
    f.drawEye({1920, 360, 40, 128});
    Request rq(f, 640, 480, nullptr, nullptr);
    ScriptedRange camera(500, 500);
    EXPECT_EQ(GetDualIrisImages(*area, rq.record, &camera), 1);
    EXPECT_EQ(rq.record.leftResult.notFound, 1);
    EXPECT_EQ(rq.record.rightResult.notFound, 1);
    // The range part of the grade is made for both halves anyway.
    EXPECT_EQ(camera.reads, 2);
    EXPECT_EQ(rq.record.leftResult.rangeScore, 100);
    EXPECT_EQ(rq.record.rightResult.rangeScore, 100);
    EXPECT_EQ(rq.record.leftResult.meanLevel, 0);

    // One half wanted: only that one is searched.
    CropBuffer right(640, 480);
    Request one(f, 640, 480, nullptr, &right);
    EXPECT_EQ(GetDualIrisImages(*area, one.record, &camera), 0);
    EXPECT_EQ(one.record.leftResult.notFound, 1);
    EXPECT_EQ(one.record.rightResult.notFound, 0);
}

TEST(IrisGrading, RangeScore) {
    struct Case {
        int target;
        uint16_t reading;
        bool ok;
        int score;
    } cases[] = {
        {500, 500, true, 100}, {500, 515, true, 70}, {500, 485, true, 70}, {500, 516, true, 52},
        {500, 484, true, 52},  {500, 533, true, 1},  {500, 534, true, 0},  {500, 1000, true, 0},
        {500, 500, false, 0},  // a failed read counts as 0: 500 away
        {10, 0, false, 80},    // ... which is 10 away from a target of 10
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(::testing::Message() << "target " << k.target << " reading " << k.reading);
        EyeResult r{};
        r.notFound = 1;
        ScriptedRange camera(k.target, k.reading, k.ok);
        GradeIris(nullptr, 0, 0, r, &camera);
        EXPECT_EQ(r.rangeScore, k.score);
        EXPECT_EQ(camera.reads, 1);
    }
}

// Image figures over small crops whose histograms are worked out by hand.
TEST(IrisGrading, ImageFigures) {
    struct Fill {
        uint8_t value;
        int count;
    };
    struct Case {
        const char *what;
        std::vector<Fill> fills;  // in this order; total = 20 x 12 = 240 pixels
        int saturated, mean, contrast, spread;
    } cases[] = {
        // Nothing between 8 and 248: contrast (0 - 255) * 100 / 255 * 48 / 100, lo and hi both 0.
        {"all black", {{0, 240}}, 0, 0, -48, 248},
        {"black and white", {{0, 120}, {255, 120}}, 50, 127, -48, 248},
        // Only 10 counts: min = max = 10, t = 20, lo = 10, hi none -> 248.
        {"white and 10", {{255, 120}, {10, 120}}, 50, 132, 0, 238},
        // 40 and 200 (120 and 115), 60 (5 <= t = 10): lo 40, hi 200;
        // contrast 160 * 100 / 255 = 62, * 48 / 100 = 29.
        {"two levels", {{40, 120}, {200, 115}, {60, 5}}, 0, (40 * 120 + 200 * 115 + 60 * 5) / 240, 29, 160},
        // lo above 100 becomes 20; hi below 156 becomes 248.
        {"mid only", {{120, 200}, {150, 40}}, 0, (120 * 200 + 150 * 40) / 240, (30 * 100 / 255) * 48 / 100, 228},
        // 251 counts as saturated but not in the histogram; 250 is neither.
        {"near white", {{251, 24}, {250, 216}}, 10, (251 * 24 + 250 * 216) / 240, -48, 248},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        std::vector<uint8_t> image;
        for (const Fill &f : k.fills) image.insert(image.end(), f.count, f.value);
        ASSERT_EQ(image.size(), 240u);
        EyeResult r{};
        r.notFound = 0;
        r.reserved = 99;
        ScriptedRange camera(500, 500);
        GradeIris(image.data(), 20, 12, r, &camera);
        EXPECT_EQ(r.rangeScore, 100);
        EXPECT_EQ(r.saturatedPercent, k.saturated);
        EXPECT_EQ(r.meanLevel, k.mean);
        EXPECT_EQ(r.contrast, k.contrast);
        EXPECT_EQ(r.spread, k.spread);
        EXPECT_EQ(r.reserved, 0);
    }
    // A half that was not found gets only its range score.
    std::vector<uint8_t> image(240, 200);
    EyeResult r{};
    r.notFound = 1;
    ScriptedRange camera(500, 505);
    GradeIris(image.data(), 20, 12, r, &camera);
    EXPECT_EQ(r.rangeScore, 90);
    EXPECT_EQ(r.meanLevel, 0);
    EXPECT_EQ(r.spread, 0);
}

// The export grades the cut-out image, not the frame: the mean level is
// the crop's own mean.
TEST(IrisGrading, GradesTheCropOn2560WideFrames) {
    auto area = std::make_unique<EyeSearchArea>();
    GreyFrame f(2560, 720, 175);
    paintPattern(f);
    f.drawEye({640, 360, 40, 128});
    f.drawEye({1900, 330, 50, 128});
    CropBuffer left(640, 480), right(640, 480);
    Request rq(f, 640, 480, &left, &right);
    ScriptedRange camera(500, 510);
    ASSERT_EQ(GetDualIrisImages(*area, rq.record, &camera), 0);
    for (auto [res, buf] : {std::pair{&rq.record.leftResult, &left}, std::pair{&rq.record.rightResult, &right}}) {
        ASSERT_EQ(res->notFound, 0);
        int64_t sum = 0;
        for (size_t i = 0; i < buf->bytes; ++i) sum += buf->data[i];
        EXPECT_EQ(res->meanLevel, sum / static_cast<int64_t>(buf->bytes));
        EXPECT_EQ(res->rangeScore, 80);
        EXPECT_GT(res->spread, 0);
        EXPECT_GT(res->contrast, 0);
    }
}

}  // namespace
}  // namespace ix::eyes
