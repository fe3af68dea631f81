#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "dv/colour.h"

namespace avikit::dv {
namespace {

inline __m128i load16(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }

// B, G and R of 16 pixels as 32-bit sums >> 14, not yet saturated: [0] the pixels of the
// inputs' elements 0..3 of each lane, [1] those of elements 4..7.
[[gnu::always_inline]] inline void bgr16d(__m256i luma, __m256i vb, __m256i vr, __m256i* b,
                                          __m256i* g, __m256i* r) {
  const __m256i ky = _mm256_set1_epi32(kLumaOffsetFactor << 16 | kLumaFactor);
  const __m256i kb = _mm256_set1_epi32(kCbToBlue);
  const __m256i kg =
      _mm256_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(kCrToGreen) << 16 |
                                         (static_cast<std::uint32_t>(kCbToGreen) & 0xFFFF)));
  const __m256i kr = _mm256_set1_epi32(kCrToRed << 16);
  const __m256i minus16 = _mm256_set1_epi16(-16);
  const __m256i yt[2] = {_mm256_madd_epi16(_mm256_unpacklo_epi16(luma, minus16), ky),
                         _mm256_madd_epi16(_mm256_unpackhi_epi16(luma, minus16), ky)};
  const __m256i c[2] = {_mm256_unpacklo_epi16(vb, vr), _mm256_unpackhi_epi16(vb, vr)};
#pragma GCC unroll 2
  for (int h = 0; h < 2; ++h) {
    b[h] = _mm256_srai_epi32(_mm256_add_epi32(yt[h], _mm256_madd_epi16(c[h], kb)), 14);
    g[h] = _mm256_srai_epi32(_mm256_add_epi32(yt[h], _mm256_madd_epi16(c[h], kg)), 14);
    r[h] = _mm256_srai_epi32(_mm256_add_epi32(yt[h], _mm256_madd_epi16(c[h], kr)), 14);
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

// The 4:2:0 line works in "split" order: one vector holds pixels 0..7 and 16..23 of a group of
// 32, the other 8..15 and 24..31. Unpacking the even and odd pixels' chroma gives that order
// without crossing lanes, and the order of the stores undoes it.
//
// Colour-difference inputs of the 32 pixels from pair p on: s0 the averaged samples of pairs
// p..p+15, s1 those of p+1..p+16. An even pixel takes twice its pair's sample, an odd one its
// pair's and the next pair's, each less 128 (the doubled chroma d[x] + d[x + 1]).
[[gnu::always_inline]] inline void chroma32(__m128i s0, __m128i s1, __m256i* lo, __m256i* hi) {
  const __m256i bias = _mm256_set1_epi16(256);
  const __m256i w0 = _mm256_cvtepu8_epi16(s0), w1 = _mm256_cvtepu8_epi16(s1);
  const __m256i even = _mm256_sub_epi16(_mm256_add_epi16(w0, w0), bias);
  const __m256i odd = _mm256_sub_epi16(_mm256_add_epi16(w0, w1), bias);
  *lo = _mm256_unpacklo_epi16(even, odd);
  *hi = _mm256_unpackhi_epi16(even, odd);
}

inline __m128i avg16(const std::uint8_t* a, const std::uint8_t* b, int i) {
  return _mm_avg_epu8(load16(a + i), load16(b + i));
}

// The 32 pixels from x on of a 4:2:0 line. On the line's last group the pair after the last is
// the last again.
template <bool kLastGroup>
[[gnu::always_inline]] inline void bgr32_420(const std::uint8_t* y, const ChromaRowPairs& rows,
                                             int x, std::uint8_t* out) {
  const int p = x / 2;
  const __m128i ub0 = avg16(rows.cb_a, rows.cb_b, p), vr0 = avg16(rows.cr_a, rows.cr_b, p);
  __m128i ub1, vr1;
  if constexpr (kLastGroup) {
    const __m128i next = _mm_setr_epi8(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 15);
    ub1 = _mm_shuffle_epi8(ub0, next);
    vr1 = _mm_shuffle_epi8(vr0, next);
  } else {
    ub1 = avg16(rows.cb_a, rows.cb_b, p + 1);
    vr1 = avg16(rows.cr_a, rows.cr_b, p + 1);
  }
  __m256i cb_lo, cb_hi, cr_lo, cr_hi;
  chroma32(ub0, ub1, &cb_lo, &cb_hi);
  chroma32(vr0, vr1, &cr_lo, &cr_hi);
  // Luma in split order: quarters 0 and 2 widen to the low vector, 1 and 3 to the high one.
  const __m256i split =
      _mm256_permute4x64_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + x)), 0xD8);
  __m256i b[2], g[2], r[2], lo[2], hi[2];
  bgr16d(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(split)), cb_lo, cr_lo, b, g, r);
  runs4(b, g, r, lo);
  bgr16d(_mm256_cvtepu8_epi16(_mm256_extracti128_si256(split, 1)), cb_hi, cr_hi, b, g, r);
  runs4(b, g, r, hi);
  // Pixels 0..7 and 16..23 are in the low vectors, 8..15 and 24..31 in the high ones.
  store_runs<kLastGroup>(out + 3 * x, {low(lo[0]), low(lo[1]), low(hi[0]), low(hi[1]), high(lo[0]),
                                       high(lo[1]), high(hi[0]), high(hi[1])});
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
  constexpr int kLast = kWidth - 32;
  for (int x = 0; x < kLast; x += 32) bgr32_420<false>(y, rows, x, out);
  // The last 32 pixels overlap the step before rather than going narrower.
  bgr32_420<true>(y, rows, kLast, out);
}

}  // namespace avikit::dv
