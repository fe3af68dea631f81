#include <immintrin.h>

#include "dv/colour.h"

namespace dv {
namespace {

inline __m256i pixel_chroma_half(const std::uint8_t* c, bool high) {
  const __m256i k256 = _mm256_set1_epi16(256);
  const __m256i u = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c)));
  const __m256i un = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 1)));
  const __m256i left = _mm256_sub_epi16(_mm256_add_epi16(u, u), k256);
  const __m256i right = _mm256_sub_epi16(_mm256_add_epi16(u, un), k256);
  return high ? _mm256_unpackhi_epi16(left, right) : _mm256_unpacklo_epi16(left, right);
}

inline void bgr16(__m256i y, __m256i cb, __m256i cr, __m256i* b, __m256i* g, __m256i* r) {
  const __m256i kb = _mm256_set1_epi32(16525 << 16 | 19077);
  const __m256i kg = _mm256_set1_epi32(static_cast<int>(0xF377U << 16 | 19077));
  const __m256i kr = _mm256_set1_epi32(13075 << 16 | 19077);
  const __m256i kg2 = _mm256_set1_epi32(static_cast<int>(8192U << 16 | 0xE5FCU));
  const __m256i round = _mm256_set1_epi32(8192);
  const __m256i one = _mm256_set1_epi16(1);
  const __m256i yb0 = _mm256_unpacklo_epi16(y, cb), yb1 = _mm256_unpackhi_epi16(y, cb);
  const __m256i yr0 = _mm256_unpacklo_epi16(y, cr), yr1 = _mm256_unpackhi_epi16(y, cr);
  const __m256i c10 = _mm256_unpacklo_epi16(cr, one), c11 = _mm256_unpackhi_epi16(cr, one);
  auto fin = [](__m256i a0, __m256i a1) {
    return _mm256_packs_epi32(_mm256_srai_epi32(a0, 14), _mm256_srai_epi32(a1, 14));
  };
  *b = fin(_mm256_add_epi32(_mm256_madd_epi16(yb0, kb), round),
           _mm256_add_epi32(_mm256_madd_epi16(yb1, kb), round));
  *g = fin(_mm256_add_epi32(_mm256_madd_epi16(yb0, kg), _mm256_madd_epi16(c10, kg2)),
           _mm256_add_epi32(_mm256_madd_epi16(yb1, kg), _mm256_madd_epi16(c11, kg2)));
  *r = fin(_mm256_add_epi32(_mm256_madd_epi16(yr0, kr), round),
           _mm256_add_epi32(_mm256_madd_epi16(yr1, kr), round));
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

}  // namespace

void bgr_line_avx2(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                   std::uint8_t* out) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i k16 = _mm256_set1_epi16(16);
  int p = 0;
  for (; p + 16 <= kPairChroma; p += 16) {
    const __m256i yv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + 2 * p));
    __m256i b0, g0, r0, b1, g1, r1;
    bgr16(_mm256_sub_epi16(_mm256_unpacklo_epi8(yv, zero), k16), pixel_chroma_half(cb + p, false),
          pixel_chroma_half(cr + p, false), &b0, &g0, &r0);
    bgr16(_mm256_sub_epi16(_mm256_unpackhi_epi8(yv, zero), k16), pixel_chroma_half(cb + p, true),
          pixel_chroma_half(cr + p, true), &b1, &g1, &r1);
    const __m256i b = _mm256_packus_epi16(b0, b1), g = _mm256_packus_epi16(g0, g1);
    const __m256i r = _mm256_packus_epi16(r0, r1);
    __m256i o[3];
#pragma GCC unroll 8
    for (int c = 0; c < 3; ++c) {
      o[c] = _mm256_or_si256(
          _mm256_or_si256(_mm256_shuffle_epi8(b, mask(c, 0)), _mm256_shuffle_epi8(g, mask(c, 1))),
          _mm256_shuffle_epi8(r, mask(c, 2)));
    }
    auto* dst = reinterpret_cast<__m256i*>(out + 6 * p);
    _mm256_storeu_si256(dst, _mm256_permute2x128_si256(o[0], o[1], 0x20));
    _mm256_storeu_si256(dst + 1, _mm256_permute2x128_si256(o[2], o[0], 0x30));
    _mm256_storeu_si256(dst + 2, _mm256_permute2x128_si256(o[1], o[2], 0x31));
  }
  detail::bgr_pairs_sse2(y, cb, cr, out, p, kPairChroma);
}

}  // namespace dv
