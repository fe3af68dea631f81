#include "hostlib/audio_decoder.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "hostlib/codec_module.h"
#include "hostlib/sample_rate_convertor.h"

using namespace avikit;

namespace {

// The audio player reads compressed audio 18432 bytes at a time. Decoding itself, its formats
// and pitch, is checked through the audio player against ffmpeg (tests/audio).
constexpr std::size_t kReadSize = 18432;

TEST(AudioDecoderTest, GarbageIsRefusedWithoutCrashing) {
  std::mt19937 rng(99);
  AudioDecoder d;
  std::string junk(kReadSize, '\0');
  EXPECT_TRUE(d.input(nullptr, 10) != 0 && d.input(junk.data(), -1) != 0);
  int refused = 0;
  for (int i = 0; i < 200 && refused == 0; ++i) {
    for (char& c : junk) c = static_cast<char>(rng());
    refused = d.input(junk.data(), static_cast<int>(junk.size()));
  }
  // Junk a parser takes for frames fails to decode; junk it does not is given up after 1 MiB.
  EXPECT_NE(refused, 0);
  EXPECT_EQ(d.get_output_total(), 0);
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

// Dropping what is queued on a seek is held by the Python module's slices of resampled sound.
TEST(AudioSampleRateConvertorTest, SameFormatPassesThroughAndOutputPadsWithSilence) {
  AudioSampleRateConvertor same(48000, 2);
  std::vector<std::int16_t> in(4800, 1000), out(in.size() + 100, 7);
  ASSERT_EQ(same.input(in.data(), static_cast<int>(in.size()), 48000, 2), 1);
  EXPECT_EQ(same.output(out.data(), static_cast<int>(out.size())), static_cast<int>(in.size()));
  in.resize(out.size(), 0);
  EXPECT_EQ(out, in);
  EXPECT_EQ(same.input(in.data(), 10, 96000, 2) + same.input(in.data(), 10, 44100, 0) +
                same.set_output_format(50000, 2),
            0);
}

}  // namespace
