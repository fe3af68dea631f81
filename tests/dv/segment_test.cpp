#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dv/block_decode.h"
#include "dv/cpu.h"
#include "dv/idct.h"
#include "dv/segment_fast.h"
#include "dv/tables.h"

using namespace avikit;

namespace avikit::dv {
namespace {

constexpr std::size_t kAreaOffset[6] = {4, 18, 32, 46, 60, 70};
constexpr std::size_t kAreaBits[6] = {112, 112, 112, 112, 80, 80};

// The fast segment parse against the reference parse. Hand-made codes at the edges (splits across
// areas, pass 3, runs past 63, escapes, invalid codes) are held by the real and damaged frames in
// frame_test.cpp, which the reference must decode byte for byte.

using Weighted = std::array<std::array<std::int16_t, 64>, kBlocks>;

// Segment j's blocks after the fast parse, weighted with the kernels' factors, in raster order.
Weighted weighted_fast(const FastSegments& st, std::size_t j) {
  Weighted out{};
  for (std::size_t b = 0; b < kBlocks; ++b) {
    const std::size_t i = kBlocks * j + b;
    const BlockFactors& f = block_factors(st.block_mode[i], st.block_pattern[i]);
    for (std::size_t cell = 0; cell < 64; ++cell) {
      out[b][cell % 8 * 8 + cell / 8] =
          dequant_cell(st.coeffs[i][cell], f.step4[cell], f.weight[cell]);
    }
  }
  return out;
}

// The reference's coefficients after dequantisation, DC scaling and weighting.
Weighted weighted_reference(const std::uint8_t* seg) {
  auto st = std::make_unique<SegmentState>();
  dv_parse_segment(*st, seg);
  Weighted out{};
  for (std::size_t i = 0; i < kBlocks; ++i) {
    std::int16_t* c = st->coeffs[i];
    const bool field = st->block_mode[i] != 0;
    const std::size_t p = dv_quant_index[st->block_class[i]][st->qno[i / 6]];
    dv_dequantize(c, field ? dv_quant_steps_248[p] : dv_quant_steps_88[p]);
    c[0] = static_cast<std::int16_t>(c[0] * 16);
    dv_weight(c, field ? dv_weights_248 : dv_weights_88);
    std::memcpy(out[i].data(), c, 128);
  }
  return out;
}

// Random segments: uniform bytes (short codes, frequent ends and invalid codes), and dense ones
// whose blocks overflow into passes 2 and 3 with codes of every length: each block's area filled
// from its start with its header and random codes, a third of them ended early, over all ones
// (in which no code ends).
std::vector<std::uint8_t> random_segment(std::mt19937& rng, bool dense) {
  std::vector<std::uint8_t> seg(kSegmentBytes);
  for (auto& v : seg) v = static_cast<std::uint8_t>(dense ? 0xFF : rng());
  if (!dense) return seg;
  // clang-format off
  static const char* const kCodes[] = {"000", "0101", "01110", "1101100", "111101011",
      "11111010101", "111110111101", "1111110100000", "1111111011111110", "111110101110",
      "1111111000000001", "1111111001011100"};
  // clang-format on
  for (std::size_t m = 0; m < 5; ++m)
    seg[80 * m + 3] = static_cast<std::uint8_t>(0xF0 | rng() % 16);
  for (std::size_t i = 0; i < kBlocks; ++i) {
    const std::size_t room = kAreaBits[i % 6];
    std::string bits;
    for (int b = 11; b >= 0; --b) bits += rng() % 2 != 0 ? '1' : '0';  // DC, mode, class
    while (bits.size() < room + 20) bits += kCodes[rng() % (sizeof kCodes / sizeof kCodes[0])];
    if (rng() % 3 == 0) bits = bits.substr(0, 12 + rng() % (room - 16)) + "0110";
    const std::size_t base = (80 * (i / 6) + kAreaOffset[i % 6]) * 8;
    for (std::size_t k = 0; k < room; ++k) {
      const auto mask = static_cast<std::uint8_t>(0x80 >> ((base + k) % 8));
      std::uint8_t& byte = seg[(base + k) / 8];
      byte = static_cast<std::uint8_t>(k < bits.size() && bits[k] == '0' ? byte & ~mask : byte);
    }
  }
  return seg;
}

class DvSegmentMatchTest : public ::testing::TestWithParam<bool> {};

// Up to kFastSegments random segments parsed together: each decodes as the reference alone
// (each uses only its own areas). Besides the coefficients, the frame decoder relies on a block
// reported at position 0 holding only its DC (the DC-only shortcut) and on every block with an
// amplitude of 64 or more being flagged (weighted exactly before the vector kernels).
TEST_P(DvSegmentMatchTest, FastParseEqualsReference) {
  std::mt19937 rng(GetParam() ? 31 : 32);
  auto st = std::make_unique<FastSegments>();
  for (int n = 0; n < 2500; ++n) {
    std::vector<std::uint8_t> segs[kFastSegments];
    const std::uint8_t* ptrs[kFastSegments];
    const std::size_t count = 1 + rng() % kFastSegments;
    for (std::size_t j = 0; j < count; ++j) {
      segs[j] = random_segment(rng, j == 0 ? GetParam() : rng() % 2 == 0);
      ptrs[j] = segs[j].data();
    }
    std::memset(st->coeffs, 0, sizeof st->coeffs);
    parse_segments_fast(*st, ptrs, count);
    for (std::size_t j = 0; j < count; ++j) {
      ASSERT_EQ(weighted_fast(*st, j), weighted_reference(ptrs[j])) << n << " segment " << j;
    }
    for (std::size_t i = 0; i < kBlocks * count; ++i) {
      bool any_ac = false;
      bool big = false;
      for (std::size_t c = 1; c < 64; ++c) {
        any_ac |= st->coeffs[i][c] != 0;
        big |= st->coeffs[i][c] >= 64 || st->coeffs[i][c] <= -64;
      }
      ASSERT_TRUE(st->block_states[i].position != 0 || !any_ac) << n << " block " << i;
      ASSERT_TRUE(!big || st->block_big[i] == 1) << n << " block " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(UniformAndDense, DvSegmentMatchTest, ::testing::Values(false, true));

}  // namespace
}  // namespace avikit::dv
