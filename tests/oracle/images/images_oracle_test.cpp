// Files the writers produce, opened by readers we did not write.
#include "library/codec/image_files.h"
#include "library/codec/pixel_convert.h"
#include "tests/unit/mjpeg/frame_tools.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> readAll(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs a command line; its standard output, when asked for, goes to `out`.
int run(const std::string &command, std::string *out = nullptr) {
    if (out == nullptr)
        return std::system(command.c_str());
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return -1;
    char buffer[256];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out->append(buffer, n);
    return pclose(pipe);
}

std::string quote(const fs::path &p) {
    std::string q(1, '\'');
    q += p.string();
    q += '\'';
    return q;
}

// Several build trees run these tests on one machine at once; the process id
// keeps their folders apart.
class Readers : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               (std::string("ixlumo_oracle_") + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                "_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    fs::path dir_;
};

// A YUY2 scene with every kind of content a camera frame has: smooth ramps of
// luminance and both chrominances, saturated corners (so clamping shows), two
// dark discs with bright glints, and a band of noise.
std::vector<uint8_t> yuy2Scene(int w, int h) {
    std::mt19937 rng(1234);
    std::vector<uint8_t> v(size_t(w) * h * 2);
    for (int y = 0; y < h; ++y)
        for (int p = 0; p < w / 2; ++p) {
            uint8_t *q = &v[(size_t(y) * w + 2 * p) * 2];
            int x = 2 * p;
            auto luma = [&](int xx) {
                int l = 40 + 180 * xx / w;
                for (int e = 0; e < 2; ++e) {
                    const double cx = w * (e ? 0.72 : 0.28), cy = h * 0.5;
                    const double d = std::hypot(xx - cx, y - cy);
                    if (d < h * 0.12)
                        l = 20;
                    if (std::hypot(xx - cx - h * 0.03, y - cy + h * 0.03) < h * 0.025)
                        l = 250;
                }
                if (y > h * 0.85)
                    l = int(rng() % 256);
                return uint8_t(l);
            };
            q[0] = luma(x);
            q[1] = uint8_t(255 * y / (h - 1));
            q[2] = luma(x + 1);
            q[3] = uint8_t(255 * p / (w / 2 - 1));
        }
    return v;
}

void putLe(std::vector<uint8_t> &b, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}

// The application builds the information header; these are the four shapes an
// application uses for the converters' outputs.
std::vector<uint8_t> infoHeader(int w, int h, int bitCount) {
    std::vector<uint8_t> b;
    const uint32_t compression = bitCount == 16 ? 3 : 0; // BI_BITFIELDS for RGB565, else BI_RGB
    putLe(b, 40, 4);
    putLe(b, uint32_t(w), 4);
    putLe(b, uint32_t(h), 4); // positive: rows bottom-up, as the converters write them
    putLe(b, 1, 2);
    putLe(b, uint32_t(bitCount), 2);
    putLe(b, compression, 4);
    putLe(b, uint32_t(w * h * bitCount / 8), 4);
    putLe(b, 2835, 4);
    putLe(b, 2835, 4);
    putLe(b, bitCount == 8 ? 256 : 0, 4);
    putLe(b, 0, 4);
    if (bitCount == 16) {
        putLe(b, 0xF800, 4);
        putLe(b, 0x07E0, 4);
        putLe(b, 0x001F, 4);
    }
    if (bitCount == 8)
        for (uint32_t i = 0; i < 256; ++i)
            putLe(b, i | i << 8 | i << 16, 4);
    return b;
}

// Each converter's output saved as a bitmap; ImageMagick reads it back, top
// row first, and every pixel matches the source row of the same number.
TEST_F(Readers, BitmapsOfEveryConverterOpenInImageMagick) {
    const std::string convert = IX_MAGICK_CONVERT, identify = IX_MAGICK_IDENTIFY;
    if (convert.empty() || identify.empty())
        GTEST_SKIP() << "ImageMagick not installed";
    const int w = 64, h = 48; // rows of every depth are whole multiples of 4 bytes
    const auto yuy2 = yuy2Scene(w, h);
    struct Case {
        const char *name;
        int bitCount;
        ix::codec::ConvertFn convert;
    } cases[] = {
        {"bgr24", 24, ix::codec::ConvertYuy2ToBgr24},
        {"bgrx32", 32, ix::codec::ConvertYuy2ToBgrx32},
        {"rgb565", 16, ix::codec::ConvertYuy2ToRgb565},
        {"grey8", 8, ix::codec::ConvertYuy2ToGrey8},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const int bpp = c.bitCount / 8;
        std::vector<uint8_t> pixels(size_t(w) * h * bpp);
        c.convert(pixels.data(), w, h, yuy2.data());
        const auto info = infoHeader(w, h, c.bitCount);
        const fs::path bmp = dir_ / (std::string(c.name) + ".bmp");
        ASSERT_EQ(ix::codec::saveBmpA(bmp.string().c_str(), pixels.data(), int32_t(pixels.size()), info.data(),
                                      int32_t(info.size())),
                  0);

        // ImageMagick names a bitmap with a 40-byte header "BMP3".
        std::string dims;
        ASSERT_EQ(run(identify + " -format '%m %w %h' " + quote(bmp), &dims), 0);
        EXPECT_EQ(dims, "BMP3 64 48");

        const fs::path raw = dir_ / (std::string(c.name) + ".rgb");
        ASSERT_EQ(run(convert + " " + quote(bmp) + " -depth 8 rgb:" + quote(raw)), 0);
        const auto rgb = readAll(raw);
        ASSERT_EQ(rgb.size(), size_t(w) * h * 3);
        int mismatches = 0;
        for (int y = 0; y < h && mismatches < 5; ++y)
            for (int x = 0; x < w && mismatches < 5; ++x) {
                const uint8_t *got = &rgb[(size_t(y) * w + x) * 3];
                // Picture row y is storage row h - 1 - y, made from source row y.
                const uint8_t *px = &pixels[(size_t(h - 1 - y) * w + x) * bpp];
                bool same;
                if (c.bitCount == 8) {
                    same = got[0] == px[0] && got[1] == px[0] && got[2] == px[0];
                    if (px[0] != yuy2[(size_t(y) * w + x) * 2])
                        same = false;
                } else if (c.bitCount == 16) {
                    // The reader widens 5 and 6 bits to 8 its own way; the fields come back.
                    const unsigned word = px[0] | px[1] << 8;
                    same = (got[0] >> 3) == (word >> 11) && (got[1] >> 2) == ((word >> 5) & 63) &&
                           (got[2] >> 3) == (word & 31);
                } else {
                    same = got[0] == px[2] && got[1] == px[1] && got[2] == px[0];
                    // And the colour is the source pixel's: within a few steps of the
                    // textbook full-range BT.601 conversion of source row y.
                    const size_t pair = (size_t(y) * w + size_t(x & ~1)) * 2;
                    const double Y = yuy2[(size_t(y) * w + x) * 2], u = yuy2[pair + 1] - 128.0,
                                 v = yuy2[pair + 3] - 128.0;
                    const double ref[3] = {Y + 1.402 * v, Y - 0.344136 * u - 0.714136 * v, Y + 1.772 * u};
                    for (int k = 0; k < 3; ++k)
                        if (std::fabs(std::clamp(ref[k], 0.0, 255.0) - got[k]) > 8)
                            same = false;
                }
                if (!same) {
                    ++mismatches;
                    ADD_FAILURE() << "pixel (" << x << ", " << y << "): reader " << int(got[0]) << " " << int(got[1])
                                  << " " << int(got[2]);
                }
            }
    }
}

struct Jpeg {
    std::vector<uint8_t> bytes;
};

Jpeg compressWithLibjpegTurbo(int w, int h, int quality) {
    std::vector<uint8_t> rgb(size_t(w) * h * 3);
    std::vector<uint8_t> yuy2 = yuy2Scene(w, h);
    std::vector<uint8_t> bgr(rgb.size());
    ix::codec::ConvertYuy2ToBgr24(bgr.data(), w, h, yuy2.data());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < 3; ++k)
                rgb[(size_t(y) * w + x) * 3 + k] = bgr[(size_t(h - 1 - y) * w + x) * 3 + 2 - k];
    tjhandle tj = tjInitCompress();
    unsigned char *out = nullptr;
    unsigned long size = 0;
    // 4:2:2 with the standard Huffman tables (no optimisation): the camera's form.
    const int rc = tjCompress2(tj, rgb.data(), w, 0, h, TJPF_RGB, &out, &size, TJSAMP_422, quality, 0);
    Jpeg j;
    if (rc == 0)
        j.bytes.assign(out, out + size);
    tjFree(out);
    tjDestroy(tj);
    return j;
}

using ix::test::Segment;

// The camera's form of a libjpeg-turbo JPEG: start of image, its 18-byte JFIF
// APP0, a 56-byte comment (76 bytes so far), then everything but the Huffman
// tables, which the camera leaves out.
std::vector<uint8_t> cameraFrame(const std::vector<uint8_t> &j) {
    const auto segs = ix::test::segmentsOf(j);
    std::vector<uint8_t> f{0xFF, 0xD8};
    for (const Segment &s : segs)
        if (s.marker == 0xFFE0) {
            EXPECT_EQ(s.size, 18u);
            f.insert(f.end(), j.begin() + s.offset, j.begin() + s.offset + s.size);
        }
    const std::string text = "CorvelLumo camera frame, comment pads the prefix to 76";
    std::vector<uint8_t> com{0xFF, 0xFE, 0x00, 54};
    for (size_t i = 0; i < 52; ++i)
        com.push_back(i < text.size() ? uint8_t(text[i]) : uint8_t(' '));
    f.insert(f.end(), com.begin(), com.end());
    EXPECT_EQ(f.size(), 76u);
    for (const Segment &s : segs)
        if (s.marker != 0xFFE0 && s.marker != 0xFFC4 && s.marker != 0xFFDA)
            f.insert(f.end(), j.begin() + s.offset, j.begin() + s.offset + s.size);
    f.insert(f.end(), j.begin() + segs.back().offset, j.end()); // scan header, data, end of image
    return f;
}

std::vector<uint8_t> decodeRgb(const std::vector<uint8_t> &j, int &w, int &h) {
    tjhandle tj = tjInitDecompress();
    int sub = 0, cs = 0;
    std::vector<uint8_t> rgb;
    if (tjDecompressHeader3(tj, j.data(), j.size(), &w, &h, &sub, &cs) == 0) {
        rgb.resize(size_t(w) * h * 3);
        if (tjDecompress2(tj, j.data(), j.size(), rgb.data(), w, 0, h, TJPF_RGB, 0) != 0)
            rgb.clear();
    }
    tjDestroy(tj);
    return rgb;
}

// The template's Huffman segments are byte for byte the ones libjpeg-turbo
// writes for its default (T.81 Annex K) tables, in the same order.
TEST_F(Readers, TemplateTablesAreLibjpegTurbosStandardTables) {
    const Jpeg j = compressWithLibjpegTurbo(32, 16, 75);
    ASSERT_FALSE(j.bytes.empty());
    std::vector<uint8_t> dht;
    for (const Segment &s : ix::test::segmentsOf(j.bytes))
        if (s.marker == 0xFFC4)
            dht.insert(dht.end(), j.bytes.begin() + s.offset, j.bytes.begin() + s.offset + s.size);
    EXPECT_EQ(dht, std::vector<uint8_t>(ix::codec::JfifHeaderTemplate.begin() + 20, ix::codec::JfifHeaderTemplate.end()));
    // And the APP0 is the one libjpeg-turbo writes by default (JFIF 1.01, 1:1).
    EXPECT_EQ(std::vector<uint8_t>(j.bytes.begin(), j.bytes.begin() + 20),
              std::vector<uint8_t>(ix::codec::JfifHeaderTemplate.begin(), ix::codec::JfifHeaderTemplate.begin() + 20));
}

// A camera frame saved as JPEG opens in libjpeg-turbo, djpeg and ImageMagick
// and shows exactly the pixels of the JPEG it was made from.
TEST_F(Readers, SavedCameraFramesDecodeToTheOriginalPixels) {
    const struct {
        int w, h, quality;
    } cases[] = {{320, 240, 85}, {64, 48, 50}, {160, 128, 95}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h) + " q" + std::to_string(c.quality));
        const Jpeg original = compressWithLibjpegTurbo(c.w, c.h, c.quality);
        ASSERT_FALSE(original.bytes.empty());
        const auto frame = cameraFrame(original.bytes);
        const fs::path file = dir_ / ("frame_" + std::to_string(c.w) + ".jpg");
        ASSERT_EQ(ix::codec::saveJpgA(file.string().c_str(), frame.data(), int32_t(frame.size())), 0);
        const auto saved = readAll(file);
        ASSERT_EQ(saved.size(), frame.size() + 376);

        int w0 = 0, h0 = 0, w1 = 0, h1 = 0;
        const auto want = decodeRgb(original.bytes, w0, h0);
        const auto got = decodeRgb(saved, w1, h1);
        ASSERT_FALSE(got.empty()) << "libjpeg-turbo could not decode the saved file";
        EXPECT_EQ(w1, c.w);
        EXPECT_EQ(h1, c.h);
        EXPECT_TRUE(got == want) << "libjpeg-turbo decodes other pixels";

        const std::string djpeg = IX_DJPEG;
        if (!djpeg.empty()) {
            const fs::path a = dir_ / "saved.ppm", b = dir_ / "original.ppm", o = dir_ / "original.jpg";
            std::ofstream(o, std::ios::binary)
                .write(reinterpret_cast<const char *>(original.bytes.data()), std::streamsize(original.bytes.size()));
            ASSERT_EQ(run(djpeg + " -ppm -outfile " + quote(a) + " " + quote(file)), 0);
            ASSERT_EQ(run(djpeg + " -ppm -outfile " + quote(b) + " " + quote(o)), 0);
            const auto pa = readAll(a), pb = readAll(b);
            EXPECT_GT(pa.size(), size_t(c.w) * c.h * 3);
            EXPECT_TRUE(pa == pb) << "djpeg decodes other pixels";
        }
        const std::string identify = IX_MAGICK_IDENTIFY;
        if (!identify.empty()) {
            std::string info;
            ASSERT_EQ(run(identify + " -format '%m %w %h' " + quote(file), &info), 0);
            EXPECT_EQ(info, "JPEG " + std::to_string(c.w) + " " + std::to_string(c.h));
        }
    }
}

} // namespace
