// SSE2 versions of the row converters; the same lane arithmetic as colour_scalar.cpp.
#include <emmintrin.h>

#include <cstring>

#include "hostlib/colour_convert.h"

namespace avikit::hostlib {
namespace {

struct Chroma {
  __m128i r, gu, gv, b;  // per-pixel chroma terms
};

inline __m128i luma(__m128i y16) {
  return _mm_sub_epi16(_mm_mulhi_epu16(_mm_slli_epi16(y16, 8), _mm_set1_epi16(19077)),
                       _mm_set1_epi16(1192));
}

inline Chroma chroma(__m128i u16, __m128i v16) {
  const __m128i bias = _mm_set1_epi16(128);
  const __m128i uc = _mm_sub_epi16(u16, bias);
  const __m128i vc = _mm_sub_epi16(v16, bias);
  const __m128i us = _mm_slli_epi16(uc, 8);
  const __m128i vs = _mm_slli_epi16(vc, 8);
  Chroma c;
  c.r = _mm_mulhi_epi16(vs, _mm_set1_epi16(26149));
  c.gu = _mm_mulhi_epi16(us, _mm_set1_epi16(6419));
  c.gv = _mm_mulhi_epi16(vs, _mm_set1_epi16(13320));
  c.b = _mm_add_epi16(_mm_mulhi_epi16(us, _mm_set1_epi16(282)), _mm_slli_epi16(uc, 7));
  return c;
}

inline __m128i finish(__m128i x) {
  return _mm_srai_epi16(_mm_adds_epi16(x, _mm_set1_epi16(32)), 6);
}

// Eight pixels of one channel triple, as 16-bit lanes.
struct Bgr16 {
  __m128i b, g, r;
};

inline Bgr16 combine(__m128i yv, const Chroma& c) {
  Bgr16 o;
  o.b = finish(_mm_adds_epi16(yv, c.b));
  o.g = finish(_mm_subs_epi16(_mm_subs_epi16(yv, c.gu), c.gv));
  o.r = finish(_mm_adds_epi16(yv, c.r));
  return o;
}

// Four B G R 0 pixels (one per 32-bit lane) to 12 contiguous bytes in the low part.
inline __m128i squeeze4(__m128i p) {
  const __m128i low_dword = _mm_set_epi32(0, -1, 0, -1);
  const __m128i high_dword = _mm_set_epi32(-1, 0, -1, 0);
  const __m128i w =
      _mm_or_si128(_mm_and_si128(p, low_dword), _mm_srli_epi64(_mm_and_si128(p, high_dword), 8));
  const __m128i low_half = _mm_set_epi32(0, 0, -1, -1);
  return _mm_or_si128(_mm_and_si128(w, low_half), _mm_slli_si128(_mm_srli_si128(w, 8), 6));
}

// Writes 16 pixels (48 bytes) from 8-bit B, G, R vectors.
inline void store48(std::uint8_t* dst, __m128i b, __m128i g, __m128i r) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bg_lo = _mm_unpacklo_epi8(b, g);
  const __m128i bg_hi = _mm_unpackhi_epi8(b, g);
  const __m128i r_lo = _mm_unpacklo_epi8(r, zero);
  const __m128i r_hi = _mm_unpackhi_epi8(r, zero);
  // Overlapping stores, each fixing the four spare bytes of the one before; the last one is
  // exactly 12 bytes so nothing past the 48 is touched.
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), squeeze4(_mm_unpacklo_epi16(bg_lo, r_lo)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 12), squeeze4(_mm_unpackhi_epi16(bg_lo, r_lo)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 24), squeeze4(_mm_unpacklo_epi16(bg_hi, r_hi)));
  const __m128i last = squeeze4(_mm_unpackhi_epi16(bg_hi, r_hi));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 36), last);
  const int tail = _mm_cvtsi128_si32(_mm_srli_si128(last, 8));
  std::memcpy(dst + 44, &tail, 4);
}

inline void store_pixels(std::uint8_t* dst, const Bgr16& lo, const Bgr16& hi) {
  store48(dst, _mm_packus_epi16(lo.b, hi.b), _mm_packus_epi16(lo.g, hi.g),
          _mm_packus_epi16(lo.r, hi.r));
}

// Chroma of four pixel pairs spread to eight pixels.
inline Chroma spread_low(const Chroma& c) {
  return {_mm_unpacklo_epi16(c.r, c.r), _mm_unpacklo_epi16(c.gu, c.gu),
          _mm_unpacklo_epi16(c.gv, c.gv), _mm_unpacklo_epi16(c.b, c.b)};
}
inline Chroma spread_high(const Chroma& c) {
  return {_mm_unpackhi_epi16(c.r, c.r), _mm_unpackhi_epi16(c.gu, c.gu),
          _mm_unpackhi_epi16(c.gv, c.gv), _mm_unpackhi_epi16(c.b, c.b)};
}

// Eight packed 4:2:2 pixels (16 bytes) to 16-bit B, G, R.
inline Bgr16 packed8(__m128i x, bool yuy2) {
  const __m128i low_bytes = _mm_set1_epi16(0x00FF);
  const __m128i y16 = yuy2 ? _mm_and_si128(x, low_bytes) : _mm_srli_epi16(x, 8);
  const __m128i uv = yuy2 ? _mm_srli_epi16(x, 8) : _mm_and_si128(x, low_bytes);
  const __m128i low_word = _mm_set1_epi32(0x0000FFFF);
  const __m128i u = _mm_or_si128(_mm_and_si128(uv, low_word), _mm_slli_epi32(uv, 16));
  const __m128i v = _mm_or_si128(_mm_srli_epi32(uv, 16), _mm_andnot_si128(low_word, uv));
  return combine(luma(y16), chroma(u, v));
}

}  // namespace

void yuv420_row_sse2(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
                     std::uint8_t* bgr, int width) {
  const __m128i zero = _mm_setzero_si128();
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i y8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
    const __m128i u8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + x / 2));
    const __m128i v8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x / 2));
    const Chroma c = chroma(_mm_unpacklo_epi8(u8, zero), _mm_unpacklo_epi8(v8, zero));
    const Bgr16 lo = combine(luma(_mm_unpacklo_epi8(y8, zero)), spread_low(c));
    const Bgr16 hi = combine(luma(_mm_unpackhi_epi8(y8, zero)), spread_high(c));
    store_pixels(bgr + 3 * x, lo, hi);
  }
  if (x < width) yuv420_row_scalar(y + x, u + x / 2, v + x / 2, bgr + 3 * x, width - x);
}

void packed422_row_sse2(const std::uint8_t* src, std::uint8_t* bgr, int width, bool yuy2) {
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * x));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * x + 16));
    store_pixels(bgr + 3 * x, packed8(a, yuy2), packed8(b, yuy2));
  }
  if (x < width) packed422_row_scalar(src + 2 * x, bgr + 3 * x, width - x, yuy2);
}

}  // namespace avikit::hostlib
