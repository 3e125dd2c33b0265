#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ix::sim {

// One fault rule of the `fail=` setting: "<op>:<reg>:<n>" fails the n-th
// matching request, "<op>:<reg>:<n>+" every one from the n-th on. <reg> is a
// register number, or '*' / empty for any. Ops: get set getblock setblock
// read descriptor ioctl winusb, and for the bulk pipe also stall (the read
// hangs until the device handle closes) and unplug (the device leaves the bus).
// "absent" hides the camera, "denied" makes opening it fail with access denied.
struct FaultRule {
    std::string op;
    int reg = -1;
    unsigned nth = 1;
    bool onward = false;
    unsigned seen = 0;
};

struct RangeStep {
    uint16_t value;
    uint32_t atMs;
};

// One step of the eyes= script: channel 0's pupil centres in scene fractions
// (0..1 across, 0..1 down), left eye first, shown from atMs on.
struct EyeStep {
    double x[2] = {0, 0}, y[2] = {0, 0};
    uint32_t atMs = 0;
};

struct Settings {
    uint16_t vendorId = 0x3E55;
    uint16_t productId = 0x3046;
    uint16_t firmware = 0x0107;
    uint16_t revision = 258;
    uint16_t sensorWidth[2] = {2560, 1920};
    uint16_t sensorHeight[2] = {1920, 2560};
    uint16_t target[2] = {500, 500};
    std::vector<RangeStep> range{{500, 0}};
    unsigned fps = 30;
    unsigned quality = 85;
    unsigned light = 100;          // light=P: the scene reflects P % of the usual light
    bool stampFrames = false;      // stamp=1: each frame's number in its first 8 bytes
    // eyes=x1,y1,x2,y2@ms/...: where channel 0's pupils are, step by step
    // (times in ms since power-up, as for range=); empty, the eyes sit side
    // by side on the middle line and spread apart as the subject comes nearer.
    std::vector<EyeStep> eyes;
    // glint=DX,DY: the glint's centre from the pupil's, in pupil radii
    // (right and down positive); glint=none: eyes without a glint.
    bool glint = true;
    double glintOffset[2] = {-0.3, -0.3};
    bool stuckPixels = true;       // stuck=0: the flash's defect pixels do not show
    std::string flashPath;
    std::string tracePath;
    std::vector<FaultRule> faults;
    std::map<uint16_t, uint16_t> registers;
    // Strings: "none" gives a string index of 0, anything else (even empty) is served.
    std::string manufacturer = "Corvel Optics";
    std::string product = "CorvelLumo";
    std::string serial = "CL3046-000117";
    unsigned eraseBusyPolls = 3;   // status reads that answer busy after an erase command
    bool eraseNeverReady = false;  // erasebusy=forever
    bool eraseFails = false;       // status 0xFFFF after an erase command
    unsigned restartMs = 1000;     // time off the bus after the restart command
    bool neverReturns = false;     // restartms=never: gone for good after a restart
    int64_t corruptAddress = -1;   // corrupt=ADDR: the word programmed there comes out wrong
    bool absent = false;
    bool denied = false;
};

// Parses the settings text; unknown keys or bad values fill `error`.
bool parseSettings(const std::string &text, Settings &out, std::string &error);

} // namespace ix::sim
