// ixlumo: the camera from the command line, through the library's C API only.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "IxiLumo.h"
#include "commands.h"

namespace {

void usage() {
    std::fputs("usage: ixlumo [--simulate[=SETTINGS]] <command> [arguments]\n"
               "commands:\n"
               "  info                 identity of the camera and its eye locator\n",
               stderr);
    for (const Command &c : extraCommands()) std::fprintf(stderr, "  %-20s %s\n", c.synopsis, c.help);
    std::fputs("--simulate uses the virtual camera (settings: key=value;... as in IXLUMO_SIMULATOR)\n", stderr);
}

void setSimulator(const char *value) {
#ifdef _WIN32
    _putenv_s("IXLUMO_SIMULATOR", value);
#else
    setenv("IXLUMO_SIMULATOR", value, 1);
#endif
}

} // namespace

std::string narrowControl(uint32_t id) {
    uint16_t buffer[260] = {};
    int32_t n = 0;
    if (IxGetControlValue(id, buffer, sizeof buffer, &n) != IX_OK) return "";
    return std::string(reinterpret_cast<const char *>(buffer));
}

int scalarControl(uint32_t id, uint16_t &value) {
    uint16_t buffer[2] = {};
    int r = IxGetControlValue(id, buffer, sizeof buffer, nullptr);
    value = buffer[0];
    return r;
}

static int info() {
    uint16_t vid = 0, pid = 0, identity = 0, fw = 0, revision = 0, maxW = 0, maxH = 0;
    scalarControl(IX_CTL_VENDOR_ID, vid);
    scalarControl(IX_CTL_PRODUCT_ID, pid);
    scalarControl(IX_CTL_IDENTITY_WORD, identity);
    scalarControl(IX_CTL_FIRMWARE_VERSION, fw);
    scalarControl(IX_CTL_REVISION, revision);
    scalarControl(IX_CTL_MAX_WIDTH, maxW);
    scalarControl(IX_CTL_MAX_HEIGHT, maxH);
    // Control 160 is accepted only while the eye locator is ready; 0 is its
    // value after open, so the probe changes nothing.
    bool locator = IxSetControlValue(IX_CTL_LOCATOR_ASSIST, 0, 2) == IX_OK;
    std::printf("USB ids:          %04x:%04x\n", vid, pid);
    std::printf("Manufacturer:     %s\n", narrowControl(IX_CTL_MANUFACTURER_A).c_str());
    std::printf("Product:          %s\n", narrowControl(IX_CTL_PRODUCT_A).c_str());
    std::printf("Serial number:    %s\n", narrowControl(IX_CTL_SERIAL_A).c_str());
    std::printf("Identity word:    0x%04x\n", identity);
    std::printf("Firmware version: %u.%u\n", fw >> 8, fw & 0xFF);
    std::printf("Revision:         %u\n", revision);
    std::printf("Sensor (ch 0):    %ux%u\n", maxW, maxH);
    std::printf("Eye locator:      %s\n", locator ? "ready" : "not ready");
    return 0;
}

int main(int argc, char **argv) {
    std::vector<std::string> args;
    // --simulate may stand before or after the command.
    bool plainSimulate = false;
    for (int a = 1; a < argc; ++a) {
        std::string arg = argv[a];
        if (arg == "--simulate") setSimulator("1"), plainSimulate = true;
        else if (arg.rfind("--simulate=", 0) == 0) setSimulator(arg.c_str() + 11);
        else args.push_back(arg);
    }
    const bool scene = plainSimulate && !args.empty() && args[0] == "demo";
    if (scene) setSimulator(kDemoScene);
    if (args.empty()) {
        usage();
        return 2;
    }
    const std::string command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());

    const Command *extra = nullptr;
    for (const Command &c : extraCommands())
        if (command == c.name) extra = &c;
    if (command != "info" && !extra) {
        std::fprintf(stderr, "ixlumo: unknown command '%s'\n", command.c_str());
        usage();
        return 2;
    }
    if (extra && !extra->needsCamera) return extra->run(rest);

    // The virtual camera powers up inside IxOpen; its scene counts from there.
    static const auto openedAt = std::chrono::steady_clock::now();
    if (scene) demoSceneClock = &openedAt;
    if (IxOpen() != IX_OK) {
        std::fputs("ixlumo: no camera found (use --simulate for the virtual camera)\n", stderr);
        return 1;
    }
    int rc = command == "info" ? info() : extra->run(rest);
    IxClose();
    return rc;
}
