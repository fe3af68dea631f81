#pragma once
// Row and plane geometry of the three bitmap layouts shared by CNewDib and the codec driver.
//   24 bits, BI_RGB: bottom-up rows of blue-green-red, each row padded to 4 bytes.
//   16 bits, "YUY2": top-down rows of Y0 U Y1 V, each row padded to 4 bytes.
//   12 bits, "YV12": top-down planes Y, V, U. The luma row stride is the width rounded up to 4;
//                    each chroma plane has half that stride and (height + 1) / 2 rows.

#include <cstdint>

namespace avikit::hostlib {

struct DibLayout {
  int pitch = 0;         // bytes per row (luma row for YV12)
  int chroma_pitch = 0;  // YV12 only
  int chroma_rows = 0;   // YV12 only
  std::uint32_t bytes = 0;
};

// All 0 for an unsupported depth, or a side below 1 or above 16384 (which keeps every size
// below 2^31 bytes).
constexpr DibLayout dib_layout(int width, int height, int bits) {
  DibLayout l;
  if (width < 1 || height < 1 || width > 16384 || height > 16384) return l;
  const auto w = static_cast<std::uint32_t>(width);
  const auto h = static_cast<std::uint32_t>(height);
  if (bits == 24 || bits == 16) {
    const std::uint32_t pitch = ((w * static_cast<std::uint32_t>(bits) + 31) >> 3) & ~3u;
    l.pitch = static_cast<int>(pitch);
    l.bytes = pitch * h;
  } else if (bits == 12) {
    const std::uint32_t pitch = (w + 3) & ~3u;
    const std::uint32_t rows = (h + 1) / 2;
    l.pitch = static_cast<int>(pitch);
    l.chroma_pitch = static_cast<int>(pitch / 2);
    l.chroma_rows = static_cast<int>(rows);
    l.bytes = pitch * h + 2 * (pitch / 2) * rows;
  }
  return l;
}

}  // namespace avikit::hostlib
