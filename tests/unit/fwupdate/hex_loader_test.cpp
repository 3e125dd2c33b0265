// The HEX loader over text held in exact-size heap buffers, so a read one
// byte past the text is caught by the sanitizers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "IxFwUpdate/hex.h"
#include "fake_camera.h"

using ix::fw::FirmwareImage;
using ix::fw::HexError;
using ix::fw::parseHexImage;

namespace {

struct Parsed {
    int rc;
    HexError error;
    size_t offset;
};

Parsed parse(const std::string &text, FirmwareImage &fw) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[text.size() ? text.size() : 1]);
    std::memcpy(exact.get(), text.data(), text.size());
    Parsed p{};
    p.rc = parseHexImage(exact.get(), text.size(), fw, &p.error, &p.offset);
    return p;
}

size_t usedPages(const FirmwareImage &fw) {
    size_t n = 0;
    for (uint32_t f : fw.pageUsed) n += f;
    return n;
}

// Bytes that are not 0xFF, as (address, value) pairs.
std::vector<std::pair<uint32_t, uint8_t>> written(const FirmwareImage &fw) {
    std::vector<std::pair<uint32_t, uint8_t>> out;
    for (uint32_t a = 0; a < FirmwareImage::kBytes; ++a) {
        if (fw.image[a] != 0xFF) out.emplace_back(a, fw.image[a]);
    }
    return out;
}

using Bytes = std::vector<std::pair<uint32_t, uint8_t>>;

struct Case {
    const char *name;
    std::string text;
    Bytes bytes;                   // every byte other than 0xFF
    std::vector<uint32_t> pages;   // every used page
};

class HexLoader : public ::testing::Test {
protected:
    std::unique_ptr<FirmwareImage> fw = std::make_unique<FirmwareImage>();
};

TEST_F(HexLoader, AcceptedTextsGiveExactlyTheirBytesAndPages) {
    const Case cases[] = {
        {"end record only", ":00000001FF\n", {}, {}},
        {"empty text", "", {}, {}},
        {"words swapped into the image", ":040000001234ABCD00\n:00000001FF\n",
         {{0, 0x34}, {1, 0x12}, {2, 0xCD}, {3, 0xAB}}, {0}},
        {"extended linear address", ":020000040001F9\n:020010001234A8\n:00000001FF\n",
         {{65552, 0x34}, {65553, 0x12}}, {256}},
        {"lower case digits", ":020000040001f9\n:020010001234a8\n:02001200abcd00\n:00000001ff\n",
         {{65552, 0x34}, {65553, 0x12}, {65554, 0xCD}, {65555, 0xAB}}, {256}},
        {"wrong checksum accepted", ":02000000123400\n:00000001FF\n", {{0, 0x34}, {1, 0x12}}, {0}},
        {"text after the last record ignored", ":02000000123400\ntrailing words\r\n",
         {{0, 0x34}, {1, 0x12}}, {0}},
        {"garbage between records ignored", ":02000000123400 noise ;;\n:02000200567800\n",
         {{0, 0x34}, {1, 0x12}, {2, 0x78}, {3, 0x56}}, {0}},
        {"first character taken as the colon", "x02000000123400\n", {{0, 0x34}, {1, 0x12}}, {0}},
        {"end record stops the parse", ":00000001FF\n:02000000123400\n", {}, {}},
        {"extended segment address is value x 16", ":020000021000EC\n:020010001234A8\n",
         {{0x10010, 0x34}, {0x10011, 0x12}}, {0x100}},
        {"segment offset wraps inside its segment", ":020000021000EC\n:04FFFE00A1A2A3A400\n",
         {{0x10000, 0xA4}, {0x10001, 0xA3}, {0x1FFFE, 0xA2}, {0x1FFFF, 0xA1}}, {0x100, 0x1FF}},
        {"linear offset runs on past 64 KiB", ":04FFFE00A1A2A3A400\n",
         {{0xFFFE, 0xA2}, {0xFFFF, 0xA1}, {0x10000, 0xA4}, {0x10001, 0xA3}}, {0xFF, 0x100}},
        {"type 4 after type 2 is linear again", ":020000021000EC\n:020000040002F8\n:02000400BEEF00\n",
         {{0x20004, 0xEF}, {0x20005, 0xBE}}, {0x200}},
        {"start address records skipped", ":0400000300001234B3\n:0400000500012345AB\n:02000000123400\n",
         {{0, 0x34}, {1, 0x12}}, {0}},
        {"odd count keeps the lone byte in its own word", ":03000000AABBCC00\n",
         {{0, 0xBB}, {1, 0xAA}, {3, 0xCC}}, {0}},
        {"odd address puts bytes in their own words", ":02000100AABB00\n", {{0, 0xAA}, {3, 0xBB}}, {0}},
        {"last word of the flash", ":02000004000FEB\n:02FFFE00123400\n",
         {{0xFFFFE, 0x34}, {0xFFFFF, 0x12}}, {4095}},
        {"zero-length data record marks nothing", ":00001000F0\n", {}, {}},
        {"CRLF line ends", ":02000000123400\r\n:00000001FF\r\n", {{0, 0x34}, {1, 0x12}}, {0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Parsed p = parse(c.text, *fw);
        EXPECT_EQ(p.rc, 0);
        EXPECT_EQ(p.error, HexError::None);
        EXPECT_EQ(written(*fw), c.bytes);
        std::vector<uint32_t> pages;
        for (uint32_t i = 0; i < FirmwareImage::kPages; ++i) {
            if (fw->pageUsed[i]) {
                EXPECT_EQ(fw->pageUsed[i], 1u);
                pages.push_back(i);
            }
        }
        EXPECT_EQ(pages, c.pages);
    }
}

TEST_F(HexLoader, AFreshParseForgetsThePreviousImage) {
    ASSERT_EQ(parse(":020000040001F9\n:020010001234A8\n", *fw).rc, 0);
    ASSERT_EQ(parse(":00000001FF\n", *fw).rc, 0);
    EXPECT_TRUE(written(*fw).empty());
    EXPECT_EQ(usedPages(*fw), 0u);
}

TEST_F(HexLoader, RefusedTextsNeverReachPastTheTextOrTheImage) {
    const struct {
        const char *name;
        std::string text;
        HexError error;
        size_t offset;
    } cases[] = {
        {"data at 1 MiB", ":020000040010EA\n:02000000123400\n", HexError::OutOfRange, 16},
        {"record running over the end of the flash", ":02000004000FEB\n:04FFFE0012345678\n",
         HexError::OutOfRange, 16},
        {"segment base beyond 1 MiB", ":02000002F000FC\n:02000000123400\n:02000002FFFFFE\n:021000001234\n",
         HexError::OutOfRange, 48},
        {"header cut short", ":02000000123400\n:1000", HexError::Truncated, 16},
        {"data cut short", ":10000000112233", HexError::Truncated, 0},
        {"extended address cut short", ":0200000400", HexError::Truncated, 0},
        {"lone colon at the end", ":02000000123400\n:", HexError::Truncated, 16},
        {"unknown record type", ":02000000123400\n:0200000612340000\n", HexError::UnknownType, 16},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Parsed p = parse(c.text, *fw);
        EXPECT_EQ(p.rc, 1);
        EXPECT_EQ(p.error, c.error);
        EXPECT_EQ(p.offset, c.offset);
    }
    // Bytes before the out-of-range one are kept, nothing is written past the image.
    Parsed p = parse(":02000004000FEB\n:04FFFE0012345678\n", *fw);
    EXPECT_EQ(p.rc, 1);
    EXPECT_EQ(written(*fw), (Bytes{{0xFFFFE, 0x34}, {0xFFFFF, 0x12}}));
}

// Arbitrary bytes, and record-shaped text with random fields, must each end
// in 0 or 1 without a read or write out of bounds (the sanitizer build
// turns either into a failure).
TEST_F(HexLoader, ArbitraryTextNeverFaults) {
    std::mt19937 rng(20240611);
    const char alphabet[] = ":0123456789ABCDEFabcdef\r\nxyz";
    int refused = 0, accepted = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        size_t length = rng() % 120;
        bool shaped = round % 2;
        for (size_t i = 0; i < length; ++i) {
            text.push_back(shaped ? alphabet[rng() % (sizeof alphabet - 1)] : char(rng() & 0xFF));
        }
        Parsed p = parse(text, *fw);
        ASSERT_TRUE(p.rc == 0 || p.rc == 1);
        (p.rc ? refused : accepted)++;
        if (p.rc == 0) {
            EXPECT_EQ(p.error, HexError::None);
        }
    }
    // Both outcomes must have been exercised for the run to mean anything.
    EXPECT_GT(refused, 100);
    EXPECT_GT(accepted, 20);
}

class HexFile : public HexLoader {
protected:
    void SetUp() override {
        fwtest::resetCamera();
        fwtest::captureOutput();
    }
    std::filesystem::path write(const std::string &name, const std::string &text) {
        auto path = std::filesystem::temp_directory_path() / name;
        FILE *f = std::fopen(path.string().c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (f) {
            std::fwrite(text.data(), 1, text.size(), f);
            std::fclose(f);
        }
        files_.push_back(path);
        return path;
    }
    void TearDown() override {
        for (auto &p : files_) std::filesystem::remove(p);
    }
    std::vector<std::filesystem::path> files_;
};

TEST_F(HexFile, ReadsTheWholeFile) {
    // Enough records that the file spans many read sizes.
    std::string text;
    for (uint32_t a = 0; a < 0x2000; a += 16) {
        char line[64];
        std::snprintf(line, sizeof line, ":10%04X00", unsigned(a));
        text += line;
        for (int i = 0; i < 16; ++i) {
            std::snprintf(line, sizeof line, "%02X", unsigned((a + i) & 0xFF));
            text += line;
        }
        text += "00\r\n";
    }
    text += ":00000001FF\r\n";
    auto path = write("ixfw_unit_whole.hex", text);
    EXPECT_FALSE(ix::fw::getHexFile(path.wstring(), *fw));
    for (uint32_t a = 0; a < 0x2000; ++a) ASSERT_EQ(fw->image[a ^ 1], uint8_t(a & 0xFF)) << a;
    EXPECT_EQ(fw->image[0x2000], 0xFF);
    EXPECT_EQ(usedPages(*fw), 0x20u);
    EXPECT_TRUE(fwtest::debugLines().empty());
}

TEST_F(HexFile, MissingFileLogsTheSystemCode) {
    auto path = std::filesystem::temp_directory_path() / "ixfw_unit_no_such_file.hex";
    std::filesystem::remove(path);
    EXPECT_TRUE(ix::fw::getHexFile(path.wstring(), *fw));
    ASSERT_EQ(fwtest::debugLines().size(), 1u);
    EXPECT_EQ(fwtest::debugLines()[0], L"getHexFile: Error Opening Firmware File - 00000002\n");
}

TEST_F(HexFile, RefusedTextIsAParseError) {
    auto path = write("ixfw_unit_refused.hex", ":020000040010EA\n:02000000123400\n");
    EXPECT_TRUE(ix::fw::getHexFile(path.wstring(), *fw));
    ASSERT_FALSE(fwtest::debugLines().empty());
    EXPECT_EQ(fwtest::debugLines()[0], L"getHexFile: Error Parsing Hex File\n");
}

TEST_F(HexFile, EmptyFileIsAnEmptyImage) {
    auto path = write("ixfw_unit_empty.hex", "");
    EXPECT_FALSE(ix::fw::getHexFile(path.wstring(), *fw));
    EXPECT_EQ(usedPages(*fw), 0u);
}

} // namespace
