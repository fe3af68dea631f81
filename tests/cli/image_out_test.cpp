#include "cli/image_out.h"

#include <gtest/gtest.h>

#include <vector>

#include "cli/png_reader.h"
#include "support/test_paths.h"

namespace {

TEST(PngWriterTest, BottomUpBgrComesBackTopDownRgb) {
  // Two rows, two pixels, padded stride; the bottom row is first in memory.
  const std::uint8_t pixels[2 * 8] = {1, 2, 3, 4,  5,  6,  0, 0,   // bottom row
                                      7, 8, 9, 10, 11, 12, 0, 0};  // top row
  const std::string path = avitest::temp_path("out.png");
  ASSERT_TRUE(avicli::write_png_from_bgr(path, pixels, 2, 2, 8, true));
  clitest::Rgb rgb;
  ASSERT_TRUE(clitest::read_png(path, &rgb));
  EXPECT_EQ(rgb.pixels, (std::vector<std::uint8_t>{9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4}));
}

}  // namespace
