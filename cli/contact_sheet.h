#pragma once
// The pieces of `avikit sheet` that do not need a player: where each thumbnail goes, the box
// filter that shrinks a frame into it, and a tiny bitmap font for the timecodes under it.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace avicli {

// A top-down picture of blue, green, red bytes, rows packed (stride = 3 x width).
struct Canvas {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bgr;

  bool allocate(int w, int h, std::uint8_t grey);
  std::uint8_t* pixel(int x, int y) {
    return bgr.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                         static_cast<std::size_t>(x)) *
                            3;
  }
};

// Glyphs are kGlyphWidth x kGlyphHeight cells drawn `scale` times bigger, one blank column apart.
inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;

struct SheetLayout {
  int columns = 0;
  int rows = 0;
  int thumb_width = 0;
  int thumb_height = 0;
  int gap = 0;           // around and between cells
  int label_height = 0;  // under each thumbnail, the timecode's band
  int font_scale = 1;

  int width() const { return columns * thumb_width + (columns + 1) * gap; }
  int height() const { return rows * (thumb_height + label_height) + (rows + 1) * gap; }
  int cell_x(int index) const { return gap + (index % columns) * (thumb_width + gap); }
  int cell_y(int index) const {
    return gap + (index / columns) * (thumb_height + label_height + gap);
  }
};

// Plans `count` thumbnails of a frame_width x frame_height video, `thumb_width` wide (never wider
// than the frame) in at most `columns` columns. False when any input is not positive or the sheet
// would pass kMaxSheetSide pixels on a side.
inline constexpr int kMaxSheetSide = 16384;
[[nodiscard]] bool plan_sheet(int count, int columns, int frame_width, int frame_height,
                              int thumb_width, SheetLayout* out);

// `count` offsets spread evenly over `total` frames, the first being frame 0; fewer when the
// video has fewer frames.
std::vector<int> spread_offsets(int total, int count);

// Shrinks a BGR picture (rows `stride` bytes apart, bottom_up when the first row in memory is the
// bottom one) into the canvas box at (x, y), tw x th: each target pixel is the rounded mean of the
// source pixels its box covers. Parts of the box outside the canvas are left alone.
void draw_thumbnail(Canvas& canvas, int x, int y, int tw, int th, const std::uint8_t* src,
                    int width, int height, std::size_t stride, bool bottom_up);

// Draws text in the built-in font with its top left corner at (x, y); characters the font lacks
// advance as blanks. Returns the width drawn. Pixels outside the canvas are skipped.
int draw_text(Canvas& canvas, int x, int y, std::string_view text, int scale, std::uint8_t grey);
int text_width(std::string_view text, int scale);
// True when the font has a glyph for c (digits, ':' ';' '.' '-' and space).
bool has_glyph(char c);

}  // namespace avicli
