// Two blocks at once: block 0 in the low 128-bit lane, block 1 in the high one. Every step is
// the SSE2 kernel's, lane by lane.

#include <immintrin.h>

#include "dv/idct.h"
#include "dv/idct_vector_constants.h"

namespace avikit::dv {
namespace {

using detail::RowConstants;

inline __m256i both(const std::int16_t* p) {
  return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(p)));
}
inline __m256i both32(const std::int32_t* p) {
  return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(p)));
}
inline __m256i pair(const std::int16_t* a, const std::int16_t* b) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(a))),
      _mm_load_si128(reinterpret_cast<const __m128i*>(b)), 1);
}

[[gnu::always_inline]] inline void row_half(const RowConstants& k, int h, __m256i p04, __m256i p26,
                                            __m256i p13, __m256i p57, __m256i* y) {
  const __m256i bias = both32(k.bias[h]);
  const __m256i e0 = _mm256_add_epi32(_mm256_madd_epi16(p04, both(k.e0[h])), bias);
  const __m256i e1 = _mm256_add_epi32(_mm256_madd_epi16(p04, both(k.e1[h])), bias);
  const __m256i o0 = _mm256_madd_epi16(p26, both(k.o0[h]));
  const __m256i o1 = _mm256_madd_epi16(p26, both(k.o1[h]));
  const __m256i a[4] = {_mm256_add_epi32(e0, o0), _mm256_add_epi32(e1, o1),
                        _mm256_sub_epi32(e1, o1), _mm256_sub_epi32(e0, o0)};
#pragma GCC unroll 8
  for (int j = 0; j < 4; ++j) {
    const __m256i b = _mm256_add_epi32(_mm256_madd_epi16(p13, both(k.b13[j][h])),
                                       _mm256_madd_epi16(p57, both(k.b57[j][h])));
    y[j] = _mm256_srai_epi32(_mm256_add_epi32(a[j], b), 11);
    y[7 - j] = _mm256_srai_epi32(_mm256_sub_epi32(a[j], b), 11);
  }
}

[[gnu::always_inline]] inline void transpose8(__m256i* r) {
  const __m256i a0 = _mm256_unpacklo_epi16(r[0], r[1]), a1 = _mm256_unpackhi_epi16(r[0], r[1]);
  const __m256i a2 = _mm256_unpacklo_epi16(r[2], r[3]), a3 = _mm256_unpackhi_epi16(r[2], r[3]);
  const __m256i a4 = _mm256_unpacklo_epi16(r[4], r[5]), a5 = _mm256_unpackhi_epi16(r[4], r[5]);
  const __m256i a6 = _mm256_unpacklo_epi16(r[6], r[7]), a7 = _mm256_unpackhi_epi16(r[6], r[7]);
  const __m256i b0 = _mm256_unpacklo_epi32(a0, a2), b1 = _mm256_unpackhi_epi32(a0, a2);
  const __m256i b2 = _mm256_unpacklo_epi32(a1, a3), b3 = _mm256_unpackhi_epi32(a1, a3);
  const __m256i b4 = _mm256_unpacklo_epi32(a4, a6), b5 = _mm256_unpackhi_epi32(a4, a6);
  const __m256i b6 = _mm256_unpacklo_epi32(a5, a7), b7 = _mm256_unpackhi_epi32(a5, a7);
  r[0] = _mm256_unpacklo_epi64(b0, b4);
  r[1] = _mm256_unpackhi_epi64(b0, b4);
  r[2] = _mm256_unpacklo_epi64(b1, b5);
  r[3] = _mm256_unpackhi_epi64(b1, b5);
  r[4] = _mm256_unpacklo_epi64(b2, b6);
  r[5] = _mm256_unpackhi_epi64(b2, b6);
  r[6] = _mm256_unpacklo_epi64(b3, b7);
  r[7] = _mm256_unpackhi_epi64(b3, b7);
}

// Coded amplitudes of column k of both blocks to weighted coefficients.
// (raw x step4 x weight + 16384) >> 15 is the SSE2 kernel's ((4 raw step4 x weight) >> 16 + 1) >> 1
// in one rounding multiply.
[[gnu::always_inline]] inline __m256i dequantise(const std::int16_t* c0, const BlockFactors& f0,
                                                 const std::int16_t* c1, const BlockFactors& f1,
                                                 int k) {
  const __m256i raw = pair(c0 + 8 * k, c1 + 8 * k);
  const __m256i p = _mm256_mullo_epi16(raw, pair(f0.step4 + 8 * k, f1.step4 + 8 * k));
  return _mm256_mulhrs_epi16(p, pair(f0.weight + 8 * k, f1.weight + 8 * k));
}

// Clears the first `columns` (even) columns of both blocks once they are read. Two columns a
// store: stores bound the kernel, and clearing one column a store would make half of them.
[[gnu::always_inline]] inline void clear(std::int16_t* c0, std::int16_t* c1, int columns) {
  const __m256i zero = _mm256_setzero_si256();
#pragma GCC unroll 4
  for (int k = 0; k < columns; k += 2) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(c0 + 8 * k), zero);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(c1 + 8 * k), zero);
  }
}

[[gnu::always_inline]] inline void row_pass(const RowConstants& k, std::int16_t* c0,
                                            const BlockFactors& f0, std::int16_t* c1,
                                            const BlockFactors& f1, __m256i* x) {
  __m256i c[8];
#pragma GCC unroll 8
  for (int i = 0; i < 8; ++i) c[i] = dequantise(c0, f0, c1, f1, i);
  clear(c0, c1, 8);
  __m256i lo[8];
  __m256i hi[8];
  row_half(k, 0, _mm256_unpacklo_epi16(c[0], c[4]), _mm256_unpacklo_epi16(c[2], c[6]),
           _mm256_unpacklo_epi16(c[1], c[3]), _mm256_unpacklo_epi16(c[5], c[7]), lo);
  row_half(k, 1, _mm256_unpackhi_epi16(c[0], c[4]), _mm256_unpackhi_epi16(c[2], c[6]),
           _mm256_unpackhi_epi16(c[1], c[3]), _mm256_unpackhi_epi16(c[5], c[7]), hi);
#pragma GCC unroll 8
  for (int j = 0; j < 8; ++j) x[j] = _mm256_packs_epi32(lo[j], hi[j]);
  transpose8(x);
}

[[gnu::always_inline]] inline void column_88(__m256i* x) {
  const __m256i t1c = _mm256_set1_epi16(kIdctT1), t2c = _mm256_set1_epi16(kIdctT2);
  const __m256i t3c = _mm256_set1_epi16(kIdctT3), c4c = _mm256_set1_epi16(kIdctC4);
  const __m256i t1 = _mm256_adds_epi16(x[1], _mm256_mulhi_epi16(x[7], t1c));
  const __m256i t2 = _mm256_subs_epi16(_mm256_mulhi_epi16(x[1], t1c), x[7]);
  const __m256i t3 =
      _mm256_subs_epi16(_mm256_adds_epi16(_mm256_mulhi_epi16(x[3], t3c), x[3]), x[5]);
  const __m256i t4 =
      _mm256_adds_epi16(_mm256_adds_epi16(_mm256_mulhi_epi16(x[5], t3c), x[3]), x[5]);
  const __m256i b0 = _mm256_adds_epi16(t1, t4);
  const __m256i b3 = _mm256_subs_epi16(t2, t3);
  const __m256i u = _mm256_subs_epi16(t1, t4);
  const __m256i w = _mm256_adds_epi16(t2, t3);
  __m256i b1 = _mm256_mulhi_epi16(_mm256_adds_epi16(u, w), c4c);
  b1 = _mm256_adds_epi16(b1, b1);
  __m256i b2 = _mm256_mulhi_epi16(_mm256_subs_epi16(u, w), c4c);
  b2 = _mm256_adds_epi16(b2, b2);
  const __m256i e0 = _mm256_adds_epi16(x[0], x[4]);
  const __m256i e1 = _mm256_subs_epi16(x[0], x[4]);
  const __m256i f0 = _mm256_adds_epi16(x[2], _mm256_mulhi_epi16(x[6], t2c));
  const __m256i f1 = _mm256_subs_epi16(_mm256_mulhi_epi16(x[2], t2c), x[6]);
  const __m256i a0 = _mm256_adds_epi16(e0, f0), a3 = _mm256_subs_epi16(e0, f0);
  const __m256i a1 = _mm256_adds_epi16(e1, f1), a2 = _mm256_subs_epi16(e1, f1);
  x[0] = _mm256_srai_epi16(_mm256_adds_epi16(a0, b0), 6);
  x[7] = _mm256_srai_epi16(_mm256_subs_epi16(a0, b0), 6);
  x[1] = _mm256_srai_epi16(_mm256_adds_epi16(a1, b1), 6);
  x[6] = _mm256_srai_epi16(_mm256_subs_epi16(a1, b1), 6);
  x[2] = _mm256_srai_epi16(_mm256_adds_epi16(a2, b2), 6);
  x[5] = _mm256_srai_epi16(_mm256_subs_epi16(a2, b2), 6);
  x[3] = _mm256_srai_epi16(_mm256_adds_epi16(a3, b3), 6);
  x[4] = _mm256_srai_epi16(_mm256_subs_epi16(a3, b3), 6);
}

[[gnu::always_inline]] inline void field_4(__m256i s0, __m256i s1, __m256i s2, __m256i s3,
                                           __m256i* l0, __m256i* l1, __m256i* l2, __m256i* l3) {
  const __m256i t2c = _mm256_set1_epi16(kIdctT2);
  const __m256i p = _mm256_add_epi16(s0, s2);
  const __m256i m = _mm256_sub_epi16(s0, s2);
  const __m256i q = _mm256_add_epi16(s1, _mm256_mulhi_epi16(s3, t2c));
  const __m256i r = _mm256_sub_epi16(_mm256_mulhi_epi16(s1, t2c), s3);
  *l0 = _mm256_srai_epi16(_mm256_add_epi16(p, q), 6);
  *l3 = _mm256_srai_epi16(_mm256_sub_epi16(p, q), 6);
  *l1 = _mm256_srai_epi16(_mm256_add_epi16(m, r), 6);
  *l2 = _mm256_srai_epi16(_mm256_sub_epi16(m, r), 6);
}

[[gnu::always_inline]] inline void column_248(__m256i* x) {
  const __m256i s0 = _mm256_add_epi16(x[0], x[4]), d0 = _mm256_sub_epi16(x[0], x[4]);
  const __m256i s1 = _mm256_add_epi16(x[1], x[5]), d1 = _mm256_sub_epi16(x[1], x[5]);
  const __m256i s2 = _mm256_add_epi16(x[2], x[6]), d2 = _mm256_sub_epi16(x[2], x[6]);
  const __m256i s3 = _mm256_add_epi16(x[3], x[7]), d3 = _mm256_sub_epi16(x[3], x[7]);
  field_4(s0, s1, s2, s3, &x[0], &x[2], &x[4], &x[6]);
  field_4(d0, d1, d2, d3, &x[1], &x[3], &x[5], &x[7]);
}

// Row r from the lower eight bytes, row r + 1 from the upper eight (movhps: no shuffle).
[[gnu::always_inline]] inline void store_two_rows(__m128i rows, std::uint8_t* dst,
                                                  std::ptrdiff_t stride) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), rows);
  _mm_storeh_pi(reinterpret_cast<__m64*>(dst + stride), _mm_castsi128_ps(rows));
}

[[gnu::always_inline]] inline void put8x2(const __m256i* x, std::uint8_t* dst0, std::uint8_t* dst1,
                                          std::ptrdiff_t stride) {
  const __m256i flip = _mm256_set1_epi8(static_cast<char>(0x80));
#pragma GCC unroll 8
  for (int r = 0; r < 8; r += 2) {
    const __m256i b = _mm256_xor_si256(_mm256_packs_epi16(x[r], x[r + 1]), flip);
    const __m128i lo = _mm256_castsi256_si128(b);
    const __m128i hi = _mm256_extracti128_si256(b, 1);
    store_two_rows(lo, dst0 + r * stride, stride);
    store_two_rows(hi, dst1 + r * stride, stride);
  }
}

// The low kernel (see idct_sse2.cpp): columns 0..3 and rows 0..3 of both blocks hold everything.
[[gnu::always_inline]] inline void row_pass_low(std::int16_t* c0, const BlockFactors& f0,
                                                std::int16_t* c1, const BlockFactors& f1,
                                                __m256i* x) {
  const RowConstants& k = detail::kRows88;
  const __m256i zero = _mm256_setzero_si256();
  const __m256i d0 = dequantise(c0, f0, c1, f1, 0), d1 = dequantise(c0, f0, c1, f1, 1);
  const __m256i d2 = dequantise(c0, f0, c1, f1, 2), d3 = dequantise(c0, f0, c1, f1, 3);
  clear(c0, c1, 4);
  const __m256i p04 = _mm256_unpacklo_epi16(d0, zero), p26 = _mm256_unpacklo_epi16(d2, zero);
  const __m256i p13 = _mm256_unpacklo_epi16(d1, d3);
  const __m256i bias = both32(k.bias[0]);
  const __m256i e0 = _mm256_add_epi32(_mm256_madd_epi16(p04, both(k.e0[0])), bias);
  const __m256i e1 = _mm256_add_epi32(_mm256_madd_epi16(p04, both(k.e1[0])), bias);
  const __m256i o0 = _mm256_madd_epi16(p26, both(k.o0[0]));
  const __m256i o1 = _mm256_madd_epi16(p26, both(k.o1[0]));
  const __m256i a[4] = {_mm256_add_epi32(e0, o0), _mm256_add_epi32(e1, o1),
                        _mm256_sub_epi32(e1, o1), _mm256_sub_epi32(e0, o0)};
  __m256i y[8];
#pragma GCC unroll 8
  for (int j = 0; j < 4; ++j) {
    const __m256i b = _mm256_madd_epi16(p13, both(k.b13[j][0]));
    y[j] = _mm256_srai_epi32(_mm256_add_epi32(a[j], b), 11);
    y[7 - j] = _mm256_srai_epi32(_mm256_sub_epi32(a[j], b), 11);
  }
  const __m256i q01 = _mm256_packs_epi32(y[0], y[1]), q23 = _mm256_packs_epi32(y[2], y[3]);
  const __m256i q45 = _mm256_packs_epi32(y[4], y[5]), q67 = _mm256_packs_epi32(y[6], y[7]);
  const __m256i a02 = _mm256_unpacklo_epi16(q01, q23), a13 = _mm256_unpackhi_epi16(q01, q23);
  const __m256i a46 = _mm256_unpacklo_epi16(q45, q67), a57 = _mm256_unpackhi_epi16(q45, q67);
  const __m256i r01 = _mm256_unpacklo_epi16(a02, a13), r23 = _mm256_unpackhi_epi16(a02, a13);
  const __m256i r45 = _mm256_unpacklo_epi16(a46, a57), r67 = _mm256_unpackhi_epi16(a46, a57);
  x[0] = _mm256_unpacklo_epi64(r01, r45);
  x[1] = _mm256_unpackhi_epi64(r01, r45);
  x[2] = _mm256_unpacklo_epi64(r23, r67);
  x[3] = _mm256_unpackhi_epi64(r23, r67);
}

// The 8x8 column pass with rows 4..7 zero.
[[gnu::always_inline]] inline void column_88_low(__m256i* x) {
  const __m256i t1c = _mm256_set1_epi16(kIdctT1), t2c = _mm256_set1_epi16(kIdctT2);
  const __m256i t3c = _mm256_set1_epi16(kIdctT3), c4c = _mm256_set1_epi16(kIdctC4);
  const __m256i t1 = x[1];
  const __m256i t2 = _mm256_mulhi_epi16(x[1], t1c);
  const __m256i t3 = _mm256_adds_epi16(_mm256_mulhi_epi16(x[3], t3c), x[3]);
  const __m256i t4 = x[3];
  const __m256i b0 = _mm256_adds_epi16(t1, t4);
  const __m256i b3 = _mm256_subs_epi16(t2, t3);
  const __m256i u = _mm256_subs_epi16(t1, t4);
  const __m256i w = _mm256_adds_epi16(t2, t3);
  __m256i b1 = _mm256_mulhi_epi16(_mm256_adds_epi16(u, w), c4c);
  b1 = _mm256_adds_epi16(b1, b1);
  __m256i b2 = _mm256_mulhi_epi16(_mm256_subs_epi16(u, w), c4c);
  b2 = _mm256_adds_epi16(b2, b2);
  const __m256i f1 = _mm256_mulhi_epi16(x[2], t2c);
  const __m256i a0 = _mm256_adds_epi16(x[0], x[2]), a3 = _mm256_subs_epi16(x[0], x[2]);
  const __m256i a1 = _mm256_adds_epi16(x[0], f1), a2 = _mm256_subs_epi16(x[0], f1);
  x[0] = _mm256_srai_epi16(_mm256_adds_epi16(a0, b0), 6);
  x[7] = _mm256_srai_epi16(_mm256_subs_epi16(a0, b0), 6);
  x[1] = _mm256_srai_epi16(_mm256_adds_epi16(a1, b1), 6);
  x[6] = _mm256_srai_epi16(_mm256_subs_epi16(a1, b1), 6);
  x[2] = _mm256_srai_epi16(_mm256_adds_epi16(a2, b2), 6);
  x[5] = _mm256_srai_epi16(_mm256_subs_epi16(a2, b2), 6);
  x[3] = _mm256_srai_epi16(_mm256_adds_epi16(a3, b3), 6);
  x[4] = _mm256_srai_epi16(_mm256_subs_epi16(a3, b3), 6);
}

}  // namespace

void idct_put2_88_low_avx2(std::int16_t* coeffs0, const BlockFactors& f0, std::int16_t* coeffs1,
                           const BlockFactors& f1, std::uint8_t* dst0, std::uint8_t* dst1,
                           std::ptrdiff_t stride) {
  __m256i x[8];
  row_pass_low(coeffs0, f0, coeffs1, f1, x);
  column_88_low(x);
  put8x2(x, dst0, dst1, stride);
}

void idct_put2_88_avx2(std::int16_t* coeffs0, const BlockFactors& f0, std::int16_t* coeffs1,
                       const BlockFactors& f1, std::uint8_t* dst0, std::uint8_t* dst1,
                       std::ptrdiff_t stride) {
  __m256i x[8];
  row_pass(detail::kRows88, coeffs0, f0, coeffs1, f1, x);
  column_88(x);
  put8x2(x, dst0, dst1, stride);
}

void idct_put2_248_avx2(std::int16_t* coeffs0, const BlockFactors& f0, std::int16_t* coeffs1,
                        const BlockFactors& f1, std::uint8_t* dst0, std::uint8_t* dst1,
                        std::ptrdiff_t stride) {
  __m256i x[8];
  row_pass(detail::kRows248, coeffs0, f0, coeffs1, f1, x);
  column_248(x);
  put8x2(x, dst0, dst1, stride);
}

}  // namespace avikit::dv
