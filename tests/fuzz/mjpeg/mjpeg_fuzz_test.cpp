// Mutated and truncated camera frames through the parser and decoder: a
// fixed seed and a fixed count, so every run checks the same inputs. Meant
// for the sanitizer build, where a read or write out of bounds, undefined
// arithmetic or a touched guard region stops the program. Every file under
// regressions/ (inputs that once went wrong, and the seed frames) is replayed
// first.
#include "sim/encoder/mjpeg_encoder.h"
#include "tests/fuzz/mjpeg/mjpeg_fuzz_target.h"
#include "tests/unit/mjpeg/frame_tools.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

using ix::test::Bytes;

std::vector<Bytes> seedFrames() {
    std::vector<Bytes> seeds;
    const struct {
        int w, h, kind, quality;
    } specs[] = {{64, 16, 0, 75}, {48, 24, 2, 95}, {160, 48, 1, 40}, {640, 16, 4, 100}, {32, 8, 3, 5}};
    for (const auto &s : specs) {
        const Bytes pic = ix::test::testPicture(s.w, s.h, s.kind);
        seeds.push_back(ix::sim::EncodeMjpegFrame(pic.data(), s.w, s.h, s.quality));
    }
    // One with restart markers in its coded data.
    Bytes f = seeds[0], g(f.begin(), f.begin() + long(ix::test::entropyOffset(f)));
    for (size_t i = g.size(); i < f.size(); ++i) {
        g.push_back(f[i]);
        if (f[i] != 0xFF && i % 17 == 0) {
            g.push_back(0xFF);
            g.push_back(uint8_t(0xD0 + i % 8));
        }
    }
    seeds.push_back(g);
    return seeds;
}

Bytes mutate(const Bytes &in, std::mt19937 &rng) {
    Bytes f = in;
    const int ops = 1 + int(rng() % 4);
    for (int op = 0; op < ops && !f.empty(); ++op) {
        const size_t at = rng() % f.size();
        switch (rng() % 9) {
        case 0: f[at] ^= uint8_t(1u << (rng() % 8)); break;                  // bit flip
        case 1: f[at] = uint8_t(rng()); break;                               // random byte
        case 2: f[at] = 0xFF; break;                                         // marker prefix
        case 3: f.resize(at); break;                                         // truncate
        case 4: f.erase(f.begin() + long(at), f.begin() + long(std::min(f.size(), at + 1 + rng() % 16))); break;
        case 5: {                                                            // duplicate a run
            const size_t n = std::min(f.size() - at, size_t(1 + rng() % 32));
            Bytes run(f.begin() + long(at), f.begin() + long(at + n));
            f.insert(f.begin() + long(rng() % f.size()), run.begin(), run.end());
            break;
        }
        case 6: {                                                            // a segment length field
            const auto segs = ix::test::segmentsOf(f);
            if (segs.empty()) break;
            const auto &s = segs[rng() % segs.size()];
            if (s.offset + 3 < f.size()) {
                f[s.offset + 2] = uint8_t(rng() % 3 == 0 ? 0xFF : rng() % 2);
                f[s.offset + 3] = uint8_t(rng());
            }
            break;
        }
        case 7: {                                                            // a header byte
            const size_t headers = std::min(ix::test::entropyOffset(f), f.size());
            if (headers) f[rng() % headers] = uint8_t(rng());
            break;
        }
        case 8: f.insert(f.begin() + long(at), {0xFF, uint8_t(0xC0 + rng() % 64)}); break; // a marker
        }
    }
    return f;
}

TEST(MjpegFuzz, RegressionsAndSeedsReplay) {
    int files = 0;
    const std::filesystem::path dir = IXLUMO_MJPEG_FUZZ_REGRESSIONS;
    for (const auto &entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ix::test::FuzzMjpegOne(data.data(), data.size());
        ++files;
    }
    EXPECT_GT(files, 0) << dir;
}

TEST(MjpegFuzz, EveryTruncationOfEverySeed) {
    for (const Bytes &f : seedFrames()) {
        int parsed = 0;
        for (size_t n = 0; n <= f.size(); ++n) parsed += ix::test::FuzzMjpegOne(f.data(), n) != 1;
        // From the end of the scan header on, every prefix parses (and then
        // decodes, or meets a capacity too small for it).
        EXPECT_EQ(size_t(parsed), f.size() + 1 - ix::test::entropyOffset(f));
    }
}

TEST(MjpegFuzz, MutatedFrames) {
    const std::vector<Bytes> seeds = seedFrames();
    std::mt19937 rng(20261211);
    int results[9] = {};
    for (int i = 0; i < 30000; ++i) {
        Bytes f = mutate(seeds[size_t(i) % seeds.size()], rng);
        // Now and then mutate a mutant, to get further from the seeds.
        if (i % 5 == 0) f = mutate(f, rng);
        ++results[ix::test::FuzzMjpegOne(f.data(), f.size())];
    }
    // The mix must reach decoding as well as refusals, or the test proves little.
    EXPECT_GT(results[0], 3000);
    EXPECT_GT(results[1], 3000);
}

} // namespace
