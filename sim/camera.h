// The virtual camera's state: registers, flash, trace and faults. One camera
// exists per settings text; device handles share it. Thread-safe: control
// requests and bulk reads arrive on different threads.
#pragma once
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/settings.h"

namespace ix::sim {

struct FrameRequest;

inline constexpr uint32_t kFlashBytes = 1u << 20;
inline constexpr uint32_t kDefectTableAddress[2] = {0x20200, 0x21200};

class VirtualCamera {
public:
    explicit VirtualCamera(Settings settings);
    ~VirtualCamera();

    const Settings &settings() const { return settings_; }
    bool onBus();          // false while absent, unplugged or restarting
    uint64_t generation(); // changes at every re-enumeration

    // Requests; each is traced and subject to the fault rules. Returns false
    // with a system error in *error on failure.
    bool get(uint16_t reg, uint16_t *value, uint32_t *error);
    bool set(uint16_t reg, uint16_t value, uint32_t *error);
    bool getBlock(uint16_t reg, uint8_t *data, uint32_t length, uint32_t *transferred, uint32_t *error);
    bool setBlock(uint16_t reg, const uint8_t *data, uint32_t length, uint32_t *error);
    bool descriptor(uint8_t type, uint8_t index, uint16_t language, uint8_t *buffer, uint32_t length,
                    uint32_t *transferred, uint32_t *error);
    bool identity(uint8_t *buffer, uint32_t length, uint32_t *transferred, uint32_t *error);
    bool winUsbInit(uint32_t *error);
    // One bulk read of one frame: waits for the next frame of a running
    // stream; `cancelled` lets a closing handle end a stalled read.
    bool readFrame(uint8_t *buffer, uint32_t capacity, uint32_t *transferred, uint32_t *error,
                   const std::atomic<bool> *cancelled);
    // Ends the stalled or waiting reads of handles whose cancel flag is set
    // and returns once they have left the camera.
    void wakeReaders();

    void flushFlash();
    // For tests: a register as the camera holds it, without a request.
    uint16_t peek(uint16_t reg);
    std::vector<uint8_t> peekBlock(uint16_t reg, unsigned channel);

private:
    bool fault(const char *op, int reg);
    void trace(const std::string &line);
    uint16_t readRegister(uint16_t reg);
    void writeRegister(uint16_t reg, uint16_t value);
    uint16_t readIndirect(uint16_t index);
    void writeIndirect(uint16_t index, uint16_t value);
    uint16_t flashWord();
    void loadFlash();
    std::vector<uint16_t> defectListLocked(unsigned channel) const;
    void powerUp();
    uint16_t rangeNow();
    uint16_t rangeAt(uint32_t ms) const;
    // Channel 0's pupils where the eyes= script has them at ms.
    void placeEyes(FrameRequest &request, uint32_t ms) const;
    uint32_t msSinceOpen();
    bool busAvailableLocked();
    // The error of a refused request: gone from the bus, or failed while there.
    uint32_t refusalLocked();

    Settings settings_;
    std::mutex mutex_;
    std::condition_variable frameCv_;
    std::array<uint16_t, 65536> regs_{};
    std::array<uint16_t, 256> indirect_{};
    std::vector<uint8_t> flash_;
    bool flashDirty_ = false;
    uint32_t flashAddress_ = 0;
    unsigned eraseBusyLeft_ = 0;
    bool eraseFailed_ = false;
    std::vector<uint8_t> blocks_[2][2]; // registers 13 and 25, per channel
    std::FILE *trace_ = nullptr;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point offBusUntil_{};
    bool unplugged_ = false;
    uint64_t generation_ = 1;
    // Stream state, driven by register 6.
    uint64_t frameNumber_ = 0;
    std::chrono::steady_clock::time_point nextFrame_{};
    // Bulk reads in progress, by their handle's cancel flag: a closing
    // handle waits in wakeReaders until its own reads have left, so no read
    // returns into a handle that is gone.
    std::vector<const std::atomic<bool> *> activeReads_;
    std::condition_variable readLeftCv_;
};

// The camera for the current IXLUMO_SIMULATOR text (null when the setting is
// off or malformed).
std::shared_ptr<VirtualCamera> currentCamera();

} // namespace ix::sim
