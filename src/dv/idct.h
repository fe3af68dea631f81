#pragma once
// DV inverse transforms: the 8x8 and the 2-4-8 (field) modes, row pass after the integer IDCT of
// Intel application note AP-922 (32-bit multiply-accumulate rows, 16-bit high-half columns).
//
// dv_idct_8x8 and dv_idct_248 are the plain reference, in place on 64 int16 in raster order.
// The decoder itself uses the "put" kernels: they take the coefficients transposed (cell
// 8 x column + row, which the block decoder writes for free through its scan tables), run the
// same integer steps, add 128, clamp to 0..255 and store eight rows of eight bytes.

#include <cstddef>
#include <cstdint>

void dv_idct_8x8(std::int16_t* block);
void dv_idct_248(std::int16_t* block);

namespace dv {

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

// coeffs: 64 int16, transposed. dst: 8 rows of 8 bytes, `stride` bytes apart.
using IdctPutFn = void (*)(const std::int16_t* coeffs, std::uint8_t* dst, std::ptrdiff_t stride);
// Two blocks of the same mode at once (the wide kernels); both use `stride`.
using IdctPut2Fn = void (*)(const std::int16_t* coeffs0, const std::int16_t* coeffs1,
                            std::uint8_t* dst0, std::uint8_t* dst1, std::ptrdiff_t stride);

void idct_put_88_scalar(const std::int16_t* coeffs, std::uint8_t* dst, std::ptrdiff_t stride);
void idct_put_248_scalar(const std::int16_t* coeffs, std::uint8_t* dst, std::ptrdiff_t stride);
void idct_put_88_sse2(const std::int16_t* coeffs, std::uint8_t* dst, std::ptrdiff_t stride);
void idct_put_248_sse2(const std::int16_t* coeffs, std::uint8_t* dst, std::ptrdiff_t stride);
void idct_put2_88_avx2(const std::int16_t* coeffs0, const std::int16_t* coeffs1, std::uint8_t* dst0,
                       std::uint8_t* dst1, std::ptrdiff_t stride);
void idct_put2_248_avx2(const std::int16_t* coeffs0, const std::int16_t* coeffs1,
                        std::uint8_t* dst0, std::uint8_t* dst1, std::ptrdiff_t stride);

// A block whose only coefficient is the DC (already weighted): the same bytes as the put
// kernels give, without the row pass.
void idct_put_dc(std::int16_t dc, bool field, std::uint8_t* dst, std::ptrdiff_t stride);

struct IdctKernels {
  IdctPutFn put_88;
  IdctPutFn put_248;
  IdctPut2Fn put2_88;  // null when the instruction set has no two-block kernel
  IdctPut2Fn put2_248;
};

// The kernels for an instruction set level (see dv/cpu.h).
IdctKernels idct_kernels(int level);

}  // namespace dv
