// The audio player on real files written by ffmpeg, against the ffmpeg tool's own decode, and
// the `avikit audio` command.

#include <avikit/avi_audio_player.h>
#include <avikit/avi_file_info.h>
#include <avikit/media_info.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <tuple>

#include "audio/audio_test_support.h"
#include "hostlib/media_fixtures.h"
#include "support/run_command.h"
#include "support/test_paths.h"

using namespace avikit;

namespace {

using audiotest::pull_all;

// Every real sound file, from ffmpeg and from independent writers (tests/media/make_media.sh).
// The probe lists a stream exactly when the player opens it and delivers; a withheld stream
// fails to open and the status says 12. What plays is libavcodec's own decode, sample for
// sample: ffmpeg's s16 output of the same file (resampled or mixed down by the same arguments)
// after `lead` frames of silence, all but the tail (a frame or block the decoder still holds,
// and the resampler's flush).
struct SoundCase {
  std::string file;
  const char* ffmpeg_args;  // output arguments of the reference; nullptr: the probe withholds it
  int rate = 0;             // output format asked for; 0: the stream's own
  int channels = 0;
  int lead = 0;  // sample frames of silence first (a stream that starts late)
  const char* ffmpeg_input_args = "";
};
std::ostream& operator<<(std::ostream& os, const SoundCase& c) { return os << c.file; }

class SoundTest : public ::testing::TestWithParam<SoundCase> {};

TEST_P(SoundTest, ProbeAgreesWithThePlayerWhichPlaysLibavcodecsDecode) {
  const SoundCase& c = GetParam();
  const std::string path = avitest::media_path(c.file);
  if (!std::filesystem::exists(path)) GTEST_SKIP() << c.file << " was not written (no writer)";
  AviFileInfo probe;
  std::uint32_t status[2] = {0, 0};
  const int probed = probe.open(path.c_str(), status);
  int listed = 0;
  const AudioInfo* listing = probed == 0 ? probe.get_audio_info(listed) : nullptr;
  AviAudioPlayer p;
  const int opened = p.open(path.c_str());
  ASSERT_EQ(opened == 0, listed > 0) << "probe " << probed << " status " << status[0];
  if (c.ffmpeg_args == nullptr) {
    EXPECT_EQ(std::tuple(listed, status[0]), std::tuple(0, 12u));
    return;
  }
  ASSERT_EQ(opened, 0);
  if (c.rate != 0) p.set_pcm_output(c.rate, c.channels);
  const int ch = p.get_pcm_output_channels();
  const std::vector<std::int16_t> ours = pull_all(p);
  EXPECT_EQ(p.is_end(), 1);
  std::vector<std::int16_t> want(static_cast<std::size_t>(c.lead * ch), 0);  // the silence first
  const std::vector<std::int16_t> decoded =
      audiotest::ffmpeg_s16(path, c.ffmpeg_args, c.ffmpeg_input_args);
  ASSERT_FALSE(decoded.empty());
  want.insert(want.end(), decoded.begin(), decoded.end());
  const std::size_t tail = 4096u * static_cast<std::size_t>(ch);
  ASSERT_GT(ours.size() + tail, want.size()) << "sound missing: " << ours.size();
  const auto compared = static_cast<std::ptrdiff_t>(want.size() > tail ? want.size() - tail : 0);
  EXPECT_EQ(std::mismatch(want.begin(), want.begin() + compared, ours.begin()).first - want.begin(),
            compared)
      << "the first difference";
  // The length follows the sound, not a header's byte rate.
  const double seconds = static_cast<double>(want.size()) / ch;
  EXPECT_NEAR(p.get_length(), seconds / p.get_pcm_output_sample_rate(), 0.1);
  EXPECT_NEAR(listing[0].length + static_cast<double>(c.lead) / p.get_pcm_output_sample_rate(),
              p.get_length(), 0.001);  // the probe measures it as the player does
}

std::vector<SoundCase> sound_cases() {
  std::vector<SoundCase> cases = {
      {"ac3_51.avi", "", 0, 0, 0, "-downmix stereo"},
      {"snd_ff_s16_6ch.wav", "-ac 2"},
      {"snd_sox_6ch.wav", "-ac 2"},
      {"snd_ff_g726.wav", nullptr},  // G.726: not a format the player takes
      {"snd_ff_s16_11024.avi", "-ar 44100", 44100, 1},
      {"snd_ff_s16_22100.avi", "-ar 48000", 48000, 1},
      {"snd_ff_s16_96000.avi", "-ar 48000"},
      {"snd_sox_u8_11127.wav", "-ar 44100", 44100, 1},
      {"snd_gst_s16_22100.wav", "-ar 44100", 44100, 2},
      {"pcm16_stereo_44100.avi", "-ar 48000", 48000, 2},
      {"snd_men_delay.avi", "", 0, 0, 22050},
  };
  // At their own rate and channels. From ffmpeg, sox, GStreamer, mencoder (short-chunk VBR MP3,
  // an AC-3 copy with a wrong byte rate), headers whose byte rate lies, and Python's wave.
  std::istringstream own(
      "pcm16_stereo_44100.avi pcm8_mono_22050.avi sine_22050_mono.wav sine_22050_mono_plain.wav "
      "mpeg4_xvid_gop12.avi dv_type2_625.avi mp3_cbr.avi mp3_vbr.avi mjpeg_mp3.avi mp2.avi "
      "snd_ff_ac3_stereo.avi snd_ff_mp2.wav snd_ff_s24.wav snd_ff_s32.wav snd_ff_f32.wav "
      "snd_ff_f64.wav snd_ff_alaw.wav snd_ff_mulaw.avi snd_ff_adpcm_ms.wav snd_ff_adpcm_ima.avi "
      "snd_ff_piped.wav snd_ff_bext.wav snd_ff_s16_16000.avi snd_sox_s24.wav snd_sox_alaw.wav "
      "snd_sox_mulaw.wav snd_sox_ima.wav snd_sox_ms.wav snd_sox_f32.wav snd_gst_mp3.avi "
      "snd_gst_ac3.avi snd_men_mp3.avi snd_men_ac3_copy.avi snd_lie_ac3.avi snd_lie_mp3.avi "
      "snd_py_u8_11127.wav snd_py_s16_22100.wav snd_py_s24_16000.wav");
  for (std::string file; own >> file;) cases.push_back({file, ""});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Files, SoundTest, ::testing::ValuesIn(sound_cases()));

// --- avikit audio --------------------------------------------------------------------------------

// The WAVE file at the player's output format, and raw samples after a seek, shift and volume.
TEST(AudioCliTest, WritesWhatThePlayerPlays) {
  const std::string in = avitest::media_path("pcm16_stereo_44100.avi");
  auto cli = [&in](const std::string& args, const char* name) {
    const std::string out = avitest::temp_path(name);
    int code = -1;
    avitest::run_command(
        std::string(AVIKIT_CLI) + " audio '" + in + "' " + args + " -o '" + out + "' 2>&1", &code);
    EXPECT_EQ(code, 0) << args;
    const std::string bytes = avitest::read_file(out);
    std::remove(out.c_str());
    return bytes;
  };
  const std::string wav = cli("--rate 48000 --channels 1 --quiet", "cli.wav");
  ASSERT_GT(wav.size(), 44u);
  EXPECT_EQ(std::tuple(hostlib_test::le32(&wav[24]), wav[22], hostlib_test::le32(&wav[40])),
            std::tuple(48000u, '\1', wav.size() - 44));
  AviAudioPlayer p, q;
  ASSERT_EQ(p.open(in.c_str()), 0);
  p.set_pcm_output(48000, 1);
  EXPECT_EQ(audiotest::as_samples(wav.substr(44)), pull_all(p));
  const std::string raw = cli("--seek 1 --shift 250 --volume 0.5:2 --blocks 3", "cli.raw");
  ASSERT_EQ(q.open(in.c_str()), 0);
  q.set_shift(250);
  q.set_volume(0.5, 2.0);
  q.seek(1.0);
  EXPECT_EQ(audiotest::as_samples(raw), pull_all(q, 3));
}

}  // namespace
