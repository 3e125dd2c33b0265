// The catalogue: dispatch by id, register-backed rows, live reads, read-only
// controls, controls with their own rule, text controls, the indirect port.
#include <algorithm>
#include <cstring>

#include "controls_fixture.h"

using namespace ctltest;

namespace {

struct RegisterCase {
    uint32_t id;
    int reg;
    uint16_t defaultValue;
};

// Rows whose get returns the stored field.
const RegisterCase kStoredRows[] = {
    {5, 48, 0},      {11, 7, 125},    {17, 15, 0},     {24, 20, 0},    {38, 35, 125},  {41, 36, 125},
    {46, 2, 1},      {128, 52, 0},    {132, 54, 0},    {133, 53, 2},   {134, 56, 400}, {137, 58, 1},
    {139, 59, 0},    {149, 63, 148},  {150, 69, 1},    {169, 87, 0},
};

TEST(Catalogue, RegisterRowsWriteTheirRegisterAndKeepAValuePerChannel) {
    OpenCamera cam;
    ASSERT_EQ(cam.openResult, 0);
    for (const RegisterCase &c : kStoredRows) {
        SCOPED_TRACE(c.id);
        ASSERT_EQ(set(IX_CTL_CHANNEL, 1), 0);
        size_t m = cam.mark();
        EXPECT_EQ(set(c.id, 0x1234 + int(c.id)), 0);
        EXPECT_EQ(cam.writesSince(m), (std::vector<RegValue>{{c.reg, 0x1234 + long(c.id)}}));
        EXPECT_EQ(get(c.id), std::make_pair(0, uint16_t(0x1234 + c.id)));
        // Channel 0 still has its own value, and channel 1's comes back.
        ASSERT_EQ(set(IX_CTL_CHANNEL, 0), 0);
        EXPECT_EQ(get(c.id), std::make_pair(0, c.defaultValue));
        ASSERT_EQ(set(IX_CTL_CHANNEL, 1), 0);
        EXPECT_EQ(get(c.id), std::make_pair(0, uint16_t(0x1234 + c.id)));
        ASSERT_EQ(set(IX_CTL_CHANNEL, 0), 0);
    }
}

TEST(Catalogue, LiveReadsAskTheCameraAndAFailedReadGivesZero) {
    // Control, register it reads, and the value the camera holds there.
    struct Case {
        uint32_t id;
        int reg;
        uint16_t held;
    };
    const Case cases[] = {{6, 4, 0x0404}, {29, 26, 0x2626}, {42, 37, 0x3737}, {15, 42, 0x4242},
                          {44, 8, 0x0107}, {45, 16, 258},    {125, 66, 0x6666}};
    OpenCamera cam("reg42=16962;reg66=26214;fail=get:4:1,get:26:1,get:37:1,get:42:1,get:8:2,get:16:2,get:66:1");
    ASSERT_EQ(cam.openResult, 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.id);
        // Registers 4, 26 and 37 hold what the controls' own writes put there.
        if (c.id == 6 || c.id == 29 || c.id == 42) {
            ASSERT_EQ(set(c.id, c.held), 0);
        }
        // The first read fails: result 0 with the zero fill.
        size_t m = cam.mark();
        EXPECT_EQ(get(c.id), std::make_pair(0, uint16_t(0)));
        auto lines = cam.since(m);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].op, "get");
        EXPECT_EQ(lines[0].reg, c.reg);
        EXPECT_FALSE(lines[0].ok);
        EXPECT_EQ(get(c.id), std::make_pair(0, c.held));
    }
}

TEST(Catalogue, StatusReadsReportTheReadsResult) {
    // 50: either of register 67's two low bits; 144: register 68's low bit;
    // 141 and 145: registers 60 and 62 as they stand.
    struct Case {
        const char *settings;
        uint32_t id;
        int result;
        uint16_t value;
    };
    const Case cases[] = {
        {"reg67=2", 50, 0, 1},       {"reg67=1", 50, 0, 1},        {"reg67=65532", 50, 0, 0},
        {"reg68=3", 144, 0, 1},      {"reg68=65534", 144, 0, 0},   {"reg62=4660", 145, 0, 4660},
        {"range=321", 141, 0, 321},  {"fail=get:67:1", 50, 1, 0}, {"fail=get:68:1", 144, 1, 0},
        {"fail=get:62:1", 145, 1, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.settings);
        OpenCamera cam(c.settings);
        ASSERT_EQ(cam.openResult, 0);
        EXPECT_EQ(get(c.id), std::make_pair(c.result, c.value));
    }
    // Register 60 is read four times at every channel selection, so its fault
    // comes after those of the open.
    OpenCamera cam("fail=get:60:5");
    EXPECT_EQ(get(141), std::make_pair(1, uint16_t(0)));
}

TEST(Catalogue, ReadOnlyAndUnknownIdsRefuseWithoutTouchingTheCamera) {
    OpenCamera cam;
    ASSERT_EQ(cam.openResult, 0);
    const uint32_t readOnly[] = {16, 20, 21, 22, 26, 27, 28, 35, 36, 37, 39, 40, 43, 44, 45, 48, 50, 51,
                                 125, 135, 141, 142, 143, 144, 145, 164};
    const uint32_t unknown[] = {0, 19, 53, 100, 124, 131, 136, 147, 163, 170, 255};
    const uint32_t writeOnly[] = {126, 138, 160, 162};
    size_t m = cam.mark();
    for (uint32_t id : readOnly) EXPECT_EQ(set(id, 5), 3) << id;
    for (uint32_t id : unknown) {
        EXPECT_EQ(set(id, 5), 3) << id;
        EXPECT_EQ(get(id).first, 3) << id;
    }
    for (uint32_t id : writeOnly) EXPECT_EQ(get(id).first, 3) << id;
    EXPECT_TRUE(cam.since(m).empty());
}

TEST(Catalogue, GetOfAnUnknownIdZeroFillsButAnIdFrom256LeavesEverything) {
    OpenCamera cam;
    uint8_t buffer[8];
    std::memset(buffer, 0xAB, sizeof buffer);
    int32_t returned = -5;
    EXPECT_EQ(IxGetControlValue(19, reinterpret_cast<uint16_t *>(buffer), 6, &returned), 3);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(buffer[i], 0) << i;
    EXPECT_EQ(buffer[6], 0xAB); // guard
    EXPECT_EQ(returned, 6);

    std::memset(buffer, 0xAB, sizeof buffer);
    returned = -5;
    for (uint32_t id : {256u, 300u, 0xFFFFFFFFu}) {
        EXPECT_EQ(IxGetControlValue(id, reinterpret_cast<uint16_t *>(buffer), 6, &returned), 3);
        EXPECT_EQ(IxSetControlValue(id, 1, 2), 3);
    }
    for (uint8_t b : buffer) EXPECT_EQ(b, 0xAB);
    EXPECT_EQ(returned, -5);
}

TEST(Catalogue, EveryExportReportsOneWithoutAnOpenCamera) {
    IxClose();
    uint16_t v = 0x5555;
    int32_t returned = -5;
    EXPECT_EQ(IxGetControlValue(1, &v, 2, &returned), 1);
    EXPECT_EQ(IxGetControlValue(256, &v, 2, &returned), 1);
    EXPECT_EQ(IxSetControlValue(1, 1, 2), 1);
    EXPECT_EQ(IxSetControlValue(127, 1, 8), 1);
    uint16_t one = 1;
    EXPECT_EQ(IxSetControlPValue(11, &one, 2), 1);
    EXPECT_EQ(v, 0x5555);
    EXPECT_EQ(returned, -5);
}

TEST(Catalogue, ScalarReadsStayInsideShortOrMissingBuffers) {
    OpenCamera cam;
    // Every scalar control with a one-byte buffer: the byte is zeroed, the
    // guard after it is not, and returnedBytes says 1.
    for (uint32_t id = 1; id < 256; ++id) {
        if (id == 21 || id == 22 || id == 27 || id == 28 || id == 39 || id == 40 || id == 127) continue;
        uint8_t buffer[4] = {0xAB, 0xCD, 0xCD, 0xCD};
        int32_t returned = -5;
        int r = IxGetControlValue(id, reinterpret_cast<uint16_t *>(buffer), 1, &returned);
        SCOPED_TRACE(id);
        EXPECT_EQ(buffer[0], 0);
        EXPECT_EQ(buffer[1], 0xCD);
        if (id == 48) {
            EXPECT_EQ(r, 8);
            EXPECT_EQ(returned, -5);
        } else {
            EXPECT_EQ(returned, 1);
        }
        returned = -5;
        IxGetControlValue(id, nullptr, 0, &returned);
        IxGetControlValue(id, nullptr, 2, nullptr);
    }
}

TEST(Catalogue, LastFrameBytesNeedsFourBytes) {
    OpenCamera cam;
    cam.ctx().lastFrameBytes = 0x01020304;
    uint8_t buffer[6];
    std::memset(buffer, 0xAB, sizeof buffer);
    int32_t returned = -5;
    EXPECT_EQ(IxGetControlValue(48, reinterpret_cast<uint16_t *>(buffer), 2, &returned), 8);
    EXPECT_EQ(returned, -5);
    EXPECT_EQ(IxGetControlValue(48, reinterpret_cast<uint16_t *>(buffer), 4, &returned), 0);
    uint32_t v;
    std::memcpy(&v, buffer, 4);
    EXPECT_EQ(v, 0x01020304u);
    EXPECT_EQ(returned, 4);
    EXPECT_EQ(buffer[4], 0xAB);
}

TEST(Catalogue, ControlsWithTheirOwnRule) {
    OpenCamera cam;
    ASSERT_EQ(cam.openResult, 0);
    struct Case {
        int channel;
        uint32_t id;
        int32_t value;
        int result;
        std::vector<RegValue> writes;
    };
    const Case cases[] = {
        {0, 1, 1, 0, {{1, 0}, {5, 128}}},
        {1, 1, 1, 0, {{1, 1}}},
        {0, 1, 0, 0, {{1, 0}}},
        {1, 7, 90, 0, {{5, 90}}},
        {0, 9, 1, 0, {}},
        {0, 13, 11, 5, {}},
        {0, 13, 19, 5, {}},
        {0, 13, 21, 0, {}},
        {1, 13, 6, 0, {}},
        {0, 52, 45, 5, {}},
        {0, 52, 270, 0, {}},
        {1, 52, 90, 0, {}},
        {0, 15, 77, 0, {{42, 77}}},
        {0, 18, 1, 0, {{17, 1}}},
        {1, 18, 1, 0, {{19, 1}}},
        {0, 23, 1, 0, {{19, 1}}},
        {1, 23, 1, 0, {{17, 1}}},
        {1, 25, 3, 0, {{23, 3}}},
        {0, 49, 2, 4, {}},
        {0, 126, 0x10009, 0, {{64, 9}}},
        {0, 127, 0x12345, 0, {{65, 0x2345}}},
        {0, 130, 1, 0, {{50, 0}}},
        {1, 130, 1, 0, {{50, 1}}},
        {0, 146, 8, 0, {}},
        {1, 146, 2, 0, {{18, 512}}},
        {0, 160, 1, 3, {}},
        {0, 161, 24, 0, {{74, 1024}}},
        {0, 162, 1, 0, {{75, 1}}},
        {1, 165, 0, 0, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "channel " << c.channel << " control " << c.id << " = " << c.value);
        ASSERT_EQ(set(IX_CTL_CHANNEL, c.channel), 0);
        auto before = get(c.id);
        size_t m = cam.mark();
        EXPECT_EQ(set(c.id, c.value), c.result);
        EXPECT_EQ(cam.writesSince(m), c.writes);
        auto after = get(c.id);
        if (c.result != 0) {
            EXPECT_EQ(after, before);
        } else if (after.first == 0 && c.id != 15 && c.id != 127 && c.id != 49) {
            EXPECT_EQ(after.second, uint16_t(c.value));
        }
    }
    // Control 7 on channel 0 in auto mode keeps the value and writes nothing.
    ASSERT_EQ(set(IX_CTL_CHANNEL, 0), 0);
    ASSERT_EQ(set(1, 1), 0);
    size_t m = cam.mark();
    EXPECT_EQ(set(7, 99), 0);
    EXPECT_TRUE(cam.writesSince(m).empty());
    EXPECT_EQ(get(7), std::make_pair(0, uint16_t(99)));
    ASSERT_EQ(set(1, 0), 0);
    m = cam.mark();
    EXPECT_EQ(set(7, 98), 0);
    EXPECT_EQ(cam.writesSince(m), (std::vector<RegValue>{{5, 98}}));
    // Controls common to both channels.
    EXPECT_EQ(get(25), std::make_pair(0, uint16_t(3)));
    EXPECT_EQ(get(165), std::make_pair(0, uint16_t(0)));
    EXPECT_EQ(get(161), std::make_pair(0, uint16_t(24)));
    EXPECT_EQ(get(51), std::make_pair(0, uint16_t(257)));
    EXPECT_EQ(get(135), std::make_pair(0, uint16_t(0)));
}

TEST(Catalogue, LocatorAssistOnlyOnceTheLocatorIsReady) {
    OpenCamera cam;
    cam.ctx().locatorReady = 0;
    size_t m = cam.mark();
    EXPECT_EQ(set(160, 1), 3);
    EXPECT_EQ(cam.ctx().locatorAssist, 0u);
    cam.ctx().locatorReady = 1;
    EXPECT_EQ(set(160, 1), 0);
    EXPECT_EQ(cam.ctx().locatorAssist, 1u);
    EXPECT_EQ(cam.writesSince(m), (std::vector<RegValue>{{73, 1}}));
    cam.ctx().locatorReady = 0;
}

TEST(Catalogue, ChannelSelectionRefusesTwoAndChangesNothing) {
    OpenCamera cam;
    ASSERT_EQ(set(49, 1), 0);
    cam.ctx().inBandFlag = 1;
    size_t m = cam.mark();
    EXPECT_EQ(set(49, 2), 4);
    EXPECT_TRUE(cam.since(m).empty());
    EXPECT_EQ(get(49), std::make_pair(0, uint16_t(1)));
    EXPECT_EQ(cam.ctx().inBandFlag, 1);
}

TEST(Catalogue, ASettingSurvivesARoundTripThroughTheOtherChannel) {
    OpenCamera cam;
    ASSERT_EQ(set(49, 1), 0);
    ASSERT_EQ(set(11, 7), 0);
    ASSERT_EQ(set(49, 0), 0);
    EXPECT_EQ(get(11), std::make_pair(0, uint16_t(125)));
    size_t m = cam.mark();
    ASSERT_EQ(set(49, 1), 0);
    EXPECT_EQ(get(11), std::make_pair(0, uint16_t(7)));
    auto writes = cam.writesSince(m);
    EXPECT_NE(std::find(writes.begin(), writes.end(), RegValue{7, 7}), writes.end());
}

TEST(Catalogue, NullValueIsRefusedAndChangesNothing) {
    OpenCamera cam;
    size_t m = cam.mark();
    for (uint32_t id : {1u, 11u, 127u, 128u, 146u}) EXPECT_EQ(IxSetControlPValue(id, nullptr, 2), 4) << id;
    EXPECT_TRUE(cam.since(m).empty());
    EXPECT_EQ(get(1), std::make_pair(0, uint16_t(1)));
}

// Text controls: the virtual camera's strings.
TEST(Catalogue, WideTextWithSizeQueryAndShortBuffer) {
    OpenCamera cam;
    const std::u16string maker = u"Corvel Optics";
    const uint32_t full = uint32_t(2 * (maker.size() + 1));
    int32_t returned = -5;
    EXPECT_EQ(IxGetControlValue(22, nullptr, 0, &returned), 0);
    EXPECT_EQ(returned, int32_t(full));
    EXPECT_EQ(IxGetControlValue(21, nullptr, 0, &returned), 0);
    EXPECT_EQ(returned, int32_t(maker.size() + 1));
    EXPECT_EQ(IxGetControlValue(22, nullptr, 8, &returned), 1);

    std::vector<char16_t> buffer(maker.size() + 4, u'#');
    EXPECT_EQ(IxGetControlValue(22, reinterpret_cast<uint16_t *>(buffer.data()), full, &returned), 0);
    EXPECT_EQ(std::u16string(buffer.data()), maker);
    EXPECT_EQ(returned, int32_t(full));
    EXPECT_EQ(buffer[maker.size() + 1], u'#');

    // Two bytes short: all but the last character, still terminated.
    std::fill(buffer.begin(), buffer.end(), u'#');
    EXPECT_EQ(IxGetControlValue(22, reinterpret_cast<uint16_t *>(buffer.data()), full - 2, &returned), 0);
    EXPECT_EQ(std::u16string(buffer.data()), maker.substr(0, maker.size() - 1));
    EXPECT_EQ(returned, int32_t(full - 2));
    EXPECT_EQ(buffer[maker.size()], u'#');

    // The other wide texts come from their own fields.
    EXPECT_EQ(IxGetControlValue(28, reinterpret_cast<uint16_t *>(buffer.data()), 2 * uint32_t(buffer.size()),
                                &returned), 0);
    EXPECT_EQ(std::u16string(buffer.data()), u"CorvelLumo");
}

TEST(Catalogue, NarrowTextFitsOrReportsOneWithAnEmptyText) {
    OpenCamera cam;
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    int32_t returned = -5;
    EXPECT_EQ(IxGetControlValue(39, reinterpret_cast<uint16_t *>(buffer), 20, &returned), 0);
    EXPECT_STREQ(buffer, "CL3046-000117");
    EXPECT_EQ(returned, 14);
    EXPECT_EQ(buffer[20], '#');

    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(IxGetControlValue(27, reinterpret_cast<uint16_t *>(buffer), 10, &returned), 1);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[10], '#');
}

// The port to the camera's indirect registers.
TEST(Catalogue, IndirectPortBlockFormsAndTheFourByteLimit) {
    OpenCamera cam;
    size_t m = cam.mark();
    // Through the 4-byte value copy, more than 4 bytes would read past it.
    EXPECT_EQ(IxSetControlValue(127, 0x01020304, 8), 4);
    EXPECT_TRUE(cam.since(m).empty());

    EXPECT_EQ(IxSetControlValue(127, 0x01020304, 4), 0);
    const uint8_t six[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(IxSetControlPValue(127, six, 6), 0);
    const uint8_t one = 0x7F;
    EXPECT_EQ(IxSetControlPValue(127, &one, 1), 0);
    auto lines = cam.since(m);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].op, "setblock");
    EXPECT_EQ(lines[0].data, "04030201");
    EXPECT_EQ(lines[1].data, "010203040506");
    EXPECT_EQ(lines[2].op, "set");
    EXPECT_EQ(lines[2].value, 0x7F);

    // Reads: 2 bytes is the plain register, anything else a block.
    ASSERT_EQ(set(126, 40), 0);
    ASSERT_EQ(set(127, 0xBEEF), 0);
    EXPECT_EQ(get(127), std::make_pair(0, uint16_t(0xBEEF)));
    uint8_t block[10];
    std::memset(block, 0xAB, sizeof block);
    int32_t returned = -5;
    m = cam.mark();
    EXPECT_EQ(IxGetControlValue(127, reinterpret_cast<uint16_t *>(block), 6, &returned), 0);
    EXPECT_EQ(returned, 6);
    EXPECT_EQ(block[6], 0xAB);
    lines = cam.since(m);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].op, "getblock");
    EXPECT_EQ(lines[0].len, 6);
    EXPECT_EQ(IxGetControlValue(127, nullptr, 6, &returned), 1);
}

} // namespace
