#include "fake_camera.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "IxFwUpdate/output.h"
#include "platform/sys.h"

namespace fwtest {

namespace {

FakeCamera *g_camera = nullptr;
std::wstring g_console;
std::vector<std::wstring> g_debug;

void consoleSink(const wchar_t *text, size_t length) { g_console.append(text, length); }
void debugSink(const wchar_t *text, size_t length) { g_debug.emplace_back(text, length); }

class FakeDevice : public ix::platform::UsbDevice {
public:
    FakeDevice() { ++camera().openDevices; }
    ~FakeDevice() override { --camera().openDevices; }

    bool winUsbInitialize() override { return !fail(camera().initFails); }
    bool queryInterfaceSettings(uint8_t alternate) override { return alternate == 0 && !fail(camera().queryFails); }
    bool setCurrentAlternateSetting(uint8_t alternate) override { return alternate == 0 && !fail(camera().altFails); }
    void winUsbFree() override {
        Event e;
        e.kind = Event::Free;
        camera().events.push_back(e); }

    bool controlTransfer(const ix::platform::SetupPacket &setup, uint8_t *data, uint32_t *transferred) override {
        FakeCamera &cam = camera();
        *transferred = 0;
        Event e{};
        e.setup = setup;
        e.reg = setup.index;
        bool in = setup.requestType == 0xC0 && setup.request == 0x61;
        bool out = setup.requestType == 0x40 && setup.request == 0x60;
        if (!in && !out) return reject(e, 87);
        if (in) e.kind = setup.length == 2 ? Event::Get : Event::GetBlock;
        else e.kind = setup.length == 0 ? Event::Set : Event::SetBlock;
        if (out && setup.length) e.data.assign(data, data + setup.length);
        if (e.kind == Event::Set) e.value = setup.value;

        for (FailRule &r : cam.failures) {
            if (r.kind != e.kind || (r.reg >= 0 && r.reg != e.reg)) continue;
            if (r.skip > 0) { --r.skip; continue; }
            if (r.count > 0) { --r.count; return reject(e, r.error); }
        }
        switch (e.kind) {
        case Event::Get: {
            uint16_t v = 0;
            if (!read(e.reg, v)) return reject(e, 31);
            data[0] = uint8_t(v);
            data[1] = uint8_t(v >> 8);
            *transferred = 2;
            e.value = v;
            break;
        }
        case Event::Set:
            write(e.reg, setup.value);
            break;
        case Event::GetBlock: {
            if (e.reg != 65 || cam.index != 11 || cam.blockReadsRefused) return reject(e, 31);
            uint32_t n = cam.shortBlockRead ? cam.shortBlockRead : setup.length;
            for (uint32_t i = 0; i < n; i += 2) {
                uint16_t w = wordAt(cam.address + i);
                data[i] = uint8_t(w);
                if (i + 1 < n) data[i + 1] = uint8_t(w >> 8);
            }
            cam.address += setup.length;
            *transferred = n;
            e.data.assign(data, data + n);
            break;
        }
        case Event::SetBlock:
            if (e.reg != 65 || cam.index != 11) return reject(e, 31);
            for (uint32_t i = 0; i + 1 < setup.length; i += 2) program(cam.address + i, uint16_t(data[i] | (data[i + 1] << 8)));
            cam.address += setup.length;
            *transferred = setup.length;
            break;
        default:
            break;
        }
        cam.events.push_back(e);
        return true;
    }

    bool getDescriptor(uint8_t, uint8_t, uint16_t, uint8_t *, uint32_t, uint32_t *) override { return reject(31); }
    bool readPipe(uint8_t, uint8_t *, uint32_t, uint32_t *) override { return reject(31); }
    bool ioControl(uint32_t, const void *, uint32_t, void *, uint32_t, uint32_t *) override { return reject(1); }
    bool readFile(uint8_t *, uint32_t, uint32_t *) override { return reject(1); }
    uint32_t lastError() const override { return error_; }
    void cancelReads() override {}

private:
    uint32_t error_ = 0;

    bool fail(bool yes) {
        if (yes) error_ = 31;
        return yes;
    }
    bool reject(uint32_t error) {
        error_ = error;
        return false;
    }
    bool reject(Event &e, uint32_t error) {
        e.ok = false;
        camera().events.push_back(e);
        return reject(error);
    }

    static uint16_t wordAt(uint32_t a) {
        FakeCamera &cam = camera();
        if (int64_t(a) == cam.corruptAddress) return cam.corruptValue;
        a &= 0xFFFFE;
        return uint16_t(cam.flash[a] | (cam.flash[a + 1] << 8));
    }
    // NOR flash: programming only clears bits, so a page written over
    // unerased data reads back wrong.
    static void program(uint32_t a, uint16_t w) {
        FakeCamera &cam = camera();
        a &= 0xFFFFE;
        cam.flash[a] &= uint8_t(w);
        cam.flash[a + 1] &= uint8_t(w >> 8);
    }

    bool read(uint16_t reg, uint16_t &v) {
        FakeCamera &cam = camera();
        switch (reg) {
        case 8:
            if (cam.versionReadFails) return false;
            v = cam.version;
            return true;
        case 64:
            v = cam.index;
            return true;
        case 65:
            if (cam.index != 11) return false;
            v = wordAt(cam.address);
            cam.address += 2;
            return true;
        case 66:
            if (cam.eraseStatus.empty()) {
                v = cam.statusDefault;
            } else {
                v = cam.eraseStatus.front();
                cam.eraseStatus.pop_front();
            }
            return true;
        default:
            v = 0;
            return true;
        }
    }

    void write(uint16_t reg, uint16_t v) {
        FakeCamera &cam = camera();
        if (reg == 64) {
            cam.index = v;
            return;
        }
        if (reg != 65) return;
        switch (cam.index) {
        case 8:
            if (v == 0x55) {
                uint32_t sector = cam.address & ~0xFFFFu;
                std::fill(cam.flash.begin() + sector, cam.flash.begin() + sector + 0x10000, 0xFF);
                cam.erasedSectors.push_back(sector);
            }
            break;
        case 9:
            cam.address = (cam.address & 0xFFFF0000u) | v;
            break;
        case 10:
            cam.address = (cam.address & 0xFFFFu) | (uint32_t(v) << 16);
            break;
        case 11:
            program(cam.address, v);
            cam.address += 2;
            break;
        case 49:
            if (v == 1000) {
                cam.restarted = true;
                cam.absentLeft = cam.absentAfterRestart;
                cam.version = cam.versionAfterRestart;
            }
            break;
        default:
            break;
        }
    }
};

} // namespace

FakeCamera &camera() { return *g_camera; }

void resetCamera() {
    static std::unique_ptr<FakeCamera> holder;
    holder = std::make_unique<FakeCamera>();
    g_camera = holder.get();
}

std::vector<Event> FakeCamera::requests(Event::Kind kind, int reg) const {
    std::vector<Event> out;
    for (const Event &e : events) {
        if (e.kind == kind && (reg < 0 || e.reg == reg)) out.push_back(e);
    }
    return out;
}

std::vector<uint32_t> FakeCamera::sleeps() const {
    std::vector<uint32_t> out;
    for (const Event &e : events) {
        if (e.kind == Event::Sleep) out.push_back(e.value);
    }
    return out;
}

std::wstring &consoleText() { return g_console; }
std::vector<std::wstring> &debugLines() { return g_debug; }

void captureOutput() {
    g_console.clear();
    g_debug.clear();
    ix::fw::setConsoleSink(consoleSink);
    ix::fw::setDebugSink(debugSink);
}

bool debugHas(const std::wstring &needle) {
    return std::any_of(g_debug.begin(), g_debug.end(), [&](const std::wstring &l) { return l == needle; });
}

} // namespace fwtest

// The platform seams, served by the fake camera.
namespace ix::platform {

FindResult findFirstInterface(const Guid &interfaceClass, std::u16string &path, uint32_t *error) {
    fwtest::FakeCamera &cam = fwtest::camera();
    fwtest::Event e;
    e.kind = fwtest::Event::Find;
    cam.events.push_back(e);
    if (error) *error = 0;
    if (cam.findResult != FindResult::Found) {
        if (error) *error = cam.findError;
        return cam.findResult;
    }
    bool absent = cam.absentLeft != 0;
    if (cam.absentLeft > 0) --cam.absentLeft;
    if (!(interfaceClass == cam.interfaceClass) || absent) {
        if (error) *error = 259;  // no more items
        return FindResult::NoInterface;
    }
    path = u"\\\\?\\usb#vid_1d6b&pid_3046#fake#{7a3c5e21-4b1d-4f6a-9c2e-1d5b8f0a6c34}";
    return FindResult::Found;
}

std::unique_ptr<UsbDevice> openDevicePath(const std::u16string &, bool, uint32_t *error) {
    fwtest::FakeCamera &cam = fwtest::camera();
    fwtest::Event e;
    e.kind = fwtest::Event::Open;
    e.ok = !cam.openFails;
    cam.events.push_back(e);
    if (cam.openFails) {
        if (error) *error = cam.openError;
        return nullptr;
    }
    return std::make_unique<fwtest::FakeDevice>();
}

} // namespace ix::platform

namespace ix::sys {

void sleepMs(uint32_t ms) {
    fwtest::Event e;
    e.kind = fwtest::Event::Sleep;
    e.value = ms;
    fwtest::camera().events.push_back(e);
}

bool stdinIsConsole() { return fwtest::camera().console; }

int readKey() {
    ++fwtest::camera().keyReads;
    return 'x';
}

} // namespace ix::sys
