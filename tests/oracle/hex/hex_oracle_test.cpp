// Files from objcopy and srec_cat load to exactly the bytes those tools put
// in them, each 16-bit word low byte first.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "IxFwUpdate/hex.h"
#include "IxFwUpdate/output.h"

using ix::fw::FirmwareImage;

namespace {

std::vector<uint8_t> readAll(const std::string &name) {
    std::vector<uint8_t> bytes;
    FILE *f = std::fopen(name.c_str(), "rb");
    if (!f) return bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    return bytes;
}

std::vector<std::wstring> g_log;
void logSink(const wchar_t *text, size_t length) { g_log.emplace_back(text, length); }

struct Case {
    const char *name;
    uint32_t base;      // flash address of the binary's first byte
    const char *records;  // record types the tool must have used
};

bool hasRecordType(const std::vector<uint8_t> &hex, const char *type) {
    std::string text(hex.begin(), hex.end());
    for (size_t p = text.find(':'); p != std::string::npos; p = text.find(':', p + 1)) {
        if (text.compare(p + 7, 2, type) == 0) return true;
    }
    return false;
}

TEST(HexOracle, ToolFilesLoadByteForByte) {
    const Case cases[] = {
        {"objcopy_small", 0, "00"},
        {"objcopy_large", 0, "02"},
        {"objcopy_moved", 0x40000, "02"},
        {"objcopy_odd", 0, "02"},
        {"objcopy_full", 0, "02"},
        {"srec_large", 0, "04"},
        {"srec_odd", 0x20001, "04"},
        {"srec_high", 0xF0000, "04"},
    };
    auto fw = std::make_unique<FirmwareImage>();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string name = c.name;
        std::vector<uint8_t> bin = readAll(name + ".bin");
        std::vector<uint8_t> img = readAll(name + ".img");
        std::vector<uint8_t> hex = readAll(name + ".hex");
        ASSERT_FALSE(bin.empty());
        ASSERT_EQ(img.size(), FirmwareImage::kBytes);
        // The case exercises the addressing it is meant to.
        EXPECT_TRUE(hasRecordType(hex, c.records)) << c.records;

        g_log.clear();
        ix::fw::setDebugSink(logSink);
        std::wstring file(name.begin(), name.end());
        ASSERT_FALSE(ix::fw::getHexFile(file + L".hex", *fw));
        EXPECT_TRUE(g_log.empty());

        // srec_cat's reading of the same file, as a whole image.
        size_t differences = 0, first = 0;
        for (size_t a = 0; a < img.size(); ++a) {
            if (fw->image[a] != img[a] && differences++ == 0) first = a;
        }
        EXPECT_EQ(differences, 0u) << "first at " << first;
        // The source binary, word-swapped at its address.
        for (size_t i = 0; i < bin.size(); ++i) {
            ASSERT_EQ(fw->image[(c.base + i) ^ 1], bin[i]) << i;
        }
        // Exactly the pages the binary covers are marked.
        uint32_t firstPage = c.base / 256, lastPage = uint32_t((c.base + bin.size() - 1) / 256);
        for (uint32_t p = 0; p < FirmwareImage::kPages; ++p) {
            ASSERT_EQ(fw->pageUsed[p], (p >= firstPage && p <= lastPage) ? 1u : 0u) << p;
        }
    }
}

TEST(HexOracle, DataBeyondTheFlashIsRefused) {
    // objcopy switches to an extended linear address for the bytes at 1 MiB.
    std::vector<uint8_t> hex = readAll("objcopy_over.hex");
    ASSERT_TRUE(hasRecordType(hex, "04"));
    auto fw = std::make_unique<FirmwareImage>();
    g_log.clear();
    ix::fw::setDebugSink(logSink);
    EXPECT_TRUE(ix::fw::getHexFile(L"objcopy_over.hex", *fw));
    ASSERT_FALSE(g_log.empty());
    EXPECT_EQ(g_log[0], L"getHexFile: Error Parsing Hex File\n");
}

} // namespace
