#include <emmintrin.h>

#include <cstring>

#include "dv/colour.h"

namespace avikit::dv {
namespace {

inline __m128i loadu(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void storeu(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }

// Sign-extends 8 signed bytes (the low or high half of v) to 16 bits.
inline __m128i widen_lo(__m128i v) { return _mm_srai_epi16(_mm_unpacklo_epi8(v, v), 8); }
inline __m128i widen_hi(__m128i v) { return _mm_srai_epi16(_mm_unpackhi_epi8(v, v), 8); }

// B, G, R of 8 pixels as int16 (saturated from the 32-bit sums >> 14): y the luma, cb and cr
// the colour-difference inputs.
inline void bgr8(__m128i y, __m128i cb, __m128i cr, __m128i* b, __m128i* g, __m128i* r) {
  const __m128i ky = _mm_set1_epi32(kLumaOffsetFactor << 16 | kLumaFactor);
  const __m128i kb = _mm_set1_epi32(kCbToBlue);
  const __m128i kg =
      _mm_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(kCrToGreen) << 16 |
                                      (static_cast<std::uint32_t>(kCbToGreen) & 0xFFFF)));
  const __m128i kr = _mm_set1_epi32(kCrToRed << 16);
  const __m128i minus16 = _mm_set1_epi16(-16);
  // (Y, -16) . (19077, 18565) = (Y - 16) x 19077 + 8192.
  const __m128i yt0 = _mm_madd_epi16(_mm_unpacklo_epi16(y, minus16), ky);
  const __m128i yt1 = _mm_madd_epi16(_mm_unpackhi_epi16(y, minus16), ky);
  const __m128i c0 = _mm_unpacklo_epi16(cb, cr), c1 = _mm_unpackhi_epi16(cb, cr);
  auto fin = [&](__m128i k) {
    return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(yt0, _mm_madd_epi16(c0, k)), 14),
                           _mm_srai_epi32(_mm_add_epi32(yt1, _mm_madd_epi16(c1, k)), 14));
  };
  *b = fin(kb);
  *g = fin(kg);
  *r = fin(kr);
}

// 16 chroma samples to 32 bytes of doubled chroma, centred on 0.
inline void put_doubled(__m128i c, std::int8_t* out) {
  c = _mm_xor_si128(c, _mm_set1_epi8(static_cast<char>(0x80)));
  storeu(out, _mm_unpacklo_epi8(c, c));
  storeu(out + 16, _mm_unpackhi_epi8(c, c));
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

void chroma_avg_sse2(const std::uint8_t* a, const std::uint8_t* b, std::int8_t* out) {
  for (int i = 0; i + 16 <= kPairChroma; i += 16) {
    put_doubled(_mm_avg_epu8(loadu(a + i), loadu(b + i)), out + 2 * i);
  }
  // The last vector overlaps the one before rather than going byte by byte.
  constexpr int kLast = kPairChroma - 16;
  put_doubled(_mm_avg_epu8(loadu(a + kLast), loadu(b + kLast)), out + 2 * kLast);
  out[kWidth] = out[kWidth - 1];
}

void chroma_411_sse2(const std::uint8_t* src, std::int8_t* out) {
  constexpr int kSamples = kPairChroma / 2;
  // Samples m..m+15 with their averages to the next ones: 64 bytes from 4m on.
  auto put16 = [&](int m) {
    const __m128i s = loadu(src + m);
    const __m128i avg = _mm_avg_epu8(s, loadu(src + m + 1));
    put_doubled(_mm_unpacklo_epi8(s, avg), out + 4 * m);
    put_doubled(_mm_unpackhi_epi8(s, avg), out + 4 * m + 32);
  };
  for (int m = 0; m + 17 <= kSamples; m += 16) put16(m);
  put16(kSamples - 17);  // overlaps the one before
  // The last sample has no next one: both its pairs take it as it is.
  const auto last = static_cast<std::int8_t>(src[kSamples - 1] - 128);
  for (int i = kWidth - 4; i <= kWidth; ++i) out[i] = last;
}

void bgr_line_sse2(const std::uint8_t* y, const std::int8_t* cb, const std::int8_t* cr,
                   std::uint8_t* out) {
  const __m128i zero = _mm_setzero_si128();
  for (int x = 0; x < kWidth; x += 16) {
    const __m128i yv = loadu(y + x);
    const __m128i b0 = loadu(cb + x), b1 = loadu(cb + x + 1);
    const __m128i r0 = loadu(cr + x), r1 = loadu(cr + x + 1);
    __m128i bl, gl, rl, bh, gh, rh;
    bgr8(_mm_unpacklo_epi8(yv, zero), _mm_add_epi16(widen_lo(b0), widen_lo(b1)),
         _mm_add_epi16(widen_lo(r0), widen_lo(r1)), &bl, &gl, &rl);
    bgr8(_mm_unpackhi_epi8(yv, zero), _mm_add_epi16(widen_hi(b0), widen_hi(b1)),
         _mm_add_epi16(widen_hi(r0), widen_hi(r1)), &bh, &gh, &rh);
    const __m128i b = _mm_packus_epi16(bl, bh), g = _mm_packus_epi16(gl, gh);
    const __m128i r = _mm_packus_epi16(rl, rh);
    const __m128i bg0 = _mm_unpacklo_epi8(b, g), bg1 = _mm_unpackhi_epi8(b, g);
    const __m128i rz0 = _mm_unpacklo_epi8(r, zero), rz1 = _mm_unpackhi_epi8(r, zero);
    const __m128i px[4] = {_mm_unpacklo_epi16(bg0, rz0), _mm_unpackhi_epi16(bg0, rz0),
                           _mm_unpacklo_epi16(bg1, rz1), _mm_unpackhi_epi16(bg1, rz1)};
    std::uint8_t* o = out + 3 * x;
    // 16-byte stores overlap the next group; the last group stores exactly 12 bytes.
#pragma GCC unroll 4
    for (int k = 0; k < 3; ++k) storeu(o + 12 * k, pack_bgr4(px[k]));
    const __m128i end4 = pack_bgr4(px[3]);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 36), end4);
    const auto tail = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(end4, 8)));
    std::memcpy(o + 44, &tail, 4);
  }
}

void bgr_line_420_sse2(const std::uint8_t* y, const ChromaRowPairs& rows, std::uint8_t* out) {
  alignas(16) std::int8_t cb[kDoubledChromaPadded];
  alignas(16) std::int8_t cr[kDoubledChromaPadded];
  chroma_avg_sse2(rows.cb_a, rows.cb_b, cb);
  chroma_avg_sse2(rows.cr_a, rows.cr_b, cr);
  bgr_line_sse2(y, cb, cr, out);
}

}  // namespace avikit::dv
