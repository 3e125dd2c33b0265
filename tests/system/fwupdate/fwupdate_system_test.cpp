// The firmware tool as a user runs it: a separate process, a HEX file made
// by objcopy, the virtual camera behind IXLUMO_SIMULATOR, stdin no console.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

const std::string kData = IXFW_DATA;
const std::string kFlash = kData + "/flash.bin";
const std::string kTrace = kData + "/trace.jsonl";
const std::string kHex = kData + "/image.hex";
constexpr uint32_t kBase = 0x10000;
constexpr size_t kFlashBytes = 1u << 20;

std::vector<uint8_t> readAll(const std::string &name) {
    std::vector<uint8_t> bytes;
    if (FILE *f = std::fopen(name.c_str(), "rb")) {
        uint8_t chunk[65536];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
        std::fclose(f);
    }
    return bytes;
}

void writeAll(const std::string &name, const std::vector<uint8_t> &bytes) {
    FILE *f = std::fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr) << name;
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
}

// Runs the tool with the simulator settings; returns its console text.
std::string runTool(const std::string &settings, const std::string &args, int *exitCode) {
#ifdef _WIN32
    _putenv_s("IXLUMO_SIMULATOR", settings.c_str());
    std::string command = "IxFwUpdate.exe " + args + " < NUL";
    FILE *p = _popen(command.c_str(), "rb");
#else
    setenv("IXLUMO_SIMULATOR", settings.c_str(), 1);
    std::string command = "./IxFwUpdate " + args + " < /dev/null";
    FILE *p = popen(command.c_str(), "r");
#endif
    std::string out;
    if (!p) return out;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, p)) > 0) out.append(chunk, n);
#ifdef _WIN32
    *exitCode = _pclose(p);
    // Standard output is a text stream on Windows: every line ends in CR LF.
    std::string lf;
    for (size_t i = 0; i < out.size(); ++i) {
        if (!(out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n')) lf.push_back(out[i]);
    }
    out.swap(lf);
#else
    int status = pclose(p);
    *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    return out;
}

std::vector<std::string> traceLines() {
    std::vector<uint8_t> bytes = readAll(kTrace);
    std::vector<std::string> lines;
    std::string line;
    for (uint8_t b : bytes) {
        if (b == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line.push_back(char(b));
        }
    }
    return lines;
}

size_t countContaining(const std::vector<std::string> &lines, const std::string &needle) {
    size_t n = 0;
    for (const std::string &l : lines) n += l.find(needle) != std::string::npos;
    return n;
}

const std::string kBanner = "\n\nIxFwUpdate, version 1.7\nFirmware update for Corvel USB cameras\n";

class FwUpdateRun : public ::testing::Test {
protected:
    void SetUp() override {
        // A flash full of a known pattern, so every byte the tool should not
        // have touched can be checked.
        before.resize(kFlashBytes);
        std::mt19937 rng(7);
        for (auto &b : before) b = uint8_t(rng());
        writeAll(kFlash, before);
        std::remove(kTrace.c_str());
        swapped = readAll(kData + "/image.swapped");
        ASSERT_EQ(swapped.size(), 200000u);
    }
    void TearDown() override {
        std::remove(kFlash.c_str());
        std::remove((kFlash + ".tmp").c_str());
        std::remove(kTrace.c_str());
    }
    std::string settings(const std::string &extra = "") const {
        return "flash=" + kFlash + ";trace=" + kTrace + (extra.empty() ? "" : ";" + extra);
    }
    // Sectors 1 to 4 hold the image and 0xFF elsewhere; all other sectors
    // are as they were.
    void expectImageInFlash() {
        std::vector<uint8_t> after = readAll(kFlash);
        ASSERT_EQ(after.size(), kFlashBytes);
        size_t wrong = 0, first = 0;
        for (size_t a = 0; a < kFlashBytes; ++a) {
            uint8_t want;
            if (a >= kBase && a < kBase + swapped.size()) want = swapped[a - kBase];
            else if (a >= 0x10000 && a < 0x50000) want = 0xFF;
            else want = before[a];
            if (after[a] != want && wrong++ == 0) first = a;
        }
        EXPECT_EQ(wrong, 0u) << "first difference at " << first;
    }

    std::vector<uint8_t> before, swapped;
};

TEST_F(FwUpdateRun, BlockModeUpdate) {
    int code = -1;
    std::string out = runTool(settings(), "3046 " + kHex, &code);
    EXPECT_EQ(code, 0);
    const std::string until = kBanner +
                              "Current CorvelLumo FW is version 1.7\n"
                              "\nErasing Flash... Done\nUpdating Firmware... Done\nVerifying Firmware Update... Done\n"
                              "\nFirmware Updated Successfully!\n"
                              "\nWaiting for Device to Successfully Reenumerate!\n"
                              "\nDevice passed Reenumeration!\n\n"
                              "Updated CorvelLumo FW to version ";
    EXPECT_EQ(out.substr(0, until.size()), until);
    EXPECT_EQ(out.substr(out.size() - 27), "\n\nPress any key to exit...\n");
    expectImageInFlash();

    // 200,000 bytes cover 782 pages, one of them erased in the file: 781
    // block writes and 781 block reads besides the block read test.
    std::vector<std::string> trace = traceLines();
    EXPECT_EQ(countContaining(trace, "\"op\":\"setblock\",\"reg\":65,\"len\":256"), 781u);
    EXPECT_EQ(countContaining(trace, "\"op\":\"getblock\",\"reg\":65,\"len\":256"), 782u);
    EXPECT_EQ(countContaining(trace, "\"op\":\"set\",\"reg\":65,\"value\":85,"), 4u);
    EXPECT_EQ(countContaining(trace, "\"op\":\"set\",\"reg\":65,\"value\":1000,"), 1u);
}

TEST_F(FwUpdateRun, WordModeWhenBlockReadsFail) {
    int code = -1;
    std::string out = runTool(settings("fail=getblock:65:1+"), "3041 " + kHex, &code);
    EXPECT_EQ(code, 0);
    EXPECT_NE(out.find("Verifying Firmware Update... Done\n"), std::string::npos) << out;
    expectImageInFlash();
    std::vector<std::string> trace = traceLines();
    EXPECT_EQ(countContaining(trace, "\"op\":\"setblock\""), 0u);
    // 128 data-port writes per programmed page, read back word by word.
    size_t reads65 = countContaining(trace, "\"op\":\"get\",\"reg\":65,");
    EXPECT_EQ(reads65, 781u * 128u);
}

TEST_F(FwUpdateRun, FailuresEndWithTheirMessages) {
    const struct {
        const char *name;
        std::string settings;
        std::string args;
        std::string expected;  // the console text after the banner
        bool flashUntouched;
    } cases[] = {
        {"no camera", settings("fail=absent"), "3046 " + kHex, "Error opening device!\n\nPress any key to exit...\n",
         true},
        {"erase fails", settings("erasebusy=fail"), "3046 " + kHex,
         "Current CorvelLumo FW is version 1.7\n\nErasing Flash... Error!\n\nFirmware Update FAILED!\n"
         "\nPress any key to exit...\n",
         true},
        {"missing file", settings(), "3046 " + kData + "/no_such.hex",
         "Error reading firmware file!\n\nPress any key to exit...\n", true},
        {"wrong model", settings(), "3035 " + kHex, "Error opening device!\n\nPress any key to exit...\n", true},
        {"no arguments", settings(), "",
         "Syntax: IxFwUpdate <device PID> <filename.hex>\nPress any key to exit...\n", true},
        {"camera never returns", settings("restartms=never"), "3046 " + kHex,
         "Current CorvelLumo FW is version 1.7\n"
         "\nErasing Flash... Done\nUpdating Firmware... Done\nVerifying Firmware Update... Done\n"
         "\nFirmware Updated Successfully!\n"
         "\nWaiting for Device to Successfully Reenumerate!\n"
         "\nDevice failed Reenumeration!\n"
         "\nPress any key to exit...\n",
         false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        int code = -1;
        std::string out = runTool(c.settings, c.args, &code);
        EXPECT_EQ(code, 0);
        EXPECT_EQ(out, kBanner + c.expected);
        if (c.flashUntouched) EXPECT_EQ(readAll(kFlash), before);
        else expectImageInFlash();
    }
}

// An Intel HEX record: count, address, type, data, two's-complement checksum.
std::string hexRecord(uint16_t address, uint8_t type, const std::vector<uint8_t> &data) {
    std::vector<uint8_t> bytes = {uint8_t(data.size()), uint8_t(address >> 8), uint8_t(address), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t b : bytes) sum = uint8_t(sum + b);
    bytes.push_back(uint8_t(-sum));
    std::string line = ":";
    char hex[3];
    for (uint8_t b : bytes) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
    }
    return line + "\n";
}

// An image that carries the camera's version record (word 0x4657 at flash
// address 0x1FFF0, then the version): after the restart the camera reports it.
// File bytes land in the flash with each 16-bit word swapped.
TEST_F(FwUpdateRun, CameraComesBackWithTheImagesVersion) {
    const std::string hex = kData + "/versioned.hex";
    std::string text = hexRecord(0, 4, {0x00, 0x01}) + hexRecord(0xFFF0, 0, {0x46, 0x57, 0x02, 0x03}) +
                       hexRecord(0, 1, {});
    writeAll(hex, std::vector<uint8_t>(text.begin(), text.end()));
    int code = -1;
    std::string out = runTool(settings(), "3046 " + hex, &code);
    EXPECT_EQ(code, 0);
    EXPECT_NE(out.find("Current CorvelLumo FW is version 1.7\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Updated CorvelLumo FW to version 2.3"), std::string::npos) << out;
    std::vector<uint8_t> after = readAll(kFlash);
    ASSERT_EQ(after.size(), kFlashBytes);
    EXPECT_EQ(after[0x1FFF0], 0x57);
    EXPECT_EQ(after[0x1FFF1], 0x46);
    EXPECT_EQ(after[0x1FFF2], 0x03);
    EXPECT_EQ(after[0x1FFF3], 0x02);

    // A camera whose flash mangles one word fails the verify.
    SetUp();
    out = runTool(settings("corrupt=0x1FFF2"), "3046 " + hex, &code);
    EXPECT_NE(out.find("Verifying Firmware Update... Error\n"), std::string::npos) << out;
    std::remove(hex.c_str());
}

} // namespace
