#pragma once
// DV inverse transforms: the 8x8 and the 2-4-8 (field) modes, row pass after the integer IDCT of
// Intel application note AP-922 (32-bit multiply-accumulate rows, 16-bit high-half columns).
//
// dv_idct_8x8 and dv_idct_248 are the plain reference, in place on 64 int16 in raster order.
// The decoder itself uses the "put" kernels: they take the coded amplitudes transposed (cell
// 8 x column + row, which the block decoder writes for free through its scan tables),
// dequantise and weight them, run the same integer steps, add 128, clamp to 0..255 and store
// eight rows of eight bytes.

#include <array>
#include <cstddef>
#include <cstdint>

#include "dv/tables.h"

namespace avikit::dv {

void dv_idct_8x8(std::int16_t* block);
void dv_idct_248(std::int16_t* block);

// Row coefficient sets K4, K1, K2, K3: round(32768 cos(k pi/16) cos(r pi/16)) for
// k = 4, 2, 6, 1, 3, 5, 7 (AP-922).
inline constexpr std::int16_t kIdctSets[4][7] = {
    {16384, 21407, 8867, 22725, 19266, 12873, 4520},
    {22725, 29692, 12299, 31521, 26722, 17855, 6270},
    {21407, 27969, 11585, 29692, 25172, 16819, 5906},
    {19266, 25172, 10426, 26722, 22654, 15137, 5315},
};
// Set (index into kIdctSets) and bias of each row, per mode.
inline constexpr int kIdctRowSet88[8] = {0, 1, 2, 3, 0, 3, 2, 1};
inline constexpr std::int32_t kIdctRowBias88[8] = {65536, 3597, 2260, 1203, 0, 120, 512, 512};
inline constexpr int kIdctRowSet248[8] = {0, 2, 0, 2, 0, 2, 0, 2};
inline constexpr std::int32_t kIdctRowBias248[8] = {65536, 2260, 0, 2260, 65536, 2260, 0, 2260};
// Column constants: tan(pi/16), tan(2pi/16) and tan(3pi/16) - 1 times 65536, cos(pi/4) x 32768.
inline constexpr std::int16_t kIdctT1 = 13036;
inline constexpr std::int16_t kIdctT2 = 27146;
inline constexpr std::int16_t kIdctT3 = -21746;
inline constexpr std::int16_t kIdctC4 = 23170;

// Dequantisation and inverse weighting of one block as the put kernels apply them, cell by
// cell in the coefficients' transposed order. step4 is four times the quantisation step (4 for
// the DC), weight the inverse weight. A cell holding the coded amplitude a (the DC as coded)
// becomes the reference's weighted coefficient: (mulhi(sat16(16 a x step), weight) + 1) >> 1.
struct BlockFactors {
  alignas(64) std::int16_t step4[64];
  alignas(64) std::int16_t weight[64];
};
namespace detail {
// [mode][pattern], built from dv/tables.h in dv/dequant.cpp.
extern const std::array<std::array<BlockFactors, kQuantPatterns>, 2> kFactorTable;
}  // namespace detail
// Factors of step pattern `pattern` (0..12) in mode `mode` (0 = 8x8, 1 = 2-4-8).
inline const BlockFactors& block_factors(std::uint32_t mode, std::size_t pattern) {
  return detail::kFactorTable[mode & 1][pattern];
}
// Factors that pass weighted coefficients (-8192..8191) through unchanged, for blocks whose
// coefficients were weighted beforehand by dequant_block_exact.
const BlockFactors& identity_factors();

// The factors' formula for one cell, with the reference's saturation.
constexpr std::int16_t dequant_cell(std::int16_t raw, std::int16_t step4, std::int16_t weight) {
  const std::int32_t p = std::int32_t{raw} * step4 * 4;
  const std::int32_t sat = p < -32768 ? -32768 : p > 32767 ? 32767 : p;
  return static_cast<std::int16_t>((((sat * weight) >> 16) + 1) >> 1);
}
// Whole block in place, saturation included: what the kernels need before identity_factors()
// when a block holds an amplitude of 64 or more. The scalar reference and its SSE2 twin.
void dequant_block_exact(std::int16_t* coeffs, const BlockFactors& f);
void dequant_block_exact_sse2(std::int16_t* coeffs, const BlockFactors& f);
using DequantFn = void (*)(std::int16_t* coeffs, const BlockFactors& f);

// The put kernels. coeffs: 64 coded amplitudes, transposed, left all zero on return. The vector
// kernels equal the scalar one when every raw x step4 lies in -8192..8191, which holds for coded
// amplitudes up to 63 and for identity_factors(); they skip the saturation the reference needs
// only beyond that. dst: 8 rows of 8 bytes, `stride` bytes apart.
using IdctPutFn = void (*)(std::int16_t* coeffs, const BlockFactors& f, std::uint8_t* dst,
                           std::ptrdiff_t stride);
// Two blocks of the same mode at once (the wide kernels); both use `stride`.
using IdctPut2Fn = void (*)(std::int16_t* coeffs0, const BlockFactors& f0, std::int16_t* coeffs1,
                            const BlockFactors& f1, std::uint8_t* dst0, std::uint8_t* dst1,
                            std::ptrdiff_t stride);

void idct_put_88_scalar(std::int16_t* coeffs, const BlockFactors& f, std::uint8_t* dst,
                        std::ptrdiff_t stride);
void idct_put_248_scalar(std::int16_t* coeffs, const BlockFactors& f, std::uint8_t* dst,
                         std::ptrdiff_t stride);
void idct_put_88_sse2(std::int16_t* coeffs, const BlockFactors& f, std::uint8_t* dst,
                      std::ptrdiff_t stride);
void idct_put_248_sse2(std::int16_t* coeffs, const BlockFactors& f, std::uint8_t* dst,
                       std::ptrdiff_t stride);
void idct_put2_88_avx2(std::int16_t* coeffs0, const BlockFactors& f0, std::int16_t* coeffs1,
                       const BlockFactors& f1, std::uint8_t* dst0, std::uint8_t* dst1,
                       std::ptrdiff_t stride);
// Kernels for 8x8-mode blocks whose coefficients all lie in raster rows 0..3 and columns 0..3
// (the block's last coefficient at scan position 9 at most): the same bytes as the full ones,
// without the work on what is zero. The scalar level uses idct_put_88_scalar.
void idct_put_88_low_sse2(std::int16_t* coeffs, const BlockFactors& f, std::uint8_t* dst,
                          std::ptrdiff_t stride);
void idct_put2_88_low_avx2(std::int16_t* coeffs0, const BlockFactors& f0, std::int16_t* coeffs1,
                           const BlockFactors& f1, std::uint8_t* dst0, std::uint8_t* dst1,
                           std::ptrdiff_t stride);
// The last scan position of the 8x8 mode that stays within rows 0..3 and columns 0..3.
inline constexpr int kIdctLowLastPosition = 9;

void idct_put2_248_avx2(std::int16_t* coeffs0, const BlockFactors& f0, std::int16_t* coeffs1,
                        const BlockFactors& f1, std::uint8_t* dst0, std::uint8_t* dst1,
                        std::ptrdiff_t stride);

// Four blocks of the same mode at once (the AVX-512 kernels), all with one stride. A lane of the
// 512-bit registers per block, so the two-block kernels' steps carry over lane by lane.
struct Put4Blocks {
  std::int16_t* coeffs[4];
  const BlockFactors* factors[4];
  std::uint8_t* dst[4];
};
using IdctPut4Fn = void (*)(const Put4Blocks& blocks, std::ptrdiff_t stride);
void idct_put4_88_avx512(const Put4Blocks& blocks, std::ptrdiff_t stride);
void idct_put4_88_low_avx512(const Put4Blocks& blocks, std::ptrdiff_t stride);
void idct_put4_248_avx512(const Put4Blocks& blocks, std::ptrdiff_t stride);

// A block whose only coefficient is the DC as coded (-256..255): the same bytes as the put
// kernels give, from a table of the 512 possible pictures.
void idct_put_dc_coded(std::int16_t dc, bool field, std::uint8_t* dst, std::ptrdiff_t stride);

struct IdctKernels {
  IdctPutFn put_88 = nullptr;
  IdctPutFn put_248 = nullptr;
  IdctPutFn put_88_low = nullptr;
  IdctPut2Fn put2_88 = nullptr;  // null when the instruction set has no two-block kernel
  IdctPut2Fn put2_248 = nullptr;
  IdctPut2Fn put2_88_low = nullptr;
  DequantFn dequant_exact = nullptr;
  IdctPut4Fn put4_88 = nullptr;  // null when the instruction set has no four-block kernel
  IdctPut4Fn put4_248 = nullptr;
  IdctPut4Fn put4_88_low = nullptr;
};

// The kernels for an instruction set level (see dv/cpu.h).
IdctKernels idct_kernels(int level);

}  // namespace avikit::dv
