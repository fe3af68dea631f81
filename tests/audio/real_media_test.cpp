// The audio player on real files written by ffmpeg, against the ffmpeg tool's own decode, and
// the `avikit audio` command.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "audio/audio_test_support.h"
#include "audio/avi_audio_player.h"
#include "hostlib/media_info.h"
#include "support/run_command.h"
#include "support/test_paths.h"
#include "video/shared_file_registry.h"

namespace {

using audiotest::ffmpeg_s16;
using audiotest::pull_all;

std::vector<std::int16_t> play(const std::string& name, int rate = 0, int channels = 0) {
  AviAudioPlayer p;
  EXPECT_EQ(p.open(avitest::media_path(name).c_str()), 0) << name;
  if (rate != 0) p.set_pcm_output(rate, channels);
  std::vector<std::int16_t> pcm = pull_all(p);
  EXPECT_EQ(p.is_end(), 1);
  return pcm;
}

bool all_zero(std::vector<std::int16_t>::const_iterator from,
              std::vector<std::int16_t>::const_iterator to) {
  return std::all_of(from, to, [](std::int16_t v) { return v == 0; });
}

// PCM comes out as stored: every sample ffmpeg decodes, then silence to the end of the block.
class PcmExactTest : public ::testing::TestWithParam<const char*> {};

TEST_P(PcmExactTest, SamplesAreByteIdenticalToFfmpegsS16Decode) {
  const std::vector<std::int16_t> want = ffmpeg_s16(avitest::media_path(GetParam()));
  ASSERT_FALSE(want.empty());
  const std::vector<std::int16_t> ours = play(GetParam());
  ASSERT_GE(ours.size(), want.size());
  EXPECT_LT(ours.size() - want.size(), 2u * 1152);
  EXPECT_TRUE(std::equal(want.begin(), want.end(), ours.begin()));
  EXPECT_TRUE(all_zero(ours.begin() + static_cast<std::ptrdiff_t>(want.size()), ours.end()));
}

INSTANTIATE_TEST_SUITE_P(Files, PcmExactTest,
                         ::testing::Values("pcm16_stereo_44100.avi", "pcm8_mono_22050.avi",
                                           "sine_22050_mono_plain.wav", "mpeg4_xvid_gop12.avi",
                                           "dv_type2_625.avi"));

// Compressed sound through the host's decoder. The measure: the offset that best lines our
// output up with ffmpeg's (searched over +-4096 frames), and then the largest sample difference
// and the signal-to-noise ratio over the frames both have, less the last compressed frame (the
// decoder keeps a stream's final frame, having no end-of-stream call). In practice both decode
// with the same libavcodec and the difference is 0.
struct CompressedCase {
  const char* file;
  const char* ffmpeg_input_args;  // -downmix stereo: the AC-3 decoder's own downmix, as ours
  int channels;
  int codec_frame;
};
std::ostream& operator<<(std::ostream& os, const CompressedCase& c) { return os << c.file; }

class CompressedTest : public ::testing::TestWithParam<CompressedCase> {};

TEST_P(CompressedTest, DecodeMatchesFfmpegsAfterAlignment) {
  const CompressedCase& c = GetParam();
  const std::vector<std::int16_t> want =
      ffmpeg_s16(avitest::media_path(c.file), "", c.ffmpeg_input_args);
  ASSERT_FALSE(want.empty());
  const std::vector<std::int16_t> ours = play(c.file);
  const auto ch = static_cast<std::ptrdiff_t>(c.channels);
  auto mismatch = [&](std::ptrdiff_t shift, std::ptrdiff_t from, std::ptrdiff_t to) {
    double err = 0.0;
    for (std::ptrdiff_t i = from; i < to; ++i) {
      const std::ptrdiff_t j = i + shift * ch;
      if (j < 0 || j >= static_cast<std::ptrdiff_t>(ours.size())) return 1e300;
      const double d = ours[static_cast<std::size_t>(j)] - want[static_cast<std::size_t>(i)];
      err += d * d;
    }
    return err;
  };
  const auto n = static_cast<std::ptrdiff_t>(want.size());
  std::ptrdiff_t best = 0;
  for (std::ptrdiff_t s = -4096; s <= 4096; ++s) {
    if (mismatch(s, n / 4, n / 4 + 4000) < mismatch(best, n / 4, n / 4 + 4000)) best = s;
  }
  EXPECT_EQ(best, 0) << "our sound starts " << best << " frames later";
  const std::ptrdiff_t end =
      std::min<std::ptrdiff_t>(n, static_cast<std::ptrdiff_t>(ours.size()) - best * ch) -
      c.codec_frame * ch;
  double signal = 0.0;
  int largest = 0;
  for (std::ptrdiff_t i = std::max<std::ptrdiff_t>(0, -best * ch); i < end; ++i) {
    const int a = ours[static_cast<std::size_t>(i + best * ch)];
    const int b = want[static_cast<std::size_t>(i)];
    largest = std::max(largest, std::abs(a - b));
    signal += static_cast<double>(b) * b;
  }
  const double noise = mismatch(best, std::max<std::ptrdiff_t>(0, -best * ch), end);
  const double snr = noise == 0.0 ? 200.0 : 10.0 * std::log10(signal / noise);
  RecordProperty("max_difference", largest);
  RecordProperty("snr_db", std::to_string(snr));
  EXPECT_LE(largest, 1) << c.file;
  EXPECT_GE(snr, 90.0) << c.file;
  EXPECT_GT(end, n - 2 * c.codec_frame * ch);  // nothing lost but the held frame
}

INSTANTIATE_TEST_SUITE_P(Codecs, CompressedTest,
                         ::testing::Values(CompressedCase{"mp3_cbr.avi", "", 1, 1152},
                                           CompressedCase{"mp3_vbr.avi", "", 1, 1152},
                                           CompressedCase{"mjpeg_mp3.avi", "", 1, 1152},
                                           CompressedCase{"mp2.avi", "", 1, 1152},
                                           CompressedCase{"ac3_51.avi", "-downmix stereo", 2,
                                                          1536}));

TEST(RealMediaTest, AcThreeFiveOneIsDescribedAsAcThree) {
  AviAudioPlayer p;
  ASSERT_EQ(p.open(avitest::media_path("ac3_51.avi").c_str()), 0);
  const AudioInfo* info = p.get_audio_info();
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->format, kAudioFormatAc3);  // an extensible header, told by its sync word
  EXPECT_EQ(info->channels, 2);
  EXPECT_EQ(info->source_channels, 6);
  EXPECT_EQ(p.get_pcm_output_channels(), 2);
}

// ffmpeg writes VBR MP3 with a byte rate of 0: the length must still be finite and the
// playback must end.
TEST(RealMediaTest, VariableBitRateMp3HasALengthAndEnds) {
  AviAudioPlayer p;
  ASSERT_EQ(p.open(avitest::media_path("mp3_vbr.avi").c_str()), 0);
  const double length = p.get_length();
  EXPECT_TRUE(std::isfinite(length));
  EXPECT_NEAR(length, 3.0, 0.1);
  EXPECT_GT(p.get_audio_info()->bit_rate, 0);
  const std::vector<std::int16_t> all = pull_all(p, 1000);
  EXPECT_EQ(p.is_end(), 1);
  EXPECT_NEAR(static_cast<double>(all.size()) / 44100, length, 1152.0 / 44100);
  // A seek half way lands half way through the bytes, near half way in time.
  EXPECT_NEAR(p.seek(length / 2), length / 2, 1e-9);
  EXPECT_EQ(p.is_end(), 0);
}

struct ResampleCase {
  const char* file;
  int rate;
  int channels;
  double seconds;
};
std::ostream& operator<<(std::ostream& os, const ResampleCase& c) { return os << c.file; }

class ResampleTest : public ::testing::TestWithParam<ResampleCase> {};

TEST_P(ResampleTest, ASineKeepsItsFrequencyLevelAndLength) {
  const ResampleCase& c = GetParam();
  const std::vector<std::int16_t> out = play(c.file, c.rate, c.channels);
  EXPECT_NEAR(static_cast<double>(out.size()) / c.channels / c.rate, c.seconds, 1152.0 / c.rate);
  for (int ch = 0; ch < c.channels; ++ch) {
    EXPECT_NEAR(audiotest::peak_frequency(out, c.channels, ch, c.rate), 440.0, 0.5) << ch;
  }
  // The conversion keeps the level of the stream (ffmpeg's decode at the stream's own rate).
  const std::vector<std::int16_t> source = ffmpeg_s16(avitest::media_path(c.file));
  ASSERT_FALSE(source.empty());
  const double level = *std::max_element(source.begin(), source.end());
  EXPECT_NEAR(*std::max_element(out.begin(), out.end()), level, level * 0.03);
  if (c.channels == 2) {
    for (std::size_t i = 0; i + 1 < out.size(); i += 2) ASSERT_EQ(out[i], out[i + 1]);
  }
}

INSTANTIATE_TEST_SUITE_P(Rates, ResampleTest,
                         ::testing::Values(ResampleCase{"sine_22050_mono_plain.wav", 44100, 2, 2.0},
                                           ResampleCase{"pcm8_mono_22050.avi", 44100, 2, 3.0},
                                           ResampleCase{"pcm16_stereo_44100.avi", 48000, 2, 3.0},
                                           ResampleCase{"mp3_cbr.avi", 48000, 2, 3.03}));

// --- avikit audio --------------------------------------------------------------------------------

std::string cli(const std::string& args, int* code) {
  return avitest::run_command(std::string(AVIKIT_CLI) + " audio " + args + " 2>&1", code);
}

std::uint32_t le32_at(const std::string& s, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at])) |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at + 3])) << 24;
}

TEST(AudioCliTest, WritesAWaveFileAtThePlayersOutputFormat) {
  const std::string in = avitest::media_path("pcm16_stereo_44100.avi");
  const std::string out = avitest::temp_path("cli.wav");
  int code = -1;
  cli("'" + in + "' --rate 48000 --channels 1 --quiet -o '" + out + "'", &code);
  ASSERT_EQ(code, 0);
  const std::string wav = avitest::read_file(out);
  ASSERT_GT(wav.size(), 44u);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(le32_at(wav, 24), 48000u);
  EXPECT_EQ(static_cast<std::uint8_t>(wav[22]), 1);
  EXPECT_EQ(le32_at(wav, 40), wav.size() - 44);
  AviAudioPlayer p;
  ASSERT_EQ(p.open(in.c_str()), 0);
  p.set_pcm_output(48000, 1);
  EXPECT_EQ(audiotest::as_samples(wav.substr(44)), pull_all(p));
  std::remove(out.c_str());
}

TEST(AudioCliTest, RawOutputFollowsSeekShiftVolumeAndBlocks) {
  const std::string in = avitest::media_path("pcm16_stereo_44100.avi");
  const std::string out = avitest::temp_path("cli.raw");
  int code = -1;
  cli("'" + in + "' --seek 1 --shift 250 --volume 0.5:2 --blocks 3 -o '" + out + "'", &code);
  ASSERT_EQ(code, 0);
  AviAudioPlayer p;
  ASSERT_EQ(p.open(in.c_str()), 0);
  p.set_shift(250);
  p.set_volume(0.5, 2.0);
  p.seek(1.0);
  EXPECT_EQ(audiotest::as_samples(avitest::read_file(out)), pull_all(p, 3));
  std::remove(out.c_str());
}

TEST(AudioCliTest, FailsCleanlyOnBadInput) {
  const std::string out = avitest::temp_path("cli_bad.raw");
  int code = -1;
  EXPECT_NE(cli("/no/such/file.avi -o '" + out + "'", &code).find("cannot open"),
            std::string::npos);
  EXPECT_EQ(code, 1);
  const std::string in = avitest::media_path("pcm16_stereo_44100.avi");
  cli("'" + in + "' --stream 7 -o '" + out + "'", &code);
  EXPECT_EQ(code, 2);  // a value out of range
  cli("'" + in + "' --volume loud -o '" + out + "'", &code);
  EXPECT_EQ(code, 2);
}

}  // namespace
