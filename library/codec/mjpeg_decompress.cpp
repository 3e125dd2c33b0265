#include "library/codec/mjpeg_decompress.h"

#include "library/codec/pixel_convert.h"

#include <memory>
#include <new>

namespace ix::codec {

int32_t MjpegFormatBytesPerPixel(int32_t format) {
    // YUY2 comes straight from the decoder; the rest are the converters' formats.
    if (format == 7 || format == 21) return 2;
    return convertedBytesPerPixel(format);
}

int32_t MjpegDecompressToFormat(MjpegDecoder *decoder, uint8_t *destination, int32_t destinationSize,
                                const uint8_t *source, int32_t sourceSize, int32_t format) {
    const int32_t bpp = MjpegFormatBytesPerPixel(format);
    if (bpp == 0) return 4;
    int32_t w = 0, h = 0;
    if (MjpegParseHeaders(decoder, source, sourceSize, &w, &h) != 0) return 1;
    // 64-bit: a header may declare up to 65535 x 65535 pixels.
    if (int64_t(w) * h * bpp > int64_t(destinationSize) || !destination) return 8;
    if (format == 7 || format == 21) return MjpegDecodeFrame(decoder, destination);

    const ConvertFn convert = converterFor(format);
    const size_t bytes = size_t(w) * size_t(h) * 2;
    std::unique_ptr<uint8_t[]> yuy2(new (std::nothrow) uint8_t[bytes]);
    if (!yuy2 || !convert) return 1;
    // The decoder leaves partial MCUs alone; make them black rather than let
    // whatever the heap held reach the caller.
    for (size_t i = 0; i < bytes; i += 2) {
        yuy2[i] = 0;
        yuy2[i + 1] = 128;
    }
    if (MjpegDecodeFrame(decoder, yuy2.get()) != 0) return 1;
    convert(destination, w, h, yuy2.get());
    return 0;
}

} // namespace ix::codec
