#include "hostlib/stream_colour.h"

#include <algorithm>
#include <cstddef>

#include "hostlib/dib_layout.h"

namespace avikit::hostlib {
namespace {

// Y' = Y + a U + b V, U' = c U + d V, V' = e U + f V on studio-range samples less their offsets
// (16 for luma, 128 for chroma), in 1/65536: the BT.601 encoding of the RGB that the BT.709
// matrix decodes from (Y, U, V). Luma keeps a weight of 1 because both matrices map grey to
// U = V = 0 with the same Y.
struct Rematrix {
  int a, b, c, d, e, f;
};

Rematrix bt709_to_bt601() {
  constexpr double kr7 = 0.2126, kb7 = 0.0722, kr6 = 0.299, kb6 = 0.114;
  constexpr double kg7 = 1 - kr7 - kb7, kg6 = 1 - kr6 - kb6;
  // Normalised samples: Y in 0..1, U and V in -0.5..0.5 (studio range scales them by 219 and
  // 224). RGB from BT.709 as weights of U and V (Y contributes 1 to each).
  const double ru = 0, rv = 2 * (1 - kr7);
  const double bu = 2 * (1 - kb7), bv = 0;
  const double gu = -kb7 * bu / kg7, gv = -kr7 * rv / kg7;
  // BT.601 encoding of that RGB.
  const double yu = kr6 * ru + kg6 * gu + kb6 * bu, yv = kr6 * rv + kg6 * gv + kb6 * bv;
  const double uu = (bu - yu) / (2 * (1 - kb6)), uv = (bv - yv) / (2 * (1 - kb6));
  const double vu = (ru - yu) / (2 * (1 - kr6)), vv = (rv - yv) / (2 * (1 - kr6));
  const auto fixed = [](double x) { return static_cast<int>(x * 65536.0 + (x < 0 ? -0.5 : 0.5)); };
  const double chroma_to_luma = 219.0 / 224.0;
  return {fixed(yu * chroma_to_luma),
          fixed(yv * chroma_to_luma),
          fixed(uu),
          fixed(uv),
          fixed(vu),
          fixed(vv)};
}

const Rematrix& rematrix() {
  static const Rematrix m = bt709_to_bt601();
  return m;
}

std::uint8_t clamp_byte(int x) { return static_cast<std::uint8_t>(std::clamp(x, 0, 255)); }

int scaled(int x) { return (x + 32768) >> 16; }  // rounds; >> of a negative floors

// What one chroma sample (u, v) becomes, and what the luma samples that take it gain.
struct Converted {
  int dy;
  std::uint8_t u, v;
};

inline Converted convert(const Rematrix& m, int u, int v) {
  const int du = u - 128;
  const int dv = v - 128;
  return {scaled(m.a * du + m.b * dv), clamp_byte(128 + scaled(m.c * du + m.d * dv)),
          clamp_byte(128 + scaled(m.e * du + m.f * dv))};
}

}  // namespace

void bt709_to_bt601_yuv(std::uint8_t* bitmap, int width, int height, int bits) {
  const DibLayout l = dib_layout(width, height, bits);
  if (bitmap == nullptr || l.bytes == 0 || (bits != 12 && bits != 16)) return;
  const Rematrix& m = rematrix();
  const auto w = static_cast<std::size_t>(width);
  const auto pitch = static_cast<std::size_t>(l.pitch);
  const auto add = [](std::uint8_t& y, int dy) { y = clamp_byte(y + dy); };
  if (bits == 16) {
    for (int y = 0; y < height; ++y) {
      std::uint8_t* row = bitmap + static_cast<std::size_t>(y) * pitch;
      for (std::size_t x = 0; x < w; x += 2) {
        std::uint8_t* pair = row + 2 * x;  // Y0 U Y1 V
        const Converted c = convert(m, pair[1], pair[3]);
        add(pair[0], c.dy);
        if (x + 1 < w) add(pair[2], c.dy);
        pair[1] = c.u;
        pair[3] = c.v;
      }
    }
    return;
  }
  const auto cpitch = static_cast<std::size_t>(l.chroma_pitch);
  std::uint8_t* v_plane = bitmap + pitch * static_cast<std::size_t>(height);
  std::uint8_t* u_plane = v_plane + cpitch * static_cast<std::size_t>(l.chroma_rows);
  for (int cy = 0; cy < l.chroma_rows; ++cy) {
    std::uint8_t* top = bitmap + static_cast<std::size_t>(2 * cy) * pitch;
    std::uint8_t* bottom = 2 * cy + 1 < height ? top + pitch : nullptr;
    std::uint8_t* u = u_plane + static_cast<std::size_t>(cy) * cpitch;
    std::uint8_t* v = v_plane + static_cast<std::size_t>(cy) * cpitch;
    for (std::size_t x = 0; x < w; x += 2) {
      const Converted c = convert(m, u[x / 2], v[x / 2]);
      const bool pair = x + 1 < w;
      add(top[x], c.dy);
      if (pair) add(top[x + 1], c.dy);
      if (bottom != nullptr) {
        add(bottom[x], c.dy);
        if (pair) add(bottom[x + 1], c.dy);
      }
      u[x / 2] = c.u;
      v[x / 2] = c.v;
    }
  }
}

}  // namespace avikit::hostlib
