// A device handle on the virtual camera. It decodes both transport forms, the
// WinUSB setup packets and the kernel driver's I/O control buffers, into the
// camera's requests, so both forms trace and behave the same.
#include <atomic>
#include <cstring>

#include "platform/usb.h"
#include "sim/camera.h"
#include "sim/simulator.h"

namespace ix::sim {
namespace {

constexpr uint32_t kErrorInvalidFunction = 1;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInvalidHandle = 6;

class SimDevice final : public platform::UsbDevice {
public:
    explicit SimDevice(std::shared_ptr<VirtualCamera> camera) : camera_(std::move(camera)) {
        generation_ = camera_->generation();
    }
    ~SimDevice() override {
        cancelReads();
        camera_->flushFlash();
    }

    void cancelReads() override {
        // Ends a read that is stuck inside the camera.
        cancelled_ = true;
        camera_->wakeReaders();
    }

    bool winUsbInitialize() override {
        if (!alive()) return false;
        if (!camera_->winUsbInit(&error_)) return false;
        winUsb_ = true;
        return true;
    }
    bool queryInterfaceSettings(uint8_t alternate) override {
        if (!winUsb_) return fail(kErrorInvalidHandle);
        return alternate == 0 ? true : fail(259 /* ERROR_NO_MORE_ITEMS */);
    }
    bool setCurrentAlternateSetting(uint8_t alternate) override {
        if (!winUsb_) return fail(kErrorInvalidHandle);
        return alternate == 0 ? true : fail(kErrorInvalidParameter);
    }
    void winUsbFree() override { winUsb_ = false; }

    bool controlTransfer(const platform::SetupPacket &s, uint8_t *data, uint32_t *transferred) override {
        if (transferred) *transferred = 0;
        if (!winUsb_) return fail(kErrorInvalidHandle);
        if (!alive()) return false;
        if (s.requestType == 0xC0 && s.request == 0x61 && s.value == 0) {
            if (s.length == 2) {
                uint16_t v = 0;
                if (!camera_->get(s.index, &v, &error_)) return false;
                if (data) {
                    data[0] = uint8_t(v & 0xFF);
                    data[1] = uint8_t(v >> 8);
                }
                if (transferred) *transferred = 2;
                return true;
            }
            return camera_->getBlock(s.index, data, s.length, transferred, &error_);
        }
        if (s.requestType == 0x40 && s.request == 0x60) {
            if (s.length == 0) return camera_->set(s.index, s.value, &error_);
            if (!data || s.value != 0) return fail(kErrorInvalidParameter);
            if (!camera_->setBlock(s.index, data, s.length, &error_)) return false;
            if (transferred) *transferred = s.length;
            return true;
        }
        return fail(kErrorInvalidFunction);
    }

    bool getDescriptor(uint8_t type, uint8_t index, uint16_t language, uint8_t *buffer, uint32_t length,
                       uint32_t *transferred) override {
        if (transferred) *transferred = 0;
        if (!winUsb_) return fail(kErrorInvalidHandle);
        if (!alive()) return false;
        return camera_->descriptor(type, index, language, buffer, length, transferred, &error_);
    }

    bool readPipe(uint8_t pipe, uint8_t *buffer, uint32_t length, uint32_t *transferred) override {
        if (transferred) *transferred = 0;
        if (!winUsb_) return fail(kErrorInvalidHandle);
        if (pipe != 0x81) return fail(kErrorInvalidParameter);
        return readFile(buffer, length, transferred);
    }

    bool ioControl(uint32_t code, const void *in, uint32_t inLength, void *out, uint32_t outLength,
                   uint32_t *returned) override {
        if (returned) *returned = 0;
        if (!alive()) return false;
        if (code == 0x22E004) {
            return camera_->identity(static_cast<uint8_t *>(out), outLength, returned, &error_);
        }
        if (code != 0x22E000 || !in || inLength < 8) return fail(kErrorInvalidParameter);
        const uint8_t *b = static_cast<const uint8_t *>(in);
        auto word = [&](int i) { return uint16_t(b[2 * i] | (b[2 * i + 1] << 8)); };
        uint16_t direction = word(0), request = word(1), value = word(2), reg = word(3);
        if (direction == 1 && request == 0x60) {
            if (inLength == 8) return camera_->set(reg, value, &error_);
            if (value != 0) return fail(kErrorInvalidParameter);
            return camera_->setBlock(reg, b + 8, inLength - 8, &error_);
        }
        if (direction == 0 && request == 0x61 && inLength == 8 && value == 0) {
            if (outLength == 2) {
                uint16_t v = 0;
                if (!camera_->get(reg, &v, &error_)) return false;
                if (out) std::memcpy(out, &v, 2); // little-endian hosts only: Windows and Linux x86
                if (returned) *returned = 2;
                return true;
            }
            return camera_->getBlock(reg, static_cast<uint8_t *>(out), outLength, returned, &error_);
        }
        return fail(kErrorInvalidFunction);
    }

    bool readFile(uint8_t *buffer, uint32_t length, uint32_t *transferred) override {
        uint32_t n = 0;
        if (!alive()) return false;
        bool ok = camera_->readFrame(buffer, length, &n, &error_, &cancelled_);
        if (transferred) *transferred = ok ? n : 0;
        return ok;
    }

    uint32_t lastError() const override { return error_; }

private:
    // A handle opened before the camera re-enumerated is dead, as on a real bus.
    bool alive() {
        if (camera_->onBus() && camera_->generation() == generation_) return true;
        error_ = platform::kErrorDeviceNotConnected;
        return false;
    }
    bool fail(uint32_t e) {
        error_ = e;
        return false;
    }

    std::shared_ptr<VirtualCamera> camera_;
    uint64_t generation_ = 0;
    bool winUsb_ = false;
    std::atomic<bool> cancelled_{false};
    uint32_t error_ = 0;
};

} // namespace

std::unique_ptr<platform::UsbDevice> makeSimDevice(std::shared_ptr<VirtualCamera> camera) {
    return std::make_unique<SimDevice>(std::move(camera));
}

} // namespace ix::sim
