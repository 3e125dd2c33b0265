// Controls that compute what they send: the tone curve, the attenuation
// table, the exposure table and step, the illumination word, the defect list,
// the register-58 pulse, the indirect write and the narrow device strings.
#include <clocale>
#include <cstring>
#include <fstream>
#ifndef _WIN32
#include <iconv.h>
#endif

#include "controls_fixture.h"
#include "library/controls/controls.h"
#include "library/controls/tables.h"

using namespace ctltest;

namespace {

constexpr int kKnotX[17] = {0, 16, 32, 48, 64, 80, 96, 112, 128, 144, 160, 176, 192, 208, 224, 240, 255};
constexpr int kKnotY[4][17] = {
    {0, 35, 62, 83, 102, 119, 134, 149, 163, 176, 189, 201, 213, 224, 235, 246, 255},
    {0, 66, 94, 115, 132, 147, 160, 172, 183, 194, 203, 213, 222, 230, 238, 246, 255},
    {0, 93, 120, 139, 155, 168, 179, 189, 199, 207, 215, 223, 230, 236, 243, 249, 255},
    {0, 111, 137, 154, 168, 180, 189, 198, 206, 214, 220, 227, 232, 238, 243, 248, 255},
};

TEST(ToneCurve, ReferenceCurvesPassThroughEveryPointNeverDecreaseAndStayBetweenTheirNeighbours) {
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        const uint8_t(&curve)[256] = ix::toneReferenceCurve(k);
        for (int j = 0; j < 17; ++j) EXPECT_EQ(curve[kKnotX[j]], kKnotY[k][j]) << "knot " << kKnotX[j];
        for (int i = 1; i < 256; ++i) EXPECT_LE(curve[i - 1], curve[i]) << "input " << i;
        for (int j = 0; j + 1 < 17; ++j)
            for (int i = kKnotX[j]; i <= kKnotX[j + 1]; ++i) {
                EXPECT_GE(curve[i], kKnotY[k][j]) << "input " << i;
                EXPECT_LE(curve[i], kKnotY[k][j + 1]) << "input " << i;
            }
    }
}

std::vector<uint8_t> curveFor(OpenCamera &cam, int strength, int lift) {
    EXPECT_EQ(set(4, lift), 0);
    size_t m = cam.mark();
    EXPECT_EQ(set(14, strength), 0);
    return lastBlock(cam, m, 13);
}

TEST(ToneCurve, UploadsBlendTheReferenceCurvesByStrength) {
    OpenCamera cam;
    ASSERT_EQ(cam.openResult, 0);
    // Defaults: strength 70, no lift.
    auto c = curveFor(cam, 70, 0);
    ASSERT_EQ(c.size(), 256u);
    const std::pair<int, int> points[] = {{0, 0}, {16, 37}, {32, 65}, {64, 104}, {128, 164}, {192, 213}, {255, 255}};
    for (auto [in, out] : points) EXPECT_EQ(c[size_t(in)], out) << in;

    // At the knots the blend is fixed by the given points alone.
    struct Case {
        int strength, input, output;
    };
    const Case cases[] = {
        {0, 100, 100},  {64, 16, 35},    {32, 64, 83},   {128, 128, 183}, {192, 48, 139},
        {255, 16, 110}, {250, 240, 249}, {100, 255, 255}, {65, 0, 0},   {300, 16, 110},
    };
    for (const Case &t : cases) {
        auto curve = curveFor(cam, t.strength, 0);
        ASSERT_EQ(curve.size(), 256u);
        EXPECT_EQ(curve[size_t(t.input)], t.output) << "strength " << t.strength << " input " << t.input;
    }
    EXPECT_EQ(get(14), std::make_pair(0, uint16_t(255))); // 300 was stored as 255

    // No strength and no lift: the identity.
    auto identity = curveFor(cam, 0, 0);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(identity[size_t(i)], i);
    // The full lift raises the dark end: 63 -> 188, 64 -> 191, and 300 is 255.
    auto lifted = curveFor(cam, 0, 300);
    EXPECT_EQ(get(4), std::make_pair(0, uint16_t(255)));
    EXPECT_EQ(lifted[63], 188);
    EXPECT_EQ(lifted[64], 191);
    EXPECT_EQ(lifted[255], 255);
    for (int i = 1; i < 256; ++i) EXPECT_LE(lifted[size_t(i - 1)], lifted[size_t(i)]);
}

TEST(ToneCurve, AFailedUploadReportsOneAndKeepsTheValue) {
    OpenCamera cam("fail=setblock:13:3");
    ASSERT_EQ(cam.openResult, 0); // the open's upload was the first
    EXPECT_EQ(set(14, 90), 0);
    EXPECT_EQ(set(14, 91), 1);
    EXPECT_EQ(get(14), std::make_pair(0, uint16_t(91)));
}

TEST(Attenuation, TableScalesTheReferenceValues) {
    OpenCamera cam;
    auto upload = [&](int a) {
        size_t m = cam.mark();
        EXPECT_EQ(set(10, a), 0);
        auto bytes = lastBlock(cam, m, 25);
        std::vector<uint16_t> v;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) v.push_back(uint16_t(bytes[i] | (bytes[i + 1] << 8)));
        return v;
    };
    auto full = upload(100);
    ASSERT_EQ(full.size(), 128u);
    for (uint16_t v : full) EXPECT_EQ(v, 1);
    auto none = upload(0);
    ASSERT_EQ(none.size(), 128u);
    for (int i = 0; i < 128; ++i) EXPECT_EQ(none[size_t(i)], ix::attenuationReference[i]) << i;
    EXPECT_EQ(none[0], 32);
    EXPECT_EQ(none[45], 218);
    EXPECT_EQ(none[127], 198);
    auto half = upload(50);
    EXPECT_EQ(half[0], 16);   // R = 32
    EXPECT_EQ(half[1], 11);   // R = 22
    EXPECT_EQ(half[100], 99); // R = 198
    auto over = upload(150);
    EXPECT_EQ(get(10), std::make_pair(0, uint16_t(100)));
    EXPECT_EQ(over, full);
    // 99 % leaves 0 for the small entries, which become 1.
    auto most = upload(99);
    EXPECT_EQ(most[1], 1);
    EXPECT_EQ(most[56], 2); // R = 242
}

TEST(ExposureTable, WorkedExamples) {
    std::vector<int32_t> t1000;
    for (int n = 4; n <= 34; ++n) t1000.push_back(n);
    for (int n : {36, 37, 38, 40, 42, 43, 45, 48, 50, 53, 56, 59, 63, 67, 71, 77, 83, 91, 100, 111, 125, 143, 167,
                  200, 250, 333, 500, 1000})
        t1000.push_back(n);
    struct Case {
        uint16_t base;
        std::vector<int32_t> table;
    };
    const Case cases[] = {
        {100, {4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 17, 20, 25, 33, 50, 100}},
        {1000, t1000},
        {1, {}},
        {3, {4}},
    };
    OpenCamera cam;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.base);
        ix::ChannelSettings &ch = cam.channel(0);
        ch.exposureBase = c.base;
        ix::rebuildExposureTable(cam.ctx());
        ASSERT_EQ(ch.exposureTableCount, int32_t(c.table.size()));
        EXPECT_EQ(std::vector<int32_t>(ch.exposureTable, ch.exposureTable + ch.exposureTableCount), c.table);
    }
}

TEST(ExposureTable, Control12ReadsTheBaseFromTheCamera) {
    OpenCamera cam("reg14=100");
    ix::ChannelSettings &ch = cam.channel(0);
    EXPECT_EQ(get(16), std::make_pair(0, uint16_t(100)));
    EXPECT_EQ(ch.exposureTableCount, 16);
    size_t m = cam.mark();
    ASSERT_EQ(set(12, 3), 0);
    auto lines = cam.since(m);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(cam.writesSince(m), (std::vector<RegValue>{{9, 3}}));
    EXPECT_EQ(lines[1].op, "get");
    EXPECT_EQ(lines[1].reg, 14);
    EXPECT_EQ(set(16, 5), 3);
    EXPECT_EQ(get(16), std::make_pair(0, uint16_t(100)));
}

TEST(ExposureStep, MovesTheIndexAndSendsTheExposure) {
    OpenCamera cam("reg14=100");
    ix::CameraContext &ctx = cam.ctx();
    ix::ChannelSettings &ch = cam.channel(0);
    ch.exposureIndex = 5; // divisor 9
    size_t m = cam.mark();
    EXPECT_EQ(ix::exposureStep(ctx, 100, false, false), 11);
    EXPECT_EQ(ch.exposure, 11);
    EXPECT_EQ(ch.exposureStart, 9);
    EXPECT_EQ(cam.writesSince(m), (std::vector<RegValue>{{37, 11}}));
    EXPECT_EQ(get(42).second, 11);
}

TEST(ExposureStep, StepSizeFollowsBrightnessWithinTheLoopsBounds) {
    OpenCamera cam("reg14=60000");
    ix::CameraContext &ctx = cam.ctx();
    ix::ChannelSettings &ch = cam.channel(0);
    ASSERT_GT(ch.exposureTableCount, 240);
    struct Case {
        uint32_t brightness;
        bool shorter, longer;
        int32_t from, to;
    };
    const Case cases[] = {
        {100, true, false, 150, 151}, {30, true, false, 150, 158},  {40, true, false, 150, 158},
        {41, true, false, 150, 154},  {60, true, false, 150, 154},  {61, true, false, 150, 152},
        {139, true, false, 150, 151}, {140, true, false, 150, 152}, {160, true, false, 150, 154},
        {200, true, false, 150, 158}, {250, false, true, 140, 134},
        {100, false, true, 150, 149}, {100, true, true, 150, 151},  {30, true, false, 222, 226},
        {30, false, false, 150, 150},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.brightness << " from " << c.from);
        ch.exposureIndex = c.from;
        uint16_t e = ix::exposureStep(ctx, c.brightness, c.shorter, c.longer);
        EXPECT_EQ(ch.exposureIndex, c.to);
        EXPECT_EQ(ch.exposureStart, ch.exposureTable[c.to]);
        EXPECT_EQ(e, 60000 / ch.exposureTable[c.to]);
    }
}

TEST(ExposureStep, NoDivisorMeansNoWrite) {
    OpenCamera cam("reg14=100");
    ix::CameraContext &ctx = cam.ctx();
    ix::ChannelSettings &ch = cam.channel(0);
    uint16_t exposure = ch.exposure;
    size_t m = cam.mark();
    // The longer step lands on 134, past the 16 entries: a zero entry.
    ch.exposureIndex = 10;
    EXPECT_EQ(ix::exposureStep(ctx, 250, false, true), 0);
    EXPECT_EQ(ch.exposureIndex, 134);
    // An index at the end of the array (no divisor at or above the start).
    ch.exposureIndex = int32_t(ix::kExposureTableCapacity);
    EXPECT_EQ(ix::exposureStep(ctx, 100, false, false), 0);
    ch.exposureIndex = -1;
    EXPECT_EQ(ix::exposureStep(ctx, 100, false, false), 0);
    // An empty table.
    ch.exposureBase = 0;
    ix::rebuildExposureTable(ctx);
    EXPECT_EQ(ch.exposureTableCount, 0);
    EXPECT_TRUE(cam.writesSince(m).empty());
    EXPECT_EQ(ch.exposure, exposure);
}

TEST(Illumination, WordFromModeAndLevelWrittenOnlyWhenItChanges) {
    OpenCamera cam;
    ix::CameraContext &ctx = cam.ctx();
    ASSERT_EQ(ctx.illuminationLevel, 80u);
    struct Case {
        int channel;
        uint32_t id;
        int32_t value;
        int result;
        std::vector<RegValue> writes;
    };
    const Case cases[] = {
        // Auto mode on channel 0: the level belongs to the ranging loop.
        {0, 129, 10, 7, {}},
        // Mode 1 lifts level 20 by three quarters to 35, held at 31.
        {0, 140, 1, 0, {{49, (1 * 1024 + 31) * 8}}},
        {0, 140, 0, 0, {{49, 20 * 8}}},
        {0, 140, 3, 0, {{49, (3 * 1024 + 20) * 8}}},
        {0, 140, 3, 0, {}},
        {0, 140, 8, 7, {}},
        {1, 129, 5, 7, {}},
        {1, 140, 1, 7, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "channel " << c.channel << " control " << c.id << " = " << c.value);
        ASSERT_EQ(set(49, c.channel), 0);
        size_t m = cam.mark();
        EXPECT_EQ(set(c.id, c.value), c.result);
        EXPECT_EQ(cam.writesSince(m), c.writes);
    }
    ASSERT_EQ(set(49, 0), 0);
    EXPECT_EQ(get(129), std::make_pair(0, uint16_t(20)));
    EXPECT_EQ(get(140), std::make_pair(0, uint16_t(3)));

    // Manual: the level is the caller's.
    ASSERT_EQ(set(1, 0), 0);
    size_t m = cam.mark();
    EXPECT_EQ(set(129, 32), 4);
    EXPECT_EQ(set(129, 20), 0); // the word the replay already sent
    EXPECT_EQ(set(129, 31), 0);
    EXPECT_EQ(set(129, 31), 0);
    EXPECT_EQ(cam.writesSince(m), (std::vector<RegValue>{{49, (3 * 1024 + 31) * 8}}));
    EXPECT_EQ(get(129), std::make_pair(0, uint16_t(31)));
    EXPECT_EQ(ctx.register49Shadow, uint32_t((3 * 1024 + 31) * 8));

    // The replay on channel 0 writes the word once it differs.
    ASSERT_EQ(set(49, 1), 0);
    EXPECT_EQ(ctx.register49Shadow, 0u);
    m = cam.mark();
    ASSERT_EQ(set(49, 0), 0);
    auto writes = cam.writesSince(m);
    long words = std::count_if(writes.begin(), writes.end(), [](const RegValue &w) { return w.first == 49; });
    EXPECT_EQ(words, 1);
    EXPECT_NE(std::find(writes.begin(), writes.end(), RegValue{49, (3 * 1024 + 31) * 8}), writes.end());
}

TEST(Indirect, Register33GoesThroughIndex32First) {
    OpenCamera cam;
    size_t m = cam.mark();
    EXPECT_EQ(ix::setIndirect33(cam.ctx(), 24), 0);
    EXPECT_EQ(cam.writesSince(m), (std::vector<RegValue>{{64, 32}, {65, 53}, {64, 33}, {65, 24}}));
}

TEST(Pulse58, SendsTheValueThenPutsBackWhatWasThere) {
    {
        OpenCamera cam;
        ASSERT_EQ(set(137, 9), 0); // register 58 now holds 9
        size_t m = cam.mark();
        EXPECT_EQ(set(138, 3), 0);
        auto lines = cam.since(m);
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0].op, "get");
        EXPECT_EQ(lines[0].reg, 58);
        EXPECT_EQ(cam.writesSince(m), (std::vector<RegValue>{{58, 896}, {58, 9}}));
        EXPECT_EQ(get(137), std::make_pair(0, uint16_t(9)));
    }
    {
        // Without the register's value nothing is sent.
        OpenCamera cam("fail=get:58:1");
        size_t m = cam.mark();
        EXPECT_EQ(set(138, 3), 1);
        EXPECT_TRUE(cam.writesSince(m).empty());
    }
}

// A flash image whose channel-0 defect list starts with the given words.
std::string flashWith(const std::vector<uint16_t> &words) {
    std::vector<uint8_t> flash(1u << 20, 0xFF);
    uint32_t a = 0x20200;
    for (uint16_t w : words) {
        flash[a++] = uint8_t(w & 0xFF);
        flash[a++] = uint8_t(w >> 8);
    }
    std::string path = ixtest::tempPath("flash") + ".bin";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(flash.data()), long(flash.size()));
    return path;
}

TEST(DefectTable, HeaderAndCountAreChecked) {
    std::vector<uint16_t> full = {0x4450, 0x4354, 0x0100, 2044};
    for (int i = 0; i < 2044; ++i) full.push_back(uint16_t(i * 3));
    std::vector<uint16_t> oversized = {0x4450, 0x4354, 0x0100, 2045};
    oversized.resize(4 + 2045, 7);
    struct Case {
        const char *name;
        std::vector<uint16_t> words;
        int result;
    };
    const Case cases[] = {
        {"first word", {0x4451, 0x4354, 0x0100, 1, 5}, 2},
        {"second word", {0x4450, 0x4355, 0x0100, 1, 5}, 3},
        {"version", {0x4450, 0x4354, 0x0101, 1, 5}, 4},
        {"erased", {}, 2},
        {"oversized", oversized, 5},
        {"full", full, 0},
        {"empty list", {0x4450, 0x4354, 0x0100, 0}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string flash = flashWith(c.words);
        OpenCamera cam("flash=" + flash);
        ASSERT_EQ(cam.openResult, 0);
        ix::ChannelSettings &ch = cam.channel(0);
        std::fill(std::begin(ch.defectTable), std::end(ch.defectTable), uint16_t(0xEEEE));
        EXPECT_EQ(ix::readDefectTable(cam.ctx()), c.result);
        for (size_t i = 0; i < ix::kDefectTableWords; ++i) {
            uint16_t expected = c.result == 0 && i < c.words.size() - 4 ? c.words[4 + i] : 0;
            ASSERT_EQ(ch.defectTable[i], expected) << i;
        }
        std::remove(flash.c_str());
    }
}

#ifndef _WIN32
// The C library's own converter, for comparison.
std::string iconvUtf8(const std::u16string &text) {
    iconv_t cd = iconv_open("UTF-8", "UTF-16LE");
    std::string in(reinterpret_cast<const char *>(text.data()), text.size() * 2);
    std::string out(text.size() * 4 + 4, '\0');
    char *ip = in.data(), *op = out.data();
    size_t il = in.size(), ol = out.size();
    size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    if (r == size_t(-1)) return "<invalid>";
    out.resize(out.size() - ol);
    return out;
}
#endif

TEST(NarrowText, UsesTheProcessLocale) {
    std::string saved = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "C.UTF-8")) GTEST_SKIP() << "no UTF-8 locale here";
    const std::u16string texts[] = {u"Corvel", u"Optique Corv\u00e9l", u"\u5149\u5b66", u"eye \U0001F441", u""};
    for (const std::u16string &t : texts) {
        std::string out;
        ASSERT_TRUE(ix::narrowText(t.data(), t.size(), out));
#ifndef _WIN32
        EXPECT_EQ(out, iconvUtf8(t));
#endif
    }
    std::string out = "left over";
    const char16_t lone[] = {u'a', char16_t(0xD800), u'b'};
    EXPECT_FALSE(ix::narrowText(lone, 3, out));
    const char16_t trail[] = {char16_t(0xDC00)};
    EXPECT_FALSE(ix::narrowText(trail, 1, out));
    const char16_t cut[] = {u'a', char16_t(0xD83D)};
    EXPECT_FALSE(ix::narrowText(cut, 2, out));
    std::setlocale(LC_ALL, "C");
    const char16_t accented[] = {u'\u00e9'};
    EXPECT_FALSE(ix::narrowText(accented, 1, out));
    std::setlocale(LC_ALL, saved.c_str());
}

} // namespace
