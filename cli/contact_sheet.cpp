#include "cli/contact_sheet.h"

#include <algorithm>
#include <array>

namespace avicli {
namespace {

// Each glyph is seven rows of five bits, the leftmost pixel in bit 4. Drawn by hand for a
// timecode read at a glance: square digits, colons and semicolons that keep a drop-frame
// timecode apart from a plain one.
struct Glyph {
  char c;
  std::array<std::uint8_t, kGlyphHeight> rows;
};
constexpr std::array<Glyph, 15> kFont = {{
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {';', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x04, 0x08}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {' ', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
}};

const Glyph* find_glyph(char c) {
  for (const Glyph& g : kFont)
    if (g.c == c) return &g;
  return nullptr;
}

const std::uint8_t* source_row(const std::uint8_t* src, int height, std::size_t stride,
                               bool bottom_up, int y) {
  const int row = bottom_up ? height - 1 - y : y;
  return src + static_cast<std::size_t>(row) * stride;
}

}  // namespace

bool Canvas::allocate(int w, int h, std::uint8_t grey) {
  if (w <= 0 || h <= 0) return false;
  width = w;
  height = h;
  bgr.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3, grey);
  return true;
}

bool plan_sheet(int count, int columns, int frame_width, int frame_height, int thumb_width,
                SheetLayout* out) {
  if (count <= 0 || columns <= 0 || frame_width <= 0 || frame_height <= 0 || thumb_width <= 0)
    return false;
  SheetLayout l;
  l.columns = std::min(columns, count);
  l.rows = (count + l.columns - 1) / l.columns;
  l.thumb_width = std::min(thumb_width, frame_width);
  const std::int64_t th =
      (std::int64_t{frame_height} * l.thumb_width + frame_width / 2) / frame_width;
  l.thumb_height = static_cast<int>(std::max<std::int64_t>(th, 1));
  // A larger font once the thumbnails leave room for it, so the timecode stays readable.
  l.font_scale = l.thumb_width >= 200 ? 2 : 1;
  l.gap = 4 * l.font_scale;
  l.label_height = (kGlyphHeight + 4) * l.font_scale;
  const std::int64_t w = std::int64_t{l.columns} * (l.thumb_width + l.gap) + l.gap;
  const std::int64_t h = std::int64_t{l.rows} * (l.thumb_height + l.label_height + l.gap) + l.gap;
  if (w > kMaxSheetSide || h > kMaxSheetSide) return false;
  *out = l;
  return true;
}

std::vector<int> spread_offsets(int total, int count) {
  std::vector<int> offsets;
  if (total <= 0 || count <= 0) return offsets;
  const int n = std::min(total, count);
  offsets.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) offsets.push_back(static_cast<int>(std::int64_t{i} * total / n));
  return offsets;
}

void draw_thumbnail(Canvas& canvas, int x, int y, int tw, int th, const std::uint8_t* src,
                    int width, int height, std::size_t stride, bool bottom_up) {
  if (src == nullptr || tw <= 0 || th <= 0 || width < tw || height < th) return;
  for (int ty = 0; ty < th; ++ty) {
    const int cy = y + ty;
    if (cy < 0 || cy >= canvas.height) continue;
    const int y0 = static_cast<int>(std::int64_t{ty} * height / th);
    const int y1 = static_cast<int>(std::int64_t{ty + 1} * height / th);
    for (int tx = 0; tx < tw; ++tx) {
      const int cx = x + tx;
      if (cx < 0 || cx >= canvas.width) continue;
      const int x0 = static_cast<int>(std::int64_t{tx} * width / tw);
      const int x1 = static_cast<int>(std::int64_t{tx + 1} * width / tw);
      std::array<std::uint32_t, 3> sum{};
      for (int sy = y0; sy < y1; ++sy) {
        const std::uint8_t* row = source_row(src, height, stride, bottom_up, sy);
        for (int sx = x0; sx < x1; ++sx)
          for (std::size_t c = 0; c < 3; ++c) sum[c] += row[static_cast<std::size_t>(sx) * 3 + c];
      }
      const auto n = static_cast<std::uint32_t>((y1 - y0) * (x1 - x0));
      std::uint8_t* out = canvas.pixel(cx, cy);
      for (std::size_t c = 0; c < 3; ++c) out[c] = static_cast<std::uint8_t>((sum[c] + n / 2) / n);
    }
  }
}

bool has_glyph(char c) { return find_glyph(c) != nullptr; }

int text_width(std::string_view text, int scale) {
  if (text.empty() || scale <= 0) return 0;
  return static_cast<int>(text.size()) * (kGlyphWidth + 1) * scale - scale;
}

int draw_text(Canvas& canvas, int x, int y, std::string_view text, int scale, std::uint8_t grey) {
  if (scale <= 0) return 0;
  int pen = x;
  for (const char c : text) {
    const Glyph* g = find_glyph(c);
    for (int gy = 0; g != nullptr && gy < kGlyphHeight * scale; ++gy) {
      const std::uint8_t bits = g->rows[static_cast<std::size_t>(gy / scale)];
      for (int gx = 0; gx < kGlyphWidth * scale; ++gx) {
        const int px = pen + gx;
        const int py = y + gy;
        if ((bits >> (kGlyphWidth - 1 - gx / scale) & 1) == 0 || px < 0 || py < 0 ||
            px >= canvas.width || py >= canvas.height)
          continue;
        std::uint8_t* out = canvas.pixel(px, py);
        out[0] = out[1] = out[2] = grey;
      }
    }
    pen += (kGlyphWidth + 1) * scale;
  }
  return text_width(text, scale);
}

}  // namespace avicli
