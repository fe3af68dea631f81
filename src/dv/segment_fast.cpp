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
      const int step = i == 0 ? 1 : dv_quant_area_steps[p][static_cast<std::size_t>(
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

// Ends a code found in the tree (a leaf); false once the block is finished.
inline bool take_leaf(std::uint32_t leaf, std::int32_t& zpos, const FastBlock& blk) {
  if (dv_node_kind(leaf) != kDvSymbol) return false;
  zpos += static_cast<std::int32_t>(dv_node_run(leaf)) + 1;
  if (zpos >= 64) return false;
  const CoefSlot& slot = blk.slots[zpos];
  blk.coeffs[slot.cell] = dv::detail::dequant_weight(dv_node_value(leaf), slot.shift, slot.weight);
  ++*blk.count;
  return true;
}

// Finishes a partial code bit by bit. Returns -1 when the block finished, 0 when the code is
// complete and the block goes on, or the (positive) node when the reader ran dry first.
inline int finish_partial(DvBitReader& r, DvBlockState& s, const FastBlock& blk) {
  std::size_t node = static_cast<std::size_t>(s.node);
  for (;;) {
    const int bit = dv_read_bit(r);
    if (bit < 0) {
      s.node = static_cast<std::int32_t>(node);
      return s.node;
    }
    node = dv_node_child(dv_vlc_tree[node]) + static_cast<std::uint32_t>(bit);
    const std::uint32_t n = dv_vlc_tree[node];
    if (dv_node_kind(n) == kDvBranch) continue;
    if (!take_leaf(n, s.position, blk)) {
      s.node = -1;
      return -1;
    }
    s.node = 0;
    return 0;
  }
}

int decode_block_fast(DvBitReader& r, DvBlockState& s, const FastBlock& blk) {
  if (s.node < 0) return -1;
  if (r.pos >= r.end) return s.node;
  if (s.node > 0 && finish_partial(r, s, blk) != 0) return s.node;
  const std::uint8_t* bytes = r.bytes;
  std::uint32_t pos = r.pos;
  const std::uint32_t end = r.end;
  std::int32_t zpos = s.position;
  std::uint32_t count = 0;
  for (;;) {
    std::uint64_t cache = peek64(bytes, pos);
    const std::uint32_t left = end - pos;
    std::uint32_t used = 0;
    // Up to 41 bits per refill keeps at least 16 real bits in the cache for the next code.
    do {
      const auto p = static_cast<std::uint32_t>(cache >> 48);
      const std::uint32_t e = dv_vlc_lookup[dv_vlc_lookup_index(p)];
      const std::uint32_t len = dv_lookup_length(e);
      if (len > left - used) {
        // The code runs past the area: walk its first bits; the block goes on elsewhere.
        std::size_t node = 0;
        for (std::uint32_t k = used; k < left; ++k) {
          node = dv_node_child(dv_vlc_tree[node]) + static_cast<std::uint32_t>(cache >> 63);
          cache <<= 1;
        }
        r.pos = end;
        s.node = static_cast<std::int32_t>(node);
        s.position = zpos;
        *blk.count = static_cast<std::uint16_t>(*blk.count + count);
        return s.node;
      }
      used += len;
      cache <<= len;
      zpos += static_cast<std::int32_t>(dv_lookup_advance(e));
      if (zpos >= 64) {
        r.pos = pos + used;
        s.node = -1;
        *blk.count = static_cast<std::uint16_t>(*blk.count + count);
        return -1;
      }
      const CoefSlot& slot = blk.slots[zpos];
      blk.coeffs[slot.cell] = dv::detail::dequant_weight(dv_lookup_value(e), slot.shift, slot.weight);
      ++count;
    } while (used <= 41);
    pos += used;
  }
}

// Pass 1 on N lanes at once. In pass 1 each block reads only its own area, so the blocks'
// codes form independent chains of look-ups; stepping N of them together lets the processor
// overlap the chains. A lane decodes two codes a step from one 64-bit peek, which needs 32 bits
// of the area left; nearer the end, decode_block_fast finishes the block exactly (a code across
// the end included) and the lane takes the next block.
template <std::size_t N>
class Pass1Lanes {
 public:
  Pass1Lanes(DvSegmentState& st, const FastBlock* blocks) : st_(st), blocks_(blocks) {}

  void run() {
    bool empty = false;
#pragma GCC unroll 4
    for (std::size_t k = 0; k < N; ++k) empty |= !load(k);
    if (empty) return finish_all();
    for (;;) {
      // The hot loop works on local copies, which the compiler keeps in registers.
      std::uint32_t pos[N], end[N], count[N];
      std::int32_t zpos[N];
      const CoefSlot* slots[N];
      std::int16_t* coeffs[N];
#pragma GCC unroll 4
      for (std::size_t k = 0; k < N; ++k) {
        pos[k] = pos_[k];
        end[k] = end_[k];
        zpos[k] = zpos_[k];
        count[k] = count_[k];
        slots[k] = blocks_[block_[k]].slots;
        coeffs[k] = blocks_[block_[k]].coeffs;
      }
      std::uint32_t e1[N], e2[N];
      std::int32_t z1[N];
      for (;;) {
        bool attention = false;
#pragma GCC unroll 4
        for (std::size_t k = 0; k < N; ++k) {
          std::uint64_t c = peek64(st_.bytes, pos[k]);
          e1[k] = dv_vlc_lookup[dv_vlc_lookup_index(static_cast<std::uint32_t>(c >> 48))];
          const std::uint32_t len1 = dv_lookup_length(e1[k]);
          c <<= len1;
          e2[k] = dv_vlc_lookup[dv_vlc_lookup_index(static_cast<std::uint32_t>(c >> 48))];
          z1[k] = zpos[k] + static_cast<std::int32_t>(dv_lookup_advance(e1[k]));
          zpos[k] = z1[k] + static_cast<std::int32_t>(dv_lookup_advance(e2[k]));
          pos[k] += len1 + dv_lookup_length(e2[k]);
          attention |= (zpos[k] >= 64) | (end[k] - pos[k] < 32);
        }
        if (attention) break;
#pragma GCC unroll 4
        for (std::size_t k = 0; k < N; ++k) {
          const CoefSlot& s1 = slots[k][z1[k]];
          coeffs[k][s1.cell] = dv::detail::dequant_weight(dv_lookup_value(e1[k]), s1.shift, s1.weight);
          const CoefSlot& s2 = slots[k][zpos[k]];
          coeffs[k][s2.cell] = dv::detail::dequant_weight(dv_lookup_value(e2[k]), s2.shift, s2.weight);
          count[k] += 2;
        }
      }
#pragma GCC unroll 4
      for (std::size_t k = 0; k < N; ++k) {
        pos_[k] = pos[k];
        zpos_[k] = zpos[k];
        count_[k] = count[k];
      }
      // Every lane's two codes of this step are committed before any lane may stop.
      bool none_left = false;
      for (std::size_t k = 0; k < N; ++k) none_left |= !settle(k, e1[k], e2[k], z1[k]);
      if (none_left) return finish_all();
    }
  }

 private:
  void store(std::size_t k, std::uint32_t e, std::int32_t z) {
    const FastBlock& b = blocks_[block_[k]];
    const CoefSlot& slot = b.slots[z];
    b.coeffs[slot.cell] = dv::detail::dequant_weight(dv_lookup_value(e), slot.shift, slot.weight);
    ++count_[k];
  }

  // Takes the next block whose area has room for a two-code step; the others are decoded
  // singly on the way. False when no block is left.
  bool load(std::size_t k) {
    block_[k] = kNone;
    while (next_ < kDvBlocks) {
      const std::size_t i = next_++;
      const DvBitReader& r = st_.readers[i];
      if (r.end - r.pos >= 32) {
        block_[k] = i;
        pos_[k] = r.pos;
        end_[k] = r.end;
        zpos_[k] = 0;
        count_[k] = 0;
        return true;
      }
      decode_block_fast(st_.readers[i], st_.block_states[i], blocks_[i]);
    }
    return false;
  }

  // Hands lane k's block back to its reader and state, finishing it singly if needed.
  void release(std::size_t k, bool finished) {
    const std::size_t i = block_[k];
    st_.readers[i].pos = pos_[k];
    st_.block_states[i] = DvBlockState{finished ? -1 : 0, zpos_[k]};
    *blocks_[i].count = static_cast<std::uint16_t>(*blocks_[i].count + count_[k]);
    if (!finished) decode_block_fast(st_.readers[i], st_.block_states[i], blocks_[i]);
  }

  // After a step that needs attention: commits lane k's two codes as far as the block goes,
  // and moves the lane on to the next block when this one is done. False when none is left.
  bool settle(std::size_t k, std::uint32_t e1, std::uint32_t e2, std::int32_t z1) {
    if (z1 >= 64) {
      pos_[k] -= dv_lookup_length(e2);  // the block ended with the first code
      release(k, true);
      return load(k);
    }
    store(k, e1, z1);
    if (zpos_[k] >= 64) {
      release(k, true);
      return load(k);
    }
    store(k, e2, zpos_[k]);
    if (end_[k] - pos_[k] < 32) {
      release(k, false);
      return load(k);
    }
    return true;
  }

  // Ends the lockstep once the queue is empty: the lanes' blocks go on singly.
  void finish_all() {
    for (std::size_t k = 0; k < N; ++k) {
      if (block_[k] != kNone) release(k, false);
    }
    while (next_ < kDvBlocks) {
      const std::size_t i = next_++;
      decode_block_fast(st_.readers[i], st_.block_states[i], blocks_[i]);
    }
  }

  static constexpr std::size_t kNone = ~std::size_t{0};
  DvSegmentState& st_;
  const FastBlock* blocks_;
  std::size_t next_ = 0;
  std::size_t block_[N] = {};
  std::uint32_t pos_[N] = {};
  std::uint32_t end_[N] = {};
  std::int32_t zpos_[N] = {};
  std::uint32_t count_[N] = {};
};

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
    std::size_t j = 6 * m;
    for (std::size_t i = 6 * m; i < 6 * m + 6 && j < 6 * m + 6; ++i) {
      while (j < 6 * m + 6 && decode_block_fast(st.readers[j], st.block_states[i], blocks[i]) >= 0) {
        ++j;
      }
    }
  }
  // Pass 3.
  std::size_t j = 0;
  for (std::size_t i = 0; i < kDvBlocks && j < kDvBlocks; ++i) {
    while (j < kDvBlocks && decode_block_fast(st.readers[j], st.block_states[i], blocks[i]) >= 0) {
      ++j;
    }
  }
}
