#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
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

namespace {

// One undecoded frame into a buffer of `capacity` bytes followed by a guard;
// returns the delivered bytes (empty on failure, with the guard checked).
std::vector<uint8_t> undecoded(int32_t format, uint32_t capacity, int32_t expectResult = IX_OK) {
    std::vector<uint8_t> out(size_t(capacity) + 64, 0xC3);
    uint32_t got = 0xDEADBEEF;
    EXPECT_EQ(IxGetMjpgImage(out.data(), capacity, &got, format), expectResult);
    for (size_t i = capacity; i < out.size(); ++i) EXPECT_EQ(out[i], 0xC3) << "guard byte " << i - capacity;
    if (expectResult != IX_OK) {
        EXPECT_TRUE(std::all_of(out.begin(), out.begin() + capacity, [](uint8_t b) { return b == 0xC3; }));
        return {};
    }
    EXPECT_LE(got, capacity);
    out.resize(std::min<size_t>(got, capacity));
    return out;
}

} // namespace

TEST_F(MjpegStream, UndecodedFramesAsSentAndAsJpegFiles) {
    const size_t w = 640, h = 480;
    const uint32_t room = 2560 * 1920 * 3;
    std::vector<uint8_t> buffer(room);
    uint32_t got = 0;
    // Nothing undecoded to give from a stopped or uncompressed stream, and
    // only the two undecoded formats are asked this way.
    EXPECT_EQ(IxGetMjpgImage(buffer.data(), room, &got, IX_FORMAT_MJPG), IX_ERR_STATE);
    grab(false, IX_FORMAT_GREY8, w * h);
    EXPECT_EQ(IxGetMjpgImage(buffer.data(), room, &got, IX_FORMAT_MJPG), IX_ERR_STATE);
    const auto decoded = grab(true, IX_FORMAT_GREY8, w * h);
    for (int32_t format : {0, 2, 6, 7, 12, 20, 21})
        EXPECT_EQ(IxGetMjpgImage(buffer.data(), room, &got, format), IX_ERR_NOT_ALLOWED) << format;
    EXPECT_EQ(IxGetMjpgImage(nullptr, room, &got, IX_FORMAT_MJPG), IX_ERR_FAILED);

    // As sent: a whole JPEG stream that the library's own decoder turns into
    // the picture IxGetImage delivers from the same (unchanging) scene.
    const auto sent = undecoded(IX_FORMAT_MJPG, room);
    ASSERT_GT(sent.size(), 600u);
    EXPECT_EQ(sent[0], 0xFF);
    EXPECT_EQ(sent[1], 0xD8);
    EXPECT_EQ(sent[sent.size() - 2], 0xFF);
    EXPECT_EQ(sent[sent.size() - 1], 0xD9);
    std::vector<uint8_t> grey(w * h);
    ASSERT_EQ(IxDecompressMjpg(grey.data(), int32_t(grey.size()), sent.data(), int32_t(sent.size()), IX_FORMAT_GREY8),
              IX_OK);
    EXPECT_EQ(grey, decoded);
    int32_t lastBytes = 0;
    uint16_t last[2] = {};
    ASSERT_EQ(IxGetControlValue(IX_CTL_LAST_FRAME_BYTES, last, sizeof last, &lastBytes), IX_OK);
    EXPECT_EQ(uint32_t(last[0]) | uint32_t(last[1]) << 16, sent.size());

    // As a file: 376 bytes longer, and byte for byte what IxSaveJpgA writes
    // for the frame as sent.
    const auto file = undecoded(IX_FORMAT_JPEG_FILE, room);
    ASSERT_EQ(file.size(), sent.size() + 376);
    const std::string name = ixtest::tempPath("undecoded.jpg");
    ASSERT_EQ(IxSaveJpgA(name.c_str(), sent.data(), int32_t(sent.size())), 0);
    std::ifstream in(name, std::ios::binary);
    std::vector<uint8_t> saved((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(saved, file);
    std::remove(name.c_str());

    // A buffer one byte short gets nothing; one of the exact size is enough.
    undecoded(IX_FORMAT_MJPG, uint32_t(sent.size() - 1), IX_ERR_BUFFER_SMALL);
    undecoded(IX_FORMAT_JPEG_FILE, uint32_t(file.size() - 1), IX_ERR_BUFFER_SMALL);
    EXPECT_EQ(undecoded(IX_FORMAT_MJPG, uint32_t(sent.size())).size(), sent.size());
    EXPECT_EQ(undecoded(IX_FORMAT_JPEG_FILE, uint32_t(file.size())).size(), file.size());
}
