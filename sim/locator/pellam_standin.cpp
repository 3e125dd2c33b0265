// A stand-in for the closed eye-locator library, for tests and the demo. It
// exports the thirteen entry points by ordinal and really looks for two dark
// discs in the frame it is given.
//
// PELLAM_STANDIN_REFUSE=1 in the environment makes initialisation refuse.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifdef _WIN32
#define PELLAM_EXPORT extern "C"
#else
#define PELLAM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

struct State {
    bool initialised = false;
    float first[2] = {0, 0};
    float second[2] = {0, 0};
    float boxNear[2] = {0, 0};
    float boxFar[2] = {0, 0};
    bool found = false;
};
State g_state;

// Two dark blobs: threshold the darkest pixels, then split them in two with a
// few rounds of 2-means on their coordinates.
bool locate(int32_t height, int32_t width, const uint8_t *pixels, int32_t layout) {
    g_state.found = false;
    if (!pixels || width < 8 || height < 8 || width > 20000 || height > 20000) return false;
    int bpp = layout == 0 ? 3 : 1;
    const int step = width >= 640 ? 2 : 1;
    std::vector<float> xs, ys;
    for (int32_t r = 0; r < height; r += step) {
        const uint8_t *row = pixels + size_t(r) * size_t(width) * bpp;
        for (int32_t c = 0; c < width; c += step) {
            int v = bpp == 3 ? (row[3 * c] + 2 * row[3 * c + 1] + row[3 * c + 2]) / 4 : row[c];
            if (v < 40) {
                xs.push_back(float(c));
                ys.push_back(float(r + 1)); // rows counted from the bottom, 1-based
            }
        }
    }
    if (xs.size() < 8) return false;
    // Seed with the extreme points along the longer spread.
    float minX = xs[0], maxX = xs[0], minY = ys[0], maxY = ys[0];
    for (size_t i = 0; i < xs.size(); ++i) {
        minX = std::fmin(minX, xs[i]); maxX = std::fmax(maxX, xs[i]);
        minY = std::fmin(minY, ys[i]); maxY = std::fmax(maxY, ys[i]);
    }
    bool alongX = (maxX - minX) >= (maxY - minY);
    float c[2][2] = {{alongX ? minX : (minX + maxX) / 2, alongX ? (minY + maxY) / 2 : minY},
                     {alongX ? maxX : (minX + maxX) / 2, alongX ? (minY + maxY) / 2 : maxY}};
    size_t n[2] = {0, 0};
    for (int round = 0; round < 8; ++round) {
        double sx[2] = {0, 0}, sy[2] = {0, 0};
        n[0] = n[1] = 0;
        for (size_t i = 0; i < xs.size(); ++i) {
            float d0 = std::hypot(xs[i] - c[0][0], ys[i] - c[0][1]);
            float d1 = std::hypot(xs[i] - c[1][0], ys[i] - c[1][1]);
            int k = d1 < d0;
            sx[k] += xs[i];
            sy[k] += ys[i];
            ++n[k];
        }
        for (int k = 0; k < 2; ++k)
            if (n[k]) {
                c[k][0] = float(sx[k] / n[k]);
                c[k][1] = float(sy[k] / n[k]);
            }
    }
    // Two discs of similar size, apart from each other.
    if (n[0] < 4 || n[1] < 4) return false;
    double ratio = double(n[0]) / double(n[1]);
    if (ratio < 0.25 || ratio > 4.0) return false;
    if (std::hypot(c[0][0] - c[1][0], c[0][1] - c[1][1]) < 8.0f) return false;
    g_state.first[0] = c[0][0];
    g_state.first[1] = c[0][1];
    g_state.second[0] = c[1][0];
    g_state.second[1] = c[1][1];
    float pad = float(width) / 16;
    g_state.boxNear[0] = std::fmax(0.0f, std::fmin(c[0][0], c[1][0]) - pad);
    g_state.boxNear[1] = std::fmax(0.0f, std::fmin(c[0][1], c[1][1]) - pad);
    g_state.boxFar[0] = std::fmin(float(width - 1), std::fmax(c[0][0], c[1][0]) + pad);
    g_state.boxFar[1] = std::fmin(float(height), std::fmax(c[0][1], c[1][1]) + pad);
    g_state.found = true;
    return true;
}

} // namespace

#define PELLAM_UNUSED_ENTRY(n) PELLAM_EXPORT int32_t PellamOrdinal##n() { return 0; }

PELLAM_UNUSED_ENTRY(1)
PELLAM_UNUSED_ENTRY(2)
PELLAM_UNUSED_ENTRY(3)
#if PELLAM_OMIT_ORDINAL != 7
PELLAM_UNUSED_ENTRY(7)
#endif
PELLAM_UNUSED_ENTRY(8)
PELLAM_UNUSED_ENTRY(11)
PELLAM_UNUSED_ENTRY(13)

// Ordinal 4: the two eye centres.
PELLAM_EXPORT int32_t PellamOrdinal4(float **first, float **second) {
    if (!g_state.found || !first || !second) return 0;
    *first = g_state.first;
    *second = g_state.second;
    return 1;
}

// Ordinal 5: two corners of a box around both eyes.
PELLAM_EXPORT int32_t PellamOrdinal5(float **first, float **second) {
    if (!g_state.found || !first || !second) return 0;
    *first = g_state.boxNear;
    *second = g_state.boxFar;
    return 1;
}

// Ordinal 6: forget the last frame.
PELLAM_EXPORT int32_t PellamOrdinal6() {
    g_state.found = false;
    return 0;
}

// Ordinal 9: initialise with the folder the locator was loaded from.
PELLAM_EXPORT int32_t PellamOrdinal9(const char *folder, int32_t) {
    const char *refuse = std::getenv("PELLAM_STANDIN_REFUSE");
    if (refuse && *refuse && std::strcmp(refuse, "0") != 0) return 0;
    g_state.initialised = folder && *folder;
    return g_state.initialised ? 1 : 0;
}

// Ordinal 10: ready after a successful initialisation.
PELLAM_EXPORT int32_t PellamOrdinal10() { return g_state.initialised ? 1 : 0; }

// Ordinal 12: look at one frame; 1 when two eyes were found, 0 when not,
// -1 for a frame it cannot read.
PELLAM_EXPORT int32_t PellamOrdinal12(int32_t height, int32_t width, const uint8_t *pixels, int32_t layout,
                                      int32_t) {
    if (!g_state.initialised || (layout != 0 && layout != 2)) return -1;
    return locate(height, width, pixels, layout) ? 1 : 0;
}
