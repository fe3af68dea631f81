// AviAudioPlayer on files built in memory: the shell's answers, blocks, formats, volume, seek,
// shift, the end, stream selection, and the rules of our own for the cases left open.

#include <avikit/avi_audio_player.h>
#include <avikit/media_info.h>
#include <avikit/sound_frame.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <tuple>

#include "audio/audio_test_support.h"
#include "support/avi_builder.h"
#include "video/shared_file_registry.h"

using namespace avikit;
using namespace std::string_literals;

namespace {

using avitest::AviBuilder;
using avitest::MemoryFile;

std::string le16_bytes(const std::vector<std::int16_t>& samples) {  // a little-endian host
  return {reinterpret_cast<const char*>(samples.data()), 2 * samples.size()};
}

std::vector<std::int16_t> interleaved(std::size_t frames, int channels, auto sample) {
  std::vector<std::int16_t> s;
  for (std::size_t i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) s.push_back(static_cast<std::int16_t>(sample(i, c)));
  }
  return s;
}

// Samples that say where they are: frame i of channel c is (i * 7 + c * 1000) mod 30000.
std::vector<std::int16_t> numbered(std::size_t frames, int channels) {
  return interleaved(frames, channels, [](std::size_t i, int c) {
    return (i * 7 + static_cast<std::size_t>(c) * 1000) % 30000;
  });
}

// 440 Hz at a level of 12000, alike in every channel.
std::vector<std::int16_t> sine(std::size_t frames, int channels, int rate) {
  return interleaved(frames, channels, [rate](std::size_t i, int) {
    return std::lround(12000.0 *
                       std::sin(2.0 * std::numbers::pi * 440.0 * static_cast<double>(i) / rate));
  });
}

// A PCM AVI: the bytes cut into chunks of `chunk` bytes.
std::string pcm_avi(const std::string& data, avitest::AudioStream format,
                    std::size_t chunk = 8820) {
  AviBuilder b;
  const int a = b.add_audio(format);
  for (std::size_t at = 0; at < data.size(); at += chunk) {
    const std::string piece = data.substr(at, chunk);
    b.add_chunk(a, static_cast<std::uint32_t>(piece.size()), true, piece);
  }
  return b.build().bytes;
}

avitest::AudioStream pcm(int channels, int rate, int bits = 16, int block_align = 0) {
  return {.channels = static_cast<std::uint16_t>(channels),
          .sample_rate = static_cast<std::uint32_t>(rate),
          .bits = static_cast<std::uint16_t>(bits),
          .block_align = static_cast<std::uint16_t>(block_align)};
}

// The samples of one block; none without a block.
std::vector<std::int16_t> samples(const SoundFrame* f) {
  if (f == nullptr) return {};
  return {f->get_pcm(), f->get_pcm() + f->get_sample_count()};
}

class AudioPlayerTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(shared_file_count(), 0) << "a file was left open"; }
};

// A missing file, one without sound, and sound libavcodec has no decoder for (40-bit PCM) fail
// the open; a failed open after a good one closes the first.
TEST_F(AudioPlayerTest, FilesWithoutPlayableSoundDoNotOpen) {
  AviBuilder b;
  b.add_frames(b.add_video({}), 5, 24);
  MemoryFile silent("mem://player/silent.avi", b.build().bytes);
  avitest::AudioStream s = pcm(1, 8000, 40, 5);
  s.avg_bytes = 40000;
  MemoryFile deep("mem://player/deep.avi", pcm_avi(std::string(40000, '\x55'), s));
  MemoryFile f("mem://player/ok.avi", pcm_avi(le16_bytes(numbered(4410, 2)), pcm(2, 44100)));
  for (const InMemoryFile& name : {InMemoryFile(nullptr), silent.file(), deep.file()}) {
    AviAudioPlayer p;
    ASSERT_EQ((std::tuple{p.open(f.file()), p.has_audio(), p.open(name)}), std::tuple(0, 1, 1))
        << name.name;
    EXPECT_EQ(std::tuple(p.has_audio(), p.get_next_sound(), p.is_end()), std::tuple(0, nullptr, 1));
  }
}

// Below 8 bits the samples are stored left-justified in a byte: played as 8-bit. The samples
// after the stream are silence (0), whatever the depth stores as silence.
TEST_F(AudioPlayerTest, StoredSamplesComeOutAsSixteenBitsAndTheRestAsSilence) {
  const struct {
    int bits, block_align;
    std::string stored;  // mono samples as stored
    std::vector<std::int16_t> want;
  } cases[] = {{4, 1, "\x80\xf0\x00\x90"s, {0, 28672, -32768, 4096}},
               {24, 3, "\x11\x34\x12\x00\x00\x80"s, {0x1234, -32768}},
               {24, 4, "\x00\x11\x34\x12\x00\x00\x00\x80"s, {0x1234, -32768}}};
  for (const auto& c : cases) {
    MemoryFile f("mem://player/depth.avi", pcm_avi(c.stored, pcm(1, 8000, c.bits, c.block_align)));
    AviAudioPlayer p;
    ASSERT_EQ(p.open(f.file()), 0);
    std::vector<std::int16_t> want = c.want;
    want.resize(1152, 0);
    EXPECT_EQ(audiotest::pull_all(p, 1), want) << c.bits << " bits in " << c.block_align;
  }
}

// Volume applies to mono without conversion (the left factor), and to stereo after the
// converter (both sides the left factor); mono output through the converter is not scaled.
TEST_F(AudioPlayerTest, VolumeAppliesWithoutConversionAndToStereoAfterIt) {
  const std::vector<std::int16_t> data = numbered(8000, 1);
  MemoryFile f("mem://player/mono.avi", pcm_avi(le16_bytes(data), pcm(1, 8000)));
  AviAudioPlayer p, loud, plain;
  ASSERT_EQ(p.open(f.file()), 0);
  p.set_volume(0.5, 4.0);
  std::vector<std::int16_t> half(data.begin(), data.begin() + 1152);
  for (std::int16_t& v : half) v = static_cast<std::int16_t>(v / 2);
  EXPECT_EQ(audiotest::pull_all(p, 1), half);
  p.set_pcm_output(8000, 2);
  const std::vector<std::int16_t> stereo = audiotest::pull_all(p, 1);
  ASSERT_EQ(stereo.size(), 2304u);
  for (std::size_t i = 0; i < 2304; i += 2) ASSERT_EQ(stereo[i], stereo[i + 1]);
  MemoryFile g("mem://player/stereo8k.avi",
               pcm_avi(le16_bytes(sine(16000, 2, 8000)), pcm(2, 8000)));
  ASSERT_EQ(loud.open(g.file()), 0);
  ASSERT_EQ(plain.open(g.file()), 0);
  loud.set_volume(3.0, 3.0);
  loud.set_pcm_output(8000, 1);
  plain.set_pcm_output(8000, 1);
  EXPECT_EQ(audiotest::pull_all(loud, 5), audiotest::pull_all(plain, 5));
}

// --- Seek, shift and the end ---------------------------------------------------------------------

class AudioClockTest : public AudioPlayerTest {
 protected:
  // 20 s of mono 16-bit PCM at 8000 Hz, numbered samples.
  std::vector<std::int16_t> data_ = numbered(160000, 1);
  MemoryFile file_{"mem://player/clock.avi", pcm_avi(le16_bytes(data_), pcm(1, 8000), 16000)};

  // `silence` zero samples, then the stream's from `frame` on: n samples in all.
  std::vector<std::int16_t> from(std::size_t frame, std::size_t n, std::size_t silence = 0) const {
    std::vector<std::int16_t> out(silence, 0);
    out.insert(out.end(), data_.begin() + static_cast<std::ptrdiff_t>(frame),
               data_.begin() + static_cast<std::ptrdiff_t>(frame + n - silence));
    return out;
  }
};

// The shift moves the sound against the host's time, at once when set (one set before open waits
// for the next seek), and a seek past the end gives the length less the shift, and the end.
TEST_F(AudioClockTest, ShiftMovesTheSoundAgainstTheHostsTimeAtOnce) {
  AviAudioPlayer p;
  p.set_shift(300);
  ASSERT_EQ(p.open(file_.file()), 0);
  EXPECT_DOUBLE_EQ(p.get_offset(), -0.3);
  EXPECT_EQ(samples(p.get_next_sound()), from(0, 1152));
  p.seek(0.0);
  EXPECT_EQ(samples(p.get_next_sound()), from(2400, 1152));
  EXPECT_EQ((std::tuple{p.set_shift(500), p.seek(10.0), p.get_offset()}),
            std::tuple(500, 10.0, 10.0));
  EXPECT_EQ(samples(p.get_next_sound()), from(84000, 1152));  // 10.5 s
  EXPECT_DOUBLE_EQ(p.get_offset(), 10.0 + 1152.0 / 8000);
  p.seek(2.0);
  p.set_shift(1000);
  EXPECT_DOUBLE_EQ(p.get_offset(), 2.0);
  EXPECT_EQ(samples(p.get_next_sound()), from(24000, 1152));  // 3 s
  p.seek(2.0);
  p.set_shift(0);
  EXPECT_EQ(samples(p.get_next_sound()), from(16000, 1152));
  p.set_shift(500);
  EXPECT_EQ((std::tuple{p.seek(100.0), p.is_end()}), std::tuple(20.0 - 0.5, 1));
  // Past the end the player goes on with silence, and the clock with it.
  EXPECT_EQ(samples(p.get_next_sound()), std::vector<std::int16_t>(1152, 0));
  EXPECT_DOUBLE_EQ(p.get_offset(), 20.0 - 0.5 + 1152.0 / 8000);
}

// A negative shift asks for sound from before the stream's start: silence until the clock gets
// there, then the stream from its first sample, exactly where the clock says.
TEST_F(AudioClockTest, ANegativeShiftGivesSilenceUntilTheStreamStartsThenSound) {
  AviAudioPlayer p;
  ASSERT_EQ(p.open(file_.file()), 0);
  EXPECT_EQ((std::tuple{p.set_shift(-250), p.seek(0.0)}), std::tuple(-250, 0.0));
  EXPECT_EQ(audiotest::pull_all(p, 4), from(0, 4 * 1152, 2000));
  EXPECT_DOUBLE_EQ(p.get_offset(), 4 * 1152.0 / 8000);
  // The same from a seek into the shifted region a little later.
  p.seek(0.1);
  EXPECT_EQ(samples(p.get_next_sound()), from(0, 1152, 1152));  // 0.15 s before the start
  EXPECT_EQ(samples(p.get_next_sound()), from(0, 1152, 48));
}

// --- Formats the converter does not take ---------------------------------------------------------

// Rates and channel counts the converter does not take play in a format within its limits (or
// the one asked for) at the right pitch, length and level.
TEST_F(AudioPlayerTest, OddRatesPlayWithinTheLimitsAtTheRightPitchAndLength) {
  const struct {
    int rate, channels, want_rate, want_channels;
    bool asked = false;  // the output format asked for, not the player's own choice
  } cases[] = {
      {4000, 1, 8000, 1}, {11025, 2, 11025, 2}, {7000, 3, 8000, 2}, {22050, 1, 44100, 2, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate);
    const auto frames = static_cast<std::size_t>(c.rate) * 2;  // two seconds
    const std::vector<std::int16_t> data = sine(frames, c.channels, c.rate);
    MemoryFile f("mem://player/odd.avi", pcm_avi(le16_bytes(data), pcm(c.channels, c.rate), 40000));
    AviAudioPlayer p;
    ASSERT_EQ(p.open(f.file()), 0);
    if (c.asked) p.set_pcm_output(c.want_rate, c.want_channels);
    EXPECT_EQ(std::tuple(p.get_pcm_output_sample_rate(), p.get_pcm_output_channels()),
              std::tuple(c.want_rate, c.want_channels));
    const std::vector<std::int16_t> all = audiotest::pull_all(p, 10000);
    EXPECT_EQ(p.is_end(), 1);
    const double seconds = static_cast<double>(all.size()) / c.want_channels / c.want_rate;
    EXPECT_NEAR(seconds, 2.0, 1152.0 / c.want_rate);
    EXPECT_NEAR(audiotest::sine_frequency(all, c.want_channels, 0, c.want_rate), 440.0, 0.5);
    EXPECT_NEAR(*std::max_element(all.begin(), all.end()), 12000, 360);  // the level kept
    for (std::size_t i = 0; c.want_channels == 2 && i < all.size(); i += 2) {
      ASSERT_EQ(all[i], all[i + 1]) << i;
    }
  }
}

// --- Streams, copies, descriptions ---------------------------------------------------------------

TEST_F(AudioPlayerTest, StreamsAreSelectedByNumberAndDescribed) {
  AviBuilder b;
  const int v = b.add_video({});
  const int a0 = b.add_audio(pcm(2, 44100));
  const int a1 = b.add_audio(pcm(1, 22050, 8));
  std::string ramp(2205, '\0');  // 8-bit samples: byte i holds i mod 256
  for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<char>(i);
  b.add_frames(v, 2, 24)
      .add_chunk(a0, 17640, true, le16_bytes(numbered(4410, 2)))
      .add_chunk(a1, 2205, true, ramp);
  MemoryFile f("mem://player/streams.avi", b.build().bytes);
  AviAudioPlayer p;
  int list[4] = {7, 7, 7, 7};
  ASSERT_EQ(p.open(f.file()), 0);
  EXPECT_EQ((std::tuple{p.get_audio_stream_list(list, 4), list[0]}), std::tuple(1, 1));
  const AudioInfo* info = p.get_audio_info();
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(std::tuple(info->format, info->channels, info->sample_rate, info->stream, info->length),
            std::tuple(kAudioFormatPcm, 2, 44100, 1, 0.1));
  EXPECT_EQ((std::tuple{p.select_audio_stream(2), p.get_audio_stream_id()}), std::tuple(2, 2));
  p.set_pcm_output(96000, 2);  // out of range: the stream's own format stays
  p.set_pcm_output(44100, 3);
  EXPECT_EQ(std::tuple(p.get_pcm_output_sample_rate(), p.get_pcm_output_channels()),
            std::tuple(22050, 1));
  EXPECT_EQ((std::tuple{p.select_audio_stream(9), p.get_offset()}), std::tuple(2, 0.0));
  p.set_pcm_output(22050, 1);
  p.seek(0.05);  // byte 1102 at the new stream's own byte rate
  EXPECT_EQ(samples(p.get_next_sound()).at(0), (1102 % 256 - 128) * 256);
  p.close();
  EXPECT_EQ(std::tuple(p.has_audio(), p.get_audio_info()), std::tuple(0, nullptr));
  // The host's open(name, stream) counts on getting the stream back.
  EXPECT_EQ((std::tuple{p.open(f.file(), 2), p.get_audio_stream_id(), p.open(f.file(), 5),
                        p.has_audio()}),
            std::tuple(0, 2, 1, 0));
}

// Copies share one player and its stream position (the shell is the video player's, tested
// there); a player opened apart keeps its own position.
TEST_F(AudioPlayerTest, CopiesShareOnePlayerAndPlayersOfOneThreadShareTheFile) {
  MemoryFile f("mem://player/copies.avi", pcm_avi(le16_bytes(numbered(44100, 2)), pcm(2, 44100)));
  auto first = std::make_unique<AviAudioPlayer>();
  ASSERT_EQ(first->open(f.file()), 0);
  AviAudioPlayer copy(*first);
  first->get_next_sound();
  first.reset();
  EXPECT_DOUBLE_EQ(copy.get_offset(), 1152.0 / 44100);
  ASSERT_NE(copy.get_next_sound(), nullptr);
  EXPECT_EQ(shared_file_count(), 1);
  AviAudioPlayer apart;
  ASSERT_EQ(apart.open(f.file()), 0);
  EXPECT_STREQ(apart.get_file_name(), f.name());
  EXPECT_GT(apart.get_file_size(), 176400.0);
  const std::vector<std::int16_t> x = audiotest::pull_all(apart, 3);
  const std::vector<std::int16_t> y = audiotest::pull_all(copy, 1);
  EXPECT_TRUE(std::equal(y.begin(), y.end(), x.begin() + 4608));
}

}  // namespace
