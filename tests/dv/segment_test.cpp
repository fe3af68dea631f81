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

namespace {

constexpr std::size_t kAreaOffset[6] = {4, 18, 32, 46, 60, 70};
constexpr std::size_t kAreaBits[6] = {112, 112, 112, 112, 80, 80};

// A video segment written bit by bit, block area by block area.
class SegmentBuilder {
 public:
  SegmentBuilder() { bytes_.fill(0xFF); }  // all-ones: no code ends inside unused space

  void qno(std::size_t m, int q) {
    bytes_[80 * m + 3] = static_cast<std::uint8_t>((bytes_[80 * m + 3] & 0xF0) | q);
  }
  // Block i's header, then its own area's bits from the start; returns the bits written.
  void block(std::size_t i, int dc, int mode, int klass, const std::string& ac) {
    const std::uint32_t h = (static_cast<std::uint32_t>(dc) & 0x1FF) << 3 |
                            static_cast<std::uint32_t>(mode) << 2 |
                            static_cast<std::uint32_t>(klass);
    std::string bits;
    for (int b = 11; b >= 0; --b) bits += ((h >> b) & 1) != 0 ? '1' : '0';
    put(i, 0, bits + ac);
  }
  // Bits at `offset` bits into block i's area (the header counts).
  void put(std::size_t i, std::size_t offset, const std::string& bits) {
    const std::size_t base = (80 * (i / 6) + kAreaOffset[i % 6]) * 8;
    ASSERT_LE(offset + bits.size(), kAreaBits[i % 6]) << "block " << i;
    for (std::size_t k = 0; k < bits.size(); ++k) {
      const std::size_t pos = base + offset + k;
      const auto mask = static_cast<std::uint8_t>(0x80 >> (pos % 8));
      bytes_[pos / 8] = static_cast<std::uint8_t>(bits[k] == '1' ? bytes_[pos / 8] | mask
                                                                 : bytes_[pos / 8] & ~mask);
    }
  }
  const std::uint8_t* data() const { return bytes_.data(); }

 private:
  std::array<std::uint8_t, kDvSegmentBytes> bytes_{};
};

std::string repeat(const std::string& s, int n) {
  std::string r;
  for (int i = 0; i < n; ++i) r += s;
  return r;
}

// Every block a flat DC with an immediate end of block.
SegmentBuilder flat_segment(int dc) {
  SegmentBuilder b;
  for (std::size_t i = 0; i < kDvBlocks; ++i) b.block(i, dc, 0, 0, "0110");
  return b;
}

std::unique_ptr<DvSegmentState> parse_reference(const SegmentBuilder& b) {
  auto st = std::make_unique<DvSegmentState>();
  dv_parse_segment(*st, b.data());
  return st;
}

using Weighted = std::array<std::array<std::int16_t, 64>, kDvBlocks>;

// Segment j's blocks after the fast parse, weighted with the kernels' factors, in raster order.
Weighted weighted_fast(const DvFastSegments& st, std::size_t j) {
  Weighted out{};
  for (std::size_t b = 0; b < kDvBlocks; ++b) {
    const std::size_t i = kDvBlocks * j + b;
    const dv::BlockFactors& f = dv::block_factors(st.block_mode[i], st.block_pattern[i]);
    for (std::size_t cell = 0; cell < 64; ++cell) {
      out[b][cell % 8 * 8 + cell / 8] =
          dv::dequant_cell(st.coeffs[i][cell], f.step4[cell], f.weight[cell]);
    }
  }
  return out;
}

Weighted parse_fast(const std::uint8_t* seg) {
  auto st = std::make_unique<DvFastSegments>();
  dv_parse_segments_fast(*st, &seg, 1);
  return weighted_fast(*st, 0);
}

// The reference's coefficients after dequantisation, DC scaling and weighting.
Weighted weighted_reference(const std::uint8_t* seg) {
  auto st = std::make_unique<DvSegmentState>();
  dv_parse_segment(*st, seg);
  Weighted out{};
  for (std::size_t i = 0; i < kDvBlocks; ++i) {
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

TEST(DvSegmentTest, DcOf100DecodesFlat178In8x8And179On248Lines0And4) {
  SegmentBuilder b;
  for (std::size_t i = 0; i < kDvBlocks; ++i) {
    b.block(i, 100, static_cast<int>(i % 2), static_cast<int>(i % 4), "0110");
  }
  for (std::size_t m = 0; m < 5; ++m) b.qno(m, static_cast<int>(m * 3));
  auto st = std::make_unique<DvSegmentState>();
  dv_decode_segment(*st, b.data());
  for (std::size_t i = 0; i < kDvBlocks; ++i) {
    for (std::size_t r = 0; r < 8; ++r) {
      const int want = i % 2 == 1 && r % 4 == 0 ? 179 : 178;
      for (std::size_t c = 0; c < 8; ++c) ASSERT_EQ(st->coeffs[i][8 * r + c], want) << i;
    }
  }
}

TEST(DvSegmentTest, EndOfBlockFirstKeepsOnlyTheDc) {
  const auto st = parse_reference(flat_segment(-37));
  for (std::size_t i = 0; i < kDvBlocks; ++i) {
    EXPECT_EQ(st->coeffs[i][0], -37);
    for (std::size_t k = 1; k < 64; ++k) ASSERT_EQ(st->coeffs[i][k], 0);
    EXPECT_EQ(st->block_states[i].node, -1);
  }
}

// Block 3's last code starts in its own area and ends in block 0's free space.
TEST(DvSegmentTest, CodeSplitAcrossAreasDecodesAsContiguousBits) {
  SegmentBuilder b = flat_segment(0);
  b.block(3, 0, 0, 0, repeat("000", 33) + "0");  // 99 bits of +16s, then the '0' of "0100"
  b.put(0, 12 + 4,
        "100"
        "0110");  // the rest of "0100" (+32), end of block
  const auto st = parse_reference(b);
  for (std::size_t k = 1; k <= 33; ++k) ASSERT_EQ(st->coeffs[3][dv_scan_88[k]], 16) << k;
  EXPECT_EQ(st->coeffs[3][dv_scan_88[34]], 32);
  EXPECT_EQ(st->block_states[3].node, -1);
  EXPECT_EQ(parse_fast(b.data()), weighted_reference(b.data()));
}

// A macroblock with no free space: its blocks go on in pass 3 with the free space of the
// segment's earlier blocks, one block after the other, in block order.
TEST(DvSegmentTest, OverflowWithoutFreeSpaceInTheMacroblockContinuesInPass3) {
  SegmentBuilder b = flat_segment(5);
  for (std::size_t i = 6; i < 12; ++i) {
    b.block(i, 5, 0, 0, repeat("0100", i % 6 < 4 ? 25 : 17));  // fills the area exactly
  }
  b.put(0, 16,
        "01010110"
        "10001"
        "0110");  // block 6: -32, end; block 7: -48, end
  const auto st = parse_reference(b);
  EXPECT_EQ(st->coeffs[6][dv_scan_88[26]], -32);
  EXPECT_EQ(st->coeffs[7][dv_scan_88[26]], -48);
  EXPECT_EQ(st->block_states[6].node, -1);
  EXPECT_EQ(st->block_states[7].node, -1);
  EXPECT_EQ(parse_fast(b.data()), weighted_reference(b.data()));
}

TEST(DvSegmentTest, RunPastPosition63EndsTheBlockWithoutStoring) {
  SegmentBuilder b = flat_segment(0);
  // Long runs: 61 zeros (to position 62), then a run of 1 before +16 would reach 64.
  b.block(0, 0, 0, 0,
          "1111110111101"
          "01110"
          "0110");
  const auto st = parse_reference(b);
  for (std::size_t k = 1; k < 64; ++k) EXPECT_EQ(st->coeffs[0][k], 0);
  EXPECT_EQ(st->block_states[0].node, -1);
  EXPECT_EQ(parse_fast(b.data()), weighted_reference(b.data()));
}

TEST(DvSegmentTest, Escape255WithStep32SaturatesAfterDequantisation) {
  SegmentBuilder b = flat_segment(0);
  b.qno(0, 0);
  // Class 3, QNO 0: pattern 12, step 32 in area 3. Run 41 to position 42, escape at 43.
  b.block(0, 0, 0, 3,
          "1111110101001"
          "1111111111111110"
          "0110");
  auto st = parse_reference(b);
  ASSERT_EQ(st->coeffs[0][dv_scan_88[43]], 4080);
  dv_dequantize(st->coeffs[0], dv_quant_steps_88[dv_quant_index[3][0]]);
  EXPECT_EQ(st->coeffs[0][dv_scan_88[43]], 32767);
  EXPECT_EQ(parse_fast(b.data()), weighted_reference(b.data()));
}

TEST(DvSegmentTest, Class3Qno15DoublesEveryAcCoefficient) {
  SegmentBuilder b = flat_segment(0);
  b.qno(0, 15);
  b.block(0, 0, 0, 3,
          "000"
          "001"
          "0110");
  auto st = parse_reference(b);
  dv_dequantize(st->coeffs[0], dv_quant_steps_88[dv_quant_index[3][15]]);
  EXPECT_EQ(st->coeffs[0][dv_scan_88[1]], 32);
  EXPECT_EQ(st->coeffs[0][dv_scan_88[2]], -32);
}

TEST(DvSegmentTest, InvalidCodeEndsTheBlockAndKeepsEarlierCoefficients) {
  SegmentBuilder b = flat_segment(0);
  b.block(0, 0, 0, 0,
          "000"
          "1111111000000010"
          "000"
          "0110");
  const auto st = parse_reference(b);
  EXPECT_EQ(st->coeffs[0][dv_scan_88[1]], 16);
  EXPECT_EQ(st->coeffs[0][dv_scan_88[2]], 0);
  EXPECT_EQ(st->block_states[0].node, -1);
  EXPECT_EQ(parse_fast(b.data()), weighted_reference(b.data()));
}

// Random segments: uniform bytes (short codes, frequent ends and invalid codes), and dense ones
// whose blocks overflow into passes 2 and 3 with codes of every length.
std::vector<std::uint8_t> random_segment(std::mt19937& rng, bool dense) {
  std::vector<std::uint8_t> seg(kDvSegmentBytes);
  for (auto& v : seg) v = static_cast<std::uint8_t>(rng());
  if (!dense) return seg;
  static const char* const kCodes[] = {"000",
                                       "0101",
                                       "01110",
                                       "1101100",
                                       "111101011",
                                       "11111010101",
                                       "111110111101",
                                       "1111110100000",
                                       "1111111011111110",
                                       "111110101110",
                                       "1111111000000001"};
  SegmentBuilder b;
  for (std::size_t m = 0; m < 5; ++m) b.qno(m, static_cast<int>(rng() % 16));
  for (std::size_t i = 0; i < kDvBlocks; ++i) {
    std::string ac;
    const std::size_t room = kAreaBits[i % 6] - 12;
    const bool ends = rng() % 3 == 0;
    while (ac.size() < room + 20) ac += kCodes[rng() % (sizeof kCodes / sizeof kCodes[0])];
    if (ends) ac = ac.substr(0, rng() % (room - 4)) + "0110";
    b.block(i, static_cast<int>(rng() % 512) - 256, static_cast<int>(rng() % 2),
            static_cast<int>(rng() % 4), ac.substr(0, room));
  }
  std::memcpy(seg.data(), b.data(), kDvSegmentBytes);
  return seg;
}

class DvSegmentMatchTest : public ::testing::TestWithParam<bool> {};

TEST_P(DvSegmentMatchTest, FastParseEqualsReference) {
  std::mt19937 rng(GetParam() ? 11 : 12);
  for (int n = 0; n < 3000; ++n) {
    const auto seg = random_segment(rng, GetParam());
    ASSERT_EQ(parse_fast(seg.data()), weighted_reference(seg.data())) << "segment " << n;
  }
}

// Segments parsed together decode as if each were alone: each uses only its own areas.
TEST_P(DvSegmentMatchTest, SegmentsParsedTogetherEqualEachAlone) {
  std::mt19937 rng(GetParam() ? 31 : 32);
  auto st = std::make_unique<DvFastSegments>();
  for (int n = 0; n < 1000; ++n) {
    const auto a = random_segment(rng, GetParam());
    const auto b = random_segment(rng, rng() % 2 == 0);
    const std::uint8_t* both[2] = {a.data(), b.data()};
    std::memset(st->coeffs, 0, sizeof st->coeffs);
    dv_parse_segments_fast(*st, both, 2);
    ASSERT_EQ(weighted_fast(*st, 0), weighted_reference(a.data())) << "segment " << n;
    ASSERT_EQ(weighted_fast(*st, 1), weighted_reference(b.data())) << "segment " << n;
  }
}

// What the frame decoder relies on besides the coefficients: a block reported at position 0
// holds only its DC (it takes the DC-only shortcut), and every block with an amplitude of 64 or
// more is flagged (it is weighted exactly before the vector kernels).
TEST_P(DvSegmentMatchTest, FastParseReportsDcOnlyAndSaturatingBlocks) {
  std::mt19937 rng(GetParam() ? 21 : 22);
  auto st = std::make_unique<DvFastSegments>();
  for (int n = 0; n < 3000; ++n) {
    const auto seg = random_segment(rng, GetParam());
    const std::uint8_t* p = seg.data();
    std::memset(st->coeffs, 0, sizeof st->coeffs);
    dv_parse_segments_fast(*st, &p, 1);
    for (std::size_t i = 0; i < kDvBlocks; ++i) {
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
