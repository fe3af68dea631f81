#include "dv/colour.h"
#include "dv/cpu.h"
#include "dv/simd_helpers.h"

namespace dv {
namespace {

std::uint8_t avg(std::uint8_t a, std::uint8_t b) {
  return static_cast<std::uint8_t>((unsigned{a} + unsigned{b} + 1) >> 1);
}

std::uint8_t channel(std::int32_t v) { return detail::clamp_u8(detail::sat16(v >> 14)); }

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

void chroma_avg_scalar(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out, int n) {
  for (int i = 0; i < n; ++i) out[i] = avg(a[i], b[i]);
  out[n] = out[n - 1];
}

void chroma_411_scalar(const std::uint8_t* src, std::uint8_t* out) {
  constexpr int kSamples = kPairChroma / 2;
  for (int m = 0; m < kSamples; ++m) {
    out[2 * m] = src[m];
    out[2 * m + 1] = avg(src[m], src[m + 1 < kSamples ? m + 1 : m]);
  }
  out[kPairChroma] = out[kPairChroma - 1];
}

void bgr_line_scalar(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                     std::uint8_t* out) {
  for (int p = 0; p < kPairChroma; ++p) {
    // The right pixel's colour differences are the sum of this pair's and the next one's.
    const int cbs[2] = {2 * cb[p] - 256, cb[p] + cb[p + 1] - 256};
    const int crs[2] = {2 * cr[p] - 256, cr[p] + cr[p + 1] - 256};
    for (int k = 0; k < 2; ++k) {
      const std::int32_t yt = (y[2 * p + k] - 16) * 19077 + 8192;
      std::uint8_t* o = out + 6 * p + 3 * k;
      o[0] = channel(yt + 16525 * cbs[k]);
      o[1] = channel(yt - 3209 * cbs[k] - 6660 * crs[k]);
      o[2] = channel(yt + 13075 * crs[k]);
    }
  }
}

ColourKernels colour_kernels(int level) {
  if (level >= kSimdAvx2) return {chroma_avg_sse2, chroma_411_sse2, bgr_line_avx2};
  if (level >= kSimdSse2) return {chroma_avg_sse2, chroma_411_sse2, bgr_line_sse2};
  return {chroma_avg_scalar, chroma_411_scalar, bgr_line_scalar};
}

}  // namespace dv
