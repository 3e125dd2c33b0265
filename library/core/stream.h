// The frame stream: the camera's bulk pipe read into three slots by a reader
// thread (continuous mode), or one frame per request (direct mode).
#pragma once
#include <atomic>
#include <cstdint>

#include "library/core/context.h"

namespace ix {

enum class SlotState : uint32_t { Free = 0, Filling = 1, Ready = 2, Held = 3 };

struct FrameSlot {
    uint8_t *buffer = nullptr;
    uint32_t capacity = 0;
    uint32_t bytes = 0;
    uint32_t filledAt = 0;
    std::atomic<SlotState> state{SlotState::Free};
};

struct StreamReader; // the running reader thread and its completion signal

struct FrameStream {
    uint32_t state = 0; // 0 idle, 1 direct reading, 2 threaded reading
    uint32_t compressed = 0;
    StreamReader *reader = nullptr;
    std::atomic<uint32_t> stopRequested{0};
    FrameSlot slots[3];
};

// Control 8: 0 stops, 1 continuous, 2 direct.
int SetStreamMode(CameraContext &ctx, uint16_t mode);
inline int startStream(CameraContext &ctx, uint16_t mode) { return SetStreamMode(ctx, mode); }
inline int stopStream(CameraContext &ctx) { return SetStreamMode(ctx, 0); }

void StopReading(CameraContext &ctx);
FrameStream *CreateStream();
void ReleaseStream(CameraContext &ctx);
void FreeDeliveryBuffers(CameraContext &ctx);

} // namespace ix
