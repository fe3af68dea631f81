// Sample steps of the player: volume, and blocks brought into the converter's range (8-bit and
// wider PCM are checked end to end in audio_player_test.cpp).

#include "audio/pcm_convert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "audio/stream_format.h"

using namespace avikit;

namespace {

// Factors scale and truncate, held to +-32767: near unity is unity, the sides apart, an inverted
// -32768 never stays -32768, mono takes the left factor, other channel counts are left alone, and
// a factor that is not a number is silence.
TEST(VolumeTest, ScalesTruncatesAndHoldsToThe16BitRange) {
  using S = std::vector<std::int16_t>;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    int channels;
    double left, right;
    S in, want;
  } cases[] = {
      {2, 1.00005, 0.99995, {1001, -1001}, {1001, -1001}},
      {2, 2.0, 2.0, {20000, -20000, 7, -7}, {32767, -32767, 14, -14}},
      {2, 0.5, 1.0, {-3, -3, 3, 3}, {-1, -3, 1, 3}},
      {2, -1.0, -1.0, {-32768, 32767}, {32767, -32767}},
      {1, 0.5, 4.0, {100, 200, -300}, {50, 100, -150}},
      {3, 0.0, 0.0, {1, 2, 3}, {1, 2, 3}},
      {2, nan, 1.0, {500, 500}, {0, 500}},
  };
  for (const auto& c : cases) {
    S s = c.in;
    audio::apply_volume(s.data(), s.size(), c.channels, c.left, c.right);
    EXPECT_EQ(s, c.want) << c.channels << " channels, " << c.left << " and " << c.right;
  }
}

// Rates below the converter's range are repeated up to it (22050 and 11025 to 44100), rates above
// it averaged down (96000 and 192000 to 48000), more than two channels mixed to stereo without
// clipping; rates it takes pass through, and impossible inputs give rate 0.
TEST(AdaptForConverterTest, BringsRatesAndChannelsIntoTheConvertersRange) {
  using S = std::vector<std::int16_t>;
  const S ramp = {10, 20, 30, 40, 50, 60, 70, 80};
  // RIFF order: front left, front right, centre, low frequency, back left, back right.
  const S six = {1000, -1000, 2000, 30000, 500, -500, 32767, 32767, 32767, 32767, 32767, 32767};
  const struct {
    S in;
    int channels, rate, want_rate, want_channels;
    S want;
  } cases[] = {
      {{1, 2, 3}, 1, 22050, 44100, 1, {1, 1, 2, 2, 3, 3}},
      {{1, 2}, 1, 11025, 44100, 1, {1, 1, 1, 1, 2, 2, 2, 2}},
      {{1, -1}, 2, 11024, 44100, 2, {1, -1, 1, -1, 1, -1, 1, -1}},
      {ramp, 1, 96000, 48000, 1, {15, 35, 55, 75}},
      {ramp, 1, 192000, 48000, 1, {25, 65}},
      {ramp, 2, 50000, 25000, 2, {20, 30, 60, 70}},  // stereo pairs averaged
      {{10, 20}, 1, 3000, 9000, 1, {10, 10, 10, 20, 20, 20}},
      {ramp, 1, 8000, 8000, 1, ramp},
      {ramp, 1, 48000, 48000, 1, ramp},
      {six, 6, 48000, 48000, 2, {1077, -32, 32767, 32767}},  // full scale stays full scale
      {ramp, 1, 0, 0, 0, {}},
      {ramp, 1, audio::kMaxAdaptableRate + 1, 0, 0, {}},
      {ramp, 0, 44100, 0, 0, {}},
  };
  for (const auto& c : cases) {
    S out;
    const std::size_t frames = c.in.size() / static_cast<std::size_t>(std::max(c.channels, 1));
    const audio::ConverterInput got =
        audio::adapt_for_converter(c.in.data(), frames, c.channels, c.rate, out);
    EXPECT_EQ(got.rate, c.want_rate) << c.rate;
    if (c.want_rate == 0) continue;
    EXPECT_EQ(got.channels, c.want_channels) << c.rate;
    EXPECT_EQ(out, c.want) << c.rate << " Hz, " << c.channels << " channels";
  }
}

}  // namespace
