// The flash protocol against the scripted camera.
#include <gtest/gtest.h>

#include <memory>

#include "IxFwUpdate/flash.h"
#include "IxFwUpdate/models.h"
#include "IxFwUpdate/output.h"
#include "fake_camera.h"
#include "usb/device_class.h"

using fwtest::camera;
using fwtest::Event;
using namespace ix::fw;

namespace {

class Protocol : public ::testing::Test {
protected:
    void SetUp() override {
        fwtest::resetCamera();
        fwtest::captureOutput();
        camera().interfaceClass = ix::usb::kLumoInterfaceClass;
        dev.interfaceClass = ix::usb::kLumoInterfaceClass;
        fw->image.fill(0xFF);
        fw->pageUsed.fill(0);
    }
    void TearDown() override { closeDevice(dev); }

    // Puts a word into the image the way the HEX loader does.
    void put(uint32_t address, uint16_t word) {
        fw->image[address] = uint8_t(word);
        fw->image[address + 1] = uint8_t(word >> 8);
        fw->pageUsed[address / 256] = 1;
    }
    void putPage(uint32_t address, uint16_t seed) {
        for (uint32_t i = 0; i < 128; ++i) put(address + 2 * i, uint16_t(seed + i * 7));
    }
    void open(bool blockMode) {
        ASSERT_EQ(initDevice(dev), 0);
        dev.blockMode = blockMode;
        camera().events.clear();
    }
    // The camera's flash page holds exactly the image's page.
    bool flashHolds(uint32_t address) {
        return std::equal(fw->image.begin() + address, fw->image.begin() + address + 256,
                          camera().flash.begin() + address);
    }
    // Register 65 writes made while index 11 (the data port) was selected.
    size_t dataPortWrites() {
        size_t n = 0;
        uint16_t index = 0;
        for (const Event &e : camera().events) {
            if (e.kind == Event::Set && e.reg == 64) index = uint16_t(e.value);
            if (e.kind == Event::Set && e.reg == 65 && index == 11) ++n;
        }
        return n;
    }
    std::vector<uint32_t> setValues(int reg) {
        std::vector<uint32_t> v;
        for (const Event &e : camera().requests(Event::Set, reg)) v.push_back(e.value);
        return v;
    }

    FlashDevice dev;
    std::unique_ptr<FirmwareImage> fw = std::make_unique<FirmwareImage>();
};

TEST_F(Protocol, RequestsCarryTheVendorPackets) {
    open(true);
    uint16_t v = 0;
    ASSERT_EQ(ixGet(dev, 8, &v), 0);
    EXPECT_EQ(v, 0x0107);
    ASSERT_EQ(ixSet(dev, 64, 9), 0);
    uint8_t block[256];
    for (int i = 0; i < 256; ++i) block[i] = uint8_t(i);
    ASSERT_EQ(ixSet(dev, 64, 11), 0);
    ASSERT_EQ(ixSetBlock(dev, block), 0);
    const std::vector<uint8_t> sent(block, block + 256);
    ASSERT_EQ(ixGetBlock(dev, block), 0);

    const auto &ev = camera().events;
    ASSERT_EQ(ev.size(), 5u);
    auto same = [](const ix::platform::SetupPacket &s, uint8_t t, uint8_t r, uint16_t value, uint16_t index,
                   uint16_t length) {
        return s.requestType == t && s.request == r && s.value == value && s.index == index && s.length == length;
    };
    EXPECT_TRUE(same(ev[0].setup, 0xC0, 0x61, 0, 8, 2));
    EXPECT_TRUE(same(ev[1].setup, 0x40, 0x60, 9, 64, 0));
    EXPECT_TRUE(same(ev[3].setup, 0x40, 0x60, 0, 65, 256));
    EXPECT_EQ(ev[3].data, sent);
    EXPECT_TRUE(same(ev[4].setup, 0xC0, 0x61, 0, 65, 256));
}

TEST_F(Protocol, FailedRequestsLogTheSystemError) {
    open(true);
    camera().failures = {{Event::Get, 66, 0, 1, 31}, {Event::Set, -1, 0, 1, 22},
                         {Event::GetBlock, -1, 0, 1, 121}, {Event::SetBlock, -1, 0, 1, 995}};
    uint16_t v = 0xAAAA;
    uint8_t block[256] = {};
    EXPECT_EQ(ixGet(dev, 66, &v), 1);
    EXPECT_EQ(v, 0xAAAA);
    EXPECT_EQ(ixSet(dev, 64, 11), 1);
    EXPECT_EQ(ixGetBlock(dev, block), 1);
    EXPECT_EQ(ixSetBlock(dev, block), 1);
    EXPECT_EQ(fwtest::debugLines(),
              (std::vector<std::wstring>{L"ixGet: ctrlId - 0042, Error - 0000001F\n", L"ixSet Error: 00000016\n",
                                         L"ixGetBlock Error: 00000079\n", L"ixSetBlock Error: 000003E3\n"}));
    // No request is retried.
    EXPECT_EQ(camera().events.size(), 4u);
}

TEST_F(Protocol, ShortBlockReadFails) {
    open(true);
    setFlashAddress(dev, 0);
    camera().shortBlockRead = 254;
    uint8_t block[256];
    EXPECT_EQ(ixGetBlock(dev, block), 1);
    // The short count is chatter (level 0), not a system error.
    EXPECT_TRUE(fwtest::debugLines().empty());
}

TEST_F(Protocol, FlashAddressSequence) {
    open(true);
    setFlashAddress(dev, 0xF2345);
    EXPECT_EQ(setValues(-1), (std::vector<uint32_t>{9, 0x2345, 10, 0xF, 11}));
    EXPECT_EQ(camera().address, 0xF2345u);
    // Failures do not stop the sequence.
    camera().events.clear();
    camera().failures = {{Event::Set, -1, 0, 2, 31}};
    setFlashAddress(dev, 0x10000);
    EXPECT_EQ(camera().requests(Event::Set).size(), 5u);
    EXPECT_EQ(fwtest::debugLines().size(), 2u);
}

TEST_F(Protocol, BlockReadTestDecidesTheMode) {
    open(false);
    EXPECT_EQ(testBlockRead(dev), 0);
    EXPECT_EQ(setValues(-1), (std::vector<uint32_t>{9, 0, 10, 0, 11}));
    EXPECT_EQ(camera().requests(Event::GetBlock).size(), 1u);
    camera().blockReadsRefused = true;
    EXPECT_EQ(testBlockRead(dev), 1);
}

TEST_F(Protocol, UpdateTouchesOnlySectorsAndPagesWithData) {
    put(0, 0x1234);                 // sector 0, page 0
    putPage(0x30200, 0x4000);       // sector 3, page 0x302
    for (uint32_t i = 0; i < 128; ++i) put(0x30400 + 2 * i, 0xFFFF);  // named by the file, but blank
    open(true);
    ASSERT_EQ(updateFw(dev, *fw), 0);

    EXPECT_EQ(camera().erasedSectors, (std::vector<uint32_t>{0, 0x30000}));
    auto writes = camera().requests(Event::SetBlock);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].data, std::vector<uint8_t>(fw->image.begin(), fw->image.begin() + 256));
    EXPECT_EQ(writes[1].data, std::vector<uint8_t>(fw->image.begin() + 0x30200, fw->image.begin() + 0x30300));
    EXPECT_EQ(camera().requests(Event::GetBlock).size(), 2u);
    EXPECT_EQ(dataPortWrites(), 0u);
    EXPECT_TRUE(flashHolds(0));
    EXPECT_TRUE(flashHolds(0x30200));
    EXPECT_EQ(fwtest::consoleText(), L"\nErasing Flash... Done\nUpdating Firmware... Done\nVerifying Firmware Update... Done\n");

    // Then the restart command and a second's wait.
    const auto &ev = camera().events;
    ASSERT_GE(ev.size(), 3u);
    const Event &a = ev[ev.size() - 3], &b = ev[ev.size() - 2], &c = ev.back();
    EXPECT_TRUE(a.kind == Event::Set && a.reg == 64 && a.value == 49);
    EXPECT_TRUE(b.kind == Event::Set && b.reg == 65 && b.value == 1000);
    EXPECT_TRUE(c.kind == Event::Sleep && c.value == 1000);
    EXPECT_TRUE(camera().restarted);
    EXPECT_TRUE(fwtest::debugLines().empty());
}

TEST_F(Protocol, EraseCommandAddressesTheSector) {
    put(0x50000, 0x0001);
    open(true);
    ASSERT_EQ(eraseFlash(dev, *fw), 0);
    EXPECT_EQ(setValues(-1), (std::vector<uint32_t>{9, 0, 10, 5, 8, 0x55}));
}

TEST_F(Protocol, WordModeSendsOneWritePerWord) {
    putPage(0x200, 0x1230);
    putPage(0x1FF00, 0x8000);
    open(false);
    ASSERT_EQ(updateFw(dev, *fw), 0);
    EXPECT_EQ(camera().requests(Event::SetBlock).size(), 0u);
    EXPECT_EQ(camera().requests(Event::GetBlock).size(), 0u);
    EXPECT_EQ(dataPortWrites(), 256u);
    EXPECT_EQ(camera().requests(Event::Get, 65).size(), 256u);
    EXPECT_TRUE(flashHolds(0x200));
    EXPECT_TRUE(flashHolds(0x1FF00));
    // The words of one page go out in order, after the page's address.
    std::vector<uint32_t> values = setValues(65);
    // erase 0 (addr lo, hi, cmd), erase 1 (3), then page 0x200: lo, hi, 128 words.
    ASSERT_GE(values.size(), 6u + 2u + 128u);
    for (uint32_t i = 0; i < 128; ++i) ASSERT_EQ(values[8 + i], uint16_t(0x1230 + i * 7)) << i;
}

TEST_F(Protocol, ErasePollsEveryTenthOfASecondUntilReady) {
    put(0, 1);
    put(0x10000, 2);
    camera().eraseStatus = {5, 5, 0, 0};
    open(true);
    ASSERT_EQ(eraseFlash(dev, *fw), 0);
    // Sector 0: three polls, sector 1: one; each read follows a 100 ms wait.
    std::vector<std::pair<int, uint32_t>> seen;
    for (const Event &e : camera().events) {
        if (e.kind == Event::Sleep) seen.push_back({0, e.value});
        if (e.kind == Event::Get && e.reg == 66) seen.push_back({1, e.value});
        if (e.kind == Event::Set && e.reg == 65 && e.value == 0x55) seen.push_back({2, 0});
    }
    EXPECT_EQ(seen, (std::vector<std::pair<int, uint32_t>>{
                        {2, 0}, {0, 100}, {1, 5}, {0, 100}, {1, 5}, {0, 100}, {1, 0},
                        {2, 0}, {0, 100}, {1, 0}}));
}

TEST_F(Protocol, EraseFailuresStopBeforeAnythingIsWritten) {
    const struct {
        const char *name;
        std::deque<uint16_t> statuses;
        uint16_t after;
        bool readFails;
        std::vector<std::wstring> log;
        size_t polls;
    } cases[] = {
        {"status 0xFFFF", {5, 0xFFFF}, 0, false, {}, 2},
        {"status read fails", {5}, 0, true, {L"ixGet: ctrlId - 0042, Error - 0000001F\n"}, 2},
        {"busy for ever", {}, 7, false, {L"eraseFlash: Erase Timeout at 0x00000000\n"}, kMaxErasePolls},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        putPage(0, 0x100);
        camera().eraseStatus = c.statuses;
        camera().statusDefault = c.after;
        if (c.readFails) camera().failures = {{Event::Get, 66, 1, 1, 31}};
        open(true);
        EXPECT_EQ(updateFw(dev, *fw), 1);
        EXPECT_EQ(fwtest::consoleText(), L"\nErasing Flash... Error!\n");
        EXPECT_EQ(fwtest::debugLines(), c.log);
        EXPECT_EQ(camera().sleeps().size(), c.polls);
        EXPECT_EQ(camera().requests(Event::SetBlock).size(), 0u);
        EXPECT_EQ(camera().erasedSectors.size(), 1u);
        EXPECT_FALSE(camera().restarted);
        closeDevice(dev);
    }
}

TEST_F(Protocol, VerifyFindsTheFirstDifference) {
    const struct {
        const char *name;
        bool blockMode;
        int64_t corrupt;
        bool refuseReads;
        std::wstring log;
    } cases[] = {
        {"word mode", false, 0x204, false, L"VerifyFlash: Verify Error at 0x00000204 - 0x1234 should be 0x1235\n"},
        {"block mode", true, 0x204, false, L"VerifyFlash: Verify Error at Block 0x00000200\n"},
        {"block read back fails", true, -1, true, L"VerifyFlash: Verify Error at Block 0x00000200\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        putPage(0x200, 0x1000);
        put(0x204, 0x1235);
        putPage(0x300, 0x2000);
        camera().corruptAddress = c.corrupt;
        camera().corruptValue = 0x1234;
        if (c.refuseReads) camera().failures = {{Event::GetBlock, -1, 0, 1, 31}};
        open(c.blockMode);
        EXPECT_EQ(updateFw(dev, *fw), 1);
        EXPECT_EQ(fwtest::consoleText(),
                  L"\nErasing Flash... Done\nUpdating Firmware... Done\nVerifying Firmware Update... Error\n");
        ASSERT_FALSE(fwtest::debugLines().empty());
        EXPECT_EQ(fwtest::debugLines().back(), c.log);
        // The update stops at the failing page: page 0x300 is never read back,
        // and the camera is not told to restart.
        EXPECT_EQ(camera().requests(Event::Get, 65).size(), c.blockMode ? 0u : 3u);
        EXPECT_FALSE(camera().restarted);
        closeDevice(dev);
    }
}

TEST_F(Protocol, WordModeReadFailureIsADifference) {
    putPage(0, 0x0000);  // word 0 is 0, what a failed read would leave behind
    camera().failures = {{Event::Get, 65, 0, 1, 31}};
    open(false);
    EXPECT_EQ(updateFw(dev, *fw), 1);
    EXPECT_EQ(fwtest::debugLines(),
              (std::vector<std::wstring>{L"ixGet: ctrlId - 0041, Error - 0000001F\n",
                                         L"VerifyFlash: Verify Error at 0x00000000 - 0x0000 should be 0x0000\n"}));
}

TEST_F(Protocol, WriteFailuresAreLeftToTheVerify) {
    putPage(0, 0x0300);
    camera().failures = {{Event::SetBlock, -1, 0, 1, 31}};
    open(true);
    EXPECT_EQ(updateFw(dev, *fw), 1);
    EXPECT_EQ(fwtest::debugLines(), (std::vector<std::wstring>{L"ixSetBlock Error: 0000001F\n",
                                                               L"VerifyFlash: Verify Error at Block 0x00000000\n"}));
}

TEST_F(Protocol, DiscoveryAndOpenFailures) {
    using ix::platform::FindResult;
    const struct {
        const char *name;
        FindResult find;
        bool openFails, initFails, queryFails, altFails;
        std::vector<std::wstring> log;
    } cases[] = {
        {"no device set", FindResult::NoDeviceSet, false, false, false, false, {L"getDeviceName: hDevInfo == 0\n"}},
        {"no interface", FindResult::NoInterface, false, false, false, false, {}},
        {"no detail", FindResult::DetailFailed, false, false, false, false,
         {L"getDeviceName: SetupDiGetDeviceInterfaceDetail Error - 0000007A\n"}},
        {"open refused", FindResult::Found, true, false, false, false, {}},
        {"WinUSB refuses", FindResult::Found, false, true, false, false, {L"WinUsb_Initialize Error: 0000001F\n"}},
        {"settings unreadable", FindResult::Found, false, false, true, false,
         {L"WinUsb_QueryInterfaceSettings Error: 0000001F\n"}},
        {"alternate refused", FindResult::Found, false, false, false, true,
         {L"WinUsb_SetCurrentAlternateSetting Error: 0000001F\n"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        camera().findResult = c.find;
        camera().findError = 122;
        camera().openFails = c.openFails;
        camera().openError = 5;
        camera().initFails = c.initFails;
        camera().queryFails = c.queryFails;
        camera().altFails = c.altFails;
        EXPECT_EQ(initDevice(dev), 1);
        EXPECT_EQ(fwtest::debugLines(), c.log);
        // Nothing stays open after a failed attempt.
        EXPECT_EQ(camera().openDevices, 0);
        EXPECT_EQ(dev.device, nullptr);
        EXPECT_FALSE(dev.winUsbInitialized);
    }
}

TEST_F(Protocol, EachModelFindsItsOwnClass) {
    EXPECT_EQ(initDevice(dev), 0);
    closeDevice(dev);
    EXPECT_EQ(camera().openDevices, 0);
    // A Garo camera is not found under the Lumo class.
    const CameraModel *garo = findModel(L"303f");
    ASSERT_NE(garo, nullptr);
    dev.interfaceClass = garo->interfaceClass;
    EXPECT_EQ(initDevice(dev), 1);
    for (size_t i = 0; i < kModelCount; ++i) {
        for (size_t j = i + 1; j < kModelCount; ++j) {
            EXPECT_FALSE(kModels[i].interfaceClass == kModels[j].interfaceClass) << i << " " << j;
        }
    }
}

TEST_F(Protocol, ModelLookup) {
    const struct {
        const wchar_t *pid;
        const wchar_t *model;
    } cases[] = {
        {L"3035", L"CorvelPavo"}, {L"3036", L"CorvelSorn"}, {L"3044", L"CorvelSorn"}, {L"303F", L"CorvelGaro"},
        {L"303f", L"CorvelGaro"}, {L"3045", L"CorvelGaro"}, {L"3041", L"CorvelLumo"}, {L"3041ab", L"CorvelLumo"},
        {L"3046", L"CorvelLumo"}, {L"3042", L"CorvelNilo"}, {L"303c", L"CorvelDravo"}, {L"3040", nullptr},
        {L"304", nullptr},        {L"", nullptr},           {L"x3041", nullptr},
    };
    for (const auto &c : cases) {
        const CameraModel *m = findModel(c.pid);
        if (!c.model) {
            EXPECT_EQ(m, nullptr) << c.pid;
        } else {
            ASSERT_NE(m, nullptr);
            EXPECT_STREQ(m->name, c.model);
        }
    }
    const CameraModel *lumo = findModel(L"3046");
    ASSERT_NE(lumo, nullptr);
    EXPECT_TRUE(lumo->interfaceClass == ix::usb::kLumoInterfaceClass);
}

} // namespace
