// Bitmap and JPEG files around images the application already holds.
//
// The writers need no camera and touch no library state. Each returns 0 or
// the operating system's error code of the call that failed (Windows numbering
// on Windows, errno elsewhere), never a library result code. Arguments that
// cannot describe the bytes to write (a negative size, a null buffer with a
// non-zero size, a null file name, a JPEG frame shorter than its 76-byte
// prefix, a bitmap whose size does not fit the header's 32-bit field) are
// refused with kInvalidParameter before the file is created, so an existing
// file of that name is left as it was.
#pragma once
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "library/codec/jpeg_tables.h"

namespace ix::codec {

// ERROR_INVALID_PARAMETER on Windows, EINVAL elsewhere.
#ifdef _WIN32
inline constexpr int32_t kInvalidParameter = 87;
#else
inline constexpr int32_t kInvalidParameter = EINVAL;
#endif

// The camera's compressed frames begin with start of image, an 18-byte JFIF
// APP0 and a 56-byte comment; a JPEG file replaces those 76 bytes with the
// template below and keeps the rest (quantisation tables, frame header, scan
// header, entropy-coded data) as it is.
inline constexpr int32_t kCameraFramePrefixBytes = ix::jpeg::kCameraPrefixBytes;
inline constexpr int32_t kJfifHeaderBytes = 452;

namespace detail {

// Appends one DHT segment: marker, length, class and id, the 16 counts, the values.
constexpr size_t putHuffmanSegment(std::array<uint8_t, kJfifHeaderBytes> &t, size_t at, uint8_t classAndId,
                                   const ix::jpeg::HuffmanSpec &table) {
    const size_t length = 2 + 1 + 16 + size_t(table.valueCount);
    t[at++] = 0xFF;
    t[at++] = 0xC4;
    t[at++] = uint8_t(length >> 8);
    t[at++] = uint8_t(length);
    t[at++] = classAndId;
    for (uint8_t count : table.counts)
        t[at++] = count;
    for (int i = 0; i < table.valueCount; ++i)
        t[at++] = table.values[i];
    return at;
}

constexpr std::array<uint8_t, kJfifHeaderBytes> buildJfifHeaderTemplate() {
    std::array<uint8_t, kJfifHeaderBytes> t{};
    // Start of image; APP0 of length 16: "JFIF\0", version 1.01, density units
    // 0 (aspect ratio only), density 1 x 1, no thumbnail.
    constexpr uint8_t head[20] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',
                                  0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
    size_t at = 0;
    for (uint8_t b : head)
        t[at++] = b;
    // The four tables the camera codes with and leaves out of its frames, each
    // in its own segment: DC 0 (K.3), AC 0 (K.5), DC 1 (K.4), AC 1 (K.6).
    at = putHuffmanSegment(t, at, 0x00, ix::jpeg::kLumaDc);
    at = putHuffmanSegment(t, at, 0x10, ix::jpeg::kLumaAc);
    at = putHuffmanSegment(t, at, 0x01, ix::jpeg::kChromaDc);
    at = putHuffmanSegment(t, at, 0x11, ix::jpeg::kChromaAc);
    // A shorter or longer table set would not fill the template exactly.
    if (at != kJfifHeaderBytes)
        throw "JFIF header template size";
    return t;
}

} // namespace detail

// Start of image, JFIF APP0 and the four standard Huffman tables, put in front
// of a camera frame (without its prefix) to make a complete JFIF file.
inline constexpr std::array<uint8_t, kJfifHeaderBytes> JfifHeaderTemplate = detail::buildJfifHeaderTemplate();

inline constexpr int32_t kBitmapFileHeaderBytes = 14;

int32_t saveBmpA(const char *fileName, const uint8_t *pixels, int32_t pixelBytes, const uint8_t *infoHeader,
                 int32_t infoHeaderBytes);
int32_t saveBmpW(const char16_t *fileName, const uint8_t *pixels, int32_t pixelBytes, const uint8_t *infoHeader,
                 int32_t infoHeaderBytes);
int32_t saveJpgA(const char *fileName, const uint8_t *frame, int32_t frameLength);
int32_t saveJpgW(const char16_t *fileName, const uint8_t *frame, int32_t frameLength);

// The 14-byte bitmap file header for the given sizes; false (header untouched)
// when a size is negative or the file size does not fit 32 bits.
bool buildBitmapFileHeader(uint8_t header[kBitmapFileHeaderBytes], int32_t pixelBytes, int32_t infoHeaderBytes);

// A camera frame as a complete JPEG file in memory: the template, then the
// frame from byte 76 on (frameLength + 376 bytes in all). Returns 0 with
// *written set; 1 when the frame is null or shorter than its prefix; 8 when
// capacity is smaller than the file, writing nothing.
int32_t composeJpegFile(uint8_t *destination, uint32_t capacity, const uint8_t *frame, uint32_t frameLength,
                        uint32_t *written);

} // namespace ix::codec
