#include "IxFwUpdate/hex.h"

#include <cstring>
#include <vector>

#include "IxFwUpdate/os.h"
#include "IxFwUpdate/output.h"

namespace ix::fw {

namespace {

// Tolerant on purpose: any character decodes to some value, upper and lower
// case hex alike, and a wrong checksum is never looked at.
uint8_t nibble(uint8_t c) {
    uint8_t v = uint8_t(c - '0');
    if (v >= 10) v = uint8_t((v & 0x1F) - 7);
    return v;
}

uint8_t hexByte(const uint8_t *at) { return uint8_t((nibble(at[0]) << 4) + nibble(at[1])); }

constexpr size_t kNone = ~size_t(0);

size_t nextColon(const uint8_t *text, size_t length, size_t from) {
    if (from >= length) return kNone;
    const void *hit = std::memchr(text + from, ':', length - from);
    return hit ? size_t(static_cast<const uint8_t *>(hit) - text) : kNone;
}

int refuse(HexError why, size_t p, HexError *error, size_t *offset) {
    if (error) *error = why;
    if (offset) *offset = p;
    return 1;
}

} // namespace

uint16_t imageWord(const FirmwareImage &fw, uint32_t byteAddress) {
    return uint16_t(fw.image[byteAddress] | (fw.image[byteAddress + 1] << 8));
}

int parseHexImage(const uint8_t *text, size_t length, FirmwareImage &fw, HexError *error, size_t *offset) {
    fw.image.fill(0xFF);
    fw.pageUsed.fill(0);
    if (error) *error = HexError::None;
    if (offset) *offset = 0;

    // Extended address and how it combines with a record's 16-bit offset:
    // a linear base (type 4) continues past 64 KiB, a segment base (type 2)
    // wraps the offset within its 64 KiB segment, as Intel HEX defines.
    uint64_t base = 0;
    bool segmented = false;
    // The text must start with a record; its first character is taken to be
    // the colon whatever it is.
    size_t p = 0;
    while (p < length) {
        // Count, address and type end at p + 9; the checksum is never read.
        if (length - p < 9) return refuse(HexError::Truncated, p, error, offset);
        const uint8_t count = hexByte(text + p + 1);
        const uint32_t address = uint32_t(hexByte(text + p + 3) << 8) | hexByte(text + p + 5);
        const uint8_t type = hexByte(text + p + 7);
        const size_t dataEnd = p + 9 + 2 * size_t(count);

        switch (type) {
        case 0: {
            if (dataEnd > length) return refuse(HexError::Truncated, p, error, offset);
            // The file gives each word high byte first and the image holds it
            // low byte first: file byte X lands at image byte X ^ 1. Taking
            // bytes one at a time keeps odd counts and odd addresses in their
            // own word instead of pairing across a word boundary.
            for (size_t i = 0; i < count; ++i) {
                uint64_t x = segmented ? base + ((address + i) & 0xFFFF) : base + address + i;
                if (x >= FirmwareImage::kBytes) return refuse(HexError::OutOfRange, p, error, offset);
                fw.pageUsed[size_t(x / FirmwareImage::kPageBytes)] = 1;
                fw.image[size_t(x ^ 1)] = hexByte(text + p + 9 + 2 * i);
            }
            p = nextColon(text, length, dataEnd);
            break;
        }
        case 1:
            return 0;
        case 2:
        case 4: {
            if (p + 13 > length) return refuse(HexError::Truncated, p, error, offset);
            uint32_t value = uint32_t(hexByte(text + p + 9) << 8) | hexByte(text + p + 11);
            segmented = type == 2;
            base = segmented ? uint64_t(value) * 16 : uint64_t(value) << 16;
            IxDbg(0, L"Extended Addr: %08X\n", unsigned(base));
            p = nextColon(text, length, p + 4);
            break;
        }
        case 3:
        case 5:
            // Start addresses mean nothing to the flash.
            p = nextColon(text, length, dataEnd);
            break;
        default:
            return refuse(HexError::UnknownType, p, error, offset);
        }
        if (p == kNone) return 0;
    }
    return 0;
}

bool getHexFile(const std::wstring &fileName, FirmwareImage &fw) {
    std::vector<uint8_t> text;
    uint32_t code = 0;
    switch (os::readWholeFile(fileName, text, &code)) {
    case os::ReadStage::Open:
        IxDbg(1, L"getHexFile: Error Opening Firmware File - %08X\n", unsigned(code));
        return true;
    case os::ReadStage::Alloc:
        IxDbg(1, L"getHexFile: Memory Allocation Failure\n");
        return true;
    case os::ReadStage::Read:
        IxDbg(1, L"getHexFile: Error Reading Firmware File\n");
        return true;
    case os::ReadStage::Ok:
        break;
    }
    HexError why = HexError::None;
    size_t at = 0;
    if (parseHexImage(text.data(), text.size(), fw, &why, &at) != 0) {
        static const wchar_t *const kWhy[] = {L"", L"record cut short", L"address beyond 1 MiB",
                                              L"unknown record type"};
        IxDbg(1, L"getHexFile: Error Parsing Hex File\n");
        IxDbg(1, L"parseHexImage: %ls at offset %lu\n", kWhy[int(why)], (unsigned long)at);
        return true;
    }
    return false;
}

} // namespace ix::fw
