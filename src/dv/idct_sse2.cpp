#include <emmintrin.h>

#include "dv/idct.h"
#include "dv/idct_vector_constants.h"

namespace avikit::dv {
namespace {

using detail::RowConstants;

inline __m128i ld(const std::int16_t* p) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(p));
}
inline __m128i ld32(const std::int32_t* p) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(p));
}

// Row pass for one half (h = 0: rows 0..3 from the unpacklo pairs, 1: rows 4..7).
[[gnu::always_inline]] inline void row_half(const RowConstants& k, int h, __m128i p04, __m128i p26,
                                            __m128i p13, __m128i p57,
                                            __m128i* y_lo_hi /* y0..y7, 4 x int32 each */) {
  const __m128i bias = ld32(k.bias[h]);
  const __m128i e0 = _mm_add_epi32(_mm_madd_epi16(p04, ld(k.e0[h])), bias);
  const __m128i e1 = _mm_add_epi32(_mm_madd_epi16(p04, ld(k.e1[h])), bias);
  const __m128i o0 = _mm_madd_epi16(p26, ld(k.o0[h]));
  const __m128i o1 = _mm_madd_epi16(p26, ld(k.o1[h]));
  const __m128i a[4] = {_mm_add_epi32(e0, o0), _mm_add_epi32(e1, o1), _mm_sub_epi32(e1, o1),
                        _mm_sub_epi32(e0, o0)};
#pragma GCC unroll 8
  for (int j = 0; j < 4; ++j) {
    const __m128i b =
        _mm_add_epi32(_mm_madd_epi16(p13, ld(k.b13[j][h])), _mm_madd_epi16(p57, ld(k.b57[j][h])));
    y_lo_hi[j] = _mm_srai_epi32(_mm_add_epi32(a[j], b), 11);
    y_lo_hi[7 - j] = _mm_srai_epi32(_mm_sub_epi32(a[j], b), 11);
  }
}

[[gnu::always_inline]] inline void transpose8(__m128i* r) {
  const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
  const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
  const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
  const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
  const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  r[0] = _mm_unpacklo_epi64(b0, b4);
  r[1] = _mm_unpackhi_epi64(b0, b4);
  r[2] = _mm_unpacklo_epi64(b1, b5);
  r[3] = _mm_unpackhi_epi64(b1, b5);
  r[4] = _mm_unpacklo_epi64(b2, b6);
  r[5] = _mm_unpackhi_epi64(b2, b6);
  r[6] = _mm_unpacklo_epi64(b3, b7);
  r[7] = _mm_unpackhi_epi64(b3, b7);
}

// Coded amplitudes of column k (transposed input) to weighted coefficients; clears the input.
// Within the kernels' contract raw x step4 fits in -8192..8191, so the 16-bit products and the
// doubling shift cannot overflow and the reference's saturation never applies.
[[gnu::always_inline]] inline __m128i dequantise(std::int16_t* coeffs, const BlockFactors& f,
                                                 int k) {
  const __m128i raw = ld(coeffs + 8 * k);
  _mm_store_si128(reinterpret_cast<__m128i*>(coeffs + 8 * k), _mm_setzero_si128());
  const __m128i p = _mm_slli_epi16(_mm_mullo_epi16(raw, ld(f.step4 + 8 * k)), 2);
  const __m128i hi = _mm_mulhi_epi16(p, ld(f.weight + 8 * k));
  return _mm_srai_epi16(_mm_add_epi16(hi, _mm_set1_epi16(1)), 1);
}

// Row pass on transposed coefficients; leaves row r of the result in x[r] (one column a lane).
[[gnu::always_inline]] inline void row_pass(const RowConstants& k, std::int16_t* coeffs,
                                            const BlockFactors& f, __m128i* x) {
  const __m128i c0 = dequantise(coeffs, f, 0), c1 = dequantise(coeffs, f, 1);
  const __m128i c2 = dequantise(coeffs, f, 2), c3 = dequantise(coeffs, f, 3);
  const __m128i c4 = dequantise(coeffs, f, 4), c5 = dequantise(coeffs, f, 5);
  const __m128i c6 = dequantise(coeffs, f, 6), c7 = dequantise(coeffs, f, 7);
  __m128i lo[8];
  __m128i hi[8];
  row_half(k, 0, _mm_unpacklo_epi16(c0, c4), _mm_unpacklo_epi16(c2, c6), _mm_unpacklo_epi16(c1, c3),
           _mm_unpacklo_epi16(c5, c7), lo);
  row_half(k, 1, _mm_unpackhi_epi16(c0, c4), _mm_unpackhi_epi16(c2, c6), _mm_unpackhi_epi16(c1, c3),
           _mm_unpackhi_epi16(c5, c7), hi);
#pragma GCC unroll 8
  for (int j = 0; j < 8; ++j) x[j] = _mm_packs_epi32(lo[j], hi[j]);  // output column j, by row
  transpose8(x);
}

[[gnu::always_inline]] inline void column_88(__m128i* x) {
  const __m128i t1c = _mm_set1_epi16(kIdctT1), t2c = _mm_set1_epi16(kIdctT2);
  const __m128i t3c = _mm_set1_epi16(kIdctT3), c4c = _mm_set1_epi16(kIdctC4);
  const __m128i t1 = _mm_adds_epi16(x[1], _mm_mulhi_epi16(x[7], t1c));
  const __m128i t2 = _mm_subs_epi16(_mm_mulhi_epi16(x[1], t1c), x[7]);
  const __m128i t3 = _mm_subs_epi16(_mm_adds_epi16(_mm_mulhi_epi16(x[3], t3c), x[3]), x[5]);
  const __m128i t4 = _mm_adds_epi16(_mm_adds_epi16(_mm_mulhi_epi16(x[5], t3c), x[3]), x[5]);
  const __m128i b0 = _mm_adds_epi16(t1, t4);
  const __m128i b3 = _mm_subs_epi16(t2, t3);
  const __m128i u = _mm_subs_epi16(t1, t4);
  const __m128i w = _mm_adds_epi16(t2, t3);
  __m128i b1 = _mm_mulhi_epi16(_mm_adds_epi16(u, w), c4c);
  b1 = _mm_adds_epi16(b1, b1);
  __m128i b2 = _mm_mulhi_epi16(_mm_subs_epi16(u, w), c4c);
  b2 = _mm_adds_epi16(b2, b2);
  const __m128i e0 = _mm_adds_epi16(x[0], x[4]);
  const __m128i e1 = _mm_subs_epi16(x[0], x[4]);
  const __m128i f0 = _mm_adds_epi16(x[2], _mm_mulhi_epi16(x[6], t2c));
  const __m128i f1 = _mm_subs_epi16(_mm_mulhi_epi16(x[2], t2c), x[6]);
  const __m128i a0 = _mm_adds_epi16(e0, f0), a3 = _mm_subs_epi16(e0, f0);
  const __m128i a1 = _mm_adds_epi16(e1, f1), a2 = _mm_subs_epi16(e1, f1);
  x[0] = _mm_srai_epi16(_mm_adds_epi16(a0, b0), 6);
  x[7] = _mm_srai_epi16(_mm_subs_epi16(a0, b0), 6);
  x[1] = _mm_srai_epi16(_mm_adds_epi16(a1, b1), 6);
  x[6] = _mm_srai_epi16(_mm_subs_epi16(a1, b1), 6);
  x[2] = _mm_srai_epi16(_mm_adds_epi16(a2, b2), 6);
  x[5] = _mm_srai_epi16(_mm_subs_epi16(a2, b2), 6);
  x[3] = _mm_srai_epi16(_mm_adds_epi16(a3, b3), 6);
  x[4] = _mm_srai_epi16(_mm_subs_epi16(a3, b3), 6);
}

[[gnu::always_inline]] inline void field_4(__m128i s0, __m128i s1, __m128i s2, __m128i s3,
                                           __m128i* l0, __m128i* l1, __m128i* l2, __m128i* l3) {
  const __m128i t2c = _mm_set1_epi16(kIdctT2);
  const __m128i p = _mm_add_epi16(s0, s2);
  const __m128i m = _mm_sub_epi16(s0, s2);
  const __m128i q = _mm_add_epi16(s1, _mm_mulhi_epi16(s3, t2c));
  const __m128i r = _mm_sub_epi16(_mm_mulhi_epi16(s1, t2c), s3);
  *l0 = _mm_srai_epi16(_mm_add_epi16(p, q), 6);
  *l3 = _mm_srai_epi16(_mm_sub_epi16(p, q), 6);
  *l1 = _mm_srai_epi16(_mm_add_epi16(m, r), 6);
  *l2 = _mm_srai_epi16(_mm_sub_epi16(m, r), 6);
}

[[gnu::always_inline]] inline void column_248(__m128i* x) {
  const __m128i s0 = _mm_add_epi16(x[0], x[4]), d0 = _mm_sub_epi16(x[0], x[4]);
  const __m128i s1 = _mm_add_epi16(x[1], x[5]), d1 = _mm_sub_epi16(x[1], x[5]);
  const __m128i s2 = _mm_add_epi16(x[2], x[6]), d2 = _mm_sub_epi16(x[2], x[6]);
  const __m128i s3 = _mm_add_epi16(x[3], x[7]), d3 = _mm_sub_epi16(x[3], x[7]);
  field_4(s0, s1, s2, s3, &x[0], &x[2], &x[4], &x[6]);
  field_4(d0, d1, d2, d3, &x[1], &x[3], &x[5], &x[7]);
}

// Adds 128 and clamps to 0..255 by saturating to int8 and flipping the top bit, then stores.
[[gnu::always_inline]] inline void put8(const __m128i* x, std::uint8_t* dst,
                                        std::ptrdiff_t stride) {
  const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
#pragma GCC unroll 8
  for (int r = 0; r < 8; r += 2) {
    const __m128i b = _mm_xor_si128(_mm_packs_epi16(x[r], x[r + 1]), flip);
    // Row r + 1 straight from the upper eight bytes (movhps: no shuffle).
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + r * stride), b);
    _mm_storeh_pi(reinterpret_cast<__m64*>(dst + (r + 1) * stride), _mm_castsi128_ps(b));
  }
}

// The low kernel: columns 0..3 (registers 0..3) and rows 0..3 (lanes 0..3) hold everything.
// Rows 4..7 leave the row pass as their biases >> 11, which is 0 in the 8x8 mode, so only the low
// half of the row pass runs; the (x5, x7) products and the column pass's x4..x7 terms are 0, and
// a saturating add of 0 changes nothing.
[[gnu::always_inline]] inline void row_pass_low(std::int16_t* coeffs, const BlockFactors& f,
                                                __m128i* x) {
  const RowConstants& k = detail::kRows88;
  const __m128i zero = _mm_setzero_si128();
  const __m128i c0 = dequantise(coeffs, f, 0), c1 = dequantise(coeffs, f, 1);
  const __m128i c2 = dequantise(coeffs, f, 2), c3 = dequantise(coeffs, f, 3);
  const __m128i p04 = _mm_unpacklo_epi16(c0, zero), p26 = _mm_unpacklo_epi16(c2, zero);
  const __m128i p13 = _mm_unpacklo_epi16(c1, c3);
  const __m128i bias = ld32(k.bias[0]);
  const __m128i e0 = _mm_add_epi32(_mm_madd_epi16(p04, ld(k.e0[0])), bias);
  const __m128i e1 = _mm_add_epi32(_mm_madd_epi16(p04, ld(k.e1[0])), bias);
  const __m128i o0 = _mm_madd_epi16(p26, ld(k.o0[0]));
  const __m128i o1 = _mm_madd_epi16(p26, ld(k.o1[0]));
  const __m128i a[4] = {_mm_add_epi32(e0, o0), _mm_add_epi32(e1, o1), _mm_sub_epi32(e1, o1),
                        _mm_sub_epi32(e0, o0)};
  __m128i y[8];  // output column j, rows 0..3, as int32
#pragma GCC unroll 8
  for (int j = 0; j < 4; ++j) {
    const __m128i b = _mm_madd_epi16(p13, ld(k.b13[j][0]));
    y[j] = _mm_srai_epi32(_mm_add_epi32(a[j], b), 11);
    y[7 - j] = _mm_srai_epi32(_mm_sub_epi32(a[j], b), 11);
  }
  // Columns two by two (rows 0..3 of column j, then of column j + 1), then rows 0..3 of the
  // result one per register.
  const __m128i q01 = _mm_packs_epi32(y[0], y[1]), q23 = _mm_packs_epi32(y[2], y[3]);
  const __m128i q45 = _mm_packs_epi32(y[4], y[5]), q67 = _mm_packs_epi32(y[6], y[7]);
  const __m128i a02 = _mm_unpacklo_epi16(q01, q23), a13 = _mm_unpackhi_epi16(q01, q23);
  const __m128i a46 = _mm_unpacklo_epi16(q45, q67), a57 = _mm_unpackhi_epi16(q45, q67);
  const __m128i r01 = _mm_unpacklo_epi16(a02, a13), r23 = _mm_unpackhi_epi16(a02, a13);
  const __m128i r45 = _mm_unpacklo_epi16(a46, a57), r67 = _mm_unpackhi_epi16(a46, a57);
  x[0] = _mm_unpacklo_epi64(r01, r45);
  x[1] = _mm_unpackhi_epi64(r01, r45);
  x[2] = _mm_unpacklo_epi64(r23, r67);
  x[3] = _mm_unpackhi_epi64(r23, r67);
}

// The 8x8 column pass with rows 4..7 zero.
[[gnu::always_inline]] inline void column_88_low(__m128i* x) {
  const __m128i t1c = _mm_set1_epi16(kIdctT1), t2c = _mm_set1_epi16(kIdctT2);
  const __m128i t3c = _mm_set1_epi16(kIdctT3), c4c = _mm_set1_epi16(kIdctC4);
  const __m128i t1 = x[1];
  const __m128i t2 = _mm_mulhi_epi16(x[1], t1c);
  const __m128i t3 = _mm_adds_epi16(_mm_mulhi_epi16(x[3], t3c), x[3]);
  const __m128i t4 = x[3];
  const __m128i b0 = _mm_adds_epi16(t1, t4);
  const __m128i b3 = _mm_subs_epi16(t2, t3);
  const __m128i u = _mm_subs_epi16(t1, t4);
  const __m128i w = _mm_adds_epi16(t2, t3);
  __m128i b1 = _mm_mulhi_epi16(_mm_adds_epi16(u, w), c4c);
  b1 = _mm_adds_epi16(b1, b1);
  __m128i b2 = _mm_mulhi_epi16(_mm_subs_epi16(u, w), c4c);
  b2 = _mm_adds_epi16(b2, b2);
  const __m128i f1 = _mm_mulhi_epi16(x[2], t2c);
  const __m128i a0 = _mm_adds_epi16(x[0], x[2]), a3 = _mm_subs_epi16(x[0], x[2]);
  const __m128i a1 = _mm_adds_epi16(x[0], f1), a2 = _mm_subs_epi16(x[0], f1);
  x[0] = _mm_srai_epi16(_mm_adds_epi16(a0, b0), 6);
  x[7] = _mm_srai_epi16(_mm_subs_epi16(a0, b0), 6);
  x[1] = _mm_srai_epi16(_mm_adds_epi16(a1, b1), 6);
  x[6] = _mm_srai_epi16(_mm_subs_epi16(a1, b1), 6);
  x[2] = _mm_srai_epi16(_mm_adds_epi16(a2, b2), 6);
  x[5] = _mm_srai_epi16(_mm_subs_epi16(a2, b2), 6);
  x[3] = _mm_srai_epi16(_mm_adds_epi16(a3, b3), 6);
  x[4] = _mm_srai_epi16(_mm_subs_epi16(a3, b3), 6);
}

}  // namespace

void dequant_block_exact_sse2(std::int16_t* coeffs, const BlockFactors& f) {
  const __m128i one = _mm_set1_epi16(1);
#pragma GCC unroll 8
  for (int k = 0; k < 8; ++k) {
    // raw x step4 fits 16 bits (255 x 128); four times it saturates like the reference's
    // 32-bit product clamped to 16 bits, by doubling twice with saturation.
    __m128i p = _mm_mullo_epi16(ld(coeffs + 8 * k), ld(f.step4 + 8 * k));
    p = _mm_adds_epi16(p, p);
    p = _mm_adds_epi16(p, p);
    const __m128i hi = _mm_mulhi_epi16(p, ld(f.weight + 8 * k));
    _mm_store_si128(reinterpret_cast<__m128i*>(coeffs + 8 * k),
                    _mm_srai_epi16(_mm_add_epi16(hi, one), 1));
  }
}

void idct_put_88_low_sse2(std::int16_t* coeffs, const BlockFactors& f, std::uint8_t* dst,
                          std::ptrdiff_t stride) {
  __m128i x[8];
  row_pass_low(coeffs, f, x);
  column_88_low(x);
  put8(x, dst, stride);
}

void idct_put_88_sse2(std::int16_t* coeffs, const BlockFactors& f, std::uint8_t* dst,
                      std::ptrdiff_t stride) {
  __m128i x[8];
  row_pass(detail::kRows88, coeffs, f, x);
  column_88(x);
  put8(x, dst, stride);
}

void idct_put_248_sse2(std::int16_t* coeffs, const BlockFactors& f, std::uint8_t* dst,
                       std::ptrdiff_t stride) {
  __m128i x[8];
  row_pass(detail::kRows248, coeffs, f, x);
  column_248(x);
  put8(x, dst, stride);
}

}  // namespace avikit::dv
