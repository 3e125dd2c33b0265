#include "library/codec/mjpeg_decoder.h"

#include "library/codec/jpeg_tables.h"
#include "library/codec/mjpeg_huffman.h"

#include <array>
#include <cstring>
#include <new>

namespace ix::codec {

namespace {

using jpeg::kZigZag;

// ---------------------------------------------------------------------------
// Sample range limit of the inverse transform. The transform's output is
// taken modulo 1024 as a signed 10-bit value v and mapped to v + 128 clamped
// to 0..255: overshoots of a few hundred clamp to the near end, while the
// wrap keeps the index inside the table for any 32-bit input.
constexpr std::array<uint8_t, 1024> makeRangeLimit() {
    std::array<uint8_t, 1024> t{};
    for (int i = 0; i < 1024; ++i) {
        int v = i < 512 ? i : i - 1024;
        int s = v + 128;
        t[i] = static_cast<uint8_t>(s < 0 ? 0 : (s > 255 ? 255 : s));
    }
    return t;
}
constexpr std::array<uint8_t, 1024> kRangeLimit = makeRangeLimit();

inline uint8_t rangeLimit(uint32_t x) { return kRangeLimit[x & 1023u]; }

// ---------------------------------------------------------------------------
// Inverse DCT: the integer Loeffler-Ligtenberg-Moschytz transform with 13-bit
// constants and two extra fraction bits between the passes. The arithmetic is
// 32-bit two's complement; it is carried out in uint32_t so that corrupt
// coefficients wrap as they would in hardware instead of being undefined.
// A variable multiplied by a transform constant is first cut to 16 bits.
constexpr int32_t c1 = 4433, c2 = 15137, c3 = 6270, c4 = 9633, c5 = 2446, c6 = 16819, c7 = 25172,
                  c8 = 12299, c9 = 7373, c10 = 20995, c11 = 16069, c12 = 3196;

inline uint32_t mul16(uint32_t v, int32_t c) {
    return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(static_cast<uint16_t>(v))) * c);
}
inline int32_t sar(uint32_t v, int n) { return static_cast<int32_t>(v) >> n; }

// Even and odd parts shared by both passes; d holds the eight inputs of one
// column (pass 1) or row (pass 2).
inline void butterfly(const uint32_t d[8], uint32_t out[8]) {
    uint32_t z1 = mul16(d[2] + d[6], c1);
    uint32_t t2 = z1 - mul16(d[6], c2);
    uint32_t t3 = z1 + mul16(d[2], c3);
    uint32_t t0 = (d[0] + d[4]) * 8192u;
    uint32_t t1 = (d[0] - d[4]) * 8192u;
    uint32_t e0 = t0 + t3, e3 = t0 - t3, e1 = t1 + t2, e2 = t1 - t2;

    uint32_t a = d[7], b = d[5], c = d[3], e = d[1];
    uint32_t z3 = a + c;
    uint32_t z4 = b + e;
    uint32_t z5 = mul16(z3 + z4, c4);
    uint32_t y1 = mul16(a + e, -c9);
    uint32_t y2 = mul16(b + c, -c10);
    z3 = mul16(z3, -c11) + z5;
    z4 = mul16(z4, -c12) + z5;
    uint32_t o0 = mul16(a, c5) + y1 + z3;
    uint32_t o1 = mul16(b, c6) + y2 + z4;
    uint32_t o2 = mul16(c, c7) + y2 + z3;
    uint32_t o3 = mul16(e, c8) + y1 + z4;

    out[0] = e0 + o3;
    out[7] = e0 - o3;
    out[1] = e1 + o2;
    out[6] = e1 - o2;
    out[2] = e2 + o1;
    out[5] = e2 - o1;
    out[3] = e3 + o0;
    out[4] = e3 - o0;
}

// ---------------------------------------------------------------------------
// Huffman lookup: 4-bit groups of the bit buffer, most significant first,
// walk down the sub-tables until a leaf.
inline const HuffEntry &huffLookup(const HuffEntry *table, uint32_t bits) {
    const HuffEntry *e = &table[bits >> 28];
    int shift = 24;
    while (e->next != 0) {
        e = &table[e->next + ((bits >> shift) & 15u)];
        shift -= 4;
    }
    return *e;
}

// Bit reader state held in registers while one block is decoded.
struct BitReader {
    const uint8_t *data;
    int32_t length;
    int32_t pos;
    uint32_t buffer;
    int32_t count;

    // Loads bytes until at least n bits are pending or the data ends. FF 00
    // is a stuffed FF; FF followed by anything else is a marker (a restart
    // marker, end of image or stray marker) and delivers nothing, so restart
    // markers pass without touching predictors or bit alignment. An FF as the
    // very last byte has no second byte to look at and is dropped.
    inline void fill(int n) {
        while (count < n && pos < length) {
            uint32_t b = data[pos++];
            if (b == 0xFF) {
                if (pos >= length) break;
                if (data[pos++] != 0) continue;
            }
            buffer |= b << (24 - count);
            count += 8;
        }
    }
    // Past the end of the data the shifts bring in zero bits. The count never
    // goes below zero: it only goes short when no bytes are left to load.
    inline void consume(int n) {
        buffer <<= n;
        count -= n;
        if (count < 0) count = 0;
    }
    // Next s bits (1..16) as a sign-extended difference (T.81 F.2.2.1).
    inline int32_t receiveExtend(int s) {
        int32_t v = static_cast<int32_t>(buffer >> (32 - s));
        if ((v & (1 << (s - 1))) == 0) v -= (1 << s) - 1;
        return v;
    }
};

void decodeBlock(BitReader &br, const HuffEntry *dcTable, const HuffEntry *acTable, int32_t &predictor,
                 int16_t *slot) {
    br.fill(12);
    const HuffEntry &dc = huffLookup(dcTable, br.buffer);
    br.consume(dc.length);
    int s = dc.size;
    int32_t diff = 0;
    if (s != 0) {
        br.fill(s);
        diff = br.receiveExtend(s);
        br.consume(s);
    }
    // Wrapping add: corrupt data may push the predictor anywhere.
    predictor = static_cast<int32_t>(static_cast<uint32_t>(predictor) + static_cast<uint32_t>(diff));
    slot[0] = static_cast<int16_t>(predictor);

    int k = 1;
    while (k < 64) {
        br.fill(16);
        const HuffEntry &ac = huffLookup(acTable, br.buffer);
        br.consume(ac.length);
        if (ac.run == 0 && ac.size == 0) break; // end of block; also every invalid code
        k += ac.run;
        int32_t v = 0;
        if (ac.size != 0) {
            br.fill(ac.size);
            v = br.receiveExtend(ac.size);
            br.consume(ac.size);
        }
        slot[kZigZag[k]] = static_cast<int16_t>(v);
        ++k;
    }
}

void decodeMcuRow(MjpegDecoder *d) {
    const size_t slotsBytes = static_cast<size_t>(d->mcusPerRow) * d->blocksPerMcu * 64 * sizeof(int16_t);
    std::memset(d->rowBuffer, 0, slotsBytes);
    BitReader br{d->frameData, d->frameLength, d->readPos, d->bitBuffer, d->bitCount};
    int16_t *slot = d->rowBuffer;
    for (int32_t n = 0; n < d->mcusPerRow; ++n) {
        for (int32_t j = 0; j < d->componentCount; ++j) {
            const MjpegComponent &comp = d->components[j];
            const bool luma = comp.dcSelector == 0;
            const HuffEntry *dcTable = luma ? kLumaDcLookup.data() : kChromaDcLookup.data();
            const HuffEntry *acTable = luma ? kLumaAcLookup.data() : kChromaAcLookup.data();
            for (int32_t b = 0; b < comp.horizontalFactor; ++b) {
                decodeBlock(br, dcTable, acTable, d->dcPredictor[j], slot);
                d->readPos = br.pos;
                d->bitBuffer = br.buffer;
                d->bitCount = br.count;
                d->blockStage(slot, d->quantTables[comp.quantSelector]);
                slot += 64;
            }
        }
    }
}

inline int32_t be16(const uint8_t *p) { return (p[0] << 8) | p[1]; }

// Frame header (SOF0). Only the camera's layout is taken over; anything else
// is refused whole, so a refused header leaves no half-stored geometry behind.
int32_t readFrameHeader(MjpegDecoder *d, const uint8_t *seg, int32_t len) {
    if (len != 17 || seg[2] != 8 || seg[7] != 3) return 1;
    const int32_t height = be16(seg + 3);
    const int32_t width = be16(seg + 5);
    if (width == 0 || height == 0) return 1; // a height given later by a DNL segment is not supported
    static constexpr uint8_t kFactors[3] = {0x21, 0x11, 0x11};
    for (int i = 0; i < 3; ++i) {
        const uint8_t *c = seg + 8 + 3 * i;
        if (c[1] != kFactors[i] || c[2] > 3) return 1;
    }
    d->componentCount = 3;
    d->height = height;
    d->width = width;
    d->blocksPerMcu = 0;
    for (int i = 0; i < 3; ++i) {
        const uint8_t *c = seg + 8 + 3 * i;
        d->components[i].id = c[0];
        d->components[i].horizontalFactor = c[1] >> 4;
        d->components[i].verticalFactor = c[1] & 15;
        d->components[i].quantSelector = c[2];
        d->blocksPerMcu += d->components[i].horizontalFactor;
    }
    d->mcusPerRow = (2 * width / 8) / d->blocksPerMcu;
    return 0;
}

// Quantisation tables, stored in natural order. A table that would run past
// its segment is refused rather than read out of the following bytes.
int32_t readQuantTables(MjpegDecoder *d, const uint8_t *seg, int32_t len) {
    int32_t i = 2;
    while (i < len) {
        const int pq = seg[i] >> 4;
        const int tq = seg[i] & 3;
        ++i;
        const int32_t bytes = pq == 0 ? 64 : 128;
        if (i + bytes > len) return 1;
        int16_t *table = d->quantTables[tq];
        for (int k = 0; k < 64; ++k) {
            int32_t v = pq == 0 ? seg[i + k] : be16(seg + i + 2 * k);
            table[kZigZag[k]] = static_cast<int16_t>(v);
        }
        i += bytes;
    }
    return 0;
}

// Scan header: only the camera's one form (components 1, 2, 3 with Huffman
// tables 0, 1, 1) is taken over.
int32_t readScanHeader(MjpegDecoder *d, const uint8_t *seg, int32_t len, int32_t pos) {
    static constexpr uint8_t kForm[6] = {1, 0x00, 2, 0x11, 3, 0x11};
    if (len != 12 || d->componentCount != 3 || seg[2] != 3) return 1;
    if (std::memcmp(seg + 3, kForm, sizeof kForm) != 0) return 1;
    d->entropyStart = pos + 12;
    for (int i = 0; i < 3; ++i) {
        d->components[i].dcSelector = seg[4 + 2 * i] >> 4;
        d->components[i].acSelector = seg[4 + 2 * i] & 15;
    }
    return 0;
}

} // namespace

// ---------------------------------------------------------------------------

void MjpegInverseDct(int16_t *slot, const int16_t *quant) {
    uint32_t work[64];
    for (int col = 0; col < 8; ++col) {
        const int16_t *in = slot + col;
        const int16_t *q = quant + col;
        if ((in[8] | in[16] | in[24] | in[32] | in[40] | in[48] | in[56]) == 0) {
            const uint32_t dc = static_cast<uint32_t>(in[0] * q[0]) * 4u;
            for (int r = 0; r < 8; ++r) work[r * 8 + col] = dc;
            continue;
        }
        uint32_t d[8], x[8];
        for (int r = 0; r < 8; ++r) d[r] = static_cast<uint32_t>(in[r * 8] * q[r * 8]);
        butterfly(d, x);
        for (int r = 0; r < 8; ++r) work[r * 8 + col] = static_cast<uint32_t>(sar(x[r] + 1024u, 11));
    }
    uint8_t *out = reinterpret_cast<uint8_t *>(slot);
    for (int row = 0; row < 8; ++row) {
        const uint32_t *w = work + row * 8;
        uint8_t *o = out + row * 8;
        if ((w[1] | w[2] | w[3] | w[4] | w[5] | w[6] | w[7]) == 0) {
            const uint8_t v = rangeLimit(static_cast<uint32_t>(sar(w[0] + 16u, 5)));
            for (int i = 0; i < 8; ++i) o[i] = v;
            continue;
        }
        uint32_t x[8];
        butterfly(w, x);
        for (int i = 0; i < 8; ++i) o[i] = rangeLimit(static_cast<uint32_t>(sar(x[i] + 131072u, 18)));
    }
}

void MjpegPackMcu(const int16_t *mcuSlots, uint8_t *out, int32_t stride) {
    const uint8_t *yl = reinterpret_cast<const uint8_t *>(mcuSlots);
    const uint8_t *yr = reinterpret_cast<const uint8_t *>(mcuSlots + 64);
    const uint8_t *cb = reinterpret_cast<const uint8_t *>(mcuSlots + 128);
    const uint8_t *cr = reinterpret_cast<const uint8_t *>(mcuSlots + 192);
    for (int r = 0; r < 8; ++r) {
        uint8_t *o = out + static_cast<ptrdiff_t>(r) * stride;
        const uint8_t *yRow[2] = {yl + r * 8, yr + r * 8};
        for (int i = 0; i < 8; ++i) {
            const uint8_t *y = yRow[i >> 2] + 2 * (i & 3);
            o[4 * i + 0] = y[0];
            o[4 * i + 1] = cb[r * 8 + i];
            o[4 * i + 2] = y[1];
            o[4 * i + 3] = cr[r * 8 + i];
        }
    }
}

void MjpegEmitMcuRow(MjpegDecoder *decoder, int32_t mcuRow, uint8_t *output) {
    uint8_t *rowOut = output + static_cast<ptrdiff_t>(decoder->outputStride) * 8 * mcuRow;
    for (int32_t n = 0; n < decoder->mcusPerRow; ++n)
        decoder->mcuStage(decoder->rowBuffer + static_cast<ptrdiff_t>(n) * 256, rowOut + 32 * n,
                          decoder->outputStride);
}

MjpegDecoder *MjpegCreateDecoder() {
    MjpegDecoder *d = new (std::nothrow) MjpegDecoder{};
    if (!d) return nullptr;
    d->blockStage = MjpegInverseDct;
    d->mcuStage = MjpegPackMcu;
    d->rowStage = MjpegEmitMcuRow;
    d->outputBitsPerPixel = 16;
    return d;
}

int32_t MjpegDestroyDecoder(MjpegDecoder *decoder) {
    if (!decoder) return 1;
    delete[] decoder->rowBuffer;
    delete decoder;
    return 0;
}

int32_t MjpegParseHeaders(MjpegDecoder *d, const uint8_t *data, int32_t length, int32_t *width,
                          int32_t *height) {
    if (!d) return 1;
    d->parsed = false;
    d->frameData = data;
    d->frameLength = length;
    d->scanHeaderPos = 0;
    if (!data || length < 4 || data[0] != 0xFF || data[1] != 0xD8) return 1;

    int32_t pos = 2;
    for (;;) {
        // Marker, then a length field and a segment that must all lie inside the frame.
        if (length - pos < 4) return 1;
        const int32_t marker = be16(data + pos);
        pos += 2;
        const int32_t len = be16(data + pos);
        if (len < 2 || len > length - pos) return 1;
        const uint8_t *seg = data + pos;
        int32_t rc = 0;
        switch (marker) {
        case 0xFFC0: rc = readFrameHeader(d, seg, len); break;
        case 0xFFDB: rc = readQuantTables(d, seg, len); break;
        case 0xFFDA:
            d->scanHeaderPos = pos;
            rc = readScanHeader(d, seg, len, pos);
            break;
        case 0xFFE0:
        case 0xFFE1:
        case 0xFFFE: break;
        default: return 1; // Huffman tables, restart interval, other frame types, APP2..15, fill bytes
        }
        if (rc != 0) return 1;
        pos += len;
        if (d->scanHeaderPos != 0) break;
        if (pos >= length) return 1;
    }

    // No frame header yet, in this frame or an earlier one: nothing to decode with.
    if (d->width == 0 || d->height == 0 || d->componentCount != 3) return 1;
    if (width) *width = d->width;
    if (height) *height = d->height;
    d->outputStride = d->width * d->outputBitsPerPixel / 8;
    const int32_t need = d->width * 32;
    if (!d->rowBuffer || d->rowBufferCapacity < need) {
        delete[] d->rowBuffer;
        d->rowBufferCapacity = 0;
        d->rowBuffer = new (std::nothrow) int16_t[need / 2]();
        if (!d->rowBuffer) return 1;
        d->rowBufferCapacity = need;
    }
    d->parsed = true;
    return 0;
}

int32_t MjpegDecodeFrame(MjpegDecoder *d, uint8_t *output) {
    if (!d || !d->parsed || !output) return 1;
    // The row buffer was sized by the parse for this geometry; check anyway,
    // since a stage swapped in from outside must never be handed too little.
    const int64_t slotsBytes = int64_t(d->mcusPerRow) * d->blocksPerMcu * 128;
    if (slotsBytes > d->rowBufferCapacity) return 1;
    d->readPos = d->entropyStart;
    d->bitBuffer = 0;
    d->bitCount = 0;
    for (int32_t &p : d->dcPredictor) p = 0;
    const int32_t mcuRows = d->height / 8;
    for (int32_t m = 0; m < mcuRows; ++m) {
        decodeMcuRow(d);
        d->rowStage(d, m, output);
    }
    return 0;
}

int32_t MjpegDecodeToYuy2(MjpegDecoder *decoder, const uint8_t *data, int32_t length, uint8_t *output,
                          int64_t capacity, int32_t *width, int32_t *height, int32_t maxWidth,
                          int32_t maxHeight) {
    int32_t w = 0, h = 0;
    if (MjpegParseHeaders(decoder, data, length, &w, &h) != 0) return 1;
    if (width) *width = w;
    if (height) *height = h;
    if ((maxWidth > 0 && w > maxWidth) || (maxHeight > 0 && h > maxHeight)) return 1;
    if (int64_t(w) * h * 2 > capacity) return 8;
    if (!output) return 1;
    return MjpegDecodeFrame(decoder, output);
}

} // namespace ix::codec
