#include <immintrin.h>

#include <cstdint>

#include "dv/colour.h"

namespace avikit::dv {
namespace {

inline __m128i load16(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }

// B, G, R of 16 pixels as int16 (saturated from the 32-bit sums >> 14) from their luma and
// colour-difference inputs as int16. Unpacking to pairs and packing back works within 128-bit
// lanes, so the results come in the order of the inputs.
[[gnu::always_inline]] inline void bgr16w(__m256i luma, __m256i vb, __m256i vr, __m256i* b,
                                          __m256i* g, __m256i* r) {
  const __m256i ky = _mm256_set1_epi32(kLumaOffsetFactor << 16 | kLumaFactor);
  const __m256i kb = _mm256_set1_epi32(kCbToBlue);
  const __m256i kg =
      _mm256_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(kCrToGreen) << 16 |
                                         (static_cast<std::uint32_t>(kCbToGreen) & 0xFFFF)));
  const __m256i kr = _mm256_set1_epi32(kCrToRed << 16);
  const __m256i minus16 = _mm256_set1_epi16(-16);
  // (Y, -16) . (19077, 18565) = (Y - 16) x 19077 + 8192.
  const __m256i yt0 = _mm256_madd_epi16(_mm256_unpacklo_epi16(luma, minus16), ky);
  const __m256i yt1 = _mm256_madd_epi16(_mm256_unpackhi_epi16(luma, minus16), ky);
  const __m256i c0 = _mm256_unpacklo_epi16(vb, vr), c1 = _mm256_unpackhi_epi16(vb, vr);
  auto fin = [&](__m256i k) {
    return _mm256_packs_epi32(
        _mm256_srai_epi32(_mm256_add_epi32(yt0, _mm256_madd_epi16(c0, k)), 14),
        _mm256_srai_epi32(_mm256_add_epi32(yt1, _mm256_madd_epi16(c1, k)), 14));
  };
  *b = fin(kb);
  *g = fin(kg);
  *r = fin(kr);
}

// The 16 pixels from x on, in pixel order, from doubled chroma.
[[gnu::always_inline]] inline void bgr16(const std::uint8_t* y, const std::int8_t* cb,
                                         const std::int8_t* cr, int x, __m256i* b, __m256i* g,
                                         __m256i* r) {
  const __m256i luma = _mm256_cvtepu8_epi16(load16(y + x));
  // Pixel x's colour-difference input is d[x] + d[x + 1] (dv/colour.h).
  const __m256i vb = _mm256_add_epi16(_mm256_cvtepi8_epi16(load16(cb + x)),
                                      _mm256_cvtepi8_epi16(load16(cb + x + 1)));
  const __m256i vr = _mm256_add_epi16(_mm256_cvtepi8_epi16(load16(cr + x)),
                                      _mm256_cvtepi8_epi16(load16(cr + x + 1)));
  bgr16w(luma, vb, vr, b, g, r);
}

// pshufb masks that scatter 16 bytes of one channel into the 48 packed bytes of 16 pixels.
struct PackMasks {
  alignas(32) std::int8_t m[3][3][32];  // [output chunk][channel][byte, both lanes]
};
constexpr PackMasks make_masks() {
  PackMasks p{};
  for (int c = 0; c < 3; ++c) {
    for (int ch = 0; ch < 3; ++ch) {
      for (int i = 0; i < 32; ++i) {
        const int k = 16 * c + i % 16;
        p.m[c][ch][i] = static_cast<std::int8_t>(k % 3 == ch ? k / 3 : -128);
      }
    }
  }
  return p;
}
constexpr PackMasks kMasks = make_masks();

inline __m256i mask(int c, int ch) {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(kMasks.m[c][ch]));
}

// 16-bit pixels 0..15 and 16..31 of one channel to 32 bytes in pixel order (the 256-bit pack
// works per lane, so its quarters come out as 0, 2, 1, 3).
inline __m256i bytes32(__m256i lo, __m256i hi) {
  return _mm256_permute4x64_epi64(_mm256_packus_epi16(lo, hi), 0xD8);
}

// 32 bytes each of B, G and R, in pixel order, as 96 packed bytes at dst.
[[gnu::always_inline]] inline void store_bgr32(__m256i b, __m256i g, __m256i r, std::uint8_t* dst) {
  __m256i o[3];
#pragma GCC unroll 3
  for (int c = 0; c < 3; ++c) {
    o[c] = _mm256_or_si256(
        _mm256_or_si256(_mm256_shuffle_epi8(b, mask(c, 0)), _mm256_shuffle_epi8(g, mask(c, 1))),
        _mm256_shuffle_epi8(r, mask(c, 2)));
  }
  // Chunk c of the low lane holds output bytes 16c..16c+15, of the high lane 48 + 16c on.
  auto* d = reinterpret_cast<__m256i*>(dst);
  _mm256_storeu_si256(d, _mm256_permute2x128_si256(o[0], o[1], 0x20));
  _mm256_storeu_si256(d + 1, _mm256_permute2x128_si256(o[2], o[0], 0x30));
  _mm256_storeu_si256(d + 2, _mm256_permute2x128_si256(o[1], o[2], 0x31));
}

// The 32 pixels from x on, as 96 bytes at out + 3x.
[[gnu::always_inline]] inline void bgr32(const std::uint8_t* y, const std::int8_t* cb,
                                         const std::int8_t* cr, int x, std::uint8_t* out) {
  __m256i b0, g0, r0, b1, g1, r1;
  bgr16(y, cb, cr, x, &b0, &g0, &r0);
  bgr16(y, cb, cr, x + 16, &b1, &g1, &r1);
  store_bgr32(bytes32(b0, b1), bytes32(g0, g1), bytes32(r0, r1), out + 3 * x);
}

// The 4:2:0 line works in "split" order: one vector holds pixels 0..7 and 16..23 of a group of
// 32, the other 8..15 and 24..31. Unpacking the even and odd pixels' chroma gives that order
// without crossing lanes, and packing the two halves back to bytes undoes it.
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
  __m256i b0, g0, r0, b1, g1, r1;
  bgr16w(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(split)), cb_lo, cr_lo, &b0, &g0, &r0);
  bgr16w(_mm256_cvtepu8_epi16(_mm256_extracti128_si256(split, 1)), cb_hi, cr_hi, &b1, &g1, &r1);
  store_bgr32(_mm256_packus_epi16(b0, b1), _mm256_packus_epi16(g0, g1), _mm256_packus_epi16(r0, r1),
              out + 3 * x);
}

}  // namespace

void bgr_line_avx2(const std::uint8_t* y, const std::int8_t* cb, const std::int8_t* cr,
                   std::uint8_t* out) {
  constexpr int kLast = kWidth - 32;
  for (int x = 0; x < kLast; x += 32) bgr32(y, cb, cr, x, out);
  // The last 32 pixels overlap the step before rather than going narrower.
  bgr32(y, cb, cr, kLast, out);
}

void bgr_line_420_avx2(const std::uint8_t* y, const ChromaRowPairs& rows, std::uint8_t* out) {
  constexpr int kLast = kWidth - 32;
  for (int x = 0; x < kLast; x += 32) bgr32_420<false>(y, rows, x, out);
  // The last 32 pixels overlap the step before rather than going narrower.
  bgr32_420<true>(y, rows, kLast, out);
}

}  // namespace avikit::dv
