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
} // namespace

bool BindLocator() {
    LocatorBinding &b = locatorBinding();
    if (b.module) {
        sys::freeModule(b.module);
        b.module = nullptr;
        std::memset(b.entry, 0, sizeof b.entry);
    }
    void *module = sys::loadModule(kLocatorModule);
    if (!module) return false;
    for (unsigned n = 1; n <= kLocatorOrdinals; ++n) {
        b.entry[n] = sys::procByOrdinal(module, n);
        if (!b.entry[n]) {
            // A locator of another version: do not half-use it.
            sys::freeModule(module);
            std::memset(b.entry, 0, sizeof b.entry);
            return false;
        }
    }
    b.module = module;
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
    LocatorBinding &b = locatorBinding();
    if (b.module) sys::freeModule(b.module);
    b.module = nullptr;
    std::memset(b.entry, 0, sizeof b.entry);
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
    float *first = nullptr, *second = nullptr;
    if (entryAs<LocatorPoints>(4)(&first, &second) && first && second) {
        b.result.eye1X = int32_t(second[0]);
        b.result.eye1Y = int32_t(second[1]);
        b.result.eye2X = int32_t(first[0]);
        b.result.eye2Y = int32_t(first[1]);
    } else {
        reset();
    }
    first = second = nullptr;
    if (entryAs<LocatorPoints>(5)(&first, &second) && first && second) {
        b.result.boxFarX = int32_t(second[0]);
        b.result.boxFarY = int32_t(second[1]);
        b.result.boxNearX = int32_t(first[0]);
        b.result.boxNearY = int32_t(first[1]);
    } else {
        reset();
    }
}

} // namespace ix::eyes
