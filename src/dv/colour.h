#pragma once
// Line kernels of the frame decoder's colour stage. They give exactly the bytes of
// dv_420_to_yuy2 / dv_411_to_yuy2 followed by dv_yuy2_to_rgb24, one picture line at a time and
// without the packed YUY2 picture in between: each line's colour differences are first brought
// to one sample per pixel pair ("pair chroma", 360 samples plus a copy of the last one), then
// converted together with the line's luma.

#include <cstddef>
#include <cstdint>

namespace dv {

inline constexpr int kDvWidth = 720;
inline constexpr int kPairChroma = kDvWidth / 2;
inline constexpr int kPairChromaPadded = kPairChroma + 16;  // room for the copy and wide loads

// out[i] = (a[i] + b[i] + 1) >> 1 for i < n, then out[n] = out[n - 1]. a may equal b.
using ChromaAvgFn = void (*)(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out,
                             int n);
// 4:1:1 row of 180 samples to pair chroma: out[2m] = s[m], out[2m + 1] = avg(s[m], s[m + 1])
// (s[180] taken as s[179]), then out[360] = out[359].
using Chroma411Fn = void (*)(const std::uint8_t* src, std::uint8_t* out);
// 720 luma samples and pair chroma (361 each) to 720 BGR pixels.
using BgrLineFn = void (*)(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                           std::uint8_t* out);

void chroma_avg_scalar(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out, int n);
void chroma_avg_sse2(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out, int n);
void chroma_411_scalar(const std::uint8_t* src, std::uint8_t* out);
void chroma_411_sse2(const std::uint8_t* src, std::uint8_t* out);
void bgr_line_scalar(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                     std::uint8_t* out);
void bgr_line_sse2(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                   std::uint8_t* out);
void bgr_line_avx2(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                   std::uint8_t* out);

namespace detail {
// Pairs [first, last) of a line (a multiple of 8 of them), for the wider kernels' tails.
void bgr_pairs_sse2(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                    std::uint8_t* out, int first, int last);
}  // namespace detail

struct ColourKernels {
  ChromaAvgFn chroma_avg;
  Chroma411Fn chroma_411;
  BgrLineFn bgr_line;
};
ColourKernels colour_kernels(int level);

// Which chroma rows serve picture line `line` of a 4:2:0 picture of `height` lines: U (Cb) is
// the average of rows ua and ub, V (Cr) of rows va and vb (equal rows: no averaging).
struct ChromaRows420 {
  int ua, ub, va, vb;
};
ChromaRows420 chroma_rows_420(int line, int height);

}  // namespace dv
