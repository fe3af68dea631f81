#include "dv/idct.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "dv/block_decode.h"
#include "dv/cpu.h"
#include "dv/tables.h"

namespace avikit::dv {
namespace {

using Block = std::array<std::int16_t, 64>;

// Kinds of input blocks for the kernel comparisons. The put kernels take coded amplitudes and
// the factors of a step pattern, or weighted coefficients and the identity factors.
enum class Fill {
  kRandom,     // every cell an amplitude up to 63, the largest the fast path hands them
  kSmall,      // a few small amplitudes
  kExtreme,    // +-63 everywhere with the largest steps
  kDcOnly,     // coded DC only, every one of them in turn (0: nothing at all)
  kWeighted,   // weighted coefficients over their whole range, identity factors
  kSaturated,  // weighted extremes that saturate the row and 8x8 column passes
};

struct Input {
  alignas(32) Block coeffs{};
  const BlockFactors* factors = nullptr;
};

Input make_input(Fill fill, bool field, bool low, std::mt19937& rng) {
  Input in;
  const auto pattern = static_cast<std::size_t>(rng() % 13);
  in.factors = &block_factors(field ? 1 : 0, fill == Fill::kExtreme ? 12 : pattern);
  if (fill == Fill::kWeighted || fill == Fill::kSaturated) in.factors = &identity_factors();
  std::uniform_int_distribution<int> amp(-63, 63), dc(-256, 255), weighted(-8192, 8191);
  const int extremes[4] = {-8192, 8191, 7880, 0};
  for (std::size_t i = 0; i < 64; ++i) {
    const bool first = i == 0;
    int v = 0;
    if (fill == Fill::kRandom) v = first ? dc(rng) : amp(rng);
    if (fill == Fill::kSmall) v = rng() % 5 == 0 ? amp(rng) / 8 : 0;
    if (fill == Fill::kExtreme) v = rng() % 2 == 0 ? (first ? -256 : -63) : (first ? 255 : 63);
    if (fill == Fill::kWeighted) v = weighted(rng);
    if (fill == Fill::kSaturated) v = extremes[rng() % 4];
    in.coeffs[i] = static_cast<std::int16_t>(low && (i / 8 >= 4 || i % 8 >= 4) ? 0 : v);
  }
  return in;
}

// `low` keeps every block within rows 0..3 and columns 0..3 (8x8 mode) and takes the low kernels.
struct KernelCase {
  Fill fill;
  bool field;
  bool low;
};

// Destination with guard bytes around an odd-strided, unaligned 8x8 window.
struct Canvas {
  static constexpr std::ptrdiff_t kStride = 21;
  static constexpr std::size_t kOffset = 37;
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kOffset + 8 * kStride + 40, 0xA5);
  std::uint8_t* at() { return bytes.data() + kOffset; }
};

class DvIdctMatchTest : public ::testing::TestWithParam<KernelCase> {};

// Four blocks, each with its own step pattern, put by the scalar kernel; the SSE2 kernel (first
// block), the AVX2 pair kernel (first two) and the AVX-512 four-block kernel must write the same
// bytes into canvases sharing a stride, touch nothing else, and clear their coefficients; so must
// the table of DC-only pictures, for every coded DC in both modes.
TEST_P(DvIdctMatchTest, SimdEqualsScalar) {
  const KernelCase kc = GetParam();
  std::mt19937 rng(static_cast<unsigned>(kc.fill) * 31 + (kc.field ? 7 : 3) + (kc.low ? 50 : 0));
  const IdctKernels ref = idct_kernels(kSimdScalar);
  const auto put1 = kc.field ? ref.put_248 : ref.put_88;
  const auto sse2 = kc.low ? idct_put_88_low_sse2 : kc.field ? idct_put_248_sse2 : idct_put_88_sse2;
  const auto avx2 = kc.low     ? idct_put2_88_low_avx2
                    : kc.field ? idct_put2_248_avx2
                               : idct_put2_88_avx2;
  const IdctKernels wide = idct_kernels(kSimdAvx512);
  const IdctPut4Fn put4 = kc.low ? wide.put4_88_low : kc.field ? wide.put4_248 : wide.put4_88;
  const int level = detected_simd_level();
  for (int n = 0; n < 400; ++n) {
    SCOPED_TRACE("case " + std::to_string(n));
    Input in[4], work[4];
    Canvas want[4], got[4];
    Put4Blocks blocks{};
    for (std::size_t b = 0; b < 4; ++b) {
      in[b] = make_input(kc.fill, kc.field, kc.low, rng);
      if (kc.fill == Fill::kDcOnly)
        in[b].coeffs[0] = static_cast<std::int16_t>((4 * n + static_cast<int>(b)) % 512 - 256);
      work[b] = in[b];
      put1(work[b].coeffs.data(), *in[b].factors, want[b].at(), Canvas::kStride);
      ASSERT_EQ(work[b].coeffs, Block{}) << "scalar";
      work[b] = in[b];
      blocks.coeffs[b] = work[b].coeffs.data();
      blocks.factors[b] = in[b].factors;
      blocks.dst[b] = got[b].at();
    }
    const auto check = [&](std::size_t count, const char* what) {
      for (std::size_t b = 0; b < count; ++b) {
        ASSERT_EQ(want[b].bytes, got[b].bytes) << what << " block " << b;
        ASSERT_EQ(work[b].coeffs, Block{}) << what << " block " << b;
        std::fill(got[b].bytes.begin(), got[b].bytes.end(), std::uint8_t{0xA5});
        work[b] = in[b];
      }
    };
    sse2(work[0].coeffs.data(), *in[0].factors, got[0].at(), Canvas::kStride);
    check(1, "sse2");
    if (kc.fill == Fill::kDcOnly) {
      // The table of DC-only pictures, which leaves the coefficients to its caller.
      for (std::size_t b = 0; b < 4; ++b) {
        idct_put_dc_coded(in[b].coeffs[0], kc.field, got[b].at(), Canvas::kStride);
        work[b].coeffs = Block{};
      }
      check(4, "dc table");
    }
    if (level >= kSimdAvx2) {
      avx2(work[0].coeffs.data(), *in[0].factors, work[1].coeffs.data(), *in[1].factors,
           got[0].at(), got[1].at(), Canvas::kStride);
      check(2, "avx2");
    }
    if (level >= kSimdAvx512) {
      ASSERT_NE(put4, nullptr);
      put4(blocks, Canvas::kStride);
      check(4, "avx512");
    }
    if (HasFailure()) return;
  }
}

std::vector<KernelCase> all_kernel_cases() {
  std::vector<KernelCase> v;
  for (Fill f : {Fill::kRandom, Fill::kSmall, Fill::kExtreme, Fill::kDcOnly, Fill::kWeighted,
                 Fill::kSaturated}) {
    v.insert(v.end(), {{f, false, false}, {f, true, false}, {f, false, true}});
  }
  return v;
}

INSTANTIATE_TEST_SUITE_P(Blocks8x8And248, DvIdctMatchTest, ::testing::ValuesIn(all_kernel_cases()));

// The kernels' factors against the reference's own steps (dv_dequantize, the DC times 16,
// dv_weight) for every pattern, mode and amplitude, saturating escapes included (the frames
// seldom tell a saturated value that is off by one); the exact weighting of blocks with big
// amplitudes, SSE2 against scalar; and the identity factors that blocks weighted beforehand take.
TEST(DvDequantTest, FactorsGiveTheReferencesWeightedCoefficients) {
  for (std::uint32_t mode = 0; mode < 2; ++mode) {
    for (std::size_t p = 0; p < kQuantPatterns; ++p) {
      const BlockFactors& f = block_factors(mode, p);
      for (int amp = -255; amp <= 255; ++amp) {
        alignas(32) Block want{};
        for (std::size_t i = 0; i < 64; ++i)
          want[i] = static_cast<std::int16_t>(i % 3 == 0 ? amp : i % 3 == 1 ? -amp / 2 : amp / 5);
        alignas(32) Block got = want;
        dequant_block_exact(want.data(), f);
        dequant_block_exact_sse2(got.data(), f);
        ASSERT_EQ(want, got) << "mode " << mode << " pattern " << p << " amp " << amp;
        Block raster;
        raster.fill(static_cast<std::int16_t>(amp * 16));
        raster[0] = static_cast<std::int16_t>(amp);  // the DC as coded
        dv_dequantize(raster.data(), mode != 0 ? dv_quant_steps_248[p] : dv_quant_steps_88[p]);
        raster[0] = static_cast<std::int16_t>(raster[0] * 16);
        dv_weight(raster.data(), mode != 0 ? dv_weights_248 : dv_weights_88);
        for (std::size_t cell = 0; cell < 64; ++cell) {
          const std::size_t r = cell % 8 * 8 + cell / 8;
          ASSERT_EQ(dequant_cell(static_cast<std::int16_t>(amp), f.step4[cell], f.weight[cell]),
                    raster[r])
              << "mode " << mode << " pattern " << p << " amp " << amp << " cell " << cell;
        }
      }
    }
  }
  // The identity factors pass every weighted coefficient through.
  const BlockFactors& id = identity_factors();
  for (int x = -8192; x <= 8191; ++x)
    for (std::size_t cell = 0; cell < 64; ++cell)
      ASSERT_EQ(dequant_cell(static_cast<std::int16_t>(x), id.step4[cell], id.weight[cell]), x);
}

}  // namespace
}  // namespace avikit::dv
