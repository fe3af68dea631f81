// The `avikit probe` command line contract, checked on the built tool.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

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
                                               "length", "bit_rate", "video", "audio"}));
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
    EXPECT_EQ(keys(v), (std::vector<std::string>{"stream", "codec", "width", "height", "frame_rate",
                                                 "length", "bit_rate", "inter_frames"}));
  }
}

TEST(ProbeCliTest, FailurePrintsJsonAndExitsOne) {
  const std::string path = avitest::temp_path("not_an_avi.bin");
  std::ofstream(path) << "RIFF0000JUNK and nothing else";
  int code = -1;
  const Json j = probe_json(path, &code);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(j["result"], 1);
  EXPECT_EQ(j["status"], Json::array({0, 0}));
  EXPECT_TRUE(j["type_name"].is_null());
  EXPECT_EQ(j["size"], 0);
  EXPECT_TRUE(j["video"].empty());
  EXPECT_TRUE(j["audio"].empty());
  std::remove(path.c_str());
}

TEST(ProbeCliTest, StatusCarriesTheVideoCodeWhenOnlySoundDecodes) {
  // The MP3 (variable rate, short chunks) always decodes; the video does when a Motion JPEG
  // codec is installed, and otherwise the status names its FOURCC.
  int code = -1;
  const Json j = probe_json(avitest::data_path("mjpeg_mp3.avi"), &code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(j["result"], 0);
  if (j["status"][0] != 0) {
    EXPECT_EQ(j["status"], Json::array({11, 0x47504A4D}));  // "MJPG"
  }
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
