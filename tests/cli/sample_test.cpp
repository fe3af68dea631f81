// tools/dv_to_avi, which wraps ffmpeg's raw DV frames into the bundled DV type-1 sample (whose
// probe is checked by the probe_of_dv_loads_no_libavcodec test).

#include <avikit/avi_file_info.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "support/run_command.h"
#include "support/test_paths.h"

using namespace avikit;

namespace {

// The probe of a DV type-1 file: one 720-wide picture and 48 kHz stereo PCM, `seconds` long.
void expect_dv_type1(const std::string& path, int height, double rate, double seconds) {
  AviFileInfo info;
  std::uint32_t status[2] = {0, 0};
  ASSERT_EQ(info.open(path.c_str(), status), 0);
  int videos = 0, audios = 0;
  const VideoInfo* v = info.get_video_info(videos);
  const AudioInfo* a = info.get_audio_info(audios);
  ASSERT_EQ(std::tuple(std::string(info.get_type_name()), videos, audios),
            std::tuple("Microsoft DV-Type 1", 1, 1));
  EXPECT_EQ(std::tuple(v->stream, v->width, v->height, a->stream, a->format, a->channels,
                       a->sample_rate, a->bits_per_sample),
            std::tuple(0, 720, height, 1, kAudioFormatPcm, 2, 48000, 16));
  EXPECT_NEAR(v->frame_rate, rate, 1e-5);
  EXPECT_NEAR(v->length, seconds, 1e-6);
  EXPECT_NEAR(a->length, seconds, 1e-9);
}

struct DvSystem {
  const char* name;
  const char* ffmpeg_input;  // lavfi picture source
  const char* pix_fmt;
  int height;
  double frame_rate;
  std::size_t frame_bytes;
};

class DvToAviTest : public ::testing::TestWithParam<DvSystem> {};

int wrap(const std::string& in, const std::string& out) {
  int code = -1;
  avitest::run_command(std::string(AVI_DV_TO_AVI_PATH) + " '" + in + "' '" + out + "' 2>&1", &code);
  return code;
}

std::string ffmpeg_stream(const std::string& file, const char* map_and_format) {
  return avitest::run_command("ffmpeg -nostdin -v error -i '" + file + "' " + map_and_format +
                              " -");
}

// Raw DV frames with 48 kHz stereo sound, as `ffmpeg -f dv` writes them, wrapped: the probe
// takes the file for DV type 1 of the frames' system, and ffmpeg takes out exactly what went in.
// The module reads the sound's layout from the DVINFO block alone: the sampling-frequency code
// (byte 3, bits 3-5; 0 is 48 kHz) and the 50-field flag (byte 18, bit 5). A trailing part frame
// is left out; what is not DV, in the first frame or a later one, stops the wrap and the part
// written is removed.
TEST_P(DvToAviTest, WrapsWhatFfmpegReadsBackAndRefusesWhatIsNotDv) {
  const DvSystem& s = GetParam();
  const std::string dv = avitest::temp_path(std::string("frames_") + s.name + ".dv");
  const std::string avi = avitest::temp_path(std::string("wrapped_") + s.name + ".avi");
  const std::string cut = avitest::temp_path(std::string("cut_") + s.name + ".dv");
  int code = -1;
  avitest::run_command(std::string("ffmpeg -nostdin -v error -y -f lavfi -i ") + s.ffmpeg_input +
                           " -f lavfi -i sine=frequency=440:sample_rate=48000 -t 0.24 -pix_fmt " +
                           s.pix_fmt + " -c:v dvvideo -c:a pcm_s16le -ac 2 -f dv '" + dv + "'",
                       &code);
  ASSERT_EQ(code, 0);
  const std::string frames = avitest::read_file(dv);
  ASSERT_EQ(wrap(dv, avi), 0);
  expect_dv_type1(avi, s.height, s.frame_rate,
                  static_cast<double>(frames.size() / s.frame_bytes) / s.frame_rate);
  const std::string bytes = avitest::read_file(avi);
  const std::size_t strf = bytes.find("strf", bytes.find("iavs"));
  ASSERT_LE(strf + 8 + 32, bytes.size());
  EXPECT_EQ(std::pair((bytes[strf + 8 + 3] >> 3) & 7, (bytes[strf + 8 + 18] & 0x20) != 0),
            std::pair(0, s.frame_bytes == 144000));

  for (const char* stream : {"-map 0:v -c copy -f rawvideo", "-map 0:a -f s16le"}) {
    const std::string in = ffmpeg_stream(dv, stream);
    ASSERT_FALSE(in.empty()) << stream;
    EXPECT_TRUE(ffmpeg_stream(avi, stream) == in) << stream;
  }

  std::ofstream(cut, std::ios::binary) << frames.substr(0, 2 * s.frame_bytes + 1000);
  ASSERT_EQ(wrap(cut, avi), 0);
  expect_dv_type1(avi, s.height, s.frame_rate, 2.0 / s.frame_rate);
  for (const std::size_t at : {std::size_t{0}, s.frame_bytes}) {
    std::string broken = frames;
    broken[at] = '\x7F';  // no longer a header block
    std::ofstream(cut, std::ios::binary) << broken;
    std::filesystem::remove(avi);
    EXPECT_EQ(wrap(cut, avi), 1);
    EXPECT_FALSE(std::filesystem::exists(avi));
  }
}

const DvSystem kSystems[] = {
    {"625", "testsrc2=size=720x576:rate=25", "yuv420p", 576, 25.0, 144000},
    {"525", "testsrc2=size=720x480:rate=30000/1001", "yuv411p", 480, 30000.0 / 1001.0, 120000}};
INSTANTIATE_TEST_SUITE_P(Systems, DvToAviTest, ::testing::ValuesIn(kSystems),
                         [](const auto& p) { return std::string("Dv") + p.param.name; });

}  // namespace
