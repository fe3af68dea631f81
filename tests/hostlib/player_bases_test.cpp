// The parts of the host library the players inherit or hand out: the player base's open with a
// stream, sound blocks and images.
#include "hostlib/player_bases.h"

#include <gtest/gtest.h>

#include <cstring>

#include "audio/avi_audio_player.h"
#include "hostlib/image.h"
#include "hostlib/media_info.h"
#include "hostlib/sound_frame.h"
#include "support/avi_builder.h"

namespace {

// Opening with a stream number selects it, and a stream the file lacks undoes the open.
TEST(PlayerBasesTest, AudioOpenWithAStreamSelectsItOrFails) {
  avitest::AviBuilder b;
  const int v = b.add_video({});
  avitest::AudioStream mono;
  mono.channels = 1;
  const int a = b.add_audio(mono);
  b.add_chunks(v, 4, 24).add_chunks(a, 4, 882);
  const avitest::MemoryFile clip("mem://bases/clip.avi", b.build().bytes);
  AviAudioPlayer p;
  int list[4] = {7, 7, 7, 7};
  EXPECT_EQ(p.get_audio_stream_list(list, 4), 0);
  ASSERT_EQ(p.open(clip.name(), -1), 0);
  EXPECT_EQ(p.get_audio_stream_list(list, 4), 1);
  EXPECT_EQ(list[0], 1);
  EXPECT_EQ(p.open(clip.name(), 5), 1);
  EXPECT_EQ(p.has_audio(), 0);
  EXPECT_EQ(p.get_audio_stream_id(), -1);
}

TEST(SoundFrameTest, LengthIsTheDurationOfTheSamplesSet) {
  SoundFrame f(44100, 2);
  EXPECT_EQ(f.get_length(), 0.0);
  std::int16_t pcm[2304] = {};
  pcm[5] = 123;
  f.set_pcm(pcm, 2304);
  EXPECT_DOUBLE_EQ(f.get_length(), 1152.0 / 44100);
  pcm[5] = 0;  // the frame keeps its own copy
  EXPECT_EQ(f.get_pcm()[5], 123);
  f.set_param(22050, 1);
  EXPECT_DOUBLE_EQ(f.get_length(), 2304.0 / 22050);
  f.set_param(0, 0);
  EXPECT_EQ(f.get_length(), 0.0);
  f.set_pcm(nullptr, 100);
  EXPECT_EQ(f.get_sample_count(), 0);
}

TEST(ImageTest, RowsArePaddedAndBadSizesGiveAnEmptyImage) {
  Image i(5, 3, 1, 0);
  EXPECT_EQ(i.pitch(), 16);
  ASSERT_NE(i.data(), nullptr);
  EXPECT_EQ(i.row(2) - i.row(0), 32);
  Image bad(-1, 3, 1, 0);
  EXPECT_EQ(bad.data(), nullptr);
  EXPECT_EQ(bad.width(), 0);
  Image other_format(4, 4, 2, 0);
  EXPECT_EQ(other_format.data(), nullptr);
}

}  // namespace
