// The tone curve sent to register 13: a base curve that lifts the dark end,
// blended towards four reference curves as the strength grows.
#include "library/controls/controls.h"
#include "library/controls/tables.h"

namespace ix {
namespace {

constexpr int kKnots = 17;
constexpr int kKnotX[kKnots] = {0, 16, 32, 48, 64, 80, 96, 112, 128, 144, 160, 176, 192, 208, 224, 240, 255};
// The reference curves at every 16th input (and at 255); each lifts the middle
// tones more than the one before.
constexpr int kKnotY[kToneCurveCount][kKnots] = {
    {0, 35, 62, 83, 102, 119, 134, 149, 163, 176, 189, 201, 213, 224, 235, 246, 255},
    {0, 66, 94, 115, 132, 147, 160, 172, 183, 194, 203, 213, 222, 230, 238, 246, 255},
    {0, 93, 120, 139, 155, 168, 179, 189, 199, 207, 215, 223, 230, 236, 243, 249, 255},
    {0, 111, 137, 154, 168, 180, 189, 198, 206, 214, 220, 227, 232, 238, 243, 248, 255},
};

struct Curve {
    uint8_t v[256];
};

// The entries between the knots come from a monotone cubic (Fritsch-Carlson
// slopes with the harmonic-mean rule): smooth like the sensor's own response,
// yet never overshooting a knot, so every curve stays non-decreasing and
// each entry lies between the two knots around it. Rounding keeps both.
constexpr Curve interpolate(const int (&y)[kKnots]) {
    double h[kKnots - 1]{}, delta[kKnots - 1]{}, d[kKnots]{};
    for (int k = 0; k + 1 < kKnots; ++k) {
        h[k] = double(kKnotX[k + 1] - kKnotX[k]);
        delta[k] = double(y[k + 1] - y[k]) / h[k];
    }
    for (int k = 1; k + 1 < kKnots; ++k) {
        if (delta[k - 1] <= 0 || delta[k] <= 0) continue; // flat neighbour: flat tangent
        double w1 = 2 * h[k] + h[k - 1], w2 = h[k] + 2 * h[k - 1];
        d[k] = (w1 + w2) / (w1 / delta[k - 1] + w2 / delta[k]);
    }
    // Ends: the three-point slope, kept to the same sign and at most three
    // times the secant so the first and last pieces cannot overshoot.
    auto endSlope = [](double h0, double h1, double d0, double d1) {
        double s = ((2 * h0 + h1) * d0 - h0 * d1) / (h0 + h1);
        if (s <= 0 || d0 <= 0) return 0.0;
        if (s > 3 * d0) s = 3 * d0;
        return s;
    };
    d[0] = endSlope(h[0], h[1], delta[0], delta[1]);
    d[kKnots - 1] = endSlope(h[kKnots - 2], h[kKnots - 3], delta[kKnots - 2], delta[kKnots - 3]);

    Curve c{};
    for (int k = 0; k + 1 < kKnots; ++k) {
        for (int x = kKnotX[k]; x <= kKnotX[k + 1]; ++x) {
            double t = (x - kKnotX[k]) / h[k];
            double t2 = t * t, t3 = t2 * t;
            double v = (2 * t3 - 3 * t2 + 1) * y[k] + (t3 - 2 * t2 + t) * h[k] * d[k] +
                       (-2 * t3 + 3 * t2) * y[k + 1] + (t3 - t2) * h[k] * d[k + 1];
            int r = int(v + 0.5);
            // Guard the rounding against the knots on either side.
            if (r < y[k]) r = y[k];
            if (r > y[k + 1]) r = y[k + 1];
            c.v[x] = uint8_t(r);
        }
    }
    return c;
}

constexpr Curve kCurves[kToneCurveCount] = {interpolate(kKnotY[0]), interpolate(kKnotY[1]),
                                            interpolate(kKnotY[2]), interpolate(kKnotY[3])};

constexpr uint16_t kRegToneCurve = 13;

} // namespace

const uint8_t (&toneReferenceCurve(int k))[256] {
    return kCurves[k & 3].v;
}

void buildToneCurve(uint16_t strength, uint16_t lift, uint8_t out[256]) {
    int s = strength > 255 ? 255 : strength;
    int h = (lift > 255 ? 255 : lift) / 2;
    const uint8_t *k0 = kCurves[0].v, *k1 = kCurves[1].v, *k2 = kCurves[2].v, *k3 = kCurves[3].v;
    for (int i = 0; i < 256; ++i) {
        int b = i < 64 ? (4 * (h + 64) * i) / 256 : ((192 - h) * i) / 192 + (344 * h) / 256;
        if (b > 255) b = 255;
        int v;
        if (s == 0) v = b;
        else if (s <= 64) v = b + ((k0[b] - b) * s) / 64;
        else if (s <= 128) v = k0[b] + ((k1[b] - k0[b]) * (s - 64)) / 64;
        else if (s <= 192) v = k1[b] + ((k2[b] - k1[b]) * (s - 128)) / 64;
        else v = k2[b] + ((k3[b] - k2[b]) * (s - 192)) / 64;
        out[i] = uint8_t(v);
    }
}

int uploadToneCurve(CameraContext &ctx) {
    const ChannelSettings &ch = ctx.selected();
    uint8_t curve[256];
    buildToneCurve(ch.toneStrength, ch.toneLift, curve);
    if (!ctx.connected) return 1;
    return usb::ixSetBlock(ctx.transport, kRegToneCurve, curve, sizeof curve, nullptr);
}

} // namespace ix
