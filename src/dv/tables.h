#pragma once
// Constant tables of 25 Mbit/s DV video (IEC 61834-2, SMPTE 314M) shared by the decoder's stages.
// They live in this header as constexpr data so that the decoder's derived tables (code look-up,
// per-scan-position factors) are built at compile time.

#include <array>
#include <cstddef>
#include <cstdint>

namespace avikit::dv {

// Scan position to raster position (8 x row + column, row = vertical frequency), 8x8 mode: the
// usual zig-zag.
inline constexpr std::array<std::uint8_t, 64> dv_scan_88 = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Scan of the 2-4-8 mode: raster rows 0..3 hold the vertical frequencies of the sum of the two
// fields, rows 4..7 those of their difference (IEC 61834-2).
inline constexpr std::array<std::uint8_t, 64> dv_scan_248 = {
    0,  32, 1,  33, 8,  40, 2,  34, 9,  41, 16, 48, 24, 56, 17, 49, 10, 42, 3,  35, 4,  36,
    11, 43, 18, 50, 25, 57, 26, 58, 19, 51, 12, 44, 5,  37, 6,  38, 13, 45, 20, 52, 27, 59,
    28, 60, 21, 53, 14, 46, 7,  39, 15, 47, 22, 54, 29, 61, 30, 62, 23, 55, 31, 63};

// Step pattern number by [class][QNO] (IEC 61834-2 quantisation table).
inline constexpr std::array<std::array<std::uint8_t, 16>, 4> dv_quant_index = {{
    {7, 7, 6, 6, 3, 3, 2, 2, 1, 0, 0, 0, 0, 0, 0, 0},
    {9, 8, 8, 7, 7, 6, 6, 3, 3, 2, 2, 1, 0, 0, 0, 0},
    {10, 10, 9, 9, 8, 8, 7, 7, 6, 6, 3, 3, 2, 2, 1, 0},
    {12, 11, 11, 10, 10, 9, 9, 8, 8, 7, 7, 6, 6, 5, 4, 4},
}};

inline constexpr std::size_t kQuantPatterns = 13;

// Step of each of the four areas, by pattern (IEC 61834-2).
inline constexpr std::array<std::array<std::uint8_t, 4>, kQuantPatterns> quant_area_steps = {{
    {1, 1, 1, 1},
    {1, 1, 1, 2},
    {1, 1, 2, 2},
    {1, 2, 2, 4},
    {2, 2, 2, 2},
    {2, 2, 2, 4},
    {2, 2, 4, 4},
    {2, 4, 4, 8},
    {4, 4, 8, 8},
    {4, 8, 8, 16},
    {8, 8, 16, 16},
    {8, 16, 16, 32},
    {16, 16, 32, 32},
}};

// Area of a scan position: 1..5 area 0, 6..20 area 1, 21..42 area 2, 43..63 area 3.
constexpr int quant_area(int scan_pos) {
  return scan_pos <= 5 ? 0 : scan_pos <= 20 ? 1 : scan_pos <= 42 ? 2 : 3;
}

using StepTable = std::array<std::int16_t, 64>;

namespace detail {
constexpr std::array<StepTable, kQuantPatterns> make_step_tables(
    const std::array<std::uint8_t, 64>& scan) {
  std::array<StepTable, kQuantPatterns> t{};
  for (std::size_t p = 0; p < kQuantPatterns; ++p) {
    t[p][0] = 1;  // The DC always has step 1.
    for (std::size_t i = 1; i < 64; ++i) {
      t[p][scan[i]] =
          quant_area_steps[p][static_cast<std::size_t>(quant_area(static_cast<int>(i)))];
    }
  }
  return t;
}
}  // namespace detail

// Dequantisation factors by pattern, in raster order, for each mode's scan.
inline constexpr std::array<StepTable, kQuantPatterns> dv_quant_steps_88 =
    detail::make_step_tables(dv_scan_88);
inline constexpr std::array<StepTable, kQuantPatterns> dv_quant_steps_248 =
    detail::make_step_tables(dv_scan_248);

// Inverse weighting, raster order: 16384 / (w(v) w(h)) to the nearest integer with
// w(0) = 1, w(1) = C4/(4 C7 C2), w(2) = C4/(2 C6), w(3) = 1/(2 C5), w(4) = 7/8, w(5) = C4/C3,
// w(6) = C4/C2, w(7) = C4/C1 and Ck = cos(k pi/16) (IEC 61834-2 weighting); [0][0] is 32767
// because 32768 does not fit.
inline constexpr std::array<std::int16_t, 64> dv_weights_88 = {
    32767, 16705, 17734, 18205, 18725, 19266, 21407, 22725,  //
    16705, 17032, 18081, 18562, 19091, 19643, 21826, 23170,  //
    17734, 18081, 19195, 19705, 20267, 20853, 23170, 24598,  //
    18205, 18562, 19705, 20228, 20806, 21407, 23786, 25251,  //
    18725, 19091, 20267, 20806, 21400, 22018, 24465, 25972,  //
    19266, 19643, 20853, 21407, 22018, 22654, 25172, 26722,  //
    21407, 21826, 23170, 23786, 24465, 25172, 27969, 29692,  //
    22725, 23170, 24598, 25251, 25972, 26722, 29692, 31521};

// 2-4-8 mode: the vertical weight is w(2 (v mod 4)), the same for the sum and difference halves.
inline constexpr std::array<std::int16_t, 64> dv_weights_248 = {
    32767, 16705, 17734, 18205, 18725, 19266, 21407, 22725,  //
    17734, 18081, 19195, 19705, 20267, 20853, 23170, 24598,  //
    18725, 19091, 20267, 20806, 21400, 22018, 24465, 25972,  //
    21407, 21826, 23170, 23786, 24465, 25172, 27969, 29692,  //
    16384, 16705, 17734, 18205, 18725, 19266, 21407, 22725,  //
    17734, 18081, 19195, 19705, 20267, 20853, 23170, 24598,  //
    18725, 19091, 20267, 20806, 21400, 22018, 24465, 25972,  //
    21407, 21826, 23170, 23786, 24465, 25172, 27969, 29692};

// Where the five macroblocks of a video segment go (IEC 61834-2 shuffling): superblock row offset
// from the DIF sequence number, and superblock column.
inline constexpr std::array<std::uint8_t, 5> dv_sb_row_offset = {2, 6, 8, 0, 4};
inline constexpr std::array<std::uint8_t, 5> dv_sb_column = {2, 1, 3, 0, 4};

// 625/50: macroblock number k at (row r, column c) of a 3 x 9 superblock. Numbers run in a snake,
// column c holding 3c..3c+2, downward in even columns and upward in odd ones.
inline constexpr std::array<std::array<std::uint8_t, 9>, 3> dv_mb_order_625 = [] {
  std::array<std::array<std::uint8_t, 9>, 3> t{};
  for (std::size_t c = 0; c < 9; ++c) {
    for (std::size_t i = 0; i < 3; ++i) {
      const std::size_t r = c % 2 == 0 ? i : 2 - i;
      t[r][c] = static_cast<std::uint8_t>(3 * c + i);
    }
  }
  return t;
}();

// 525/60: position of macroblock k of superblock column c, x in 32-pixel units and y in 8-line
// units from the top of the superblock row. For the three 16 x 16 edge macroblocks (column 4,
// k >= 24) x is 22 (pixel 704) and y is 0, 2 or 4.
struct MbPos {
  std::uint8_t x;
  std::uint8_t y;
};
inline constexpr std::array<std::array<MbPos, 27>, 5> dv_mb_pos_525 = [] {
  std::array<std::array<MbPos, 27>, 5> t{};
  constexpr int x0[5] = {0, 4, 9, 13, 18};
  for (std::size_t c = 0; c < 5; ++c) {
    for (std::size_t kk = 0; kk < 27; ++kk) {
      const int k = static_cast<int>(kk);
      int x = 0;
      int y = 0;
      if (c % 2 == 0) {
        if (k < 24) {
          x = x0[c] + k / 6;
          y = (k / 6) % 2 == 0 ? k % 6 : 5 - k % 6;
        } else if (c == 4) {
          x = 22;
          y = 2 * (k - 24);
        } else {
          x = x0[c] + 4;
          y = k - 24;
        }
      } else if (k < 3) {
        x = x0[c];
        y = 3 + k;
      } else {
        const int q = (k - 3) / 6;
        const int p = (k - 3) % 6;
        x = x0[c] + 1 + q;
        y = q % 2 == 0 ? 5 - p : p;
      }
      t[c][kk] = MbPos{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y)};
    }
  }
  return t;
}();

}  // namespace avikit::dv
