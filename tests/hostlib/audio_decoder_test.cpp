#include "hostlib/audio_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "hostlib/codec_module.h"
#include "hostlib/media_fixtures.h"
#include "hostlib/sample_rate_convertor.h"
#include "support/test_paths.h"

using namespace avikit;

namespace {

// The audio player reads compressed audio 18432 bytes at a time.
constexpr std::size_t kReadSize = 18432;

std::string tone(const char* expr, int rate, const char* layout) {
  return std::string("-f lavfi -i \"aevalsrc=") + expr + ":s=" + std::to_string(rate) +
         ":d=2:c=" + layout + "\" ";
}

// Decodes a whole stream the way the audio player does and returns the PCM.
std::vector<std::int16_t> decode_all(AudioDecoder& d, const std::string& bytes) {
  std::vector<std::int16_t> pcm;
  std::vector<std::int16_t> block(4096);
  for (std::size_t pos = 0; pos < bytes.size(); pos += kReadSize) {
    const std::size_t n = std::min(kReadSize, bytes.size() - pos);
    EXPECT_EQ(d.input(bytes.data() + pos, static_cast<int>(n)), 0);
    while (d.get_output_total() > 0) {
      const int got = d.output(block.data(), static_cast<int>(block.size()));
      pcm.insert(pcm.end(), block.begin(), block.begin() + got);
    }
  }
  return pcm;
}

// Frequency of the first channel from its rising zero crossings, over the middle of the signal.
double frequency(const std::vector<std::int16_t>& pcm, int channels, int rate) {
  const auto ch = static_cast<std::size_t>(channels);
  const std::size_t from = pcm.size() / ch / 4;
  const std::size_t to = pcm.size() / ch * 3 / 4;
  int crossings = 0;
  for (std::size_t i = from + 1; i < to; ++i)
    crossings += pcm[(i - 1) * ch] < 0 && pcm[i * ch] >= 0;
  return crossings * static_cast<double>(rate) / static_cast<double>(to - from);
}

struct StreamCase {
  const char* name;
  std::string file;  // ffmpeg arguments making the stream
  int channels;      // what the decoder delivers on its own
  double hz;         // tone of the first channel
};

std::ostream& operator<<(std::ostream& os, const StreamCase& c) { return os << c.name; }

class AudioStreamTest : public ::testing::TestWithParam<StreamCase> {
 protected:
  void SetUp() override {
    const std::string name = GetParam().name;  // begins with the codec, the file's extension
    path_ = hostlib_test::ffmpeg_file(name + "." + name.substr(0, 3), GetParam().file);
    ASSERT_FALSE(path_.empty());
    bytes_ = avitest::read_file(path_);
    ASSERT_GT(bytes_.size(), 1000u);
  }
  std::string path_;
  std::string bytes_;
};

TEST_P(AudioStreamTest, DeliversTheFormatAskedFor) {
  for (const auto& [rate, channels] :
       {std::pair{44100, 2}, std::pair{22050, 1}, std::pair{48000, 2}, std::pair{8000, 1}}) {
    AudioDecoder d;
    ASSERT_EQ(d.set_output_format(rate, channels), 1);
    const std::vector<std::int16_t> pcm = decode_all(d, bytes_);
    int r = 0;
    int c = 0;
    d.get_output_format(r, c);
    EXPECT_EQ(std::pair(r, c), std::pair(rate, channels));
    // Two seconds of sound, give or take the frames the codec holds back.
    const double seconds = static_cast<double>(pcm.size()) / channels / rate;
    EXPECT_NEAR(seconds, 2.0, 0.1) << rate << "/" << channels;
    if (GetParam().hz > 0) {
      EXPECT_NEAR(frequency(pcm, channels, rate), GetParam().hz, GetParam().hz * 0.02)
          << rate << "/" << channels;
    }
    if (channels == 2 && GetParam().channels == 1) {
      // Mono on two speakers: the same samples on both sides.
      for (std::size_t i = 0; i + 1 < pcm.size(); i += 2) ASSERT_EQ(pcm[i], pcm[i + 1]);
    }
  }
}

const StreamCase kStreams[] = {
    {"mp3_stereo",
     tone("sin(2*PI*1000*t)|0.5*sin(2*PI*500*t)", 44100, "stereo") +
         "-c:a libmp3lame -b:a 128k -write_xing 0 -id3v2_version 0 -f mp3",
     2, 1000.0},
    {"mp3_mono_22050",
     tone("sin(2*PI*700*t)", 22050, "mono") +
         "-c:a libmp3lame -b:a 64k -write_xing 0 -id3v2_version 0 -f mp3",
     1, 700.0},
    {"mp2_stereo_48000",
     tone("sin(2*PI*1200*t)|sin(2*PI*300*t)", 48000, "stereo") + "-c:a mp2 -b:a 192k -f mp2", 2,
     1200.0},
    {"mp2_layer1_lookalike_mono",
     tone("sin(2*PI*440*t)", 32000, "mono") + "-c:a mp2 -b:a 64k -f mp2", 1, 440.0},
    {"ac3_5_1",
     tone("sin(2*PI*440*t)|sin(2*PI*550*t)|sin(2*PI*660*t)|0.5*sin(2*PI*110*t)|"
          "sin(2*PI*770*t)|sin(2*PI*880*t)",
          48000, "5.1") +
         "-c:a ac3 -b:a 384k -f ac3",
     2, 0.0},
};
INSTANTIATE_TEST_SUITE_P(FfmpegStreams, AudioStreamTest, ::testing::ValuesIn(kStreams),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(AudioDecoderTest, GarbageIsRefusedWithoutCrashing) {
  std::mt19937 rng(99);
  AudioDecoder d;
  std::string junk(kReadSize, '\0');
  int refused = 0;
  for (int i = 0; i < 200 && refused == 0; ++i) {
    for (char& c : junk) c = static_cast<char>(rng());
    refused = d.input(junk.data(), static_cast<int>(junk.size()));
  }
  EXPECT_NE(refused, 0);  // after about 1 MiB with no audio frame in it
  EXPECT_EQ(d.get_output_total(), 0);
  EXPECT_NE(d.input(nullptr, 10), 0);
  EXPECT_NE(d.input(junk.data(), -1), 0);
  std::int16_t pcm[16];
  EXPECT_EQ(d.output(pcm, 16), 0);
}

// Which formats the decoder takes. PCM, float, A-law and mu-law are answered without loading
// libavcodec (hostlib/wave_blocks.h), so every row is asked of libavcodec's decoder too.
TEST(AudioDecoderTest, TakesTheFormatsItCanDecode) {
  struct Row {
    platform::WORD tag, channels;
    platform::DWORD rate;
    platform::WORD align, bits;
    int takes;
  };
  const Row rows[] = {
      {1, 2, 44100, 4, 16, 1},     {1, 1, 8000, 1, 8, 1},       {1, 2, 48000, 6, 24, 1},
      {1, 2, 48000, 8, 24, 1},     {1, 1, 48000, 2, 12, 1},     {1, 1, 48000, 5, 40, 0},
      {1, 64, 48000, 128, 16, 1},  {1, 65, 48000, 130, 16, 0},  {1, 0, 48000, 2, 16, 0},
      {1, 2, 48000, 0, 16, 0},     {1, 2, 999, 4, 16, 0},       {1, 2, 384000, 4, 16, 1},
      {1, 2, 384001, 4, 16, 0},    {3, 2, 48000, 8, 32, 1},     {3, 1, 48000, 8, 64, 1},
      {3, 1, 48000, 2, 16, 0},     {6, 1, 8000, 1, 8, 1},       {7, 2, 8000, 2, 8, 1},
      {2, 2, 22050, 1024, 4, 1},   {0x11, 1, 22050, 4, 4, 0},   {0x1234, 2, 48000, 4, 16, 0},
      {0x2000, 6, 48000, 1, 0, 1}, {0x2000, 2, 22050, 1, 0, 0}, {0x55, 1, 22050, 1, 0, 1},
      {0x55, 6, 44100, 1, 0, 0},
  };
  const hostlib::detail::CodecModule* codecs = hostlib::detail::codec_module();
  ASSERT_NE(codecs, nullptr) << hostlib::detail::codec_module_error();
  for (const Row& r : rows) {
    const platform::WAVEFORMATEX f{r.tag, r.channels, r.rate, 0, r.align, r.bits, 0};
    const std::unique_ptr<hostlib::detail::AudioDecoding> real(codecs->new_audio_decoder());
    EXPECT_EQ(real->set_input_format(f), r.takes) << r.tag << " " << r.bits << " " << r.align;
    EXPECT_EQ(AudioDecoder().set_input_format(f), r.takes) << r.tag << " " << r.bits;
  }
  // A missing module is a reason, not a crash.
  std::string error;
  EXPECT_EQ(hostlib::detail::load_codec_module("/nonexistent/quorrin_codecs.so", error), nullptr);
  EXPECT_NE(error.find("/nonexistent/quorrin_codecs.so"), std::string::npos);
}

TEST(AudioSampleRateConvertorTest, RestartDropsBufferedSamplesAndOutputPadsWithSilence) {
  AudioSampleRateConvertor c(44100, 2);
  std::vector<std::int16_t> in(4800, 1000);
  ASSERT_EQ(c.input(in.data(), static_cast<int>(in.size()), 48000, 2), 1);
  EXPECT_GT(c.get_output_total(), 0);
  c.restart();
  EXPECT_EQ(c.get_output_total(), 0);
  std::vector<std::int16_t> out(100, 7);
  EXPECT_EQ(c.output(out.data(), 100), 0);
  EXPECT_EQ(out, std::vector<std::int16_t>(100, 0));
  EXPECT_EQ(c.input(in.data(), 10, 96000, 2) + c.input(in.data(), 10, 44100, 0) +
                c.set_output_format(50000, 2),
            0);
  // Same format in and out passes the samples through unchanged.
  AudioSampleRateConvertor same(48000, 2);
  ASSERT_EQ(same.input(in.data(), static_cast<int>(in.size()), 48000, 2), 1);
  std::vector<std::int16_t> through(in.size());
  EXPECT_EQ(same.output(through.data(), static_cast<int>(through.size())),
            static_cast<int>(in.size()));
  EXPECT_EQ(through, in);
}

}  // namespace
