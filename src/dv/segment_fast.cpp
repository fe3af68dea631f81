// The fast segment parse: the same passes as dv_parse_segment, but each code is found with one
// look-up of 16 peeked bits and only its coded amplitude is stored (transposed); the transform
// kernels dequantise and weight whole blocks. Only a code that runs across the end of a
// reader's area is completed bit-exactly through its pending bits, as the reference does through
// its tree node.
//
// All three passes run on one engine of "lanes". A lane decodes one block from one reader's area
// until the block ends or the code at hand runs past the area; a policy then says what the lane
// does next. Pass 1 hands each lane the next block with its own area; passes 2 and 3 move a
// lane to the next unfinished block or the next reader with bits, in the reference's order.
// Several lanes step together because their chains of look-ups are independent: pass 1 lanes
// work on different blocks, pass 2 lanes on different macroblocks.

#include <array>
#include <cstring>

#include "dv/block_decode.h"
#include "dv/vlc.h"

namespace {

// Scan position to the transposed raster cell (8 x column + row) the kernels take, per mode.
constexpr std::array<std::uint8_t, 64> make_cells(const std::array<std::uint8_t, 64>& scan) {
  std::array<std::uint8_t, 64> t{};
  for (std::size_t i = 0; i < 64; ++i)
    t[i] = static_cast<std::uint8_t>(scan[i] % 8 * 8 + scan[i] / 8);
  return t;
}
constexpr std::array<std::array<std::uint8_t, 64>, 2> kCells = {make_cells(dv_scan_88),
                                                                make_cells(dv_scan_248)};

// Byte offset of each block's area in its DIF block, and the area's length in bits.
constexpr std::uint32_t kAreaOffset[6] = {4, 18, 32, 46, 60, 70};
constexpr std::uint32_t kAreaBits[6] = {112, 112, 112, 112, 80, 80};

// 64 bits from bit `pos` on, first bit most significant; at least 57 of them are real.
inline std::uint64_t peek64(const std::uint8_t* bytes, std::uint32_t pos) {
  std::uint64_t w;
  std::memcpy(&w, bytes + (pos >> 3), 8);
  return __builtin_bswap64(w) << (pos & 7);
}

inline const DvLookupEntry& lookup(std::uint64_t bits) {
  return dv_vlc_lookup[dv_vlc_lookup_index(static_cast<std::uint32_t>(bits >> 48))];
}

// A partial code is carried as its bits rather than as a tree node: block state node =
// kPending | length << 16 | bits, with 1..15 bits. Completing it is then one look-up of the
// pending bits followed by the next reader's bits.
constexpr std::int32_t kPending = 1 << 24;
constexpr std::int32_t pending_node(std::uint32_t bits, std::uint32_t len) {
  return kPending | static_cast<std::int32_t>(len << 16 | bits);
}

constexpr std::uint8_t kIdle = 0xFF;

// One block being decoded from one reader's area.
struct Lane {
  std::uint32_t pos;  // next bit of the segment
  std::uint32_t end;  // end of the reader's area
  std::int32_t zpos;  // scan position of the last coefficient stored
  std::int16_t* coeffs;
  const std::uint8_t* cells;
  std::uint8_t block;  // kIdle once the policy has no more work for the lane
  std::uint8_t reader;
};

inline void store(const Lane& l, const DvLookupEntry& e) {
  l.coeffs[l.cells[l.zpos]] = e.amplitude;
}

enum class Step { kGoesOn, kFinished, kDry };

// What all policies share: the segment state and the hand-over of blocks and readers.
class Segment {
 public:
  explicit Segment(DvSegmentState& st) : st_(st) {}

  void load(Lane& l, std::size_t block, std::size_t reader) const {
    const DvBitReader& r = st_.readers[reader];
    l = Lane{r.pos,
             r.end,
             st_.block_states[block].position,
             st_.coeffs[block],
             kCells[st_.block_mode[block]].data(),
             static_cast<std::uint8_t>(block),
             static_cast<std::uint8_t>(reader)};
  }

  // The lane's last code (entry e, already counted in pos and zpos) ran past the area or ended
  // the block, or is an escape that may saturate. Settles it as the reference would.
  Step settle(Lane& l, const DvLookupEntry& e) const {
    DvBlockState& s = st_.block_states[l.block];
    if (l.pos > l.end) {
      // The code runs past the area: its first bits wait for the next reader.
      l.pos -= e.length;
      l.zpos -= e.advance;
      const std::uint32_t left = l.end - l.pos;
      const auto bits =
          left == 0 ? 0U : static_cast<std::uint32_t>(peek64(st_.bytes, l.pos) >> (64 - left));
      s = DvBlockState{left == 0 ? 0 : pending_node(bits, left), l.zpos};
      st_.readers[l.reader].pos = l.end;
      return Step::kDry;
    }
    if ((e.advance & kDvLookupBig) != 0) {
      l.zpos -= kDvLookupBig;
      st_.block_big[l.block] = 1;
      if (l.zpos < 64) {
        store(l, e);
        return Step::kGoesOn;
      }
    }
    s = DvBlockState{-1, l.zpos - (e.advance & (kDvLookupBig - 1))};
    st_.readers[l.reader].pos = l.pos;
    return Step::kFinished;
  }

  // Completes block i's pending code with reader j's bits.
  Step finish_pending(std::size_t i, std::size_t j) const {
    DvBlockState& s = st_.block_states[i];
    DvBitReader& r = st_.readers[j];
    const auto len = static_cast<std::uint32_t>(s.node >> 16) & 0xFF;
    const auto bits = static_cast<std::uint32_t>(s.node) & 0xFFFF;
    const std::uint32_t left = r.end - r.pos;
    const std::uint64_t next = peek64(st_.bytes, r.pos);
    const auto window = static_cast<std::uint32_t>((bits << (16 - len)) | (next >> (48 + len)));
    const DvLookupEntry& e = dv_vlc_lookup[dv_vlc_lookup_index(window & 0xFFFF)];
    const std::uint32_t need = e.length - len;
    if (need > left) {
      // Still short: the whole reader joins the pending bits.
      const auto more = left == 0 ? 0U : static_cast<std::uint32_t>(next >> (64 - left));
      s.node = pending_node(bits << left | more, len + left);
      r.pos = r.end;
      return Step::kDry;
    }
    r.pos += need;
    const std::int32_t zpos = s.position + (e.advance & (kDvLookupBig - 1));
    if ((e.advance & kDvLookupBig) != 0) st_.block_big[i] = 1;
    if (zpos >= 64) {
      s.node = -1;
      return Step::kFinished;
    }
    st_.coeffs[i][kCells[st_.block_mode[i]][static_cast<std::size_t>(zpos)]] = e.amplitude;
    s = DvBlockState{0, zpos};
    return Step::kGoesOn;
  }

  const std::uint8_t* bytes() const { return st_.bytes; }
  DvSegmentState& state() const { return st_; }

 private:
  DvSegmentState& st_;
};

// Steps N lanes one code each, settling the rare codes that need it, until the policy runs out
// of work for one of them. Lane state lives in locals so that the compiler keeps it in registers.
template <std::size_t N, class Policy>
void step_lanes(Lane* lanes, Policy& policy) {
  const std::uint8_t* bytes = policy.segment().bytes();
  Lane l[N];
  for (std::size_t k = 0; k < N; ++k) l[k] = lanes[k];
  for (;;) {
    const DvLookupEntry* e[N];
    bool attention = false;
#pragma GCC unroll 4
    for (std::size_t k = 0; k < N; ++k) {
      e[k] = &lookup(peek64(bytes, l[k].pos));
      l[k].pos += e[k]->length;
      l[k].zpos += e[k]->advance;
      attention |= (l[k].zpos >= 64) | (l[k].pos > l[k].end);
    }
    if (attention) [[unlikely]] {
      bool idle = false;
      for (std::size_t k = 0; k < N; ++k) {
        if (l[k].zpos < 64 && l[k].pos <= l[k].end) {
          store(l[k], *e[k]);
          continue;
        }
        const Step step = policy.segment().settle(l[k], *e[k]);
        if (step != Step::kGoesOn) idle |= !policy.next(l[k], step);
      }
      if (idle) break;
      continue;
    }
#pragma GCC unroll 4
    for (std::size_t k = 0; k < N; ++k) store(l[k], *e[k]);
  }
  for (std::size_t k = 0; k < N; ++k) lanes[k] = l[k];
}

// Runs up to three lanes until the policy has no work left.
template <class Policy>
void run_lanes(Policy& policy) {
  Lane lanes[3];
  std::size_t n = 0;
  while (n < 3 && policy.start(lanes[n])) ++n;
  while (n > 0) {
    if (n == 3) {
      step_lanes<3>(lanes, policy);
    } else if (n == 2) {
      step_lanes<2>(lanes, policy);
    } else {
      step_lanes<1>(lanes, policy);
    }
    std::size_t kept = 0;
    for (std::size_t k = 0; k < n; ++k) {
      if (lanes[k].block != kIdle) lanes[kept++] = lanes[k];
    }
    n = kept;
  }
}

// Pass 1: each block with its own area, in any order (the areas are disjoint).
class OwnAreas {
 public:
  OwnAreas(const Segment& seg, const std::uint8_t* blocks, std::size_t count)
      : seg_(seg), blocks_(blocks), count_(count) {}

  const Segment& segment() const { return seg_; }

  bool start(Lane& l) { return next(l, Step::kFinished); }

  // Gives the lane its next block; false (and the lane idle) when none is left.
  bool next(Lane& l, Step) {
    if (next_ == count_) {
      l.block = kIdle;
      return false;
    }
    const std::size_t i = blocks_[next_++];
    seg_.load(l, i, i);
    return true;
  }

 private:
  const Segment& seg_;
  const std::uint8_t* blocks_;
  std::size_t count_;
  std::size_t next_ = 0;
};

// Passes 2 and 3 over groups of `span` blocks (6: each macroblock, 30: the segment): the
// unfinished blocks, in order, take up the bits left in the group's readers, in order. A block
// that does not finish drains every reader it touches, so a lane never goes back to an earlier
// reader: those are dry.
class FreeSpace {
 public:
  FreeSpace(const Segment& seg, std::size_t span) : seg_(seg), span_(span) {}

  const Segment& segment() const { return seg_; }

  bool start(Lane& l) { return start_group(l); }

  bool next(Lane& l, Step step) {
    const std::size_t last = l.block - l.block % span_ + span_;
    const bool goes_on = step == Step::kFinished
                             ? resume(l, next_unfinished(l.block + 1u, last), l.reader, last)
                             : resume(l, l.block, l.reader + 1u, last);
    return goes_on || start_group(l);
  }

 private:
  std::size_t next_unfinished(std::size_t i, std::size_t last) const {
    while (i < last && seg_.state().block_states[i].node < 0) ++i;
    return i;
  }

  // Takes the next group with work left; false (and the lane idle) when none is left.
  bool start_group(Lane& l) {
    while (group_ < kDvBlocks) {
      const std::size_t first = group_;
      group_ += span_;
      if (resume(l, next_unfinished(first, group_), first, group_)) return true;
    }
    l.block = kIdle;
    return false;
  }

  // Block i goes on with reader j or the first later one with bits, completing its pending
  // code first; a block that finishes hands the reader to the next unfinished one. False when
  // the group's blocks or readers are used up.
  bool resume(Lane& l, std::size_t i, std::size_t j, std::size_t last) const {
    const DvSegmentState& st = seg_.state();
    for (;;) {
      while (j < last && st.readers[j].pos >= st.readers[j].end) ++j;
      if (i >= last || j >= last) return false;
      if (st.block_states[i].node > 0) {
        const Step s = seg_.finish_pending(i, j);
        if (s == Step::kFinished) i = next_unfinished(i + 1, last);
        continue;  // whichever way it went, look again at the readers
      }
      seg_.load(l, i, j);
      return true;
    }
  }

  const Segment& seg_;
  std::size_t span_;
  std::size_t group_ = 0;
};

}  // namespace

void dv_parse_segment_fast(DvSegmentState& st, const std::uint8_t* segment) {
  std::memcpy(st.bytes, segment, kDvSegmentBytes);
  std::memset(st.bytes + kDvSegmentBytes, 0, sizeof st.bytes - kDvSegmentBytes);
  std::uint8_t pass1[kDvBlocks];
  std::size_t count = 0;
  for (std::uint32_t m = 0; m < 5; ++m) {
    st.qno[m] = st.bytes[80 * m + 3] & 15U;
    for (std::uint32_t b = 0; b < 6; ++b) {
      const std::size_t i = 6 * m + b;
      const std::uint32_t area = 80 * m + kAreaOffset[b];
      const std::uint32_t h =
          std::uint32_t{st.bytes[area]} << 4 | std::uint32_t{st.bytes[area + 1]} >> 4;
      const auto dc9 = static_cast<std::int32_t>(h >> 3);
      st.coeffs[i][0] = static_cast<std::int16_t>(dc9 >= 256 ? dc9 - 512 : dc9);
      st.block_mode[i] = (h >> 2) & 1;
      st.block_class[i] = h & 3;
      st.block_big[i] = 0;
      // Blocks whose first code is the end of block (0110) are done without a lane.
      const bool empty = (st.bytes[area + 1] & 15) == 6;
      st.readers[i] =
          DvBitReader{st.bytes, 8 * area + 12 + (empty ? 4U : 0U), 8 * area + kAreaBits[b]};
      st.block_states[i] = DvBlockState{empty ? -1 : 0, 0};
      pass1[count] = static_cast<std::uint8_t>(i);
      count += empty ? 0 : 1;
    }
  }
  const Segment seg(st);
  OwnAreas own(seg, pass1, count);
  run_lanes(own);
  FreeSpace macroblocks(seg, 6);
  run_lanes(macroblocks);
  FreeSpace whole(seg, kDvBlocks);
  run_lanes(whole);
}
