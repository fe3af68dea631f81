#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dv/cpu.h"
#include "dv/frame_decoder.h"
#include "support/test_paths.h"

namespace {

std::vector<std::uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

struct Fixture {
  const char* name;
  bool is625;
};

class DvFixtureTest : public ::testing::TestWithParam<Fixture> {};

TEST_P(DvFixtureTest, MatchesExpectedPictureByteForByte) {
  const Fixture f = GetParam();
  const auto frame = bytes_of(avitest::read_file(avitest::fixture_path(std::string("dv/") + f.name + ".dv")));
  const auto expected =
      bytes_of(avitest::gunzip_file(avitest::fixture_path(std::string("dv/") + f.name + ".bgr.gz")));
  ASSERT_EQ(frame.size(), dv::picture_format(f.is625).frame_bytes);
  ASSERT_EQ(expected.size(), dv::picture_format(f.is625).bgr_bytes);
  std::vector<std::uint8_t> out(expected.size());
  ASSERT_EQ(dv_decode_frame(frame.data(), out.data(), f.is625 ? 1 : 0), 1);
  EXPECT_TRUE(out == expected);
  std::size_t diffs = 0;
  for (std::size_t i = 0; i < out.size(); ++i) diffs += out[i] != expected[i];
  EXPECT_EQ(diffs, 0U);
  std::vector<std::uint8_t> ref(expected.size());
  ASSERT_TRUE(dv::decode_frame_reference(frame, f.is625, ref));
  diffs = 0;
  for (std::size_t i = 0; i < out.size(); ++i) diffs += ref[i] != expected[i];
  EXPECT_EQ(diffs, 0U);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DvFixtureTest,
                         ::testing::Values(Fixture{"625-smptebars-scroll-ildct", true},
                                           Fixture{"525-testsrc2", false},
                                           Fixture{"525-testsrc2-damaged", false}));

}  // namespace
