// The per-frame pupil search of channel 0 at the camera's widest frame,
// with both eyes present and with none (every candidate stage still runs).
#include <benchmark/benchmark.h>

#include <memory>

#include "eye_search.h"
#include "synthetic_eyes.h"

namespace {

using ix::eyes::EyeSearchArea;
using ix::eyes::test::GreyFrame;

void searchBothHalves(benchmark::State &state, bool withEyes) {
    const int W = 2560, H = static_cast<int>(state.range(0));
    auto area = std::make_unique<EyeSearchArea>();
    GreyFrame frame(W, H, 175);
    if (withEyes) {
        frame.drawEye({640, H / 2, 50, W / 20});
        frame.drawEye({1920, H / 2 + 20, 45, W / 20});
    }
    frame.addNoise(6, 1);
    EyeResult left{}, right{};
    for (auto _ : state) {
        ix::eyes::SearchBothHalves(*area, frame.data(), W, H, W / 2, H, left, right);
        benchmark::DoNotOptimize(left);
        benchmark::DoNotOptimize(right);
    }
    if (withEyes && (left.notFound || right.notFound)) state.SkipWithError("the drawn pupils were not found");
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(W) * H);
}

void BM_SearchBothHalves_TwoEyes(benchmark::State &state) { searchBothHalves(state, true); }
void BM_SearchBothHalves_NoEyes(benchmark::State &state) { searchBothHalves(state, false); }

}  // namespace

BENCHMARK(BM_SearchBothHalves_TwoEyes)->Arg(720)->Arg(1080)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SearchBothHalves_NoEyes)->Arg(720)->Unit(benchmark::kMicrosecond);
