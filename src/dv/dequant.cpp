// Factor tables of the put kernels' dequantisation and weighting, derived from the step patterns,
// scans and weights of dv/tables.h, and the exact per-block dequantisation for the rare blocks
// that need saturation.

#include <array>

#include "dv/idct.h"
#include "dv/tables.h"

namespace avikit::dv {
namespace {

constexpr BlockFactors make_factors(const std::array<std::uint8_t, 64>& scan,
                                    const std::array<std::int16_t, 64>& weights,
                                    std::size_t pattern) {
  BlockFactors f{};
  for (std::size_t i = 0; i < 64; ++i) {
    const std::uint8_t raster = scan[i];
    const std::size_t cell = std::size_t{raster} % 8 * 8 + raster / 8U;
    const int step =
        i == 0
            ? 1
            : quant_area_steps[pattern][static_cast<std::size_t>(quant_area(static_cast<int>(i)))];
    f.step4[cell] = static_cast<std::int16_t>(4 * step);
    f.weight[cell] = weights[raster];
  }
  return f;
}

using FactorSet = std::array<BlockFactors, kQuantPatterns>;

constexpr FactorSet make_set(const std::array<std::uint8_t, 64>& scan,
                             const std::array<std::int16_t, 64>& weights) {
  FactorSet t{};
  for (std::size_t p = 0; p < kQuantPatterns; ++p) t[p] = make_factors(scan, weights, p);
  return t;
}

// step4 = 1 and weight 32767 give (4x x 32767 + 65536) >> 17, which is x for |x| <= 16384.
constexpr BlockFactors make_identity() {
  BlockFactors f{};
  for (std::size_t i = 0; i < 64; ++i) {
    f.step4[i] = 1;
    f.weight[i] = 32767;
  }
  return f;
}
constexpr BlockFactors kIdentity = make_identity();

}  // namespace

namespace detail {
constexpr std::array<FactorSet, 2> kFactorTable = {make_set(dv_scan_88, dv_weights_88),
                                                   make_set(dv_scan_248, dv_weights_248)};
}  // namespace detail

const BlockFactors& identity_factors() { return kIdentity; }

void dequant_block_exact(std::int16_t* coeffs, const BlockFactors& f) {
  // Most cells are zero, and zero stays zero.
  for (std::size_t i = 0; i < 64; ++i) {
    if (coeffs[i] != 0) coeffs[i] = dequant_cell(coeffs[i], f.step4[i], f.weight[i]);
  }
}

}  // namespace avikit::dv
