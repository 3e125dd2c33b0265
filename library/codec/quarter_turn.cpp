#include "library/codec/quarter_turn.h"

#include <cstddef>
#include <cstring>

namespace ix::codec {
namespace {

// Reads the source in storage order (sequential) and scatters whole pixels
// down destination columns. The step between consecutive destination pixels
// is one destination row, upward for 90 and downward for 270.
template <size_t Bytes>
void turn(uint8_t *destination, const uint8_t *source, size_t width, size_t height, bool ninety) {
    const ptrdiff_t rowBytes = static_cast<ptrdiff_t>(width * Bytes);
    for (size_t k = 0; k < width; ++k) {
        const uint8_t *in = source + k * height * Bytes;
        // Position n = 0 of source row k lands in destination row height - 1
        // (90, position k) or row 0 (270, position width - 1 - k).
        uint8_t *out = ninety ? destination + (height - 1) * width * Bytes + k * Bytes
                              : destination + (width - 1 - k) * Bytes;
        const ptrdiff_t step = ninety ? -rowBytes : rowBytes;
        for (size_t n = 0; n < height; ++n) {
            std::memcpy(out, in, Bytes);
            in += Bytes;
            if (n + 1 < height)
                out += step;
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
