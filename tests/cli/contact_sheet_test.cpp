// The contact sheet's arithmetic, box filter and font, and the PNG writer, on pictures built in
// memory.

#include "cli/contact_sheet.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <vector>

#include "cli/image_out.h"
#include "cli/png_reader.h"
#include "support/test_paths.h"

namespace {

using avicli::Canvas;
using avicli::SheetLayout;

// Rows filled, never an empty one; thumbnails keep the aspect and are never enlarged (a sliver
// stays a pixel high); the last cell lies wholly inside the sheet, with a gap to spare.
TEST(SheetLayoutTest, FillsRowsKeepsAspectAndNeverEnlarges) {
  const struct {
    int count, columns, width, height, max_width;
    std::tuple<int, int, int, int> want;  // columns, rows, thumbnail width and height
  } cases[] = {
      {1, 4, 320, 240, 160, {1, 1, 160, 120}},  {4, 4, 320, 240, 160, {4, 1, 160, 120}},
      {5, 4, 320, 240, 160, {4, 2, 160, 120}},  {16, 4, 320, 240, 160, {4, 4, 160, 120}},
      {17, 4, 320, 240, 160, {4, 5, 160, 120}}, {3, 1, 320, 240, 160, {1, 3, 160, 120}},
      {4, 2, 720, 576, 160, {2, 2, 160, 128}},  {4, 2, 100, 50, 400, {2, 2, 100, 50}},
      {1, 1, 4000, 1, 10, {1, 1, 10, 1}},
  };
  for (const auto& c : cases) {
    SheetLayout l;
    ASSERT_TRUE(avicli::plan_sheet(c.count, c.columns, c.width, c.height, c.max_width, &l));
    EXPECT_EQ(std::tuple(l.columns, l.rows, l.thumb_width, l.thumb_height), c.want) << c.count;
    EXPECT_LE(l.cell_x(c.count - 1) + l.thumb_width + l.gap, l.width());
    EXPECT_EQ(l.cell_y(c.count - 1) + l.thumb_height + l.label_height + l.gap, l.height());
  }
}

TEST(SpreadOffsetsTest, StartsAtZeroStaysInsideAndCapsAtTotal) {
  const int totals_and_counts[][2] = {{100, 4}, {10, 3}, {3, 16}, {1, 1}, {0, 4}, {4, 0}};
  std::vector<std::vector<int>> got;
  for (const auto& [total, count] : totals_and_counts)
    got.push_back(avicli::spread_offsets(total, count));
  EXPECT_EQ(got,
            (std::vector<std::vector<int>>{{0, 25, 50, 75}, {0, 3, 6}, {0, 1, 2}, {0}, {}, {}}));
  EXPECT_EQ(avicli::spread_offsets(2147483647, 7).back(), 1840700268);  // 6 / 7, no overflow
}

// The rounded mean of each box is checked on a real thumbnail (sheet_cli_test); here the edges: a
// picture of the same size is a plain copy turned top-down, and a box never leaves the canvas nor
// enlarges the source.
TEST(BoxFilterTest, CopiesAtTheSameSizeClipsAndNeverEnlarges) {
  // 4 x 2 source, bottom-up: the first row in memory is the picture's bottom row.
  const std::uint8_t src[2][12] = {
      {10, 20, 30, 11, 21, 31, 100, 100, 100, 200, 200, 200},  // bottom
      {0, 0, 0, 1, 1, 1, 255, 255, 255, 254, 254, 254},        // top
  };
  Canvas same;
  ASSERT_TRUE(same.allocate(5, 3, 7));
  avicli::draw_thumbnail(same, 0, 0, 4, 2, &src[0][0], 4, 2, 12, true);
  // Top-down, and right of and under it untouched.
  EXPECT_EQ(std::vector({same.pixel(2, 0)[0], same.pixel(3, 1)[2], same.pixel(4, 0)[0],
                         same.pixel(0, 2)[0]}),
            std::vector<std::uint8_t>({255, 200, 7, 7}));
  // Clipped to the canvas, and never enlarging.
  const std::uint8_t nines[12] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
  Canvas small;
  ASSERT_TRUE(small.allocate(2, 2, 0));
  avicli::draw_thumbnail(small, -1, 1, 4, 1, nines, 4, 1, 12, false);
  avicli::draw_thumbnail(small, 0, 0, 8, 1, nines, 4, 1, 12, false);  // wider than the source
  EXPECT_EQ(std::vector({small.pixel(0, 1)[0], small.pixel(0, 0)[0], small.pixel(1, 0)[0]}),
            std::vector<std::uint8_t>({9, 0, 0}));
}

// One character drawn at scale 1: its canvas.
std::vector<std::uint8_t> render(char ch) {
  Canvas c;
  EXPECT_TRUE(c.allocate(avicli::kGlyphWidth, avicli::kGlyphHeight, 0));
  avicli::draw_text(c, 0, 0, std::string_view(&ch, 1), 1, 255);
  return c.bgr;
}

TEST(BitmapFontTest, TimecodeCharactersAreDistinctVisibleScaledAndClipped) {
  const std::vector<std::uint8_t> blank(
      std::size_t{avicli::kGlyphWidth * avicli::kGlyphHeight * 3});
  std::set<std::vector<std::uint8_t>> seen = {blank};
  for (const char ch : std::string("0123456789:;.")) {
    ASSERT_TRUE(avicli::has_glyph(ch)) << ch;
    EXPECT_TRUE(seen.insert(render(ch)).second) << ch << " is blank or drawn as another";
  }
  EXPECT_FALSE(avicli::has_glyph('x'));
  Canvas c;
  ASSERT_TRUE(c.allocate(12, 14, 0));
  // '1' at scale 2: its top row is bit 2 only, so pixels 4 and 5 of the first two rows light.
  avicli::draw_text(c, 0, 0, "1x", 2, 200);  // 'x' is not in the font: a blank advance
  EXPECT_EQ(std::vector({c.pixel(4, 0)[0], c.pixel(5, 1)[0], c.pixel(3, 0)[0]}),
            std::vector<std::uint8_t>({200, 200, 0}));
  for (int x = 10; x < 12; ++x)
    for (int y = 0; y < 14; ++y) EXPECT_EQ(c.pixel(x, y)[0], 0);
  avicli::draw_text(c, 9, 10, "88888", 3, 1);  // runs off two edges: clipped (sanitizers watch)
}

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
