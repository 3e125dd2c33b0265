#include "library/core/decompress.h"

#include <chrono>
#include <mutex>

#include "library/codec/mjpeg_decompress.h"

namespace ix {

int32_t DecompressMjpg(CameraContext &ctx, uint8_t *destination, int32_t destinationSize, const uint8_t *source,
                       int32_t sourceSize, int32_t format) {
    if (codec::MjpegFormatBytesPerPixel(format) == 0) return 4;
    if (!ctx.decoderMutex || !ctx.decoder) return 1;
    std::unique_lock<std::timed_mutex> lock(*ctx.decoderMutex, std::defer_lock);
    if (!lock.try_lock_for(std::chrono::milliseconds(3000))) return 1;
    return codec::MjpegDecompressToFormat(ctx.decoder, destination, destinationSize, source, sourceSize, format);
}

} // namespace ix
