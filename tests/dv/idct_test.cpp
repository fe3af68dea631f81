#include "dv/idct.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "dv/cpu.h"

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

// Kinds of input blocks for the kernel comparisons.
enum class Fill { kRandom, kSmall, kExtreme, kDcOnly, kZero };

Block make_block(Fill fill, std::mt19937& rng) {
  Block b{};
  std::uniform_int_distribution<int> any(-32768, 32767), small(-600, 600), pick(0, 3);
  const std::int16_t extremes[4] = {-32768, 32767, -32767, 0};
  for (std::size_t i = 0; i < 64; ++i) {
    switch (fill) {
      case Fill::kRandom:
        b[i] = static_cast<std::int16_t>(any(rng));
        break;
      case Fill::kSmall:
        b[i] = static_cast<std::int16_t>(rng() % 4 == 0 ? small(rng) : 0);
        break;
      case Fill::kExtreme:
        b[i] = extremes[pick(rng)];
        break;
      case Fill::kDcOnly:
        b[i] = i == 0 ? static_cast<std::int16_t>(small(rng) * 14) : 0;
        break;
      case Fill::kZero:
        break;
    }
  }
  return b;
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

TEST_P(DvIdctMatchTest, SimdEqualsScalar) {
  const KernelCase kc = GetParam();
  std::mt19937 rng(static_cast<unsigned>(kc.fill) * 31 + (kc.field ? 7 : 3));
  const dv::IdctKernels ref = dv::idct_kernels(dv::kSimdScalar);
  for (int n = 0; n < 400; ++n) {
    alignas(32) Block a = make_block(kc.fill, rng);
    alignas(32) Block b = make_block(kc.fill, rng);
    Canvas want_a, want_b;
    (kc.field ? ref.put_248 : ref.put_88)(a.data(), want_a.at(), Canvas::kStride);
    (kc.field ? ref.put_248 : ref.put_88)(b.data(), want_b.at(), Canvas::kStride);
    Canvas sse_a;
    (kc.field ? dv::idct_put_248_sse2 : dv::idct_put_88_sse2)(a.data(), sse_a.at(),
                                                              Canvas::kStride);
    expect_same(want_a, sse_a, "sse2");
    if (dv::detected_simd_level() >= dv::kSimdAvx2) {
      Canvas avx_a, avx_b;
      (kc.field ? dv::idct_put2_248_avx2 : dv::idct_put2_88_avx2)(a.data(), b.data(), avx_a.at(),
                                                                  avx_b.at(), Canvas::kStride);
      expect_same(want_a, avx_a, "avx2 first block");
      expect_same(want_b, avx_b, "avx2 second block");
    }
    if (kc.fill == Fill::kDcOnly || kc.fill == Fill::kZero) {
      Canvas dc;
      dv::idct_put_dc(a[0], kc.field, dc.at(), Canvas::kStride);
      expect_same(want_a, dc, "dc only");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Blocks8x8And248, DvIdctMatchTest,
    ::testing::Values(KernelCase{Fill::kRandom, false}, KernelCase{Fill::kRandom, true},
                      KernelCase{Fill::kSmall, false}, KernelCase{Fill::kSmall, true},
                      KernelCase{Fill::kExtreme, false}, KernelCase{Fill::kExtreme, true},
                      KernelCase{Fill::kDcOnly, false}, KernelCase{Fill::kDcOnly, true},
                      KernelCase{Fill::kZero, false}, KernelCase{Fill::kZero, true}));

// Every DC the decoder can produce (the weighted DC lies within -8192..8191), on both modes.
TEST(DvIdctDcTest, DcShortcutMatchesTheFullTransformForEveryDc) {
  const dv::IdctKernels ref = dv::idct_kernels(dv::kSimdScalar);
  for (int field = 0; field < 2; ++field) {
    for (int dc = -8300; dc <= 8300; ++dc) {
      alignas(32) Block b{};
      b[0] = static_cast<std::int16_t>(dc);
      std::uint8_t want[64], got[64];
      (field != 0 ? ref.put_248 : ref.put_88)(b.data(), want, 8);
      dv::idct_put_dc(b[0], field != 0, got, 8);
      ASSERT_TRUE(std::equal(want, want + 64, got)) << "dc " << dc << " field " << field;
    }
  }
}

}  // namespace
