#include "dv/tables.h"

#include <gtest/gtest.h>

#include <cmath>

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

}  // namespace
}  // namespace avikit::dv
