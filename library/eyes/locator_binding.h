// The eye locator of channel 1: a separate library, PellamSPI, loaded at open
// and bound by ordinals 1 to 13.
#pragma once
#include <cstdint>

#include "library/core/context.h"
#include "locator_result.h"

namespace ix::eyes {

// Entry points the library calls; the other bound ordinals (1, 2, 3, 7, 8,
// 11, 13) are required to be present but never called.
using LocatorInit = int32_t (*)(const char *folder, int32_t flags);           // ordinal 9
using LocatorReady = int32_t (*)();                                           // ordinal 10
using LocatorReset = int32_t (*)();                                           // ordinal 6
using LocatorFind = int32_t (*)(int32_t height, int32_t width, const uint8_t *pixels, int32_t layout,
                                int32_t flags);                               // ordinal 12
using LocatorPoints = int32_t (*)(float **first, float **second);             // ordinals 4 and 5

inline constexpr const char *kLocatorModule = "PellamSPI";
inline constexpr unsigned kLocatorOrdinals = 13;

// Process-wide binding, beside the camera context.
struct LocatorBinding {
    void *module = nullptr;
    void (*entry[kLocatorOrdinals + 1])() = {}; // indexed by ordinal
    LocatorResult result{};
};
LocatorBinding &locatorBinding();

// Loads and binds the module; false (and nothing loaded) when it or any
// ordinal is missing.
bool BindLocator();
// Finds the module's folder and initialises it; sets ctx.locatorReady.
void InitLocator(CameraContext &ctx);
// Unloads without calling into the module.
void UnbindLocator(CameraContext &ctx);

// Runs the locator on one delivered frame (formats 2 and 6 only) into the
// binding's result.
void RunLocator(CameraContext &ctx, const uint8_t *pixels, int32_t width, int32_t height, uint16_t pixelFormat);

} // namespace ix::eyes
