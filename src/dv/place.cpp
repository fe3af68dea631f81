#include "dv/place.h"

#include "dv/simd_helpers.h"

namespace avikit::dv {

namespace {

void put_block(const std::int16_t* block, std::uint8_t* dst, std::ptrdiff_t stride) {
  for (int r = 0; r < 8; ++r) {
    for (int c = 0; c < 8; ++c) dst[r * stride + c] = static_cast<std::uint8_t>(block[8 * r + c]);
  }
}

void put_luma_2x2(const Macroblock& mb, std::uint8_t* y, std::ptrdiff_t s) {
  put_block(mb[0], y, s);
  put_block(mb[1], y + 8, s);
  put_block(mb[2], y + 8 * s, s);
  put_block(mb[3], y + 8 * s + 8, s);
}

void put_edge_chroma(const std::int16_t* block, std::uint8_t* dst, std::ptrdiff_t stride) {
  for (int r = 0; r < 8; ++r) {
    for (int c = 0; c < 4; ++c) {
      dst[r * stride + c] = static_cast<std::uint8_t>(block[8 * r + c]);
      dst[(r + 8) * stride + c] = static_cast<std::uint8_t>(block[8 * r + c + 4]);
    }
  }
}

std::uint8_t avg(std::uint8_t a, std::uint8_t b) {
  return static_cast<std::uint8_t>((unsigned{a} + unsigned{b} + 1) >> 1);
}

}  // namespace

void dv_place_mb_420(const Macroblock& mb, std::uint8_t* y, std::ptrdiff_t y_stride,
                     std::uint8_t* cr, std::uint8_t* cb, std::ptrdiff_t c_stride) {
  put_luma_2x2(mb, y, y_stride);
  put_block(mb[4], cr, c_stride);
  put_block(mb[5], cb, c_stride);
}

void dv_place_mb_411(const Macroblock& mb, std::uint8_t* y, std::ptrdiff_t y_stride,
                     std::uint8_t* cr, std::uint8_t* cb, std::ptrdiff_t c_stride) {
  for (int b = 0; b < 4; ++b) put_block(mb[b], y + 8 * b, y_stride);
  put_block(mb[4], cr, c_stride);
  put_block(mb[5], cb, c_stride);
}

void dv_place_mb_411_edge(const Macroblock& mb, std::uint8_t* y, std::ptrdiff_t y_stride,
                          std::uint8_t* cr, std::uint8_t* cb, std::ptrdiff_t c_stride) {
  put_luma_2x2(mb, y, y_stride);
  put_edge_chroma(mb[4], cr, c_stride);
  put_edge_chroma(mb[5], cb, c_stride);
}

void dv_420_to_yuy2(const std::uint8_t* y, std::ptrdiff_t y_stride, const std::uint8_t* cb,
                    std::ptrdiff_t cb_stride, const std::uint8_t* cr, std::ptrdiff_t cr_stride,
                    std::uint8_t* dst, std::ptrdiff_t dst_stride, int width, int height) {
  const int rows = height / 2;
  for (int line = 0; line < height; ++line) {
    // Chroma rows (a, b) averaged for U and for V. Cr row 2j is sited on line 4j, row 2j + 1
    // on 4j + 1; Cb rows two lines lower. The first and last two lines take rows as they are.
    int ua = line, ub = line, va = line, vb = line;
    if (line >= height - 2) {
      ua = ub = va = vb = line - rows;
    } else if (line >= 2) {
      const int j = (line - 2) / 4;
      switch ((line - 2) % 4) {
        case 0:
          ua = ub = 2 * j;
          va = 2 * j;
          vb = 2 * j + 2;
          break;
        case 1:
          ua = ub = 2 * j + 1;
          va = 2 * j + 1;
          vb = 2 * j + 3;
          break;
        case 2:
          ua = 2 * j;
          ub = 2 * j + 2;
          va = vb = 2 * j + 2;
          break;
        default:
          ua = 2 * j + 1;
          ub = 2 * j + 3;
          va = vb = 2 * j + 3;
          break;
      }
    }
    const std::uint8_t* yl = y + line * y_stride;
    std::uint8_t* d = dst + line * dst_stride;
    for (int i = 0; i < width / 2; ++i) {
      d[4 * i] = yl[2 * i];
      d[4 * i + 1] = avg(cb[ua * cb_stride + i], cb[ub * cb_stride + i]);
      d[4 * i + 2] = yl[2 * i + 1];
      d[4 * i + 3] = avg(cr[va * cr_stride + i], cr[vb * cr_stride + i]);
    }
  }
}

void dv_411_to_yuy2(const std::uint8_t* y, std::ptrdiff_t y_stride, const std::uint8_t* cb,
                    std::ptrdiff_t cb_stride, const std::uint8_t* cr, std::ptrdiff_t cr_stride,
                    std::uint8_t* dst, std::ptrdiff_t dst_stride, int width, int height) {
  const int samples = width / 4;
  for (int line = 0; line < height; ++line) {
    const std::uint8_t* yl = y + line * y_stride;
    const std::uint8_t* u = cb + line * cb_stride;
    const std::uint8_t* v = cr + line * cr_stride;
    std::uint8_t* d = dst + line * dst_stride;
    for (int m = 0; m < samples; ++m) {
      const int n = m + 1 < samples ? m + 1 : m;
      const std::uint8_t out[8] = {yl[4 * m],     u[m],           yl[4 * m + 1],
                                   v[m],          yl[4 * m + 2],  avg(u[m], u[n]),
                                   yl[4 * m + 3], avg(v[m], v[n])};
      for (int k = 0; k < 8; ++k) d[8 * m + k] = out[k];
    }
  }
}

namespace {

// BT.601 studio range, 14-bit fixed point: 255/219 on Y - 16, 1.596, -0.392, -0.813, 2.017 on
// the colour differences, which arrive doubled.
void bgr_pixel(int y, int cb, int cr, std::uint8_t* out) {
  const std::int32_t yt = (y - 16) * 19077 + 8192;
  const auto to_u8 = [](std::int32_t v) { return detail::clamp_u8(detail::sat16(v >> 14)); };
  out[0] = to_u8(yt + 16525 * cb);
  out[1] = to_u8(yt - 3209 * cb - 6660 * cr);
  out[2] = to_u8(yt + 13075 * cr);
}

}  // namespace

void dv_yuy2_to_rgb24(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* src_end,
                      std::ptrdiff_t src_stride, std::ptrdiff_t line_bytes) {
  for (const std::uint8_t* line = src_end - src_stride; line >= src; line -= src_stride) {
    for (std::ptrdiff_t p = 0; p + 4 <= line_bytes; p += 4) {
      const std::uint8_t* q = line + p;
      const std::uint8_t* next = p + 8 <= line_bytes ? q + 4 : q;  // the last pair uses itself
      bgr_pixel(q[0], 2 * (q[1] - 128), 2 * (q[3] - 128), dst);
      bgr_pixel(q[2], q[1] + next[1] - 256, q[3] + next[3] - 256, dst + 3);
      dst += 6;
    }
    if (line == src) break;
  }
}

}  // namespace avikit::dv
