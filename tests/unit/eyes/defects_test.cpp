// Defect pixel repair on raw YUY2 frames: which pairs are repaired, which
// bytes change and to what, the group choice, and the flips.
#include <gtest/gtest.h>

#include <vector>

#include "defects.h"

namespace ix::eyes {
namespace {

// Component levels of the test frame's background: Y, U and V bytes differ
// so a repair that mixed components would show.
constexpr uint8_t kY = 100, kU = 60, kV = 160;
constexpr uint8_t kDefect = 200;

class RawFrame {
public:
    RawFrame(int x, int y) : X(x), Y(y), bytes(static_cast<size_t>(x) * y * 2 + kGuard, kGuardByte) {
        for (int r = 0; r < Y; ++r)
            for (int k = 0; k < 2 * X; ++k) at(r, k) = k % 2 == 0 ? kY : (k % 4 == 1 ? kU : kV);
    }
    uint8_t &at(int row, int k) { return bytes[static_cast<size_t>(row) * 2 * X + k]; }
    uint8_t *data() { return bytes.data(); }
    size_t frameBytes() const { return static_cast<size_t>(X) * Y * 2; }
    // Marks the 3 x 3 pixels around (u, v) as defective.
    void stamp(int u, int v) {
        for (int r = v - 1; r <= v + 1; ++r)
            for (int k = 2 * u - 2; k <= 2 * u + 3; ++k) at(r, k) = kDefect;
    }
    bool guardIntact() const {
        for (size_t i = frameBytes(); i < bytes.size(); ++i)
            if (bytes[i] != kGuardByte) return false;
        return true;
    }
    int X, Y;
    std::vector<uint8_t> bytes;
    static constexpr size_t kGuard = 32;
    static constexpr uint8_t kGuardByte = 0xC7;
};

uint8_t background(int k) { return k % 2 == 0 ? kY : (k % 4 == 1 ? kU : kV); }

// A defect table with the given groups: {key, {p, q, p, q, ...}}.
std::vector<uint16_t> table(std::initializer_list<std::pair<uint16_t, std::vector<uint16_t>>> groups) {
    std::vector<uint16_t> t(kDefectTableWords, 0);
    size_t at = 0;
    t[at++] = static_cast<uint16_t>(groups.size());
    for (auto &[key, pairs] : groups) {
        t[at++] = key;
        t[at++] = static_cast<uint16_t>(pairs.size() / 2);
        for (uint16_t w : pairs) t[at++] = w;
    }
    return t;
}

DefectSettings channel0(uint16_t X, uint16_t Y) {
    DefectSettings s{};
    s.channel = 0;
    s.windowWidth = 1000;
    s.windowHeight = 700;
    s.outputWidth = X;
    s.outputHeight = Y;
    return s;
}

struct Change {
    int row, k;
};

std::vector<Change> changes(RawFrame &before, RawFrame &after) {
    std::vector<Change> out;
    for (int r = 0; r < before.Y; ++r)
        for (int k = 0; k < 2 * before.X; ++k)
            if (before.at(r, k) != after.at(r, k)) out.push_back({r, k});
    return out;
}

// One defect: exactly its 18 bytes change. Row v is repaired first from
// clean neighbours; row v-1 then still sees the defective row v+1 two rows
// down, and row v+1 sees the already repaired row v-1 two rows up:
//   row v:   (K + K + K + K) / 4 = K
//   row v-1: (K + 200 + K + K) / 4  -> Y 125, U 95, V 170
//   row v+1: (row v-1 + K + K + K) / 4 -> Y 106, U 68, V 162
TEST(DefectRepair, EighteenBytesInOrder) {
    RawFrame frame(64, 40), clean(64, 40);
    const int u = 20, v = 15;
    frame.stamp(u, v);
    RawFrame stamped = frame;
    const auto t = table({{1000, {u, v}}});
    EXPECT_EQ(CorrectDefects(frame.data(), frame.frameBytes(), t.data(), channel0(64, 40)), 1);
    const auto diff = changes(stamped, frame);
    EXPECT_EQ(diff.size(), 18u);
    for (const Change &c : diff) {
        EXPECT_GE(c.row, v - 1);
        EXPECT_LE(c.row, v + 1);
        EXPECT_GE(c.k, 2 * u - 2);
        EXPECT_LE(c.k, 2 * u + 3);
    }
    for (int k = 2 * u - 2; k <= 2 * u + 3; ++k) {
        const int component = k % 2 == 0 ? 0 : (k % 4 == 1 ? 1 : 2);
        const uint8_t rowV[3] = {kY, kU, kV}, rowAbove[3] = {125, 95, 170}, rowBelow[3] = {106, 68, 162};
        EXPECT_EQ(frame.at(v, k), rowV[component]) << "byte " << k;
        EXPECT_EQ(frame.at(v - 1, k), rowAbove[component]) << "byte " << k;
        EXPECT_EQ(frame.at(v + 1, k), rowBelow[component]) << "byte " << k;
    }
    EXPECT_TRUE(frame.guardIntact());
    (void)clean;
}

// Pairs nearer than 5 pixels to the window's left or right side or 4 rows
// to its top or bottom are skipped; the window is offset on the sensor.
TEST(DefectRepair, WindowLimits) {
    const int X = 64, Y = 40;
    const uint16_t ox = 16, oy = 8;
    struct Case {
        uint16_t p, q;
        bool repaired;
    } cases[] = {
        {ox + 4, oy + 20, false}, {ox + 5, oy + 20, true},  {ox + X - 5, oy + 20, true}, {ox + X - 4, oy + 20, false},
        {ox + 30, oy + 3, false}, {ox + 30, oy + 4, true},  {ox + 30, oy + Y - 4, true}, {ox + 30, oy + Y - 3, false},
        {0, 0, false},            {65535, 65535, false},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(::testing::Message() << "pair " << k.p << "," << k.q);
        RawFrame frame(X, Y);
        const int u = k.p - ox, v = k.q - oy;
        if (k.repaired) frame.stamp(u, v);
        RawFrame before = frame;
        DefectSettings s = channel0(X, Y);
        s.offsetX = ox;
        s.offsetY = oy;
        const auto t = table({{1000, {k.p, k.q}}});
        EXPECT_EQ(CorrectDefects(frame.data(), frame.frameBytes(), t.data(), s), k.repaired ? 1 : 0);
        EXPECT_EQ(changes(before, frame).size(), k.repaired ? 18u : 0u);
        EXPECT_TRUE(frame.guardIntact());
    }
}

// At the last accepted column (u = X - 5) the pixel four to the right of
// u + 1 would be past the row's end; the repair takes the one four to the
// left instead of the next row's first pixel.
TEST(DefectRepair, RightmostColumnStaysInItsRow) {
    const int X = 64, Y = 40, u = X - 5, v = 20;
    RawFrame frame(X, Y);
    for (int r = 0; r < Y; ++r) frame.at(r, 0) = frame.at(r, 1) = 0;  // first pixel of every row
    frame.stamp(u, v);
    const auto t = table({{1000, {u, v}}});
    ASSERT_EQ(CorrectDefects(frame.data(), frame.frameBytes(), t.data(), channel0(X, Y)), 1);
    for (int k = 2 * u - 2; k <= 2 * u + 3; ++k) EXPECT_EQ(frame.at(v, k), background(k)) << "byte " << k;
}

// The flips mirror the pair inside the frame before the window test: a
// pair outside the limits may fall inside once mirrored.
TEST(DefectRepair, Flips) {
    const int X = 64, Y = 40;
    struct Case {
        uint16_t p, q;
        int hflip, vflip;
        int u, v;  // where the repair lands, -1 for none
    } cases[] = {
        {4, 20, 0, 0, -1, -1},      {4, 20, 1, 0, X - 5, 20},  // 64 - 4 - 1 = 59
        {30, 3, 0, 0, -1, -1},      {30, 3, 0, 1, 30, Y - 4},  // 40 - 3 - 1 = 36
        {10, 10, 1, 1, X - 11, Y - 11},
        {70, 20, 1, 0, -1, -1},  // mirrors to a wrapped 16-bit value
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(::testing::Message() << "pair " << k.p << "," << k.q << " flips " << k.hflip << k.vflip);
        RawFrame frame(X, Y);
        if (k.u >= 0) frame.stamp(k.u, k.v);
        RawFrame before = frame;
        DefectSettings s = channel0(X, Y);
        s.horizontalFlip = k.hflip;
        s.verticalFlip = k.vflip;
        const auto t = table({{1000, {k.p, k.q}}});
        CorrectDefects(frame.data(), frame.frameBytes(), t.data(), s);
        const auto diff = changes(before, frame);
        if (k.u < 0) {
            EXPECT_TRUE(diff.empty());
            continue;
        }
        ASSERT_EQ(diff.size(), 18u);
        EXPECT_EQ(frame.at(k.v, 2 * k.u), kY) << "row v is back to the background";
    }
}

// Only the first group whose key is the window size applies; the rest are
// skipped by their counts.
TEST(DefectRepair, GroupChoice) {
    const int X = 64, Y = 40;
    struct Case {
        const char *what;
        std::vector<uint16_t> t;
        std::vector<std::pair<int, int>> repaired;
    } cases[] = {
        {"no group", table({}), {}},
        {"other window size", table({{999, {20, 20}}}), {}},
        {"second group matches", table({{640, {10, 10, 12, 30}}, {1000, {20, 20}}}), {{20, 20}}},
        {"two groups with the key", table({{1000, {20, 20}}, {1000, {40, 10}}}), {{20, 20}}},
        {"several pairs", table({{1000, {10, 10, 30, 20, 50, 30}}}), {{10, 10}, {30, 20}, {50, 30}}},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.what);
        RawFrame frame(X, Y);
        for (auto [u, v] : k.repaired) frame.stamp(u, v);
        RawFrame before = frame;
        EXPECT_EQ(CorrectDefects(frame.data(), frame.frameBytes(), k.t.data(), channel0(X, Y)),
                  static_cast<int>(k.repaired.size()));
        EXPECT_EQ(changes(before, frame).size(), 18 * k.repaired.size());
        for (auto [u, v] : k.repaired) EXPECT_EQ(frame.at(v, 2 * u), kY);
    }
}

// Channel 1's raw frames arrive turned: rows are outputHeight pixels long,
// and the group key is the window height.
TEST(DefectRepair, ChannelOneUsesTheTurnedFrame) {
    DefectSettings s{};
    s.channel = 1;
    s.windowWidth = 1000;
    s.windowHeight = 700;
    s.outputWidth = 40;   // row count
    s.outputHeight = 64;  // row length
    RawFrame frame(64, 40);
    frame.stamp(50, 30);
    RawFrame before = frame;
    EXPECT_EQ(CorrectDefects(frame.data(), frame.frameBytes(), table({{1000, {50, 30}}}).data(), s), 0);
    EXPECT_EQ(CorrectDefects(frame.data(), frame.frameBytes(), table({{700, {50, 30}}}).data(), s), 1);
    EXPECT_EQ(changes(before, frame).size(), 18u);
}

// Tables and frames nobody checked: counts past the table's end, frames
// smaller than the settings say, sizes whose 16-bit limits wrap.
TEST(DefectRepair, MalformedInputTouchesNothingOutside) {
    // A count far past the table: only the pairs inside it are used.
    std::vector<uint16_t> t(kDefectTableWords, 0);
    t[0] = 1;
    t[1] = 1000;
    t[2] = 60000;
    for (size_t i = 3; i + 1 < t.size(); i += 2) {
        t[i] = 20;
        t[i + 1] = 20;
    }
    RawFrame frame(64, 40);
    const int n = CorrectDefects(frame.data(), frame.frameBytes(), t.data(), channel0(64, 40));
    EXPECT_EQ(n, static_cast<int>((kDefectTableWords - 3) / 2));
    EXPECT_TRUE(frame.guardIntact());

    // A group count that walks off the table.
    std::vector<uint16_t> walk(kDefectTableWords, 0);
    walk[0] = 65535;
    walk[1] = 5;
    walk[2] = 0;
    for (size_t i = 3; i < walk.size(); ++i) walk[i] = 0;
    EXPECT_EQ(CorrectDefects(frame.data(), frame.frameBytes(), walk.data(), channel0(64, 40)), 0);

    // The settings promise a larger frame than the buffer holds.
    RawFrame small(64, 40);
    RawFrame before = small;
    EXPECT_EQ(CorrectDefects(small.data(), small.frameBytes(), table({{1000, {20, 20}}}).data(), channel0(64, 41)), 0);
    EXPECT_EQ(changes(before, small).size(), 0u);

    // Frames too small for any repair; the 16-bit upper limit X - 5 wraps
    // below X = 5, which must not let a pair through.
    for (int X : {2, 4, 6, 9, 10}) {
        for (int Y : {2, 7, 8, 9}) {
            SCOPED_TRACE(::testing::Message() << X << "x" << Y);
            RawFrame tiny(X, Y);
            auto pairs = table({{1000, {5, 4, 7, 4, 100, 200, 65535, 3}}});
            CorrectDefects(tiny.data(), tiny.frameBytes(), pairs.data(), channel0(X, Y));
            EXPECT_TRUE(tiny.guardIntact());
        }
    }
    EXPECT_EQ(CorrectDefects(nullptr, 0, t.data(), channel0(64, 40)), 0);
    EXPECT_EQ(CorrectDefects(frame.data(), frame.frameBytes(), nullptr, channel0(64, 40)), 0);
}

}  // namespace
}  // namespace ix::eyes
