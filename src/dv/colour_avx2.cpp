#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "dv/colour.h"

namespace avikit::dv {
namespace {

inline __m128i load16(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }

// The colour-difference factors of one channel as (Cb, Cr) word pairs.
inline __m256i chroma_factors(std::int16_t cb, std::int16_t cr) {
  return _mm256_set1_epi32(static_cast<int>(std::uint32_t{static_cast<std::uint16_t>(cr)} << 16 |
                                            static_cast<std::uint16_t>(cb)));
}

// The multiply-add operands of 16 pixels, [0] for the inputs' elements 0..3 of each lane and [1]
// for 4..7: yt the luma terms, (Y, offset) x (19077, 18565), and c the (Cb, Cr) word pairs.
struct Terms16 {
  __m256i yt[2];
  __m256i c[2];
};

[[gnu::always_inline]] inline Terms16 terms16(__m256i luma, std::int16_t offset, __m256i vb,
                                              __m256i vr) {
  const __m256i ky = _mm256_set1_epi32(kLumaOffsetFactor << 16 | kLumaFactor);
  const __m256i off = _mm256_set1_epi16(offset);
  return {{_mm256_madd_epi16(_mm256_unpacklo_epi16(luma, off), ky),
           _mm256_madd_epi16(_mm256_unpackhi_epi16(luma, off), ky)},
          {_mm256_unpacklo_epi16(vb, vr), _mm256_unpackhi_epi16(vb, vr)}};
}

// B, G and R of 16 pixels as 32-bit sums >> 14, not yet saturated: [0] the pixels of the
// inputs' elements 0..3 of each lane, [1] those of elements 4..7.
[[gnu::always_inline]] inline void bgr16d(__m256i luma, __m256i vb, __m256i vr, __m256i* b,
                                          __m256i* g, __m256i* r) {
  const __m256i kb = chroma_factors(kCbToBlue, 0);
  const __m256i kg = chroma_factors(kCbToGreen, kCrToGreen);
  const __m256i kr = chroma_factors(0, kCrToRed);
  const Terms16 t = terms16(luma, -16, vb, vr);
#pragma GCC unroll 2
  for (int h = 0; h < 2; ++h) {
    b[h] = _mm256_srai_epi32(_mm256_add_epi32(t.yt[h], _mm256_madd_epi16(t.c[h], kb)), 14);
    g[h] = _mm256_srai_epi32(_mm256_add_epi32(t.yt[h], _mm256_madd_epi16(t.c[h], kg)), 14);
    r[h] = _mm256_srai_epi32(_mm256_add_epi32(t.yt[h], _mm256_madd_epi16(t.c[h], kr)), 14);
  }
}

// Four pixels' B, G, R in the first 12 bytes of each lane, from the packed lanes
// B0..3 G0..3 R0..3 R4..7 (kFirst) or B4..7 G4..7 R0..3 R4..7.
template <bool kFirst>
inline __m256i interleave4(__m256i v) {
  constexpr char r = kFirst ? 8 : 12;
  const __m128i m = _mm_setr_epi8(0, 4, r, 1, 5, r + 1, 2, 6, r + 2, 3, 7, r + 3, -1, -1, -1, -1);
  return _mm256_shuffle_epi8(v, _mm256_broadcastsi128_si256(m));
}

// The 16 pixels of bgr16d's sums as four runs of 4 pixels: q[0] and q[1] the pixels of elements
// 0..3 and 4..7 of each lane, 12 bytes a lane. Packing B with G and R with R lets one byte
// shuffle a lane interleave them: fewer shuffles than packing each channel whole and scattering
// it over the 48 bytes.
[[gnu::always_inline]] inline void runs4(const __m256i* b, const __m256i* g, const __m256i* r,
                                         __m256i* q) {
  const __m256i rr = _mm256_packs_epi32(r[0], r[1]);
  q[0] = interleave4<true>(_mm256_packus_epi16(_mm256_packs_epi32(b[0], g[0]), rr));
  q[1] = interleave4<false>(_mm256_packus_epi16(_mm256_packs_epi32(b[1], g[1]), rr));
}

inline void store16(std::uint8_t* dst, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), v);
}

// The eight runs of 32 pixels, in pixel order, as 96 bytes at d. Each store writes 4 bytes past
// its 12, which the next store puts right; the last run of a line is stored exactly.
template <bool kLastGroup>
[[gnu::always_inline]] inline void store_runs(std::uint8_t* d, const __m128i (&r)[8]) {
#pragma GCC unroll 7
  for (int i = 0; i < 7; ++i) store16(d + 12 * i, r[i]);
  if constexpr (kLastGroup) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 84), r[7]);
    const int tail = _mm_extract_epi32(r[7], 2);
    std::memcpy(d + 92, &tail, 4);
  } else {
    store16(d + 84, r[7]);
  }
}

inline __m128i low(__m256i v) { return _mm256_castsi256_si128(v); }
inline __m128i high(__m256i v) { return _mm256_extracti128_si256(v, 1); }

// Runs of 4 pixels of the 16 from x on, from doubled chroma: q[0] holds pixels 0..3 and 8..11,
// q[1] 4..7 and 12..15.
[[gnu::always_inline]] inline void runs16(const std::uint8_t* y, const std::int8_t* cb,
                                          const std::int8_t* cr, int x, __m256i* q) {
  const __m256i luma = _mm256_cvtepu8_epi16(load16(y + x));
  // Pixel x's colour-difference input is d[x] + d[x + 1] (dv/colour.h).
  const __m256i vb = _mm256_add_epi16(_mm256_cvtepi8_epi16(load16(cb + x)),
                                      _mm256_cvtepi8_epi16(load16(cb + x + 1)));
  const __m256i vr = _mm256_add_epi16(_mm256_cvtepi8_epi16(load16(cr + x)),
                                      _mm256_cvtepi8_epi16(load16(cr + x + 1)));
  __m256i b[2], g[2], r[2];
  bgr16d(luma, vb, vr, b, g, r);
  runs4(b, g, r, q);
}

// The 32 pixels from x on, as 96 bytes at out + 3x.
template <bool kLastGroup>
[[gnu::always_inline]] inline void bgr32(const std::uint8_t* y, const std::int8_t* cb,
                                         const std::int8_t* cr, int x, std::uint8_t* out) {
  __m256i a[2], c[2];
  runs16(y, cb, cr, x, a);
  runs16(y, cb, cr, x + 16, c);
  store_runs<kLastGroup>(out + 3 * x, {low(a[0]), low(a[1]), high(a[0]), high(a[1]), low(c[0]),
                                       low(c[1]), high(c[0]), high(c[1])});
}

// A 4:2:0 line's two averaged chroma rows as differences from 128 in signed bytes, the last
// sample once more after them (the pair after the line's last is the last again), and room for
// the steps' 16-byte loads. Averaging each row once here, rather than in every step, leaves the
// steps only a byte shuffle and a multiply-add to reach a pixel's colour-difference input.
constexpr int kCentredRow = kPairChroma + 24;

inline void centre_row(const std::uint8_t* a, const std::uint8_t* b, std::int8_t* out) {
  const __m256i bias = _mm256_set1_epi8(-128);
  auto centre32 = [&](int i) {
    const __m256i v = _mm256_avg_epu8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i)),
                                      _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_xor_si256(v, bias));
  };
  // 360 = 11 x 32 + 8: rather than reading past the rows, the last 16 are averaged on their own
  // and their last 8 stored once more with the last sample repeated after them.
  for (int i = 0; i + 32 <= kPairChroma; i += 32) centre32(i);
  constexpr int kEnd = kPairChroma - 16;
  const __m128i end =
      _mm_xor_si128(_mm_avg_epu8(load16(a + kEnd), load16(b + kEnd)), _mm256_castsi256_si128(bias));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + kEnd), end);
  const __m128i repeat_last =
      _mm_setr_epi8(8, 9, 10, 11, 12, 13, 14, 15, 15, 15, 15, 15, 15, 15, 15, 15);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + kPairChroma - 8),
                   _mm_shuffle_epi8(end, repeat_last));
}

// Two vectors' high words as one: a's in the low half of each 32-bit element, b's in the high.
inline __m256i high_words(__m256i a, __m256i b) {
  return _mm256_blend_epi16(_mm256_srli_epi32(a, 16), b, 0xAA);
}

// The 16 pixels from x on of a 4:2:0 line, from the centred rows. Pixel 2m of the 16 takes its
// pair's sample twice, pixel 2m + 1 its pair's and the next pair's (the doubled chroma
// d[x] + d[x + 1] of dv/colour.h): one byte shuffle lays the samples out so, and a multiply-add
// by fours sums each two into a word. With luma and chroma four times over, each 32-bit sum
// holds its result (the sum >> 14 unscaled) in its high word, which the packs then take without
// a shift: the sums stay within +-2^26, so that word is the whole result, as the packs' saturation
// needs.
template <bool kLastStep>
[[gnu::always_inline]] inline void bgr16_420(const std::uint8_t* y, const std::int8_t* cb,
                                             const std::int8_t* cr, int x, std::uint8_t* out) {
  const __m256i pick = _mm256_setr_epi8(0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4,  //
                                        4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 7, 7, 7, 7, 8);
  const __m256i fours = _mm256_set1_epi8(4);
  const int p = x / 2;
  const __m256i vb = _mm256_maddubs_epi16(
      fours, _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(load16(cb + p)), pick));
  const __m256i vr = _mm256_maddubs_epi16(
      fours, _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(load16(cr + p)), pick));
  const __m256i kb = chroma_factors(kCbToBlue, 0);
  const __m256i kg = chroma_factors(kCbToGreen, kCrToGreen);
  const __m256i kr = chroma_factors(0, kCrToRed);
  // (Y - 16) x 19077 + 8192 four times over: (4Y, -64) x (19077, 18565). [0]: pixels 0..3 and
  // 8..11, [1]: 4..7 and 12..15.
  const Terms16 t = terms16(_mm256_slli_epi16(_mm256_cvtepu8_epi16(load16(y + x)), 2), -64, vb, vr);
  auto sum = [&](int h, __m256i k) {
    return _mm256_add_epi32(t.yt[h], _mm256_madd_epi16(t.c[h], k));
  };
  // Each lane: words B0 G0 .. B3 G3 (q[0]) or B4 G4 .. B7 G7 (q[1]), then R0 R4 R1 R5 .. R3 R7;
  // one byte shuffle a lane then interleaves four pixels.
  const __m256i rr = high_words(sum(0, kr), sum(1, kr));
  const __m128i m0 = _mm_setr_epi8(0, 1, 8, 2, 3, 10, 4, 5, 12, 6, 7, 14, -1, -1, -1, -1);
  const __m128i m1 = _mm_setr_epi8(0, 1, 9, 2, 3, 11, 4, 5, 13, 6, 7, 15, -1, -1, -1, -1);
  __m256i q[2];
  q[0] = _mm256_shuffle_epi8(_mm256_packus_epi16(high_words(sum(0, kb), sum(0, kg)), rr),
                             _mm256_broadcastsi128_si256(m0));
  q[1] = _mm256_shuffle_epi8(_mm256_packus_epi16(high_words(sum(1, kb), sum(1, kg)), rr),
                             _mm256_broadcastsi128_si256(m1));
  // q[0] holds pixels 0..3 and 8..11, q[1] 4..7 and 12..15; each store writes 4 bytes past its
  // 12, which the next store puts right, and the line's last run is stored exactly.
  std::uint8_t* d = out + 3 * x;
  store16(d, low(q[0]));
  store16(d + 12, low(q[1]));
  store16(d + 24, high(q[0]));
  if constexpr (kLastStep) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 36), high(q[1]));
    const int tail = _mm_extract_epi32(high(q[1]), 2);
    std::memcpy(d + 44, &tail, 4);
  } else {
    store16(d + 36, high(q[1]));
  }
}

}  // namespace

void bgr_line_avx2(const std::uint8_t* y, const std::int8_t* cb, const std::int8_t* cr,
                   std::uint8_t* out) {
  constexpr int kLast = kWidth - 32;
  for (int x = 0; x < kLast; x += 32) bgr32<false>(y, cb, cr, x, out);
  // The last 32 pixels overlap the step before rather than going narrower.
  bgr32<true>(y, cb, cr, kLast, out);
}

void bgr_line_420_avx2(const std::uint8_t* y, const ChromaRowPairs& rows, std::uint8_t* out) {
  alignas(32) std::int8_t cb[kCentredRow];
  alignas(32) std::int8_t cr[kCentredRow];
  centre_row(rows.cb_a, rows.cb_b, cb);
  centre_row(rows.cr_a, rows.cr_b, cr);
  constexpr int kLast = kWidth - 16;
  // Two steps a turn: the loop's own count and pointer work is then a smaller share.
  for (int x = 0; x < kLast; x += 32) {
    bgr16_420<false>(y, cb, cr, x, out);
    bgr16_420<false>(y, cb, cr, x + 16, out);
  }
  bgr16_420<true>(y, cb, cr, kLast, out);
}

}  // namespace avikit::dv
