// Quarter turns of converted frames.
//
// On a channel whose rotation is 90 or 270 the camera sends the frame turned:
// the converter writes it into a rotation buffer as `width` rows of `height`
// pixels (width and height of the delivered picture), and these turns move
// it into the caller's `height` rows of `width` pixels. Rows and positions are
// storage rows and positions (the converted rows are bottom-up); pixels move
// whole. A half turn never comes here: the sensor's own flips make it.
#pragma once
#include <cstdint>

namespace ix::codec {

// source: `width` rows of `height` pixels; destination: `height` rows of `width`
// pixels, not overlapping the source. Pixel (row k, position n) of the source
// goes to
//   rotation 90:  destination row height - 1 - n, position k
//   rotation 270: destination row n,              position width - 1 - k
// Returns 0, or 1 without writing anything for another rotation, a pixel size
// other than 1 to 4 bytes, null buffers with a non-empty image, or a negative
// width or height. An empty image (width or height 0) writes nothing.
int32_t QuarterTurn(uint8_t *destination, const uint8_t *source, int32_t width, int32_t height,
                    int32_t bytesPerPixel, int32_t rotation);

} // namespace ix::codec
