#include "locator_binding.h"

#include <cstring>
#include <string>

#include "platform/sys.h"

namespace ix::eyes {

LocatorBinding &locatorBinding() {
    static LocatorBinding binding;
    return binding;
}

namespace {
template <typename F> F entryAs(unsigned ordinal) {
    return reinterpret_cast<F>(locatorBinding().entry[ordinal]);
}
void reset() {
    if (auto f = entryAs<LocatorReset>(6)) f();
}

// Frees the module, if one is loaded, and forgets every entry point.
void unload(LocatorBinding &b) {
    if (b.module) sys::freeModule(b.module);
    b.module = nullptr;
    std::memset(b.entry, 0, sizeof b.entry);
}

// Asks ordinal 4 (the eyes) or 5 (the box) for its two points, which come in
// the reverse of the result's order; a failed call resets the locator.
void takePoints(unsigned ordinal, int32_t &secondX, int32_t &secondY, int32_t &firstX, int32_t &firstY) {
    float *first = nullptr, *second = nullptr;
    if (entryAs<LocatorPoints>(ordinal)(&first, &second) && first && second) {
        secondX = int32_t(second[0]);
        secondY = int32_t(second[1]);
        firstX = int32_t(first[0]);
        firstY = int32_t(first[1]);
    } else {
        reset();
    }
}
} // namespace

bool BindLocator() {
    LocatorBinding &b = locatorBinding();
    unload(b);
    b.module = sys::loadModule(kLocatorModule);
    if (!b.module) return false;
    for (unsigned n = 1; n <= kLocatorOrdinals; ++n) {
        b.entry[n] = sys::procByOrdinal(b.module, n);
        if (!b.entry[n]) {
            // A locator of another version: do not half-use it.
            unload(b);
            return false;
        }
    }
    return true;
}

void InitLocator(CameraContext &ctx) {
    std::string folder;
    if (!sys::loadedModuleFolder(kLocatorModule, folder, 260)) return;
    if (entryAs<LocatorInit>(9)(folder.c_str(), 0) == 1 && entryAs<LocatorReady>(10)() != 0) {
        ctx.locatorReady = 1;
        return;
    }
    reset();
}

void UnbindLocator(CameraContext &ctx) {
    unload(locatorBinding());
    ctx.locatorReady = 0;
}

void RunLocator(CameraContext &ctx, const uint8_t *pixels, int32_t width, int32_t height, uint16_t pixelFormat) {
    LocatorBinding &b = locatorBinding();
    b.result = LocatorResult{};
    if (!ctx.locatorReady || !b.module || (pixelFormat != 2 && pixelFormat != 6)) return;
    int32_t layout = pixelFormat == 2 ? 0 : 2;
    int32_t found = entryAs<LocatorFind>(12)(height, width, pixels, layout, 1);
    if (found < 0) {
        reset();
        return;
    }
    if (found == 0) return;
    b.result.found = 1;
    takePoints(4, b.result.eye1X, b.result.eye1Y, b.result.eye2X, b.result.eye2Y);
    takePoints(5, b.result.boxFarX, b.result.boxFarY, b.result.boxNearX, b.result.boxNearY);
}

} // namespace ix::eyes
