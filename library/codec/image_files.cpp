#include "library/codec/image_files.h"

#include <cstring>

#include "platform/sys.h"

namespace ix::codec {

namespace {

void putLe32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// A buffer with a size the caller gave: refused when the size is negative or
// the pointer is null while bytes are promised.
bool piecePlausible(const void *data, int32_t bytes) { return bytes >= 0 && (bytes == 0 || data != nullptr); }

struct Piece {
    const void *data;
    uint32_t bytes;
};

// Creates the file (create-always, write-only, no sharing) and writes the
// pieces in order, one write call each. A write that fails closes the file
// and returns its code; what was written before stays in the file. Empty
// pieces are not written: a zero-byte write changes nothing in the file and
// some systems refuse it for a null buffer.
template <typename Char, size_t N>
int32_t writePieces(const Char *fileName, const Piece (&pieces)[N]) {
    sys::FileHandle file = nullptr;
    uint32_t error;
    if constexpr (sizeof(Char) == 1)
        error = sys::createFileA(fileName, &file);
    else
        error = sys::createFileW(fileName, &file);
    if (error != 0)
        return static_cast<int32_t>(error);
    for (const Piece &piece : pieces) {
        if (piece.bytes == 0)
            continue;
        error = sys::writeFile(file, piece.data, piece.bytes);
        if (error != 0) {
            sys::closeFile(file);
            return static_cast<int32_t>(error);
        }
    }
    sys::closeFile(file);
    return 0;
}

template <typename Char>
int32_t saveBmp(const Char *fileName, const uint8_t *pixels, int32_t pixelBytes, const uint8_t *infoHeader,
                int32_t infoHeaderBytes) {
    if (fileName == nullptr || !piecePlausible(pixels, pixelBytes) || !piecePlausible(infoHeader, infoHeaderBytes))
        return kInvalidParameter;
    uint8_t header[kBitmapFileHeaderBytes];
    if (!buildBitmapFileHeader(header, pixelBytes, infoHeaderBytes))
        return kInvalidParameter;
    const Piece pieces[] = {{header, sizeof header},
                            {infoHeader, static_cast<uint32_t>(infoHeaderBytes)},
                            {pixels, static_cast<uint32_t>(pixelBytes)}};
    return writePieces(fileName, pieces);
}

template <typename Char>
int32_t saveJpg(const Char *fileName, const uint8_t *frame, int32_t frameLength) {
    // A frame shorter than its prefix has nothing to keep, and the remainder
    // length would be negative: refuse it rather than read before or past it.
    if (fileName == nullptr || frame == nullptr || frameLength < kCameraFramePrefixBytes)
        return kInvalidParameter;
    const Piece pieces[] = {{JfifHeaderTemplate.data(), kJfifHeaderBytes},
                            {frame + kCameraFramePrefixBytes,
                             static_cast<uint32_t>(frameLength - kCameraFramePrefixBytes)}};
    return writePieces(fileName, pieces);
}

} // namespace

bool buildBitmapFileHeader(uint8_t header[kBitmapFileHeaderBytes], int32_t pixelBytes, int32_t infoHeaderBytes) {
    if (pixelBytes < 0 || infoHeaderBytes < 0)
        return false;
    const uint64_t fileSize = uint64_t{kBitmapFileHeaderBytes} + uint64_t(infoHeaderBytes) + uint64_t(pixelBytes);
    if (fileSize > UINT32_MAX)
        return false;
    header[0] = 'B';
    header[1] = 'M';
    putLe32(header + 2, static_cast<uint32_t>(fileSize));
    putLe32(header + 6, 0); // two reserved words
    putLe32(header + 10, static_cast<uint32_t>(kBitmapFileHeaderBytes + infoHeaderBytes));
    return true;
}

int32_t composeJpegFile(uint8_t *destination, uint32_t capacity, const uint8_t *frame, uint32_t frameLength,
                        uint32_t *written) {
    if (frame == nullptr || frameLength < static_cast<uint32_t>(kCameraFramePrefixBytes))
        return 1;
    const uint64_t total = uint64_t(frameLength) - kCameraFramePrefixBytes + kJfifHeaderBytes;
    if (destination == nullptr || total > capacity)
        return 8;
    std::memcpy(destination, JfifHeaderTemplate.data(), kJfifHeaderBytes);
    std::memcpy(destination + kJfifHeaderBytes, frame + kCameraFramePrefixBytes,
                frameLength - kCameraFramePrefixBytes);
    if (written != nullptr)
        *written = static_cast<uint32_t>(total);
    return 0;
}

int32_t saveBmpA(const char *fileName, const uint8_t *pixels, int32_t pixelBytes, const uint8_t *infoHeader,
                 int32_t infoHeaderBytes) {
    return saveBmp(fileName, pixels, pixelBytes, infoHeader, infoHeaderBytes);
}

int32_t saveBmpW(const char16_t *fileName, const uint8_t *pixels, int32_t pixelBytes, const uint8_t *infoHeader,
                 int32_t infoHeaderBytes) {
    return saveBmp(fileName, pixels, pixelBytes, infoHeader, infoHeaderBytes);
}

int32_t saveJpgA(const char *fileName, const uint8_t *frame, int32_t frameLength) {
    return saveJpg(fileName, frame, frameLength);
}

int32_t saveJpgW(const char16_t *fileName, const uint8_t *frame, int32_t frameLength) {
    return saveJpg(fileName, frame, frameLength);
}

} // namespace ix::codec
