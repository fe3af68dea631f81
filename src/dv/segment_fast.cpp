// The fast segment parse: the same passes as dv_parse_segment, but each code is found with one
// look-up of 16 peeked bits, and each coefficient is dequantised, weighted and stored
// transposed as it is decoded. Only a code that runs across the end of a reader's area is
// walked bit by bit through the tree, exactly as the reference does.

#include <algorithm>
#include <cstring>

#include "dv/block_decode.h"
#include "dv/vlc.h"

namespace {

// What storing the coefficient of a scan position needs: its cell in the transposed block,
// the log2 of its step, and its weight.
struct CoefSlot {
  std::uint8_t cell;
  std::uint8_t shift;
  std::int16_t weight;
};
using SlotTable = std::array<CoefSlot, 64>;

constexpr std::uint8_t log2_step(int step) {
  std::uint8_t s = 0;
  while ((1 << s) < step) ++s;
  return s;
}

constexpr std::array<SlotTable, kDvQuantPatterns> make_slots(
    const std::array<std::uint8_t, 64>& scan, const std::array<std::int16_t, 64>& weights) {
  std::array<SlotTable, kDvQuantPatterns> t{};
  for (std::size_t p = 0; p < kDvQuantPatterns; ++p) {
    for (std::size_t i = 0; i < 64; ++i) {
      const std::uint8_t raster = scan[i];
      const auto cell = static_cast<std::uint8_t>((raster % 8) * 8 + raster / 8);
      const int step = i == 0 ? 1
                              : dv_quant_area_steps[p][static_cast<std::size_t>(
                                    dv_quant_area(static_cast<int>(i)))];
      t[p][i] = CoefSlot{cell, log2_step(step), weights[raster]};
    }
  }
  return t;
}

constexpr std::array<SlotTable, kDvQuantPatterns> kSlots88 = make_slots(dv_scan_88, dv_weights_88);
constexpr std::array<SlotTable, kDvQuantPatterns> kSlots248 =
    make_slots(dv_scan_248, dv_weights_248);

// 64 bits from bit `pos` on, first bit most significant; at least 57 of them are real.
inline std::uint64_t peek64(const std::uint8_t* bytes, std::uint32_t pos) {
  std::uint64_t w;
  std::memcpy(&w, bytes + (pos >> 3), 8);
  return __builtin_bswap64(w) << (pos & 7);
}

struct FastBlock {
  std::int16_t* coeffs;
  const CoefSlot* slots;
  std::uint16_t* count;
};

// A partial code is carried as its bits rather than as a tree node: block state node =
// kPending | length << 16 | bits, with 1..15 bits. Completing it is then one look-up of the
// pending bits followed by the next reader's bits.
constexpr std::int32_t kPending = 1 << 24;
constexpr std::int32_t pending_node(std::uint32_t bits, std::uint32_t len) {
  return kPending | static_cast<std::int32_t>(len << 16 | bits);
}

inline void store(const FastBlock& blk, std::uint32_t e, std::int32_t zpos) {
  const CoefSlot& slot = blk.slots[zpos];
  blk.coeffs[slot.cell] = dv::detail::dequant_weight(dv_lookup_value(e), slot.shift, slot.weight);
}

// Completes a pending code with r's bits. Returns -1 when the block finished, 0 when the code
// is complete and the block goes on, or the (positive) node when r ran dry first.
int finish_pending(DvBitReader& r, DvBlockState& s, const FastBlock& blk) {
  const auto len = static_cast<std::uint32_t>(s.node >> 16) & 0xFF;
  const auto bits = static_cast<std::uint32_t>(s.node) & 0xFFFF;
  const std::uint32_t left = r.end - r.pos;
  const std::uint64_t next = peek64(r.bytes, r.pos);
  const auto window = static_cast<std::uint32_t>((bits << (16 - len)) | (next >> (48 + len)));
  const std::uint32_t e = dv_vlc_lookup[dv_vlc_lookup_index(window & 0xFFFF)];
  const std::uint32_t need = dv_lookup_length(e) - len;
  if (need > left) {
    // Still short: the whole reader joins the pending bits.
    const auto more = left == 0 ? 0U : static_cast<std::uint32_t>(next >> (64 - left));
    s.node = pending_node(bits << left | more, len + left);
    r.pos = r.end;
    return s.node;
  }
  r.pos += need;
  s.position += static_cast<std::int32_t>(dv_lookup_advance(e));
  if (s.position >= 64) {
    s.node = -1;
    return -1;
  }
  store(blk, e, s.position);
  ++*blk.count;
  s.node = 0;
  return 0;
}

// Decodes block codes from r until the block finishes or r runs dry.
int decode_block_fast(DvBitReader& r, DvBlockState& s, const FastBlock& blk) {
  if (s.node < 0) return -1;
  if (r.pos >= r.end) return s.node;
  if (s.node > 0 && finish_pending(r, s, blk) != 0) return s.node;
  const std::uint8_t* bytes = r.bytes;
  std::uint32_t pos = r.pos;
  const std::uint32_t end = r.end;
  std::int32_t zpos = s.position;
  std::uint32_t count = 0;
  for (;;) {
    // One peek serves three codes (at most 48 of its 57 sure bits).
    std::uint64_t cache = peek64(bytes, pos);
    for (int n = 0; n < 3; ++n) {
      const std::uint32_t e =
          dv_vlc_lookup[dv_vlc_lookup_index(static_cast<std::uint32_t>(cache >> 48))];
      const std::uint32_t len = dv_lookup_length(e);
      if (len > end - pos) {
        // The code runs past the area: its first bits wait for the next reader.
        const std::uint32_t left = end - pos;
        s.node =
            left == 0 ? 0 : pending_node(static_cast<std::uint32_t>(cache >> (64 - left)), left);
        s.position = zpos;
        r.pos = end;
        *blk.count = static_cast<std::uint16_t>(*blk.count + count);
        return s.node;
      }
      pos += len;
      cache <<= len;
      zpos += static_cast<std::int32_t>(dv_lookup_advance(e));
      if (zpos >= 64) {
        r.pos = pos;
        s.node = -1;
        *blk.count = static_cast<std::uint16_t>(*blk.count + count);
        return -1;
      }
      store(blk, e, zpos);
      ++count;
    }
  }
}

// Pass 1 on N lanes at once. In pass 1 each block reads only its own area, so the blocks'
// codes form independent chains of look-ups; stepping N of them together lets the processor
// overlap the chains. A lane decodes two codes a step from one 64-bit peek and checks only
// afterwards whether they stayed inside the area and whether the block ended; such a step is
// then settled code by code, exactly as the single decoder would have taken it.
template <std::size_t N>
class Pass1Lanes {
 public:
  Pass1Lanes(DvSegmentState& st, const FastBlock* blocks) : st_(st), blocks_(blocks) {}

  void run() {
    bool none_left = false;
    for (std::size_t k = 0; k < N; ++k) none_left |= !load(k);
    while (!none_left) {
      // The hot loop works on local copies, which the compiler keeps in registers.
      std::uint32_t pos[N], end[N];
      std::int32_t zpos[N];
      const CoefSlot* slots[N];
      std::int16_t* coeffs[N];
#pragma GCC unroll 4
      for (std::size_t k = 0; k < N; ++k) {
        pos[k] = lane_[k].pos;
        end[k] = lane_[k].end;
        zpos[k] = lane_[k].zpos;
        slots[k] = blocks_[lane_[k].block].slots;
        coeffs[k] = blocks_[lane_[k].block].coeffs;
      }
      std::uint32_t e1[N], e2[N];
      std::uint32_t count = 0;
      for (;;) {
        bool attention = false;
#pragma GCC unroll 4
        for (std::size_t k = 0; k < N; ++k) {
          std::uint64_t c = peek64(st_.bytes, pos[k]);
          e1[k] = dv_vlc_lookup[dv_vlc_lookup_index(static_cast<std::uint32_t>(c >> 48))];
          const std::uint32_t len1 = dv_lookup_length(e1[k]);
          c <<= len1;
          e2[k] = dv_vlc_lookup[dv_vlc_lookup_index(static_cast<std::uint32_t>(c >> 48))];
          pos[k] += len1 + dv_lookup_length(e2[k]);
          zpos[k] += static_cast<std::int32_t>(dv_lookup_advance(e1[k]) + dv_lookup_advance(e2[k]));
          attention |= (zpos[k] >= 64) | (pos[k] > end[k]);
        }
        if (attention) break;
#pragma GCC unroll 4
        for (std::size_t k = 0; k < N; ++k) {
          const std::int32_t z1 = zpos[k] - static_cast<std::int32_t>(dv_lookup_advance(e2[k]));
          const CoefSlot& s1 = slots[k][z1];
          coeffs[k][s1.cell] =
              dv::detail::dequant_weight(dv_lookup_value(e1[k]), s1.shift, s1.weight);
          const CoefSlot& s2 = slots[k][zpos[k]];
          coeffs[k][s2.cell] =
              dv::detail::dequant_weight(dv_lookup_value(e2[k]), s2.shift, s2.weight);
        }
        count += 2;
      }
      // Every lane's step is settled before any lane may stop.
      for (std::size_t k = 0; k < N; ++k) {
        lane_[k].count += count;
        none_left |= !settle(k, pos[k], zpos[k], e1[k], e2[k]);
      }
    }
    for (std::size_t k = 0; k < N; ++k) {
      if (lane_[k].block != kNone) release(k, false);
    }
  }

 private:
  struct Lane {
    std::size_t block;
    std::uint32_t pos;  // where the lane's next step starts
    std::uint32_t end;
    std::int32_t zpos;
    std::uint32_t count;
  };

  // Takes the next block of the segment; false when none is left.
  bool load(std::size_t k) {
    Lane& l = lane_[k];
    if (next_ >= kDvBlocks) {
      l.block = kNone;
      return false;
    }
    const std::size_t i = next_++;
    l = Lane{i, st_.readers[i].pos, st_.readers[i].end, 0, 0};
    return true;
  }

  // Hands the lane's block back to its reader and state; an unfinished block goes on singly
  // to the end of its area.
  void release(std::size_t k, bool finished) {
    Lane& l = lane_[k];
    const std::size_t i = l.block;
    st_.readers[i].pos = l.pos;
    st_.block_states[i] = DvBlockState{finished ? -1 : 0, l.zpos};
    *blocks_[i].count = static_cast<std::uint16_t>(*blocks_[i].count + l.count);
    if (!finished) decode_block_fast(st_.readers[i], st_.block_states[i], blocks_[i]);
  }

  // Settles lane k's last step (which ended at pos2 with scan position z2): commits its codes
  // as far as the area and the block allow, parking the first bits of a code that runs past
  // the area. A lane whose block is done takes the next one; false when none is left.
  bool settle(std::size_t k, std::uint32_t pos2, std::int32_t z2, std::uint32_t e1,
              std::uint32_t e2) {
    Lane& l = lane_[k];
    const std::uint32_t pos0 = pos2 - dv_lookup_length(e1) - dv_lookup_length(e2);
    const std::uint32_t pos1 = pos0 + dv_lookup_length(e1);
    const std::int32_t z1 = z2 - static_cast<std::int32_t>(dv_lookup_advance(e2));
    if (pos1 > l.end) return park(k, pos0, z1 - static_cast<std::int32_t>(dv_lookup_advance(e1)));
    if (z1 >= 64) return done(k, pos1);
    store(blocks_[l.block], e1, z1);
    ++l.count;
    if (pos2 > l.end) return park(k, pos1, z1);
    if (z2 >= 64) return done(k, pos2);
    store(blocks_[l.block], e2, z2);
    ++l.count;
    l.pos = pos2;
    l.zpos = z2;
    return true;
  }

  // The block finished with the code that ends at pos.
  bool done(std::size_t k, std::uint32_t pos) {
    lane_[k].pos = pos;
    release(k, true);
    return load(k);
  }

  // The code at pos runs past the area's end: the reader is dry and the bits up to the end
  // wait for the next reader.
  bool park(std::size_t k, std::uint32_t pos, std::int32_t zpos) {
    Lane& l = lane_[k];
    const std::size_t i = l.block;
    const std::uint32_t left = l.end - pos;
    const std::uint64_t c = peek64(st_.bytes, pos);
    st_.readers[i].pos = l.end;
    st_.block_states[i] = DvBlockState{
        left == 0 ? 0 : pending_node(static_cast<std::uint32_t>(c >> (64 - left)), left), zpos};
    *blocks_[i].count = static_cast<std::uint16_t>(*blocks_[i].count + l.count);
    return load(k);
  }

  static constexpr std::size_t kNone = ~std::size_t{0};
  DvSegmentState& st_;
  const FastBlock* blocks_;
  std::size_t next_ = 0;
  Lane lane_[N] = {};
};

// Passes 2 and 3 over blocks [first, last): the unfinished blocks, in order, take up the bits
// left in the readers of those blocks, in order. A block that does not finish drains every
// reader it touches, so readers before j are dry and skipping them changes nothing.
void redistribute(DvSegmentState& st, const FastBlock* blocks, std::size_t first,
                  std::size_t last) {
  std::size_t j = first;
  for (std::size_t i = first; i < last; ++i) {
    if (st.block_states[i].node < 0) continue;
    for (;;) {
      while (j < last && st.readers[j].pos >= st.readers[j].end) ++j;
      if (j == last) return;
      if (decode_block_fast(st.readers[j], st.block_states[i], blocks[i]) < 0) break;
    }
  }
}

}  // namespace

void dv_parse_segment_fast(DvSegmentState& st, const std::uint8_t* segment) {
  dv_init_bit_readers(st, segment);
  FastBlock blocks[kDvBlocks];
  for (std::size_t m = 0; m < 5; ++m) {
    const std::uint32_t qno = st.bytes[80 * m + 3] & 15U;
    st.qno[m] = qno;
    for (std::size_t i = 6 * m; i < 6 * m + 6; ++i) {
      DvBitReader& r = st.readers[i];
      const std::uint8_t* p = r.bytes + (r.pos >> 3);
      const std::uint32_t h = std::uint32_t{p[0]} << 4 | std::uint32_t{p[1]} >> 4;
      r.pos += 12;
      const auto dc9 = static_cast<std::int32_t>(h >> 3);
      const std::uint32_t mode = (h >> 2) & 1;
      st.block_mode[i] = mode;
      st.block_class[i] = h & 3;
      st.block_states[i] = DvBlockState{0, 0};
      st.block_ac_count[i] = 0;
      // The DC: step 1, scaled by 16 to the AC values' scale, then weighted.
      st.coeffs[i][0] = dv::detail::dequant_weight((dc9 >= 256 ? dc9 - 512 : dc9) * 16, 0, 32767);
      const std::size_t pattern = dv_quant_index[h & 3][qno];
      blocks[i] = FastBlock{st.coeffs[i], (mode != 0 ? kSlots248 : kSlots88)[pattern].data(),
                            &st.block_ac_count[i]};
    }
  }
  // Pass 1 reads only each block's own area, so the order of the blocks does not matter here
  // and the passes 2 of earlier macroblocks need not come first.
  Pass1Lanes<3>(st, blocks).run();
  for (std::size_t m = 0; m < 5; ++m) {
    // Pass 2. Readers before j are dry: the blocks that used them did not finish there.
    redistribute(st, blocks, 6 * m, 6 * m + 6);
  }
  // Pass 3.
  redistribute(st, blocks, 0, kDvBlocks);
}
