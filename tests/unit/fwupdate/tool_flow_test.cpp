// The tool's whole run, console transcript included, against the scripted camera.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "IxFwUpdate/output.h"
#include "IxFwUpdate/tool.h"
#include "fake_camera.h"
#include "usb/device_class.h"

using fwtest::camera;
using fwtest::consoleText;
using fwtest::Event;

namespace {

const std::wstring kBanner = L"\n\nIxFwUpdate, version 1.7\nFirmware update for Corvel USB cameras\n";
const std::wstring kKey = L"\nPress any key to exit...\n";

class ToolFlow : public ::testing::Test {
protected:
    void SetUp() override {
        fwtest::resetCamera();
        fwtest::captureOutput();
        camera().interfaceClass = ix::usb::kLumoInterfaceClass;
        hex = std::filesystem::temp_directory_path() / "ixfw_unit_flow.hex";
        FILE *f = std::fopen(hex.string().c_str(), "wb");
        ASSERT_NE(f, nullptr);
        // Two words in page 0 and a page in sector 2.
        std::fputs(":04000000A1B2C3D4F0\n:020000040002F8\n:10010000000102030405060708090A0B0C0D0E0F00\n"
                   ":00000001FF\n",
                   f);
        std::fclose(f);
    }
    void TearDown() override { std::filesystem::remove(hex); }

    int run(std::vector<std::wstring> args) { return ix::fw::runFwUpdate(args); }
    int findCalls() const { return int(camera().requests(Event::Find).size()); }

    std::filesystem::path hex;
};

TEST_F(ToolFlow, WrongArgumentCountShowsTheSyntax) {
    const std::vector<std::vector<std::wstring>> argLists = {{}, {L"3046"}, {L"3046", L"a.hex", L"extra"}};
    for (const auto &args : argLists) {
        SCOPED_TRACE(args.size());
        SetUp();
        EXPECT_EQ(run(args), 0);
        EXPECT_EQ(consoleText(), kBanner + L"Syntax: IxFwUpdate <device PID> <filename.hex>" + kKey);
        EXPECT_EQ(findCalls(), 0);
    }
}

TEST_F(ToolFlow, UnknownPidIsNamed) {
    EXPECT_EQ(run({L"3040", hex.wstring()}), 0);
    EXPECT_EQ(consoleText(), kBanner + L"Invalid PID specified! 3040\n" + kKey);
    EXPECT_EQ(findCalls(), 0);
}

TEST_F(ToolFlow, OverlongPidIsCutToItsBuffer) {
    std::wstring pid(400, L'9');
    EXPECT_EQ(run({pid, hex.wstring()}), 0);
    EXPECT_EQ(consoleText(), kBanner + L"Invalid PID specified! " + pid.substr(0, 259) + L"\n" + kKey);
}

TEST_F(ToolFlow, MissingFileStopsBeforeTheCamera) {
    std::filesystem::remove(hex);
    EXPECT_EQ(run({L"3046", hex.wstring()}), 0);
    EXPECT_EQ(consoleText(), kBanner + L"Error reading firmware file!\n" + kKey);
    EXPECT_TRUE(fwtest::debugHas(L"getHexFile: Error Opening Firmware File - 00000002\n"));
    EXPECT_EQ(findCalls(), 0);
}

TEST_F(ToolFlow, NoCamera) {
    camera().findResult = ix::platform::FindResult::NoInterface;
    EXPECT_EQ(run({L"3046", hex.wstring()}), 0);
    EXPECT_EQ(consoleText(), kBanner + L"Error opening device!\n" + kKey);
}

TEST_F(ToolFlow, SuccessfulUpdate) {
    camera().absentAfterRestart = 3;
    EXPECT_EQ(run({L"3041ab", hex.wstring()}), 0);
    EXPECT_EQ(consoleText(), kBanner +
                                 L"Current CorvelLumo FW is version 1.7\n"
                                 L"\nErasing Flash... Done\nUpdating Firmware... Done\nVerifying Firmware Update... Done\n"
                                 L"\nFirmware Updated Successfully!\n"
                                 L"\nWaiting for Device to Successfully Reenumerate!\n"
                                 L"\nDevice passed Reenumeration!\n\n"
                                 L"Updated CorvelLumo FW to version 1.8\n" +
                                 kKey);
    EXPECT_EQ(camera().erasedSectors, (std::vector<uint32_t>{0, 0x20000}));
    const uint8_t page0[] = {0xB2, 0xA1, 0xD4, 0xC3, 0xFF};
    EXPECT_TRUE(std::equal(page0, page0 + 5, camera().flash.begin()));
    for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(camera().flash[0x20100 + (i ^ 1)], i);
    // Block mode was chosen, and the camera was absent for three attempts,
    // each followed by half a second, before it came back.
    EXPECT_EQ(camera().requests(Event::SetBlock).size(), 2u);
    std::vector<uint32_t> sleeps = camera().sleeps();
    ASSERT_GE(sleeps.size(), 4u);
    EXPECT_EQ(std::vector<uint32_t>(sleeps.end() - 4, sleeps.end()), (std::vector<uint32_t>{1000, 500, 500, 500}));
    EXPECT_EQ(findCalls(), 1 + 4);
    EXPECT_EQ(camera().openDevices, 0);
    EXPECT_EQ(camera().keyReads, 0);
    EXPECT_TRUE(fwtest::debugLines().empty());
}

TEST_F(ToolFlow, GaroRowUsesItsOwnClass) {
    camera().interfaceClass = {0x9E4B7C06, 0xA21D, 0x4F58, {0x8D, 0x3E, 0x60, 0xB1, 0xF7, 0xA4, 0xC9, 0x85}};
    camera().absentAfterRestart = 0;
    camera().versionAfterRestart = 0x0210;
    run({L"303f", hex.wstring()});
    EXPECT_NE(consoleText().find(L"Current CorvelGaro FW is version 1.7\n"), std::wstring::npos);
    EXPECT_NE(consoleText().find(L"Updated CorvelGaro FW to version 2.16\n"), std::wstring::npos);
}

TEST_F(ToolFlow, CameraThatNeverReturns) {
    camera().absentAfterRestart = -1;
    EXPECT_EQ(run({L"3046", hex.wstring()}), 0);
    const std::wstring tail = L"\nWaiting for Device to Successfully Reenumerate!\n\nDevice failed Reenumeration!\n" + kKey;
    ASSERT_GE(consoleText().size(), tail.size());
    EXPECT_EQ(consoleText().substr(consoleText().size() - tail.size()), tail);
    std::vector<uint32_t> sleeps = camera().sleeps();
    ASSERT_GE(sleeps.size(), 11u);
    EXPECT_EQ(std::vector<uint32_t>(sleeps.end() - 11, sleeps.end()),
              (std::vector<uint32_t>{1000, 500, 500, 500, 500, 500, 500, 500, 500, 500, 500}));
    EXPECT_EQ(findCalls(), 1 + 10);
    EXPECT_EQ(camera().openDevices, 0);
}

TEST_F(ToolFlow, FailedUpdateClosesTheCamera) {
    camera().eraseStatus = {0xFFFF};
    EXPECT_EQ(run({L"3046", hex.wstring()}), 0);
    EXPECT_EQ(consoleText(), kBanner + L"Current CorvelLumo FW is version 1.7\n\nErasing Flash... Error!\n"
                                       L"\nFirmware Update FAILED!\n" + kKey);
    EXPECT_EQ(findCalls(), 1);
    EXPECT_EQ(camera().openDevices, 0);
    EXPECT_EQ(camera().requests(Event::Free).size(), 1u);
}

TEST_F(ToolFlow, UnreadableVersionIsNotMadeUp) {
    camera().versionReadFails = true;
    camera().eraseStatus = {0xFFFF};
    run({L"3046", hex.wstring()});
    EXPECT_NE(consoleText().find(L"Current CorvelLumo FW is version unknown\n"), std::wstring::npos);
    EXPECT_TRUE(fwtest::debugHas(L"ixGet: ctrlId - 0008, Error - 0000001F\n"));
}

TEST_F(ToolFlow, WordModeWhenBlockReadsAreRefused) {
    camera().blockReadsRefused = true;
    camera().absentAfterRestart = 0;
    run({L"3046", hex.wstring()});
    EXPECT_NE(consoleText().find(L"Device passed Reenumeration!"), std::wstring::npos);
    EXPECT_EQ(camera().requests(Event::SetBlock).size(), 0u);
    EXPECT_EQ(camera().requests(Event::GetBlock).size(), 1u);  // the test read only
    EXPECT_EQ(camera().flash[0x20100 + 1], 0);
}

TEST_F(ToolFlow, KeyWaitOnlyOnAConsole) {
    for (bool console : {false, true}) {
        SetUp();
        camera().console = console;
        run({});
        EXPECT_EQ(camera().keyReads, console ? 1 : 0);
    }
}

TEST(DebugLog, LevelsAndLongLines) {
    fwtest::resetCamera();
    fwtest::captureOutput();
    ix::fw::IxDbg(0, L"dropped %d\n", 1);
    EXPECT_TRUE(fwtest::debugLines().empty());
    ix::fw::IxDbg(1, L"kept %d %ls %08X\n", 7, L"text", 0xBEEFu);
    ASSERT_EQ(fwtest::debugLines().size(), 1u);
    EXPECT_EQ(fwtest::debugLines()[0], L"kept 7 text 0000BEEF\n");
    // Around the 512-unit stack buffer, and far beyond it: always whole.
    for (size_t n : {size_t(510), size_t(511), size_t(512), size_t(513), size_t(5000), size_t(200000)}) {
        fwtest::debugLines().clear();
        std::wstring text(n, L'a');
        text[n / 2] = L'b';
        ix::fw::IxDbg(1, L"%ls", text.c_str());
        ASSERT_EQ(fwtest::debugLines().size(), 1u) << n;
        EXPECT_EQ(fwtest::debugLines()[0], text) << n;
    }
    // A line the heap fallback will not hold is replaced, never cut.
    fwtest::debugLines().clear();
    std::wstring huge(ix::fw::kMaxDebugUnits, L'z');
    ix::fw::IxDbg(1, L"%ls", huge.c_str());
    ASSERT_EQ(fwtest::debugLines().size(), 1u);
    EXPECT_EQ(fwtest::debugLines()[0], L"IxDbg: Memory Allocation Error!\n");
}

} // namespace
