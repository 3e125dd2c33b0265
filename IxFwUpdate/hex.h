// Intel HEX firmware file -> in-memory image of the camera's 1 MiB flash.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ix::fw {

struct FirmwareImage {
    static constexpr uint32_t kBytes = 1u << 20;
    static constexpr uint32_t kPageBytes = 256;
    static constexpr uint32_t kPages = kBytes / kPageBytes;

    // Flash contents by byte address, each 16-bit word low byte first, so the
    // image read as little-endian words gives the values sent to the camera.
    std::array<uint8_t, kBytes> image;
    // 1 for each 256-byte page at least one byte of the file landed in.
    std::array<uint32_t, kPages> pageUsed;
};

enum class HexError {
    None,
    Truncated,       // a record's fields run past the end of the text
    OutOfRange,      // a data byte's address is 1 MiB or beyond
    UnknownType,     // a record type Intel HEX does not define
};

// Parses HEX text into `fw`. Returns 0, or 1 when the text was refused (why
// in *error, the text offset of the offending record in *offset). The text
// is never read past `length` and the image never written out of bounds.
int parseHexImage(const uint8_t *text, size_t length, FirmwareImage &fw, HexError *error = nullptr,
                  size_t *offset = nullptr);

// Reads and parses the file. False on success, true on failure (logged).
bool getHexFile(const std::wstring &fileName, FirmwareImage &fw);

// The 16-bit word at an even byte address, as the camera receives it.
uint16_t imageWord(const FirmwareImage &fw, uint32_t byteAddress);

} // namespace ix::fw
