#include "library/core/decompress.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <new>

#include "library/codec/mjpeg_decoder.h"
#include "library/codec/pixel_convert.h"

namespace ix {

int32_t DecompressMjpg(CameraContext &ctx, uint8_t *destination, int32_t destinationSize, const uint8_t *source,
                       int32_t sourceSize, int32_t format) {
    int32_t bytesPerPixel;
    switch (format) {
    case 1: bytesPerPixel = 4; break;
    case 2: bytesPerPixel = 3; break;
    case 4: case 7: case 21: bytesPerPixel = 2; break;
    case 6: bytesPerPixel = 1; break;
    default: return 4;
    }
    if (!ctx.decoderMutex || !ctx.decoder) return 1;
    std::unique_lock<std::timed_mutex> lock(*ctx.decoderMutex, std::defer_lock);
    if (!lock.try_lock_for(std::chrono::milliseconds(3000))) return 1;
    if (!source || sourceSize <= 0) return 1;

    int32_t width = 0, height = 0;
    if (codec::MjpegParseHeaders(ctx.decoder, source, sourceSize, &width, &height) != 0) return 1;
    int64_t needed = int64_t(width) * height * bytesPerPixel;
    if (destinationSize < 0 || needed > destinationSize) return 8;
    if (!destination) return 1;
    if (format == 7 || format == 21) return codec::MjpegDecodeFrame(ctx.decoder, destination);

    // Cleared, so the columns and rows a partial MCU leaves undecoded come
    // out black instead of as leftovers of the heap.
    size_t yuy2Bytes = size_t(width) * size_t(height) * 2;
    std::unique_ptr<uint8_t[]> yuy2(new (std::nothrow) uint8_t[yuy2Bytes]);
    if (!yuy2) return 1;
    for (size_t i = 0; i < yuy2Bytes; i += 2) {
        yuy2[i] = 0;
        yuy2[i + 1] = 128;
    }
    if (codec::MjpegDecodeFrame(ctx.decoder, yuy2.get()) != 0) return 1;
    codec::ConvertFn convert = codec::converterFor(format);
    if (!convert) return 4;
    convert(destination, width, height, yuy2.get());
    return 0;
}

} // namespace ix
