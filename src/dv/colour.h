#pragma once
// Line kernels of the frame decoder's colour stage. They give exactly the bytes of
// dv_420_to_yuy2 / dv_411_to_yuy2 followed by dv_yuy2_to_rgb24, one picture line at a time and
// without the packed YUY2 picture in between.
//
// Each line's colour differences are first brought to "doubled chroma": the sample of pixel
// pair p, minus 128 as a signed byte, at bytes 2p and 2p + 1, and a copy of the last one at
// byte 720. Pixel x's colour-difference input to the RGB stage (twice the difference from 128:
// the pair's own sample for a left pixel, its own plus the next pair's for a right one, the last
// pair's own again at the line's end) is then d[x] + d[x + 1] for every x alike.

#include <cstddef>
#include <cstdint>

namespace avikit::dv {

inline constexpr int kWidth = 720;
inline constexpr int kPairChroma = kWidth / 2;
inline constexpr int kDoubledChroma = kWidth + 1;
inline constexpr int kDoubledChromaPadded = kWidth + 32;  // room for the kernels' wide loads

// 4:2:0: doubled chroma of the average (a[i] + b[i] + 1) >> 1 of two rows of 360 samples; a may
// equal b.
using ChromaAvgFn = void (*)(const std::uint8_t* a, const std::uint8_t* b, std::int8_t* out);
// 4:1:1: doubled chroma of a row of 180 samples s, whose pair samples are s[m] (pair 2m) and
// the average of s[m] and s[m + 1] (pair 2m + 1; s[180] taken as s[179]).
using Chroma411Fn = void (*)(const std::uint8_t* src, std::int8_t* out);
// 720 luma samples and doubled chroma to 720 BGR pixels.
using BgrLineFn = void (*)(const std::uint8_t* y, const std::int8_t* cb, const std::int8_t* cr,
                           std::uint8_t* out);
// The chroma rows of one 4:2:0 line: U is the rounded average of cb_a and cb_b, V of cr_a and
// cr_b (360 samples each; a row may come twice).
struct ChromaRowPairs {
  const std::uint8_t* cb_a;
  const std::uint8_t* cb_b;
  const std::uint8_t* cr_a;
  const std::uint8_t* cr_b;
};
// One whole 4:2:0 line: chroma_avg of both pairs, then bgr_line.
using BgrLine420Fn = void (*)(const std::uint8_t* y, const ChromaRowPairs& rows, std::uint8_t* out);

void chroma_avg_scalar(const std::uint8_t* a, const std::uint8_t* b, std::int8_t* out);
void chroma_avg_sse2(const std::uint8_t* a, const std::uint8_t* b, std::int8_t* out);
void chroma_411_scalar(const std::uint8_t* src, std::int8_t* out);
void chroma_411_sse2(const std::uint8_t* src, std::int8_t* out);
void bgr_line_scalar(const std::uint8_t* y, const std::int8_t* cb, const std::int8_t* cr,
                     std::uint8_t* out);
void bgr_line_sse2(const std::uint8_t* y, const std::int8_t* cb, const std::int8_t* cr,
                   std::uint8_t* out);
void bgr_line_avx2(const std::uint8_t* y, const std::int8_t* cb, const std::int8_t* cr,
                   std::uint8_t* out);
void bgr_line_avx512(const std::uint8_t* y, const std::int8_t* cb, const std::int8_t* cr,
                     std::uint8_t* out);
void bgr_line_420_scalar(const std::uint8_t* y, const ChromaRowPairs& rows, std::uint8_t* out);
void bgr_line_420_sse2(const std::uint8_t* y, const ChromaRowPairs& rows, std::uint8_t* out);
// Averages each chroma row pair once per line into centred bytes; a byte shuffle and a
// multiply-add then give each pixel's colour-difference input, 16 pixels a step.
void bgr_line_420_avx2(const std::uint8_t* y, const ChromaRowPairs& rows, std::uint8_t* out);
// 64 pixels a step; byte permutes interleave B, G and R and undo the packs' lane order.
void bgr_line_420_avx512(const std::uint8_t* y, const ChromaRowPairs& rows, std::uint8_t* out);

// The RGB stage's integers (ITU-R BT.601, studio range, 14-bit fixed point): 255/219 on Y - 16,
// 1.596, -0.392 and -0.813 and 2.017 on the colour differences, which arrive doubled.
inline constexpr std::int32_t kLumaFactor = 19077;
inline constexpr std::int32_t kLumaRound = 8192;
inline constexpr std::int32_t kCbToBlue = 16525;
inline constexpr std::int32_t kCbToGreen = -3209;
inline constexpr std::int32_t kCrToGreen = -6660;
inline constexpr std::int32_t kCrToRed = 13075;
// (Y - 16) x 19077 + 8192 as one multiply-add pair: Y x 19077 + (-16) x 18565.
inline constexpr std::int16_t kLumaOffsetFactor = 18565;
static_assert(-16 * kLumaOffsetFactor == -16 * kLumaFactor + kLumaRound);

struct ColourKernels {
  ChromaAvgFn chroma_avg;
  Chroma411Fn chroma_411;
  BgrLineFn bgr_line;
  BgrLine420Fn bgr_line_420;
};
ColourKernels colour_kernels(int level);

// Which chroma rows serve picture line `line` of a 4:2:0 picture of `height` lines: U (Cb) is
// the average of rows ua and ub, V (Cr) of rows va and vb (equal rows: no averaging).
struct ChromaRows420 {
  int ua, ub, va, vb;
};
ChromaRows420 chroma_rows_420(int line, int height);

}  // namespace avikit::dv
