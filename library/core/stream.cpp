#include "library/core/stream.h"

#include <chrono>
#include <limits>
#include <new>
#include <system_error>

#include "library/controls/controls.h"
#include "library/controls/tables.h"
#include "library/core/feedback.h"
#include "platform/sys.h"

namespace ix {

namespace {

constexpr uint16_t kRegStreamMode = 6;
constexpr uint16_t kRegTransferForm = 10;
constexpr uint16_t kTransferCompressed = 16;
constexpr uint16_t kRegVerticalFlip = 17;
constexpr uint16_t kRegHorizontalFlip = 19;
constexpr uint16_t kRegWindowWidth = 27;
constexpr uint16_t kRegWindowHeight = 28;
constexpr uint16_t kRegOutputWidth = 29;
constexpr uint16_t kRegOutputHeight = 30;
constexpr uint16_t kRegOffsetX = 31;
constexpr uint16_t kRegOffsetY = 32;

// After a failed bulk read the reader pauses this long before the next one:
// a pipe that fails at once (device gone) would otherwise spin a core.
constexpr uint32_t kFailedReadPauseMs = 10;

std::atomic<uint32_t> gStopWaitLimitMs{kStopWaitLimitMs};

void readerMain(std::shared_ptr<SlotSet> set) {
    for (FrameSlot &s : set->slots) s.state.store(SlotState::Free, std::memory_order_release);
    while (!set->stopRequested.load(std::memory_order_acquire)) {
        int i = ReaderDropPass(set->slots);
        if (i < 0) {
            // Every slot is held or ready: the consumer will take one soon.
            std::this_thread::yield();
            continue;
        }
        FrameSlot &slot = set->slots[i];
        slot.state.store(SlotState::Filling, std::memory_order_relaxed);
        uint32_t n = 0;
        bool ok = set->winUsb ? set->device->readPipe(usb::kBulkInPipe, slot.buffer, slot.capacity, &n)
                              : set->device->readFile(slot.buffer, slot.capacity, &n);
        if (ok) {
            slot.bytes = n <= slot.capacity ? n : slot.capacity;
            slot.filledAt.store(sys::tickMs(), std::memory_order_relaxed);
            slot.state.store(SlotState::Ready, std::memory_order_release);
        } else {
            slot.state.store(SlotState::Free, std::memory_order_release);
            if (!set->stopRequested.load(std::memory_order_acquire)) sys::sleepMs(kFailedReadPauseMs);
        }
    }
    {
        std::lock_guard<std::mutex> lock(set->doneMutex);
        set->readerDone = true;
    }
    set->doneCv.notify_all();
}

bool waitReaderDone(SlotSet &set, uint32_t ms) {
    std::unique_lock<std::mutex> lock(set.doneMutex);
    return set.doneCv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return set.readerDone; });
}

bool readerEnded(SlotSet &set) {
    std::lock_guard<std::mutex> lock(set.doneMutex);
    return set.readerDone;
}

// Joins the stragglers whose read has come back; waits up to `ms` for each
// of the others (at close their handle is gone, so they end promptly).
void reapStragglers(FrameStream &stream, uint32_t ms) {
    for (auto it = stream.stragglers.begin(); it != stream.stragglers.end();) {
        if (readerEnded(*it->set) || (ms && waitReaderDone(*it->set, ms))) {
            it->thread.join();
            it = stream.stragglers.erase(it);
        } else {
            ++it;
        }
    }
}

void failurePath(CameraContext &ctx) {
    StopReading(ctx);
    FreeDeliveryBuffers(ctx);
}

bool sizeBuffer(uint8_t *&buffer, uint32_t &size, uint64_t wanted) {
    if (wanted > std::numeric_limits<uint32_t>::max()) return false;
    if (buffer && size == wanted) return true;
    delete[] buffer;
    buffer = nullptr;
    size = 0;
    buffer = new (std::nothrow) uint8_t[size_t(wanted)];
    if (!buffer) return false;
    size = uint32_t(wanted);
    return true;
}

} // namespace

SlotSet::~SlotSet() {
    for (FrameSlot &s : slots) delete[] s.buffer;
}

void setStopWaitLimitMs(uint32_t ms) { gStopWaitLimitMs.store(ms ? ms : kStopWaitLimitMs); }
uint32_t stopWaitLimitMs() { return gStopWaitLimitMs.load(); }

void FreeDeliveryBuffers(CameraContext &ctx) {
    delete[] ctx.decodeBuffer;
    ctx.decodeBuffer = nullptr;
    ctx.decodeBufferSize = 0;
    delete[] ctx.greyBuffer;
    ctx.greyBuffer = nullptr;
    ctx.greyBufferSize = 0;
    delete[] ctx.rotationBuffer;
    ctx.rotationBuffer = nullptr;
    ctx.rotationBufferSize = 0;
}

FrameStream *CreateStream() {
    try {
        return new FrameStream();
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

uint16_t EffectiveRotation(uint16_t baseRotation, uint16_t userRotation) {
    uint16_t sum = uint16_t(baseRotation + userRotation);
    if (sum >= 360) sum = uint16_t(sum - 360);
    return sum;
}

int ReaderDropPass(FrameSlot (&slots)[3]) {
    for (int i = 0; i < 3; ++i) {
        SlotState st = slots[i].state.load(std::memory_order_acquire);
        if (st == SlotState::Free) return i;
        if (st != SlotState::Ready) continue;
        uint32_t mine = slots[i].filledAt.load(std::memory_order_relaxed);
        for (int j = 0; j < 3; ++j) {
            if (j == i || slots[j].state.load(std::memory_order_acquire) != SlotState::Ready) continue;
            // Tick counts wrap; "later" is the signed distance.
            if (int32_t(slots[j].filledAt.load(std::memory_order_relaxed) - mine) > 0) {
                SlotState expected = SlotState::Ready;
                // Fails harmlessly when the consumer has just claimed slot i.
                if (slots[i].state.compare_exchange_strong(expected, SlotState::Free, std::memory_order_acq_rel))
                    return i;
                break;
            }
        }
    }
    return -1;
}

int ConsumerClaimPass(FrameSlot (&slots)[3]) {
    for (int i = 0; i < 3; ++i) {
        if (slots[i].state.load(std::memory_order_acquire) != SlotState::Ready) continue;
        // The newest ready slot wins; among equals the lowest index.
        int candidate = i;
        uint32_t newest = slots[i].filledAt.load(std::memory_order_relaxed);
        for (int j = 0; j < 3; ++j) {
            if (j == i || slots[j].state.load(std::memory_order_acquire) != SlotState::Ready) continue;
            uint32_t at = slots[j].filledAt.load(std::memory_order_relaxed);
            if (int32_t(at - newest) > 0) {
                candidate = j;
                newest = at;
            }
        }
        SlotState expected = SlotState::Ready;
        if (slots[candidate].state.compare_exchange_strong(expected, SlotState::Held, std::memory_order_acq_rel))
            return candidate;
    }
    return -1;
}

int StartReading(CameraContext &ctx, uint16_t mode) {
    FrameStream *stream = ctx.stream;
    if (!stream || stream->state != 0) return 1;
    const ChannelSettings &ch = ctx.selected();
    uint64_t pixels = uint64_t(ctx.sensorWidth) * ctx.sensorHeight;
    uint64_t slotSize;
    if (ch.compressedTransfer == 1) {
        regSet(ctx, kRegTransferForm, kTransferCompressed);
        stream->compressed = 1;
        slotSize = pixels * 3;
    } else {
        regSet(ctx, kRegTransferForm, 0);
        stream->compressed = 0;
        slotSize = pixels * 2;
    }
    // A frame of no bytes can never arrive, and one beyond 32 bits cannot be
    // asked for: refuse rather than run a stream that delivers nothing.
    if (slotSize == 0 || slotSize > std::numeric_limits<uint32_t>::max()) return 1;
    // A reader abandoned earlier that has finished since is joined here.
    reapStragglers(*stream, 0);
    SlotSet &set = *stream->set;

    if (mode == 2) {
        if (!sizeBuffer(set.slots[0].buffer, set.slots[0].capacity, slotSize)) return 1;
        stream->state = 1;
        regSet(ctx, kRegStreamMode, 2);
        return 0;
    }
    if (mode != 1) return 1;
    if (!ctx.transport.device) return 1;
    for (FrameSlot &s : set.slots)
        if (!sizeBuffer(s.buffer, s.capacity, slotSize)) return 1;
    // Frames left ready by the previous stream must not be delivered as this
    // one's: clear them before the reader exists, as the consumer may look
    // before the new thread has run at all.
    for (FrameSlot &s : set.slots) s.state.store(SlotState::Free, std::memory_order_release);
    stream->state = 2;
    set.stopRequested.store(0, std::memory_order_release);
    set.readerDone = false;
    set.device = ctx.transport.device;
    set.winUsb = ctx.transport.winUsbOpen;
    try {
        stream->stragglers.reserve(stream->stragglers.size() + 1);
        if (!stream->spare) stream->spare = std::make_shared<SlotSet>();
    } catch (const std::bad_alloc &) {
        stream->state = 0;
        return 1;
    }
    regSet(ctx, kRegStreamMode, 1);
    try {
        stream->readerThread = std::thread(readerMain, stream->set);
    } catch (const std::system_error &) {
        return 1;
    } catch (const std::bad_alloc &) {
        return 1;
    }
    return 0;
}

void StopReading(CameraContext &ctx) {
    FrameStream *stream = ctx.stream;
    if (!stream) return;
    if (stream->readerThread.joinable()) {
        SlotSet &set = *stream->set;
        set.stopRequested.store(1, std::memory_order_release);
        if (waitReaderDone(set, stopWaitLimitMs())) {
            stream->readerThread.join();
        } else {
            // The reader is stuck inside a read. It keeps its slots; the next
            // stream gets the spare set made at start (and the room in
            // `stragglers`), so this cannot fail and nothing the reader writes
            // later can reach a later stream.
            stream->stragglers.push_back({std::move(stream->readerThread), std::move(stream->set)});
            stream->set = std::move(stream->spare);
        }
    }
    regSet(ctx, kRegStreamMode, 0);
    stream->state = 0;
}

int AcquireFrame(CameraContext &ctx, uint8_t **frame, uint32_t *bytes) {
    *frame = nullptr;
    *bytes = 0;
    FrameStream *stream = ctx.stream;
    if (!stream) return 1;
    FrameSlot *slots = stream->slots();
    if (stream->state == 1) {
        FrameSlot &s = slots[0];
        uint32_t n = 0;
        if (usb::readFrame(ctx.transport, s.buffer, s.capacity, &n) != 0) return 1;
        s.bytes = n <= s.capacity ? n : s.capacity;
        *frame = s.buffer;
        *bytes = s.bytes;
        return 0;
    }
    if (stream->state != 2) return 1;
    uint32_t noted = sys::tickMs();
    for (;;) {
        int i = ConsumerClaimPass(stream->set->slots);
        if (i >= 0) {
            *frame = slots[i].buffer;
            *bytes = slots[i].bytes;
            return 0;
        }
        uint32_t now = sys::tickMs();
        if (now < noted) noted = now;
        else if (now - noted > kAcquireWaitLimitMs) return 1;
        sys::sleepMs(1);
    }
}

void ReleaseFrame(CameraContext &ctx, const uint8_t *frame) {
    FrameStream *stream = ctx.stream;
    if (!stream || !frame) return;
    for (FrameSlot &s : stream->set->slots) {
        if (s.buffer == frame && s.state.load(std::memory_order_acquire) == SlotState::Held) {
            s.state.store(SlotState::Free, std::memory_order_release);
            return;
        }
    }
}

int SetStreamMode(CameraContext &ctx, uint16_t mode) {
    ChannelSettings &ch = ctx.selected();
    ch.streamMode = mode;
    ctx.inBandFlag = 0;
    ctx.qualifyingFrames = 0;
    if (mode == 0) {
        StopReading(ctx);
        FreeDeliveryBuffers(ctx);
        return 0;
    }
    ctx.rotation = EffectiveRotation(ch.baseRotation, ch.userRotation);
    if (ctx.rotation != 0 && ctx.rotation != 180) {
        regSet(ctx, kRegOutputWidth, ch.outputHeight);
        regSet(ctx, kRegOutputHeight, ch.outputWidth);
        regSet(ctx, kRegWindowWidth, ch.windowHeight);
        regSet(ctx, kRegWindowHeight, ch.windowWidth);
        regSet(ctx, kRegOffsetX, ch.offsetY);
        regSet(ctx, kRegOffsetY, uint16_t(ch.windowWidth - ch.offsetX - ch.outputWidth));
        regSet(ctx, kRegVerticalFlip, ch.verticalFlip);
        regSet(ctx, kRegHorizontalFlip, ch.horizontalFlip);
        ctx.sensorWidth = ch.outputHeight;
        ctx.sensorHeight = ch.outputWidth;
    } else {
        writeWindow(ctx);
        ctx.sensorWidth = ch.outputWidth;
        ctx.sensorHeight = ch.outputHeight;
        // A half turn is the sensor's own flips, each inverted.
        bool half = ctx.rotation == 180;
        regSet(ctx, kRegVerticalFlip, half ? uint16_t((ch.verticalFlip - 1) & 1) : ch.verticalFlip);
        regSet(ctx, kRegHorizontalFlip, half ? uint16_t((ch.horizontalFlip - 1) & 1) : ch.horizontalFlip);
    }

    if (StartReading(ctx, mode) != 0) {
        failurePath(ctx);
        return 1;
    }
    const uint64_t w = ch.outputWidth, h = ch.outputHeight;
    if (ch.compressedTransfer == 1 && !sizeBuffer(ctx.decodeBuffer, ctx.decodeBufferSize, w * h * 2)) {
        failurePath(ctx);
        return 1;
    }
    if (ctx.channel == 0 && mode == 1 && (ch.pixelFormat == 2 || ch.pixelFormat == 4) &&
        !sizeBuffer(ctx.greyBuffer, ctx.greyBufferSize, w * h)) {
        failurePath(ctx);
        return 1;
    }
    uint64_t frameSize = 0;
    switch (ch.pixelFormat) {
    case 2: frameSize = w * h * 3; break;
    case 4:
    case 7:
    case 21: frameSize = w * h * 2; break;
    case 6: frameSize = w * h; break;
    default: frameSize = 0; break;
    }
    if (frameSize > std::numeric_limits<uint32_t>::max()) {
        failurePath(ctx);
        return 1;
    }
    ctx.frameSize = uint32_t(frameSize);
    if ((ctx.rotation == 90 || ctx.rotation == 270) && ctx.frameSize != 0 &&
        !sizeBuffer(ctx.rotationBuffer, ctx.rotationBufferSize, ctx.frameSize)) {
        failurePath(ctx);
        return 1;
    }
    // The loops start afresh with each stream.
    ResetLoopState(ctx);
    return 0;
}

void ReleaseStream(CameraContext &ctx) {
    FrameStream *stream = ctx.stream;
    if (!stream) return;
    StopReading(ctx);
    // By now the device handle is closed, so an abandoned reader's read has
    // come back and it is on its way out.
    reapStragglers(*stream, stopWaitLimitMs());
    for (FrameStream::Straggler &s : stream->stragglers) s.thread.detach(); // keeps its own slots alive
    stream->stragglers.clear();
    for (FrameSlot &s : stream->set->slots) {
        delete[] s.buffer;
        s.buffer = nullptr;
        s.capacity = 0;
    }
    delete stream;
    ctx.stream = nullptr;
}

} // namespace ix
