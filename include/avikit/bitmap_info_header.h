#pragma once
// The header of a player's frame bitmap, as VideoPlayer::get_frame_dib_header() hands it out:
// 40 bytes, no padding, the fields and offsets of the Windows bitmap info header, so a host can
// hand it to an API that takes one. The module's own Windows subset names this same type
// platform::BITMAPINFOHEADER.

#include <cstddef>
#include <cstdint>

namespace avikit {

struct BitmapInfoHeader {
  std::uint32_t biSize = 0;
  std::int32_t biWidth = 0;
  std::int32_t biHeight = 0;  // positive: bottom-up rows
  std::uint16_t biPlanes = 0;
  std::uint16_t biBitCount = 0;
  std::uint32_t biCompression = 0;  // 0: uncompressed, else a FOURCC
  std::uint32_t biSizeImage = 0;
  std::int32_t biXPelsPerMeter = 0;
  std::int32_t biYPelsPerMeter = 0;
  std::uint32_t biClrUsed = 0;
  std::uint32_t biClrImportant = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40);
static_assert(offsetof(BitmapInfoHeader, biBitCount) == 14);
static_assert(offsetof(BitmapInfoHeader, biCompression) == 16);

}  // namespace avikit
