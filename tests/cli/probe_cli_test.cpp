// The `avikit probe` command line contract, checked on the built tool: the JSON's keys in their
// order and its figures, one object a line for several files, and the text form.

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/avi_builder.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace {

using Json = nlohmann::ordered_json;

std::string probe(const std::string& args, int* code) {
  return avitest::run_command(std::string(AVI_CLI_PATH) + " probe " + args, code);
}

// ordered_json compares the keys in their order too. The text form gives one stream a line.
TEST(ProbeCliTest, JsonFollowsTheContractOnTheSampleAndTextHasOneStreamALine) {
  int code = -1;
  Json j = Json::parse(probe("--json '" AVI_SAMPLE_PATH "'", &code));
  EXPECT_EQ(code, 0);
  j["video"][0]["codec"] = "";  // libavcodec's name for it
  EXPECT_EQ(j, Json::parse(R"({"file": ")" AVI_SAMPLE_PATH R"(", "result": 0, "status": [0, 0],
      "type_name": "Microsoft Audio/Video Interleaved File", "size": 180392, "length": 2.0,
      "bit_rate": 319, "video": [{"stream": 0, "codec": "", "width": 160, "height": 120,
      "frame_rate": 25.0, "length": 2.0, "bit_rate": 319683, "inter_frames": 1,
      "frame_count": 50, "r_frame_rate": "25/1", "key_frame_count": 5, "fourcc": "FMP4"}],
      "audio": [{"stream": 1, "format": 0, "channels": 1, "sample_rate": 22050,
      "bit_rate": 352800, "bits_per_sample": 16, "length": 2.0, "source_channels": 1}],
      "error": null})"));
  const std::string out = probe("'" AVI_SAMPLE_PATH "'", &code);
  EXPECT_EQ(code, 0);
  EXPECT_NE(out.find("type: Microsoft Audio/Video Interleaved File\n"), std::string::npos);
  EXPECT_NE(out.find("audio stream 1: PCM, 1 ch, 22050 Hz, 16 bit"), std::string::npos);
  EXPECT_NE(probe("/nonexistent.avi", &code).find("error: No such file"), std::string::npos);
  EXPECT_EQ(code, 1);
  probe("2>/dev/null", &code);
  EXPECT_NE(code, 0);  // FILE is required.
}

// The index facts, exact rates and figures without single-precision noise, on an NTSC-rate clip
// of 10 raw frames with key frames 0 and 5; several files give one object a line, and the status
// of the worst.
TEST(ProbeCliTest, VideoCarriesIndexFactsAndExactRate) {
  avitest::AviBuilder b;
  b.add_frames(b.add_video({.rate = 30000, .scale = 1001}), 10, 24, 5);
  const std::string clip = avitest::temp_path("ntsc.avi");
  ASSERT_TRUE(b.write_file(clip).has_value());
  int code = -1;
  const Json j = Json::parse(probe("--json --keyframes '" + clip + "'", &code));
  ASSERT_EQ(code, 0);
  EXPECT_EQ(j["video"][0], Json::parse(R"({"stream": 0, "codec": "Uncompressed RGB24",
      "width": 4, "height": 2, "frame_rate": 29.97003, "length": 0.333667, "bit_rate": 5754,
      "inter_frames": 1, "frame_count": 10, "r_frame_rate": "30000/1001", "key_frame_count": 2,
      "key_frames": [0, 5], "fourcc": "[0][0][0][0]"})"));
  const std::string junk = avitest::temp_path("not_an_avi.bin");
  std::ofstream(junk) << "RIFF0000JUNK and nothing else";
  std::istringstream lines(probe("--json '" + clip + "' '" + junk + "' '" + clip + "'", &code));
  EXPECT_EQ(code, 1);
  std::vector<Json> objects;
  for (std::string line; std::getline(lines, line);) objects.push_back(Json::parse(line));
  ASSERT_EQ(objects.size(), 3u);
  EXPECT_EQ(objects[1]["result"], 1);
  EXPECT_EQ(objects[1]["error"], "not a RIFF AVI or WAVE file");
  EXPECT_EQ(objects[2]["video"][0]["frame_count"], 10);
}

}  // namespace
