// Decoding camera frames: our decoder (to YUY2, and to BGR24 through the
// converter) beside libjpeg-turbo (raw planes, and BGR bottom-up) on the very
// same frame bytes, in one run. After the run a table gives our time over
// libjpeg-turbo's for each size (CPU time, steadier than wall time on a
// shared machine).
#include "library/codec/mjpeg_decoder.h"
#include "library/codec/pixel_convert.h"
#include "sim/encoder/mjpeg_encoder.h"
#include "tests/unit/mjpeg/frame_tools.h"

#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

using ix::test::Bytes;

const Bytes &cameraFrame(int w, int h) {
    static std::map<std::pair<int, int>, Bytes> frames;
    Bytes &f = frames[{w, h}];
    if (f.empty()) {
        const Bytes pic = ix::test::testPicture(w, h, 0);
        f = ix::sim::EncodeMjpegFrame(pic.data(), w, h, 80);
    }
    return f;
}

void OursYuy2(benchmark::State &state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    const Bytes &f = cameraFrame(w, h);
    ix::codec::MjpegDecoder *d = ix::codec::MjpegCreateDecoder();
    Bytes out(size_t(w) * h * 2);
    for (auto _ : state) {
        if (ix::codec::MjpegDecodeToYuy2(d, f.data(), int32_t(f.size()), out.data(), int64_t(out.size()), nullptr,
                                         nullptr) != 0)
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(out.data());
    }
    ix::codec::MjpegDestroyDecoder(d);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.size()));
}

void OursBgr24(benchmark::State &state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    const Bytes &f = cameraFrame(w, h);
    ix::codec::MjpegDecoder *d = ix::codec::MjpegCreateDecoder();
    Bytes yuy2(size_t(w) * h * 2), bgr(size_t(w) * h * 3);
    for (auto _ : state) {
        if (ix::codec::MjpegDecodeToYuy2(d, f.data(), int32_t(f.size()), yuy2.data(), int64_t(yuy2.size()), nullptr,
                                         nullptr) != 0)
            state.SkipWithError("decode failed");
        ix::codec::ConvertYuy2ToBgr24(bgr.data(), w, h, yuy2.data());
        benchmark::DoNotOptimize(bgr.data());
    }
    ix::codec::MjpegDestroyDecoder(d);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.size()));
}

void TurboRaw(benchmark::State &state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    const Bytes &f = cameraFrame(w, h);
    tjhandle tj = tjInitDecompress();
    Bytes y(size_t(w) * h), cb(size_t(w / 2) * h), cr(size_t(w / 2) * h);
    unsigned char *planes[3] = {y.data(), cb.data(), cr.data()};
    int strides[3] = {w, w / 2, w / 2};
    for (auto _ : state) {
        if (tjDecompressToYUVPlanes(tj, f.data(), f.size(), planes, w, strides, h, TJFLAG_ACCURATEDCT) != 0)
            state.SkipWithError(tjGetErrorStr2(tj));
        benchmark::DoNotOptimize(y.data());
    }
    tjDestroy(tj);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.size()));
}

void TurboBgr24(benchmark::State &state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    const Bytes &f = cameraFrame(w, h);
    tjhandle tj = tjInitDecompress();
    Bytes bgr(size_t(w) * h * 3);
    for (auto _ : state) {
        if (tjDecompress2(tj, f.data(), f.size(), bgr.data(), w, w * 3, h, TJPF_BGR,
                          TJFLAG_ACCURATEDCT | TJFLAG_BOTTOMUP) != 0)
            state.SkipWithError(tjGetErrorStr2(tj));
        benchmark::DoNotOptimize(bgr.data());
    }
    tjDestroy(tj);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.size()));
}

void Sizes(benchmark::internal::Benchmark *b) {
    b->Args({640, 480})->Args({1280, 360})->Args({2560, 720})->Unit(benchmark::kMillisecond);
}

BENCHMARK(OursYuy2)->Apply(Sizes);
BENCHMARK(TurboRaw)->Apply(Sizes);
BENCHMARK(OursBgr24)->Apply(Sizes);
BENCHMARK(TurboBgr24)->Apply(Sizes);

// Keeps each run's time so the ratios can be printed after the usual table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> times; // name -> CPU time per iteration
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &r : runs)
            if (!r.error_occurred && r.run_type == Run::RT_Iteration)
                times[r.benchmark_name()] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // CPU time rather than wall time: build machines are often shared.
    std::printf("\nours / libjpeg-turbo (CPU time per frame; above 1 means ours is slower)\n");
    std::printf("%-12s %14s %14s\n", "frame", "YUY2 vs raw", "BGR24 vs BGR");
    for (const char *size : {"640/480", "1280/360", "2560/720"}) {
        auto ratio = [&](const char *ours, const char *theirs) {
            auto a = reporter.times.find(std::string(ours) + "/" + size);
            auto b = reporter.times.find(std::string(theirs) + "/" + size);
            return a == reporter.times.end() || b == reporter.times.end() || b->second == 0 ? 0.0
                                                                                            : a->second / b->second;
        };
        std::printf("%-12s %14.2f %14.2f\n", size, ratio("OursYuy2", "TurboRaw"), ratio("OursBgr24", "TurboBgr24"));
    }
    benchmark::Shutdown();
    return 0;
}
