// Selecting a channel brings the camera in line with that channel's settings,
// in the camera's order; the whole conversation is held against that order.
#include <sstream>

#include "controls_fixture.h"

using namespace ctltest;

namespace {

std::string describe(const TraceLine &t) {
    std::ostringstream s;
    s << t.op << ' ' << t.reg;
    if (t.op == "set") s << '=' << t.value;
    if (t.op == "setblock" || t.op == "getblock") s << '/' << t.len;
    if (!t.ok) s << " failed";
    return s.str();
}

std::vector<std::string> describeAll(const std::vector<TraceLine> &lines) {
    std::vector<std::string> out;
    for (const TraceLine &t : lines) out.push_back(describe(t));
    return out;
}

// What selecting a channel with its defaults sends, given the illumination
// word the camera last had; the defect list of the virtual camera has
// `defectWords` words after its four-word header.
std::vector<std::string> expectedSelection(int channel, int defectWords) {
    std::vector<std::string> e = {"set 38=" + std::to_string(channel), "get 33", "get 34"};
    auto add = [&](std::initializer_list<const char *> items) {
        for (const char *i : items) e.push_back(i);
    };
    if (channel == 0) add({"set 1=0", "set 5=128"}); // auto mode: the host loop owns register 5
    else add({"set 1=1", "set 5=125"});
    add({"set 48=0", "set 4=125", "setblock 25/256", "set 7=125", "set 9=1", "get 14", "set 15=0",
         "setblock 13/256"});
    if (channel == 0) add({"set 17=0", "set 19=0"});
    else add({"set 19=0", "set 17=0"});
    add({"set 20=0", "set 26=125", "set 35=125", "set 36=125", "set 37=256", "set 2=1", "set 21=0", "set 46=0",
         "get 14", "set 58=1", "set 63=148", "set 52=0", "set 56=400", "set 69=1", "set 53=2", "set 54=0"});
    if (channel == 0) add({"set 49=160"}); // mode 0 at level 80 / 4
    add({"set 50=0", "set 87=0", "set 18=0", "set 59=0", "get 61"});
    if (channel == 1) add({"set 49=0"});
    add({"set 75=1", "set 74=1500", "set 75=0", "get 60", "get 60", "get 60", "get 60"});
    // The defect list's flash address through the indirect port, then the data port.
    add({"set 64=9"});
    e.push_back(channel == 0 ? "set 65=512" : "set 65=4608");
    add({"set 64=10", "set 65=2", "set 64=11"});
    for (int i = 0; i < 4 + defectWords; ++i) e.push_back("get 65");
    return e;
}

TEST(Replay, SelectingEachChannelSendsItsSettingsInOrder) {
    OpenCamera cam;
    ASSERT_EQ(cam.openResult, 0);
    size_t m = cam.mark();
    ASSERT_EQ(set(IX_CTL_CHANNEL, 1), 0);
    EXPECT_EQ(describeAll(cam.since(m)), expectedSelection(1, 11));
    EXPECT_EQ(cam.ctx().register49Shadow, 0u);
    EXPECT_EQ(get(IX_CTL_CHANNEL), std::make_pair(0, uint16_t(1)));

    m = cam.mark();
    ASSERT_EQ(set(IX_CTL_CHANNEL, 0), 0);
    EXPECT_EQ(describeAll(cam.since(m)), expectedSelection(0, 15));
    EXPECT_EQ(cam.ctx().register49Shadow, 160u);
}

TEST(Replay, SelectionPlacesTheExposureIndexAndReadsTheRangeTarget) {
    OpenCamera cam("target0=480;target1=520;reg14=1000");
    ASSERT_EQ(cam.openResult, 0);
    // Exposure base 1000: divisor 143 is the first at or above channel 0's
    // start of 140 (revision 258), divisor 63 the first at or above 60.
    ix::ChannelSettings &c0 = cam.channel(0);
    EXPECT_EQ(c0.exposureBase, 1000);
    EXPECT_EQ(c0.exposureTableCount, 59);
    ASSERT_EQ(c0.exposureIndex, 52);
    EXPECT_EQ(c0.exposureTable[52], 143);
    EXPECT_EQ(cam.ctx().rangeTarget0, 480);
    const int32_t thresholds[4] = {790, 800, 410, 340};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(cam.ctx().rangeThresholds[i], thresholds[i]);
    EXPECT_EQ(get(142), std::make_pair(0, uint16_t(480)));

    ASSERT_EQ(set(IX_CTL_CHANNEL, 1), 0);
    ix::ChannelSettings &c1 = cam.channel(1);
    ASSERT_EQ(c1.exposureIndex, 43);
    EXPECT_EQ(c1.exposureTable[43], 63);
    EXPECT_EQ(get(142), std::make_pair(0, uint16_t(520)));
    // The defect list of the virtual camera's channel 1 (two groups).
    const uint16_t list[] = {2, 2560, 2, 300, 1200, 1700, 2100, 1280, 1, 150, 600};
    for (size_t i = 0; i < std::size(list); ++i) EXPECT_EQ(c1.defectTable[i], list[i]) << i;
    EXPECT_EQ(c1.defectTable[std::size(list)], 0);
}

TEST(Replay, ValuesSetOnAChannelAreSentAgainWhenItIsSelected) {
    OpenCamera cam;
    ASSERT_EQ(set(IX_CTL_CHANNEL, 1), 0);
    ASSERT_EQ(set(18, 1), 0);
    ASSERT_EQ(set(134, 250), 0);
    ASSERT_EQ(set(130, 1), 0);
    ASSERT_EQ(set(146, 3), 0);
    ASSERT_EQ(set(IX_CTL_CHANNEL, 0), 0);
    size_t m = cam.mark();
    ASSERT_EQ(set(IX_CTL_CHANNEL, 1), 0);
    auto writes = cam.writesSince(m);
    for (RegValue w : {RegValue{19, 1}, RegValue{56, 250}, RegValue{50, 1}, RegValue{18, 768}})
        EXPECT_NE(std::find(writes.begin(), writes.end(), w), writes.end()) << w.first;
    // Range-driven LED mode 8 leaves register 18 to the range status.
    ASSERT_EQ(set(146, 8), 0);
    ASSERT_EQ(set(IX_CTL_CHANNEL, 0), 0);
    m = cam.mark();
    ASSERT_EQ(set(IX_CTL_CHANNEL, 1), 0);
    for (RegValue w : cam.writesSince(m)) EXPECT_NE(w.first, 18);
}

} // namespace
