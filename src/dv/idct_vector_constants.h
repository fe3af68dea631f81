#pragma once
// Constants of the vector transforms. Coefficients arrive transposed: register k holds column
// k, one row per lane, so the row pass is lane-parallel with per-lane constant pairs for
// pmaddwd; one 8x8 transpose then hands the column pass one row per register.

#include <cstdint>

#include "dv/idct.h"

namespace avikit {

namespace dv::detail {

// Constant pairs for pmaddwd, per half (rows 0..3, rows 4..7) and product.
struct RowConstants {
  alignas(16) std::int16_t e0[2][8];      // (x0, x4) . (q4, q4)
  alignas(16) std::int16_t e1[2][8];      // (x0, x4) . (q4, -q4)
  alignas(16) std::int16_t o0[2][8];      // (x2, x6) . (q2, q6)
  alignas(16) std::int16_t o1[2][8];      // (x2, x6) . (q6, -q2)
  alignas(16) std::int16_t b13[4][2][8];  // (x1, x3) for b0..b3
  alignas(16) std::int16_t b57[4][2][8];  // (x5, x7) for b0..b3
  alignas(16) std::int32_t bias[2][4];
};

constexpr RowConstants make_row_constants(const int* sets, const std::int32_t* biases) {
  RowConstants c{};
  for (int h = 0; h < 2; ++h) {
    for (int i = 0; i < 4; ++i) {
      const int r = 4 * h + i;
      const std::int16_t* k = kIdctSets[sets[r]];
      const std::int16_t q4 = k[0], q2 = k[1], q6 = k[2], q1 = k[3], q3 = k[4], q5 = k[5],
                         q7 = k[6];
      auto neg = [](std::int16_t v) { return static_cast<std::int16_t>(-v); };
      auto put = [&](std::int16_t(&dst)[2][8], std::int16_t a, std::int16_t b) {
        dst[h][2 * i] = a;
        dst[h][2 * i + 1] = b;
      };
      put(c.e0, q4, q4);
      put(c.e1, q4, neg(q4));
      put(c.o0, q2, q6);
      put(c.o1, q6, neg(q2));
      put(c.b13[0], q1, q3);
      put(c.b57[0], q5, q7);
      put(c.b13[1], q3, neg(q7));
      put(c.b57[1], neg(q1), neg(q5));
      put(c.b13[2], q5, neg(q1));
      put(c.b57[2], q7, q3);
      put(c.b13[3], q7, neg(q5));
      put(c.b57[3], q3, neg(q1));
      c.bias[h][i] = biases[r];
    }
  }
  return c;
}

inline constexpr RowConstants kRows88 = make_row_constants(kIdctRowSet88, kIdctRowBias88);
inline constexpr RowConstants kRows248 = make_row_constants(kIdctRowSet248, kIdctRowBias248);

}  // namespace dv::detail

}  // namespace avikit
