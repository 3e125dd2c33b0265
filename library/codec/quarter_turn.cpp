#include "library/codec/quarter_turn.h"

#include <cstddef>
#include <cstring>

namespace ix::codec {
namespace {

// Pixel (k, n) of the source (row k of `height` pixels) goes to destination
// row height - 1 - n, position k (90) or row n, position width - 1 - k (270).
// Walking a whole source row scatters its pixels down a destination column,
// one cache line per pixel; square tiles keep both sides of the move within
// a few dozen lines, which is what makes the large frames fast.
template <size_t Bytes>
void turn(uint8_t *destination, const uint8_t *source, size_t width, size_t height, bool ninety) {
    constexpr size_t kTile = 32;
    const size_t srcRow = height * Bytes, dstRow = width * Bytes;
    for (size_t k0 = 0; k0 < width; k0 += kTile) {
        const size_t k1 = k0 + kTile < width ? k0 + kTile : width;
        for (size_t n0 = 0; n0 < height; n0 += kTile) {
            const size_t n1 = n0 + kTile < height ? n0 + kTile : height;
            for (size_t k = k0; k < k1; ++k) {
                const uint8_t *in = source + k * srcRow;
                const size_t position = ninety ? k : width - 1 - k;
                for (size_t n = n0; n < n1; ++n) {
                    const size_t row = ninety ? height - 1 - n : n;
                    std::memcpy(destination + row * dstRow + position * Bytes, in + n * Bytes, Bytes);
                }
            }
        }
    }
}

} // namespace

int32_t QuarterTurn(uint8_t *destination, const uint8_t *source, int32_t width, int32_t height,
                    int32_t bytesPerPixel, int32_t rotation) {
    if (rotation != 90 && rotation != 270)
        return 1;
    if (width < 0 || height < 0)
        return 1;
    if (width == 0 || height == 0)
        return 0;
    if (destination == nullptr || source == nullptr)
        return 1;
    const bool ninety = rotation == 90;
    const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    switch (bytesPerPixel) {
    case 1: turn<1>(destination, source, w, h, ninety); return 0;
    case 2: turn<2>(destination, source, w, h, ninety); return 0;
    case 3: turn<3>(destination, source, w, h, ninety); return 0;
    case 4: turn<4>(destination, source, w, h, ninety); return 0;
    default: return 1;
    }
}

} // namespace ix::codec
