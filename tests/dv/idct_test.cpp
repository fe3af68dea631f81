#include "dv/idct.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "dv/block_decode.h"
#include "dv/cpu.h"
#include "dv/tables.h"

namespace {

using Block = std::array<std::int16_t, 64>;

TEST(DvIdctTest, DcOf400GivesFlat50In8x8) {
  Block b{};
  b[0] = 400;
  dv_idct_8x8(b.data());
  for (std::int16_t v : b) EXPECT_EQ(v, 50);
}

TEST(DvIdctTest, DcOf400Gives51OnLines0And4In248) {
  Block b{};
  b[0] = 400;
  dv_idct_248(b.data());
  for (int r = 0; r < 8; ++r) {
    for (int c = 0; c < 8; ++c)
      EXPECT_EQ(b[static_cast<std::size_t>(8 * r + c)], r % 4 == 0 ? 51 : 50);
  }
}

TEST(DvIdctTest, ZerosStayZeroIn8x8ButBiasReachesLines0And4In248) {
  Block a{};
  dv_idct_8x8(a.data());
  for (std::int16_t v : a) EXPECT_EQ(v, 0);
  Block b{};
  dv_idct_248(b.data());
  for (int r = 0; r < 8; ++r) {
    for (int c = 0; c < 8; ++c)
      EXPECT_EQ(b[static_cast<std::size_t>(8 * r + c)], r % 4 == 0 ? 1 : 0);
  }
}

// Kinds of input blocks for the kernel comparisons. The put kernels take coded amplitudes and
// the factors of a step pattern, or weighted coefficients and the identity factors.
enum class Fill {
  kRandom,     // every cell an amplitude up to 63, the largest the fast path hands them
  kSmall,      // a few small amplitudes
  kExtreme,    // +-63 everywhere with the largest steps
  kDcOnly,     // coded DC only
  kZero,       // nothing at all
  kWeighted,   // weighted coefficients over their whole range, identity factors
  kSaturated,  // weighted extremes that saturate the row and 8x8 column passes
};

struct Input {
  alignas(32) Block coeffs{};
  const dv::BlockFactors* factors = nullptr;
};

Input make_input(Fill fill, bool field, std::mt19937& rng) {
  Input in;
  const auto pattern = static_cast<std::size_t>(rng() % 13);
  in.factors = &dv::block_factors(field ? 1 : 0, fill == Fill::kExtreme ? 12 : pattern);
  std::uniform_int_distribution<int> amp(-63, 63), dc(-256, 255), weighted(-8192, 8191), pick(0, 3);
  const std::int16_t extremes[4] = {-8192, 8191, 7880, 0};
  for (std::size_t i = 0; i < 64; ++i) {
    int v = 0;
    switch (fill) {
      case Fill::kRandom:
        v = i == 0 ? dc(rng) : amp(rng);
        break;
      case Fill::kSmall:
        v = rng() % 5 == 0 ? amp(rng) / 8 : 0;
        break;
      case Fill::kExtreme:
        v = i == 0 ? (rng() % 2 == 0 ? -256 : 255) : (rng() % 2 == 0 ? -63 : 63);
        break;
      case Fill::kDcOnly:
        v = i == 0 ? dc(rng) : 0;
        break;
      case Fill::kZero:
        break;
      case Fill::kWeighted:
        v = weighted(rng);
        break;
      case Fill::kSaturated:
        v = extremes[pick(rng)];
        break;
    }
    in.coeffs[i] = static_cast<std::int16_t>(v);
  }
  if (fill == Fill::kWeighted || fill == Fill::kSaturated) in.factors = &dv::identity_factors();
  return in;
}

struct KernelCase {
  Fill fill;
  bool field;
};

class DvIdctMatchTest : public ::testing::TestWithParam<KernelCase> {};

// Destination with guard bytes around an odd-strided, unaligned 8x8 window.
struct Canvas {
  static constexpr std::ptrdiff_t kStride = 21;
  static constexpr std::size_t kOffset = 37;
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kOffset + 8 * kStride + 40, 0xA5);
  std::uint8_t* at() { return bytes.data() + kOffset; }
};

void expect_same(const Canvas& want, const Canvas& got, const char* what) {
  ASSERT_EQ(want.bytes, got.bytes) << what;
}

void expect_cleared(const Block& b, const char* what) { ASSERT_EQ(b, Block{}) << what; }

TEST_P(DvIdctMatchTest, SimdEqualsScalar) {
  const KernelCase kc = GetParam();
  std::mt19937 rng(static_cast<unsigned>(kc.fill) * 31 + (kc.field ? 7 : 3));
  const dv::IdctKernels ref = dv::idct_kernels(dv::kSimdScalar);
  for (int n = 0; n < 400; ++n) {
    const Input a = make_input(kc.fill, kc.field, rng);
    const Input b = make_input(kc.fill, kc.field, rng);
    Canvas want_a, want_b;
    Input work = a;
    (kc.field ? ref.put_248 : ref.put_88)(work.coeffs.data(), *a.factors, want_a.at(),
                                          Canvas::kStride);
    expect_cleared(work.coeffs, "scalar");
    work = b;
    (kc.field ? ref.put_248 : ref.put_88)(work.coeffs.data(), *b.factors, want_b.at(),
                                          Canvas::kStride);
    Canvas sse_a;
    work = a;
    (kc.field ? dv::idct_put_248_sse2 : dv::idct_put_88_sse2)(work.coeffs.data(), *a.factors,
                                                              sse_a.at(), Canvas::kStride);
    expect_same(want_a, sse_a, "sse2");
    expect_cleared(work.coeffs, "sse2");
    if (dv::detected_simd_level() >= dv::kSimdAvx2) {
      Canvas avx_a, avx_b;
      Input wa = a, wb = b;
      (kc.field ? dv::idct_put2_248_avx2 : dv::idct_put2_88_avx2)(
          wa.coeffs.data(), *a.factors, wb.coeffs.data(), *b.factors, avx_a.at(), avx_b.at(),
          Canvas::kStride);
      expect_same(want_a, avx_a, "avx2 first block");
      expect_same(want_b, avx_b, "avx2 second block");
      expect_cleared(wa.coeffs, "avx2 first block");
      expect_cleared(wb.coeffs, "avx2 second block");
    }
  }
}

// The low kernels (8x8 mode, everything in rows 0..3 and columns 0..3) against the scalar kernel.
class DvIdctLowTest : public ::testing::TestWithParam<Fill> {};

TEST_P(DvIdctLowTest, LowKernelsEqualTheFullScalarKernel) {
  std::mt19937 rng(static_cast<unsigned>(GetParam()) * 17 + 5);
  const dv::IdctKernels ref = dv::idct_kernels(dv::kSimdScalar);
  for (int n = 0; n < 600; ++n) {
    Input a = make_input(GetParam(), false, rng);
    Input b = make_input(GetParam(), false, rng);
    for (std::size_t cell = 0; cell < 64; ++cell) {
      if (cell / 8 >= 4 || cell % 8 >= 4) a.coeffs[cell] = b.coeffs[cell] = 0;  // column, row
    }
    Canvas want_a, want_b, got_a, got_b;
    Input work = a;
    ref.put_88(work.coeffs.data(), *a.factors, want_a.at(), Canvas::kStride);
    work = b;
    ref.put_88(work.coeffs.data(), *b.factors, want_b.at(), Canvas::kStride);
    work = a;
    dv::idct_put_88_low_sse2(work.coeffs.data(), *a.factors, got_a.at(), Canvas::kStride);
    expect_same(want_a, got_a, "sse2 low");
    expect_cleared(work.coeffs, "sse2 low");
    if (dv::detected_simd_level() >= dv::kSimdAvx2) {
      Canvas avx_a, avx_b;
      Input wa = a, wb = b;
      dv::idct_put2_88_low_avx2(wa.coeffs.data(), *a.factors, wb.coeffs.data(), *b.factors,
                                avx_a.at(), avx_b.at(), Canvas::kStride);
      expect_same(want_a, avx_a, "avx2 low first block");
      expect_same(want_b, avx_b, "avx2 low second block");
      expect_cleared(wa.coeffs, "avx2 low first block");
      expect_cleared(wb.coeffs, "avx2 low second block");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(LowBlocks, DvIdctLowTest,
                         ::testing::Values(Fill::kRandom, Fill::kSmall, Fill::kExtreme,
                                           Fill::kDcOnly, Fill::kWeighted, Fill::kSaturated));

// The four-block kernels against the scalar put of each block: four different inputs (their own
// step patterns) into four canvases that share a stride. `low` keeps every block within rows 0..3
// and columns 0..3 and takes the low kernel.
void check_put4(const KernelCase& kc, bool low, std::mt19937& rng) {
  const dv::IdctKernels ref = dv::idct_kernels(dv::kSimdScalar);
  const dv::IdctKernels wide = dv::idct_kernels(dv::kSimdAvx512);
  const dv::IdctPut4Fn kernel = low ? wide.put4_88_low : kc.field ? wide.put4_248 : wide.put4_88;
  ASSERT_NE(kernel, nullptr);
  Input in[4];
  Canvas want[4], got[4];
  dv::Put4Blocks blocks{};
  for (std::size_t b = 0; b < 4; ++b) {
    const Input original = make_input(kc.fill, kc.field, rng);
    in[b] = original;
    for (std::size_t cell = 0; low && cell < 64; ++cell) {
      if (cell / 8 >= 4 || cell % 8 >= 4) in[b].coeffs[cell] = 0;  // column, row
    }
    Input work = in[b];
    (kc.field ? ref.put_248 : ref.put_88)(work.coeffs.data(), *in[b].factors, want[b].at(),
                                          Canvas::kStride);
    blocks.coeffs[b] = in[b].coeffs.data();
    blocks.factors[b] = in[b].factors;
    blocks.dst[b] = got[b].at();
  }
  kernel(blocks, Canvas::kStride);
  for (std::size_t b = 0; b < 4; ++b) {
    const std::string what = (low ? "low block " : "block ") + std::to_string(b);
    expect_same(want[b], got[b], what.c_str());
    expect_cleared(in[b].coeffs, what.c_str());
  }
}

TEST_P(DvIdctMatchTest, FourBlockKernelEqualsScalarForEachBlock) {
  if (dv::detected_simd_level() < dv::kSimdAvx512) GTEST_SKIP() << "no avx512";
  const KernelCase kc = GetParam();
  std::mt19937 rng(static_cast<unsigned>(kc.fill) * 13 + (kc.field ? 11 : 1));
  for (int n = 0; n < 300; ++n) check_put4(kc, false, rng);
}

TEST_P(DvIdctLowTest, FourBlockLowKernelEqualsTheFullScalarKernel) {
  if (dv::detected_simd_level() < dv::kSimdAvx512) GTEST_SKIP() << "no avx512";
  std::mt19937 rng(static_cast<unsigned>(GetParam()) * 19 + 2);
  for (int n = 0; n < 300; ++n) check_put4({GetParam(), false}, true, rng);
}

TEST(DvIdctKernelsTest, FourBlockKernelsOnlyFromTheAvx512Level) {
  for (int level = dv::kSimdScalar; level <= dv::kSimdAvx512; ++level) {
    const dv::IdctKernels k = dv::idct_kernels(level);
    const bool wide = level >= dv::kSimdAvx512;
    EXPECT_EQ(k.put4_88 != nullptr, wide) << level;
    EXPECT_EQ(k.put4_248 != nullptr, wide) << level;
    EXPECT_EQ(k.put4_88_low != nullptr, wide) << level;
    EXPECT_EQ(k.put2_88 != nullptr, level >= dv::kSimdAvx2) << level;
  }
}

// Scan positions up to 9 of the 8x8 mode stay within rows 0..3 and columns 0..3; position 10
// does not.
TEST(DvIdctLowTest, LowBlocksAreTheFirstTenScanPositions) {
  for (int i = 0; i <= dv::kIdctLowLastPosition; ++i) {
    EXPECT_LT(dv_scan_88[static_cast<std::size_t>(i)] / 8, 4) << i;
    EXPECT_LT(dv_scan_88[static_cast<std::size_t>(i)] % 8, 4) << i;
  }
  const int next = dv_scan_88[dv::kIdctLowLastPosition + 1];
  EXPECT_TRUE(next / 8 >= 4 || next % 8 >= 4);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks8x8And248, DvIdctMatchTest,
    ::testing::Values(KernelCase{Fill::kRandom, false}, KernelCase{Fill::kRandom, true},
                      KernelCase{Fill::kSmall, false}, KernelCase{Fill::kSmall, true},
                      KernelCase{Fill::kExtreme, false}, KernelCase{Fill::kExtreme, true},
                      KernelCase{Fill::kDcOnly, false}, KernelCase{Fill::kDcOnly, true},
                      KernelCase{Fill::kZero, false}, KernelCase{Fill::kZero, true},
                      KernelCase{Fill::kWeighted, false}, KernelCase{Fill::kWeighted, true},
                      KernelCase{Fill::kSaturated, false}, KernelCase{Fill::kSaturated, true}));

// Every coded DC, on both modes: the table of DC-only pictures against the full transform.
TEST(DvIdctDcTest, DcTableMatchesTheFullTransformForEveryCodedDc) {
  const dv::IdctKernels ref = dv::idct_kernels(dv::kSimdScalar);
  for (std::uint32_t field = 0; field < 2; ++field) {
    for (int dc = -256; dc <= 255; ++dc) {
      alignas(32) Block b{};
      b[0] = static_cast<std::int16_t>(dc);
      std::uint8_t want[64], got[64];
      (field != 0 ? ref.put_248 : ref.put_88)(b.data(), dv::block_factors(field, 5), want, 8);
      dv::idct_put_dc_coded(static_cast<std::int16_t>(dc), field != 0, got, 8);
      ASSERT_TRUE(std::equal(want, want + 64, got)) << "dc " << dc << " field " << field;
    }
  }
}

// The kernels' factors against the reference's own steps (dv_dequantize, the DC times 16,
// dv_weight) for every pattern, mode and amplitude, saturating escapes included.
TEST(DvDequantTest, FactorsGiveTheReferencesWeightedCoefficients) {
  for (std::uint32_t mode = 0; mode < 2; ++mode) {
    for (std::size_t p = 0; p < kDvQuantPatterns; ++p) {
      const dv::BlockFactors& f = dv::block_factors(mode, p);
      for (int amp = -255; amp <= 255; ++amp) {
        Block raster{};
        for (std::size_t r = 1; r < 64; ++r) raster[r] = static_cast<std::int16_t>(amp * 16);
        raster[0] = static_cast<std::int16_t>(amp);  // the DC as coded
        dv_dequantize(raster.data(), mode != 0 ? dv_quant_steps_248[p] : dv_quant_steps_88[p]);
        raster[0] = static_cast<std::int16_t>(raster[0] * 16);
        dv_weight(raster.data(), mode != 0 ? dv_weights_248 : dv_weights_88);
        for (std::size_t cell = 0; cell < 64; ++cell) {
          const std::size_t r = cell % 8 * 8 + cell / 8;
          ASSERT_EQ(dv::dequant_cell(static_cast<std::int16_t>(amp), f.step4[cell], f.weight[cell]),
                    raster[r])
              << "mode " << mode << " pattern " << p << " amp " << amp << " cell " << cell;
          // The vector kernels' contract: amplitudes up to 63 never saturate.
          if (amp >= -63 && amp <= 63 && cell != 0) {
            ASSERT_LE(std::abs(amp * f.step4[cell]), 8191);
          }
        }
      }
    }
  }
}

// The exact weighting of blocks with big amplitudes: SSE2 against the scalar reference, every
// amplitude (saturating ones included) against every factor table.
TEST(DvDequantTest, ExactWeightingSimdEqualsScalar) {
  for (std::uint32_t mode = 0; mode < 2; ++mode) {
    for (std::size_t p = 0; p < kDvQuantPatterns; ++p) {
      for (int amp = -255; amp <= 255; amp += 3) {
        alignas(32) Block want{};
        for (std::size_t i = 0; i < 64; ++i) {
          want[i] = static_cast<std::int16_t>(i % 3 == 0 ? amp : i % 3 == 1 ? -amp / 2 : amp / 5);
        }
        alignas(32) Block got = want;
        dv::dequant_block_exact(want.data(), dv::block_factors(mode, p));
        dv::dequant_block_exact_sse2(got.data(), dv::block_factors(mode, p));
        ASSERT_EQ(want, got) << "mode " << mode << " pattern " << p << " amp " << amp;
      }
    }
  }
}

TEST(DvDequantTest, IdentityFactorsPassWeightedCoefficientsThrough) {
  const dv::BlockFactors& id = dv::identity_factors();
  for (int x = -8192; x <= 8191; ++x) {
    for (std::size_t cell = 0; cell < 64; ++cell) {
      ASSERT_EQ(dv::dequant_cell(static_cast<std::int16_t>(x), id.step4[cell], id.weight[cell]), x);
    }
  }
}

}  // namespace
