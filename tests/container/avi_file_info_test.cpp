
#include <functional>

#include "container_peek.h"
#include "fake_codecs.h"
#include "platform/files.h"

namespace {

using avitest::FakeCodecs;
using avitest::Probe;

const avitest::AudioStream kVbrMp3{.tag = 0x55, .bits = 0, .avg_bytes = 16000, .block_align = 1152};
const avitest::VideoStream kMpeg4{.handler = "FMP4", .compression = "FMP4"};

using Build = std::function<void(AviBuilder&)>;
// Three 1000-byte chunks of one sound stream.
Build sound(std::uint16_t tag, std::uint16_t channels, std::uint16_t bits, std::uint32_t rate) {
  const avitest::AudioStream s{tag, channels, rate, bits, 8000, 1};  // 8000 bytes/s, block 1
  return [=](AviBuilder& b) { b.add_frames(b.add_audio(s), 3, 1000); };
}

// What the probe lists of a file, with no codec installed but `codec`, if any.
struct ProbeCase {
  const char* name;
  const char* codec;
  Build build;
  const char* want;
};
class ProbeTest : public ::testing::TestWithParam<ProbeCase> {};
TEST_P(ProbeTest, Lists) {
  FakeCodecs codecs;
  if (GetParam().codec != nullptr) codecs.add(GetParam().codec, u"MPEG-4 decoder");
  AviBuilder b;
  GetParam().build(b);
  TestFile f(b.build().bytes);
  EXPECT_EQ(Probe(f.file()).summary(), GetParam().want);
}
const ProbeCase kProbes[] = {
    {"DvType1GivesOneVideoAndItsSound", nullptr,
     [](AviBuilder& b) { b.add_frames(b.add_dv({}), 25, 100); },
     "0 0/0 Microsoft DV-Type 1 1s 20kbit/s | 1v 0: 720x576 inter 0 25fps 1s DV Video | 1a 1: f0 "
     "2ch 48000Hz"},
    // Undecodable video beside decodable sound: the file opens, with status 11.
    {"UndecodableVideoWithPcm", nullptr,
     [](AviBuilder& b) {
       const int v = b.add_video(kMpeg4), a = b.add_audio({});
       for (int i = 0; i < 25; ++i) b.add_chunk(v, 500).add_chunk(a, 7056);
     },
     "0 11/34504d46 Microsoft Audio/Video Interleaved File 1s 100kbit/s | 0v | 1a 1: f0 2ch "
     "44100Hz"},
    {"ShortMp3WithDecodableVideo", "fmp4",
     [](AviBuilder& b) {
       const int v = b.add_video(kMpeg4), a = b.add_audio(kVbrMp3);
       for (int i = 0; i < 5; ++i) b.add_chunk(v, 500, i == 0).add_chunk(a, 417);
     },
     "0 0/0 Microsoft Audio/Video Interleaved File 0.2s 100kbit/s | 1v 0: 4x2 inter 1 25fps 0.2s "
     "MPEG-4 decoder | 1a 1: f3 2ch 44100Hz"},
    {"OnlyTheFirst32VideoStreams", "fmp4",
     [](AviBuilder& b) {
       for (int i = 0; i < 40; ++i) b.add_video(kMpeg4);
       b.add_frames(0, 2, 10);
     },
     "0 0/0 Microsoft Audio/Video Interleaved File 0s 0kbit/s | 32v 31: 4x2 inter 1 25fps 0s "
     "MPEG-4 decoder | 0a"},
    {"Pcm44100", nullptr, sound(1, 2, 16, 44100),
     "0 0/0 Microsoft Audio/Video Interleaved File 0.0170068s 0kbit/s | 0v | 1a 0: f0 2ch 44100Hz"},
    {"Pcm8Bit11025", nullptr, sound(1, 1, 8, 11025),
     "0 0/0 Microsoft Audio/Video Interleaved File 0.272109s 0kbit/s | 0v | 1a 0: f0 1ch 11025Hz"},
    {"Pcm96000", nullptr, sound(1, 2, 16, 96000),
     "0 0/0 Microsoft Audio/Video Interleaved File 0.0078125s 0kbit/s | 0v | 1a 0: f0 2ch 96000Hz"},
    {"Mp3", nullptr, sound(0x55, 2, 0, 44100),
     "0 0/0 Microsoft Audio/Video Interleaved File 0.375s 0kbit/s | 0v | 1a 0: f3 2ch 44100Hz"},
    {"Mp2AskedOfDecoder", nullptr, sound(0x50, 2, 0, 48000),
     "0 0/0 Microsoft Audio/Video Interleaved File 0.375s 0kbit/s | 0v | 1a 0: f2 2ch 48000Hz"},
    {"Mp2BadRate", nullptr, sound(0x50, 2, 0, 96000), "12 12/50 (none) 0s 0kbit/s | -1v | -1a"},
    {"Ac3FiveOne", nullptr, sound(0x2000, 6, 0, 48000),
     "0 0/0 Microsoft Audio/Video Interleaved File 0.375s 0kbit/s | 0v | 1a 0: f4 2ch 48000Hz"},
    {"Adpcm", nullptr, sound(2, 2, 4, 44100), "12 12/2 (none) 0s 0kbit/s | -1v | -1a"}};
INSTANTIATE_TEST_SUITE_P(Files, ProbeTest, ::testing::ValuesIn(kProbes),
                         [](const auto& test) { return std::string(test.param.name); });

// A failed open drops the previous result; no decodable stream without a status array gives 1.
TEST(AviFileInfoTest, FailedOpenDropsThePreviousResult) {
  FakeCodecs no_codecs;
  TestFile good(avitest::wave_file({}, std::string(400, '\0')));
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
  TestFile f(avitest::wave_file({}, std::string(400, '\0')));
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
