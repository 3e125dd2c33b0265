// The MJPEG decoder on frames from the virtual camera's encoder and on frames
// cut and spliced to reach each rule of the header parser and the bit reader.
#include "library/codec/jpeg_tables.h"
#include "library/codec/mjpeg_decoder.h"
#include "library/codec/mjpeg_decompress.h"
#include "library/codec/mjpeg_huffman.h"
#include "library/codec/pixel_convert.h"
#include "sim/encoder/mjpeg_encoder.h"
#include "tests/unit/mjpeg/frame_tools.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

using namespace ix::codec;
using ix::test::Bytes;
using ix::test::Segment;
using ix::test::testPicture;

struct DecoderDeleter {
    void operator()(MjpegDecoder *d) const { MjpegDestroyDecoder(d); }
};
using DecoderPtr = std::unique_ptr<MjpegDecoder, DecoderDeleter>;
DecoderPtr makeDecoder() { return DecoderPtr(MjpegCreateDecoder()); }

Bytes encode(int w, int h, int kind, int quality) {
    Bytes pic = testPicture(w, h, kind);
    return ix::sim::EncodeMjpegFrame(pic.data(), w, h, quality);
}

constexpr size_t kGuard = 64;
constexpr uint8_t kGuardByte = 0xA5;

// An output buffer of `size` bytes pre-filled with `fill`, followed by a
// guard region that no decode may touch.
struct Output {
    Bytes buf;
    size_t size;
    Output(size_t n, uint8_t fill) : buf(n + kGuard, fill), size(n) {
        std::fill(buf.begin() + n, buf.end(), kGuardByte);
    }
    uint8_t *data() { return buf.data(); }
    bool guardIntact() const {
        for (size_t i = size; i < buf.size(); ++i)
            if (buf[i] != kGuardByte) return false;
        return true;
    }
    Bytes pixels() const { return Bytes(buf.begin(), buf.begin() + size); }
};

// Parse and decode into a fresh buffer; the frame is copied to a heap block
// of exactly its size so a sanitizer sees any read past its end.
int32_t decode(MjpegDecoder *d, const Bytes &frame, Output &out, int32_t *w = nullptr, int32_t *h = nullptr) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[frame.size() ? frame.size() : 1]);
    if (!frame.empty()) std::memcpy(exact.get(), frame.data(), frame.size());
    return MjpegDecodeToYuy2(d, exact.get(), int32_t(frame.size()), out.data(), int64_t(out.size), w, h);
}

// ---------------------------------------------------------------------------
// Huffman lookup tables against the decoding procedure of T.81 F.2.2.3
// (MINCODE / MAXCODE / VALPTR), over every 16-bit pattern.

struct Reference {
    int32_t maxcode[18];
    int32_t mincode[17];
    int valptr[17];
    const ix::jpeg::HuffmanSpec *codes;
    explicit Reference(const ix::jpeg::HuffmanSpec &s) : codes(&s) {
        int code = 0, k = 0;
        for (int l = 1; l <= 16; ++l) {
            if (s.counts[l - 1] == 0) {
                maxcode[l] = -1;
            } else {
                valptr[l] = k;
                mincode[l] = code;
                code += s.counts[l - 1];
                k += s.counts[l - 1];
                maxcode[l] = code - 1;
            }
            code <<= 1;
        }
    }
    // Length and symbol of the code at the top of `bits`, or length 0.
    std::pair<int, int> decode(uint16_t bits) const {
        int code = bits >> 15;
        for (int l = 1; l <= 16; ++l) {
            if (code <= maxcode[l]) return {l, codes->values[valptr[l] + code - mincode[l]]};
            if (l < 16) code = (code << 1) | ((bits >> (15 - l)) & 1);
        }
        return {0, 0};
    }
};

template <size_t N>
HuffEntry lookup(const std::array<HuffEntry, N> &t, uint32_t bits, int *levels) {
    const HuffEntry *e = &t[bits >> 28];
    int shift = 24;
    *levels = 1;
    while (e->next) {
        EXPECT_LT(size_t(e->next) + 15, N);
        e = &t[e->next + ((bits >> shift) & 15)];
        shift -= 4;
        ++*levels;
    }
    return *e;
}

template <size_t N>
void checkTable(const std::array<HuffEntry, N> &table, const ix::jpeg::HuffmanSpec &codes, bool ac,
                int maxLevels, int *invalidSeen) {
    Reference ref(codes);
    for (uint32_t p = 0; p < 65536; ++p) {
        int levels = 0;
        const HuffEntry e = lookup(table, p << 16, &levels);
        ASSERT_LE(levels, maxLevels);
        auto [len, sym] = ref.decode(uint16_t(p));
        if (len == 0) {
            ++*invalidSeen;
            continue; // checked by the caller
        }
        ASSERT_EQ(e.length, len) << std::hex << p;
        if (ac) {
            ASSERT_EQ(e.run, sym >> 4) << std::hex << p;
            ASSERT_EQ(e.size, sym & 15) << std::hex << p;
        } else {
            ASSERT_EQ(e.size, sym) << std::hex << p;
        }
    }
}

TEST(MjpegHuffman, TablesHaveTheirShapes) {
    EXPECT_EQ(kLumaDcLookup.size(), 32u);
    EXPECT_EQ(kChromaDcLookup.size(), 48u);
    EXPECT_EQ(kLumaAcLookup.size(), 272u);
    EXPECT_EQ(kChromaAcLookup.size(), 304u);
}

TEST(MjpegHuffman, EveryValidCodeDecodesAsInT81) {
    int invalid[4] = {};
    checkTable(kLumaDcLookup, ix::jpeg::kLumaDc, false, 2, &invalid[0]);
    checkTable(kChromaDcLookup, ix::jpeg::kChromaDc, false, 3, &invalid[1]);
    checkTable(kLumaAcLookup, ix::jpeg::kLumaAc, true, 4, &invalid[2]);
    checkTable(kChromaAcLookup, ix::jpeg::kChromaAc, true, 4, &invalid[3]);
    // The only non-codes: nine ones (luminance DC), eleven ones (chrominance
    // DC) and sixteen ones (AC): 2^7, 2^5 and 1 of the 65536 patterns.
    EXPECT_EQ(invalid[0], 128);
    EXPECT_EQ(invalid[1], 32);
    EXPECT_EQ(invalid[2], 1);
    EXPECT_EQ(invalid[3], 1);
}

TEST(MjpegHuffman, InvalidPatternsDecodeAsStated) {
    int levels;
    HuffEntry e = lookup(kLumaDcLookup, 0xFF800000u, &levels); // nine ones
    EXPECT_EQ(e.length, 9);
    EXPECT_EQ(e.size, 11);
    for (uint32_t bits : {0xFFE00000u, 0xFFF00000u, 0xFFFFFFFFu}) { // eleven ones and more
        e = lookup(kChromaDcLookup, bits, &levels);
        EXPECT_EQ(e.length, 11);
        EXPECT_EQ(e.size, 11);
    }
    for (uint32_t bits : {0xFFFF0000u, 0xFFFFFFFFu}) {
        e = lookup(kLumaAcLookup, bits, &levels);
        EXPECT_EQ(e.length + e.run + e.size, 0);
        e = lookup(kChromaAcLookup, bits, &levels);
        EXPECT_EQ(e.length + e.run + e.size, 0);
    }
}

// ---------------------------------------------------------------------------
// Inverse transform against a transcription of its arithmetic in 64-bit
// integers, wrapped to 32 bits after every step, without the DC shortcuts.

int32_t w32(int64_t v) { return int32_t(uint32_t(uint64_t(v))); }
int64_t t16(int64_t v) { return int16_t(uint16_t(uint64_t(v))); }
uint8_t refLimit(int32_t x) {
    int v = x & 1023;
    if (v >= 512) v -= 1024;
    return uint8_t(std::clamp(v + 128, 0, 255));
}

void refPass(const int32_t in[8], int32_t x[8]) {
    const int64_t z1 = w32(t16(w32(int64_t(in[2]) + in[6])) * 4433);
    const int32_t t2 = w32(z1 - t16(in[6]) * 15137), t3 = w32(z1 + t16(in[2]) * 6270);
    const int32_t t0 = w32((int64_t(in[0]) + in[4]) * 8192), t1 = w32((int64_t(in[0]) - in[4]) * 8192);
    const int32_t e0 = w32(int64_t(t0) + t3), e3 = w32(int64_t(t0) - t3), e1 = w32(int64_t(t1) + t2),
                  e2 = w32(int64_t(t1) - t2);
    const int64_t a = in[7], b = in[5], c = in[3], e = in[1];
    int32_t z3 = w32(a + c), z4 = w32(b + e);
    const int32_t z5 = w32(t16(w32(int64_t(z3) + z4)) * 9633);
    const int32_t y1 = w32(t16(w32(a + e)) * -7373), y2 = w32(t16(w32(b + c)) * -20995);
    z3 = w32(t16(z3) * -16069 + z5);
    z4 = w32(t16(z4) * -3196 + z5);
    const int32_t o0 = w32(t16(a) * 2446 + y1 + z3), o1 = w32(t16(b) * 16819 + y2 + z4),
                  o2 = w32(t16(c) * 25172 + y2 + z3), o3 = w32(t16(e) * 12299 + y1 + z4);
    x[0] = w32(int64_t(e0) + o3), x[7] = w32(int64_t(e0) - o3);
    x[1] = w32(int64_t(e1) + o2), x[6] = w32(int64_t(e1) - o2);
    x[2] = w32(int64_t(e2) + o1), x[5] = w32(int64_t(e2) - o1);
    x[3] = w32(int64_t(e3) + o0), x[4] = w32(int64_t(e3) - o0);
}

void refIdct(const int16_t coef[64], const int16_t quant[64], uint8_t out[64]) {
    int32_t work[64];
    for (int col = 0; col < 8; ++col) {
        int32_t d[8], x[8];
        for (int r = 0; r < 8; ++r) d[r] = int32_t(coef[r * 8 + col]) * quant[r * 8 + col];
        refPass(d, x);
        for (int r = 0; r < 8; ++r) work[r * 8 + col] = w32(int64_t(x[r]) + 1024) >> 11;
    }
    for (int row = 0; row < 8; ++row) {
        int32_t x[8];
        refPass(work + row * 8, x);
        for (int i = 0; i < 8; ++i) out[row * 8 + i] = refLimit(w32(int64_t(x[i]) + 131072) >> 18);
    }
}

TEST(MjpegInverseDct, MatchesItsArithmeticOnRandomAndExtremeBlocks) {
    std::mt19937 rng(7);
    // Ranges: what real frames hold, then anything 16 bits can hold.
    const int ranges[][2] = {{64, 16}, {1024, 64}, {32768, 256}};
    int blocks = 0;
    for (const auto &range : ranges)
        for (int n = 0; n < 4000; ++n) {
            int16_t coef[64] = {}, quant[64], slot[64];
            const int nonzero = int(rng() % 65);
            for (int i = 0; i < nonzero; ++i) coef[rng() % 64] = int16_t(int(rng() % (2 * range[0])) - range[0]);
            if (n % 4 == 0) std::fill(coef + 1, coef + 64, 0); // exercise the DC shortcuts
            if (n % 4 == 1) for (int i = 8; i < 64; ++i) coef[i] = 0; // first row only
            for (int i = 0; i < 64; ++i) quant[i] = int16_t(range[1] == 256 ? int(rng() % 65536) - 32768 : 1 + rng() % range[1]);
            std::memcpy(slot, coef, sizeof slot);
            uint8_t want[64];
            refIdct(coef, quant, want);
            MjpegInverseDct(slot, quant);
            ASSERT_EQ(0, std::memcmp(slot, want, 64)) << "block " << n << " range " << range[0];
            ++blocks;
        }
    EXPECT_EQ(blocks, 12000);
}

TEST(MjpegInverseDct, RangeLimitWrapsModulo1024) {
    // A flat block of DC value v (quant 1) decodes to limit((v * 4 + 16) >> 5).
    const struct {
        int16_t dc;
        uint8_t sample;
    } cases[] = {{0, 128}, {-1024, 0}, {1016, 255}, {-8, 127}, {8, 129}, {1032, 255}, {8 * 511, 255},
                 {8 * 512, 0}, {8 * 895, 0}, {8 * 896, 0}, {8 * 900, 4}, {-8 * 129, 0}, {-8 * 128, 0}};
    for (const auto &c : cases) {
        int16_t slot[64] = {c.dc}, quant[64];
        std::fill(quant, quant + 64, int16_t(1));
        MjpegInverseDct(slot, quant);
        const uint8_t *s = reinterpret_cast<const uint8_t *>(slot);
        for (int i = 0; i < 64; ++i) ASSERT_EQ(s[i], c.sample) << "dc " << c.dc;
    }
}

// ---------------------------------------------------------------------------
// Header parsing.

TEST(MjpegParse, CameraFrameReportsItsGeometry) {
    auto d = makeDecoder();
    const Bytes f = encode(640, 480, 0, 75);
    int32_t w = 0, h = 0;
    ASSERT_EQ(MjpegParseHeaders(d.get(), f.data(), int32_t(f.size()), &w, &h), 0);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    EXPECT_EQ(d->outputStride, 1280);
    EXPECT_EQ(d->mcusPerRow, 40);
    EXPECT_EQ(d->blocksPerMcu, 4);
    EXPECT_EQ(d->rowBufferCapacity, 640 * 32);
    EXPECT_EQ(d->entropyStart, int32_t(ix::test::entropyOffset(f)));
}

TEST(MjpegParse, MarkersBeforeTheScan) {
    const Bytes f = encode(64, 16, 0, 75);
    const Bytes four = {1, 2, 3, 4};
    const struct {
        int marker;
        int32_t result;
    } cases[] = {
        {0xFFE0, 0}, {0xFFE1, 0}, {0xFFFE, 0},                                   // skipped
        {0xFFC4, 1}, {0xFFDD, 1}, {0xFFE2, 1}, {0xFFEF, 1}, {0xFFD9, 1},         // refused
        {0xFFC1, 1}, {0xFFC2, 1}, {0xFFCC, 1}, {0xFFD0, 1}, {0xFFFF, 1}, {0x1234, 1}};
    for (const auto &c : cases) {
        auto d = makeDecoder();
        const Bytes g = ix::test::withSegmentBefore(f, c.marker, four, 0xFFC0);
        int32_t w = 0, h = 0;
        EXPECT_EQ(MjpegParseHeaders(d.get(), g.data(), int32_t(g.size()), &w, &h), c.result)
            << std::hex << c.marker;
    }
}

TEST(MjpegParse, CompleteJpegFileIsRefused) {
    // A frame with the Huffman tables put back, as a saved JPEG file has them.
    const Bytes f = encode(64, 16, 0, 75);
    Bytes dht(1 + 16 + 12, 0x00);
    std::copy(ix::jpeg::kLumaDc.counts.begin(), ix::jpeg::kLumaDc.counts.end(), dht.begin() + 1);
    std::copy(ix::jpeg::kLumaDcValues, ix::jpeg::kLumaDcValues + 12, dht.begin() + 17);
    const Bytes g = ix::test::withSegmentBefore(f, 0xFFC4, dht, 0xFFDB);
    auto d = makeDecoder();
    Output out(64 * 16 * 2, 0);
    EXPECT_EQ(decode(d.get(), g, out), 1);
}

TEST(MjpegParse, OtherHeaderFormsAreRefused) {
    const Bytes f = encode(64, 16, 0, 75);
    const auto segs = ix::test::segmentsOf(f);
    const size_t sof = ix::test::findSegment(segs, 0xFFC0).offset;
    const size_t sos = ix::test::findSegment(segs, 0xFFDA).offset;
    const struct {
        const char *what;
        size_t at;
        uint8_t value;
    } cases[] = {
        {"precision 12", sof + 4, 12},        {"one component", sof + 9, 1},
        {"height 0", sof + 5, 0},             {"width 0", sof + 8, 0},
        {"Y sampled 2x2", sof + 11, 0x22},     {"Y sampled 1x1", sof + 11, 0x11},
        {"Cb sampled 2x1", sof + 14, 0x21},    {"quant table 4", sof + 12, 4},
        {"scan of one component", sos + 4, 1}, {"scan component 4", sos + 5, 4},
        {"Y on tables 1", sos + 6, 0x11},      {"Cb on tables 0", sos + 8, 0x00},
        {"Cr on AC table 0", sos + 10, 0x10},  {"frame length 15", sof + 3, 15},
        {"scan length 10", sos + 3, 10},
    };
    for (const auto &c : cases) {
        Bytes g = f;
        g[c.at] = c.value;
        if (std::string(c.what) == "width 0") g[c.at - 1] = 0;
        if (std::string(c.what) == "height 0") g[c.at + 1] = 0;
        auto d = makeDecoder();
        int32_t w, h;
        EXPECT_EQ(MjpegParseHeaders(d.get(), g.data(), int32_t(g.size()), &w, &h), 1) << c.what;
        // Nothing is decoded on the strength of a refused header.
        Output out(64 * 16 * 2, 0x33);
        EXPECT_EQ(MjpegDecodeFrame(d.get(), out.data()), 1) << c.what;
        EXPECT_EQ(out.pixels(), Bytes(64 * 16 * 2, 0x33)) << c.what;
        // A refused frame header stores no geometry a later frame could decode with.
        if (c.at < sos) {
            EXPECT_EQ(d->width * d->height, 0) << c.what;
        }
    }
}

TEST(MjpegParse, TruncationAnywhereInTheHeadersFails) {
    const Bytes f = encode(64, 16, 0, 75);
    const size_t entropy = ix::test::entropyOffset(f);
    auto d = makeDecoder();
    for (size_t n = 0; n < entropy; ++n) {
        int32_t w, h;
        std::unique_ptr<uint8_t[]> exact(new uint8_t[n + 1]);
        std::copy(f.begin(), f.begin() + long(n), exact.get());
        ASSERT_EQ(MjpegParseHeaders(d.get(), exact.get(), int32_t(n), &w, &h), 1) << n;
    }
    // With the whole scan header present the frame parses, even with no coded data.
    Bytes g(f.begin(), f.begin() + entropy);
    int32_t w, h;
    EXPECT_EQ(MjpegParseHeaders(d.get(), g.data(), int32_t(g.size()), &w, &h), 0);
}

TEST(MjpegParse, SegmentLengthsThatLie) {
    const Bytes f = encode(64, 16, 0, 75);
    const auto segs = ix::test::segmentsOf(f);
    for (const auto &s : segs) {
        for (int len : {0, 1, 0xFFFF, int(f.size())}) {
            Bytes g = f;
            g[s.offset + 2] = uint8_t(len >> 8);
            g[s.offset + 3] = uint8_t(len);
            auto d = makeDecoder();
            int32_t w, h;
            EXPECT_EQ(MjpegParseHeaders(d.get(), g.data(), int32_t(g.size()), &w, &h), 1)
                << std::hex << s.marker << " length " << std::dec << len;
        }
    }
    // A quantisation table that runs past the end of its segment.
    const Segment dqt = ix::test::findSegment(segs, 0xFFDB);
    Bytes g = f;
    g[dqt.offset + 3] = uint8_t(g[dqt.offset + 3] - 1);
    g.erase(g.begin() + long(dqt.offset + dqt.size - 1));
    auto d = makeDecoder();
    int32_t w, h;
    EXPECT_EQ(MjpegParseHeaders(d.get(), g.data(), int32_t(g.size()), &w, &h), 1);
}

TEST(MjpegParse, StartAndMissingPieces) {
    const Bytes f = encode(64, 16, 0, 75);
    auto d = makeDecoder();
    int32_t w, h;
    Bytes g = f;
    g[1] = 0xD9;
    EXPECT_EQ(MjpegParseHeaders(d.get(), g.data(), int32_t(g.size()), &w, &h), 1);
    EXPECT_EQ(MjpegParseHeaders(nullptr, f.data(), int32_t(f.size()), &w, &h), 1);
    EXPECT_EQ(MjpegParseHeaders(d.get(), nullptr, 100, &w, &h), 1);
    g = ix::test::withoutSegment(f, 0xFFDA);
    g.resize(ix::test::findSegment(ix::test::segmentsOf(g), 0xFFC0).offset + 19);
    EXPECT_EQ(MjpegParseHeaders(d.get(), g.data(), int32_t(g.size()), &w, &h), 1) << "no scan";
    g = ix::test::withoutSegment(f, 0xFFC0);
    d = makeDecoder();
    EXPECT_EQ(MjpegParseHeaders(d.get(), g.data(), int32_t(g.size()), &w, &h), 1) << "never a frame header";
    EXPECT_EQ(MjpegDecodeFrame(d.get(), Output(2048, 0).data()), 1) << "decode after a failed parse";
    EXPECT_EQ(MjpegDestroyDecoder(nullptr), 1);
}

TEST(MjpegParse, SegmentsAfterTheScanAreNotExamined) {
    const Bytes f = encode(64, 16, 0, 75);
    Bytes g = f;
    const Bytes dht = {0xFF, 0xC4, 0x00, 0x04, 0x00, 0x00};
    g.insert(g.begin() + long(ix::test::entropyOffset(f)), dht.begin(), dht.end());
    auto d = makeDecoder();
    int32_t w, h;
    EXPECT_EQ(MjpegParseHeaders(d.get(), g.data(), int32_t(g.size()), &w, &h), 0);
}

// ---------------------------------------------------------------------------
// Decoding.

TEST(MjpegDecode, FullFrameFillsEveryByteAndNoMore) {
    const Bytes f = encode(640, 480, 0, 75);
    auto d = makeDecoder();
    Output zeros(614400, 0x00), ones(614400, 0xFF);
    int32_t w, h;
    ASSERT_EQ(decode(d.get(), f, zeros, &w, &h), 0);
    ASSERT_EQ(decode(d.get(), f, ones), 0);
    EXPECT_EQ(w * h * 2, 614400);
    EXPECT_TRUE(zeros.pixels() == ones.pixels()) << "some output byte was not written";
    EXPECT_TRUE(zeros.guardIntact());
    EXPECT_TRUE(ones.guardIntact());
}

TEST(MjpegDecode, PartialMcusLeaveTheirBytesUntouched) {
    // 632 x 484: 39 whole MCUs per row (624 columns) and 60 whole MCU rows.
    const int W = 632, H = 484;
    const Bytes f = encode(W, H, 0, 75);
    auto d = makeDecoder();
    Output a(size_t(W) * H * 2, 0x00), b(size_t(W) * H * 2, 0xFF);
    ASSERT_EQ(decode(d.get(), f, a), 0);
    ASSERT_EQ(decode(d.get(), f, b), 0);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W * 2; ++x) {
            const size_t i = size_t(y) * W * 2 + x;
            const bool decoded = y < 480 && x < 624 * 2;
            if (decoded) {
                ASSERT_EQ(a.buf[i], b.buf[i]) << x << "," << y;
            } else {
                ASSERT_TRUE(a.buf[i] == 0x00 && b.buf[i] == 0xFF) << x << "," << y;
            }
        }
    EXPECT_TRUE(a.guardIntact());
    EXPECT_TRUE(b.guardIntact());
}

double psnr(const Bytes &a, const Bytes &b) {
    double se = 0;
    for (size_t i = 0; i < a.size(); ++i) se += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    return se == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * double(a.size()) / se);
}

TEST(MjpegDecode, EncoderRoundTripIsFaithful) {
    // Quality bounds: our encoder and decoder together reproduce the picture.
    const struct {
        int kind, quality;
        double minPsnr;
    } cases[] = {{0, 95, 40}, {0, 75, 34}, {3, 50, 60}, {4, 90, 28}, {0, 100, 45}};
    for (const auto &c : cases) {
        const Bytes pic = testPicture(320, 240, c.kind);
        const Bytes f = ix::sim::EncodeMjpegFrame(pic.data(), 320, 240, c.quality);
        auto d = makeDecoder();
        Output out(pic.size(), 0);
        ASSERT_EQ(decode(d.get(), f, out), 0);
        EXPECT_GT(psnr(pic, out.pixels()), c.minPsnr) << "kind " << c.kind << " q " << c.quality;
    }
}

TEST(MjpegDecode, DcOnlyBlockValue) {
    // A flat picture coded at quality 100 (every quantiser 1) holds DC = 8 x
    // (Y - 128) and no AC; with the first quantiser patched to q0 each block
    // decodes to limit((dc x q0 x 4 + 16) >> 5).
    for (int luma : {0, 40, 128, 200, 255})
        for (int q0 : {1, 2, 3, 7, 16, 100, 255}) {
            Bytes pic = testPicture(32, 8, 3);
            for (size_t i = 0; i < pic.size(); i += 2) pic[i] = uint8_t(luma);
            Bytes f = ix::sim::EncodeMjpegFrame(pic.data(), 32, 8, 100);
            const Segment dqt = ix::test::findSegment(ix::test::segmentsOf(f), 0xFFDB);
            f[dqt.offset + 5] = uint8_t(q0);
            const int dc = std::min(8 * (luma - 128), 1023); // the encoder's DC range is -1024..1023
            int v = ((dc * q0 * 4 + 16) >> 5) & 1023;
            if (v >= 512) v -= 1024;
            const uint8_t want = uint8_t(std::clamp(v + 128, 0, 255));
            auto d = makeDecoder();
            Output out(32 * 8 * 2, 0);
            ASSERT_EQ(decode(d.get(), f, out), 0);
            for (size_t i = 0; i < out.size; i += 2) ASSERT_EQ(out.buf[i], want) << luma << " q0 " << q0;
        }
}

TEST(MjpegDecode, RestartMarkersAreSkippedWithPredictorsCarriedOn) {
    const Bytes f = encode(160, 64, 0, 80);
    auto d = makeDecoder();
    Output plain(160 * 64 * 2, 0);
    ASSERT_EQ(decode(d.get(), f, plain), 0);
    const size_t start = ix::test::entropyOffset(f);
    Bytes g(f.begin(), f.begin() + long(start));
    int next = 0;
    for (size_t i = start; i < f.size() - 2; ++i) {
        g.push_back(f[i]);
        // Between coded bytes only, never inside an FF 00 pair.
        if (f[i] != 0xFF && (i - start) % 37 == 5) {
            g.push_back(0xFF);
            g.push_back(uint8_t(0xD0 + (next++ & 7)));
        }
    }
    g.insert(g.end(), f.end() - 2, f.end());
    ASSERT_GT(next, 8);
    Output withRst(160 * 64 * 2, 0);
    ASSERT_EQ(decode(d.get(), g, withRst), 0);
    EXPECT_TRUE(plain.pixels() == withRst.pixels());
}

TEST(MjpegDecode, FrameWithoutTablesUsesThePreviousOnes) {
    const Bytes pic = testPicture(64, 32, 0);
    const Bytes high = ix::sim::EncodeMjpegFrame(pic.data(), 64, 32, 95);
    const Bytes low = ix::sim::EncodeMjpegFrame(pic.data(), 64, 32, 30);
    const Bytes lowBare = ix::test::withoutSegment(low, 0xFFDB);

    auto d = makeDecoder();
    Output ref(64 * 32 * 2, 0), bare(64 * 32 * 2, 0);
    ASSERT_EQ(decode(d.get(), low, ref), 0);
    ASSERT_EQ(decode(d.get(), lowBare, bare), 0);
    EXPECT_TRUE(ref.pixels() == bare.pixels()) << "second frame must reuse the first frame's tables";

    // After a frame with other tables, the bare frame decodes with those instead.
    Output other(64 * 32 * 2, 0);
    ASSERT_EQ(decode(d.get(), high, other), 0);
    ASSERT_EQ(decode(d.get(), lowBare, bare), 0);
    EXPECT_FALSE(ref.pixels() == bare.pixels());

    // A fresh decoder's tables are all zero: every sample is mid-grey.
    auto fresh = makeDecoder();
    ASSERT_EQ(decode(fresh.get(), lowBare, bare), 0);
    for (uint8_t b : bare.pixels()) ASSERT_EQ(b, 128);
}

TEST(MjpegDecode, FrameWithoutFrameHeaderUsesThePreviousGeometry) {
    const Bytes f = encode(96, 24, 0, 75);
    auto d = makeDecoder();
    Output a(96 * 24 * 2, 0), b(96 * 24 * 2, 0);
    ASSERT_EQ(decode(d.get(), f, a), 0);
    int32_t w = 0, h = 0;
    ASSERT_EQ(decode(d.get(), ix::test::withoutSegment(f, 0xFFC0), b, &w, &h), 0);
    EXPECT_EQ(w, 96);
    EXPECT_EQ(h, 24);
    EXPECT_TRUE(a.pixels() == b.pixels());
}

TEST(MjpegDecode, RowBufferOnlyGrowsAndContextSurvivesFailures) {
    auto d = makeDecoder();
    const Bytes wide = encode(1280, 16, 0, 75), narrow = encode(320, 16, 0, 75);
    Output o(1280 * 16 * 2, 0);
    ASSERT_EQ(decode(d.get(), narrow, o), 0);
    EXPECT_EQ(d->rowBufferCapacity, 320 * 32);
    ASSERT_EQ(decode(d.get(), wide, o), 0);
    EXPECT_EQ(d->rowBufferCapacity, 1280 * 32);
    const int16_t *buffer = d->rowBuffer;
    ASSERT_EQ(decode(d.get(), narrow, o), 0);
    EXPECT_EQ(d->rowBufferCapacity, 1280 * 32);
    EXPECT_EQ(d->rowBuffer, buffer);

    // A refused frame, then a good one: the good one decodes as on a fresh decoder.
    Bytes bad = narrow;
    bad[1] = 0;
    Output first(320 * 16 * 2, 0), second(320 * 16 * 2, 0);
    EXPECT_EQ(decode(d.get(), bad, first), 1);
    ASSERT_EQ(decode(d.get(), narrow, first), 0);
    auto fresh = makeDecoder();
    ASSERT_EQ(decode(fresh.get(), narrow, second), 0);
    EXPECT_TRUE(first.pixels() == second.pixels());
}

TEST(MjpegDecode, CapacityAndSizeLimits) {
    const Bytes f = encode(64, 16, 0, 75);
    auto d = makeDecoder();
    Output exact(64 * 16 * 2, 0x11), shortBy1(64 * 16 * 2 - 1, 0x11);
    int32_t w = 0, h = 0;
    EXPECT_EQ(decode(d.get(), f, shortBy1, &w, &h), 8);
    EXPECT_EQ(w, 64);
    for (size_t i = 0; i < shortBy1.buf.size() - kGuard; ++i) ASSERT_EQ(shortBy1.buf[i], 0x11);
    EXPECT_EQ(decode(d.get(), f, exact), 0);

    // Headers declaring more than the caller's buffers were sized for.
    const uint8_t *p = f.data();
    const int32_t n = int32_t(f.size());
    EXPECT_EQ(MjpegDecodeToYuy2(d.get(), p, n, exact.data(), int64_t(exact.size), &w, &h, 63, 16), 1);
    EXPECT_EQ(MjpegDecodeToYuy2(d.get(), p, n, exact.data(), int64_t(exact.size), &w, &h, 64, 15), 1);
    EXPECT_EQ(MjpegDecodeToYuy2(d.get(), p, n, exact.data(), int64_t(exact.size), &w, &h, 64, 16), 0);
    EXPECT_TRUE(exact.guardIntact());

    // The largest size a frame header can state: the capacity check must not overflow.
    Bytes big = f;
    const size_t sof = ix::test::findSegment(ix::test::segmentsOf(f), 0xFFC0).offset;
    for (int i = 5; i < 9; ++i) big[sof + i] = 0xFF;
    EXPECT_EQ(decode(d.get(), big, exact, &w, &h), 8);
    EXPECT_EQ(w, 65535);
    EXPECT_EQ(h, 65535);
}

TEST(MjpegDecode, CorruptAndTruncatedDataStillDecodeWithinBounds) {
    const Bytes f = encode(128, 32, 2, 90);
    const size_t start = ix::test::entropyOffset(f);
    auto d = makeDecoder();
    const struct {
        const char *what;
        Bytes frame;
    } cases[] = {
        {"no coded data", Bytes(f.begin(), f.begin() + long(start))},
        {"half the data", Bytes(f.begin(), f.begin() + long((start + f.size()) / 2))},
        {"ends in FF", [&] { Bytes g(f.begin(), f.begin() + long(start + 10)); g.push_back(0xFF); return g; }()},
        {"all ones", [&] { Bytes g(f.begin(), f.begin() + long(start)); g.resize(g.size() + 4000, 0xFF); return g; }()},
        {"ones and stuffing", [&] { Bytes g(f.begin(), f.begin() + long(start));
                                   for (int i = 0; i < 3000; ++i) { g.push_back(0xFF); g.push_back(0); } return g; }()},
        {"zeros", [&] { Bytes g(f.begin(), f.begin() + long(start)); g.resize(g.size() + 100, 0); return g; }()},
    };
    for (const auto &c : cases) {
        Output out(128 * 32 * 2, 0x5A);
        EXPECT_EQ(decode(d.get(), c.frame, out), 0) << c.what;
        EXPECT_TRUE(out.guardIntact()) << c.what;
    }
    // Past the end of the data the decoder reads zero bits: no data at all
    // and a few zero bytes decode alike.
    Output none(128 * 32 * 2, 0), zeros(128 * 32 * 2, 0xFF);
    ASSERT_EQ(decode(d.get(), cases[0].frame, none), 0);
    ASSERT_EQ(decode(d.get(), cases[5].frame, zeros), 0);
    EXPECT_EQ(none.pixels(), zeros.pixels());
}

// ---------------------------------------------------------------------------
// Decoding into the caller's pixel formats.

TEST(MjpegDecompress, FormatCodesAndDestinationSize) {
    const Bytes f = encode(64, 16, 0, 75);
    auto d = makeDecoder();
    const int32_t n = int32_t(f.size());
    for (int32_t format : {0, 3, 5, 8, 11, 19, 20, 22, -1}) {
        Output out(64 * 16 * 4, 0x77);
        EXPECT_EQ(MjpegDecompressToFormat(d.get(), out.data(), int32_t(out.size), f.data(), n, format), 4) << format;
        EXPECT_EQ(MjpegDecompressToFormat(nullptr, out.data(), int32_t(out.size), f.data(), n, format), 4) << format;
        EXPECT_EQ(out.pixels(), Bytes(out.size, 0x77));
    }
    const struct {
        int32_t format, bpp;
    } formats[] = {{1, 4}, {2, 3}, {4, 2}, {6, 1}, {7, 2}, {21, 2}};
    for (const auto &c : formats) {
        EXPECT_EQ(MjpegFormatBytesPerPixel(c.format), c.bpp);
        Output shortBy1(size_t(64 * 16 * c.bpp - 1), 0x77), exact(size_t(64 * 16 * c.bpp), 0x77);
        EXPECT_EQ(MjpegDecompressToFormat(d.get(), shortBy1.data(), int32_t(shortBy1.size), f.data(), n, c.format), 8);
        EXPECT_EQ(shortBy1.pixels(), Bytes(shortBy1.size, 0x77)) << "nothing written for a short destination";
        EXPECT_EQ(MjpegDecompressToFormat(d.get(), exact.data(), int32_t(exact.size), f.data(), n, c.format), 0);
        EXPECT_TRUE(exact.guardIntact());
        EXPECT_EQ(MjpegDecompressToFormat(nullptr, exact.data(), int32_t(exact.size), f.data(), n, c.format), 1);
        Bytes bad = f;
        bad[0] = 0;
        EXPECT_EQ(MjpegDecompressToFormat(d.get(), exact.data(), int32_t(exact.size), bad.data(), n, c.format), 1);
    }
}

TEST(MjpegDecompress, RowOrderAndConversions) {
    const int W = 96, H = 24;
    const Bytes f = encode(W, H, 4, 90);
    auto d = makeDecoder();
    const int32_t n = int32_t(f.size());
    Output yuy2(size_t(W) * H * 2, 0), alt(size_t(W) * H * 2, 0);
    ASSERT_EQ(MjpegDecompressToFormat(d.get(), yuy2.data(), int32_t(yuy2.size), f.data(), n, 7), 0);
    ASSERT_EQ(MjpegDecompressToFormat(d.get(), alt.data(), int32_t(alt.size), f.data(), n, 21), 0);
    EXPECT_EQ(yuy2.pixels(), alt.pixels());
    Output direct(size_t(W) * H * 2, 0);
    ASSERT_EQ(decode(d.get(), f, direct), 0);
    EXPECT_EQ(yuy2.pixels(), direct.pixels()) << "format 7 is the decoder's own top-down YUY2";

    // Grey: stored row H - 1 - y holds the Y bytes of picture row y.
    Output grey(size_t(W) * H, 0);
    ASSERT_EQ(MjpegDecompressToFormat(d.get(), grey.data(), int32_t(grey.size), f.data(), n, 6), 0);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            ASSERT_EQ(grey.buf[size_t(H - 1 - y) * W + x], yuy2.buf[(size_t(y) * W + x) * 2]) << x << "," << y;
    // The colour formats are the converters applied to that YUY2 image.
    for (int32_t format : {1, 2, 4}) {
        const size_t bytes = size_t(W) * H * size_t(MjpegFormatBytesPerPixel(format));
        Output got(bytes, 0), want(bytes, 0);
        ASSERT_EQ(MjpegDecompressToFormat(d.get(), got.data(), int32_t(got.size), f.data(), n, format), 0);
        converterFor(format)(want.data(), W, H, yuy2.data());
        EXPECT_EQ(got.pixels(), want.pixels()) << format;
    }
}

TEST(MjpegDecompress, UndecodedMarginIsBlackInConvertedFormats) {
    const int W = 632, H = 484; // 624 x 480 decoded
    const Bytes f = encode(W, H, 0, 75);
    auto d = makeDecoder();
    Output grey(size_t(W) * H, 0x77), bgr(size_t(W) * H * 3, 0x77);
    ASSERT_EQ(MjpegDecompressToFormat(d.get(), grey.data(), int32_t(grey.size), f.data(), int32_t(f.size()), 6), 0);
    ASSERT_EQ(MjpegDecompressToFormat(d.get(), bgr.data(), int32_t(bgr.size), f.data(), int32_t(f.size()), 2), 0);
    for (int row = 0; row < H; ++row)       // stored rows, bottom-up
        for (int x = 0; x < W; ++x) {
            const bool margin = row < H - 480 || x >= 624;
            if (!margin) continue;
            ASSERT_EQ(grey.buf[size_t(row) * W + x], 0) << x << "," << row;
            for (int k = 0; k < 3; ++k) ASSERT_EQ(bgr.buf[(size_t(row) * W + x) * 3 + k], 0) << x << "," << row;
        }
    EXPECT_TRUE(grey.guardIntact());
    EXPECT_TRUE(bgr.guardIntact());
}

// ---------------------------------------------------------------------------
// The encoder's frame layout.

TEST(MjpegEncoder, FrameHasTheCameraLayout) {
    for (int q : {1, 50, 100}) {
        const Bytes f = encode(1280, 360, 0, q);
        ASSERT_GT(f.size(), 200u);
        EXPECT_EQ(f[0], 0xFF);
        EXPECT_EQ(f[1], 0xD8);
        const auto segs = ix::test::segmentsOf(f);
        ASSERT_EQ(segs.size(), 5u);
        const int markers[] = {0xFFE0, 0xFFFE, 0xFFDB, 0xFFC0, 0xFFDA};
        const size_t offsets[] = {2, 20, 76};
        for (int i = 0; i < 5; ++i) EXPECT_EQ(segs[i].marker, markers[i]);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(segs[i].offset, offsets[i]);
        EXPECT_EQ(segs[0].size, 18u);
        EXPECT_EQ(segs[1].size, 56u);
        EXPECT_EQ(0, std::memcmp(&f[6], "JFIF\0\x01\x01", 7));
        const Segment &sof = segs[3];
        const uint8_t wantSof[] = {0xFF, 0xC0, 0, 17, 8, 0x01, 0x68, 0x05, 0x00, 3, 1, 0x21, 0, 2, 0x11, 1, 3, 0x11, 1};
        EXPECT_EQ(0, std::memcmp(&f[sof.offset], wantSof, sizeof wantSof));
        const uint8_t wantSos[] = {0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0};
        EXPECT_EQ(0, std::memcmp(&f[segs[4].offset], wantSos, sizeof wantSos));
        EXPECT_EQ(f[f.size() - 2], 0xFF);
        EXPECT_EQ(f[f.size() - 1], 0xD9);
        // No marker inside the coded data other than the final end of image.
        for (size_t i = ix::test::entropyOffset(f); i + 2 < f.size(); ++i)
            if (f[i] == 0xFF) {
                ASSERT_EQ(f[i + 1], 0x00) << i;
            }
    }
    // Higher quality, larger frame; unusable sizes and a too-small buffer give 0.
    EXPECT_LT(encode(320, 240, 0, 30).size(), encode(320, 240, 0, 90).size());
    const Bytes pic = testPicture(64, 16, 0);
    uint8_t small[300];
    EXPECT_EQ(ix::sim::EncodeMjpegFrame(pic.data(), 64, 16, 75, small, sizeof small), 0u);
    EXPECT_EQ(ix::sim::EncodeMjpegFrame(pic.data(), 63, 16, 75, small, sizeof small), 0u);
    EXPECT_EQ(ix::sim::EncodeMjpegFrame(pic.data(), 64, 0, 75, small, sizeof small), 0u);
    EXPECT_TRUE(ix::sim::EncodeMjpegFrame(pic.data(), 0, 16, 75).empty());
}

} // namespace
