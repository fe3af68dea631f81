#pragma once
// Placement of decoded macroblocks into the planar picture (Y plane, then Cr, then Cb), the
// 4:2:2 conversion to YUY2 and the conversion to bottom-up 24-bit BGR (ITU-R BT.601, studio
// range). These are the plain references; the frame decoder places with the transform
// kernels and converts line by line with the kernels of dv/colour.h.

#include <cstddef>
#include <cstdint>

namespace avikit::dv {

// The six blocks (Y0..Y3, Cr, Cb) of a macroblock, each 64 samples in raster order.
using Macroblock = std::int16_t[6][64];

// 625/50, 16 x 16: Y0 Y1 over Y2 Y3; 8 x 8 chroma squares.
void dv_place_mb_420(const Macroblock& mb, std::uint8_t* y, std::ptrdiff_t y_stride,
                     std::uint8_t* cr, std::uint8_t* cb, std::ptrdiff_t c_stride);
// 525/60, 32 x 8: Y0..Y3 side by side; 8 x 8 chroma squares.
void dv_place_mb_411(const Macroblock& mb, std::uint8_t* y, std::ptrdiff_t y_stride,
                     std::uint8_t* cr, std::uint8_t* cb, std::ptrdiff_t c_stride);
// 525/60 right edge, 16 x 16: Y as in 4:2:0; each chroma row r puts columns 0..3 on line r and
// columns 4..7 on line r + 8.
void dv_place_mb_411_edge(const Macroblock& mb, std::uint8_t* y, std::ptrdiff_t y_stride,
                          std::uint8_t* cr, std::uint8_t* cb, std::ptrdiff_t c_stride);

// Planar 4:2:0 (line-alternating chroma siting of DV) to YUY2.
void dv_420_to_yuy2(const std::uint8_t* y, std::ptrdiff_t y_stride, const std::uint8_t* cb,
                    std::ptrdiff_t cb_stride, const std::uint8_t* cr, std::ptrdiff_t cr_stride,
                    std::uint8_t* dst, std::ptrdiff_t dst_stride, int width, int height);
// Planar 4:1:1 to YUY2, chroma interpolated horizontally.
void dv_411_to_yuy2(const std::uint8_t* y, std::ptrdiff_t y_stride, const std::uint8_t* cb,
                    std::ptrdiff_t cb_stride, const std::uint8_t* cr, std::ptrdiff_t cr_stride,
                    std::uint8_t* dst, std::ptrdiff_t dst_stride, int width, int height);
// YUY2 [src, src_end) to BGR, last source line first.
void dv_yuy2_to_rgb24(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* src_end,
                      std::ptrdiff_t src_stride, std::ptrdiff_t line_bytes);

}  // namespace avikit::dv
