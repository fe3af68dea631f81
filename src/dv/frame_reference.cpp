// The reference pipeline: the decoder's stages one after another, each as plainly as it can be
// written. Tests and the fuzzer hold the fast path to it.

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "dv/block_decode.h"
#include "dv/frame_decoder.h"
#include "dv/place.h"
#include "dv/tables.h"

namespace avikit::dv {
namespace {

constexpr PictureFormat k625 = picture_format(true);
constexpr PictureFormat k525 = picture_format(false);
constexpr std::size_t kCw625 = k625.chroma_width;
constexpr std::size_t kCw525 = k525.chroma_width;

void place_625_reference(const SegmentState& st, std::size_t s, std::size_t k,
                         std::uint8_t* planar) {
  for (std::size_t r = 0; r < 3; ++r) {
    for (std::size_t c = 0; c < 9; ++c) {
      if (dv_mb_order_625[r][c] != k) continue;
      for (std::size_t m = 0; m < 5; ++m) {
        const std::size_t mb_row = 3 * ((s + dv_sb_row_offset[m]) % 12) + r;
        const std::size_t mb_col = 9 * std::size_t{dv_sb_column[m]} + c;
        const auto& mb = *reinterpret_cast<const Macroblock*>(st.coeffs[6 * m]);
        dv_place_mb_420(mb, planar + 16 * mb_row * 720 + 16 * mb_col, 720,
                        planar + k625.cr_offset + 8 * mb_row * kCw625 + 8 * mb_col,
                        planar + k625.cb_offset + 8 * mb_row * kCw625 + 8 * mb_col, kCw625);
      }
    }
  }
}

void place_525_reference(const SegmentState& st, std::size_t s, std::size_t k,
                         std::uint8_t* planar) {
  for (std::size_t m = 0; m < 5; ++m) {
    const std::size_t sb_row = (s + dv_sb_row_offset[m]) % 10;
    const std::size_t col = dv_sb_column[m];
    const MbPos pos = dv_mb_pos_525[col][k];
    const std::size_t line = 8 * (pos.y + 6 * sb_row);
    const auto& mb = *reinterpret_cast<const Macroblock*>(st.coeffs[6 * m]);
    if (col == 4 && k >= 24) {
      dv_place_mb_411_edge(mb, planar + line * 720 + 704, 720,
                           planar + k525.cr_offset + line * kCw525 + 176,
                           planar + k525.cb_offset + line * kCw525 + 176, kCw525);
    } else {
      dv_place_mb_411(mb, planar + line * 720 + 32 * std::size_t{pos.x}, 720,
                      planar + k525.cr_offset + line * kCw525 + 8 * std::size_t{pos.x},
                      planar + k525.cb_offset + line * kCw525 + 8 * std::size_t{pos.x}, kCw525);
    }
  }
}

void planar_reference(const std::uint8_t* frame, bool is625, SegmentState& st,
                      std::uint8_t* planar) {
  const std::size_t sequences = is625 ? 12 : 10;
  for (std::size_t s = 0; s < sequences; ++s) {
    for (std::size_t k = 0; k < 27; ++k) {
      dv_decode_segment(st, frame + 80 * (150 * s + 7 + 5 * k + k / 3));
      if (is625) {
        place_625_reference(st, s, k, planar);
      } else {
        place_525_reference(st, s, k, planar);
      }
    }
  }
}

}  // namespace

bool decode_planar_reference(std::span<const std::uint8_t> frame, bool is625,
                             std::span<std::uint8_t> planar) noexcept {
  const PictureFormat f = picture_format(is625);
  if (frame.size() < f.frame_bytes || planar.size() < f.planar_bytes) return false;
  const std::unique_ptr<SegmentState> st(new (std::nothrow) SegmentState());
  if (!st) return false;
  planar_reference(frame.data(), is625, *st, planar.data());
  return true;
}

bool decode_frame_reference(std::span<const std::uint8_t> frame, bool is625,
                            std::span<std::uint8_t> out) noexcept {
  const PictureFormat f = picture_format(is625);
  if (frame.size() < f.frame_bytes || out.size() < f.bgr_bytes) return false;
  try {
    const auto st = std::make_unique<SegmentState>();
    std::vector<std::uint8_t> yuy2(static_cast<std::size_t>(f.height) * 1440);
    // The planar picture lives at the start of the output until the last stage.
    std::uint8_t* planar = out.data();
    planar_reference(frame.data(), is625, *st, planar);
    const auto cw = static_cast<std::ptrdiff_t>(f.chroma_width);
    if (is625) {
      dv_420_to_yuy2(planar, 720, planar + f.cb_offset, cw, planar + f.cr_offset, cw, yuy2.data(),
                     1440, 720, f.height);
    } else {
      dv_411_to_yuy2(planar, 720, planar + f.cb_offset, cw, planar + f.cr_offset, cw, yuy2.data(),
                     1440, 720, f.height);
    }
    dv_yuy2_to_rgb24(yuy2.data(), out.data(), yuy2.data() + yuy2.size(), 1440, 1440);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace avikit::dv
