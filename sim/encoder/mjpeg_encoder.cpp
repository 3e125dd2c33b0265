#include "sim/encoder/mjpeg_encoder.h"

#include "library/codec/jpeg_tables.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace ix::sim {

namespace {

using namespace ix::jpeg;

// T.81 table K.1 (luminance) and K.2 (chrominance), natural order.
constexpr uint8_t kLumaQuant[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr uint8_t kChromaQuant[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

void scaleQuant(const uint8_t *base, int quality, uint8_t *out) {
    const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    for (int i = 0; i < 64; ++i) out[i] = static_cast<uint8_t>(std::clamp((base[i] * scale + 50) / 100, 1, 255));
}

// Code and length of every symbol of one Huffman table (T.81 Annex C).
struct HuffCode {
    uint16_t code[256]{};
    uint8_t length[256]{};
};

HuffCode encoderTable(const HuffmanSpec &table) {
    HuffCode t;
    uint32_t code = 0;
    int k = 0;
    for (int len = 1; len <= 16; ++len) {
        for (int i = 0; i < table.counts[len - 1]; ++i) {
            t.code[table.values[k]] = static_cast<uint16_t>(code);
            t.length[table.values[k]] = static_cast<uint8_t>(len);
            ++code;
            ++k;
        }
        code <<= 1;
    }
    return t;
}

// Separable DCT matrix: F = M f M^T with M[u][x] = C(u)/2 cos((2x+1)u pi/16).
std::array<float, 64> dctMatrix() {
    std::array<float, 64> m{};
    for (int u = 0; u < 8; ++u)
        for (int x = 0; x < 8; ++x)
            m[u * 8 + x] = static_cast<float>((u == 0 ? std::sqrt(0.5) : 1.0) / 2.0 *
                                              std::cos((2 * x + 1) * u * 3.14159265358979323846 / 16.0));
    return m;
}

class Writer {
public:
    Writer(uint8_t *out, size_t capacity) : out_(out), capacity_(capacity) {}

    void byte(uint8_t b) {
        if (pos_ < capacity_) out_[pos_] = b;
        else overflow_ = true;
        ++pos_;
    }
    void word(int v) {
        byte(static_cast<uint8_t>(v >> 8));
        byte(static_cast<uint8_t>(v));
    }
    void bytes(const uint8_t *p, size_t n) {
        for (size_t i = 0; i < n; ++i) byte(p[i]);
    }
    // Entropy-coded bits, most significant first, with FF stuffing.
    void bits(uint32_t value, int count) {
        acc_ = (acc_ << count) | (value & ((1u << count) - 1));
        accBits_ += count;
        while (accBits_ >= 8) {
            const uint8_t b = static_cast<uint8_t>(acc_ >> (accBits_ - 8));
            byte(b);
            if (b == 0xFF) byte(0);
            accBits_ -= 8;
        }
    }
    // Pads the last byte with one bits, as T.81 F.1.2.3 asks.
    void flushBits() {
        if (accBits_ > 0) bits(0x7F, 8 - accBits_);
    }
    size_t size() const { return pos_; }
    bool overflow() const { return overflow_; }

private:
    uint8_t *out_;
    size_t capacity_;
    size_t pos_ = 0;
    bool overflow_ = false;
    uint64_t acc_ = 0;
    int accBits_ = 0;
};

int category(int v) {
    int a = v < 0 ? -v : v;
    int n = 0;
    while (a) {
        ++n;
        a >>= 1;
    }
    return n;
}

struct BlockCoder {
    const HuffCode &dc;
    const HuffCode &ac;
    int predictor = 0;

    void code(Writer &w, const int16_t *coef) {
        const int diff = coef[0] - predictor;
        predictor = coef[0];
        int s = category(diff);
        w.bits(dc.code[s], dc.length[s]);
        if (s) w.bits(static_cast<uint32_t>(diff < 0 ? diff - 1 : diff), s);
        int run = 0;
        for (int k = 1; k < 64; ++k) {
            const int v = coef[kZigZag[k]];
            if (v == 0) {
                ++run;
                continue;
            }
            while (run > 15) {
                w.bits(ac.code[0xF0], ac.length[0xF0]);
                run -= 16;
            }
            s = category(v);
            const int sym = (run << 4) | s;
            w.bits(ac.code[sym], ac.length[sym]);
            w.bits(static_cast<uint32_t>(v < 0 ? v - 1 : v), s);
            run = 0;
        }
        if (run > 0) w.bits(ac.code[0x00], ac.length[0x00]);
    }
};

// Forward DCT and quantisation of one 8 x 8 block of samples.
void transform(const float *samples, const std::array<float, 64> &m, const uint8_t *quant, int16_t *coef) {
    float tmp[64];
    for (int u = 0; u < 8; ++u)
        for (int y = 0; y < 8; ++y) {
            float s = 0;
            for (int x = 0; x < 8; ++x) s += m[u * 8 + x] * (samples[y * 8 + x] - 128.0f);
            tmp[y * 8 + u] = s;
        }
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) {
            float s = 0;
            for (int y = 0; y < 8; ++y) s += m[v * 8 + y] * tmp[y * 8 + u];
            // Baseline ranges: AC within category 10, DC within -1024..1023 so
            // that every DC difference stays within category 11.
            const int lo = (u | v) ? -1023 : -1024;
            coef[v * 8 + u] = static_cast<int16_t>(
                std::clamp(static_cast<int>(std::lround(s / quant[v * 8 + u])), lo, 1023));
        }
}

} // namespace

size_t EncodeMjpegFrame(const uint8_t *yuy2, int32_t width, int32_t height, int quality, uint8_t *out,
                        size_t capacity) {
    if (!yuy2 || width < 2 || width > 65535 || (width & 1) || height < 1 || height > 65535) return 0;
    quality = std::clamp(quality, 1, 100);
    static const HuffCode lumaDc = encoderTable(kLumaDc), chromaDc = encoderTable(kChromaDc),
                          lumaAc = encoderTable(kLumaAc), chromaAc = encoderTable(kChromaAc);
    static const std::array<float, 64> m = dctMatrix();

    uint8_t quant[2][64];
    scaleQuant(kLumaQuant, quality, quant[0]);
    scaleQuant(kChromaQuant, quality, quant[1]);

    Writer w(out, capacity);
    // Start of image and JFIF APP0: version 1.01, aspect ratio 1:1, no thumbnail.
    static constexpr uint8_t kHead[20] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',
                                          0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
    w.bytes(kHead, sizeof kHead);
    // Comment segment: 56 bytes in all.
    w.word(0xFFFE);
    w.word(54);
    uint8_t comment[52] = {};
    std::memcpy(comment, kCameraComment, sizeof kCameraComment - 1);
    w.bytes(comment, sizeof comment);
    // Both quantisation tables in one segment, 8-bit, zig-zag order.
    w.word(0xFFDB);
    w.word(2 + 2 * 65);
    for (int t = 0; t < 2; ++t) {
        w.byte(static_cast<uint8_t>(t));
        for (int k = 0; k < 64; ++k) w.byte(quant[t][kZigZag[k]]);
    }
    // Baseline frame header: 8-bit, three components, Y 2x1 on table 0, Cb and Cr 1x1 on table 1.
    static constexpr uint8_t kComponents[9] = {1, 0x21, 0, 2, 0x11, 1, 3, 0x11, 1};
    w.word(0xFFC0);
    w.word(17);
    w.byte(8);
    w.word(height);
    w.word(width);
    w.byte(3);
    w.bytes(kComponents, sizeof kComponents);
    // Scan header: all three components, DC/AC tables 0/0 for Y and 1/1 for chroma, full spectrum.
    static constexpr uint8_t kScan[12] = {0xFF, 0xDA, 0x00, 0x0C, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0};
    w.bytes(kScan, sizeof kScan);
    w.byte(63);
    w.byte(0);

    BlockCoder y{lumaDc, lumaAc}, cb{chromaDc, chromaAc}, cr{chromaDc, chromaAc};
    const int32_t mcuCols = (width + 15) / 16, mcuRows = (height + 7) / 8;
    const size_t stride = static_cast<size_t>(width) * 2;
    float blocks[4][64];
    int16_t coef[64];
    for (int32_t my = 0; my < mcuRows; ++my) {
        for (int32_t mx = 0; mx < mcuCols; ++mx) {
            for (int r = 0; r < 8; ++r) {
                const int32_t sy = std::min(my * 8 + r, height - 1);
                const uint8_t *row = yuy2 + stride * sy;
                for (int c = 0; c < 16; ++c) {
                    const int32_t sx = std::min(mx * 16 + c, width - 1);
                    blocks[c >> 3][r * 8 + (c & 7)] = row[2 * sx];
                }
                for (int c = 0; c < 8; ++c) {
                    const int32_t pair = std::min(mx * 8 + c, width / 2 - 1);
                    blocks[2][r * 8 + c] = row[4 * pair + 1];
                    blocks[3][r * 8 + c] = row[4 * pair + 3];
                }
            }
            transform(blocks[0], m, quant[0], coef);
            y.code(w, coef);
            transform(blocks[1], m, quant[0], coef);
            y.code(w, coef);
            transform(blocks[2], m, quant[1], coef);
            cb.code(w, coef);
            transform(blocks[3], m, quant[1], coef);
            cr.code(w, coef);
            if (w.overflow()) return 0;
        }
    }
    w.flushBits();
    w.word(0xFFD9);
    return w.overflow() ? 0 : w.size();
}

std::vector<uint8_t> EncodeMjpegFrame(const uint8_t *yuy2, int32_t width, int32_t height, int quality) {
    if (!yuy2 || width < 2 || width > 65535 || (width & 1) || height < 1 || height > 65535) return {};
    // Generous first guess; noise at top quality may need more.
    size_t capacity = static_cast<size_t>(width) * height * 2 + 4096;
    for (;;) {
        std::vector<uint8_t> frame(capacity);
        const size_t n = EncodeMjpegFrame(yuy2, width, height, quality, frame.data(), capacity);
        if (n != 0) {
            frame.resize(n);
            return frame;
        }
        capacity *= 2;
    }
}

} // namespace ix::sim
