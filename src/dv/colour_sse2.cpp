#include <emmintrin.h>

#include <cstring>

#include "dv/colour.h"

namespace dv {
namespace {

inline __m128i load8(const std::uint8_t* p) {
  return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}
inline __m128i loadu(const std::uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void storeu(std::uint8_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// Per-pixel colour difference of 8 pairs (16 pixels, as two vectors of 8 int16): the left pixel
// takes 2c - 256, the right one c + c' - 256.
inline void pixel_chroma(const std::uint8_t* c, __m128i* lo, __m128i* hi) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i k256 = _mm_set1_epi16(256);
  const __m128i u = _mm_unpacklo_epi8(load8(c), zero);
  const __m128i un = _mm_unpacklo_epi8(load8(c + 1), zero);
  const __m128i left = _mm_sub_epi16(_mm_add_epi16(u, u), k256);
  const __m128i right = _mm_sub_epi16(_mm_add_epi16(u, un), k256);
  *lo = _mm_unpacklo_epi16(left, right);
  *hi = _mm_unpackhi_epi16(left, right);
}

// B, G, R of 8 pixels as int16 (saturated from the 32-bit sums >> 14).
inline void bgr8(__m128i y, __m128i cb, __m128i cr, __m128i* b, __m128i* g, __m128i* r) {
  const __m128i kb = _mm_set1_epi32(16525 << 16 | 19077);
  const __m128i kg = _mm_set1_epi32(static_cast<int>(0xF377U << 16 | 19077));  // -3209
  const __m128i kr = _mm_set1_epi32(13075 << 16 | 19077);
  const __m128i kg2 = _mm_set1_epi32(static_cast<int>(8192U << 16 | 0xE5FCU));  // -6660, 8192
  const __m128i round = _mm_set1_epi32(8192);
  const __m128i one = _mm_set1_epi16(1);
  const __m128i yb0 = _mm_unpacklo_epi16(y, cb), yb1 = _mm_unpackhi_epi16(y, cb);
  const __m128i yr0 = _mm_unpacklo_epi16(y, cr), yr1 = _mm_unpackhi_epi16(y, cr);
  const __m128i c10 = _mm_unpacklo_epi16(cr, one), c11 = _mm_unpackhi_epi16(cr, one);
  auto fin = [&](__m128i a0, __m128i a1) {
    return _mm_packs_epi32(_mm_srai_epi32(a0, 14), _mm_srai_epi32(a1, 14));
  };
  *b = fin(_mm_add_epi32(_mm_madd_epi16(yb0, kb), round),
           _mm_add_epi32(_mm_madd_epi16(yb1, kb), round));
  *g = fin(_mm_add_epi32(_mm_madd_epi16(yb0, kg), _mm_madd_epi16(c10, kg2)),
           _mm_add_epi32(_mm_madd_epi16(yb1, kg), _mm_madd_epi16(c11, kg2)));
  *r = fin(_mm_add_epi32(_mm_madd_epi16(yr0, kr), round),
           _mm_add_epi32(_mm_madd_epi16(yr1, kr), round));
}

// Four pixels B,G,R,0 (one a 32-bit lane) to 12 packed bytes in the low part of the result.
inline __m128i pack_bgr4(__m128i px) {
  const __m128i lo24 = _mm_set_epi32(0, 0xFFFFFF, 0, 0xFFFFFF);
  const __m128i hi24 = _mm_set_epi32(0xFFFFFF, 0, 0xFFFFFF, 0);
  // Each 64-bit half: pixel 0 in bits 0..23, pixel 1 in bits 24..47.
  const __m128i h =
      _mm_or_si128(_mm_and_si128(px, lo24), _mm_srli_epi64(_mm_and_si128(px, hi24), 8));
  const __m128i low_half = _mm_set_epi32(0, 0, -1, -1);
  return _mm_or_si128(_mm_and_si128(h, low_half), _mm_slli_si128(_mm_srli_si128(h, 8), 6));
}

}  // namespace

void chroma_avg_sse2(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out, int n) {
  int i = 0;
  for (; i + 16 <= n; i += 16) storeu(out + i, _mm_avg_epu8(loadu(a + i), loadu(b + i)));
  if (i < n && n >= 16) {
    // The last vector overlaps the one before rather than going byte by byte.
    i = n - 16;
    storeu(out + i, _mm_avg_epu8(loadu(a + i), loadu(b + i)));
    i = n;
  }
  for (; i < n; ++i) out[i] = static_cast<std::uint8_t>((a[i] + b[i] + 1) >> 1);
  out[n] = out[n - 1];
}

void chroma_411_sse2(const std::uint8_t* src, std::uint8_t* out) {
  constexpr int kSamples = kPairChroma / 2;
  int m = 0;
  for (; m + 17 <= kSamples; m += 16) {
    const __m128i s = loadu(src + m);
    const __m128i avg = _mm_avg_epu8(s, loadu(src + m + 1));
    storeu(out + 2 * m, _mm_unpacklo_epi8(s, avg));
    storeu(out + 2 * m + 16, _mm_unpackhi_epi8(s, avg));
  }
  for (; m < kSamples; ++m) {
    const int n = m + 1 < kSamples ? m + 1 : m;
    out[2 * m] = src[m];
    out[2 * m + 1] = static_cast<std::uint8_t>((src[m] + src[n] + 1) >> 1);
  }
  out[kPairChroma] = out[kPairChroma - 1];
}

namespace detail {

void bgr_pairs_sse2(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                    std::uint8_t* out, int first, int last) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i k16 = _mm_set1_epi16(16);
  for (int p = first; p < last; p += 8) {
    __m128i cb0, cb1, cr0, cr1;
    pixel_chroma(cb + p, &cb0, &cb1);
    pixel_chroma(cr + p, &cr0, &cr1);
    const __m128i yv = loadu(y + 2 * p);
    __m128i b0, g0, r0, b1, g1, r1;
    bgr8(_mm_sub_epi16(_mm_unpacklo_epi8(yv, zero), k16), cb0, cr0, &b0, &g0, &r0);
    bgr8(_mm_sub_epi16(_mm_unpackhi_epi8(yv, zero), k16), cb1, cr1, &b1, &g1, &r1);
    const __m128i b = _mm_packus_epi16(b0, b1), g = _mm_packus_epi16(g0, g1);
    const __m128i r = _mm_packus_epi16(r0, r1);
    const __m128i bg0 = _mm_unpacklo_epi8(b, g), bg1 = _mm_unpackhi_epi8(b, g);
    const __m128i rz0 = _mm_unpacklo_epi8(r, zero), rz1 = _mm_unpackhi_epi8(r, zero);
    const __m128i px[4] = {_mm_unpacklo_epi16(bg0, rz0), _mm_unpackhi_epi16(bg0, rz0),
                           _mm_unpacklo_epi16(bg1, rz1), _mm_unpackhi_epi16(bg1, rz1)};
    std::uint8_t* o = out + 6 * p;
// 16-byte stores overlap the next group; the line's last group stores exactly 12 bytes.
#pragma GCC unroll 8
    for (int k = 0; k < 3; ++k) storeu(o + 12 * k, pack_bgr4(px[k]));
    const __m128i end4 = pack_bgr4(px[3]);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 36), end4);
    const auto tail = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(end4, 8)));
    std::memcpy(o + 44, &tail, 4);
  }
}

}  // namespace detail

void bgr_line_sse2(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                   std::uint8_t* out) {
  detail::bgr_pairs_sse2(y, cb, cr, out, 0, kPairChroma);
}

}  // namespace dv
