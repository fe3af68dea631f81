// The `avikit frames` command line contract, checked on the built tool with a small raw clip
// whose frame f is filled with the byte f.

#include <gtest/gtest.h>

#include <filesystem>

#include "support/avi_builder.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace {

constexpr std::size_t kFrameBytes = 24;  // 4 x 2 pixels, 24 bits, rows of 12 bytes

class FramesCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    avitest::AviBuilder b;
    const int s = b.add_video({});
    for (int f = 0; f < 10; ++f)
      b.add_chunk(s, kFrameBytes, true, std::string(kFrameBytes, char(f)));
    clip_ = avitest::temp_path("frames_cli.avi");
    ASSERT_TRUE(b.write_file(clip_).has_value());
    out_ = avitest::temp_path("frames_cli_out.raw");
  }
  void TearDown() override {
    std::filesystem::remove(clip_);
    std::filesystem::remove(out_);
  }

  // Runs the tool; returns its exit code, and the frames it wrote as their first bytes.
  int run(const std::string& args, std::string* firsts = nullptr) {
    int code = -1;
    avitest::run_command(std::string(AVI_CLI_PATH) + " frames '" + clip_ + "' " + args + " -o '" +
                             out_ + "' 2>/dev/null",
                         &code);
    if (firsts != nullptr) {
      const std::string raw = avitest::read_file(out_);
      EXPECT_EQ(raw.size() % kFrameBytes, 0u);
      firsts->clear();
      for (std::size_t p = 0; p < raw.size(); p += kFrameBytes) firsts->push_back(raw[p]);
    }
    return code;
  }

  std::string clip_;
  std::string out_;
};

TEST_F(FramesCliTest, SeeksThenEmitsAndSteps) {
  std::string got;
  EXPECT_EQ(run("--start 2 --count 3", &got), 0);
  EXPECT_EQ(got, std::string("\x02\x03\x04"));
  EXPECT_EQ(run("--count 3 --step 4", &got), 0);
  EXPECT_EQ(got, std::string("\x00\x04\x08", 3));
  EXPECT_EQ(run("", &got), 0);  // one frame by default
  EXPECT_EQ(got, std::string("\x00", 1));
}

TEST_F(FramesCliTest, AtListSeeksEachOffset) {
  std::string got;
  EXPECT_EQ(run("--at 5,1,9", &got), 0);
  EXPECT_EQ(got, std::string("\x05\x01\x09"));
}

TEST_F(FramesCliTest, ReverseAndTrimWorkInTheWindow) {
  std::string got;
  EXPECT_EQ(run("--reverse --trim 2:5 --count 3", &got), 0);
  EXPECT_EQ(got, std::string("\x05\x04\x03"));
  EXPECT_EQ(run("--trim 2:5 --at 0,3", &got), 0);
  EXPECT_EQ(got, std::string("\x02\x05"));
}

TEST_F(FramesCliTest, PatternWritesOnePngPerFrame) {
  const std::string pattern = avitest::temp_path("frames_cli_%02d.png");
  int code = -1;
  avitest::run_command(
      std::string(AVI_CLI_PATH) + " frames '" + clip_ + "' --count 2 -o '" + pattern + "'", &code);
  EXPECT_EQ(code, 0);
  for (int i = 0; i < 2; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "frames_cli_%02d.png", i);
    const std::string path = avitest::temp_path(name);
    EXPECT_EQ(avitest::read_file(path).substr(0, 4), "\x89PNG") << path;
    std::filesystem::remove(path);
  }
}

TEST_F(FramesCliTest, BadArgumentsFail) {
  EXPECT_NE(run("--trim 5"), 0);
  EXPECT_NE(run("--at 1,x"), 0);
  int code = -1;
  avitest::run_command(std::string(AVI_CLI_PATH) + " frames '" + clip_ +
                           "' -o /tmp/frames_without_pattern.bin 2>/dev/null",
                       &code);
  EXPECT_NE(code, 0);
  avitest::run_command(
      std::string(AVI_CLI_PATH) + " frames /nonexistent.avi -o '" + out_ + "' 2>/dev/null", &code);
  EXPECT_EQ(code, 1);
}

}  // namespace
