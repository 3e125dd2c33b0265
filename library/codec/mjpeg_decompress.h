// Decoding a caller's MJPEG frame into any of the decoder's pixel formats:
// the work of IxDecompressMjpg once its format is checked and the decoder
// mutex is held.
#pragma once

#include "library/codec/mjpeg_decoder.h"

#include <cstdint>

namespace ix::codec {

// Bytes per pixel of a format IxDecompressMjpg accepts (1 -> 4, 2 -> 3,
// 4 -> 2, 6 -> 1, 7 and 21 -> 2); 0 for any other code, which the export
// answers with 4 before it touches the mutex.
int32_t MjpegFormatBytesPerPixel(int32_t format);

// With the decoder mutex held: parse the frame, check the destination, and
// decode it in `format`. Formats 7 and 21 are YUY2 decoded straight into the
// destination, top-down; 1, 2, 4 and 6 go through an intermediate YUY2 image
// and the converters, bottom-up. Pixels outside the decoded region (columns
// past the last whole 16, rows past the last whole 8) come out black in the
// converted formats and are left as they were in YUY2.
// Returns 0; 1 for a missing decoder, unreadable headers or no memory; 4 for
// a format not accepted; 8 when the destination holds fewer than
// width x height x bytes-per-pixel bytes (nothing is written then).
int32_t MjpegDecompressToFormat(MjpegDecoder *decoder, uint8_t *destination, int32_t destinationSize,
                                const uint8_t *source, int32_t sourceSize, int32_t format);

} // namespace ix::codec
