// The frame stream: the camera's bulk pipe read into three slots by a reader
// thread (continuous mode), or one frame per request (direct mode).
//
// Threads and ownership:
// - The caller's thread owns FrameStream itself (state, compressed, reader,
//   stragglers) and changes it only through the functions below.
// - The slots and the stop flag live in a SlotSet that the FrameStream and
//   its reader thread co-own through a shared_ptr. The reader touches nothing
//   else of the library: not the context, not the FrameStream, not the
//   transport (it was handed the device and the transfer form at start).
// - Slot hand-over needs no mutex: `state` is atomic. Only the reader moves a
//   slot free -> filling -> ready/free and drops ready -> free (by
//   compare-exchange); only the consumer claims ready -> held (by
//   compare-exchange) and gives held -> free. A slot's buffer, `bytes` and
//   `filledAt` are written by the reader before its release-store of Ready
//   and read by the consumer only after its acquire compare-exchange.
// - A reader that outlives the stop limit (its read never came back) is not
//   waited for: the stream hands it the whole SlotSet, starts the next stream
//   with a fresh one and keeps the thread among `stragglers`. The straggler
//   can then only ever write into its own abandoned slots, never into a later
//   stream's, and the slots stay alive for as long as it holds them even when
//   the FrameStream is freed. Its stop flag stays set, so when its read
//   finally returns (the device handle closes at IxClose) it ends without
//   touching the device again. ReleaseStream joins the stragglers that ended.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "library/core/context.h"

namespace ix {

enum class SlotState : uint32_t { Free = 0, Filling = 1, Ready = 2, Held = 3 };

struct FrameSlot {
    uint8_t *buffer = nullptr;
    uint32_t capacity = 0;
    uint32_t bytes = 0;
    // Atomic because the consumer compares it on ready slots the reader may
    // drop and refill meanwhile; the value it claims is fenced by `state`.
    std::atomic<uint32_t> filledAt{0};
    std::atomic<SlotState> state{SlotState::Free};
};

// The three slots of one stream and what its reader needs; shared between
// the FrameStream and the reader thread (see above).
struct SlotSet {
    FrameSlot slots[3];
    std::atomic<uint32_t> stopRequested{0};
    // readerDone: set by the reader as its last act.
    std::mutex doneMutex;
    std::condition_variable doneCv;
    bool readerDone = false;
    // The pipe the reader reads and its form, fixed at start; used only
    // between the start and the stop request (never after a read returns
    // once the stop is requested, as the handle may be gone by then).
    std::shared_ptr<platform::UsbDevice> device;
    bool winUsb = false;

    ~SlotSet();
};

struct FrameStream {
    uint32_t state = 0; // 0 idle, 1 direct reading, 2 threaded reading
    uint32_t compressed = 0;
    std::shared_ptr<SlotSet> set = std::make_shared<SlotSet>();
    std::thread readerThread; // continuous mode only
    // Made before a reader starts, so abandoning that reader needs no memory.
    std::shared_ptr<SlotSet> spare;
    // Readers abandoned at the stop limit, each with the SlotSet it holds.
    struct Straggler {
        std::thread thread;
        std::shared_ptr<SlotSet> set;
    };
    std::vector<Straggler> stragglers;

    FrameSlot *slots() { return set->slots; }
};

// How long a stop waits for the reader before abandoning it.
inline constexpr uint32_t kStopWaitLimitMs = 10000;
// How long AcquireFrame waits for a ready frame in continuous mode.
inline constexpr uint32_t kAcquireWaitLimitMs = 5000;

// The stop limit in force; tests shorten it to exercise a stalled read
// without waiting the full ten seconds. 0 restores kStopWaitLimitMs.
void setStopWaitLimitMs(uint32_t ms);
uint32_t stopWaitLimitMs();

// Control 8: 0 stops, 1 continuous, 2 direct. Returns 0 or 1.
int SetStreamMode(CameraContext &ctx, uint16_t mode);

int StartReading(CameraContext &ctx, uint16_t mode);
void StopReading(CameraContext &ctx);
// 0 with the newest frame's bytes, or 1 when none can be had.
int AcquireFrame(CameraContext &ctx, uint8_t **frame, uint32_t *bytes);
void ReleaseFrame(CameraContext &ctx, const uint8_t *frame);

FrameStream *CreateStream();
void ReleaseStream(CameraContext &ctx);
void FreeDeliveryBuffers(CameraContext &ctx);

// The effective rotation of the selected channel: base + user, 16-bit, less
// 360 once when the sum reaches 360.
uint16_t EffectiveRotation(uint16_t baseRotation, uint16_t userRotation);

// For the slot-scan tests: one pass of each side's choice over three slots.
// The reader's drop pass (ready slots with a strictly later ready sibling go
// free) and the index of the first free slot it found (-1 when none).
int ReaderDropPass(FrameSlot (&slots)[3]);
// The consumer's claim; returns the claimed index or -1.
int ConsumerClaimPass(FrameSlot (&slots)[3]);

} // namespace ix
