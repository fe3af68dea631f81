#include <avikit/avi_file_info.h>
#include <gtest/gtest.h>

#include <tuple>

#include "container/fourccs.h"
#include "container_peek.h"
#include "fake_codecs.h"
#include "platform/files.h"
#include "support/avi_builder.h"

using namespace avikit;

namespace {

using avitest::AviBuilder;
using avitest::FakeCodecs;
using avitest::Probe;
using avitest::TestFile;
using container::fourcc;

const avitest::AudioStream kVbrMp3{.tag = 0x55, .bits = 0, .avg_bytes = 16000, .block_align = 1152};
const avitest::VideoStream kMpeg4{.handler = "FMP4", .compression = "FMP4"};

TEST(AviFileInfoTest, DvType1GivesOneVideoAndItsSound) {
  FakeCodecs no_codecs;
  AviBuilder b;
  b.add_frames(b.add_dv({}), 25, 100);
  TestFile f(b.build().bytes);
  Probe p(f.file());
  ASSERT_EQ(p.result, 0);
  EXPECT_STREQ(p.info.get_type_name(), "Microsoft DV-Type 1");
  ASSERT_EQ(p.nv, 1);
  ASSERT_EQ(p.na, 1);
  EXPECT_EQ(std::tuple(p.video[0].width, p.video[0].height), std::tuple(720, 576));
  EXPECT_STREQ(p.info.get_video_type_name()[0], "DV Video");
  const AudioInfo& a = p.audio[0];
  EXPECT_EQ(std::tuple(a.format, a.channels, a.sample_rate, a.stream),
            std::tuple(kAudioFormatPcm, 2, 48000, 1));
  EXPECT_DOUBLE_EQ(p.info.get_length(), 1.0);
  EXPECT_EQ(p.status[0], 0u);
}

TEST(AviFileInfoTest, UndecodableVideoWithPcmOpensWithStatus11) {
  FakeCodecs no_codecs;
  AviBuilder b;
  const int v = b.add_video(kMpeg4);
  const int a = b.add_audio({});
  for (int i = 0; i < 25; ++i) b.add_chunk(v, 500).add_chunk(a, 7056);
  TestFile f(b.build().bytes);
  Probe p(f.file());
  ASSERT_EQ(p.result, 0);
  EXPECT_EQ(p.status[0], 11u);
  EXPECT_EQ(p.status[1], fourcc("FMP4"));
  EXPECT_EQ(p.nv, 0);
  EXPECT_EQ(p.na, 1);
  EXPECT_DOUBLE_EQ(p.info.get_length(), 25 * 7056 / 176400.0);  // The audio length.
  EXPECT_STREQ(p.info.get_type_name(), "Microsoft Audio/Video Interleaved File");
}

TEST(AviFileInfoTest, ShortMp3WithDecodableVideoIsListed) {
  FakeCodecs codecs;
  codecs.add("fmp4", u"MPEG-4 decoder");
  AviBuilder b;
  const int v = b.add_video(kMpeg4);
  const int a = b.add_audio(kVbrMp3);
  for (int i = 0; i < 5; ++i) b.add_chunk(v, 500, i == 0).add_chunk(a, 417);
  TestFile f(b.build().bytes);
  Probe p(f.file());
  ASSERT_EQ(p.result, 0);
  EXPECT_EQ(p.status[0], 0u);
  EXPECT_EQ(p.na, 1);
  ASSERT_EQ(p.nv, 1);
  EXPECT_EQ(p.video[0].inter_frames, 1);
  EXPECT_STREQ(p.info.get_video_type_name()[0], "MPEG-4 decoder");
  EXPECT_DOUBLE_EQ(p.info.get_length(), 5 / 25.0);
  EXPECT_EQ(p.info.get_bit_rate(), static_cast<int>(2500 * 8 / 200.0));
}

struct AudioCase {
  const char* name;
  std::uint16_t tag, channels, bits;
  std::uint32_t rate;
  bool decodable;
  std::int32_t format;
};
class AudioDecodabilityTest : public ::testing::TestWithParam<AudioCase> {};

TEST_P(AudioDecodabilityTest, FollowsFormatRateAndDecoder) {
  const AudioCase& c = GetParam();
  AviBuilder b;
  b.add_chunks(b.add_audio({.tag = c.tag,
                            .channels = c.channels,
                            .sample_rate = c.rate,
                            .bits = c.bits,
                            .avg_bytes = 8000,
                            .block_align = 1}),
               3, 1000);
  TestFile f(b.build().bytes);
  Probe p(f.file());
  EXPECT_EQ(p.result, c.decodable ? 0 : 12);
  EXPECT_EQ(p.status[0], c.decodable ? 0u : 12u);
  if (!c.decodable) {
    EXPECT_EQ(p.status[1], c.tag);
    return;
  }
  ASSERT_EQ(p.na, 1);
  EXPECT_EQ(p.audio[0].format, c.format);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, AudioDecodabilityTest,
    ::testing::Values(AudioCase{"Pcm44100", 1, 2, 16, 44100, true, kAudioFormatPcm},
                      AudioCase{"Pcm8Bit11025", 1, 1, 8, 11025, true, kAudioFormatPcm},
                      AudioCase{"Pcm96000", 1, 2, 16, 96000, true, kAudioFormatPcm},
                      AudioCase{"Mp3", 0x55, 2, 0, 44100, true, kAudioFormatMpeg3},
                      AudioCase{"Mp2AskedOfDecoder", 0x50, 2, 0, 48000, true, kAudioFormatMpeg12},
                      AudioCase{"Mp2BadRate", 0x50, 2, 0, 96000, false, 0},
                      AudioCase{"Ac3FiveOne", 0x2000, 6, 0, 48000, true, kAudioFormatAc3},
                      AudioCase{"Adpcm", 2, 2, 4, 44100, false, 0}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(AviFileInfoTest, OnlyTheFirst32VideoStreamsAreExamined) {
  FakeCodecs codecs;
  codecs.add("fmp4", u"MPEG-4 decoder");
  AviBuilder b;
  for (int i = 0; i < 40; ++i) b.add_video(kMpeg4);
  b.add_frames(0, 2, 10);
  TestFile f(b.build().bytes);
  Probe p(f.file());
  ASSERT_EQ(p.result, 0);
  ASSERT_EQ(p.nv, 32);
  EXPECT_EQ(p.video[31].stream, 31);
}

// A failed open drops the previous result; no decodable stream without a status array gives 1.
TEST(AviFileInfoTest, FailedOpenDropsThePreviousResult) {
  FakeCodecs no_codecs;
  AviBuilder b;
  b.add_chunks(b.add_audio({}), 3, 1000);
  TestFile good(b.build().bytes);
  TestFile bad(std::string("RIFF\x04\0\0\0JUNK", 12));
  AviBuilder v;
  v.add_frames(v.add_video(kMpeg4), 3, 10);
  TestFile undecodable(v.build().bytes);
  AviFileInfo info;
  for (const TestFile* f : {&bad, &undecodable}) {
    ASSERT_EQ(info.open(good.file(), nullptr), 0);
    EXPECT_EQ(info.open(f->file(), nullptr), 1);
    EXPECT_EQ(std::tuple(info.get_type_name(), info.get_file_name(), info.get_length(),
                         info.get_file_size(), info.get_bit_rate(), info.get_video_type_name()),
              std::tuple(nullptr, nullptr, 0.0, 0.0, 0, nullptr));
  }
  EXPECT_EQ(info.open(nullptr, nullptr), 1);
  EXPECT_EQ(platform::open_file_handles(), 0);
}

TEST(AviFileInfoTest, CopiesShareOneResultFreedOnce) {
  AviBuilder b;
  b.add_chunks(b.add_audio({}), 3, 1000);
  TestFile f(b.build().bytes);
  auto original = std::make_unique<AviFileInfo>();
  ASSERT_EQ(original->open(f.file(), nullptr), 0);
  AviFileInfo copy(*original);
  AviFileInfo assigned;
  assigned = copy;
  original.reset();
  EXPECT_STREQ(copy.get_file_name(), f.name());
  // Reopening one copy leaves the others on the old result.
  TestFile other(avitest::wave_file({}, std::string(400, '\0')));
  ASSERT_EQ(copy.open(other.file(), nullptr), 0);
  AviFileInfo& alias = assigned;
  assigned = alias;  // its only holder: the result must survive
  EXPECT_STREQ(assigned.get_file_name(), f.name());
  EXPECT_STREQ(copy.get_file_name(), other.name());
}

}  // namespace
