// `avikit play` headless: under Xvfb with SDL's dummy sound driver, key presses step the players
// and the picture the renderer showed last must be the frame the video player reports.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/png_reader.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace {

struct PlayCase {
  const char* file;
  const char* keys;
  int frames;       // --frames: pictures shown before quitting
  int want_offset;  // -1: any, as long as playback moved
};

constexpr const char* kSound = "mpeg4_xvid_gop12.avi";  // 100 frames with sound
// No sound: the wall clock paces the video.
constexpr const char* kSilent = "mpeg4_divx_gop12_bf2.avi";

class PlayCliTest : public ::testing::TestWithParam<PlayCase> {};

TEST_P(PlayCliTest, ShowsTheFrameThePlayerReports) {
  if (!avitest::have_tool("xvfb-run")) GTEST_SKIP() << "xvfb-run is not installed";
  const PlayCase& c = GetParam();
  const std::string clip = avitest::media_path(c.file);
  const std::string shot = avitest::temp_path("play_shot.png");
  std::filesystem::remove(shot);
  std::string keys = c.keys[0] != '\0' ? std::string(" --keys ") + c.keys : std::string();
  int code = -1;
  const std::string out = avitest::run_command(
      // The window system's libraries keep allocations until exit; the leak check of a sanitizer
      // build looks at our code in the other tests.
      "ASAN_OPTIONS=detect_leaks=0 SDL_AUDIODRIVER=dummy timeout 120 xvfb-run -a -s '-screen 0 "
      "640x480x24' " +
          std::string(AVI_CLI_PATH) + " play '" + clip + "'" + keys + " --frames " +
          std::to_string(c.frames) + " --screenshot '" + shot + "'",
      &code);
  ASSERT_EQ(code, 0) << out;
  int offset = -1;
  ASSERT_EQ(std::sscanf(out.c_str(), "frame %d", &offset), 1) << out;
  // With no offset wanted, the sound clock moved the video on.
  EXPECT_TRUE(c.want_offset >= 0 ? offset == c.want_offset : offset >= c.frames - 1) << offset;
  // The frame as top-down RGB rows, as a PNG holds them.
  const std::string frame =
      avitest::run_command(std::string(AVI_CLI_PATH) + " frames '" + clip +
                               "' --pix-fmt rgb24 -o - --at " + std::to_string(offset),
                           &code);
  ASSERT_EQ(code, 0);
  clitest::Rgb shown;
  ASSERT_TRUE(clitest::read_png(shot, &shown));
  EXPECT_TRUE(std::string(shown.pixels.begin(), shown.pixels.end()) == frame)
      << "the window showed something other than frame " << offset;
  std::filesystem::remove(shot);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, PlayCliTest,
    ::testing::Values(PlayCase{kSound, "space,right,right,right", 5, 3},
                      // End 99, Left 98, Down 73, Home 0, Up 25, Right 26.
                      PlayCase{kSound, "space,end,left,down,home,up,right", 8, 26},
                      PlayCase{kSound, "right,left,left", 4, 0},  // stepping pauses; never before 0
                      PlayCase{kSound, "end", 3, 99},  // playing into the end pauses there
                      PlayCase{kSound, "", 6, -1}, PlayCase{kSilent, "", 6, -1}));

}  // namespace
