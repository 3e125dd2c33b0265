#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "library/core/channel.h"
#include "library/core/context.h"
#include "library/include/IxiLumo.h"
#include "platform/sys.h"
#include "support/sim_fixture.h"

using ixtest::readTrace;
using ixtest::TraceLine;
using ixtest::useSimulator;

namespace {

struct Req {
    const char *op;
    int reg;
    long value; // -1: any
};

bool matches(const TraceLine &t, const Req &r) {
    return t.op == r.op && t.reg == r.reg && (r.value < 0 || t.value == r.value);
}

std::string describe(const std::vector<TraceLine> &trace, size_t from, size_t to) {
    std::string s;
    for (size_t i = from; i < to && i < trace.size(); ++i) s += trace[i].raw + "\n";
    return s;
}

// Index of the first line at or after `from` matching r, or npos.
size_t find(const std::vector<TraceLine> &trace, size_t from, const Req &r) {
    for (size_t i = from; i < trace.size(); ++i)
        if (matches(trace[i], r)) return i;
    return std::string::npos;
}

class Foundation : public ::testing::Test {
protected:
    void TearDown() override { IxClose(); }
};

} // namespace

TEST_F(Foundation, CloseWithNothingOpenTouchesNoDevice) {
    std::string trace = useSimulator();
    EXPECT_EQ(IxClose(), IX_OK);
    EXPECT_EQ(IxClose(), IX_OK);
    EXPECT_TRUE(readTrace(trace).empty());
    // Every camera export refuses without an open camera.
    uint16_t v[2] = {};
    EXPECT_EQ(IxGetControlValue(IX_CTL_CHANNEL, v, 4, nullptr), IX_ERR_FAILED);
    EXPECT_EQ(IxGetControlValue(256, v, 4, nullptr), IX_ERR_FAILED);
    EXPECT_EQ(IxSetControlValue(IX_CTL_REG7, 3, 2), IX_ERR_FAILED);
    uint8_t frame[16];
    uint32_t got = 0;
    EXPECT_EQ(IxGetImage(frame, sizeof frame, &got), IX_ERR_FAILED);
    DualIrisRecord rec{};
    EXPECT_EQ(IxGetDualIrisImages(&rec), IX_ERR_FAILED);
}

// The whole conversation of an open and a close, in the camera's order.
TEST_F(Foundation, OpenAndCloseTalkToTheCameraInOrder) {
    std::string path = useSimulator();
    ASSERT_EQ(IxOpen(), IX_OK);
    ASSERT_EQ(IxClose(), IX_OK);
    auto t = readTrace(path);
    ASSERT_GT(t.size(), 20u);

    // Identity: device descriptor, languages, then the three strings.
    const int descriptorIndexes[][2] = {{1, 0}, {3, 0}, {3, 1}, {3, 2}, {3, 3}};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(t[i].op, "descriptor") << describe(t, 0, 8);
        EXPECT_EQ(t[i].type, descriptorIndexes[i][0]);
        EXPECT_EQ(t[i].index, descriptorIndexes[i][1]);
    }
    // Revision, firmware, then channel 0 is selected.
    EXPECT_TRUE(matches(t[5], {"get", 16, -1})) << t[5].raw;
    EXPECT_TRUE(matches(t[6], {"get", 8, -1})) << t[6].raw;
    EXPECT_TRUE(matches(t[7], {"set", 38, 0})) << t[7].raw;

    // The replay's fixed landmarks, in order.
    const Req replay[] = {{"set", 21, 0},  {"set", 46, 0},  {"get", 14, -1}, {"set", 58, 1},  {"set", 63, 148},
                          {"set", 52, 0},  {"set", 56, 400}, {"set", 69, 1}, {"set", 53, 2},  {"set", 54, 0},
                          {"set", 50, 0},  {"set", 87, 0},  {"set", 18, 0},  {"set", 59, 0},  {"get", 61, -1},
                          {"set", 75, 1},  {"set", 74, 1500}, {"set", 75, 0}};
    size_t at = 8;
    for (const Req &r : replay) {
        size_t next = find(t, at, r);
        ASSERT_NE(next, std::string::npos) << "missing " << r.op << " " << r.reg << " after line " << at << "\n"
                                           << describe(t, at, t.size());
        at = next + 1;
    }

    // After the replay: four discarded range reads, the defect table through
    // the indirect port, then the open-time writes.
    size_t range = find(t, at, {"get", 60, -1});
    ASSERT_NE(range, std::string::npos);
    size_t i = range;
    for (int k = 0; k < 4; ++k) EXPECT_TRUE(matches(t[i++], {"get", 60, -1})) << describe(t, range, range + 6);
    const Req defectAddress[] = {{"set", 64, 9}, {"set", 65, 512}, {"set", 64, 10}, {"set", 65, 2}, {"set", 64, 11}};
    for (const Req &r : defectAddress) EXPECT_TRUE(matches(t[i++], r)) << t[i - 1].raw;
    // Header words and the default list of channel 0 (11 words).
    size_t reads = 0;
    while (i < t.size() && matches(t[i], {"get", 65, -1})) ++reads, ++i;
    EXPECT_EQ(reads, 4u + 15u);
    const Req openTail[] = {{"set", 49, 160}, {"set", 64, 32}, {"set", 65, 53}, {"set", 64, 33}, {"set", 65, 24}};
    for (const Req &r : openTail) EXPECT_TRUE(matches(t[i++], r)) << t[i - 1].raw;

    // Close: stream off, then the quieting writes, and nothing after them.
    const Req close[] = {{"set", 6, 0}, {"set", 59, 0}, {"set", 18, 0}, {"set", 75, 0}, {"set", 23, 0}};
    ASSERT_EQ(t.size(), i + 5) << describe(t, i, t.size());
    for (const Req &r : close) EXPECT_TRUE(matches(t[i++], r)) << t[i - 1].raw;
    for (const TraceLine &line : t) EXPECT_TRUE(line.ok) << line.raw;
}

TEST_F(Foundation, OpenFillsIdentityAndDefaults) {
    useSimulator("fw=0203;revision=258;pid=3046");
    ASSERT_EQ(IxOpen(), IX_OK);
    uint16_t v[2] = {};
    auto get = [&](uint32_t id) {
        v[0] = 0xFFFF;
        EXPECT_EQ(IxGetControlValue(id, v, 4, nullptr), IX_OK) << id;
        return v[0];
    };
    EXPECT_EQ(get(IX_CTL_CHANNEL), 0);
    EXPECT_EQ(get(IX_CTL_PRODUCT_ID), 0x3046);
    EXPECT_EQ(get(IX_CTL_IDENTITY_WORD), 256);
    EXPECT_EQ(get(IX_CTL_FIRMWARE_VERSION), 0x0203);
    EXPECT_EQ(get(IX_CTL_REVISION), 258);
    auto &ctx = ix::context();
    EXPECT_EQ(ctx.firmwareVersion, 0x0203);
    for (auto &ch : ctx.channels) {
        EXPECT_EQ(ch.pixelFormat, 4);
        EXPECT_EQ(ch.streamMode, 0);
    }
    EXPECT_EQ(ctx.channels[0].baseRotation, 0);
    EXPECT_EQ(ctx.channels[1].baseRotation, 90);
    EXPECT_EQ(ctx.channels[1].exposureStart, 60);
    EXPECT_EQ(ctx.illuminationLevel, 80u);
    EXPECT_EQ(ctx.register49Shadow, 160u);
    EXPECT_EQ(ctx.locatorLevel, 500);
    EXPECT_EQ(ctx.rangeTargetSelect, 1);
    EXPECT_NE(ctx.eyeSearchArea, nullptr);
    EXPECT_NE(ctx.stream, nullptr);
    EXPECT_EQ(ctx.decoderReady, 1u);

    uint16_t wide[64] = {};
    int32_t n = -1;
    EXPECT_EQ(IxGetControlValue(IX_CTL_PRODUCT_W, wide, 0, &n), IX_OK);
    EXPECT_EQ(n, 2 * (10 + 1)); // "CorvelLumo" and its terminator
    char narrow[64] = {};
    EXPECT_EQ(IxGetControlValue(IX_CTL_PRODUCT_A, reinterpret_cast<uint16_t *>(narrow), sizeof narrow, &n), IX_OK);
    EXPECT_STREQ(narrow, "CorvelLumo");
}

TEST_F(Foundation, ExposureStartFollowsTheRevision) {
    const struct {
        int revision;
        int expected;
    } cases[] = {{257, 91}, {258, 140}, {100, 91}};
    for (auto c : cases) {
        useSimulator("revision=" + std::to_string(c.revision));
        ASSERT_EQ(IxOpen(), IX_OK);
        EXPECT_EQ(ix::context().channels[0].exposureStart, c.expected) << c.revision;
        IxClose();
    }
}

TEST_F(Foundation, SecondOpenIsAFreshOpen) {
    std::string trace = useSimulator();
    ASSERT_EQ(IxOpen(), IX_OK);
    ASSERT_EQ(IxSetControlValue(IX_CTL_REG7, 7, 2), IX_OK);
    ASSERT_EQ(IxSetControlValue(IX_CTL_CHANNEL, 1, 2), IX_OK);
    ASSERT_EQ(IxOpen(), IX_OK);
    uint16_t v[2] = {};
    EXPECT_EQ(IxGetControlValue(IX_CTL_CHANNEL, v, 4, nullptr), IX_OK);
    EXPECT_EQ(v[0], 0);
    EXPECT_EQ(IxGetControlValue(IX_CTL_REG7, v, 4, nullptr), IX_OK);
    EXPECT_EQ(v[0], 125);
    // The first camera was quieted before the second open started.
    auto t = readTrace(trace);
    size_t quiet = 0;
    for (size_t i = 0; i + 1 < t.size(); ++i)
        if (t[i].op == "set" && t[i].reg == 23 && t[i].value == 0 && t[i + 1].op == "descriptor") quiet = i;
    EXPECT_GT(quiet, 0u);
}

TEST_F(Foundation, ControlIdRangesAndChannelSelection) {
    std::string trace = useSimulator();
    uint16_t v[4] = {0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA};
    int32_t n = 77;
    EXPECT_EQ(IxGetControlValue(256, v, 8, &n), IX_ERR_FAILED);
    ASSERT_EQ(IxOpen(), IX_OK);
    EXPECT_EQ(IxGetControlValue(256, v, 8, &n), IX_ERR_NO_CONTROL);
    EXPECT_EQ(v[0], 0xAAAA); // nothing touched above 255
    EXPECT_EQ(n, 77);
    EXPECT_EQ(IxSetControlValue(300, 1, 2), IX_ERR_NO_CONTROL);

    size_t before = readTrace(trace).size();
    auto &ctx = ix::context();
    ctx.inBandFlag = 1;
    EXPECT_EQ(ix::SelectChannel(ctx, 2), 4);
    EXPECT_EQ(IxSetControlValue(IX_CTL_CHANNEL, 2, 2), IX_ERR_RANGE);
    EXPECT_EQ(ctx.channel, 0);
    EXPECT_EQ(ctx.inBandFlag, 1);
    EXPECT_EQ(readTrace(trace).size(), before);

    // Channel 1: its own extent and range target, and it clears the illumination shadow.
    EXPECT_EQ(IxSetControlValue(IX_CTL_CHANNEL, 1, 2), IX_OK);
    EXPECT_EQ(ctx.channel, 1);
    EXPECT_EQ(ctx.inBandFlag, 0);
    EXPECT_EQ(ctx.register49Shadow, 0u);
    EXPECT_EQ(ctx.channels[1].maxWidth, 2560); // turned: the sensor's height
    auto t = readTrace(trace);
    EXPECT_TRUE(t[before].op == "set" && t[before].reg == 38 && t[before].value == 1) << t[before].raw;
}

TEST_F(Foundation, CameraMissingLockedOrRefusingWinUsbFailsTheOpen) {
    for (const char *fault : {"fail=absent", "fail=denied", "fail=winusb"}) {
        std::string trace = useSimulator(fault);
        EXPECT_EQ(IxOpen(), IX_ERR_FAILED) << fault;
        EXPECT_FALSE(ix::context().connected);
        EXPECT_EQ(ix::context().transport.device, nullptr);
        uint16_t v[2] = {};
        EXPECT_EQ(IxGetControlValue(IX_CTL_CHANNEL, v, 4, nullptr), IX_ERR_FAILED);
        EXPECT_EQ(IxClose(), IX_OK);
    }
    // Not simulated and no real camera on this host: not found, no crash.
    ix::sys::setEnv("IXLUMO_SIMULATOR", nullptr);
#ifndef _WIN32
    EXPECT_EQ(IxOpen(), IX_ERR_FAILED);
#endif
}

TEST_F(Foundation, IdentityStringsEdgeCases) {
    // serial=none: the device has no serial-number string, so none is asked for;
    // an empty manufacturer string (bLength 2) gives an empty text.
    std::string trace = useSimulator("serial=none;manufacturer=");
    ASSERT_EQ(IxOpen(), IX_OK);
    auto &ctx = ix::context();
    EXPECT_EQ(ctx.serialNumber[0], 0);
    EXPECT_EQ(ctx.manufacturerName[0], 0);
    EXPECT_EQ(ctx.productName[0], u'C');
    for (const TraceLine &l : readTrace(trace)) EXPECT_FALSE(l.op == "descriptor" && l.index == 3) << l.raw;
    int32_t n = -1;
    uint16_t w[8] = {};
    EXPECT_EQ(IxGetControlValue(IX_CTL_SERIAL_W, w, 0, &n), IX_OK);
    EXPECT_EQ(n, 2);

    // A failing string read leaves just that string empty.
    useSimulator("fail=descriptor:3:3");
    ASSERT_EQ(IxOpen(), IX_OK);
    EXPECT_NE(ctx.manufacturerName[0], 0);
    EXPECT_EQ(ctx.productName[0], 0);
    EXPECT_NE(ctx.serialNumber[0], 0);
}

TEST_F(Foundation, DefectTableIsReadAtSelection) {
    useSimulator();
    ASSERT_EQ(IxOpen(), IX_OK);
    auto &ctx = ix::context();
    // The factory list of channel 0: two groups.
    EXPECT_EQ(ctx.channels[0].defectTable[0], 2);
    EXPECT_EQ(ctx.channels[0].defectTable[1], 2560);
    EXPECT_EQ(ctx.channels[0].defectTable[2], 3);
    EXPECT_EQ(ctx.channels[0].defectTable[14], 450);
    EXPECT_EQ(ctx.channels[0].defectTable[15], 0);
    ASSERT_EQ(IxSetControlValue(IX_CTL_CHANNEL, 1, 2), IX_OK);
    EXPECT_EQ(ctx.channels[1].defectTable[1], 2560);
    EXPECT_EQ(ctx.channels[1].defectTable[3], 300);
}

TEST_F(Foundation, DefectTableWithBadHeaderOrCountStaysEmpty) {
    // Flash images whose channel-0 list is damaged in one way each.
    struct Case {
        uint32_t wordIndex;
        uint16_t value;
    } cases[] = {{0, 0x4451}, {1, 0x0000}, {2, 0x0200}, {3, 2045}};
    for (const Case &c : cases) {
        std::string flash = ixtest::tempPath("flash") + ".bin";
        std::vector<uint8_t> image(1u << 20, 0xFF);
        const uint16_t words[] = {0x4450, 0x4354, 0x0100, 3, 1, 2560, 0};
        for (size_t i = 0; i < 7; ++i) {
            uint16_t w = i == c.wordIndex ? c.value : words[i];
            image[0x20200 + 2 * i] = uint8_t(w & 0xFF);
            image[0x20200 + 2 * i + 1] = uint8_t(w >> 8);
        }
        FILE *f = std::fopen(flash.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(image.data(), 1, image.size(), f), image.size());
        std::fclose(f);
        useSimulator("flash=" + flash);
        ASSERT_EQ(IxOpen(), IX_OK);
        auto &table = ix::context().channels[0].defectTable;
        for (uint16_t w : table) ASSERT_EQ(w, 0) << "case " << c.wordIndex;
        IxClose();
        std::remove(flash.c_str());
    }
}

TEST_F(Foundation, ControlWritesAreRefusedPastTheValueCopy) {
    std::string trace = useSimulator();
    ASSERT_EQ(IxOpen(), IX_OK);
    size_t before = readTrace(trace).size();
    // A generic block write through the 4-byte value copy cannot send more.
    EXPECT_EQ(IxSetControlValue(IX_CTL_INDIRECT_DATA, 0x11223344, 8), IX_ERR_RANGE);
    EXPECT_EQ(readTrace(trace).size(), before);
    // Two bytes: a plain write of the low word; four: a block of four bytes.
    EXPECT_EQ(IxSetControlValue(IX_CTL_INDIRECT_DATA, 0x11223344, 2), IX_OK);
    EXPECT_EQ(IxSetControlValue(IX_CTL_INDIRECT_DATA, 0x11223344, 4), IX_OK);
    auto t = readTrace(trace);
    ASSERT_EQ(t.size(), before + 2);
    EXPECT_TRUE(t[before].op == "set" && t[before].reg == 65 && t[before].value == 0x3344) << t[before].raw;
    EXPECT_EQ(t[before + 1].op, "setblock");
    EXPECT_EQ(t[before + 1].data, "44332211");
    // Scalar reads into a short or missing buffer write nothing past it.
    uint8_t one[2] = {0x5A, 0x5A};
    EXPECT_EQ(IxGetControlValue(IX_CTL_REG7, reinterpret_cast<uint16_t *>(one), 1, nullptr), IX_OK);
    EXPECT_EQ(one[0], 0);
    EXPECT_EQ(one[1], 0x5A);
    EXPECT_EQ(IxGetControlValue(IX_CTL_REG7, nullptr, 0, nullptr), IX_OK);
}
