#include "library/codec/quarter_turn.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

namespace {

constexpr uint8_t kGuardByte = 0xA5;
constexpr size_t kGuardBytes = 32;

std::vector<uint8_t> turnGuarded(const std::vector<uint8_t> &src, int32_t w, int32_t h, int32_t bpp,
                                 int32_t rotation, int32_t *result = nullptr) {
    const size_t size = size_t(w) * size_t(h) * size_t(bpp);
    std::vector<uint8_t> out(size + kGuardBytes, 0xEE);
    std::memset(out.data() + size, kGuardByte, kGuardBytes);
    const int32_t r = ix::codec::QuarterTurn(out.data(), src.data(), w, h, bpp, rotation);
    if (result)
        *result = r;
    else
        EXPECT_EQ(r, 0);
    for (size_t i = 0; i < kGuardBytes; ++i)
        EXPECT_EQ(out[size + i], kGuardByte) << "guard byte " << i;
    out.resize(size);
    return out;
}

// The source holds w = 3 rows of h = 2 pixels, the destination h = 2 rows of
// w = 3 pixels. Source pixel (row k, position n) is labelled 10k + n.
//   source rows: [00 01] [10 11] [20 21]
// 90:  (k, n) -> row h-1-n, position k:     [01 11 21] [00 10 20]
// 270: (k, n) -> row n, position w-1-k:     [20 10 00] [21 11 01]
TEST(QuarterTurn, MovesPixelsAsTheTableSays) {
    const std::vector<uint8_t> src{0, 1, 10, 11, 20, 21};
    EXPECT_EQ(turnGuarded(src, 3, 2, 1, 90), (std::vector<uint8_t>{1, 11, 21, 0, 10, 20}));
    EXPECT_EQ(turnGuarded(src, 3, 2, 1, 270), (std::vector<uint8_t>{20, 10, 0, 21, 11, 1}));
}

// Multi-byte pixels move whole, keeping their byte order.
TEST(QuarterTurn, MovesWholePixels) {
    // 24-bit: w = 2 rows of h = 1 pixel each: A = 1 2 3, B = 4 5 6.
    const std::vector<uint8_t> src{1, 2, 3, 4, 5, 6};
    // 90: (0,0) -> row 0 pos 0, (1,0) -> row 0 pos 1.  270: (0,0) -> pos 1, (1,0) -> pos 0.
    EXPECT_EQ(turnGuarded(src, 2, 1, 3, 90), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(turnGuarded(src, 2, 1, 3, 270), (std::vector<uint8_t>{4, 5, 6, 1, 2, 3}));
}

// A turn by 90 undone by a turn by 270 over the swapped extents gives the
// source back, for every pixel size and odd or even extents; the two turns
// differ from each other whenever the image is not trivial.
TEST(QuarterTurn, NinetyThenTwoSeventyIsIdentity) {
    const std::pair<int32_t, int32_t> extents[] = {{1, 1}, {1, 7}, {7, 1}, {3, 5}, {16, 9}, {33, 20}, {64, 48}};
    for (int32_t bpp : {1, 2, 3, 4})
        for (auto [w, h] : extents) {
            SCOPED_TRACE(std::to_string(bpp) + " bytes, " + std::to_string(w) + " x " + std::to_string(h));
            std::vector<uint8_t> src(size_t(w) * h * bpp);
            std::iota(src.begin(), src.end(), uint8_t(1));
            const auto turned = turnGuarded(src, w, h, bpp, 90);
            // The turned image is h rows of w pixels: as a source it has "w" = h rows.
            EXPECT_EQ(turnGuarded(turned, h, w, bpp, 270), src);
            if (w > 1 && h > 1) {
                EXPECT_NE(turned, turnGuarded(src, w, h, bpp, 270));
            }
        }
}

TEST(QuarterTurn, RefusesWhatItCannotTurn) {
    const std::vector<uint8_t> src(64, 7);
    struct Case {
        int32_t w, h, bpp, rotation;
    } cases[] = {
        {4, 4, 1, 0}, {4, 4, 1, 180}, {4, 4, 1, 45}, {4, 4, 1, 360}, {4, 4, 0, 90}, {4, 4, 5, 270}, {4, 4, -1, 90},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> out(256, 0xEE);
        EXPECT_EQ(ix::codec::QuarterTurn(out.data(), src.data(), c.w, c.h, c.bpp, c.rotation), 1)
            << c.w << " " << c.h << " " << c.bpp << " " << c.rotation;
        EXPECT_EQ(out, std::vector<uint8_t>(256, 0xEE)) << "destination written on refusal";
    }
    EXPECT_EQ(ix::codec::QuarterTurn(nullptr, src.data(), 2, 2, 1, 90), 1);
    EXPECT_EQ(ix::codec::QuarterTurn(nullptr, nullptr, 0, 5, 1, 90), 0); // nothing to move
    EXPECT_EQ(ix::codec::QuarterTurn(nullptr, nullptr, -1, 5, 1, 90), 1);
}

} // namespace
