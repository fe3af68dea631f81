#include "dv/tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

using namespace avikit;

namespace avikit::dv {
namespace {

double c(int k) { return std::cos(k * M_PI / 16); }

TEST(DvTablesTest, WeightsRecomputeFromTheWeightingFunction) {
  const double w[8] = {1,
                       c(4) / (4 * c(7) * c(2)),
                       c(4) / (2 * c(6)),
                       1 / (2 * c(5)),
                       7.0 / 8,
                       c(4) / c(3),
                       c(4) / c(2),
                       c(4) / c(1)};
  for (int v = 0; v < 8; ++v) {
    for (int h = 0; h < 8; ++h) {
      const auto i = static_cast<std::size_t>(8 * v + h);
      const int w88 = v + h == 0 ? 32767 : static_cast<int>(std::lround(16384 / (w[v] * w[h])));
      const int w248 =
          v + h == 0 ? 32767 : static_cast<int>(std::lround(16384 / (w[2 * (v % 4)] * w[h])));
      EXPECT_EQ(dv_weights_88[i], w88) << v << "," << h;
      EXPECT_EQ(dv_weights_248[i], w248) << v << "," << h;
    }
  }
}

// 8x8: the zig-zag over the anti-diagonals, alternating direction. 2-4-8: every cell once, each
// sum-field coefficient followed by the difference coefficient below it.
TEST(DvTablesTest, ScansRecomputeFromTheirShapes) {
  int i = 0;
  for (int d = 0; d < 15; ++d) {
    for (int k = 0; k <= d; ++k) {
      const int row = d % 2 == 0 ? d - k : k;
      const int col = d - row;
      if (row > 7 || col > 7) continue;
      EXPECT_EQ(dv_scan_88[static_cast<std::size_t>(i++)], 8 * row + col) << "scan " << i - 1;
    }
  }
  EXPECT_EQ(std::set<int>(dv_scan_248.begin(), dv_scan_248.end()).size(), 64U);
  for (std::size_t j = 0; j < 64; j += 2) EXPECT_EQ(dv_scan_248[j + 1], dv_scan_248[j] + 32);
}

}  // namespace
}  // namespace avikit::dv
