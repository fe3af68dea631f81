// The bundled DV type-1 sample, and tools/dv_to_avi, which wraps ffmpeg's raw DV frames into it.

#include <avikit/avi_file_info.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/run_command.h"
#include "support/test_paths.h"

using namespace avikit;

namespace {

struct Probe {
  int result = -1;
  std::string type;
  int video_count = 0;
  VideoInfo video;
  int audio_count = 0;
  AudioInfo audio;
};

Probe probe(const std::string& path) {
  AviFileInfo info;
  std::uint32_t status[2] = {0, 0};
  Probe p;
  p.result = info.open(path.c_str(), status);
  if (p.result != 0) return p;
  p.type = info.get_type_name();
  const VideoInfo* v = info.get_video_info(p.video_count);
  if (p.video_count > 0) p.video = v[0];
  const AudioInfo* a = info.get_audio_info(p.audio_count);
  if (p.audio_count > 0) p.audio = a[0];
  return p;
}

TEST(BundledSampleTest, IsTwoSecondsOfDvType1WithStereoPcm) {
  const std::string path = avitest::temp_path("bundled_dv_type1.avi");
  int code = -1;
  avitest::run_command("xz -dc '" AVI_DV_SAMPLE_XZ "' > '" + path + "'", &code);
  ASSERT_EQ(code, 0);
  const Probe p = probe(path);
  ASSERT_EQ(p.result, 0);
  EXPECT_EQ(p.type, "Microsoft DV-Type 1");
  ASSERT_EQ(p.video_count, 1);
  EXPECT_EQ(p.video.stream, 0);
  EXPECT_EQ(p.video.width, 720);
  EXPECT_EQ(p.video.height, 576);
  EXPECT_DOUBLE_EQ(p.video.frame_rate, 25.0);
  EXPECT_DOUBLE_EQ(p.video.length, 2.0);
  ASSERT_EQ(p.audio_count, 1);
  EXPECT_EQ(p.audio.stream, 1);
  EXPECT_EQ(p.audio.format, kAudioFormatPcm);
  EXPECT_EQ(p.audio.channels, 2);
  EXPECT_EQ(p.audio.sample_rate, 48000);
  EXPECT_EQ(p.audio.bits_per_sample, 16);
  EXPECT_DOUBLE_EQ(p.audio.length, 2.0);
}

struct DvSystem {
  const char* name;
  const char* ffmpeg_input;  // lavfi picture source
  const char* pix_fmt;
  int height;
  double frame_rate;
  bool fifty_field;
};

class DvToAviTest : public ::testing::TestWithParam<DvSystem> {
 protected:
  // Raw DV frames with 48 kHz stereo sound, as `ffmpeg -f dv` writes them, and the AVI file the
  // tool wraps them into.
  void SetUp() override {
    const DvSystem& s = GetParam();
    dv_ = avitest::temp_path(std::string("frames_") + s.name + ".dv");
    avi_ = avitest::temp_path(std::string("wrapped_") + s.name + ".avi");
    int code = -1;
    avitest::run_command(std::string("ffmpeg -nostdin -v error -y -f lavfi -i ") + s.ffmpeg_input +
                             " -f lavfi -i sine=frequency=440:sample_rate=48000 -t 0.24 -pix_fmt " +
                             s.pix_fmt + " -c:v dvvideo -c:a pcm_s16le -ac 2 -f dv '" + dv_ + "'",
                         &code);
    ASSERT_EQ(code, 0);
    frames_ = avitest::read_file(dv_);
    ASSERT_FALSE(frames_.empty());
  }

  int wrap(const std::string& in) {
    int code = -1;
    avitest::run_command(std::string(AVI_DV_TO_AVI_PATH) + " '" + in + "' '" + avi_ + "' 2>&1",
                         &code);
    return code;
  }

  std::string ffmpeg_stream(const std::string& file, const char* map_and_format) {
    return avitest::run_command("ffmpeg -nostdin -v error -i '" + file + "' " + map_and_format +
                                " -");
  }

  std::string dv_;
  std::string avi_;
  std::string frames_;
};

// The module reads the sound's layout from the DVINFO block alone: the sampling-frequency code
// (byte 3, bits 3-5; 0 is 48 kHz) and the 50-field flag (byte 18, bit 5).
TEST_P(DvToAviTest, ProbesAsDvType1OfTheFramesSystem) {
  ASSERT_EQ(wrap(dv_), 0);
  const DvSystem& s = GetParam();
  const Probe p = probe(avi_);
  ASSERT_EQ(p.result, 0);
  EXPECT_EQ(p.type, "Microsoft DV-Type 1");
  ASSERT_EQ(p.video_count, 1);
  EXPECT_EQ(p.video.width, 720);
  EXPECT_EQ(p.video.height, s.height);
  EXPECT_NEAR(p.video.frame_rate, s.frame_rate, 1e-5);
  ASSERT_EQ(p.audio_count, 1);
  EXPECT_EQ(p.audio.sample_rate, 48000);
  EXPECT_EQ(p.audio.channels, 2);
  const double frames = static_cast<double>(frames_.size() / (s.fifty_field ? 144000 : 120000));
  EXPECT_NEAR(p.audio.length, frames / s.frame_rate, 1e-9);
  const std::string avi = avitest::read_file(avi_);
  const std::size_t strf = avi.find("strf", avi.find("iavs"));
  ASSERT_NE(strf, std::string::npos);
  ASSERT_GE(avi.size() - strf, 8u + 32u);
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(avi[strf + 8 + k]); };
  EXPECT_EQ((byte(3) >> 3) & 7, 0);
  EXPECT_EQ((byte(18) & 0x20) != 0, s.fifty_field);
}

// ffmpeg reads DV type-1 files too: what it takes out must be exactly what went in.
TEST_P(DvToAviTest, FfmpegReadsBackTheSameFramesAndSound) {
  ASSERT_EQ(wrap(dv_), 0);
  const std::string video_in = ffmpeg_stream(dv_, "-map 0:v -c copy -f rawvideo");
  EXPECT_EQ(video_in, frames_);
  EXPECT_TRUE(ffmpeg_stream(avi_, "-map 0:v -c copy -f rawvideo") == video_in);
  const std::string sound_in = ffmpeg_stream(dv_, "-map 0:a -f s16le");
  ASSERT_FALSE(sound_in.empty());
  EXPECT_TRUE(ffmpeg_stream(avi_, "-map 0:a -f s16le") == sound_in);
}

// A trailing part frame is left out; what is not DV, in the first frame or a later one, stops
// the wrap and the part written is removed.
TEST_P(DvToAviTest, IgnoresATrailingPartFrameAndRefusesWhatIsNotDv) {
  const std::size_t frame_bytes = GetParam().fifty_field ? 144000 : 120000;
  const std::string cut = avitest::temp_path(std::string("cut_") + GetParam().name + ".dv");
  std::ofstream(cut, std::ios::binary) << frames_.substr(0, 2 * frame_bytes + 1000);
  ASSERT_EQ(wrap(cut), 0);
  const Probe p = probe(avi_);
  ASSERT_EQ(p.result, 0);
  EXPECT_NEAR(p.audio.length, 2.0 / GetParam().frame_rate, 1e-9);
  for (const std::size_t at : {std::size_t{0}, frame_bytes}) {
    std::string bytes = frames_;
    bytes[at] = '\x7F';  // no longer a header block
    std::ofstream(cut, std::ios::binary) << bytes;
    std::filesystem::remove(avi_);
    EXPECT_EQ(wrap(cut), 1);
    EXPECT_FALSE(std::filesystem::exists(avi_));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Systems, DvToAviTest,
    ::testing::Values(DvSystem{"625", "testsrc2=size=720x576:rate=25", "yuv420p", 576, 25.0, true},
                      DvSystem{"525", "testsrc2=size=720x480:rate=30000/1001", "yuv411p", 480,
                               30000.0 / 1001.0, false}),
    [](const ::testing::TestParamInfo<DvSystem>& p) { return std::string("Dv") + p.param.name; });

}  // namespace
