// The dark-pupil search: geometry, the statistics it is built on, the
// candidate order, and finding (or not finding) pupils in drawn frames.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "eye_search.h"
#include "synthetic_eyes.h"

namespace ix::eyes {
namespace {

using test::EyeSpec;
using test::GreyFrame;

std::unique_ptr<EyeSearchArea> newArea() { return std::make_unique<EyeSearchArea>(); }

EyeResult sentinelResult() {
    EyeResult r;
    std::memset(&r, 0, sizeof r);
    r.notFound = 1;
    r.originX = 1111;
    r.originY = 2222;
    r.pupilX = 3333;
    r.pupilY = 4444;
    r.pupilRadius = 55;
    r.irisX = 66;
    r.irisY = 77;
    r.irisRadius = 88;
    r.rangeScore = 99;
    return r;
}

void expectUntouchedExceptFlag(const EyeResult &r) {
    EyeResult expected = sentinelResult();
    EXPECT_EQ(r.notFound, 1);
    EXPECT_EQ(0, std::memcmp(&r.originX, &expected.originX, sizeof(EyeResult) - sizeof(int32_t)))
        << "fields other than notFound changed";
}

TEST(EyeSearchGeometry, SizesTable) {
    struct Case {
        int w, h;
        int usable, c, nx, ny, bx, by;
    } cases[] = {
        {640, 180, 1, 8, 32, 14, 27, 9},
        {1280, 360, 1, 16, 32, 14, 27, 9},
        {2560, 720, 1, 32, 32, 14, 27, 9},
        {2560, 1080, 1, 32, 32, 25, 27, 20},
        {2560, 1471, 1, 32, 32, 37, 27, 32},  // 1184 cells: the tallest that fits
        {2560, 1472, 0, 32, 32, 38, 27, 33},  // 1216 cells
        {640, 480, 0, 8, 32, 52, 27, 47},     // 4:3 needs 1664 cells
        {640, 112, 1, 8, 32, 6, 27, 1},       // one row of blocks
        {640, 111, 0, 8, 32, 5, 27, 0},       // no whole block
        {79, 400, 0, 0, 0, 0, 0, 0},          // cell size 0
        {0, 0, 0, 0, 0, 0, 0, 0},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(::testing::Message() << k.w << "x" << k.h);
        SearchGeometry g;
        ComputeSearchGeometry(k.w, k.h, g);
        EXPECT_EQ(g.usable, k.usable);
        EXPECT_EQ(g.cellSize, k.c);
        if (k.c == 0) continue;
        EXPECT_EQ(g.cellsX, k.nx);
        EXPECT_EQ(g.cellsY, k.ny);
        EXPECT_EQ(g.blocksX, k.bx);
        EXPECT_EQ(g.blocksY, k.by);
        EXPECT_EQ(g.margin, 4 * k.c);
        EXPECT_EQ(g.darkMinimum, 3 * k.c * k.c / 4);
        EXPECT_EQ(g.glintMinimum, k.c / 4);
        EXPECT_EQ(g.glintMaximum, 11 * k.c);
        EXPECT_EQ(g.irisRadius, k.w / 20);
        if (k.usable) {
            EXPECT_EQ(g.cellCount, k.nx * k.ny);
            EXPECT_EQ(g.blockCount, k.bx * k.by);
        }
    }
}

TEST(EyeSearchGeometry, CachedPerFrameSize) {
    auto area = newArea();
    GreyFrame a(640, 180, 170), b(1280, 360, 170);
    ASSERT_EQ(PrepareSearch(*area, a.data(), 640, 180, 320, 180), 0);
    EXPECT_EQ(area->geometry.cellSize, 8);
    // A marker in the cached geometry shows whether the next call recomputed it.
    area->geometry.glintMaximum = -7;
    ASSERT_EQ(PrepareSearch(*area, b.data(), 640, 180, 100, 90), 0);
    EXPECT_EQ(area->geometry.glintMaximum, -7);
    // Frame pointer and crop size are taken over on every call.
    EXPECT_EQ(area->frame, b.data());
    EXPECT_EQ(area->cropWidth, 100);
    EXPECT_EQ(area->cropHeight, 90);
    ASSERT_EQ(PrepareSearch(*area, b.data(), 1280, 360, 640, 360), 0);
    EXPECT_EQ(area->geometry.cellSize, 16);
    EXPECT_EQ(area->geometry.glintMaximum, 176);
    ASSERT_EQ(PrepareSearch(*area, b.data(), 1280, 361, 640, 360), 0);
    EXPECT_EQ(area->height, 361);
}

// The frames the grid cannot hold: nothing is read or written outside the
// frame (exact-size heap buffers, so the address sanitizer sees any stray
// read), and the results only say "not found".
TEST(EyeSearchGeometry, UnsearchableFramesAreRefusedSafely) {
    const int sizes[][2] = {{1, 1}, {79, 400}, {80, 1}, {80, 12}, {160, 20}, {640, 111}, {640, 480},
                            {1280, 960}, {2560, 1472}, {2560, 1920}, {100000, 40}};
    auto area = newArea();
    for (auto &s : sizes) {
        SCOPED_TRACE(::testing::Message() << s[0] << "x" << s[1]);
        std::vector<uint8_t> frame(static_cast<size_t>(s[0]) * s[1], 20);
        EyeResult left = sentinelResult(), right = sentinelResult();
        left.notFound = right.notFound = 0;
        SearchBothHalves(*area, frame.data(), s[0], s[1], s[0] / 2, s[1], left, right);
        expectUntouchedExceptFlag(left);
        expectUntouchedExceptFlag(right);
        EXPECT_EQ(area->geometry.usable, 0);
        EXPECT_EQ(PrepareSearch(*area, frame.data(), s[0], s[1], 0, 0), 1);
        EyeResult probe = sentinelResult();
        EXPECT_EQ(SearchHalf(*area, 0, 0, probe), 1);
        expectUntouchedExceptFlag(probe);
    }
    // A missing frame is refused too.
    EyeResult left = sentinelResult(), right = sentinelResult();
    SearchBothHalves(*area, nullptr, 640, 180, 320, 180, left, right);
    expectUntouchedExceptFlag(left);
    expectUntouchedExceptFlag(right);
}

// Odd sizes the grid can hold, with busy content: the scans stay inside
// exact-size buffers whatever they find.
TEST(EyeSearchGeometry, OddSearchableSizesStayInsideTheFrame) {
    const int sizes[][2] = {{80, 14}, {159, 24}, {399, 120}, {641, 181}, {1279, 359}, {2561, 1471}, {4000, 700}};
    auto area = newArea();
    std::mt19937 rng(11);
    for (auto &s : sizes) {
        SCOPED_TRACE(::testing::Message() << s[0] << "x" << s[1]);
        std::vector<uint8_t> frame(static_cast<size_t>(s[0]) * s[1]);
        // Dark blobs with bright specks on a mid background: plenty of candidates.
        for (auto &v : frame) v = static_cast<uint8_t>(rng() % 8 == 0 ? 250 : (rng() % 2 ? 10 : 120));
        EyeResult left = sentinelResult(), right = sentinelResult();
        SearchBothHalves(*area, frame.data(), s[0], s[1], s[0] / 2, s[1], left, right);
        ASSERT_EQ(area->geometry.usable, 1);
        for (const EyeResult *e : {&left, &right}) {
            if (e->notFound) continue;
            EXPECT_GE(e->originX + e->pupilX, 0);
            EXPECT_LT(e->originX + e->pupilX, s[0]);
            EXPECT_GE(e->originY + e->pupilY, 0);
            EXPECT_LT(e->originY + e->pupilY, s[1]);
        }
    }
}

TEST(EyeSearchGeometry, WindowOutsideTheFrameIsRefused) {
    auto area = newArea();
    std::vector<uint8_t> frame(640 * 180, 20);
    ASSERT_EQ(PrepareSearch(*area, frame.data(), 640, 180, 320, 180), 0);
    EyeResult r = sentinelResult();
    // The window is 256 x 112; these origins would put it past an edge.
    for (auto [x, y] : {std::pair{-1, 32}, {32, -1}, {385, 32}, {32, 69}}) {
        EXPECT_EQ(SearchHalf(*area, x, y, r), 1);
        expectUntouchedExceptFlag(r);
    }
}

// Every pixel of the window counted once, in its cell's bin; blocks and
// rings summed from cells.
TEST(EyeSearchStatistics, CellsBlocksAndRings) {
    auto area = newArea();
    GreyFrame f(640, 180, 100);  // c = 8, window origin (32, 32)
    // Cell (q, r) has its top-left pixel at (32 + 8q, 32 + 8r).
    auto cellPixel = [](int q, int r, int dx, int dy) { return std::pair{32 + 8 * q + dx, 32 + 8 * r + dy}; };
    // Block (0, 0) covers cells 1..4 x 1..4. Two glint pixels in cell (2, 1)
    // and one in cell (1, 3): the later cell in reading order is the glint cell.
    for (auto [q, r, dx] : {std::tuple{2, 1, 0}, {2, 1, 1}, {1, 3, 0}}) {
        auto [x, y] = cellPixel(q, r, dx, 0);
        f.at(x, y) = 250;
    }
    // Ten dark pixels (50) and five mid (150) in cell (4, 4).
    for (int i = 0; i < 10; ++i) {
        auto [x, y] = cellPixel(4, 4, i % 8, i / 8);
        f.at(x, y) = 50;
    }
    for (int i = 0; i < 5; ++i) {
        auto [x, y] = cellPixel(4, 4, i, 5);
        f.at(x, y) = 150;
    }
    ASSERT_EQ(PrepareSearch(*area, f.data(), 640, 180, 320, 180), 0);
    area->originX = 32;
    area->originY = 32;
    ComputeCellStatistics(*area);
    ComputeBlockStatistics(*area);
    ComputeRingStatistics(*area);

    const SearchCell &cell = area->cells[1 * 32 + 2];
    EXPECT_EQ(cell.x0, 48);
    EXPECT_EQ(cell.y0, 40);
    EXPECT_EQ(cell.column, 2);
    EXPECT_EQ(cell.row, 1);
    EXPECT_EQ(cell.bins[15].count, 2);
    EXPECT_EQ(cell.bins[15].sum, 500);
    EXPECT_EQ(cell.bins[6].count, 62);  // 100 / 16 = 6
    EXPECT_EQ(cell.bins[6].sum, 6200);

    const SearchBlock &b = area->blocks[0];
    EXPECT_EQ(b.x0, 40);
    EXPECT_EQ(b.y0, 40);
    EXPECT_EQ(b.column, 1);
    EXPECT_EQ(b.row, 1);
    EXPECT_EQ(b.bins[15].count, 3);
    EXPECT_EQ(b.glintColumn, 1);
    EXPECT_EQ(b.glintRow, 3);
    EXPECT_EQ(b.darkCount, 10);
    EXPECT_EQ(b.darkSum, 500);
    EXPECT_EQ(b.darkMean, 50);
    EXPECT_EQ(b.midCount, 5);
    EXPECT_EQ(b.count, 1024 - 3);
    EXPECT_EQ(b.sum, (1024 - 18) * 100 + 500 + 750);
    EXPECT_EQ(b.mean, b.sum / b.count);
    EXPECT_EQ(b.bins[0].mean, 255);  // empty bin
    EXPECT_EQ(b.bins[3].count, 10);
    EXPECT_EQ(b.bins[3].mean, 50);

    // Ring of block (0, 0): cells columns 0..5, rows 0..5 minus the block.
    // The glint pixels are inside the block, so no ring region sees them.
    for (int side = 0; side < 4; ++side) {
        EXPECT_EQ(b.ring[side].count, 6 * 64);
        EXPECT_EQ(b.ring[side].topCount, 0);
        EXPECT_EQ(b.ring[side].mean, 100);
    }
    EXPECT_EQ(b.ring[kRingLeft].column, 0);
    EXPECT_EQ(b.ring[kRingTop].column, 0);
    EXPECT_EQ(b.ring[kRingRight].column, 5);
    EXPECT_EQ(b.ring[kRingRight].row, 0);
    EXPECT_EQ(b.ring[kRingBottom].row, 5);
    EXPECT_EQ(b.ring[kRingBottom].x0, 32);
    EXPECT_EQ(b.ring[kRingBottom].y0, 72);
    // Block (1, 0) has cell (1, *) in its left ring region: glint pixel of cell (1, 3).
    EXPECT_EQ(area->blocks[1].ring[kRingLeft].topCount, 1);
    // Block (0, 2) (cells rows 3..6): cell (2, 1) is in its top ring row? No:
    // its ring rows are 2..7, so only the glint of (1, 3) is inside the block.
    EXPECT_EQ(area->blocks[2 * 27].bins[15].count, 1);
}

TEST(EyeSearchCandidates, ExchangeSortOrdersEqualKeysItsOwnWay) {
    // Keys 5, 3, 5, 1 for blocks 10, 11, 12, 13. Worked through by hand:
    // j=1 swaps positions 0/1; j=3 swaps 3/0 then 3/1 -> 13, 11, 12, 10.
    PupilCandidate c[4] = {{10, 5, 0}, {11, 3, 0}, {12, 5, 0}, {13, 1, 0}};
    SortCandidates(c, 4);
    const int expected[4] = {13, 11, 12, 10};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(c[i].block, expected[i]) << "position " << i;
    // The two blocks of key 5 came out in the reverse of their scan order.

    PupilCandidate many[16];
    std::mt19937 rng(7);
    for (int i = 0; i < 16; ++i) many[i] = {i, static_cast<int32_t>(rng() % 40), 0};
    SortCandidates(many, 16);
    for (int i = 1; i < 16; ++i) EXPECT_LE(many[i - 1].darkMean, many[i].darkMean);
}

struct Drawn {
    int width, height;
    double pupilFraction;  // pupil radius as a fraction of W
    int dx, dy;            // offset of the left eye from the middle of its half, in cells
    uint8_t pupil, iris, background;
};

// Frames drawn with known pupil centres, across the three sizes and
// taller ones, in varied positions, sizes and brightness. Pupil radii run
// from 0.9 % to 2.8 % of W (0.7 to 2.2 cells): a wider pupil no longer fits
// between a block's left edge and the end of the right-edge scan (5 cells)
// at every grid phase. The measured
// centre is (xL + w/2 + 1, yT + h/2) from the dark-run edges, which for a
// drawn disc lands within a pixel of the true centre; 2 pixels is allowed.
TEST(EyeSearchFindsPupils, DrawnFrames) {
    const int kTolerance = 2;
    auto area = newArea();
    std::vector<Drawn> cases;
    const int sizes[][2] = {{640, 180}, {1280, 360}, {2560, 720}, {2560, 1080}, {2560, 1471}};
    const double fractions[] = {0.009, 0.016, 0.022, 0.028};
    const uint8_t levels[][3] = {{5, 100, 150}, {25, 110, 175}, {45, 125, 200}, {70, 130, 160}};
    int k = 0;
    for (auto &s : sizes)
        for (double fr : fractions)
            for (auto &lv : levels) {
                ++k;
                cases.push_back({s[0], s[1], fr, (k % 5) - 2, (k % 3) - 1, lv[0], lv[1], lv[2]});
            }
    for (const Drawn &d : cases) {
        const int W = d.width, H = d.height, c = W / 80;
        const int pupilR = static_cast<int>(d.pupilFraction * W);
        const int lx = W / 4 + d.dx * c, rx = W - W / 4 - d.dx * c + c / 2;
        const int ly = H / 2 + d.dy * c, ry = H / 2 - d.dy * c;
        SCOPED_TRACE(::testing::Message() << W << "x" << H << " pupil r " << pupilR << " levels "
                                          << int(d.pupil) << "/" << int(d.iris) << "/" << int(d.background));
        GreyFrame f(W, H, d.background);
        EyeSpec left{lx, ly, pupilR, W / 20, d.pupil, d.iris};
        EyeSpec right{rx, ry, pupilR, W / 20, d.pupil, d.iris};
        right.glintDx = pupilR / 3;
        right.glintDy = -pupilR / 4;
        f.drawEye(left);
        f.drawEye(right);
        f.addNoise(4, static_cast<uint32_t>(W + H + pupilR));
        EyeResult l = sentinelResult(), r = sentinelResult();
        SearchBothHalves(*area, f.data(), W, H, W / 2, H, l, r);
        ASSERT_EQ(l.notFound, 0);
        ASSERT_EQ(r.notFound, 0);
        EXPECT_EQ(l.originX, 4 * c);
        EXPECT_EQ(l.originY, 4 * c);
        EXPECT_EQ(r.originX, W / 2 + 4 * c);
        EXPECT_EQ(r.originY, 4 * c);
        EXPECT_NEAR(l.originX + l.pupilX, lx, kTolerance);
        EXPECT_NEAR(l.originY + l.pupilY, ly, kTolerance);
        EXPECT_NEAR(r.originX + r.pupilX, rx, kTolerance);
        EXPECT_NEAR(r.originY + r.pupilY, ry, kTolerance);
        EXPECT_NEAR(l.pupilRadius, pupilR + 2, 1);  // half of (diameter + 1 edge column) + 1
        for (const EyeResult *e : {&l, &r}) {
            EXPECT_EQ(e->irisX, e->pupilX);
            EXPECT_EQ(e->irisY, e->pupilY);
            EXPECT_EQ(e->irisRadius, W / 20);
            EXPECT_EQ(e->rangeScore, 99) << "the search writes only the first nine fields";
        }
        EXPECT_TRUE(f.guardIntact());
    }
}

// Frames with no pupil: each fails a different candidate test.
TEST(EyeSearchFindsPupils, NoPupilNoResult) {
    auto area = newArea();
    struct Scene {
        const char *what;
        int width, height;
        void (*draw)(GreyFrame &);
    } scenes[] = {
        {"plain skin", 640, 180, [](GreyFrame &) {}},
        {"uniformly dark (no glint)", 640, 180, [](GreyFrame &f) { f.fillRect(0, 0, 640, 180, 20); }},
        {"uniformly dark 2560", 2560, 720, [](GreyFrame &f) { f.fillRect(0, 0, 2560, 720, 20); }},
        {"dark discs without glints", 1280, 360,
         [](GreyFrame &f) {
             f.fillDisc(320, 180, 70, 110);
             f.fillDisc(320, 180, 30, 20);
             f.fillDisc(960, 180, 30, 20);
         }},
        {"glints without dark discs", 1280, 360,
         [](GreyFrame &f) {
             f.fillRect(318, 178, 3, 3, 252);
             f.fillRect(958, 178, 3, 3, 252);
         }},
        {"pupil under a wide bright reflection (too many top pixels)", 640, 180,
         [](GreyFrame &f) {
             f.drawEye({160, 90, 12, 32});
             f.fillRect(150, 82, 20, 16, 252);
             f.drawEye({480, 90, 12, 32});
             f.fillRect(470, 82, 20, 16, 252);
         }},
        {"dark disc on a mid-grey patch (too many mid pixels)", 640, 180,
         [](GreyFrame &f) {
             f.fillDisc(160, 90, 6, 20);
             f.fillRect(159, 89, 3, 3, 252);
         }},
        {"random noise", 1280, 360,
         [](GreyFrame &f) { f.addNoise(120, 3); }},
    };
    for (const Scene &s : scenes) {
        SCOPED_TRACE(s.what);
        GreyFrame f(s.width, s.height, 175);
        s.draw(f);
        EyeResult l = sentinelResult(), r = sentinelResult();
        l.notFound = r.notFound = 0;
        SearchBothHalves(*area, f.data(), s.width, s.height, s.width / 2, s.height, l, r);
        expectUntouchedExceptFlag(l);
        expectUntouchedExceptFlag(r);
    }
}

// A darker distractor the measurement cannot close (a dark band wider than
// the scan span, with a glint) comes first in the order; the real pupil
// behind it is still found.
TEST(EyeSearchFindsPupils, FailedCandidateFallsThroughToTheNext) {
    auto area = newArea();
    GreyFrame f(640, 180, 175);
    // Dark band from the frame's left edge to column 80, rows 32..143: its
    // glint in window cell column 1 gives only a few candidate blocks.
    f.fillRect(0, 32, 80, 112, 8);
    f.fillRect(42, 60, 3, 3, 252);
    f.drawEye({200, 90, 12, 32, 40, 110});
    ASSERT_EQ(PrepareSearch(*area, f.data(), 640, 180, 320, 180), 0);
    EyeResult r = sentinelResult();
    ASSERT_EQ(SearchHalf(*area, 32, 32, r), 0);
    ASSERT_GE(area->candidateCount, 2);
    EXPECT_LT(area->candidates[0].darkMean, 40) << "the band is darker and measured first";
    EXPECT_EQ(MeasurePupil(*area, area->candidates[0], r), 1);
    EXPECT_NEAR(r.originX + r.pupilX, 200, 2);
    EXPECT_NEAR(r.originY + r.pupilY, 90, 2);
}

// Sixteen candidates that all fail: the list is full, the real pupil
// further down never becomes a candidate, and the half has no result.
TEST(EyeSearchFindsPupils, SixteenFailingCandidatesMeanNotFound) {
    auto area = newArea();
    const int W = 640, H = 320;  // c = 8, 32 x 32 cells
    GreyFrame f(W, H, 175);
    // A wide dark square whose one glint lies inside one cell: all sixteen
    // blocks holding that cell pass the tests and none can be measured.
    f.fillRect(40, 40, 120, 100, 8);
    f.fillRect(96 + 2, 72 + 2, 3, 3, 252);  // inside cell (8, 5), whose top-left is (96, 72)
    f.drawEye({180, 250, 12, 32});
    EyeResult r = sentinelResult();
    ASSERT_EQ(PrepareSearch(*area, f.data(), W, H, W / 2, H), 0);
    EXPECT_EQ(SearchHalf(*area, 32, 32, r), 1);
    EXPECT_EQ(area->candidateCount, 16);
    expectUntouchedExceptFlag(r);

    // Without the square the same pupil is found.
    GreyFrame g(W, H, 175);
    g.drawEye({180, 250, 12, 32});
    ASSERT_EQ(PrepareSearch(*area, g.data(), W, H, W / 2, H), 0);
    EXPECT_EQ(SearchHalf(*area, 32, 32, r), 0);
    EXPECT_NEAR(r.originX + r.pupilX, 180, 2);
}

// Below 320 pixels the glint minimum is 0. A dark block without any glint
// pixel then has no glint cell and is not taken for a pupil; the same
// block with a glint is.
TEST(EyeSearchCandidates, NarrowFramesNeedAGlint) {
    auto area = newArea();
    const int W = 240, H = 120;  // c = 3, glint minimum 0
    GreyFrame f(W, H, 120);      // below the mid-grey class, so only the glint rule can refuse
    f.fillDisc(60, 50, 6, 20);
    ASSERT_EQ(PrepareSearch(*area, f.data(), W, H, W / 2, H), 0);
    ASSERT_EQ(area->geometry.glintMinimum, 0);
    area->originX = LeftOriginX(*area);
    area->originY = WindowOriginY(*area);
    ComputeCellStatistics(*area);
    ComputeBlockStatistics(*area);
    ComputeRingStatistics(*area);
    SelectCandidates(*area);
    EXPECT_EQ(area->candidateCount, 0);

    f.at(60, 50) = 250;
    ComputeCellStatistics(*area);
    ComputeBlockStatistics(*area);
    ComputeRingStatistics(*area);
    SelectCandidates(*area);
    EXPECT_GT(area->candidateCount, 0);
    for (int i = 0; i < area->candidateCount; ++i)
        EXPECT_GE(area->blocks[area->candidates[i].block].bins[15].count, 1);
}

// The threshold is the mean of the first dark bin holding more than half a
// cell of pixels; the measurement treats values up to it plus 6 as dark.
TEST(EyeSearchCandidates, ThresholdFollowsThePupilLevel) {
    auto area = newArea();
    for (uint8_t level : {10, 40, 70}) {
        GreyFrame f(640, 180, 175);
        f.drawEye({160, 90, 12, 32, level, 110});
        EyeResult l = sentinelResult(), r = sentinelResult();
        SearchBothHalves(*area, f.data(), 640, 180, 320, 180, l, r);
        ASSERT_EQ(l.notFound, 0);
        // After the right half (nothing there) the candidate list is that half's: search the left again.
        ASSERT_EQ(SearchHalf(*area, 32, 32, l), 0);
        ASSERT_GT(area->candidateCount, 0);
        EXPECT_EQ(area->candidates[0].threshold, level);
        EXPECT_EQ(area->candidates[0].darkMean, level);
        EXPECT_EQ(area->darkThreshold, level + 6);
    }
}

}  // namespace
}  // namespace ix::eyes
