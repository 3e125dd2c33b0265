#include "library/codec/pixel_convert.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using ix::codec::ConvertFn;
using ix::codec::ConverterSet;

constexpr uint8_t kGuardByte = 0xA5;
constexpr size_t kGuardBytes = 64;

struct Format {
    const char *name;
    int32_t code;
    int bytes;
    ConvertFn ConverterSet::*member;
};

const Format kFormats[] = {
    {"bgrx32", 1, 4, &ConverterSet::bgrx32},
    {"bgr24", 2, 3, &ConverterSet::bgr24},
    {"rgb565", 4, 2, &ConverterSet::rgb565},
    {"grey8", 6, 1, &ConverterSet::grey8},
};

// The sets to check: the reference always, the SIMD set where this machine has it.
std::vector<const ConverterSet *> allSets() {
    std::vector<const ConverterSet *> sets{&ix::codec::scalarConverters()};
    if (const ConverterSet *simd = ix::codec::simdConverters())
        sets.push_back(simd);
    return sets;
}

// Runs a converter into a destination of exactly the image's size followed by
// a guard region; the source is a vector of exactly its size, so a read past
// it trips AddressSanitizer. Fails the test when the guard was touched.
std::vector<uint8_t> convertGuarded(ConvertFn fn, int bytes, int32_t width, int32_t height,
                                    const std::vector<uint8_t> &source, uint8_t fill = 0x5A) {
    const size_t size = width > 0 && height > 0 ? size_t(width) * size_t(height) * size_t(bytes) : 0;
    std::vector<uint8_t> out(size + kGuardBytes, fill);
    std::memset(out.data() + size, kGuardByte, kGuardBytes);
    fn(out.data(), width, height, source.empty() ? nullptr : source.data());
    for (size_t i = 0; i < kGuardBytes; ++i)
        if (out[size + i] != kGuardByte) {
            ADD_FAILURE() << "guard byte " << i << " overwritten (" << width << " x " << height << ")";
            break;
        }
    out.resize(size);
    return out;
}

std::vector<uint8_t> randomYuy2(int32_t width, int32_t height, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(size_t(width) * size_t(height) * 2);
    for (auto &b : v)
        b = uint8_t(rng());
    return v;
}

// One pixel pair (Y0 U Y1 V) through every converter, against hand-worked values.
TEST(PixelConvert, KnownColours) {
    struct Case {
        uint8_t y, u, v;
        uint8_t b, g, r;
        uint8_t w565lo, w565hi;
    } cases[] = {
        // Neutral grey: 80 80 80 00, RGB565 0x8410.
        {128, 128, 128, 128, 128, 128, 0x10, 0x84},
        // B overflows and clamps: (261120 + 225298) >> 10 = 475; G = 212; R = 255.
        // RGB565: 31 << 11 | 53 << 5 | 31 = 0xFEBF.
        {255, 255, 128, 255, 212, 255, 0xBF, 0xFE},
        // Negative B and R clamp to 0: G = 135424 >> 10 = 132 -> 33 << 5 = 0x0420.
        {0, 0, 0, 0, 132, 0, 0x20, 0x04},
        // Pure extremes of luminance with neutral chroma.
        {0, 128, 128, 0, 0, 0, 0x00, 0x00},
        {255, 128, 128, 255, 255, 255, 0xFF, 0xFF},
        // Arithmetic shift rounds toward minus infinity: Y = 1, U = 127 gives
        // B = (1024 - 1774) >> 10 = -1 -> 0, G = (1024 + 342) >> 10 = 1, R = 1.
        {1, 127, 128, 0, 1, 1, 0x00, 0x00},
        // Y = 100, U = 200, V = 50: u = 72, v = -78.
        // B = (102400 + 127728) >> 10 = 224; G = (102400 + 55848 - 24624) >> 10 = 130;
        // R = (102400 - 109044) >> 10 = -7 -> 0. RGB565 = 0 | 32 << 5 | 28 = 0x041C.
        {100, 200, 50, 224, 130, 0, 0x1C, 0x04},
    };
    for (const ConverterSet *set : allSets()) {
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(set->name) + " Y=" + std::to_string(c.y) + " U=" + std::to_string(c.u) +
                         " V=" + std::to_string(c.v));
            // Eight pairs so the SIMD body, not only its tail, sees the values.
            std::vector<uint8_t> src;
            for (int p = 0; p < 8; ++p)
                src.insert(src.end(), {c.y, c.u, c.y, c.v});
            const int32_t w = 16;
            auto bgrx = convertGuarded(set->bgrx32, 4, w, 1, src);
            auto bgr = convertGuarded(set->bgr24, 3, w, 1, src);
            auto rgb565 = convertGuarded(set->rgb565, 2, w, 1, src);
            auto grey = convertGuarded(set->grey8, 1, w, 1, src);
            for (int x = 0; x < w; ++x) {
                EXPECT_EQ(std::vector<uint8_t>(bgrx.begin() + 4 * x, bgrx.begin() + 4 * x + 4),
                          (std::vector<uint8_t>{c.b, c.g, c.r, 0}));
                EXPECT_EQ(std::vector<uint8_t>(bgr.begin() + 3 * x, bgr.begin() + 3 * x + 3),
                          (std::vector<uint8_t>{c.b, c.g, c.r}));
                EXPECT_EQ(rgb565[2 * x], c.w565lo);
                EXPECT_EQ(rgb565[2 * x + 1], c.w565hi);
                EXPECT_EQ(grey[x], c.y);
            }
        }
    }
}

// Both pixels of a pair share U and V but keep their own Y, in order.
TEST(PixelConvert, PairSharesChromaKeepsOwnLuma) {
    const std::vector<uint8_t> src{10, 128, 250, 128};
    for (const ConverterSet *set : allSets()) {
        EXPECT_EQ(convertGuarded(set->bgr24, 3, 2, 1, src), (std::vector<uint8_t>{10, 10, 10, 250, 250, 250}));
        EXPECT_EQ(convertGuarded(set->grey8, 1, 2, 1, src), (std::vector<uint8_t>{10, 250}));
    }
}

// Source row 0 becomes the last destination row: a 4 x 2 source gives a first
// destination row made from source row 1.
TEST(PixelConvert, RowsAreWrittenBottomUp) {
    const std::vector<uint8_t> src{
        10, 128, 20, 128, 30, 128, 40, 128, // source row 0
        50, 128, 60, 128, 70, 128, 80, 128, // source row 1
    };
    for (const ConverterSet *set : allSets()) {
        SCOPED_TRACE(set->name);
        EXPECT_EQ(convertGuarded(set->grey8, 1, 4, 2, src), (std::vector<uint8_t>{50, 60, 70, 80, 10, 20, 30, 40}));
        const auto bgrx = convertGuarded(set->bgrx32, 4, 4, 2, src);
        EXPECT_EQ(bgrx[0], 50);
        EXPECT_EQ(bgrx[16], 10);
        const auto bgr = convertGuarded(set->bgr24, 3, 4, 2, src);
        EXPECT_EQ(bgr[0], 50);
        EXPECT_EQ(bgr[12], 10); // 24-bit rows are 3 * width bytes, unpadded
        const auto w565 = convertGuarded(set->rgb565, 2, 4, 2, src);
        // Y = 50 grey: 6 << 11 | 12 << 5 | 6 = 0x3186.
        EXPECT_EQ(w565[0], 0x86);
        EXPECT_EQ(w565[1], 0x31);
    }
}

// Zero or negative extents write nothing at all.
TEST(PixelConvert, EmptyExtentsWriteNothing) {
    const std::vector<uint8_t> src(64, 0x80);
    const std::pair<int32_t, int32_t> extents[] = {{4, 0}, {0, 4}, {-2, 3}, {4, -1}, {INT32_MIN, INT32_MIN}};
    for (const ConverterSet *set : allSets())
        for (const Format &f : kFormats)
            for (auto [w, h] : extents) {
                std::vector<uint8_t> out(kGuardBytes, kGuardByte);
                (set->*f.member)(out.data(), w, h, src.data());
                EXPECT_EQ(out, std::vector<uint8_t>(kGuardBytes, kGuardByte))
                    << set->name << " " << f.name << " " << w << " x " << h;
            }
}

// Every width, odd ones included, fills exactly the destination: no byte of
// the guard is touched and no destination byte is left unwritten (checked by
// converting over two different fills). The lone last pixel of an odd row takes
// the left pair's chrominance; a one-pixel row has none.
TEST(PixelConvert, AnyWidthStaysInsideBuffersAndFillsThem) {
    const int32_t widths[] = {1, 2, 3, 5, 7, 8, 9, 15, 16, 17, 31, 33, 63};
    const int32_t heights[] = {1, 2, 3};
    for (const ConverterSet *set : allSets())
        for (const Format &f : kFormats)
            for (int32_t w : widths)
                for (int32_t h : heights) {
                    SCOPED_TRACE(std::string(set->name) + " " + f.name + " " + std::to_string(w) + " x " +
                                 std::to_string(h));
                    const auto src = randomYuy2(w, h, uint32_t(w * 131 + h));
                    const ConvertFn fn = set->*f.member;
                    const auto a = convertGuarded(fn, f.bytes, w, h, src, 0x00);
                    const auto b = convertGuarded(fn, f.bytes, w, h, src, 0xFF);
                    ASSERT_EQ(a, b) << "some destination byte was not written";
                    if (w % 2 == 0)
                        continue;
                    for (int32_t row = 0; row < h; ++row) {
                        const uint8_t *in = src.data() + size_t(row) * size_t(w) * 2;
                        const uint8_t *outRow = a.data() + size_t(h - 1 - row) * size_t(w) * size_t(f.bytes);
                        // The even prefix converts as an image of its own.
                        if (w > 1) {
                            std::vector<uint8_t> prefix(in, in + 2 * (w - 1));
                            const auto even = convertGuarded(fn, f.bytes, w - 1, 1, prefix);
                            ASSERT_EQ(0, std::memcmp(even.data(), outRow, even.size()));
                        }
                        // The lone pixel equals the first pixel of the pair (Y, U', Y, V')
                        // with U', V' of the pair to its left (neutral for width 1).
                        const uint8_t y = in[2 * (w - 1)];
                        const uint8_t u = w > 1 ? in[2 * (w - 1) - 3] : 128;
                        const uint8_t v = w > 1 ? in[2 * (w - 1) - 1] : 128;
                        const auto lone = convertGuarded(fn, f.bytes, 2, 1, {y, u, y, v});
                        ASSERT_EQ(0, std::memcmp(lone.data(), outRow + size_t(w - 1) * size_t(f.bytes), size_t(f.bytes)));
                    }
                }
}

// The SIMD converters give the reference's bytes: every (U, V) with a sweep of
// Y values, and random images whose widths exercise the block body and the tail.
TEST(PixelConvert, SimdMatchesScalarExactly) {
    const ConverterSet *simd = ix::codec::simdConverters();
    if (simd == nullptr)
        GTEST_SKIP() << "no SIMD converters on this processor or build";
    const ConverterSet &scalar = ix::codec::scalarConverters();

    // 256 x 256 pairs: one (U, V) per pair, Y0 and Y1 varying with the row.
    const int32_t w = 512, h = 256;
    std::vector<uint8_t> grid(size_t(w) * h * 2);
    for (int32_t row = 0; row < h; ++row)
        for (int32_t p = 0; p < w / 2; ++p) {
            uint8_t *q = grid.data() + (size_t(row) * w + 2 * size_t(p)) * 2;
            q[0] = uint8_t(row * 7 + p);
            q[1] = uint8_t(p);
            q[2] = uint8_t(255 - row * 3 - p);
            q[3] = uint8_t(row);
        }
    for (const Format &f : kFormats)
        EXPECT_EQ(convertGuarded(scalar.*f.member, f.bytes, w, h, grid), convertGuarded(simd->*f.member, f.bytes, w, h, grid))
            << f.name;

    const std::pair<int32_t, int32_t> sizes[] = {{640, 480}, {1280, 6}, {34, 5}, {17, 3}, {7, 9}, {25, 2}, {49, 4}};
    for (const Format &f : kFormats)
        for (auto [sw, sh] : sizes) {
            const auto src = randomYuy2(sw, sh, uint32_t(sw + sh));
            EXPECT_EQ(convertGuarded(scalar.*f.member, f.bytes, sw, sh, src),
                      convertGuarded(simd->*f.member, f.bytes, sw, sh, src))
                << f.name << " " << sw << " x " << sh;
        }
}

// The exported converters use the set the environment asks for.
TEST(PixelConvert, ForcedScalarSwitchPicksTheReference) {
    const char *force = std::getenv("IXLUMO_FORCE_SCALAR");
    const bool forced = force != nullptr && force[0] != '\0' && std::strcmp(force, "0") != 0;
    const ConverterSet *expected = forced || ix::codec::simdConverters() == nullptr
                                       ? &ix::codec::scalarConverters()
                                       : ix::codec::simdConverters();
    EXPECT_EQ(&ix::codec::activeConverters(), expected);

    const auto src = randomYuy2(20, 3, 7);
    const Format *f = &kFormats[1];
    EXPECT_EQ(convertGuarded(ix::codec::ConvertYuy2ToBgr24, 3, 20, 3, src),
              convertGuarded(expected->*f->member, 3, 20, 3, src));
}

TEST(PixelConvert, FormatTable) {
    EXPECT_EQ(ix::codec::convertedBytesPerPixel(1), 4);
    EXPECT_EQ(ix::codec::convertedBytesPerPixel(2), 3);
    EXPECT_EQ(ix::codec::convertedBytesPerPixel(4), 2);
    EXPECT_EQ(ix::codec::convertedBytesPerPixel(6), 1);
    for (int32_t code : {0, 3, 5, 7, 11, 19, 21, -1})
        EXPECT_EQ(ix::codec::convertedBytesPerPixel(code), 0) << code;
    EXPECT_EQ(ix::codec::converterFor(2), &ix::codec::ConvertYuy2ToBgr24);
    EXPECT_EQ(ix::codec::converterFor(7), nullptr);
}

} // namespace
