#include <immintrin.h>

#include <cstdint>

#include "dv/colour.h"

namespace dv {
namespace {

inline __m128i load16(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }

// B, G, R of the 16 pixels from x on, as int16 in pixel order (saturated from the 32-bit sums
// >> 14). Unpacking to pairs and packing back works within 128-bit lanes, so the order holds.
[[gnu::always_inline]] inline void bgr16(const std::uint8_t* y, const std::int8_t* cb,
                                         const std::int8_t* cr, int x, __m256i* b, __m256i* g,
                                         __m256i* r) {
  const __m256i ky = _mm256_set1_epi32(kLumaOffsetFactor << 16 | kLumaFactor);
  const __m256i kb = _mm256_set1_epi32(kCbToBlue);
  const __m256i kg =
      _mm256_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(kCrToGreen) << 16 |
                                         (static_cast<std::uint32_t>(kCbToGreen) & 0xFFFF)));
  const __m256i kr = _mm256_set1_epi32(kCrToRed << 16);
  const __m256i minus16 = _mm256_set1_epi16(-16);
  const __m256i luma = _mm256_cvtepu8_epi16(load16(y + x));
  // Pixel x's colour-difference input is d[x] + d[x + 1] (dv/colour.h).
  const __m256i vb = _mm256_add_epi16(_mm256_cvtepi8_epi16(load16(cb + x)),
                                      _mm256_cvtepi8_epi16(load16(cb + x + 1)));
  const __m256i vr = _mm256_add_epi16(_mm256_cvtepi8_epi16(load16(cr + x)),
                                      _mm256_cvtepi8_epi16(load16(cr + x + 1)));
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

// The 32 pixels from x on, as 96 bytes at out + 3x.
[[gnu::always_inline]] inline void bgr32(const std::uint8_t* y, const std::int8_t* cb,
                                         const std::int8_t* cr, int x, std::uint8_t* out) {
  __m256i b0, g0, r0, b1, g1, r1;
  bgr16(y, cb, cr, x, &b0, &g0, &r0);
  bgr16(y, cb, cr, x + 16, &b1, &g1, &r1);
  const __m256i b = bytes32(b0, b1), g = bytes32(g0, g1), r = bytes32(r0, r1);
  __m256i o[3];
#pragma GCC unroll 3
  for (int c = 0; c < 3; ++c) {
    o[c] = _mm256_or_si256(
        _mm256_or_si256(_mm256_shuffle_epi8(b, mask(c, 0)), _mm256_shuffle_epi8(g, mask(c, 1))),
        _mm256_shuffle_epi8(r, mask(c, 2)));
  }
  // Chunk c of the low lane holds output bytes 16c..16c+15, of the high lane 48 + 16c on.
  auto* dst = reinterpret_cast<__m256i*>(out + 3 * x);
  _mm256_storeu_si256(dst, _mm256_permute2x128_si256(o[0], o[1], 0x20));
  _mm256_storeu_si256(dst + 1, _mm256_permute2x128_si256(o[2], o[0], 0x30));
  _mm256_storeu_si256(dst + 2, _mm256_permute2x128_si256(o[1], o[2], 0x31));
}

}  // namespace

void bgr_line_avx2(const std::uint8_t* y, const std::int8_t* cb, const std::int8_t* cr,
                   std::uint8_t* out) {
  constexpr int kLast = kDvWidth - 32;
  for (int x = 0; x < kLast; x += 32) bgr32(y, cb, cr, x, out);
  // The last 32 pixels overlap the step before rather than going narrower.
  bgr32(y, cb, cr, kLast, out);
}

}  // namespace dv
