#include "dv/vlc.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace avikit::dv {
namespace {

struct CodeCase {
  std::string bits;
  NodeKind kind;
  int run;
  int value;
};

class DvVlcCodeTest : public ::testing::TestWithParam<CodeCase> {};

// Through the fast decoder's look-up, which is built by walking the reference's tree: a wrong
// code in the table shows in both.
TEST_P(DvVlcCodeTest, DecodesToRunAndValue) {
  const CodeCase& c = GetParam();
  const auto p = static_cast<std::uint32_t>(std::stoul(c.bits, nullptr, 2) << (16 - c.bits.size()));
  const LookupEntry e = vlc_lookup[vlc_lookup_index(p)];
  EXPECT_EQ(lookup_length(e), c.bits.size());
  if (c.kind != kSymbol) {
    EXPECT_EQ(lookup_advance(e), kLookupEnd);
  } else {
    EXPECT_EQ(lookup_advance(e) - (lookup_big(e) ? kLookupBig : 0),
              static_cast<std::uint32_t>(c.run + 1));
    EXPECT_EQ((lookup_big(e) ? escape_amplitude(p) : lookup_amplitude(e)) * 16, c.value);
  }
}

INSTANTIATE_TEST_SUITE_P(
    StandardExamples, DvVlcCodeTest,
    ::testing::Values(
        CodeCase{"000", kSymbol, 0, 16}, CodeCase{"0101", kSymbol, 0, -32},
        CodeCase{"0110", kEnd, 0, 0}, CodeCase{"111110101100", kSymbol, 2, 0},
        CodeCase{"11111001110", kSymbol, 0, 0}, CodeCase{"1111101111111", kSymbol, 1, -272},
        // Long zero run: 1111110 + 6-bit run, valid for runs 6..61.
        CodeCase{"1111110000110", kSymbol, 6, 0}, CodeCase{"1111110111101", kSymbol, 61, 0},
        CodeCase{"1111110000101", kInvalid, 0, 0}, CodeCase{"1111110111110", kInvalid, 0, 0},
        // Escape: 1111111 + 8-bit amplitude + sign, valid for 23..255; the sign
        // bit belongs to the invalid codes too.
        CodeCase{"1111111000101110", kSymbol, 0, 368},
        CodeCase{"1111111111111111", kSymbol, 0, -4080},
        CodeCase{"1111111000101100", kInvalid, 0, 0},
        CodeCase{"1111111000000001", kInvalid, 0, 0}));

}  // namespace
}  // namespace avikit::dv
