#pragma once
// YUV to 24-bit BGR, ITU-R BT.601 studio range (Y 16..235, Cb/Cr 16..240), one row at a time.
//
// All versions compute, per pixel, with 16-bit lanes (values in 1/64 steps):
//   y  = mulhi_u16(Y << 8, 19077) - 1192            1.164383 * 64 * (Y - 16)
//   u  = (Cb - 128) << 8,  v = (Cr - 128) << 8
//   R  = sat(y + mulhi(v, 26149))                    + 1.596027 * 64 * (Cr - 128)
//   G  = sat(sat(y - mulhi(u, 6419)) - mulhi(v, 13320))   - 0.391762 ..., - 0.812968 ...
//   B  = sat(y + mulhi(u, 282) + ((Cb - 128) << 7))  2.017232 = 2 + 0.017232: the factor does
//                                                     not fit a signed 16-bit multiplier
//   out = clamp((sat(X + 32)) >> 6, 0, 255)
// where mulhi is the high half of the signed 16x16 product and sat saturates to 16 bits, so the
// scalar reference and the vector versions give the same integers by construction.
// 4:2:0 and 4:2:2 chroma is shared by its pixel pair (no interpolation).

#include <cstdint>

#include "platform/simd.h"

namespace avikit::hostlib {

// One row of planar 4:2:0 (or 4:2:2) input: `u` and `v` hold (width + 1) / 2 samples.
using Yuv420RowFn = void (*)(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
                             std::uint8_t* bgr, int width);
// One row of packed 4:2:2 input, Y0 U Y1 V (yuy2) or U Y0 V Y1 (uyvy).
using Packed422RowFn = void (*)(const std::uint8_t* src, std::uint8_t* bgr, int width, bool yuy2);

void yuv420_row_scalar(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
                       std::uint8_t* bgr, int width);
void yuv420_row_sse2(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
                     std::uint8_t* bgr, int width);
void yuv420_row_avx2(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
                     std::uint8_t* bgr, int width);
void packed422_row_scalar(const std::uint8_t* src, std::uint8_t* bgr, int width, bool yuy2);
void packed422_row_sse2(const std::uint8_t* src, std::uint8_t* bgr, int width, bool yuy2);
void packed422_row_avx2(const std::uint8_t* src, std::uint8_t* bgr, int width, bool yuy2);

// The reference for one pixel; `bgr` receives three bytes.
void yuv_pixel_scalar(int y, int u, int v, std::uint8_t* bgr);

struct ColourKernels {
  Yuv420RowFn yuv420_row;
  Packed422RowFn packed422_row;
  platform::SimdLevel isa;  // scalar, SSE2 or AVX2
};

// The kernels in force: the best for platform::allowed_simd_level() (scalar under
// AVI_FORCE_SCALAR).
const ColourKernels& colour_kernels();
// Test hook: the best kernels at or below `isa`; false (nothing changed) when the processor
// lacks it.
bool set_colour_isa(platform::SimdLevel isa);
bool colour_isa_supported(platform::SimdLevel isa);

}  // namespace avikit::hostlib
