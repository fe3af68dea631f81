#include "dv/colour.h"
#include "dv/cpu.h"
#include "dv/simd_helpers.h"

namespace avikit::dv {
namespace {

std::uint8_t avg(std::uint8_t a, std::uint8_t b) {
  return static_cast<std::uint8_t>((unsigned{a} + unsigned{b} + 1) >> 1);
}

std::uint8_t channel(std::int32_t v) { return detail::clamp_u8(detail::sat16(v >> 14)); }

// A chroma sample as the difference from 128, in a signed byte.
std::int8_t centred(std::uint8_t c) { return static_cast<std::int8_t>(c - 128); }

}  // namespace

ChromaRows420 chroma_rows_420(int line, int height) {
  if (line < 2) return {line, line, line, line};
  if (line >= height - 2) {
    const int r = line - height / 2;
    return {r, r, r, r};
  }
  const int j = (line - 2) / 4;
  switch ((line - 2) % 4) {
    case 0:
      return {2 * j, 2 * j, 2 * j, 2 * j + 2};
    case 1:
      return {2 * j + 1, 2 * j + 1, 2 * j + 1, 2 * j + 3};
    case 2:
      return {2 * j, 2 * j + 2, 2 * j + 2, 2 * j + 2};
    default:
      return {2 * j + 1, 2 * j + 3, 2 * j + 3, 2 * j + 3};
  }
}

void chroma_avg_scalar(const std::uint8_t* a, const std::uint8_t* b, std::int8_t* out) {
  for (int i = 0; i < kPairChroma; ++i) out[2 * i] = out[2 * i + 1] = centred(avg(a[i], b[i]));
  out[kWidth] = out[kWidth - 1];
}

void chroma_411_scalar(const std::uint8_t* src, std::int8_t* out) {
  constexpr int kSamples = kPairChroma / 2;
  for (int m = 0; m < kSamples; ++m) {
    const std::int8_t own = centred(src[m]);
    const std::int8_t between = centred(avg(src[m], src[m + 1 < kSamples ? m + 1 : m]));
    out[4 * m] = out[4 * m + 1] = own;
    out[4 * m + 2] = out[4 * m + 3] = between;
  }
  out[kWidth] = out[kWidth - 1];
}

void bgr_line_scalar(const std::uint8_t* y, const std::int8_t* cb, const std::int8_t* cr,
                     std::uint8_t* out) {
  for (int x = 0; x < kWidth; ++x) {
    const int b = cb[x] + cb[x + 1];
    const int r = cr[x] + cr[x + 1];
    const std::int32_t yt = (y[x] - 16) * kLumaFactor + kLumaRound;
    out[3 * x] = channel(yt + kCbToBlue * b);
    out[3 * x + 1] = channel(yt + kCbToGreen * b + kCrToGreen * r);
    out[3 * x + 2] = channel(yt + kCrToRed * r);
  }
}

void bgr_line_420_scalar(const std::uint8_t* y, const ChromaRowPairs& rows, std::uint8_t* out) {
  std::int8_t cb[kDoubledChromaPadded];
  std::int8_t cr[kDoubledChromaPadded];
  chroma_avg_scalar(rows.cb_a, rows.cb_b, cb);
  chroma_avg_scalar(rows.cr_a, rows.cr_b, cr);
  bgr_line_scalar(y, cb, cr, out);
}

ColourKernels colour_kernels(int level) {
  if (level >= kSimdAvx512) {
    return {chroma_avg_sse2, chroma_411_sse2, bgr_line_avx512, bgr_line_420_avx512};
  }
  if (level >= kSimdAvx2) {
    return {chroma_avg_sse2, chroma_411_sse2, bgr_line_avx2, bgr_line_420_avx2};
  }
  if (level >= kSimdSse2) {
    return {chroma_avg_sse2, chroma_411_sse2, bgr_line_sse2, bgr_line_420_sse2};
  }
  return {chroma_avg_scalar, chroma_411_scalar, bgr_line_scalar, bgr_line_420_scalar};
}

}  // namespace avikit::dv
