#include "library/codec/image_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

unsigned long processId() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

// A fresh folder per test, removed afterwards. Several build trees run these
// tests on one machine at once; the process id keeps their folders apart.
class ImageFiles : public ::testing::Test {
protected:
    void SetUp() override {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               (std::string("ixlumo_files_") + info->name() + "_" + std::to_string(processId()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string pathA(const char *name) const { return (dir_ / name).string(); }
    // The folder's path is plain ASCII on every machine these tests run on, so
    // widening it byte by byte gives its UTF-16 form; `name` may hold more.
    std::u16string pathW(const std::u16string &name) const {
        const std::string base = (dir_ / "").string();
        std::u16string wide(base.begin(), base.end());
        return wide + name;
    }
    fs::path dir_;
};

std::vector<uint8_t> readAll(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> pattern(size_t n, uint8_t start) {
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), start);
    return v;
}

void writeFileBytes(const fs::path &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

// A 640 x 480 24-bit picture behind a 40-byte information header: the file
// is 921,654 bytes with size 36 10 0E 00 and pixel offset 36 00 00 00, and
// carries the caller's header and pixels unchanged.
TEST_F(ImageFiles, BitmapWithInformationHeader) {
    const auto info = pattern(40, 0x40);
    const auto pixels = pattern(640 * 480 * 3, 3);
    const std::u16string name = u"frame_\u00e4\u00df.bmp"; // non-ASCII through the wide form
    ASSERT_EQ(ix::codec::saveBmpW(pathW(name).c_str(), pixels.data(), int32_t(pixels.size()), info.data(), 40), 0);
#ifdef _WIN32
    const fs::path written = dir_ / reinterpret_cast<const wchar_t *>(name.c_str());
#else
    const fs::path written = dir_ / "frame_\xc3\xa4\xc3\x9f.bmp";
#endif
    const auto file = readAll(written);
    ASSERT_EQ(file.size(), 921654u);
    EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 14),
              (std::vector<uint8_t>{0x42, 0x4D, 0x36, 0x10, 0x0E, 0x00, 0, 0, 0, 0, 0x36, 0x00, 0x00, 0x00}));
    EXPECT_TRUE(std::equal(info.begin(), info.end(), file.begin() + 14));
    EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), file.begin() + 54));
}

// With no information header the pixels follow the 14 bytes at once.
TEST_F(ImageFiles, BitmapWithoutInformationHeader) {
    const auto pixels = pattern(10, 0xF0);
    ASSERT_EQ(ix::codec::saveBmpA(pathA("bare.bmp").c_str(), pixels.data(), 10, nullptr, 0), 0);
    const auto file = readAll(dir_ / "bare.bmp");
    ASSERT_EQ(file.size(), 24u);
    EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 14),
              (std::vector<uint8_t>{'B', 'M', 24, 0, 0, 0, 0, 0, 0, 0, 14, 0, 0, 0}));
    EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), file.begin() + 14));
}

// A 10,000-byte frame gives 10,376 bytes: the template, then the frame from
// its 77th byte on. A frame of exactly its prefix gives the template alone.
TEST_F(ImageFiles, JpegIsTemplateThenFrameAfterItsPrefix) {
    const auto frame = pattern(10000, 0);
    ASSERT_EQ(ix::codec::saveJpgA(pathA("a.jpg").c_str(), frame.data(), 10000), 0);
    ASSERT_EQ(ix::codec::saveJpgW(pathW(u"w.jpg").c_str(), frame.data(), 10000), 0);
    for (const char *name : {"a.jpg", "w.jpg"}) {
        const auto file = readAll(dir_ / name);
        ASSERT_EQ(file.size(), 10376u) << name;
        EXPECT_TRUE(std::equal(file.begin(), file.begin() + 452, ix::codec::JfifHeaderTemplate.begin())) << name;
        EXPECT_TRUE(std::equal(frame.begin() + 76, frame.end(), file.begin() + 452)) << name;
    }
    ASSERT_EQ(ix::codec::saveJpgA(pathA("prefix.jpg").c_str(), frame.data(), 76), 0);
    EXPECT_EQ(readAll(dir_ / "prefix.jpg"),
              std::vector<uint8_t>(ix::codec::JfifHeaderTemplate.begin(), ix::codec::JfifHeaderTemplate.end()));
}

// The template's segments sit where a JPEG reader looks for them: SOI, APP0
// "JFIF" 1.01, then four DHT segments whose 16 code counts add up to the
// number of values each carries (12 for DC, 162 for AC) and whose lengths
// cover exactly the remaining bytes.
TEST(JfifTemplate, SegmentsAreWellFormed) {
    const uint8_t *t = ix::codec::JfifHeaderTemplate.data();
    EXPECT_EQ(t[0], 0xFF);
    EXPECT_EQ(t[1], 0xD8);
    EXPECT_EQ(std::vector<uint8_t>(t + 2, t + 20),
              (std::vector<uint8_t>{0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0}));
    struct Table {
        size_t offset;
        uint8_t classAndId;
        int values;
    } tables[] = {{20, 0x00, 12}, {53, 0x10, 162}, {236, 0x01, 12}, {269, 0x11, 162}};
    size_t end = 20;
    for (const Table &tb : tables) {
        SCOPED_TRACE(tb.offset);
        ASSERT_EQ(tb.offset, end);
        EXPECT_EQ(t[tb.offset], 0xFF);
        EXPECT_EQ(t[tb.offset + 1], 0xC4);
        const size_t length = size_t(t[tb.offset + 2]) << 8 | t[tb.offset + 3];
        EXPECT_EQ(length, size_t(3 + 16 + tb.values));
        EXPECT_EQ(t[tb.offset + 4], tb.classAndId);
        int count = 0;
        for (int i = 0; i < 16; ++i)
            count += t[tb.offset + 5 + i];
        EXPECT_EQ(count, tb.values);
        end = tb.offset + 2 + length;
    }
    EXPECT_EQ(end, 452u);
}

// Saving over an existing, longer file replaces it completely.
TEST_F(ImageFiles, ReplacesAnExistingFile) {
    writeFileBytes(dir_ / "old.bmp", std::vector<uint8_t>(5000, 0x77));
    writeFileBytes(dir_ / "old.jpg", std::vector<uint8_t>(5000, 0x77));
    const auto pixels = pattern(6, 1);
    ASSERT_EQ(ix::codec::saveBmpA(pathA("old.bmp").c_str(), pixels.data(), 6, nullptr, 0), 0);
    EXPECT_EQ(readAll(dir_ / "old.bmp").size(), 20u);
    const auto frame = pattern(100, 0);
    ASSERT_EQ(ix::codec::saveJpgW(pathW(u"old.jpg").c_str(), frame.data(), 100), 0);
    EXPECT_EQ(readAll(dir_ / "old.jpg").size(), 476u);
}

// Arguments that cannot describe what to write are refused before the file is
// created, so an existing file of that name keeps its bytes.
TEST_F(ImageFiles, RefusesBadArgumentsAndKeepsTheOldFile) {
    const std::vector<uint8_t> old(300, 0x33);
    writeFileBytes(dir_ / "keep.bin", old);
    const std::string a = pathA("keep.bin");
    const std::u16string w = pathW(u"keep.bin");
    const auto bytes = pattern(200, 0);
    const int32_t bad = ix::codec::kInvalidParameter;
    struct Case {
        const char *what;
        int32_t result;
    } cases[] = {
        {"jpeg 75 bytes", ix::codec::saveJpgA(a.c_str(), bytes.data(), 75)},
        {"jpeg 0 bytes", ix::codec::saveJpgA(a.c_str(), bytes.data(), 0)},
        {"jpeg negative", ix::codec::saveJpgW(w.c_str(), bytes.data(), -1)},
        {"jpeg INT32_MIN", ix::codec::saveJpgA(a.c_str(), bytes.data(), INT32_MIN)},
        {"jpeg null frame", ix::codec::saveJpgA(a.c_str(), nullptr, 100)},
        {"jpeg wide 75", ix::codec::saveJpgW(w.c_str(), bytes.data(), 75)},
        {"bmp negative pixels", ix::codec::saveBmpA(a.c_str(), bytes.data(), -5, bytes.data(), 40)},
        {"bmp negative header", ix::codec::saveBmpW(w.c_str(), bytes.data(), 10, bytes.data(), -40)},
        {"bmp null pixels", ix::codec::saveBmpA(a.c_str(), nullptr, 10, bytes.data(), 40)},
        {"bmp null header", ix::codec::saveBmpA(a.c_str(), bytes.data(), 10, nullptr, 40)},
        {"bmp size past 32 bits", ix::codec::saveBmpA(a.c_str(), bytes.data(), INT32_MAX, bytes.data(), INT32_MAX)},
        {"null name", ix::codec::saveBmpA(nullptr, bytes.data(), 10, nullptr, 0)},
        {"null wide name", ix::codec::saveJpgW(nullptr, bytes.data(), 100)},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.result, bad) << c.what;
    EXPECT_EQ(readAll(dir_ / "keep.bin"), old);
}

// The operating system's own code comes back when the file cannot be created.
TEST_F(ImageFiles, CreateFailureReturnsTheSystemCode) {
#ifdef _WIN32
    const int32_t pathNotFound = 3; // ERROR_PATH_NOT_FOUND
#else
    const int32_t pathNotFound = 2; // ENOENT
#endif
    const auto bytes = pattern(100, 0);
    EXPECT_EQ(ix::codec::saveBmpA(pathA("missing/x.bmp").c_str(), bytes.data(), 10, nullptr, 0), pathNotFound);
    EXPECT_EQ(ix::codec::saveJpgW(pathW(u"missing/x.jpg").c_str(), bytes.data(), 100), pathNotFound);
    EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

#ifdef __linux__
// A write that fails gives its own code (the create succeeded).
TEST(ImageFilesLinux, WriteFailureReturnsTheSystemCode) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    const auto bytes = pattern(100, 0);
    EXPECT_EQ(ix::codec::saveBmpA("/dev/full", bytes.data(), 100, bytes.data(), 40), 28); // ENOSPC
    EXPECT_EQ(ix::codec::saveJpgA("/dev/full", bytes.data(), 100), 28);
}
#endif

#ifdef _WIN32
// Another program holding the file open without sharing: 32, the sharing
// violation, from every writer, and the holder's file is left alone.
TEST_F(ImageFiles, SharingViolationWhileAnotherHolderHasTheFile) {
    const fs::path path = dir_ / "held.bmp";
    HANDLE holder = CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(holder, "held", 4, &written, nullptr));
    const auto bytes = pattern(100, 0);
    const std::string a = path.string();
    const std::u16string w = pathW(u"held.bmp");
    EXPECT_EQ(ix::codec::saveBmpA(a.c_str(), bytes.data(), 10, nullptr, 0), 32);
    EXPECT_EQ(ix::codec::saveBmpW(w.c_str(), bytes.data(), 10, nullptr, 0), 32);
    EXPECT_EQ(ix::codec::saveJpgA(a.c_str(), bytes.data(), 100), 32);
    EXPECT_EQ(ix::codec::saveJpgW(w.c_str(), bytes.data(), 100), 32);
    CloseHandle(holder);
    EXPECT_EQ(readAll(path), (std::vector<uint8_t>{'h', 'e', 'l', 'd'}));
}
#endif

// The in-memory JPEG file of a frame: the same bytes a saved file holds, 8 for
// a destination one byte short, 1 for a frame shorter than its prefix.
TEST(JpegInMemory, ComposesOrRefuses) {
    const auto frame = pattern(300, 9);
    std::vector<uint8_t> out(300 + 376 + 16, 0xA5);
    uint32_t written = 0;
    EXPECT_EQ(ix::codec::composeJpegFile(out.data(), 675, frame.data(), 300, &written), 8);
    EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 0xA5));
    EXPECT_EQ(ix::codec::composeJpegFile(out.data(), 676, frame.data(), 75, &written), 1);
    ASSERT_EQ(ix::codec::composeJpegFile(out.data(), 676, frame.data(), 300, &written), 0);
    EXPECT_EQ(written, 676u);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 452, ix::codec::JfifHeaderTemplate.begin()));
    EXPECT_TRUE(std::equal(frame.begin() + 76, frame.end(), out.begin() + 452));
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 676, out.end()), std::vector<uint8_t>(16, 0xA5));
}

} // namespace
