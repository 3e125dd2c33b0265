// YUY2 to the caller's pixel layouts.
//
// Every converter reads its source top-down (width * 2 bytes a row, Y0 U Y1 V per
// pixel pair, no gaps) and writes its destination bottom-up, so source row 0 lands
// in the last destination row: the row order of a bottom-up bitmap. Destination
// rows have no gaps either; the 24-bit rows are exactly 3 * width bytes.
//
// The destination must hold width * height * bytesPerPixel bytes and the source
// width * height * 2. Nothing outside those ranges is read or written, for any
// width: a width or height of 0 or less writes nothing, and with an odd width the
// last pixel of a row (which has its Y and U bytes but no V of its own) takes the
// chrominance of the pair to its left, or no colour at all when the row is one
// pixel wide.
#pragma once
#include <cstdint>

namespace ix::codec {

// B, G, R, 0 per pixel (format 1).
void ConvertYuy2ToBgrx32(uint8_t *destination, int32_t width, int32_t height, const uint8_t *source);
// B, G, R per pixel (format 2).
void ConvertYuy2ToBgr24(uint8_t *destination, int32_t width, int32_t height, const uint8_t *source);
// One little-endian word per pixel: R >> 3 in bits 15-11, G >> 2 in 10-5, B >> 3 in 4-0 (format 4).
void ConvertYuy2ToRgb565(uint8_t *destination, int32_t width, int32_t height, const uint8_t *source);
// The Y byte of each pixel (format 6).
void ConvertYuy2ToGrey8(uint8_t *destination, int32_t width, int32_t height, const uint8_t *source);

using ConvertFn = void (*)(uint8_t *destination, int32_t width, int32_t height, const uint8_t *source);

// One implementation of all four converters. The exported converters above go
// through the set chosen once at first use: the SIMD set when the processor
// has it, the scalar reference when it has not or when the environment
// variable IXLUMO_FORCE_SCALAR is set to anything but "" or "0".
struct ConverterSet {
    const char *name;
    ConvertFn bgrx32;
    ConvertFn bgr24;
    ConvertFn rgb565;
    ConvertFn grey8;
};

// The plain C++ reference; always present.
const ConverterSet &scalarConverters();
// The SIMD set, or nullptr when this build or this processor has none.
const ConverterSet *simdConverters();
// The set the exported converters use.
const ConverterSet &activeConverters();

// Bytes per pixel of a converted pixel format (1, 2, 4, 6), 0 for any other code.
int32_t convertedBytesPerPixel(int32_t pixelFormat);
// The converter of a pixel format (1, 2, 4, 6), nullptr for any other code.
ConvertFn converterFor(int32_t pixelFormat);

} // namespace ix::codec
