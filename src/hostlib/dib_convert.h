#pragma once
// The support library's picture copies: YV12 and packed 4:2:2 bitmaps to 24-bit BGR, and any
// frame bitmap into an Image. Colour arithmetic: hostlib/colour_convert.h.

#include <cstddef>
#include <cstdint>

namespace avikit {

class CNewDib;
class Image;

// Converts a YV12 bitmap into `dst`, which becomes (or stays) a 24-bit bitmap of the same size.
// 1 on success, 0 when the source is not a YV12 bitmap with pixels or `dst` cannot be made.
int YV12_2_RGB(CNewDib& dst, const CNewDib& src);

// Converts a width x height rectangle of packed 4:2:2 rows (top row first; Y0 U Y1 V when
// src_is_yuy2 is non-zero, else U Y0 V Y1) into a bottom-up 24-bit bitmap of dst_height rows,
// placed with its top-left corner at (dst_x, dst_y) counted from the picture's top. Rows and
// columns falling outside the destination are left out. 1 on success, 0 for bad arguments.
int YUY2_2_Rgb24(std::uint8_t* dst, int dst_height, int dst_pitch, int dst_x, int dst_y, int width,
                 int height, const std::uint8_t* src, int src_pitch, int src_is_yuy2, int reserved1,
                 int reserved2);

// Copies the bitmap's picture (YV12, YUY2 or 24-bit RGB) into the image, top row first, resizing
// the image to the bitmap if they differ. 1 on success, 0 when either is empty or the bitmap's
// format is none of the three.
int DibToImage(Image& image, const CNewDib& dib);

// Converts rows [first, first + count) of the bitmap's picture (YV12, YUY2/UYVY or 24-bit RGB),
// counted from the top, into 24-bit blue-green-red rows `stride` bytes apart from `out`: the
// pixels DibToImage gives, without the copy through an image. 1 on success, 0 when the bitmap is
// empty, its format none of the three, or the rows outside the picture.
int DibRowsToBgr(const CNewDib& dib, int first, int count, std::uint8_t* out,
                 std::ptrdiff_t stride);

}  // namespace avikit
