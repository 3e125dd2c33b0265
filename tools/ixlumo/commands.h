// Sub-commands beyond `info`. Each lives in a file of its own and registers in
// commands.cpp.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct Command {
    const char *name;
    const char *synopsis;
    const char *help;
    bool needsCamera;
    int (*run)(const std::vector<std::string> &args);
};

const std::vector<Command> &extraCommands();

// Helpers shared by the commands.
std::string narrowControl(uint32_t id);
int scalarControl(uint32_t id, uint16_t &value);

// Virtual camera settings of the demo's scene, used when `--simulate` is
// given without settings of its own.
extern const char *const kDemoScene;
// Set by main while that scene plays: the moment the camera was opened, from
// which the scene's times count (null otherwise).
extern const std::chrono::steady_clock::time_point *demoSceneClock;
