// Presets, size edits, decimation and offsets against sensors of several sizes.
#include "controls_fixture.h"
#include "library/controls/tables.h"

using namespace ctltest;

namespace {

std::vector<RegValue> window(long ow, long oh, long ww, long wh) {
    return {{29, ow}, {30, oh}, {27, ww}, {28, wh}, {31, 0}, {32, 0}};
}

TEST(Geometry, LargestPresetFollowsTheSensor) {
    struct Case {
        const char *settings;
        int channel;
        uint16_t maxWidth, maxHeight, largest;
    };
    const Case cases[] = {
        {"sensor0=2560x1920", 0, 2560, 1920, 14},
        {"sensor0=1280x1000", 0, 1280, 1000, 9}, // the 1280 by 1024 row stops the walk
        {"sensor0=1280x960", 0, 1280, 960, 9},
        {"sensor0=2047x1536", 0, 2047, 1536, 11},
        {"sensor0=160x120", 0, 160, 120, 1},
        {"sensor1=1920x2560", 1, 2560, 1920, 255}, // swapped, and never a preset
        {"sensor1=120x160", 1, 160, 120, 255},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.settings);
        OpenCamera cam(c.settings);
        ASSERT_EQ(cam.openResult, 0);
        ASSERT_EQ(set(IX_CTL_CHANNEL, c.channel), 0);
        EXPECT_EQ(get(36), std::make_pair(0, c.maxWidth));
        EXPECT_EQ(get(37), std::make_pair(0, c.maxHeight));
        EXPECT_EQ(get(35), std::make_pair(0, c.largest));
    }
    // A sensor smaller than the first row leaves the largest preset as it was.
    OpenCamera cam("sensor0=100x100");
    EXPECT_EQ(get(35), std::make_pair(0, uint16_t(0)));
}

TEST(Geometry, PresetSelection) {
    struct Case {
        const char *settings;
        int channel;
        uint16_t code;
        int result;
        long width, height;
    };
    const Case cases[] = {
        {"sensor0=2560x1920", 0, 14, 0, 2560, 1920}, {"sensor0=2560x1920", 0, 13, 5, 0, 0},
        {"sensor0=2560x1920", 0, 15, 5, 0, 0},       {"sensor0=2560x1920", 0, 0, 5, 0, 0},
        {"sensor0=1280x1000", 0, 9, 0, 1280, 960},   {"sensor0=1280x1000", 0, 10, 5, 0, 0},
        {"sensor0=1280x1000", 0, 11, 5, 0, 0},       {"sensor1=480x640", 1, 6, 0, 640, 480},
        {"sensor1=640x480", 1, 6, 5, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.settings << " preset " << c.code);
        OpenCamera cam(c.settings);
        ASSERT_EQ(set(IX_CTL_CHANNEL, c.channel), 0);
        // A hand-made offset the preset must clear.
        ASSERT_EQ(set(c.channel == 0 ? 2 : 3, 32), 0);
        size_t m = cam.mark();
        EXPECT_EQ(set(30, c.code), c.result);
        if (c.result != 0) {
            EXPECT_TRUE(cam.since(m).empty());
            EXPECT_EQ(get(30), std::make_pair(0, uint16_t(1)));
            continue;
        }
        EXPECT_EQ(cam.writesSince(m), window(c.width, c.height, c.width, c.height));
        EXPECT_EQ(get(30), std::make_pair(0, c.code));
        EXPECT_EQ(get(31), std::make_pair(0, uint16_t(c.width)));
        EXPECT_EQ(get(32), std::make_pair(0, uint16_t(c.height)));
        EXPECT_EQ(get(33), std::make_pair(0, uint16_t(c.width)));
        EXPECT_EQ(get(34), std::make_pair(0, uint16_t(c.height)));
        EXPECT_EQ(get(2), std::make_pair(0, uint16_t(0)));
        EXPECT_EQ(get(3), std::make_pair(0, uint16_t(0)));
        EXPECT_EQ(get(47), std::make_pair(0, uint16_t(1)));
    }
}

TEST(Geometry, SizeEditsCheckTheExtentAndWriteNothing) {
    OpenCamera cam("sensor0=1280x960");
    ASSERT_EQ(set(30, 6), 0);
    size_t m = cam.mark();
    EXPECT_EQ(set(31, 1281), 5);
    EXPECT_EQ(set(33, 1281), 5);
    EXPECT_EQ(set(32, 961), 5);
    EXPECT_EQ(set(34, 961), 5);
    EXPECT_EQ(get(30), std::make_pair(0, uint16_t(6)));
    EXPECT_EQ(set(31, 1280), 0);
    EXPECT_EQ(get(30), std::make_pair(0, uint16_t(255)));
    EXPECT_EQ(set(34, 960), 0);
    EXPECT_EQ(get(31), std::make_pair(0, uint16_t(1280)));
    EXPECT_EQ(get(34), std::make_pair(0, uint16_t(960)));
    EXPECT_EQ(get(33), std::make_pair(0, uint16_t(640))); // the window keeps its own size
    EXPECT_TRUE(cam.since(m).empty());
}

TEST(Geometry, DecimationScalesTheWindowFromTheOutput) {
    OpenCamera cam("sensor0=1280x960");
    ASSERT_EQ(set(30, 6), 0);
    ASSERT_EQ(set(2, 16), 0);
    size_t m = cam.mark();
    EXPECT_EQ(set(47, 2), 0);
    EXPECT_EQ(cam.writesSince(m), window(640, 480, 1280, 960));
    EXPECT_EQ(get(33), std::make_pair(0, uint16_t(1280)));
    EXPECT_EQ(get(34), std::make_pair(0, uint16_t(960)));
    EXPECT_EQ(get(2), std::make_pair(0, uint16_t(0)));
    EXPECT_EQ(get(30), std::make_pair(0, uint16_t(6))); // the preset code stays

    m = cam.mark();
    EXPECT_EQ(set(47, 3), 4);
    EXPECT_EQ(set(47, 0), 4);
    // A product beyond 16 bits must not wrap into range.
    EXPECT_EQ(set(47, 65535), 4);
    EXPECT_TRUE(cam.since(m).empty());
    EXPECT_EQ(get(47), std::make_pair(0, uint16_t(2)));
}

TEST(Geometry, OffsetsFollowRegister31sRulePerChannel) {
    OpenCamera cam("sensor0=1280x960;sensor1=960x1280");
    struct Case {
        int channel;
        uint32_t id;
        uint16_t value;
        int result;
        std::vector<RegValue> writes;
    };
    // Channel 1 after preset 6 and decimation 2: window 1280 wide, output 640.
    const Case cases[] = {
        {0, 2, 8, 4, {}},          {0, 2, 48, 0, {{31, 48}}},         {0, 3, 8, 0, {{32, 8}}},
        {1, 2, 8, 0, {{32, 632}}}, {1, 2, 700, 0, {{32, uint16_t(1280 - 640 - 700)}}},
        {1, 3, 8, 4, {}},          {1, 3, 64, 0, {{31, 64}}},
    };
    ASSERT_EQ(set(IX_CTL_CHANNEL, 1), 0);
    ASSERT_EQ(set(30, 6), 0);
    ASSERT_EQ(set(47, 2), 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "channel " << c.channel << " control " << c.id << " = " << c.value);
        ASSERT_EQ(set(IX_CTL_CHANNEL, c.channel), 0);
        auto before = get(c.id);
        size_t m = cam.mark();
        EXPECT_EQ(set(c.id, c.value), c.result);
        EXPECT_EQ(cam.writesSince(m), c.writes);
        EXPECT_EQ(get(c.id).second, c.result == 0 ? c.value : before.second);
    }
}

TEST(Geometry, WhileStreamingTheWindowIsFrozenButOffsetsFlipsAndRotationAreNot) {
    OpenCamera cam("sensor0=1280x960");
    ASSERT_EQ(set(30, 6), 0);
    // The stream engine owns the stream; the refusal only looks at the mode.
    cam.channel(0).streamMode = 1;
    size_t m = cam.mark();
    for (uint32_t id : {30u, 31u, 32u, 33u, 34u, 47u}) EXPECT_EQ(set(id, 4), 7) << id;
    EXPECT_TRUE(cam.since(m).empty());
    for (uint32_t id : {31u, 32u, 33u, 34u})
        EXPECT_EQ(get(id).second, id == 31 || id == 33 ? 640 : 480) << id;
    EXPECT_EQ(set(2, 16), 0);
    EXPECT_EQ(set(18, 1), 0);
    EXPECT_EQ(set(52, 180), 0);
    EXPECT_EQ(cam.writesSince(m), (std::vector<RegValue>{{31, 16}, {17, 1}}));
    cam.channel(0).streamMode = 0;
}

TEST(Geometry, PresetTableEndsWithAZeroRowAndHasNoCode13) {
    int rows = 0;
    for (const ix::ResolutionPreset *p = ix::resolutionPresets; p->width != 0; ++p, ++rows) {
        EXPECT_NE(p->code, 13);
        std::string text = std::to_string(p->width) + "x" + std::to_string(p->height);
        EXPECT_EQ(std::u16string(p->label), std::u16string(text.begin(), text.end()));
    }
    EXPECT_EQ(rows, 13);
}

} // namespace
