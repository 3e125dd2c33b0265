// YUY2 converters (reference and SIMD side by side) and quarter turns on the
// camera's frame sizes.
#include "library/codec/pixel_convert.h"
#include "library/codec/quarter_turn.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

namespace {

struct Size {
    int w, h;
};
const Size kSizes[] = {{640, 480}, {1280, 360}, {2560, 720}};

std::vector<uint8_t> randomBytes(size_t n) {
    std::mt19937 rng(42);
    std::vector<uint8_t> v(n);
    for (auto &b : v)
        b = uint8_t(rng());
    return v;
}

void convert(benchmark::State &state, ix::codec::ConvertFn fn, int bytesPerPixel, Size s) {
    const auto src = randomBytes(size_t(s.w) * s.h * 2);
    std::vector<uint8_t> dst(size_t(s.w) * s.h * bytesPerPixel);
    for (auto _ : state) {
        fn(dst.data(), s.w, s.h, src.data());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * s.w * s.h);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
}

void turn(benchmark::State &state, int bytesPerPixel, int rotation, Size s) {
    // The rotation buffer holds w rows of h pixels, the destination h rows of w.
    const auto src = randomBytes(size_t(s.w) * s.h * bytesPerPixel);
    std::vector<uint8_t> dst(src.size());
    for (auto _ : state) {
        ix::codec::QuarterTurn(dst.data(), src.data(), s.w, s.h, bytesPerPixel, rotation);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * s.w * s.h);
}

int registerAll() {
    struct F {
        const char *name;
        int bytes;
        ix::codec::ConvertFn ix::codec::ConverterSet::*member;
    } formats[] = {{"Bgrx32", 4, &ix::codec::ConverterSet::bgrx32},
                   {"Bgr24", 3, &ix::codec::ConverterSet::bgr24},
                   {"Rgb565", 2, &ix::codec::ConverterSet::rgb565},
                   {"Grey8", 1, &ix::codec::ConverterSet::grey8}};
    std::vector<const ix::codec::ConverterSet *> sets{&ix::codec::scalarConverters()};
    if (const auto *simd = ix::codec::simdConverters())
        sets.push_back(simd);
    for (const F &f : formats)
        for (const auto *set : sets)
            for (Size s : kSizes) {
                const std::string name = std::string("ConvertYuy2To") + f.name + "/" + set->name + "/" +
                                         std::to_string(s.w) + "x" + std::to_string(s.h);
                benchmark::RegisterBenchmark(name.c_str(), convert, set->*f.member, f.bytes, s);
            }
    for (int bytes : {1, 2, 3})
        for (int rotation : {90, 270})
            for (Size s : kSizes) {
                const std::string name = "QuarterTurn/" + std::to_string(bytes) + "B/" + std::to_string(rotation) +
                                         "/" + std::to_string(s.w) + "x" + std::to_string(s.h);
                benchmark::RegisterBenchmark(name.c_str(), turn, bytes, rotation, s);
            }
    return 0;
}

const int registered = registerAll();

} // namespace

BENCHMARK_MAIN();
