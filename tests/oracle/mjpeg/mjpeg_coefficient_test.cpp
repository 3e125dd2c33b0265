// Frames written by libjpeg from coefficients we choose, so that every
// Huffman symbol (every run, every size up to 10 bits, the sixteen-zero run,
// end of block) and extreme coefficient values reach our decoder.
//
// Our inverse transform cuts each multiplicand to 16 bits; libjpeg-turbo's C
// code does not. The two can therefore differ only in blocks where a
// multiplicand or a first-pass result leaves the 16-bit range, which ordinary
// images never reach. libjpeg-turbo's vector code differs from its own C code
// in one more way: it saturates samples that the transform puts outside
// 0..255, where the C code (and ours) wraps them modulo 1024 first.
//
// So, against libjpeg-turbo as it runs by default, every differing block has
// a value outside 16 bits or a sample outside the range; with its vector code
// switched off (JSIMD_FORCENONE=1, a second run of this program), every
// differing block has a value outside 16 bits, and all others are identical.
#include "library/codec/mjpeg_decoder.h"
#include "tests/unit/mjpeg/frame_tools.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <turbojpeg.h>

namespace {

using ix::test::Bytes;
using ix::test::Segment;

struct Blocks {
    int w, h;
    int16_t quant[2][64];                   // natural order
    std::vector<std::array<int16_t, 64>> c[3]; // per component, row-major blocks, natural order
    int blocksWide(int comp) const { return comp == 0 ? w / 8 : w / 16; }
};

Bytes writeWithLibjpeg(const Blocks &b) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char *buf = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buf, &size);
    c.image_width = JDIMENSION(b.w);
    c.image_height = JDIMENSION(b.h);
    c.input_components = 3;
    c.in_color_space = JCS_YCbCr;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, JCS_YCbCr);
    c.optimize_coding = FALSE;
    c.comp_info[0].h_samp_factor = 2;
    c.comp_info[0].v_samp_factor = 1;
    for (int i = 0; i < 3; ++i) c.comp_info[i].quant_tbl_no = i == 0 ? 0 : 1;
    for (int t = 0; t < 2; ++t) {
        c.quant_tbl_ptrs[t] = jpeg_alloc_quant_table(reinterpret_cast<j_common_ptr>(&c));
        for (int k = 0; k < 64; ++k) c.quant_tbl_ptrs[t]->quantval[k] = UINT16(b.quant[t][k]);
    }
    jvirt_barray_ptr arrays[3];
    for (int i = 0; i < 3; ++i)
        arrays[i] = c.mem->request_virt_barray(reinterpret_cast<j_common_ptr>(&c), JPOOL_IMAGE, TRUE,
                                               JDIMENSION(b.blocksWide(i)), JDIMENSION(b.h / 8), 1);
    jpeg_write_coefficients(&c, arrays);
    for (int i = 0; i < 3; ++i)
        for (int row = 0; row < b.h / 8; ++row) {
            JBLOCKARRAY rows = c.mem->access_virt_barray(reinterpret_cast<j_common_ptr>(&c), arrays[i],
                                                         JDIMENSION(row), 1, TRUE);
            for (int col = 0; col < b.blocksWide(i); ++col)
                for (int k = 0; k < 64; ++k) rows[0][col][k] = b.c[i][size_t(row) * b.blocksWide(i) + col][k];
        }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes out(buf, buf + size);
    free(buf);
    return out;
}

struct Flags {
    bool wide = false;    // a multiplicand or first-pass result outside 16 bits
    bool clipped = false; // a sample outside -128..127 before the range limit
};

// What the block's transform meets, done the way our decoder does it.
Flags blockFlags(const int16_t coef[64], const int16_t quant[64]) {
    auto out16 = [](int64_t v) { return v < -32768 || v > 32767; };
    bool flag = false, clipped = false;
    auto pass = [&](const int64_t d[8], int64_t x[8]) {
        const int64_t mults[] = {d[2] + d[6], d[6], d[2], d[7] + d[3] + d[5] + d[1], d[7] + d[1], d[5] + d[3],
                                 d[7] + d[3], d[5] + d[1], d[7], d[5], d[3], d[1]};
        for (int64_t m : mults) flag |= out16(m);
        // Once nothing overflows, 64-bit arithmetic gives our decoder's values.
        const int64_t z1 = (d[2] + d[6]) * 4433, t2 = z1 - d[6] * 15137, t3 = z1 + d[2] * 6270;
        const int64_t t0 = (d[0] + d[4]) * 8192, t1 = (d[0] - d[4]) * 8192;
        const int64_t z5 = (d[7] + d[3] + d[5] + d[1]) * 9633, y1 = (d[7] + d[1]) * -7373,
                      y2 = (d[5] + d[3]) * -20995;
        const int64_t z3 = (d[7] + d[3]) * -16069 + z5, z4 = (d[5] + d[1]) * -3196 + z5;
        const int64_t o0 = d[7] * 2446 + y1 + z3, o1 = d[5] * 16819 + y2 + z4, o2 = d[3] * 25172 + y2 + z3,
                      o3 = d[1] * 12299 + y1 + z4;
        x[0] = t0 + t3 + o3, x[7] = t0 + t3 - o3, x[1] = t1 + t2 + o2, x[6] = t1 + t2 - o2;
        x[2] = t1 - t2 + o1, x[5] = t1 - t2 - o1, x[3] = t0 - t3 + o0, x[4] = t0 - t3 - o0;
    };
    int64_t work[64];
    for (int col = 0; col < 8; ++col) {
        int64_t d[8], x[8];
        for (int r = 0; r < 8; ++r) d[r] = int64_t(coef[r * 8 + col]) * quant[r * 8 + col];
        pass(d, x);
        for (int r = 0; r < 8; ++r) {
            work[r * 8 + col] = (x[r] + 1024) >> 11;
            flag |= out16(work[r * 8 + col]);
        }
    }
    for (int row = 0; row < 8; ++row) {
        int64_t x[8];
        pass(work + row * 8, x);
        for (int i = 0; i < 8; ++i) {
            const int64_t v = (x[i] + 131072) >> 18;
            clipped |= v < -128 || v > 127;
        }
    }
    return {flag, clipped};
}

// Random coefficients: a few per block, sizes 1..10 spread evenly, runs of
// every length (including past sixteen zeros); DC a random walk in range.
Blocks randomBlocks(int w, int h, uint32_t seed, int maxQuant, int maxPerBlock, int maxDc) {
    std::mt19937 rng(seed);
    Blocks b{w, h, {}, {}};
    for (auto &t : b.quant)
        for (auto &q : t) q = int16_t(1 + rng() % unsigned(maxQuant));
    for (int i = 0; i < 3; ++i) {
        b.c[i].resize(size_t(b.blocksWide(i)) * (h / 8));
        int dc = 0;
        for (auto &blk : b.c[i]) {
            blk.fill(0);
            dc = std::clamp(dc + int(rng() % 401) - 200, -maxDc, maxDc);
            blk[0] = int16_t(dc);
            const int n = int(rng() % unsigned(maxPerBlock + 1));
            for (int k = 0; k < n; ++k) {
                const int size = 1 + int(rng() % 10);
                const int mag = (1 << (size - 1)) + int(rng() % unsigned(1 << (size - 1)));
                blk[1 + rng() % 63] = int16_t(rng() & 1 ? mag : -mag);
            }
        }
    }
    return b;
}

bool vectorCodeOff() { return std::getenv("JSIMD_FORCENONE") && std::getenv("JSIMD_FORCENONE")[0] == '1'; }

struct Outcome {
    int blocks = 0, flagged = 0, differing = 0, differingUnflagged = 0;
    void add(const Outcome &o) {
        blocks += o.blocks;
        flagged += o.flagged;
        differing += o.differing;
        differingUnflagged += o.differingUnflagged;
    }
};

Outcome compare(const Blocks &b) {
    const Bytes jpeg = writeWithLibjpeg(b);
    // libjpeg-turbo's raw decode.
    tjhandle tj = tjInitDecompress();
    Bytes ty(size_t(b.w) * b.h), tcb(size_t(b.w / 2) * b.h), tcr(size_t(b.w / 2) * b.h);
    unsigned char *planes[3] = {ty.data(), tcb.data(), tcr.data()};
    int strides[3] = {b.w, b.w / 2, b.w / 2};
    EXPECT_EQ(tjDecompressToYUVPlanes(tj, jpeg.data(), jpeg.size(), planes, b.w, strides, b.h, TJFLAG_ACCURATEDCT), 0);
    tjDestroy(tj);
    // Ours, on the frame in camera form (Huffman segments dropped).
    Bytes frame = {0xFF, 0xD8};
    for (const Segment &s : ix::test::segmentsOf(jpeg))
        if (s.marker == 0xFFDB || s.marker == 0xFFC0 || s.marker == 0xFFDA)
            frame.insert(frame.end(), jpeg.begin() + long(s.offset), jpeg.begin() + long(s.offset + s.size));
    frame.insert(frame.end(), jpeg.begin() + long(ix::test::entropyOffset(jpeg)), jpeg.end());
    ix::codec::MjpegDecoder *d = ix::codec::MjpegCreateDecoder();
    Bytes out(size_t(b.w) * b.h * 2);
    EXPECT_EQ(ix::codec::MjpegDecodeToYuy2(d, frame.data(), int32_t(frame.size()), out.data(), int64_t(out.size()),
                                           nullptr, nullptr),
              0);
    ix::codec::MjpegDestroyDecoder(d);

    Outcome o;
    for (int i = 0; i < 3; ++i) {
        const int bw = b.blocksWide(i);
        for (int by = 0; by < b.h / 8; ++by)
            for (int bx = 0; bx < bw; ++bx) {
                bool differs = false;
                for (int r = 0; r < 8; ++r)
                    for (int x = 0; x < 8; ++x) {
                        const size_t px = size_t(by * 8 + r) * (bw * 8) + size_t(bx * 8 + x);
                        const size_t row = size_t(by * 8 + r) * b.w * 2;
                        const uint8_t ours = i == 0 ? out[row + 2 * (bx * 8 + x)] : out[row + 4 * (bx * 8 + x) + (i == 1 ? 1 : 3)];
                        const uint8_t theirs = (i == 0 ? ty : i == 1 ? tcb : tcr)[px];
                        differs |= ours != theirs;
                    }
                const Flags f = blockFlags(b.c[i][size_t(by) * bw + bx].data(), b.quant[i == 0 ? 0 : 1]);
                const bool flagged = f.wide || (f.clipped && !vectorCodeOff());
                ++o.blocks;
                o.flagged += flagged;
                o.differing += differs;
                o.differingUnflagged += differs && !flagged;
            }
    }
    return o;
}

TEST(MjpegCoefficients, EveryHuffmanSymbolDecodesLikeLibjpegTurbo) {
    // Quantiser 1 and a few coefficients per block: values up to 1023 with
    // every code size, transforms inside 16 bits almost everywhere.
    Outcome total;
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        total.add(compare(randomBlocks(256, 64, seed, 1, 1 + int(seed), 300)));
    }
    std::printf("vector code %s: blocks %d, exempt %d, differing %d\n", vectorCodeOff() ? "off" : "on", total.blocks,
                total.flagged, total.differing);
    EXPECT_EQ(total.differingUnflagged, 0);
    EXPECT_GT(total.blocks - total.flagged, total.blocks / 2) << "too few blocks compared exactly";
}

TEST(MjpegCoefficients, ExtremeCoefficientsDifferOnlyWhereValuesLeave16Bits) {
    Outcome total;
    for (uint32_t seed = 11; seed <= 14; ++seed) {
        total.add(compare(randomBlocks(256, 64, seed, 255, 30, 1023)));
    }
    std::printf("vector code %s: blocks %d, exempt %d, differing %d\n", vectorCodeOff() ? "off" : "on", total.blocks,
                total.flagged, total.differing);
    EXPECT_EQ(total.differingUnflagged, 0);
    EXPECT_GT(total.flagged, 0) << "the extreme range was not reached";
    EXPECT_GT(total.differing, 0) << "extreme blocks should show the 16-bit cut";
}

} // namespace
