// AVX2 versions of the row converters; the same lane arithmetic as colour_scalar.cpp.
#include <immintrin.h>

#include "hostlib/colour_convert.h"

namespace avikit::hostlib {
namespace {

struct Chroma {
  __m256i r, gu, gv, b;
};

struct Bgr16 {
  __m256i b, g, r;
};

inline __m256i luma(__m256i y16) {
  return _mm256_sub_epi16(_mm256_mulhi_epu16(_mm256_slli_epi16(y16, 8), _mm256_set1_epi16(19077)),
                          _mm256_set1_epi16(1192));
}

inline Chroma chroma(__m256i u16, __m256i v16) {
  const __m256i bias = _mm256_set1_epi16(128);
  const __m256i uc = _mm256_sub_epi16(u16, bias);
  const __m256i vc = _mm256_sub_epi16(v16, bias);
  const __m256i us = _mm256_slli_epi16(uc, 8);
  const __m256i vs = _mm256_slli_epi16(vc, 8);
  Chroma c;
  c.r = _mm256_mulhi_epi16(vs, _mm256_set1_epi16(26149));
  c.gu = _mm256_mulhi_epi16(us, _mm256_set1_epi16(6419));
  c.gv = _mm256_mulhi_epi16(vs, _mm256_set1_epi16(13320));
  c.b = _mm256_add_epi16(_mm256_mulhi_epi16(us, _mm256_set1_epi16(282)), _mm256_slli_epi16(uc, 7));
  return c;
}

inline __m256i finish(__m256i x) {
  return _mm256_srai_epi16(_mm256_adds_epi16(x, _mm256_set1_epi16(32)), 6);
}

inline Bgr16 combine(__m256i yv, const Chroma& c) {
  return {finish(_mm256_adds_epi16(yv, c.b)),
          finish(_mm256_subs_epi16(_mm256_subs_epi16(yv, c.gu), c.gv)),
          finish(_mm256_adds_epi16(yv, c.r))};
}

// 16-bit lanes of pixels 0-15 and 16-31 to 32 bytes in pixel order.
inline __m256i pack_ordered(__m256i lo, __m256i hi) {
  return _mm256_permute4x64_epi64(_mm256_packus_epi16(lo, hi), 0xD8);
}

// Interleaves 32 pixels of B, G, R bytes into 96 bytes. Each 128-bit lane carries 16 pixels;
// byte shuffles place each channel's bytes at their output positions.
inline void store96(std::uint8_t* dst, __m256i b, __m256i g, __m256i r) {
  const __m256i mb0 = _mm256_setr_epi8(0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1, 5, 0,
                                       -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1, 5);
  const __m256i mg0 = _mm256_setr_epi8(-1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1,
                                       -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1);
  const __m256i mr0 = _mm256_setr_epi8(-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1,
                                       -1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1);
  const __m256i mb1 = _mm256_setr_epi8(-1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10, -1,
                                       -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10, -1);
  const __m256i mg1 = _mm256_setr_epi8(5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10, 5,
                                       -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10);
  const __m256i mr1 = _mm256_setr_epi8(-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1,
                                       -1, 5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1);
  const __m256i mb2 =
      _mm256_setr_epi8(-1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1, -1, -1, 11, -1,
                       -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1, -1);
  const __m256i mg2 =
      _mm256_setr_epi8(-1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1, -1, -1, 11,
                       -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1);
  const __m256i mr2 =
      _mm256_setr_epi8(10, -1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, 10, -1, -1,
                       11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15);
  const __m256i o0 =
      _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(b, mb0), _mm256_shuffle_epi8(g, mg0)),
                      _mm256_shuffle_epi8(r, mr0));
  const __m256i o1 =
      _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(b, mb1), _mm256_shuffle_epi8(g, mg1)),
                      _mm256_shuffle_epi8(r, mr1));
  const __m256i o2 =
      _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(b, mb2), _mm256_shuffle_epi8(g, mg2)),
                      _mm256_shuffle_epi8(r, mr2));
  // Lane 0 of o0/o1/o2 is bytes 0-47, lane 1 is bytes 48-95.
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), _mm256_permute2x128_si256(o0, o1, 0x20));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 32),
                      _mm256_permute2x128_si256(o2, o0, 0x30));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 64),
                      _mm256_permute2x128_si256(o1, o2, 0x31));
}

inline void store_pixels(std::uint8_t* dst, const Bgr16& lo, const Bgr16& hi) {
  store96(dst, pack_ordered(lo.b, hi.b), pack_ordered(lo.g, hi.g), pack_ordered(lo.r, hi.r));
}

// Sixteen packed 4:2:2 pixels (32 bytes) to 16-bit B, G, R in pixel order.
inline Bgr16 packed16(__m256i x, bool yuy2) {
  const __m256i low_bytes = _mm256_set1_epi16(0x00FF);
  const __m256i y16 = yuy2 ? _mm256_and_si256(x, low_bytes) : _mm256_srli_epi16(x, 8);
  const __m256i uv = yuy2 ? _mm256_srli_epi16(x, 8) : _mm256_and_si256(x, low_bytes);
  const __m256i low_word = _mm256_set1_epi32(0x0000FFFF);
  const __m256i u = _mm256_or_si256(_mm256_and_si256(uv, low_word), _mm256_slli_epi32(uv, 16));
  const __m256i v = _mm256_or_si256(_mm256_srli_epi32(uv, 16), _mm256_andnot_si256(low_word, uv));
  return combine(luma(y16), chroma(u, v));
}

}  // namespace

void yuv420_row_avx2(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
                     std::uint8_t* bgr, int width) {
  int x = 0;
  for (; x + 32 <= width; x += 32) {
    const __m256i y0 =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x)));
    const __m256i y1 =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x + 16)));
    const Chroma c =
        chroma(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u + x / 2))),
               _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + x / 2))));
    // unpack works inside lanes: pairs 0-3 | 8-11 and 4-7 | 12-15, reordered to 0-7 and 8-15.
    auto spread = [](__m256i t, bool high) {
      const __m256i a = _mm256_unpacklo_epi16(t, t);
      const __m256i b = _mm256_unpackhi_epi16(t, t);
      return high ? _mm256_permute2x128_si256(a, b, 0x31) : _mm256_permute2x128_si256(a, b, 0x20);
    };
    const Chroma lo_c{spread(c.r, false), spread(c.gu, false), spread(c.gv, false),
                      spread(c.b, false)};
    const Chroma hi_c{spread(c.r, true), spread(c.gu, true), spread(c.gv, true), spread(c.b, true)};
    store_pixels(bgr + 3 * x, combine(luma(y0), lo_c), combine(luma(y1), hi_c));
  }
  if (x < width) yuv420_row_sse2(y + x, u + x / 2, v + x / 2, bgr + 3 * x, width - x);
}

void packed422_row_avx2(const std::uint8_t* src, std::uint8_t* bgr, int width, bool yuy2) {
  int x = 0;
  for (; x + 32 <= width; x += 32) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 2 * x));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 2 * x + 32));
    store_pixels(bgr + 3 * x, packed16(a, yuy2), packed16(b, yuy2));
  }
  if (x < width) packed422_row_sse2(src + 2 * x, bgr + 3 * x, width - x, yuy2);
}

}  // namespace avikit::hostlib
