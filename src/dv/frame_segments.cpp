// Segment loop of the fast path: parse each video segment, then transform its blocks straight
// into their places in the planar picture.

#include <array>
#include <cstring>

#include "dv/cpu.h"
#include "dv/frame_decoder.h"
#include "dv/frame_workspace.h"
#include "dv/idct.h"
#include "dv/segment_fast.h"
#include "dv/tables.h"

namespace avikit::dv {
namespace {

constexpr std::ptrdiff_t kYStride = 720;
constexpr PictureFormat k625 = picture_format(true);
constexpr PictureFormat k525 = picture_format(false);
constexpr std::size_t kCw625 = k625.chroma_width;
constexpr std::size_t kCw525 = k525.chroma_width;

class BlockPutter {
 public:
  BlockPutter(FastSegments& st, const IdctKernels& k) : st_(st), k_(k) {}

  void put(std::size_t i, std::uint8_t* dst, std::ptrdiff_t stride) const {
    const std::int32_t last = st_.block_states[i].position;
    if (last == 0) {
      idct_put_dc_coded(st_.coeffs[i][0], st_.block_mode[i] != 0, dst, stride);
      st_.coeffs[i][0] = 0;
      return;
    }
    const IdctPutFn kernel = st_.block_mode[i] != 0         ? k_.put_248
                             : last <= kIdctLowLastPosition ? k_.put_88_low
                                                            : k_.put_88;
    kernel(st_.coeffs[i], factors(i), dst, stride);
  }
  // Two blocks with the same stride, at once when the kernels allow. Inlined, as put4 is, into
  // the placing loops: as calls they cost some 40 instructions a pair in saved registers and
  // reloaded members, 2-4% of a frame's parse and transform.
  [[gnu::always_inline]] void put2(std::size_t i, std::size_t j, std::uint8_t* di, std::uint8_t* dj,
                                   std::ptrdiff_t stride) const {
    const std::uint32_t mode = st_.block_mode[i];
    const std::int32_t last_i = st_.block_states[i].position;
    const std::int32_t last_j = st_.block_states[j].position;
    // A DC-only block rides along with a block that needs the transform: the kernels give it
    // the table's bytes, and one two-block call costs less than a one-block call and the table.
    if (k_.put2_88 != nullptr && mode == st_.block_mode[j] && (last_i != 0 || last_j != 0)) {
      const bool low =
          mode == 0 && last_i <= kIdctLowLastPosition && last_j <= kIdctLowLastPosition;
      const IdctPut2Fn kernel = low ? k_.put2_88_low : mode != 0 ? k_.put2_248 : k_.put2_88;
      kernel(st_.coeffs[i], factors(i), st_.coeffs[j], factors(j), di, dj, stride);
      return;
    }
    put(i, di, stride);
    put(j, dj, stride);
  }
  // The four luma blocks i..i+3 of a macroblock in one kernel when they allow it, else in pairs.
  [[gnu::always_inline]] void put4(std::size_t i, const std::array<std::uint8_t*, 4>& dst,
                                   std::ptrdiff_t stride) const {
    if (const IdctPut4Fn kernel = kernel4(i); kernel != nullptr) {
      const Put4Blocks b{{st_.coeffs[i], st_.coeffs[i + 1], st_.coeffs[i + 2], st_.coeffs[i + 3]},
                         {&factors(i), &factors(i + 1), &factors(i + 2), &factors(i + 3)},
                         {dst[0], dst[1], dst[2], dst[3]}};
      kernel(b, stride);
      return;
    }
    put2(i, i + 1, dst[0], dst[1], stride);
    put2(i + 2, i + 3, dst[2], dst[3], stride);
  }

 private:
  const BlockFactors& factors(std::size_t i) const {
    const BlockFactors& f = block_factors(st_.block_mode[i], st_.block_pattern[i]);
    if (st_.block_big[i] == 0) return f;
    // Rare: an amplitude that may saturate. Weight the block exactly here instead.
    k_.dequant_exact(st_.coeffs[i], f);
    return identity_factors();
  }
  // The four-block kernel for blocks i..i+3: null unless all share a mode and one of them at
  // least has more than its DC. The kernels give a DC-only block the table's bytes too; one call
  // for all four measured cheaper than splitting the group as soon as one block needs a
  // transform, while four DC-only blocks are cheapest from the table.
  IdctPut4Fn kernel4(std::size_t i) const {
    if (k_.put4_88 == nullptr) return nullptr;
    const std::uint32_t mode = st_.block_mode[i];
    bool low = mode == 0;
    int dc_only = 0;
    for (std::size_t b = i; b < i + 4; ++b) {
      const std::int32_t last = st_.block_states[b].position;
      if (st_.block_mode[b] != mode) return nullptr;
      dc_only += last == 0 ? 1 : 0;
      low = low && last <= kIdctLowLastPosition;
    }
    if (dc_only == 4) return nullptr;
    return low ? k_.put4_88_low : mode != 0 ? k_.put4_248 : k_.put4_88;
  }

  FastSegments& st_;
  const IdctKernels& k_;
};

// The macroblock's segment address: sequence s, segment k (IEC 61834-2 DIF block layout:
// header, subcode and VAUX blocks first, then one audio block before every 15 video blocks).
const std::uint8_t* segment_at(const std::uint8_t* frame, std::size_t s, std::size_t k) {
  return frame + 80 * (150 * s + 7 + 5 * k + k / 3);
}

// Places the five macroblocks of segment k of sequence s, whose blocks start at block `first`.
void place_625(const BlockPutter& bp, std::size_t first, std::size_t s, std::size_t k,
               std::uint8_t* planar) {
  const std::size_t c = k / 3;
  const std::size_t r = c % 2 == 0 ? k % 3 : 2 - k % 3;  // inverse of dv_mb_order_625
  for (std::size_t m = 0; m < 5; ++m) {
    const std::size_t mb_row = 3 * ((s + dv_sb_row_offset[m]) % 12) + r;
    const std::size_t mb_col = 9 * std::size_t{dv_sb_column[m]} + c;
    std::uint8_t* y = planar + 16 * mb_row * kYStride + 16 * mb_col;
    const std::size_t chroma = 8 * mb_row * kCw625 + 8 * mb_col;
    const std::size_t i = first + 6 * m;
    bp.put4(i, {y, y + 8, y + 8 * kYStride, y + 8 * kYStride + 8}, kYStride);
    bp.put2(i + 4, i + 5, planar + k625.cr_offset + chroma, planar + k625.cb_offset + chroma,
            kCw625);
  }
}

// A 16 x 16 right-edge macroblock of 525/60: each chroma block covers 4 samples x 16 lines.
void place_edge_525(const BlockPutter& bp, std::size_t i, std::uint8_t* y, std::uint8_t* cr,
                    std::uint8_t* cb) {
  bp.put4(i, {y, y + 8, y + 8 * kYStride, y + 8 * kYStride + 8}, kYStride);
  std::uint8_t tmp[2][64];
  bp.put2(i + 4, i + 5, tmp[0], tmp[1], 8);
  std::uint8_t* dst[2] = {cr, cb};
  for (std::size_t b = 0; b < 2; ++b) {
    for (std::size_t row = 0; row < 8; ++row) {
      std::memcpy(dst[b] + row * kCw525, tmp[b] + 8 * row, 4);
      std::memcpy(dst[b] + (row + 8) * kCw525, tmp[b] + 8 * row + 4, 4);
    }
  }
}

void place_525(const BlockPutter& bp, std::size_t first, std::size_t s, std::size_t k,
               std::uint8_t* planar) {
  for (std::size_t m = 0; m < 5; ++m) {
    const std::size_t sb_row = (s + dv_sb_row_offset[m]) % 10;
    const std::size_t col = dv_sb_column[m];
    const MbPos pos = dv_mb_pos_525[col][k];
    const std::size_t line = 8 * (pos.y + 6 * sb_row);
    const std::size_t i = first + 6 * m;
    std::uint8_t* cr = planar + k525.cr_offset + line * kCw525;
    std::uint8_t* cb = planar + k525.cb_offset + line * kCw525;
    if (col == 4 && k >= 24) {
      place_edge_525(bp, i, planar + line * kYStride + 704, cr + 176, cb + 176);
      continue;
    }
    std::uint8_t* y = planar + line * kYStride + 32 * std::size_t{pos.x};
    bp.put4(i, {y, y + 8, y + 16, y + 24}, kYStride);
    bp.put2(i + 4, i + 5, cr + 8 * std::size_t{pos.x}, cb + 8 * std::size_t{pos.x}, kCw525);
  }
}

}  // namespace

void decode_segments(const std::uint8_t* frame, bool is625, FrameWorkspace& work) {
  const IdctKernels kernels = idct_kernels(active_simd_level());
  FastSegments& st = work.segments;
  const BlockPutter bp(st, kernels);
  // Segments in the order of the frame, kFastSegments at a time.
  const std::size_t total = (is625 ? 12 : 10) * 27;
  for (std::size_t n = 0; n < total; n += kFastSegments) {
    const std::size_t count = total - n < kFastSegments ? total - n : kFastSegments;
    const std::uint8_t* segments[kFastSegments];
    for (std::size_t j = 0; j < count; ++j) {
      segments[j] = segment_at(frame, (n + j) / 27, (n + j) % 27);
    }
    parse_segments_fast(st, segments, count, frame + picture_format(is625).frame_bytes);
    for (std::size_t j = 0; j < count; ++j) {
      if (is625) {
        place_625(bp, kBlocks * j, (n + j) / 27, (n + j) % 27, work.planar);
      } else {
        place_525(bp, kBlocks * j, (n + j) / 27, (n + j) % 27, work.planar);
      }
    }
  }
}

}  // namespace avikit::dv
