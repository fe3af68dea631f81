// Sample steps of the player (8-bit and wider PCM are checked end to end in
// audio_player_test.cpp) and the rule for extensible headers.

#include "audio/pcm_convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "audio/stream_format.h"

namespace {

struct VolumeCase {
  const char* name;
  int channels;
  double left;
  double right;
  std::vector<std::int16_t> in;
  std::vector<std::int16_t> want;
};
std::ostream& operator<<(std::ostream& os, const VolumeCase& c) { return os << c.name; }

class VolumeTest : public ::testing::TestWithParam<VolumeCase> {};

TEST_P(VolumeTest, ScalesTruncatesAndHoldsToThe16BitRange) {
  std::vector<std::int16_t> s = GetParam().in;
  audio::apply_volume(s.data(), s.size(), GetParam().channels, GetParam().left, GetParam().right);
  EXPECT_EQ(s, GetParam().want);
}

const double kNan = std::numeric_limits<double>::quiet_NaN();
INSTANTIATE_TEST_SUITE_P(
    Factors, VolumeTest,
    ::testing::Values(
        VolumeCase{"near_unity_is_unity", 2, 1.00005, 0.99995, {1001, -1001}, {1001, -1001}},
        VolumeCase{"double_is_held_to_32767",
                   2,
                   2.0,
                   2.0,
                   {20000, -20000, 7, -7},
                   {32767, -32767, 14, -14}},
        VolumeCase{"sides_apart", 2, 0.5, 1.0, {-3, -3, 3, 3}, {-1, -3, 1, 3}},
        VolumeCase{
            "inverted_never_gives_minus_32768", 2, -1.0, -1.0, {-32768, 32767}, {32767, -32767}},
        VolumeCase{"mono_takes_the_left_factor", 1, 0.5, 4.0, {100, 200, -300}, {50, 100, -150}},
        VolumeCase{"other_counts_are_left_alone", 3, 0.0, 0.0, {1, 2, 3}, {1, 2, 3}},
        VolumeCase{"not_a_number_is_silence", 2, kNan, 1.0, {500, 500}, {0, 500}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(AdaptForConverterTest, TwentyTwoKilohertzIsSentAsFortyFourWithEveryFrameTwice) {
  const std::int16_t in[] = {1, 2, 3};
  std::vector<std::int16_t> out;
  const audio::ConverterInput c = audio::adapt_for_converter(in, 3, 1, 22050, out);
  EXPECT_EQ(c.rate, 44100);
  EXPECT_EQ(c.channels, 1);
  EXPECT_EQ(out, (std::vector<std::int16_t>{1, 1, 2, 2, 3, 3}));
  const std::int16_t stereo[] = {1, -1, 2, -2};
  for (int rate : {11025, 11024}) {
    const audio::ConverterInput q = audio::adapt_for_converter(stereo, 2, 2, rate, out);
    EXPECT_EQ(q.rate, 44100);
    EXPECT_EQ(out,
              (std::vector<std::int16_t>{1, -1, 1, -1, 1, -1, 1, -1, 2, -2, 2, -2, 2, -2, 2, -2}));
  }
}

TEST(AdaptForConverterTest, RatesOutsideTheConvertersRangeAreBroughtIntoIt) {
  std::vector<std::int16_t> out;
  const std::int16_t in[] = {10, 20, 30, 40, 50, 60, 70, 80};
  audio::ConverterInput c = audio::adapt_for_converter(in, 8, 1, 96000, out);
  EXPECT_EQ(c.rate, 48000);
  EXPECT_EQ(out, (std::vector<std::int16_t>{15, 35, 55, 75}));
  c = audio::adapt_for_converter(in, 8, 1, 192000, out);
  EXPECT_EQ(c.rate, 48000);
  EXPECT_EQ(out, (std::vector<std::int16_t>{25, 65}));
  c = audio::adapt_for_converter(in, 4, 2, 50000, out);  // 25000 Hz, stereo pairs averaged
  EXPECT_EQ(c.rate, 25000);
  EXPECT_EQ(out, (std::vector<std::int16_t>{20, 30, 60, 70}));
  c = audio::adapt_for_converter(in, 2, 1, 3000, out);  // three times: 9000 Hz
  EXPECT_EQ(c.rate, 9000);
  EXPECT_EQ(out, (std::vector<std::int16_t>{10, 10, 10, 20, 20, 20}));
  for (int rate : {8000, 32000, 44100, 48000}) {
    c = audio::adapt_for_converter(in, 8, 1, rate, out);
    EXPECT_EQ(c.rate, rate);
    EXPECT_EQ(out.size(), 8u);
  }
  EXPECT_EQ(audio::adapt_for_converter(in, 8, 1, 0, out).rate, 0);
  EXPECT_EQ(audio::adapt_for_converter(in, 8, 1, audio::kMaxAdaptableRate + 1, out).rate, 0);
  EXPECT_EQ(audio::adapt_for_converter(in, 8, 0, 44100, out).rate, 0);
}

TEST(AdaptForConverterTest, MoreThanTwoChannelsAreMixedToStereoWithoutClipping) {
  // RIFF order: front left, front right, centre, low frequency, back left, back right.
  const std::int16_t six[] = {1000,  -1000, 2000,  30000, 500,   -500,
                              32767, 32767, 32767, 32767, 32767, 32767};
  std::vector<std::int16_t> out;
  const audio::ConverterInput c = audio::adapt_for_converter(six, 2, 6, 48000, out);
  EXPECT_EQ(c.channels, 2);
  EXPECT_EQ(c.rate, 48000);
  const double norm = 2.0 + std::sqrt(0.5);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0], std::lround((1000 + 2000 * std::sqrt(0.5) + 500) / norm));
  EXPECT_EQ(out[1], std::lround((-1000 + 2000 * std::sqrt(0.5) - 500) / norm));
  EXPECT_EQ(out[2], 32767);  // full scale everywhere stays full scale, no wrap
  EXPECT_EQ(out[3], 32767);
}

}  // namespace
