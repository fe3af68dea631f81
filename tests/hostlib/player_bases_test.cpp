// The parts of the host library the players inherit or hand out: the player base's open with a
// stream, sound blocks and images.
#include "hostlib/player_bases.h"

#include <gtest/gtest.h>

#include <cstring>

#include "hostlib/image.h"
#include "hostlib/media_info.h"
#include "hostlib/sound_frame.h"

namespace {

class TestAudioPlayer : public AudioPlayer {
 public:
  TestAudioPlayer() { info_.stream = -1; }
  int open(const char* name) override {
    if (name == nullptr) return 1;
    info_.stream = 1;
    return 0;
  }
  using AudioPlayer::open;
  void close() override { info_.stream = -1; }
  void set_volume(double, double) override {}
  const SoundFrame* get_next_sound() override { return nullptr; }
  double seek(double) override { return 0.0; }
  int set_shift(int ms) override { return ms; }
  void set_pcm_output(int, int) override {}
  int get_pcm_output_sample_rate() const override { return 44100; }
  int get_pcm_output_channels() const override { return 2; }
  int has_audio() const override { return info_.stream >= 0; }
  int is_end() const override { return 1; }
  double get_offset() const override { return 0.0; }
  double get_length() const override { return 0.0; }
  const char* get_file_name() const override { return nullptr; }
  int select_audio_stream(int stream) override { return stream == 1 ? 1 : -1; }
  const AudioInfo* get_audio_info() const override { return &info_; }

 private:
  AudioInfo info_;
};

// Opening with a stream number selects it, and a stream the file lacks undoes the open.
TEST(PlayerBasesTest, AudioOpenWithAStreamSelectsItOrFails) {
  TestAudioPlayer p;
  int list[4] = {7, 7, 7, 7};
  EXPECT_EQ(p.get_audio_stream_list(list, 4), 0);
  ASSERT_EQ(p.open("x", -1), 0);
  EXPECT_EQ(p.get_audio_stream_list(list, 4), 1);
  EXPECT_EQ(list[0], 1);
  EXPECT_EQ(p.open("x", 5), 1);
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
