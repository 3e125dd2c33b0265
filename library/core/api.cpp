// The exports: each checks its arguments and the context, then hands
// over to the module that does the work. Nothing may throw across the C
// boundary, so every body is guarded.
#include <exception>

#include "library/codec/image_files.h"
#include "library/controls/controls.h"
#include "library/core/delivery.h"
#include "library/core/eye_work.h"
#include "library/core/decompress.h"
#include "library/core/open_close.h"
#include "library/include/IxiLumo.h"

using namespace ix;

namespace {
template <typename F> int32_t guarded(F &&f, int32_t onException = IX_ERR_FAILED) {
    try {
        return f();
    } catch (...) {
        return onException;
    }
}
} // namespace

extern "C" {

IXLUMO_API int32_t IXLUMO_CALL IxOpen(void) {
    return guarded([] { return IxOpenSequence(context()); });
}

IXLUMO_API int32_t IXLUMO_CALL IxClose(void) {
    return guarded([] { return IxCloseSequence(context()); }, 0);
}

IXLUMO_API int32_t IXLUMO_CALL IxGetImage(uint8_t *buffer, uint32_t capacity, uint32_t *delivered) {
    return guarded([&] {
        CameraContext &ctx = context();
        if (!ctx.connected) return IX_ERR_FAILED;
        return DeliverFrame(ctx, buffer, capacity, delivered);
    });
}

IXLUMO_API int32_t IXLUMO_CALL IxGetControlValue(uint32_t id, uint16_t *buffer, uint32_t bufferBytes,
                                                 int32_t *returnedBytes) {
    return guarded([&] {
        CameraContext &ctx = context();
        if (!ctx.connected) return IX_ERR_FAILED;
        if (id < 128) return getBasicControl(ctx, id, buffer, bufferBytes, returnedBytes);
        if (id < 256) return getExtendedControl(ctx, id, buffer, bufferBytes, returnedBytes);
        return IX_ERR_NO_CONTROL;
    });
}

IXLUMO_API int32_t IXLUMO_CALL IxSetControlPValue(uint32_t id, const void *data, uint32_t bytes) {
    return guarded([&] {
        CameraContext &ctx = context();
        if (!ctx.connected) return IX_ERR_FAILED;
        if (id < 128) return setBasicControl(ctx, id, data, bytes);
        if (id < 256) return setExtendedControl(ctx, id, data, bytes);
        return IX_ERR_NO_CONTROL;
    });
}

IXLUMO_API int32_t IXLUMO_CALL IxSetControlValue(uint32_t id, int32_t value, uint32_t bytes) {
    // The value travels as a 4-byte copy; a block write that claims more than
    // those 4 bytes would read past it.
    if (id == IX_CTL_INDIRECT_DATA && bytes > 4) {
        if (!context().connected) return IX_ERR_FAILED;
        return IX_ERR_RANGE;
    }
    int32_t copy = value;
    return IxSetControlPValue(id, &copy, bytes);
}

IXLUMO_API int32_t IXLUMO_CALL IxDecompressMjpg(uint8_t *destination, int32_t destinationSize,
                                                const uint8_t *source, int32_t sourceSize, int32_t format) {
    return guarded([&] { return DecompressMjpg(context(), destination, destinationSize, source, sourceSize, format); });
}

IXLUMO_API int32_t IXLUMO_CALL IxSaveBmpA(const char *fileName, const uint8_t *pixels, int32_t pixelBytes,
                                          const uint8_t *infoHeader, int32_t infoHeaderBytes) {
    return guarded([&] { return ix::codec::saveBmpA(fileName, pixels, pixelBytes, infoHeader, infoHeaderBytes); });
}

IXLUMO_API int32_t IXLUMO_CALL IxSaveBmpW(const IxChar16 *fileName, const uint8_t *pixels, int32_t pixelBytes,
                                          const uint8_t *infoHeader, int32_t infoHeaderBytes) {
    return guarded([&] {
        return ix::codec::saveBmpW(reinterpret_cast<const char16_t *>(fileName), pixels, pixelBytes, infoHeader,
                                infoHeaderBytes);
    });
}

IXLUMO_API int32_t IXLUMO_CALL IxSaveJpgA(const char *fileName, const uint8_t *frame, int32_t frameLength) {
    return guarded([&] { return ix::codec::saveJpgA(fileName, frame, frameLength); });
}

IXLUMO_API int32_t IXLUMO_CALL IxSaveJpgW(const IxChar16 *fileName, const uint8_t *frame, int32_t frameLength) {
    return guarded(
        [&] { return ix::codec::saveJpgW(reinterpret_cast<const char16_t *>(fileName), frame, frameLength); });
}

IXLUMO_API int32_t IXLUMO_CALL IxGetDualIrisImages(DualIrisRecord *record) {
    return guarded([&] {
        CameraContext &ctx = context();
        if (!ctx.connected || !record) return IX_ERR_FAILED;
        return DualIrisImagesForContext(ctx, *record);
    });
}

IXLUMO_API int32_t IXLUMO_CALL IxGetMjpgImage(uint8_t *destination, uint32_t capacity, uint32_t *delivered,
                                              int32_t format) {
    return guarded([&] {
        CameraContext &ctx = context();
        if (!ctx.connected) return IX_ERR_FAILED;
        if (format != IX_FORMAT_MJPG && format != IX_FORMAT_JPEG_FILE) return IX_ERR_NOT_ALLOWED;
        return DeliverCompressedFrame(ctx, destination, capacity, delivered, format == IX_FORMAT_JPEG_FILE);
    });
}

} // extern "C"
