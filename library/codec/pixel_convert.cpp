#include "library/codec/pixel_convert.h"

#include <cstdlib>
#include <cstring>

#include "library/codec/pixel_convert_impl.h"

namespace ix::codec {
namespace {

using namespace detail;

template <typename Store>
void scalarColour(uint8_t *destination, int32_t width, int32_t height, const uint8_t *source) {
    forEachRow<Store::kBytes>(destination, width, height, source,
                              [width](uint8_t *out, const uint8_t *in) { convertRowFrom(out, in, width, 0, Store{}); });
}

void scalarGrey8(uint8_t *destination, int32_t width, int32_t height, const uint8_t *source) {
    forEachRow<1>(destination, width, height, source,
                  [width](uint8_t *out, const uint8_t *in) { greyRowFrom(out, in, width, 0); });
}

const ConverterSet kScalar = {"scalar", scalarColour<StoreBgrx32>, scalarColour<StoreBgr24>,
                              scalarColour<StoreRgb565>, scalarGrey8};

bool forceScalarRequested() {
    const char *value = std::getenv("IXLUMO_FORCE_SCALAR");
    return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

const ConverterSet &chooseConverters() {
    if (forceScalarRequested())
        return kScalar;
    if (const ConverterSet *simd = simdConverters())
        return *simd;
    return kScalar;
}

} // namespace

const ConverterSet &scalarConverters() { return kScalar; }

const ConverterSet &activeConverters() {
    // Chosen once: a function-local static is initialised thread-safely.
    static const ConverterSet &active = chooseConverters();
    return active;
}

void ConvertYuy2ToBgrx32(uint8_t *destination, int32_t width, int32_t height, const uint8_t *source) {
    activeConverters().bgrx32(destination, width, height, source);
}

void ConvertYuy2ToBgr24(uint8_t *destination, int32_t width, int32_t height, const uint8_t *source) {
    activeConverters().bgr24(destination, width, height, source);
}

void ConvertYuy2ToRgb565(uint8_t *destination, int32_t width, int32_t height, const uint8_t *source) {
    activeConverters().rgb565(destination, width, height, source);
}

void ConvertYuy2ToGrey8(uint8_t *destination, int32_t width, int32_t height, const uint8_t *source) {
    activeConverters().grey8(destination, width, height, source);
}

int32_t convertedBytesPerPixel(int32_t pixelFormat) {
    switch (pixelFormat) {
    case 1: return 4;
    case 2: return 3;
    case 4: return 2;
    case 6: return 1;
    default: return 0;
    }
}

ConvertFn converterFor(int32_t pixelFormat) {
    switch (pixelFormat) {
    case 1: return ConvertYuy2ToBgrx32;
    case 2: return ConvertYuy2ToBgr24;
    case 4: return ConvertYuy2ToRgb565;
    case 6: return ConvertYuy2ToGrey8;
    default: return nullptr;
    }
}

} // namespace ix::codec
