// The `avikit probe` command line contract, checked on the built tool.

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/avi_builder.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace {

using Json = nlohmann::ordered_json;

Json probe_json(const std::string& file, int* code) {
  const std::string out =
      avitest::run_command(std::string(AVI_CLI_PATH) + " probe --json '" + file + "'", code);
  return Json::parse(out);
}

std::vector<std::string> keys(const Json& j) {
  std::vector<std::string> k;
  for (auto it = j.begin(); it != j.end(); ++it) k.push_back(it.key());
  return k;
}

TEST(ProbeCliTest, JsonFollowsTheContractOnTheSample) {
  int code = -1;
  const Json j = probe_json(AVI_SAMPLE_PATH, &code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(keys(j), (std::vector<std::string>{"file", "result", "status", "type_name", "size",
                                               "length", "bit_rate", "video", "audio", "error"}));
  EXPECT_EQ(j["file"], AVI_SAMPLE_PATH);
  EXPECT_EQ(j["result"], 0);
  ASSERT_EQ(j["status"].size(), 2u);
  EXPECT_EQ(j["type_name"], "Microsoft Audio/Video Interleaved File");
  std::ifstream sample(AVI_SAMPLE_PATH, std::ios::binary | std::ios::ate);
  EXPECT_EQ(j["size"].get<std::uint64_t>(), static_cast<std::uint64_t>(sample.tellg()));
  EXPECT_NEAR(j["length"].get<double>(), 2.0, 1e-9);
  ASSERT_EQ(j["audio"].size(), 1u);
  const Json& a = j["audio"][0];
  EXPECT_EQ(keys(a),
            (std::vector<std::string>{"stream", "format", "channels", "sample_rate", "bit_rate",
                                      "bits_per_sample", "length", "source_channels"}));
  EXPECT_EQ(a["stream"], 1);
  EXPECT_EQ(a["format"], 0);
  EXPECT_EQ(a["channels"], 1);
  EXPECT_EQ(a["sample_rate"], 22050);
  EXPECT_EQ(a["bit_rate"], 352800);
  EXPECT_EQ(a["bits_per_sample"], 16);
  for (const Json& v : j["video"]) {
    EXPECT_EQ(keys(v),
              (std::vector<std::string>{"stream", "codec", "width", "height", "frame_rate",
                                        "length", "bit_rate", "inter_frames", "frame_count",
                                        "r_frame_rate", "key_frame_count", "fourcc"}));
  }
}

// The index facts, exact rates and figures without single-precision noise, on an NTSC-rate clip
// of 10 raw frames with key frames 0 and 5.
TEST(ProbeCliTest, VideoCarriesIndexFactsAndExactRate) {
  avitest::AviBuilder b;
  avitest::VideoStream ntsc;
  ntsc.rate = 30000;
  ntsc.scale = 1001;
  const int v = b.add_video(ntsc);
  b.add_frames(v, 10, 24, 5);
  const std::string clip = avitest::temp_path("ntsc.avi");
  ASSERT_TRUE(b.write_file(clip).has_value());
  int code = -1;
  const Json j = Json::parse(avitest::run_command(
      std::string(AVI_CLI_PATH) + " probe --json --keyframes '" + clip + "'", &code));
  ASSERT_EQ(code, 0);
  const Json& video = j["video"][0];
  EXPECT_EQ(video["frame_count"], 10);
  EXPECT_EQ(video["r_frame_rate"], "30000/1001");
  EXPECT_EQ(video["key_frame_count"], 2);
  EXPECT_EQ(video["key_frames"], Json::array({0, 5}));
  EXPECT_EQ(video["fourcc"], "[0][0][0][0]");
  EXPECT_EQ(video["frame_rate"].dump(), "29.97003");
  EXPECT_EQ(video["length"].dump(), "0.333667");
  // Several files: one object a line, and the status of the worst.
  const std::string junk = avitest::temp_path("not_an_avi.bin");
  std::ofstream(junk) << "RIFF0000JUNK and nothing else";
  const std::string lines = avitest::run_command(
      std::string(AVI_CLI_PATH) + " probe --json '" + clip + "' '" + junk + "' '" + clip + "'",
      &code);
  EXPECT_EQ(code, 1);
  std::istringstream in(lines);
  std::vector<Json> objects;
  for (std::string line; std::getline(in, line);) objects.push_back(Json::parse(line));
  ASSERT_EQ(objects.size(), 3u);
  EXPECT_EQ(objects[1]["result"], 1);
  EXPECT_EQ(objects[1]["error"], "not a RIFF AVI or WAVE file");
  EXPECT_EQ(objects[2]["video"][0]["frame_count"], 10);
}

TEST(ProbeCliTest, TextOutputOneStreamALine) {
  int code = -1;
  const std::string out = avitest::run_command(
      std::string(AVI_CLI_PATH) + " probe '" + std::string(AVI_SAMPLE_PATH) + "'", &code);
  EXPECT_EQ(code, 0);
  EXPECT_NE(out.find("type: Microsoft Audio/Video Interleaved File\n"), std::string::npos);
  EXPECT_NE(out.find("audio stream 1: PCM, 1 ch, 22050 Hz, 16 bit"), std::string::npos);
  avitest::run_command(std::string(AVI_CLI_PATH) + " probe 2>/dev/null", &code);
  EXPECT_NE(code, 0);  // FILE is required.
}

}  // namespace
