// IxDecompressMjpg through the C API: every format, the size and format
// checks, and the decoder shared with another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "library/codec/pixel_convert.h"
#include "library/include/IxiLumo.h"
#include "sim/encoder/mjpeg_encoder.h"
#include "support/sim_fixture.h"

namespace {

std::vector<uint8_t> gradientYuy2(int w, int h) {
    std::vector<uint8_t> f(size_t(w) * h * 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            f[(size_t(y) * w + x) * 2] = uint8_t((x * 3 + y * 5) & 0xFF);
            f[(size_t(y) * w + x) * 2 + 1] = uint8_t(x & 1 ? 100 + y % 50 : 150 - x % 40);
        }
    return f;
}

class Decompress : public ::testing::Test {
protected:
    void SetUp() override {
        ixtest::useSimulator();
        ASSERT_EQ(IxOpen(), IX_OK);
        frame = ix::sim::EncodeMjpegFrame(gradientYuy2(w, h).data(), w, h, 90);
        ASSERT_GT(frame.size(), 76u);
    }
    void TearDown() override { IxClose(); }
    const int w = 64, h = 48;
    std::vector<uint8_t> frame;
};

} // namespace

TEST(DecompressClosed, FormatIsCheckedFirstAndNoDecoderMeansFailure) {
    IxClose();
    uint8_t out[16];
    const uint8_t soi[] = {0xFF, 0xD8, 0xFF, 0xD9};
    EXPECT_EQ(IxDecompressMjpg(out, sizeof out, soi, sizeof soi, 3), IX_ERR_RANGE);
    EXPECT_EQ(IxDecompressMjpg(out, sizeof out, soi, sizeof soi, 2), IX_ERR_FAILED);
}

TEST_F(Decompress, EveryFormatMatchesTheYuy2DecodeConverted) {
    std::vector<uint8_t> yuy2(size_t(w) * h * 2);
    ASSERT_EQ(IxDecompressMjpg(yuy2.data(), int32_t(yuy2.size()), frame.data(), int32_t(frame.size()), 7), IX_OK);
    std::vector<uint8_t> alt(yuy2.size());
    ASSERT_EQ(IxDecompressMjpg(alt.data(), int32_t(alt.size()), frame.data(), int32_t(frame.size()), 21), IX_OK);
    EXPECT_EQ(alt, yuy2);
    // The decode is close to the picture that was encoded.
    auto source = gradientYuy2(w, h);
    int worst = 0;
    for (size_t i = 0; i < yuy2.size(); i += 2) worst = std::max(worst, std::abs(int(yuy2[i]) - int(source[i])));
    EXPECT_LT(worst, 24);

    const struct {
        int format;
        int bpp;
    } formats[] = {{1, 4}, {2, 3}, {4, 2}, {6, 1}};
    for (auto f : formats) {
        size_t bytes = size_t(w) * h * f.bpp;
        std::vector<uint8_t> out(bytes + 16, 0xA5), expected(bytes);
        ASSERT_EQ(IxDecompressMjpg(out.data(), int32_t(bytes), frame.data(), int32_t(frame.size()), f.format), IX_OK)
            << f.format;
        ix::codec::converterFor(f.format)(expected.data(), w, h, yuy2.data());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin())) << f.format;
        for (size_t i = bytes; i < out.size(); ++i) ASSERT_EQ(out[i], 0xA5) << "guard, format " << f.format;
        // One byte short: refused, nothing written.
        std::vector<uint8_t> small(bytes - 1, 0x5A);
        EXPECT_EQ(IxDecompressMjpg(small.data(), int32_t(small.size()), frame.data(), int32_t(frame.size()),
                                   f.format),
                  IX_ERR_BUFFER_SMALL);
        EXPECT_EQ(small[0], 0x5A);
    }
}

TEST_F(Decompress, MalformedInputIsRefusedWithoutReadingPastIt) {
    std::vector<uint8_t> out(size_t(w) * h * 2);
    // Cut inside the headers, at every length up to the first scan byte.
    for (size_t n = 0; n < 76 + 140 && n < frame.size(); ++n) {
        std::vector<uint8_t> cut(frame.begin(), frame.begin() + long(n));
        int r = IxDecompressMjpg(out.data(), int32_t(out.size()), cut.empty() ? nullptr : cut.data(),
                                 int32_t(cut.size()), 7);
        EXPECT_TRUE(r == IX_ERR_FAILED || r == IX_OK) << n;
    }
    // A complete JFIF file carries Huffman tables: not the camera's form.
    std::vector<uint8_t> jfif = {0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x02};
    EXPECT_EQ(IxDecompressMjpg(out.data(), int32_t(out.size()), jfif.data(), int32_t(jfif.size()), 7), IX_ERR_FAILED);
    EXPECT_EQ(IxDecompressMjpg(out.data(), -1, frame.data(), int32_t(frame.size()), 7), IX_ERR_BUFFER_SMALL);
    // The decoder is still usable afterwards.
    EXPECT_EQ(IxDecompressMjpg(out.data(), int32_t(out.size()), frame.data(), int32_t(frame.size()), 7), IX_OK);
}

TEST_F(Decompress, TwoThreadsShareTheDecoder) {
    std::vector<uint8_t> reference(size_t(w) * h * 2);
    ASSERT_EQ(IxDecompressMjpg(reference.data(), int32_t(reference.size()), frame.data(), int32_t(frame.size()), 7),
              IX_OK);
    std::atomic<int> mismatches{0};
    auto work = [&] {
        std::vector<uint8_t> out(reference.size());
        for (int i = 0; i < 200; ++i) {
            if (IxDecompressMjpg(out.data(), int32_t(out.size()), frame.data(), int32_t(frame.size()), 7) != IX_OK ||
                out != reference)
                ++mismatches;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(mismatches.load(), 0);
}
