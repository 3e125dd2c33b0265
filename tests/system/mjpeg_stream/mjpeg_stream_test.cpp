#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "library/core/context.h"
#include "library/include/IxiLumo.h"
#include "support/sim_fixture.h"

namespace {

constexpr uint16_t kPreset640x480 = 6;

std::vector<uint8_t> grab(bool compressed, uint16_t format, size_t bytes) {
    EXPECT_EQ(IxSetControlValue(IX_CTL_STREAM_MODE, 0, 2), IX_OK);
    EXPECT_EQ(IxSetControlValue(IX_CTL_COMPRESSED, compressed ? 1 : 0, 2), IX_OK);
    EXPECT_EQ(IxSetControlValue(IX_CTL_PIXEL_FORMAT, format, 2), IX_OK);
    EXPECT_EQ(IxSetControlValue(IX_CTL_STREAM_MODE, 1, 2), IX_OK);
    std::vector<uint8_t> out(bytes + 64, 0xC3);
    uint32_t got = 0;
    EXPECT_EQ(IxGetImage(out.data(), uint32_t(bytes), &got), IX_OK);
    EXPECT_EQ(got, bytes);
    for (size_t i = bytes; i < out.size(); ++i) EXPECT_EQ(out[i], 0xC3) << "guard byte " << i - bytes;
    out.resize(bytes);
    return out;
}

class MjpegStream : public ::testing::Test {
protected:
    void SetUp() override {
        trace = ixtest::useSimulator("quality=92");
        ASSERT_EQ(IxOpen(), IX_OK);
        ASSERT_EQ(IxSetControlValue(IX_CTL_RESOLUTION, kPreset640x480, 2), IX_OK);
        // The same light for both pictures: no exposure loop between them.
        ASSERT_EQ(IxSetControlValue(IX_CTL_AUTO_MODE, 0, 2), IX_OK);
    }
    void TearDown() override { IxClose(); }
    std::string trace;
};

} // namespace

TEST_F(MjpegStream, CompressedFramesDecodeToThePictureInEveryFormat) {
    const size_t w = 640, h = 480;
    auto plain = grab(false, IX_FORMAT_GREY8, w * h);
    auto decoded = grab(true, IX_FORMAT_GREY8, w * h);
    // Lossy, but the same picture: small differences only.
    long total = 0;
    int worst = 0;
    for (size_t i = 0; i < plain.size(); ++i) {
        int d = std::abs(int(plain[i]) - int(decoded[i]));
        total += d;
        worst = std::max(worst, d);
    }
    EXPECT_LT(double(total) / plain.size(), 3.0);
    EXPECT_LT(worst, 80);

    // The camera was told to compress, and each read asks for w x h x 3 bytes.
    bool compressedStart = false, bigSlots = false;
    for (const auto &l : ixtest::readTrace(trace)) {
        compressedStart = compressedStart || (l.op == "set" && l.reg == 10 && l.value == 16);
        bigSlots = bigSlots || (l.op == "read" && l.len == long(w * h * 3) && l.ok);
    }
    EXPECT_TRUE(compressedStart);
    EXPECT_TRUE(bigSlots);

    // The other formats come through the same decode.
    EXPECT_EQ(grab(true, IX_FORMAT_YUY2, w * h * 2).size(), w * h * 2);
    EXPECT_EQ(grab(true, IX_FORMAT_YUY2_ALT, w * h * 2).size(), w * h * 2);
    EXPECT_EQ(grab(true, IX_FORMAT_BGR24, w * h * 3).size(), w * h * 3);
    EXPECT_EQ(grab(true, IX_FORMAT_RGB565, w * h * 2).size(), w * h * 2);
}

// A frame whose headers claim a larger picture than the stream was sized for
// is refused, and the caller's buffer keeps its bytes.
TEST_F(MjpegStream, FrameLargerThanTheStreamIsRefused) {
    const size_t w = 640, h = 480;
    grab(true, IX_FORMAT_YUY2, w * h * 2);
    auto &ctx = ix::context();
    ctx.sensorWidth = 320; // the library now expects smaller frames than the camera sends
    std::vector<uint8_t> out(w * h * 2, 0x77);
    uint32_t got = 0;
    EXPECT_EQ(IxGetImage(out.data(), uint32_t(out.size()), &got), IX_ERR_FAILED);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0x77; }));
}
