// The colour arithmetic shared by the scalar and SIMD converters, so the
// scalar tail of a SIMD row gives exactly the bytes the reference gives.
#pragma once
#include <cstddef>
#include <cstdint>

namespace ix::codec::detail {

// BT.601 coefficients in 10-bit fixed point (1.732, 0.699 + 0.334, 1.365 scaled
// by 1024), applied to Y * 1024 in 32-bit signed arithmetic.
inline constexpr int32_t kBlueU = 1774;
inline constexpr int32_t kGreenV = 716;
inline constexpr int32_t kGreenU = 342;
inline constexpr int32_t kRedV = 1398;

// The chrominance terms of one pixel pair, computed once and used for both pixels.
struct ChromaTerms {
    int32_t blue;
    int32_t green;
    int32_t red;
};

inline ChromaTerms chromaTerms(uint8_t U, uint8_t V) {
    const int32_t u = static_cast<int32_t>(U) - 128;
    const int32_t v = static_cast<int32_t>(V) - 128;
    return {kBlueU * u, -(kGreenV * v + kGreenU * u), kRedV * v};
}

inline uint8_t clamp255(int32_t value) {
    return value < 0 ? 0 : value > 255 ? 255 : static_cast<uint8_t>(value);
}

// >> on a negative int32 is an arithmetic shift (rounds toward minus infinity).
inline uint8_t blue(uint8_t y, const ChromaTerms &c) { return clamp255((y * 1024 + c.blue) >> 10); }
inline uint8_t green(uint8_t y, const ChromaTerms &c) { return clamp255((y * 1024 + c.green) >> 10); }
inline uint8_t red(uint8_t y, const ChromaTerms &c) { return clamp255((y * 1024 + c.red) >> 10); }

inline uint16_t packRgb565(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}

// Pixel stores: put the pixel with luminance y and chrominance terms c at
// position x of a destination row.
struct StoreBgrx32 {
    static constexpr int kBytes = 4;
    void operator()(uint8_t *out, int32_t x, uint8_t y, const ChromaTerms &c) const {
        uint8_t *px = out + 4 * static_cast<ptrdiff_t>(x);
        px[0] = blue(y, c);
        px[1] = green(y, c);
        px[2] = red(y, c);
        px[3] = 0;
    }
};

struct StoreBgr24 {
    static constexpr int kBytes = 3;
    void operator()(uint8_t *out, int32_t x, uint8_t y, const ChromaTerms &c) const {
        uint8_t *px = out + 3 * static_cast<ptrdiff_t>(x);
        px[0] = blue(y, c);
        px[1] = green(y, c);
        px[2] = red(y, c);
    }
};

struct StoreRgb565 {
    static constexpr int kBytes = 2;
    void operator()(uint8_t *out, int32_t x, uint8_t y, const ChromaTerms &c) const {
        const uint16_t word = packRgb565(red(y, c), green(y, c), blue(y, c));
        uint8_t *px = out + 2 * static_cast<ptrdiff_t>(x);
        px[0] = static_cast<uint8_t>(word);
        px[1] = static_cast<uint8_t>(word >> 8);
    }
};

// Converts one row from pixel pair `firstPair` on; the SIMD converters hand
// their remainder to it.
template <typename Store>
inline void convertRowFrom(uint8_t *out, const uint8_t *in, int32_t width, int32_t firstPair, Store store) {
    const int32_t pairs = width / 2;
    for (int32_t p = firstPair; p < pairs; ++p) {
        const uint8_t *q = in + 4 * static_cast<ptrdiff_t>(p);
        const ChromaTerms c = chromaTerms(q[1], q[3]);
        store(out, 2 * p, q[0], c);
        store(out, 2 * p + 1, q[2], c);
    }
    if (width & 1) {
        // The lone last pixel has no V byte of its own (its row ends right
        // after its U byte); borrowing the left pair's chrominance keeps the
        // colour continuous and stays inside the row.
        const uint8_t *lone = in + 2 * static_cast<ptrdiff_t>(width - 1);
        const ChromaTerms c = pairs > 0 ? chromaTerms(lone[-3], lone[-1]) : chromaTerms(128, 128);
        store(out, width - 1, lone[0], c);
    }
}

inline void greyRowFrom(uint8_t *out, const uint8_t *in, int32_t width, int32_t firstPixel) {
    for (int32_t x = firstPixel; x < width; ++x)
        out[x] = in[2 * static_cast<ptrdiff_t>(x)];
}

// Walks the rows: source row i (top-down) to destination row height - 1 - i.
// Row(out, in) converts one row. Nothing is touched for an empty image.
template <int BytesPerPixel, typename Row>
inline void forEachRow(uint8_t *destination, int32_t width, int32_t height, const uint8_t *source, Row row) {
    if (width <= 0 || height <= 0 || destination == nullptr || source == nullptr)
        return;
    const size_t inStride = static_cast<size_t>(width) * 2;
    const size_t outStride = static_cast<size_t>(width) * BytesPerPixel;
    for (int32_t i = 0; i < height; ++i)
        row(destination + outStride * static_cast<size_t>(height - 1 - i), source + inStride * static_cast<size_t>(i));
}

} // namespace ix::codec::detail
