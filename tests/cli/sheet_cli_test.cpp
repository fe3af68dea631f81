// `avikit sheet` end to end on real files made by ffmpeg: the thumbnails are the player's frames,
// shrunk, and --keyframes lays out one cell per key frame.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "cli/contact_sheet.h"
#include "cli/png_reader.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace {

using clitest::Rgb;

int run_sheet(const std::string& file, const std::string& args, const std::string& out) {
  int code = -1;
  avitest::run_command(
      std::string(AVI_CLI_PATH) + " sheet '" + file + "' " + args + " -o '" + out + "' 2>/dev/null",
      &code);
  return code;
}

TEST(SheetCliTest, ThumbnailIsThePlayersFrameHalved) {
  const std::string clip = avitest::media_path("raw_bgr24.avi");  // 160 x 120, 25 frames
  const std::string out = avitest::temp_path("sheet_halved.png");
  ASSERT_EQ(run_sheet(clip, "--count 4 --columns 2 --width 80", out), 0);
  EXPECT_EQ(run_sheet(clip, "", "/nonexistent/dir/x.png"), 1);  // a sheet it cannot write
  Rgb sheet;
  ASSERT_TRUE(clitest::read_png(out, &sheet));
  avicli::SheetLayout l;
  ASSERT_TRUE(avicli::plan_sheet(4, 2, 160, 120, 80, &l));
  ASSERT_EQ(std::pair(sheet.width, sheet.height), std::pair(l.width(), l.height()));

  // The fourth cell holds frame 18 (4 spread over 25: 0, 6, 12, 18), as top-down RGB.
  int code = -1;
  const std::string frame = avitest::run_command(
      std::string(AVI_CLI_PATH) + " frames '" + clip + "' --pix-fmt rgb24 -o - --at 18", &code);
  ASSERT_EQ(std::pair(code, frame.size()), std::pair(0, std::size_t{160 * 120 * 3}));
  const int x0 = l.cell_x(3), y0 = l.cell_y(3);
  int mismatches = 0;
  const auto source = [&](int x, int y, int c) {
    return static_cast<std::uint8_t>(frame[static_cast<std::size_t>((y * 160 + x) * 3 + c)]);
  };
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 80; ++x)
      for (int c = 0; c < 3; ++c) {
        const int sum = 2 + source(2 * x, 2 * y, c) + source(2 * x + 1, 2 * y, c) +
                        source(2 * x, 2 * y + 1, c) + source(2 * x + 1, 2 * y + 1, c);
        mismatches += sheet.at(x0 + x, y0 + y)[c] != sum / 4;  // the rounded mean of the box
      }
  EXPECT_EQ(mismatches, 0);
  // Its timecode, 00:00:00:18, is drawn in the band under it.
  int ink = 0;
  for (int y = y0 + 60; y < y0 + 60 + l.label_height; ++y)
    for (int x = x0; x < x0 + 80; ++x) ink += sheet.at(x, y)[1] > 128 ? 1 : 0;
  EXPECT_GT(ink, 40);
  std::filesystem::remove(out);
}

struct KeyCase {
  const char* ffmpeg_args;  // the clip: 320 x 240 MPEG-4, a key frame every 12
  int cells;
};

class SheetKeyframesTest : public ::testing::TestWithParam<KeyCase> {};

// One cell per key frame, none past the end: 100 frames end 4 after the last key frame (96),
// 250 frames end 10 after it (240), where a step from the last key frame once left the video.
TEST_P(SheetKeyframesTest, OneCellPerKeyFrame) {
  const std::string clip = avitest::temp_path("sheet_keys.avi");
  int code = -1;
  avitest::run_command("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 " +
                           std::string(GetParam().ffmpeg_args) + " -c:v mpeg4 -g 12 -bf 0 '" +
                           clip + "'",
                       &code);
  ASSERT_EQ(code, 0);
  const std::string out = avitest::temp_path("sheet_keys.png");
  ASSERT_EQ(run_sheet(clip, "--keyframes --width 64", out), 0);
  Rgb sheet;
  ASSERT_TRUE(clitest::read_png(out, &sheet));
  avicli::SheetLayout l;
  ASSERT_TRUE(avicli::plan_sheet(GetParam().cells, 4, 320, 240, 64, &l));
  EXPECT_EQ(std::pair(sheet.width, sheet.height), std::pair(l.width(), l.height()));
  // A row of all frames passes the 16384-pixel side on the longer clip: refused, exit status 2.
  EXPECT_EQ(run_sheet(clip, "--count 250 --columns 250 --width 64", out) == 2,
            GetParam().cells == 21);
  std::filesystem::remove(out);
}

INSTANTIATE_TEST_SUITE_P(Clips, SheetKeyframesTest,
                         ::testing::Values(KeyCase{"-frames:v 100", 9},
                                           KeyCase{"-frames:v 250", 21}));

}  // namespace
