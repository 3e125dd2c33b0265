// Overlay marks: the circle primitive, the pupil markers with their edge
// rule, the locator's circles and box, and that nothing lands outside the
// frame.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "overlay.h"

namespace ix::eyes {
namespace {

int bytesPerPixel(int format) { return format == IX_FORMAT_BGR24 ? 3 : format == IX_FORMAT_RGB565 ? 2 : 1; }

// A bottom-up frame with guard regions before and after.
class Canvas {
public:
    Canvas(int w, int h, int format, uint8_t fill = 0x77)
        : w_(w), h_(h), bpp_(bytesPerPixel(format)), format_(format),
          bytes_(kGuard * 2 + static_cast<size_t>(w) * h * bytesPerPixel(format), fill), fill_(fill) {
        for (size_t i = 0; i < kGuard; ++i) bytes_[i] = bytes_[bytes_.size() - 1 - i] = kGuardByte;
    }
    uint8_t *frame() { return bytes_.data() + kGuard; }
    int format() const { return format_; }
    // The pixel's bytes at (column x, image row y).
    std::vector<uint8_t> pixel(int x, int y) const {
        const uint8_t *p = bytes_.data() + kGuard + (static_cast<size_t>(h_ - 1 - y) * w_ + x) * bpp_;
        return std::vector<uint8_t>(p, p + bpp_);
    }
    bool untouched(int x, int y) const {
        for (uint8_t b : pixel(x, y))
            if (b != fill_) return false;
        return true;
    }
    std::set<std::pair<int, int>> changed() const {
        std::set<std::pair<int, int>> out;
        for (int y = 0; y < h_; ++y)
            for (int x = 0; x < w_; ++x)
                if (!untouched(x, y)) out.insert({x, y});
        return out;
    }
    bool guardsIntact() const {
        for (size_t i = 0; i < kGuard; ++i)
            if (bytes_[i] != kGuardByte || bytes_[bytes_.size() - 1 - i] != kGuardByte) return false;
        return true;
    }

private:
    static constexpr size_t kGuard = 96;
    static constexpr uint8_t kGuardByte = 0xE3;
    int w_, h_, bpp_, format_;
    std::vector<uint8_t> bytes_;
    uint8_t fill_;
};

std::vector<uint8_t> colourBytes(const OverlayColour &c, int format) {
    if (format == IX_FORMAT_BGR24) return {c.blue, c.green, c.red};
    if (format == IX_FORMAT_RGB565) return {static_cast<uint8_t>(c.rgb565 & 0xFF), static_cast<uint8_t>(c.rgb565 >> 8)};
    return {c.grey};
}

TEST(OverlayCircle, MidpointShapeOfRadius3) {
    // Worked by hand from the midpoint rule: passes i = 0, 1, 2 with r = 3, 3, 2.
    const char *expected[] = {
        "..###..",
        ".#...#.",
        "#.....#",
        "#..+..#",  // '+' the centre, not drawn
        "#.....#",
        ".#...#.",
        "..###..",
    };
    // (the row above is the picture's top)
    Canvas cv(20, 20, IX_FORMAT_GREY8, 200);
    DrawCircle(cv.frame(), 20, 20, IX_FORMAT_GREY8, 10, 10, 3, kInRangeColour, false);
    for (int dy = -3; dy <= 3; ++dy)
        for (int dx = -3; dx <= 3; ++dx) {
            const bool set = expected[dy + 3][dx + 3] == '#';
            EXPECT_EQ(!cv.untouched(10 + dx, 10 + dy), set) << dx << "," << dy;
        }
    EXPECT_EQ(cv.changed().size(), 16u);
    // Row 10 - 3 is the picture's upper side: image row 7 is stored row 12.
    EXPECT_EQ(cv.pixel(10, 7)[0], 0);
}

TEST(OverlayCircle, RadiusZeroIsTheCentreOnly) {
    Canvas cv(9, 9, IX_FORMAT_BGR24);
    DrawCircle(cv.frame(), 9, 9, IX_FORMAT_BGR24, 4, 4, 0, kRangeHighColour, false);
    EXPECT_EQ(cv.changed(), (std::set<std::pair<int, int>>{{4, 4}}));
    EXPECT_EQ(cv.pixel(4, 4), (std::vector<uint8_t>{255, 0, 0}));
}

TEST(OverlayCircle, DashesInGrey) {
    // r0 = 16: dashes of 2 passes. Passes 0, 1 on; 2, 3 off; 4, 5 on. The
    // radius is still 16 during passes 0 to 4 (d = -15, -12, -7, 0, 9).
    Canvas cv(64, 64, IX_FORMAT_GREY8, 200);
    DrawCircle(cv.frame(), 64, 64, IX_FORMAT_GREY8, 32, 32, 16, kInRangeColour, true);
    EXPECT_FALSE(cv.untouched(48, 32));  // pass 0
    EXPECT_FALSE(cv.untouched(48, 33));  // pass 1
    EXPECT_TRUE(cv.untouched(48, 34));   // pass 2
    EXPECT_TRUE(cv.untouched(48, 35));   // pass 3
    EXPECT_FALSE(cv.untouched(48, 36));  // pass 4
    EXPECT_FALSE(cv.untouched(16, 28));  // pass 4, mirrored
    Canvas solid(64, 64, IX_FORMAT_GREY8, 200);
    DrawCircle(solid.frame(), 64, 64, IX_FORMAT_GREY8, 32, 32, 16, kInRangeColour, false);
    EXPECT_LT(cv.changed().size(), solid.changed().size());
    for (auto p : cv.changed()) EXPECT_TRUE(solid.changed().count(p)) << "dash pixel off the circle";

    // Below 8 the pen flips every pass: radius 3 keeps passes 0 and 2.
    Canvas small(20, 20, IX_FORMAT_GREY8, 200);
    DrawCircle(small.frame(), 20, 20, IX_FORMAT_GREY8, 10, 10, 3, kInRangeColour, true);
    EXPECT_FALSE(small.untouched(13, 10));
    EXPECT_TRUE(small.untouched(13, 11));
    EXPECT_FALSE(small.untouched(12, 12));
    EXPECT_EQ(small.changed().size(), 8u);

    // The dashed form exists only in grey.
    Canvas colour(64, 64, IX_FORMAT_BGR24);
    DrawCircle(colour.frame(), 64, 64, IX_FORMAT_BGR24, 32, 32, 16, kInRangeColour, true);
    EXPECT_EQ(colour.changed().size(), solid.changed().size());
}

TEST(OverlayCircle, ClippedAtEveryEdge) {
    struct Case {
        int x, y, r;
    } cases[] = {{0, 0, 10}, {39, 29, 10}, {-5, 15, 8}, {45, 15, 8}, {20, -3, 5}, {20, 33, 5},
                 {20, 15, 100}, {-1000000, 5, 1000001}, {2147483647, 2147483647, 65535}, {5, 5, -3}};
    for (int format : {IX_FORMAT_BGR24, IX_FORMAT_RGB565, IX_FORMAT_GREY8}) {
        for (const Case &k : cases) {
            SCOPED_TRACE(::testing::Message() << "format " << format << " at " << k.x << "," << k.y << " r " << k.r);
            Canvas cv(40, 30, format);
            DrawCircle(cv.frame(), 40, 30, format, k.x, k.y, k.r, kRangeLowColour, false);
            EXPECT_TRUE(cv.guardsIntact());
        }
    }
    // A circle half off the frame still draws its visible part.
    Canvas cv(40, 30, IX_FORMAT_GREY8);
    DrawCircle(cv.frame(), 40, 30, IX_FORMAT_GREY8, 0, 15, 10, kRangeLowColour, false);
    EXPECT_FALSE(cv.untouched(10, 15));
    EXPECT_FALSE(cv.untouched(0, 5));
}

EyeResult foundEye(int x, int y, int irisRadius) {
    EyeResult e{};
    e.notFound = 0;
    e.originX = 16;  // coordinates are relative to the origin
    e.originY = 8;
    e.irisX = x - 16;
    e.irisY = y - 8;
    e.pupilX = e.irisX;
    e.pupilY = e.irisY;
    e.irisRadius = irisRadius;
    return e;
}

// An iris radius of 40 gives a marker of radius 50: a cross 100 pixels
// long each way, and a circle that overwrites the cross's far ends.
TEST(OverlayEyeMarker, CrossAndCircleInEachFormat) {
    const int W = 320, H = 200, x = 150, y = 90, m = 50;
    for (int format : {IX_FORMAT_BGR24, IX_FORMAT_RGB565, IX_FORMAT_GREY8}) {
        for (int state : {0, 1, 2}) {
            SCOPED_TRACE(::testing::Message() << "format " << format << " range state " << state);
            Canvas cv(W, H, format);
            DrawEyeMarker(cv.frame(), W, H, foundEye(x, y, 40), format, state);
            const OverlayColour &ring = state == 0 ? kRangeLowColour : state == 1 ? kInRangeColour : kRangeHighColour;
            const auto cross = colourBytes(kCrossColour, format);
            const auto circle = colourBytes(ring, format);
            EXPECT_EQ(cv.pixel(x - m + 1, y), cross);
            EXPECT_EQ(cv.pixel(x + m - 1, y), cross);
            EXPECT_EQ(cv.pixel(x, y), cross);
            EXPECT_EQ(cv.pixel(x, y - m + 1), cross);
            EXPECT_EQ(cv.pixel(x, y + m - 1), cross);
            EXPECT_TRUE(cv.untouched(x + 1, y + 1));
            EXPECT_TRUE(cv.untouched(x + m + 1, y));
            // The circle's four extremes; the cross's ends at x - m and y - m are overwritten.
            EXPECT_EQ(cv.pixel(x - m, y), circle);
            EXPECT_EQ(cv.pixel(x + m, y), circle);
            EXPECT_EQ(cv.pixel(x, y - m), circle);
            EXPECT_EQ(cv.pixel(x, y + m), circle);
            // Nothing outside the marker's square; the guards hold.
            for (auto [px, py] : cv.changed()) {
                EXPECT_LE(std::abs(px - x), m);
                EXPECT_LE(std::abs(py - y), m);
            }
            EXPECT_TRUE(cv.guardsIntact());
            if (format == IX_FORMAT_RGB565 && state == 0) {
                EXPECT_EQ(circle, (std::vector<uint8_t>{0x00, 0xF1}));
            }
        }
    }
}

// Grey frames show the range state by the circle's dashes: dashed black in
// range, solid black otherwise; the cross stays 192.
TEST(OverlayEyeMarker, GreyDashedOnlyInRange) {
    const int W = 320, H = 200;
    size_t counts[3];
    for (int state : {0, 1, 2}) {
        Canvas cv(W, H, IX_FORMAT_GREY8, 128);
        DrawEyeMarker(cv.frame(), W, H, foundEye(150, 90, 40), IX_FORMAT_GREY8, state);
        size_t black = 0;
        for (auto [px, py] : cv.changed()) {
            const uint8_t v = cv.pixel(px, py)[0];
            EXPECT_TRUE(v == 0 || v == 192);
            black += v == 0;
        }
        counts[state] = black;
        EXPECT_EQ(cv.pixel(150, 91)[0], 192);
    }
    EXPECT_EQ(counts[0], counts[2]);
    EXPECT_LT(counts[1], counts[0] * 3 / 4);
    EXPECT_GT(counts[1], counts[0] / 4);
}

// The edge rule: a marker that would touch an edge is not drawn at all.
TEST(OverlayEyeMarker, EdgeRule) {
    const int W = 200, H = 150, m = 25;  // irisRadius 20
    struct Case {
        int x, y;
        bool drawn;
    } cases[] = {
        {m, 75, false},     {m + 1, 75, true},     {W - m, 75, false},    {W - m - 1, 75, true},
        {100, m, false},    {100, m + 1, true},    {100, H - m, false},   {100, H - m - 1, true},
        {-40, 75, false},   {100, 900, false},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(::testing::Message() << k.x << "," << k.y);
        Canvas cv(W, H, IX_FORMAT_BGR24);
        DrawEyeMarker(cv.frame(), W, H, foundEye(k.x, k.y, 20), IX_FORMAT_BGR24, 1);
        EXPECT_EQ(!cv.changed().empty(), k.drawn);
        EXPECT_TRUE(cv.guardsIntact());
    }
    // Not found, or a format without a drawing form: nothing.
    for (auto [found, format] : {std::pair{false, IX_FORMAT_BGR24}, {true, IX_FORMAT_YUY2}, {true, 1}}) {
        Canvas cv(W, H, IX_FORMAT_BGR24);
        EyeResult e = foundEye(100, 75, 20);
        e.notFound = found ? 0 : 1;
        DrawEyeMarker(cv.frame(), W, H, e, format, 1);
        EXPECT_TRUE(cv.changed().empty());
    }
    // Radii whose 5/4 would overflow 32 bits draw nothing and touch nothing.
    Canvas cv(W, H, IX_FORMAT_GREY8);
    DrawEyeMarker(cv.frame(), W, H, foundEye(100, 75, 2000000000), IX_FORMAT_GREY8, 0);
    DrawEyeMarker(cv.frame(), W, H, foundEye(100, 75, -20), IX_FORMAT_GREY8, 0);
    EXPECT_TRUE(cv.changed().empty());
}

LocatorResult marks(int e1x, int e1y, int e2x, int e2y, int nearX, int nearY, int farX, int farY) {
    LocatorResult r{};
    r.found = 1;
    r.eye1X = e1x;
    r.eye1Y = e1y;
    r.eye2X = e2x;
    r.eye2Y = e2y;
    r.boxNearX = nearX;
    r.boxNearY = nearY;
    r.boxFarX = farX;
    r.boxFarY = farY;
    return r;
}

TEST(OverlayLocator, CirclesAtTheEyePoints) {
    const int W = 640, H = 480, r = W / 32;
    // Locator y counts from the bottom: point (200, 300) is image row 180.
    const LocatorResult lr = marks(200, 300, 440, 310, 0, 0, 0, 0);
    for (int status : {1, 2, 4}) {
        Canvas cv(W, H, IX_FORMAT_BGR24);
        DrawLocatorCircles(cv.frame(), W, H, IX_FORMAT_BGR24, lr, status);
        const OverlayColour &c = status == 1 ? kRangeLowColour : status == 2 ? kInRangeColour : kRangeHighColour;
        EXPECT_EQ(cv.pixel(200 + r, 180), colourBytes(c, IX_FORMAT_BGR24));
        EXPECT_EQ(cv.pixel(440, 170 - r), colourBytes(c, IX_FORMAT_BGR24));
        EXPECT_TRUE(cv.untouched(200, 180));
    }
    Canvas grey(W, H, IX_FORMAT_GREY8, 99);
    DrawLocatorCircles(grey.frame(), W, H, IX_FORMAT_GREY8, lr, 2);
    EXPECT_EQ(grey.pixel(200 - r, 180)[0], 0);
    Canvas rgb(W, H, IX_FORMAT_RGB565);
    DrawLocatorCircles(rgb.frame(), W, H, IX_FORMAT_RGB565, lr, 2);
    EXPECT_TRUE(rgb.changed().empty()) << "the locator runs only on formats 2 and 6";
}

TEST(OverlayLocator, Box) {
    const int W = 640, H = 480;
    // Near corner (100, 80), far corner (300, 200): image rows 280 (top) and 400 (bottom).
    const LocatorResult lr = marks(0, 0, 0, 0, 100, 80, 300, 200);
    Canvas cv(W, H, IX_FORMAT_BGR24);
    DrawLocatorBox(cv.frame(), W, H, IX_FORMAT_BGR24, lr, 4);
    const auto blue = colourBytes(kRangeHighColour, IX_FORMAT_BGR24);
    EXPECT_EQ(cv.pixel(100, 280), blue);
    EXPECT_EQ(cv.pixel(299, 280), blue);
    EXPECT_EQ(cv.pixel(150, 400), blue);
    EXPECT_EQ(cv.pixel(300, 280), blue);  // vertical line at the far column
    EXPECT_EQ(cv.pixel(300, 399), blue);
    EXPECT_TRUE(cv.untouched(300, 400));  // verticals stop one row short
    EXPECT_TRUE(cv.untouched(99, 280));
    EXPECT_TRUE(cv.untouched(150, 300));
    EXPECT_EQ(cv.changed().size(), 200u * 2 + 120u * 2 - 1);  // (100, 280) shared by a row and a column

    // Grey frames get no box; boxNearY below 1 means no box.
    Canvas grey(W, H, IX_FORMAT_GREY8);
    DrawLocatorBox(grey.frame(), W, H, IX_FORMAT_GREY8, lr, 4);
    EXPECT_TRUE(grey.changed().empty());
    Canvas none(W, H, IX_FORMAT_BGR24);
    DrawLocatorBox(none.frame(), W, H, IX_FORMAT_BGR24, marks(0, 0, 0, 0, 100, 0, 300, 200), 4);
    EXPECT_TRUE(none.changed().empty());

    // Far corner left of or below the near one: only the other pair of lines.
    Canvas flat(W, H, IX_FORMAT_BGR24);
    DrawLocatorBox(flat.frame(), W, H, IX_FORMAT_BGR24, marks(0, 0, 0, 0, 300, 80, 100, 200), 2);
    for (auto [x, y] : flat.changed()) EXPECT_TRUE(x == 100 || x == 300) << x << "," << y;
    Canvas thin(W, H, IX_FORMAT_BGR24);
    DrawLocatorBox(thin.frame(), W, H, IX_FORMAT_BGR24, marks(0, 0, 0, 0, 100, 200, 300, 80), 2);
    for (auto [x, y] : thin.changed()) EXPECT_TRUE(y == 280 || y == 400) << x << "," << y;
}

// The locator's numbers are not checked against the frame by anyone
// else: marks past any edge are clipped, and wild values cost nothing.
TEST(OverlayLocator, MarksPastTheEdgesAreClipped) {
    const int W = 320, H = 240;
    const LocatorResult cases[] = {
        marks(-5, -5, 330, 250, -50, 1, 400, 300),
        marks(0, 0, 319, 240, 0, 1, 319, 240),
        marks(-2147483647, 2147483647, 2147483647, -2147483647, -2147483647, 1, 2147483647, 2147483647),
    };
    for (const LocatorResult &lr : cases) {
        for (int format : {IX_FORMAT_BGR24, IX_FORMAT_GREY8}) {
            Canvas cv(W, H, format);
            DrawLocatorCircles(cv.frame(), W, H, format, lr, 1);
            DrawLocatorBox(cv.frame(), W, H, format, lr, 1);
            EXPECT_TRUE(cv.guardsIntact());
        }
    }
    // The visible parts of a box larger than the frame are its edges inside it.
    Canvas cv(W, H, IX_FORMAT_BGR24);
    DrawLocatorBox(cv.frame(), W, H, IX_FORMAT_BGR24, marks(0, 0, 0, 0, -50, 10, 400, 300), 1);
    for (int x = 0; x < W; ++x) EXPECT_FALSE(cv.untouched(x, 230)) << x;  // bottom row H - 10
    EXPECT_TRUE(cv.untouched(0, 100));
}

}  // namespace
}  // namespace ix::eyes
