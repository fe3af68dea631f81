#include <algorithm>

#include "hostlib/colour_convert.h"

namespace avikit::hostlib {
namespace {

// The lane operations of the vector code, written out for one lane.
constexpr int mulhi16(int a, int b) { return (a * b) >> 16; }  // arithmetic shift, as pmulhw
constexpr int mulhi_u16(int a, int b) { return (a * b) >> 16; }
constexpr int sat16(int x) { return std::clamp(x, -32768, 32767); }
constexpr std::uint8_t to_u8(int x) {
  return static_cast<std::uint8_t>(std::clamp(sat16(x + 32) >> 6, 0, 255));
}

}  // namespace

void yuv_pixel_scalar(int y, int u, int v, std::uint8_t* bgr) {
  const int yv = mulhi_u16(y << 8, 19077) - 1192;
  const int us = (u - 128) << 8;
  const int vs = (v - 128) << 8;
  const int cb = mulhi16(us, 282) + ((u - 128) << 7);
  bgr[0] = to_u8(sat16(yv + cb));
  bgr[1] = to_u8(sat16(sat16(yv - mulhi16(us, 6419)) - mulhi16(vs, 13320)));
  bgr[2] = to_u8(sat16(yv + mulhi16(vs, 26149)));
}

void yuv420_row_scalar(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
                       std::uint8_t* bgr, int width) {
  for (int x = 0; x < width; ++x) {
    yuv_pixel_scalar(y[x], u[x / 2], v[x / 2], bgr + 3 * x);
  }
}

void packed422_row_scalar(const std::uint8_t* src, std::uint8_t* bgr, int width, bool yuy2) {
  for (int x = 0; x < width; ++x) {
    const std::uint8_t* pair = src + 4 * (x / 2);
    if (yuy2) {
      yuv_pixel_scalar(src[2 * x], pair[1], pair[3], bgr + 3 * x);
    } else {
      yuv_pixel_scalar(src[2 * x + 1], pair[0], pair[2], bgr + 3 * x);
    }
  }
}

}  // namespace avikit::hostlib
