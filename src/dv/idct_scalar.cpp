#include <array>
#include <cstring>

#include "dv/cpu.h"
#include "dv/idct.h"
#include "dv/simd_helpers.h"

namespace avikit::dv {

namespace {

using detail::as_int32;
using detail::mac32;
using detail::mulhi16;
using detail::sat16;
using detail::sat_add16;
using detail::sat_sub16;
using detail::wrap_add16;
using detail::wrap_sub16;

// One row of the AP-922 row pass: 32-bit wrapping sums, >> 11 with sign, saturated to 16 bits.
void idct_row(std::int16_t* x, const std::int16_t* k, std::int32_t bias) {
  const std::int16_t q4 = k[0], q2 = k[1], q6 = k[2], q1 = k[3], q3 = k[4], q5 = k[5], q7 = k[6];
  const auto b = static_cast<std::uint32_t>(bias);
  const std::uint32_t e0 = mac32(mac32(b, q4, x[0]), q4, x[4]);
  const std::uint32_t e1 = mac32(mac32(b, q4, x[0]), static_cast<std::int16_t>(-q4), x[4]);
  const std::uint32_t o0 = mac32(mac32(0, q2, x[2]), q6, x[6]);
  const std::uint32_t o1 = mac32(mac32(0, q6, x[2]), static_cast<std::int16_t>(-q2), x[6]);
  const std::uint32_t a[4] = {e0 + o0, e1 + o1, e1 - o1, e0 - o0};
  std::uint32_t bb[4] = {};
  bb[0] = mac32(mac32(mac32(mac32(0, q1, x[1]), q3, x[3]), q5, x[5]), q7, x[7]);
  bb[1] = mac32(mac32(mac32(mac32(0, q3, x[1]), static_cast<std::int16_t>(-q7), x[3]),
                      static_cast<std::int16_t>(-q1), x[5]),
                static_cast<std::int16_t>(-q5), x[7]);
  bb[2] = mac32(mac32(mac32(mac32(0, q5, x[1]), static_cast<std::int16_t>(-q1), x[3]), q7, x[5]),
                q3, x[7]);
  bb[3] = mac32(mac32(mac32(mac32(0, q7, x[1]), static_cast<std::int16_t>(-q5), x[3]), q3, x[5]),
                static_cast<std::int16_t>(-q1), x[7]);
  for (int i = 0; i < 4; ++i) {
    x[i] = sat16(as_int32(a[i] + bb[i]) >> 11);
    x[7 - i] = sat16(as_int32(a[i] - bb[i]) >> 11);
  }
}

void row_pass(std::int16_t* block, const int* sets, const std::int32_t* biases) {
  for (int r = 0; r < 8; ++r) idct_row(block + 8 * r, kIdctSets[sets[r]], biases[r]);
}

// 8x8 column pass: saturating 16-bit arithmetic throughout.
void column_88(std::int16_t* block, int c) {
  std::int16_t x[8];
  for (int r = 0; r < 8; ++r) x[r] = block[8 * r + c];
  const std::int16_t t1 = sat_add16(x[1], mulhi16(x[7], kIdctT1));
  const std::int16_t t2 = sat_sub16(mulhi16(x[1], kIdctT1), x[7]);
  const std::int16_t t3 = sat_sub16(sat_add16(mulhi16(x[3], kIdctT3), x[3]), x[5]);
  const std::int16_t t4 = sat_add16(sat_add16(mulhi16(x[5], kIdctT3), x[3]), x[5]);
  const std::int16_t b0 = sat_add16(t1, t4);
  const std::int16_t b3 = sat_sub16(t2, t3);
  const std::int16_t u = sat_sub16(t1, t4);
  const std::int16_t w = sat_add16(t2, t3);
  std::int16_t b1 = mulhi16(sat_add16(u, w), kIdctC4);
  b1 = sat_add16(b1, b1);
  std::int16_t b2 = mulhi16(sat_sub16(u, w), kIdctC4);
  b2 = sat_add16(b2, b2);
  const std::int16_t e0 = sat_add16(x[0], x[4]);
  const std::int16_t e1 = sat_sub16(x[0], x[4]);
  const std::int16_t f0 = sat_add16(x[2], mulhi16(x[6], kIdctT2));
  const std::int16_t f1 = sat_sub16(mulhi16(x[2], kIdctT2), x[6]);
  const std::int16_t a0 = sat_add16(e0, f0), a3 = sat_sub16(e0, f0);
  const std::int16_t a1 = sat_add16(e1, f1), a2 = sat_sub16(e1, f1);
  const std::int16_t out[8] = {sat_add16(a0, b0), sat_add16(a1, b1), sat_add16(a2, b2),
                               sat_add16(a3, b3), sat_sub16(a3, b3), sat_sub16(a2, b2),
                               sat_sub16(a1, b1), sat_sub16(a0, b0)};
  for (int r = 0; r < 8; ++r) block[8 * r + c] = static_cast<std::int16_t>(out[r] >> 6);
}

// 4-point inverse transform of one field's frequencies s0..s3 into lines l0, l1, l2, l3 (the
// lines 0, 2, 4, 6 or 1, 3, 5, 7 of the block); plain wrapping 16-bit arithmetic.
void field_4(std::int16_t s0, std::int16_t s1, std::int16_t s2, std::int16_t s3, std::int16_t* l) {
  const std::int16_t p = wrap_add16(s0, s2);
  const std::int16_t m = wrap_sub16(s0, s2);
  const std::int16_t q = wrap_add16(s1, mulhi16(s3, kIdctT2));
  const std::int16_t r = wrap_sub16(mulhi16(s1, kIdctT2), s3);
  l[0] = static_cast<std::int16_t>(wrap_add16(p, q) >> 6);
  l[3] = static_cast<std::int16_t>(wrap_sub16(p, q) >> 6);
  l[1] = static_cast<std::int16_t>(wrap_add16(m, r) >> 6);
  l[2] = static_cast<std::int16_t>(wrap_sub16(m, r) >> 6);
}

// 2-4-8 column pass: rows 0..3 are the sum field's frequencies, rows 4..7 the difference's.
void column_248(std::int16_t* block, int c) {
  std::int16_t x[8];
  for (int r = 0; r < 8; ++r) x[r] = block[8 * r + c];
  std::int16_t even[4];
  std::int16_t odd[4];
  field_4(wrap_add16(x[0], x[4]), wrap_add16(x[1], x[5]), wrap_add16(x[2], x[6]),
          wrap_add16(x[3], x[7]), even);
  field_4(wrap_sub16(x[0], x[4]), wrap_sub16(x[1], x[5]), wrap_sub16(x[2], x[6]),
          wrap_sub16(x[3], x[7]), odd);
  for (int i = 0; i < 4; ++i) {
    block[8 * (2 * i) + c] = even[i];
    block[8 * (2 * i + 1) + c] = odd[i];
  }
}

void put_rows(const std::int16_t* raster, std::uint8_t* dst, std::ptrdiff_t stride) {
  for (int r = 0; r < 8; ++r) {
    for (int c = 0; c < 8; ++c) dst[r * stride + c] = detail::clamp_u8(raster[8 * r + c] + 128);
  }
}

void transpose(const std::int16_t* in, std::int16_t* out) {
  for (int r = 0; r < 8; ++r) {
    for (int c = 0; c < 8; ++c) out[8 * r + c] = in[8 * c + r];
  }
}

}  // namespace

void dv_idct_8x8(std::int16_t* block) {
  row_pass(block, kIdctRowSet88, kIdctRowBias88);
  for (int c = 0; c < 8; ++c) column_88(block, c);
}

void dv_idct_248(std::int16_t* block) {
  row_pass(block, kIdctRowSet248, kIdctRowBias248);
  for (int c = 0; c < 8; ++c) column_248(block, c);
}

namespace {

// Weighted coefficients of a put kernel's input, still transposed; clears the input.
void dequantise(std::int16_t* coeffs, const BlockFactors& f, std::int16_t* out) {
  for (std::size_t i = 0; i < 64; ++i) {
    out[i] = dequant_cell(coeffs[i], f.step4[i], f.weight[i]);
    coeffs[i] = 0;
  }
}

// Rows (0..255) of a block whose only coefficient is the weighted DC: every row of the row pass
// is flat. Row 0 carries the DC through q4 = 16384 of set K4 with bias 65536; the other rows hold
// only their biases >> 11. The column pass is then the same for every column and comes down to
// these few steps.
constexpr std::array<std::uint8_t, 8> dc_rows(std::int16_t dc, bool field) {
  const std::int16_t v0 = sat16(as_int32(mac32(65536, 16384, dc)) >> 11);
  std::int16_t rows[8] = {};
  if (field) {
    // Rows after the row pass: v0, 1, 0, 1, 32, 1, 0, 1.
    const std::int16_t s0 = wrap_add16(v0, 32);
    const std::int16_t d0 = wrap_sub16(v0, 32);
    const auto even_a = static_cast<std::int16_t>(wrap_add16(s0, 2) >> 6);
    const auto even_b = static_cast<std::int16_t>(wrap_sub16(s0, 2) >> 6);
    const auto odd = static_cast<std::int16_t>(d0 >> 6);
    const std::int16_t r[8] = {even_a, odd, even_b, odd, even_a, odd, even_b, odd};
    for (int i = 0; i < 8; ++i) rows[i] = r[i];
  } else {
    // Rows after the row pass: v0, 1, 1, 0, 0, 0, 0, 0.
    const std::int16_t a0 = sat_add16(v0, 1);
    const std::int16_t a3 = sat_sub16(v0, 1);
    const auto mid = static_cast<std::int16_t>(v0 >> 6);
    const auto low = static_cast<std::int16_t>(a3 >> 6);
    const std::int16_t r[8] = {
        static_cast<std::int16_t>(sat_add16(a0, 1) >> 6), mid, mid, low, low, mid, mid,
        static_cast<std::int16_t>(sat_sub16(a0, 1) >> 6)};
    for (int i = 0; i < 8; ++i) rows[i] = r[i];
  }
  std::array<std::uint8_t, 8> out{};
  for (std::size_t r = 0; r < 8; ++r) out[r] = detail::clamp_u8(rows[r] + 128);
  return out;
}

void put_flat_rows(const std::array<std::uint8_t, 8>& rows, std::uint8_t* dst,
                   std::ptrdiff_t stride) {
  for (std::size_t r = 0; r < 8; ++r) {
    const std::uint64_t row = 0x0101010101010101ULL * rows[r];
    std::memcpy(dst + static_cast<std::ptrdiff_t>(r) * stride, &row, 8);
  }
}

// The pictures of every coded DC (-256..255), weighted as the kernels weight the DC (step 1,
// weight 32767), in both modes.
using DcTable = std::array<std::array<std::array<std::uint8_t, 8>, 512>, 2>;
constexpr DcTable make_dc_table() {
  DcTable t{};
  for (std::size_t field = 0; field < 2; ++field) {
    for (int dc = -256; dc < 256; ++dc) {
      t[field][static_cast<std::size_t>(dc + 256)] =
          dc_rows(dequant_cell(static_cast<std::int16_t>(dc), 4, 32767), field != 0);
    }
  }
  return t;
}
constexpr DcTable kDcTable = make_dc_table();

}  // namespace

void idct_put_88_scalar(std::int16_t* coeffs, const BlockFactors& f, std::uint8_t* dst,
                        std::ptrdiff_t stride) {
  std::int16_t weighted[64];
  std::int16_t block[64];
  dequantise(coeffs, f, weighted);
  transpose(weighted, block);
  dv_idct_8x8(block);
  put_rows(block, dst, stride);
}

void idct_put_248_scalar(std::int16_t* coeffs, const BlockFactors& f, std::uint8_t* dst,
                         std::ptrdiff_t stride) {
  std::int16_t weighted[64];
  std::int16_t block[64];
  dequantise(coeffs, f, weighted);
  transpose(weighted, block);
  dv_idct_248(block);
  put_rows(block, dst, stride);
}

void idct_put_dc_coded(std::int16_t dc, bool field, std::uint8_t* dst, std::ptrdiff_t stride) {
  put_flat_rows(kDcTable[field ? 1 : 0][static_cast<std::size_t>((dc + 256) & 511)], dst, stride);
}

IdctKernels idct_kernels(int level) {
  IdctKernels k{.put_88 = idct_put_88_scalar,
                .put_248 = idct_put_248_scalar,
                .put_88_low = idct_put_88_scalar,
                .dequant_exact = dequant_block_exact};
  if (level >= kSimdSse2) {
    k.put_88 = idct_put_88_sse2;
    k.put_248 = idct_put_248_sse2;
    k.put_88_low = idct_put_88_low_sse2;
    k.dequant_exact = dequant_block_exact_sse2;
  }
  if (level >= kSimdAvx2) {
    k.put2_88 = idct_put2_88_avx2;
    k.put2_248 = idct_put2_248_avx2;
    k.put2_88_low = idct_put2_88_low_avx2;
  }
  if (level >= kSimdAvx512) {
    k.put4_88 = idct_put4_88_avx512;
    k.put4_248 = idct_put4_248_avx512;
    k.put4_88_low = idct_put4_88_low_avx512;
  }
  return k;
}

}  // namespace avikit::dv
