// The parts of the host library the players hand out: sound blocks and images.
#include <avikit/image.h>
#include <avikit/sound_frame.h>
#include <gtest/gtest.h>

#include <cstring>
#include <utility>

using namespace avikit;

namespace {

TEST(SoundFrameTest, LengthIsTheDurationOfTheSamplesSet) {
  SoundFrame f(44100, 2);
  EXPECT_EQ(f.get_length(), 0.0);
  std::int16_t pcm[2304] = {};
  pcm[5] = 123;
  f.set_pcm(pcm, 2304);
  pcm[5] = 0;  // the frame keeps its own copy
  EXPECT_EQ(f.get_pcm()[5], 123);
  f.set_param(22050, 1);
  EXPECT_DOUBLE_EQ(f.get_length(), 2304.0 / 22050);
  f.set_param(0, 0);
  f.set_pcm(nullptr, 100);
  EXPECT_EQ(std::pair(f.get_length(), f.get_sample_count()), std::pair(0.0, 0));
}

TEST(ImageTest, RowsArePaddedAndBadSizesGiveAnEmptyImage) {
  Image i(5, 3, 1, 0);
  EXPECT_EQ(i.pitch(), 16);
  ASSERT_NE(i.data(), nullptr);
  EXPECT_EQ(i.row(2) - i.row(0), 32);
  const Image bad(-1, 3, 1, 0);
  EXPECT_TRUE(bad.data() == nullptr && bad.width() == 0);
  EXPECT_EQ(Image(4, 4, 2, 0).data(), nullptr);  // another pixel format
}

}  // namespace
