// The whole per-frame path of IxGetImage on the virtual camera: taking the
// frame from the reader's slots, conversion, the grey copy, the pupil search
// and the feedback loops, on a continuous channel-0 stream at 1280 x 360 (a
// 2560 x 720 strip across the middle of the sensor, as `ixlumo capture`
// takes it).
//
// The camera's own time is left out: before each timed call the clock stops
// until the reader holds a finished frame. The frame rate is set low enough
// that the virtual camera is not drawing the next frame while the call runs,
// so the figure is the host's work alone, not a share of two busy cores
// (drawing a 1280 x 360 frame takes the virtual camera some 20 ms).
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>
#include <vector>

#include "library/core/context.h"
#include "library/core/stream.h"
#include "library/include/IxiLumo.h"
#include "platform/sys.h"

namespace {

bool frameWaiting() {
    ix::FrameStream *stream = ix::context().stream;
    if (!stream || !stream->set) return false;
    for (const ix::FrameSlot &s : stream->set->slots)
        if (s.state.load(std::memory_order_acquire) == ix::SlotState::Ready) return true;
    return false;
}

bool set(uint32_t id, int32_t value) { return IxSetControlValue(id, value, 2) == IX_OK; }

void BM_GetImage(benchmark::State &state) {
    const int32_t format = int32_t(state.range(0));
    const int32_t w = 1280, h = 360;
    ix::sys::setEnv("IXLUMO_SIMULATOR", "fps=20");
    if (IxOpen() != IX_OK) {
        state.SkipWithError("the virtual camera did not open");
        return;
    }
    if (!set(IX_CTL_CHANNEL, 0) || !set(IX_CTL_PIXEL_FORMAT, format) || !set(IX_CTL_OUTPUT_WIDTH, w) ||
        !set(IX_CTL_OUTPUT_HEIGHT, h) || !set(IX_CTL_WINDOW_WIDTH, 2560) || !set(IX_CTL_WINDOW_HEIGHT, 720) ||
        !set(IX_CTL_OFFSET_Y, 600) || !set(IX_CTL_STREAM_MODE, 1)) {
        state.SkipWithError("the stream did not start");
        IxClose();
        return;
    }
    const size_t bpp = format == IX_FORMAT_BGR24 ? 3 : format == IX_FORMAT_GREY8 ? 1 : 2;
    std::vector<uint8_t> frame(size_t(w) * h * bpp);
    int failures = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!frameWaiting() && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        state.ResumeTiming();
        uint32_t got = 0;
        failures += IxGetImage(frame.data(), uint32_t(frame.size()), &got) != IX_OK;
        benchmark::DoNotOptimize(frame.data());
    }
    set(IX_CTL_STREAM_MODE, 0);
    IxClose();
    if (failures) state.SkipWithError("IxGetImage failed");
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * int64_t(w) * h * 2);
}

}  // namespace

// Grey (searched in place), BGR24 and RGB565 (searched through the grey
// copy), and raw YUY2, which is delivered without the eye work.
BENCHMARK(BM_GetImage)
    ->ArgName("format")
    ->Arg(IX_FORMAT_GREY8)
    ->Arg(IX_FORMAT_BGR24)
    ->Arg(IX_FORMAT_RGB565)
    ->Arg(IX_FORMAT_YUY2)
    ->Iterations(100)
    ->Unit(benchmark::kMicrosecond);
