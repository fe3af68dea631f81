#include "dv/vlc.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

struct Walk {
  std::uint32_t node;  // the leaf reached
  int bits;            // bits read
};

// Walks the tree over the bits of a string of '0' and '1'.
Walk walk(const std::string& bits) {
  std::uint32_t index = 0;
  int n = 0;
  while (dv_node_kind(dv_vlc_tree[index]) == kDvBranch && n < static_cast<int>(bits.size())) {
    index =
        dv_node_child(dv_vlc_tree[index]) + (bits[static_cast<std::size_t>(n)] == '1' ? 1U : 0U);
    ++n;
  }
  return {dv_vlc_tree[index], n};
}

// The standard's node and leaf counts, and every branch pointing to a pair inside the tree.
TEST(DvVlcTreeTest, HasTheStandardsShape) {
  int count[4] = {};
  for (std::uint32_t node : dv_vlc_tree) {
    ++count[dv_node_kind(node)];
    if (dv_node_kind(node) != kDvBranch) continue;
    EXPECT_GE(dv_node_child(node), 1U);
    EXPECT_LT(dv_node_child(node) + 1, dv_vlc_tree.size());
  }
  EXPECT_EQ(dv_vlc_tree.size(), 1493U);
  EXPECT_EQ(count[kDvSymbol], 692);
  EXPECT_EQ(count[kDvInvalid], 54);
  EXPECT_EQ(count[kDvEnd], 1);
  EXPECT_EQ(count[kDvBranch], 746);
}

struct CodeCase {
  std::string bits;
  DvNodeKind kind;
  int run;
  int value;
};

class DvVlcCodeTest : public ::testing::TestWithParam<CodeCase> {};

TEST_P(DvVlcCodeTest, DecodesToRunAndValue) {
  const CodeCase& c = GetParam();
  const Walk w = walk(c.bits);
  EXPECT_EQ(w.bits, static_cast<int>(c.bits.size())) << c.bits;
  ASSERT_EQ(dv_node_kind(w.node), c.kind) << c.bits;
  if (c.kind == kDvSymbol) {
    EXPECT_EQ(static_cast<int>(dv_node_run(w.node)), c.run) << c.bits;
    EXPECT_EQ(dv_node_value(w.node), c.value) << c.bits;
  }
}

INSTANTIATE_TEST_SUITE_P(
    StandardExamples, DvVlcCodeTest,
    ::testing::Values(
        CodeCase{"000", kDvSymbol, 0, 16}, CodeCase{"001", kDvSymbol, 0, -16},
        CodeCase{"0100", kDvSymbol, 0, 32}, CodeCase{"0101", kDvSymbol, 0, -32},
        CodeCase{"0110", kDvEnd, 0, 0}, CodeCase{"01110", kDvSymbol, 1, 16},
        CodeCase{"10001", kDvSymbol, 0, -48}, CodeCase{"111110101100", kDvSymbol, 2, 0},
        CodeCase{"11111001110", kDvSymbol, 0, 0}, CodeCase{"1111101111111", kDvSymbol, 1, -272},
        // Long zero run: 1111110 + 6-bit run, valid for runs 6..61.
        CodeCase{"1111110000110", kDvSymbol, 6, 0}, CodeCase{"1111110111101", kDvSymbol, 61, 0},
        CodeCase{"1111110000101", kDvInvalid, 0, 0}, CodeCase{"1111110111110", kDvInvalid, 0, 0},
        // Escape: 1111111 + 8-bit amplitude + sign, valid for 23..255; the sign
        // bit belongs to the invalid codes too.
        CodeCase{"1111111000101110", kDvSymbol, 0, 368},
        CodeCase{"1111111111111111", kDvSymbol, 0, -4080},
        CodeCase{"1111111000101100", kDvInvalid, 0, 0},
        CodeCase{"1111111000000001", kDvInvalid, 0, 0}));

// The fast decoder's look-up must agree with the tree for every 16 bits it can peek.
TEST(DvVlcLookupTest, AgreesWithTheTreeForEveryPeek) {
  for (std::uint32_t p = 0; p < 0x10000; ++p) {
    std::uint32_t index = 0;
    std::uint32_t len = 0;
    while (dv_node_kind(dv_vlc_tree[index]) == kDvBranch) {
      index = dv_node_child(dv_vlc_tree[index]) + ((p >> (15 - len)) & 1);
      ++len;
    }
    const std::uint32_t leaf = dv_vlc_tree[index];
    const DvLookupEntry e = dv_vlc_lookup[dv_vlc_lookup_index(p)];
    ASSERT_EQ(dv_lookup_length(e), len) << p;
    if (dv_node_kind(leaf) == kDvSymbol) {
      const int value = dv_node_value(leaf);
      const bool big = value >= 64 * 16 || value <= -64 * 16;
      ASSERT_EQ(dv_lookup_big(e), big) << p;
      ASSERT_EQ(dv_lookup_advance(e), dv_node_run(leaf) + 1 + (big ? kDvLookupBig : 0U)) << p;
      ASSERT_EQ((big ? dv_escape_amplitude(p) : dv_lookup_amplitude(e)) * 16, value) << p;
    } else {
      ASSERT_EQ(dv_lookup_advance(e), kDvLookupEnd) << p;  // ends the block like a run past 63
    }
  }
}

}  // namespace
