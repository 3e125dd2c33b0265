#include "sim/simulator.h"

#include <cstdio>
#include <mutex>

#include "platform/sys.h"
#include "sim/camera.h"
#include "usb/device_class.h"

namespace ix::sim {

std::unique_ptr<platform::UsbDevice> makeSimDevice(std::shared_ptr<VirtualCamera> camera);

namespace {

std::mutex g_mutex;
std::string g_text;
std::shared_ptr<VirtualCamera> g_camera;
bool g_haveText = false;

std::u16string devicePath(const Settings &s) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "\\\\?\\usb#vid_%04x&pid_%04x#sim0001#{7a3c5e21-4b1d-4f6a-9c2e-1d5b8f0a6c34}",
                  s.vendorId, s.productId);
    std::u16string p;
    for (const char *c = buf; *c; ++c) p += char16_t(*c);
    return p;
}

} // namespace

bool enabled() { return !sys::getEnv("IXLUMO_SIMULATOR").empty(); }

std::shared_ptr<VirtualCamera> currentCamera() {
    std::string text = sys::getEnv("IXLUMO_SIMULATOR");
    std::lock_guard<std::mutex> lock(g_mutex);
    if (text.empty()) return nullptr;
    // A new settings text is a new camera; the same text keeps the camera and
    // its state, as a camera left plugged in would.
    if (!g_haveText || text != g_text) {
        g_text = text;
        g_haveText = true;
        g_camera.reset();
        Settings settings;
        std::string error;
        if (!parseSettings(text, settings, error)) {
            std::fprintf(stderr, "IXLUMO_SIMULATOR: %s\n", error.c_str());
            return nullptr;
        }
        g_camera = std::make_shared<VirtualCamera>(std::move(settings));
    }
    return g_camera;
}

platform::FindResult findFirstInterface(const platform::Guid &interfaceClass, std::u16string &path,
                                        uint32_t *error) {
    path.clear();
    auto camera = currentCamera();
    if (!camera || !(interfaceClass == usb::kLumoInterfaceClass) || !camera->onBus()) {
        if (error) *error = 259; // ERROR_NO_MORE_ITEMS
        return platform::FindResult::NoInterface;
    }
    path = devicePath(camera->settings());
    return platform::FindResult::Found;
}

std::unique_ptr<platform::UsbDevice> openDevicePath(const std::u16string &path, uint32_t *error) {
    auto camera = currentCamera();
    if (!camera || !camera->onBus() || path != devicePath(camera->settings())) {
        if (error) *error = platform::kErrorFileNotFound;
        return nullptr;
    }
    if (camera->settings().denied) {
        if (error) *error = platform::kErrorAccessDenied;
        return nullptr;
    }
    return makeSimDevice(camera);
}

void flushFlash() {
    std::shared_ptr<VirtualCamera> camera;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        camera = g_camera;
    }
    if (camera) camera->flushFlash();
}

} // namespace ix::sim
