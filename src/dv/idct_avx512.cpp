// Four blocks at once: block j in 128-bit lane j. Every step is the SSE2 kernel's, lane by lane,
// so the lane-local unpacks and packs of the two-block kernels carry over unchanged; only the
// transpose of lanes after the cell-wise dequantisation and the stores that spread the rows
// cross lanes.

// GCC 12's AVX-512 headers make their "undefined" vectors by self-initialisation, which its own
// uninitialised-use warnings report wherever they are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include "dv/idct.h"
#include "dv/idct_vector_constants.h"

namespace avikit::dv {
namespace {

using detail::RowConstants;

inline __m512i all4(const std::int16_t* p) {
  return _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(p)));
}
inline __m512i all4_32(const std::int32_t* p) {
  return _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(p)));
}
inline __m512i load64(const std::int16_t* p) { return _mm512_loadu_si512(p); }

// kOdd57: whether columns 5 and 7 may hold anything (the low kernel's blocks have them zero).
template <bool kOdd57 = true>
[[gnu::always_inline]] inline void row_half(const RowConstants& k, int h, __m512i p04, __m512i p26,
                                            __m512i p13, __m512i p57, __m512i* y) {
  const __m512i bias = all4_32(k.bias[h]);
  const __m512i e0 = _mm512_add_epi32(_mm512_madd_epi16(p04, all4(k.e0[h])), bias);
  const __m512i e1 = _mm512_add_epi32(_mm512_madd_epi16(p04, all4(k.e1[h])), bias);
  const __m512i o0 = _mm512_madd_epi16(p26, all4(k.o0[h]));
  const __m512i o1 = _mm512_madd_epi16(p26, all4(k.o1[h]));
  const __m512i a[4] = {_mm512_add_epi32(e0, o0), _mm512_add_epi32(e1, o1),
                        _mm512_sub_epi32(e1, o1), _mm512_sub_epi32(e0, o0)};
#pragma GCC unroll 8
  for (int j = 0; j < 4; ++j) {
    __m512i b = _mm512_madd_epi16(p13, all4(k.b13[j][h]));
    if constexpr (kOdd57) b = _mm512_add_epi32(b, _mm512_madd_epi16(p57, all4(k.b57[j][h])));
    y[j] = _mm512_srai_epi32(_mm512_add_epi32(a[j], b), 11);
    y[7 - j] = _mm512_srai_epi32(_mm512_sub_epi32(a[j], b), 11);
  }
}

[[gnu::always_inline]] inline void transpose8(__m512i* r) {
  const __m512i a0 = _mm512_unpacklo_epi16(r[0], r[1]), a1 = _mm512_unpackhi_epi16(r[0], r[1]);
  const __m512i a2 = _mm512_unpacklo_epi16(r[2], r[3]), a3 = _mm512_unpackhi_epi16(r[2], r[3]);
  const __m512i a4 = _mm512_unpacklo_epi16(r[4], r[5]), a5 = _mm512_unpackhi_epi16(r[4], r[5]);
  const __m512i a6 = _mm512_unpacklo_epi16(r[6], r[7]), a7 = _mm512_unpackhi_epi16(r[6], r[7]);
  const __m512i b0 = _mm512_unpacklo_epi32(a0, a2), b1 = _mm512_unpackhi_epi32(a0, a2);
  const __m512i b2 = _mm512_unpacklo_epi32(a1, a3), b3 = _mm512_unpackhi_epi32(a1, a3);
  const __m512i b4 = _mm512_unpacklo_epi32(a4, a6), b5 = _mm512_unpackhi_epi32(a4, a6);
  const __m512i b6 = _mm512_unpacklo_epi32(a5, a7), b7 = _mm512_unpackhi_epi32(a5, a7);
  r[0] = _mm512_unpacklo_epi64(b0, b4);
  r[1] = _mm512_unpackhi_epi64(b0, b4);
  r[2] = _mm512_unpacklo_epi64(b1, b5);
  r[3] = _mm512_unpackhi_epi64(b1, b5);
  r[4] = _mm512_unpacklo_epi64(b2, b6);
  r[5] = _mm512_unpackhi_epi64(b2, b6);
  r[6] = _mm512_unpacklo_epi64(b3, b7);
  r[7] = _mm512_unpackhi_epi64(b3, b7);
}

// Lane i of a[j] to lane j of out[i]: the 4 x 4 transpose of 128-bit lanes.
[[gnu::always_inline]] inline void transpose_lanes(const __m512i* a, __m512i* out) {
  const __m512i t0 = _mm512_shuffle_i64x2(a[0], a[1], _MM_SHUFFLE(1, 0, 1, 0));
  const __m512i t1 = _mm512_shuffle_i64x2(a[2], a[3], _MM_SHUFFLE(1, 0, 1, 0));
  const __m512i t2 = _mm512_shuffle_i64x2(a[0], a[1], _MM_SHUFFLE(3, 2, 3, 2));
  const __m512i t3 = _mm512_shuffle_i64x2(a[2], a[3], _MM_SHUFFLE(3, 2, 3, 2));
  out[0] = _mm512_shuffle_i64x2(t0, t1, _MM_SHUFFLE(2, 0, 2, 0));
  out[1] = _mm512_shuffle_i64x2(t0, t1, _MM_SHUFFLE(3, 1, 3, 1));
  out[2] = _mm512_shuffle_i64x2(t2, t3, _MM_SHUFFLE(2, 0, 2, 0));
  out[3] = _mm512_shuffle_i64x2(t2, t3, _MM_SHUFFLE(3, 1, 3, 1));
}

// Coded amplitudes of columns 0..n-1 of the four blocks to weighted coefficients (the AVX2
// kernels' one rounding multiply), column k of block j in lane j of c[k]. The cell-wise steps
// come first, on each block's own columns 4h..4h+3, so that only their results need moving
// across lanes. Clears the columns read.
template <int n>
[[gnu::always_inline]] inline void dequantise(const Put4Blocks& b, __m512i* c) {
  const __m512i zero = _mm512_setzero_si512();
#pragma GCC unroll 2
  for (int h = 0; h < n / 4; ++h) {
    __m512i w[4];
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) {
      const BlockFactors& f = *b.factors[j];
      const __m512i raw = load64(b.coeffs[j] + 32 * h);
      _mm512_storeu_si512(b.coeffs[j] + 32 * h, zero);
      w[j] = _mm512_mulhrs_epi16(_mm512_mullo_epi16(raw, load64(f.step4 + 32 * h)),
                                 load64(f.weight + 32 * h));
    }
    transpose_lanes(w, c + 4 * h);
  }
}

[[gnu::always_inline]] inline void row_pass(const RowConstants& k, const Put4Blocks& b,
                                            __m512i* x) {
  __m512i c[8];
  dequantise<8>(b, c);
  __m512i lo[8];
  __m512i hi[8];
  row_half(k, 0, _mm512_unpacklo_epi16(c[0], c[4]), _mm512_unpacklo_epi16(c[2], c[6]),
           _mm512_unpacklo_epi16(c[1], c[3]), _mm512_unpacklo_epi16(c[5], c[7]), lo);
  row_half(k, 1, _mm512_unpackhi_epi16(c[0], c[4]), _mm512_unpackhi_epi16(c[2], c[6]),
           _mm512_unpackhi_epi16(c[1], c[3]), _mm512_unpackhi_epi16(c[5], c[7]), hi);
#pragma GCC unroll 8
  for (int j = 0; j < 8; ++j) x[j] = _mm512_packs_epi32(lo[j], hi[j]);
  transpose8(x);
}

[[gnu::always_inline]] inline void column_88(__m512i* x) {
  const __m512i t1c = _mm512_set1_epi16(kIdctT1), t2c = _mm512_set1_epi16(kIdctT2);
  const __m512i t3c = _mm512_set1_epi16(kIdctT3), c4c = _mm512_set1_epi16(kIdctC4);
  const __m512i t1 = _mm512_adds_epi16(x[1], _mm512_mulhi_epi16(x[7], t1c));
  const __m512i t2 = _mm512_subs_epi16(_mm512_mulhi_epi16(x[1], t1c), x[7]);
  const __m512i t3 =
      _mm512_subs_epi16(_mm512_adds_epi16(_mm512_mulhi_epi16(x[3], t3c), x[3]), x[5]);
  const __m512i t4 =
      _mm512_adds_epi16(_mm512_adds_epi16(_mm512_mulhi_epi16(x[5], t3c), x[3]), x[5]);
  const __m512i b0 = _mm512_adds_epi16(t1, t4);
  const __m512i b3 = _mm512_subs_epi16(t2, t3);
  const __m512i u = _mm512_subs_epi16(t1, t4);
  const __m512i w = _mm512_adds_epi16(t2, t3);
  __m512i b1 = _mm512_mulhi_epi16(_mm512_adds_epi16(u, w), c4c);
  b1 = _mm512_adds_epi16(b1, b1);
  __m512i b2 = _mm512_mulhi_epi16(_mm512_subs_epi16(u, w), c4c);
  b2 = _mm512_adds_epi16(b2, b2);
  const __m512i e0 = _mm512_adds_epi16(x[0], x[4]);
  const __m512i e1 = _mm512_subs_epi16(x[0], x[4]);
  const __m512i f0 = _mm512_adds_epi16(x[2], _mm512_mulhi_epi16(x[6], t2c));
  const __m512i f1 = _mm512_subs_epi16(_mm512_mulhi_epi16(x[2], t2c), x[6]);
  const __m512i a0 = _mm512_adds_epi16(e0, f0), a3 = _mm512_subs_epi16(e0, f0);
  const __m512i a1 = _mm512_adds_epi16(e1, f1), a2 = _mm512_subs_epi16(e1, f1);
  x[0] = _mm512_srai_epi16(_mm512_adds_epi16(a0, b0), 6);
  x[7] = _mm512_srai_epi16(_mm512_subs_epi16(a0, b0), 6);
  x[1] = _mm512_srai_epi16(_mm512_adds_epi16(a1, b1), 6);
  x[6] = _mm512_srai_epi16(_mm512_subs_epi16(a1, b1), 6);
  x[2] = _mm512_srai_epi16(_mm512_adds_epi16(a2, b2), 6);
  x[5] = _mm512_srai_epi16(_mm512_subs_epi16(a2, b2), 6);
  x[3] = _mm512_srai_epi16(_mm512_adds_epi16(a3, b3), 6);
  x[4] = _mm512_srai_epi16(_mm512_subs_epi16(a3, b3), 6);
}

[[gnu::always_inline]] inline void field_4(__m512i s0, __m512i s1, __m512i s2, __m512i s3,
                                           __m512i* l0, __m512i* l1, __m512i* l2, __m512i* l3) {
  const __m512i t2c = _mm512_set1_epi16(kIdctT2);
  const __m512i p = _mm512_add_epi16(s0, s2);
  const __m512i m = _mm512_sub_epi16(s0, s2);
  const __m512i q = _mm512_add_epi16(s1, _mm512_mulhi_epi16(s3, t2c));
  const __m512i r = _mm512_sub_epi16(_mm512_mulhi_epi16(s1, t2c), s3);
  *l0 = _mm512_srai_epi16(_mm512_add_epi16(p, q), 6);
  *l3 = _mm512_srai_epi16(_mm512_sub_epi16(p, q), 6);
  *l1 = _mm512_srai_epi16(_mm512_add_epi16(m, r), 6);
  *l2 = _mm512_srai_epi16(_mm512_sub_epi16(m, r), 6);
}

[[gnu::always_inline]] inline void column_248(__m512i* x) {
  const __m512i s0 = _mm512_add_epi16(x[0], x[4]), d0 = _mm512_sub_epi16(x[0], x[4]);
  const __m512i s1 = _mm512_add_epi16(x[1], x[5]), d1 = _mm512_sub_epi16(x[1], x[5]);
  const __m512i s2 = _mm512_add_epi16(x[2], x[6]), d2 = _mm512_sub_epi16(x[2], x[6]);
  const __m512i s3 = _mm512_add_epi16(x[3], x[7]), d3 = _mm512_sub_epi16(x[3], x[7]);
  field_4(s0, s1, s2, s3, &x[0], &x[2], &x[4], &x[6]);
  field_4(d0, d1, d2, d3, &x[1], &x[3], &x[5], &x[7]);
}

// Row r from a lane's lower eight bytes, row r + 1 from its upper eight (movhps: no shuffle).
inline void store_two_rows(__m128i rows, std::uint8_t* dst, std::ptrdiff_t stride) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), rows);
  _mm_storeh_pi(reinterpret_cast<__m64*>(dst + stride), _mm_castsi128_ps(rows));
}

[[gnu::always_inline]] inline void put8x4(const __m512i* x, const Put4Blocks& b,
                                          std::ptrdiff_t stride) {
  const __m512i flip = _mm512_set1_epi8(static_cast<char>(0x80));
#pragma GCC unroll 8
  for (int r = 0; r < 8; r += 2) {
    const __m512i v = _mm512_xor_si512(_mm512_packs_epi16(x[r], x[r + 1]), flip);
    store_two_rows(_mm512_castsi512_si128(v), b.dst[0] + r * stride, stride);
    store_two_rows(_mm512_extracti32x4_epi32(v, 1), b.dst[1] + r * stride, stride);
    store_two_rows(_mm512_extracti32x4_epi32(v, 2), b.dst[2] + r * stride, stride);
    store_two_rows(_mm512_extracti32x4_epi32(v, 3), b.dst[3] + r * stride, stride);
  }
}

// The low kernel (see idct_sse2.cpp): columns 0..3 and rows 0..3 of every block hold everything.
[[gnu::always_inline]] inline void row_pass_low(const Put4Blocks& b, __m512i* x) {
  const RowConstants& k = detail::kRows88;
  const __m512i zero = _mm512_setzero_si512();
  __m512i d[4];
  dequantise<4>(b, d);
  const __m512i p04 = _mm512_unpacklo_epi16(d[0], zero), p26 = _mm512_unpacklo_epi16(d[2], zero);
  const __m512i p13 = _mm512_unpacklo_epi16(d[1], d[3]);
  __m512i y[8];
  row_half<false>(k, 0, p04, p26, p13, zero, y);
  const __m512i q01 = _mm512_packs_epi32(y[0], y[1]), q23 = _mm512_packs_epi32(y[2], y[3]);
  const __m512i q45 = _mm512_packs_epi32(y[4], y[5]), q67 = _mm512_packs_epi32(y[6], y[7]);
  const __m512i a02 = _mm512_unpacklo_epi16(q01, q23), a13 = _mm512_unpackhi_epi16(q01, q23);
  const __m512i a46 = _mm512_unpacklo_epi16(q45, q67), a57 = _mm512_unpackhi_epi16(q45, q67);
  const __m512i r01 = _mm512_unpacklo_epi16(a02, a13), r23 = _mm512_unpackhi_epi16(a02, a13);
  const __m512i r45 = _mm512_unpacklo_epi16(a46, a57), r67 = _mm512_unpackhi_epi16(a46, a57);
  x[0] = _mm512_unpacklo_epi64(r01, r45);
  x[1] = _mm512_unpackhi_epi64(r01, r45);
  x[2] = _mm512_unpacklo_epi64(r23, r67);
  x[3] = _mm512_unpackhi_epi64(r23, r67);
}

// The 8x8 column pass with rows 4..7 zero.
[[gnu::always_inline]] inline void column_88_low(__m512i* x) {
  const __m512i t1c = _mm512_set1_epi16(kIdctT1), t2c = _mm512_set1_epi16(kIdctT2);
  const __m512i t3c = _mm512_set1_epi16(kIdctT3), c4c = _mm512_set1_epi16(kIdctC4);
  const __m512i t1 = x[1];
  const __m512i t2 = _mm512_mulhi_epi16(x[1], t1c);
  const __m512i t3 = _mm512_adds_epi16(_mm512_mulhi_epi16(x[3], t3c), x[3]);
  const __m512i t4 = x[3];
  const __m512i b0 = _mm512_adds_epi16(t1, t4);
  const __m512i b3 = _mm512_subs_epi16(t2, t3);
  const __m512i u = _mm512_subs_epi16(t1, t4);
  const __m512i w = _mm512_adds_epi16(t2, t3);
  __m512i b1 = _mm512_mulhi_epi16(_mm512_adds_epi16(u, w), c4c);
  b1 = _mm512_adds_epi16(b1, b1);
  __m512i b2 = _mm512_mulhi_epi16(_mm512_subs_epi16(u, w), c4c);
  b2 = _mm512_adds_epi16(b2, b2);
  const __m512i f1 = _mm512_mulhi_epi16(x[2], t2c);
  const __m512i a0 = _mm512_adds_epi16(x[0], x[2]), a3 = _mm512_subs_epi16(x[0], x[2]);
  const __m512i a1 = _mm512_adds_epi16(x[0], f1), a2 = _mm512_subs_epi16(x[0], f1);
  x[0] = _mm512_srai_epi16(_mm512_adds_epi16(a0, b0), 6);
  x[7] = _mm512_srai_epi16(_mm512_subs_epi16(a0, b0), 6);
  x[1] = _mm512_srai_epi16(_mm512_adds_epi16(a1, b1), 6);
  x[6] = _mm512_srai_epi16(_mm512_subs_epi16(a1, b1), 6);
  x[2] = _mm512_srai_epi16(_mm512_adds_epi16(a2, b2), 6);
  x[5] = _mm512_srai_epi16(_mm512_subs_epi16(a2, b2), 6);
  x[3] = _mm512_srai_epi16(_mm512_adds_epi16(a3, b3), 6);
  x[4] = _mm512_srai_epi16(_mm512_subs_epi16(a3, b3), 6);
}

}  // namespace

void idct_put4_88_low_avx512(const Put4Blocks& blocks, std::ptrdiff_t stride) {
  __m512i x[8];
  row_pass_low(blocks, x);
  column_88_low(x);
  put8x4(x, blocks, stride);
}

void idct_put4_88_avx512(const Put4Blocks& blocks, std::ptrdiff_t stride) {
  __m512i x[8];
  row_pass(detail::kRows88, blocks, x);
  column_88(x);
  put8x4(x, blocks, stride);
}

void idct_put4_248_avx512(const Put4Blocks& blocks, std::ptrdiff_t stride) {
  __m512i x[8];
  row_pass(detail::kRows248, blocks, x);
  column_248(x);
  put8x4(x, blocks, stride);
}

}  // namespace avikit::dv
