#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "library/core/context.h"
#include "library/core/device.h"
#include "platform/usb.h"
#include "support/sim_fixture.h"
#include "usb/device_class.h"
#include "usb/transport.h"

using namespace ix;
using ixtest::readTrace;

namespace {

// Records the kernel-driver requests it is given and answers from a script.
class RecordingDevice : public platform::UsbDevice {
public:
    struct Call {
        uint32_t code;
        std::vector<uint8_t> in;
        uint32_t outLength;
    };
    std::vector<Call> calls;
    std::vector<uint8_t> answer;
    bool failNext = false;

    bool winUsbInitialize() override { return false; }
    bool queryInterfaceSettings(uint8_t) override { return false; }
    bool setCurrentAlternateSetting(uint8_t) override { return false; }
    void winUsbFree() override {}
    bool controlTransfer(const platform::SetupPacket &, uint8_t *, uint32_t *) override { return false; }
    bool getDescriptor(uint8_t, uint8_t, uint16_t, uint8_t *, uint32_t, uint32_t *) override { return false; }
    bool readPipe(uint8_t, uint8_t *, uint32_t, uint32_t *) override { return false; }
    bool ioControl(uint32_t code, const void *in, uint32_t inLength, void *out, uint32_t outLength,
                   uint32_t *returned) override {
        const uint8_t *b = static_cast<const uint8_t *>(in);
        calls.push_back({code, std::vector<uint8_t>(b, b + inLength), outLength});
        if (failNext) return false;
        uint32_t n = std::min<uint32_t>(outLength, uint32_t(answer.size()));
        if (out && n) std::memcpy(out, answer.data(), n);
        if (returned) *returned = n;
        return true;
    }
    bool readFile(uint8_t *, uint32_t length, uint32_t *transferred) override {
        *transferred = length / 2;
        return true;
    }
    uint32_t lastError() const override { return 31; }
    void cancelReads() override {}
};

std::vector<uint8_t> header(uint16_t dir, uint16_t req, uint16_t value, uint16_t reg) {
    return {uint8_t(dir), uint8_t(dir >> 8), uint8_t(req), uint8_t(req >> 8),
            uint8_t(value), uint8_t(value >> 8), uint8_t(reg), uint8_t(reg >> 8)};
}

} // namespace

TEST(KernelDriverForm, EveryRequestIsFramedAsTheDriverExpects) {
    auto owned = std::make_unique<RecordingDevice>();
    RecordingDevice *dev = owned.get();
    usb::Transport t;
    t.device = std::move(owned);
    t.winUsbOpen = false;

    dev->answer = {0x34, 0x12};
    uint16_t v = 0;
    ASSERT_EQ(usb::ixGet(t, 60, &v), 0);
    EXPECT_EQ(v, 0x1234);
    ASSERT_EQ(usb::ixSet(t, 74, 1024), 0);
    uint8_t block[5] = {};
    dev->answer = {1, 2, 3, 4, 5};
    ASSERT_EQ(usb::ixGetBlock(t, 65, block, 5, nullptr), 0);
    const uint8_t three[3] = {0xAA, 0xBB, 0xCC};
    uint32_t sent = 0;
    ASSERT_EQ(usb::ixSetBlock(t, 13, three, 3, &sent), 0);
    EXPECT_EQ(sent, 3u);
    const uint8_t two[2] = {0x01, 0x02};
    ASSERT_EQ(usb::ixSetBlock(t, 13, two, 2, nullptr), 0);
    const uint8_t one[1] = {0x7F};
    ASSERT_EQ(usb::ixSetBlock(t, 13, one, 1, nullptr), 0);

    std::vector<uint8_t> withData = header(1, 0x60, 0, 13);
    withData.insert(withData.end(), three, three + 3);
    const RecordingDevice::Call expected[] = {
        {0x22E000, header(0, 0x61, 0, 60), 2},     {0x22E000, header(1, 0x60, 1024, 74), 0},
        {0x22E000, header(0, 0x61, 0, 65), 5},     {0x22E000, withData, 0},
        {0x22E000, header(1, 0x60, 0x0201, 13), 0}, {0x22E000, header(1, 0x60, 0x007F, 13), 0},
    };
    ASSERT_EQ(dev->calls.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(dev->calls[i].code, expected[i].code) << i;
        EXPECT_EQ(dev->calls[i].in, expected[i].in) << i;
        EXPECT_EQ(dev->calls[i].outLength, expected[i].outLength) << i;
    }

    dev->failNext = true;
    EXPECT_EQ(usb::ixGet(t, 60, &v), 1);
    EXPECT_EQ(usb::ixSet(t, 60, 1), 1);
    EXPECT_EQ(usb::ixSetBlock(t, 13, three, 3, nullptr), 1);

    uint8_t frame[64];
    uint32_t n = 0;
    EXPECT_EQ(usb::readFrame(t, frame, sizeof frame, &n), 0);
    EXPECT_EQ(n, 32u);
}

TEST(KernelDriverForm, IdentityRecordFillsTheContextAndCutsLongStrings) {
    auto owned = std::make_unique<RecordingDevice>();
    RecordingDevice *dev = owned.get();
    CameraContext ctx{};
    ctx.transport.device = std::move(owned);
    ctx.transport.winUsbOpen = false;
    dev->answer.assign(1542, 0);
    auto put = [&](size_t at, uint16_t w) {
        dev->answer[at] = uint8_t(w);
        dev->answer[at + 1] = uint8_t(w >> 8);
    };
    put(0, 0x0102);
    put(2, 0x3E55);
    put(516, 0x3046);
    for (size_t i = 0; i < 256; ++i) put(4 + 2 * i, 'M'); // fills its field with no terminator
    const char *product = "CorvelLumo";
    for (size_t i = 0; product[i]; ++i) put(518 + 2 * i, uint16_t(product[i]));
    ASSERT_EQ(ReadIdentity(ctx), 0);
    EXPECT_EQ(dev->calls.at(0).code, 0x22E004u);
    EXPECT_EQ(dev->calls.at(0).outLength, 1542u);
    EXPECT_EQ(ctx.identityWord, 0x0102);
    EXPECT_EQ(ctx.vendorId, 0x3E55);
    EXPECT_EQ(ctx.productId, 0x3046);
    EXPECT_EQ(ctx.manufacturerName[254], u'M');
    EXPECT_EQ(ctx.manufacturerName[255], 0);
    EXPECT_EQ(std::u16string(ctx.productName), u"CorvelLumo");
    EXPECT_EQ(ctx.serialNumber[0], 0);

    dev->failNext = true;
    EXPECT_EQ(ReadIdentity(ctx), 1);
    EXPECT_EQ(ctx.productName[0], 0);
}

// Against the virtual camera: both forms reach the same registers and trace
// the same way; a block of two bytes is the plain register write.
TEST(Transport, BothFormsAgainstTheVirtualCamera) {
    std::string trace = ixtest::useSimulator();
    for (bool winUsb : {true, false}) {
        char16_t path[usb::kDevicePathUnits];
        ASSERT_EQ(usb::getDeviceName(usb::kLumoInterfaceClass, path), 0);
        uint32_t error = 0;
        usb::Transport t;
        t.device = platform::openDevicePath(path, winUsb, &error);
        ASSERT_NE(t.device, nullptr);
        if (winUsb) {
            ASSERT_TRUE(t.device->winUsbInitialize());
        }
        t.winUsbOpen = winUsb;
        const uint8_t two[2] = {0x34, 0x12}, three[3] = {1, 2, 3};
        EXPECT_EQ(usb::ixSetBlock(t, 48, two, 2, nullptr), 0);
        EXPECT_EQ(usb::ixSetBlock(t, 13, three, 3, nullptr), 0);
        uint16_t v = 0;
        EXPECT_EQ(usb::ixGet(t, 48, &v), 0);
        EXPECT_EQ(v, 0x1234);
        uint8_t back[3] = {};
        EXPECT_EQ(usb::ixGetBlock(t, 13, back, 3, nullptr), 0);
        EXPECT_EQ(std::memcmp(back, three, 3), 0);
    }
    auto t = readTrace(trace);
    ASSERT_EQ(t.size(), 8u);
    for (size_t form = 0; form < 2; ++form) {
        const auto *l = &t[form * 4];
        EXPECT_TRUE(l[0].op == "set" && l[0].reg == 48 && l[0].value == 0x1234) << l[0].raw;
        EXPECT_TRUE(l[1].op == "setblock" && l[1].reg == 13 && l[1].len == 3 && l[1].data == "010203") << l[1].raw;
        EXPECT_TRUE(l[2].op == "get" && l[2].reg == 48) << l[2].raw;
        EXPECT_TRUE(l[3].op == "getblock" && l[3].reg == 13 && l[3].len == 3) << l[3].raw;
    }
}

TEST(Transport, DiscoveryFindsOnlyTheCameraClass) {
    ixtest::useSimulator();
    char16_t path[usb::kDevicePathUnits];
    platform::Guid other = usb::kLumoInterfaceClass;
    other.data1 ^= 1;
    EXPECT_EQ(usb::getDeviceName(other, path), 16);
    EXPECT_EQ(path[0], 0);
    ixtest::useSimulator("fail=absent");
    EXPECT_EQ(usb::getDeviceName(usb::kLumoInterfaceClass, path), 16);
}
