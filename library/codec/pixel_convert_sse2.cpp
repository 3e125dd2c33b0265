// SSE2 converters: eight pixels (four pairs, sixteen source bytes) per step in
// 32-bit lanes, so every intermediate value equals the scalar reference's. The
// colour terms use pmaddwd on (u, v) word pairs, the arithmetic shift is psrad,
// and the clamp to 0..255 is the saturation of packssdw followed by packuswb.
// Each row's remainder (fewer than eight pixels, an odd last pixel) goes
// through the scalar row code, so no load or store leaves the row.
#include "library/codec/pixel_convert.h"

#include "library/codec/pixel_convert_impl.h"

#if defined(__x86_64__) || defined(__i386__)
#define IX_CONVERT_SSE2 1
#include <emmintrin.h>
#endif

namespace ix::codec {

#if IX_CONVERT_SSE2

namespace {

using namespace detail;

// 32-bit x86 builds do not assume SSE2; these functions carry it themselves
// and are only chosen after the processor has been asked.
#define IX_SSE2 __attribute__((target("sse2")))
// The row functions are entered from code that may keep only the 4-byte stack
// alignment 32-bit Windows guarantees; realigning on entry keeps the 16-byte
// vector spills the compiler makes there safe.
#if defined(__i386__)
#define IX_SSE2_ENTRY __attribute__((target("sse2"), force_align_arg_pointer))
#else
#define IX_SSE2_ENTRY IX_SSE2
#endif

struct Colour8 {
    __m128i b, g, r; // eight clamped values in the low eight bytes of each
};

IX_SSE2 inline __m128i channel8(__m128i yLo, __m128i yHi, __m128i pairTerm) {
    // Each pair's term serves both of its pixels.
    const __m128i lo = _mm_srai_epi32(_mm_add_epi32(yLo, _mm_unpacklo_epi32(pairTerm, pairTerm)), 10);
    const __m128i hi = _mm_srai_epi32(_mm_add_epi32(yHi, _mm_unpackhi_epi32(pairTerm, pairTerm)), 10);
    const __m128i words = _mm_packs_epi32(lo, hi);
    return _mm_packus_epi16(words, words);
}

IX_SSE2 inline Colour8 colour8(const uint8_t *in) {
    const __m128i src = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in));
    const __m128i y = _mm_and_si128(src, _mm_set1_epi16(0x00FF));
    // u0 v0 u1 v1 u2 v2 u3 v3 as signed words.
    const __m128i uv = _mm_sub_epi16(_mm_srli_epi16(src, 8), _mm_set1_epi16(128));
    const __m128i blueTerm = _mm_madd_epi16(uv, _mm_setr_epi16(kBlueU, 0, kBlueU, 0, kBlueU, 0, kBlueU, 0));
    const __m128i greenTerm = _mm_madd_epi16(
        uv, _mm_setr_epi16(-kGreenU, -kGreenV, -kGreenU, -kGreenV, -kGreenU, -kGreenV, -kGreenU, -kGreenV));
    const __m128i redTerm = _mm_madd_epi16(uv, _mm_setr_epi16(0, kRedV, 0, kRedV, 0, kRedV, 0, kRedV));
    const __m128i zero = _mm_setzero_si128();
    const __m128i yLo = _mm_slli_epi32(_mm_unpacklo_epi16(y, zero), 10);
    const __m128i yHi = _mm_slli_epi32(_mm_unpackhi_epi16(y, zero), 10);
    return {channel8(yLo, yHi, blueTerm), channel8(yLo, yHi, greenTerm), channel8(yLo, yHi, redTerm)};
}

// B,G,R,0 of eight pixels into two registers.
IX_SSE2 inline void bgrx8(const Colour8 &c, __m128i &first, __m128i &second) {
    const __m128i bg = _mm_unpacklo_epi8(c.b, c.g);
    const __m128i r0 = _mm_unpacklo_epi8(c.r, _mm_setzero_si128());
    first = _mm_unpacklo_epi16(bg, r0);
    second = _mm_unpackhi_epi16(bg, r0);
}

IX_SSE2_ENTRY void rowBgrx32(uint8_t *out, const uint8_t *in, int32_t width) {
    ptrdiff_t x = 0;
    for (; x + 8 <= width; x += 8) {
        __m128i first, second;
        bgrx8(colour8(in + 2 * x), first, second);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 4 * x), first);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 4 * x + 16), second);
    }
    convertRowFrom(out, in, width, static_cast<int32_t>(x / 2), StoreBgrx32{});
}

IX_SSE2_ENTRY void rowBgr24(uint8_t *out, const uint8_t *in, int32_t width) {
    ptrdiff_t x = 0;
    // SSE2 has no byte shuffle; dropping every fourth byte of the 32-bit
    // pixels is left to plain stores from a stack copy.
    uint8_t quad[32];
    for (; x + 8 <= width; x += 8) {
        __m128i first, second;
        bgrx8(colour8(in + 2 * x), first, second);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(quad), first);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(quad + 16), second);
        uint8_t *px = out + 3 * x;
        for (int k = 0; k < 8; ++k) {
            px[3 * k] = quad[4 * k];
            px[3 * k + 1] = quad[4 * k + 1];
            px[3 * k + 2] = quad[4 * k + 2];
        }
    }
    convertRowFrom(out, in, width, static_cast<int32_t>(x / 2), StoreBgr24{});
}

IX_SSE2_ENTRY void rowRgb565(uint8_t *out, const uint8_t *in, int32_t width) {
    ptrdiff_t x = 0;
    const __m128i zero = _mm_setzero_si128();
    for (; x + 8 <= width; x += 8) {
        const Colour8 c = colour8(in + 2 * x);
        const __m128i b = _mm_unpacklo_epi8(c.b, zero);
        const __m128i g = _mm_unpacklo_epi8(c.g, zero);
        const __m128i r = _mm_unpacklo_epi8(c.r, zero);
        // (r >> 3) << 11 | (g >> 2) << 5 | b >> 3, on eight words at once.
        const __m128i word = _mm_or_si128(
            _mm_or_si128(_mm_slli_epi16(_mm_and_si128(r, _mm_set1_epi16(0xF8)), 8),
                         _mm_slli_epi16(_mm_and_si128(g, _mm_set1_epi16(0xFC)), 3)),
            _mm_srli_epi16(b, 3));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 2 * x), word);
    }
    convertRowFrom(out, in, width, static_cast<int32_t>(x / 2), StoreRgb565{});
}

template <int BytesPerPixel, void (*Row)(uint8_t *, const uint8_t *, int32_t)>
void image(uint8_t *destination, int32_t width, int32_t height, const uint8_t *source) {
    forEachRow<BytesPerPixel>(destination, width, height, source,
                              [width](uint8_t *out, const uint8_t *in) { Row(out, in, width); });
}


bool processorHasSse2() {
#if defined(__x86_64__)
    return true;
#else
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2");
#endif
}

} // namespace

const ConverterSet *simdConverters() {
    // The grey copy is a strided byte copy that the compiler already turns
    // into vector code at least as fast as a hand-written one, so the
    // reference's serves here too.
    static const ConverterSet sse2 = {"sse2", image<4, rowBgrx32>, image<3, rowBgr24>, image<2, rowRgb565>,
                                      scalarConverters().grey8};
    static const bool available = processorHasSse2();
    return available ? &sse2 : nullptr;
}

#else

const ConverterSet *simdConverters() { return nullptr; }

#endif

} // namespace ix::codec
