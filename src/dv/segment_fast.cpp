// The fast segment parse: the same passes as dv_parse_segment, but each code is found with one
// look-up of 16 peeked bits and only its coded amplitude is stored (transposed); the transform
// kernels dequantise and weight whole blocks. A code that runs across the end of the bits at
// hand is completed bit-exactly through its pending bits, as the reference does through its
// tree node.
//
// Passes 2 and 3 read the free space of the areas strictly in reader order, and a block that
// does not finish drains every reader it touches. So each is the decoding of one plain
// bitstream: the leftover bits of the group's areas laid end to end (one stream per macroblock
// for pass 2, one for the segment in pass 3), which the group's unfinished blocks consume in
// order, each up to its end of block. Copying those bits together costs far less than stopping
// at every boundary between areas.
//
// All passes run on one engine of "lanes". A lane decodes one block from one reader (an area or
// a stream) until the block ends or the code at hand runs past the reader's end; a policy then
// says what the lane does next. Several lanes step together because their chains of look-ups
// are independent: pass 1 lanes work on different blocks, pass 2 lanes on different
// macroblocks.

#include "dv/segment_fast.h"

#include <array>
#include <cstring>

#include "dv/vlc.h"

namespace {

// Scan position to the transposed raster cell (8 x column + row) the kernels take: mode 0 at
// 0..63, mode 1 at 256..319, so that a lane's packed state (below) indexes it directly.
constexpr std::array<std::uint8_t, 512> make_cells() {
  std::array<std::uint8_t, 512> t{};
  for (std::size_t i = 0; i < 64; ++i) {
    t[i] = static_cast<std::uint8_t>(dv_scan_88[i] % 8 * 8 + dv_scan_88[i] / 8);
    t[256 + i] = static_cast<std::uint8_t>(dv_scan_248[i] % 8 * 8 + dv_scan_248[i] / 8);
  }
  return t;
}
constexpr std::array<std::uint8_t, 512> kCells = make_cells();

// Byte offset of each block's area in its DIF block, and the area's length in bits.
constexpr std::uint32_t kAreaOffset[6] = {4, 18, 32, 46, 60, 70};
constexpr std::uint32_t kAreaBits[6] = {112, 112, 112, 112, 80, 80};

// 64 bits from bit `pos` on, first bit most significant; at least 57 of them are real.
inline std::uint64_t peek64(const std::uint8_t* bytes, std::uint32_t pos) {
  std::uint64_t w;
  std::memcpy(&w, bytes + (pos >> 3), 8);
  return __builtin_bswap64(w) << (pos & 7);
}

inline DvLookupEntry lookup(std::uint64_t bits) {
  return dv_vlc_lookup[dv_vlc_lookup_index(static_cast<std::uint32_t>(bits >> 48))];
}

// A partial code is carried as its bits rather than as a tree node: block state node =
// kPending | length << 16 | bits, with 1..15 bits. Completing it is then one look-up of the
// pending bits followed by the next reader's bits.
constexpr std::int32_t kPending = 1 << 24;
constexpr std::int32_t pending_node(std::uint32_t bits, std::uint32_t len) {
  return kPending | static_cast<std::int32_t>(len << 16 | bits);
}

// One block being decoded from one reader's area, unpacked.
struct Lane {
  std::uint32_t pos;   // next bit of the segment
  std::uint32_t end;   // end of the reader's bits, or of the stretch the packed state can hold
  std::uint32_t zpos;  // scan position of the last coefficient stored
  std::uint32_t mode;
  std::size_t block;
  std::size_t reader;
};

// The hot loop keeps a lane in one word, laid out so that a look-up entry (dv/vlc.h) adds onto
// it: bits 7..0 scan position, bit 8 mode (so bits 8..0 index kCells), bits 23..16 the bit
// position as pos - end - 1 + 128, whose bit 23 says the last code ran past `end`; bits 31..24
// collect the entries' amplitudes and mean nothing. A lane's `end` is at most kStretch bits
// ahead and codes are at most 16 bits, so neither field carries into the next; bits 7..6 are set
// once the position reaches 64.
constexpr std::uint32_t kAttention = 0x008000C0;
constexpr std::uint32_t kPosBias = 128;
constexpr std::uint32_t kStretch = 112;

inline std::uint32_t packed(const Lane& l) {
  return l.zpos | l.mode << 8 | (l.pos - l.end - 1 + kPosBias) << 16;
}
// pos = field + base, base = end + 1 - 128.
inline std::uint32_t packed_base(const Lane& l) { return l.end + 1 - kPosBias; }
inline std::uint32_t packed_pos(std::uint32_t s, std::uint32_t base) {
  return ((s >> 16) & 0xFF) + base;
}

// What settling a lane's code led to: it goes on (kMoved: from a new end of stretch), or its
// block finished, or its reader ran dry.
enum class Step { kGoesOn, kMoved, kFinished, kDry };

// What all policies share: the segment state, the reader table of the pass (the 30 areas, or
// the streams), the hand-over of blocks and readers, and which blocks are unfinished and which
// readers have bits left.
class Segment {
 public:
  explicit Segment(DvFastSegments& st) : st_(st) {}

  DvFastSegments& state() const { return st_; }
  const std::uint8_t* bytes() const { return readers_[0].bytes; }
  std::uint64_t open() const { return open_; }
  std::uint64_t with_bits() const { return with_bits_; }

  void set_open(std::uint64_t open) { open_ = open; }
  void use_readers(DvBitReader* readers, std::size_t count) {
    readers_ = readers;
    with_bits_ = 0;
    for (std::size_t j = 0; j < count; ++j) {
      with_bits_ |= std::uint64_t{readers[j].pos < readers[j].end} << j;
    }
  }

  Lane lane(std::size_t block, std::size_t reader) const {
    const DvBitReader& r = readers_[reader];
    return Lane{r.pos,
                r.end - r.pos > kStretch ? r.pos + kStretch : r.end,
                static_cast<std::uint32_t>(st_.block_states[block].position),
                st_.block_mode[block],
                block,
                reader};
  }

  // The lane's last code (entry e, already counted in pos and zpos) ran past the lane's end,
  // ended the block, or is a big escape. Settles it as the reference would.
  Step settle(Lane& l, DvLookupEntry e) {
    const std::uint32_t len = dv_lookup_length(e);
    DvBlockState& s = st_.block_states[l.block];
    const DvBitReader& r = readers_[l.reader];
    if (l.pos > l.end) {
      l.pos -= len;
      l.zpos -= dv_lookup_advance(e);
      if (l.end < r.end) {
        // Only the end of the lane's stretch: read on from the code.
        l.end = r.end - l.pos > kStretch ? l.pos + kStretch : r.end;
        return Step::kMoved;
      }
      // The code runs past the reader: its first bits wait for the next one.
      const std::uint32_t left = l.end - l.pos;
      const auto bits =
          left == 0 ? 0U : static_cast<std::uint32_t>(peek64(r.bytes, l.pos) >> (64 - left));
      s = DvBlockState{left == 0 ? 0 : pending_node(bits, left), static_cast<std::int32_t>(l.zpos)};
      dry(l.reader);
      return Step::kDry;
    }
    if (dv_lookup_big(e)) {
      l.zpos -= kDvLookupBig;
      st_.block_big[l.block] = 1;
      if (l.zpos < 64) {
        const auto code = static_cast<std::uint32_t>(peek64(r.bytes, l.pos - len) >> 48);
        st_.coeffs[l.block][cell(l.mode, l.zpos)] = dv_escape_amplitude(code);
        return Step::kGoesOn;
      }
      e -= kDvLookupBig;
    }
    s = DvBlockState{-1, static_cast<std::int32_t>(l.zpos - dv_lookup_advance(e))};
    finish(l.block, l.reader, l.pos);
    return Step::kFinished;
  }

  // Completes block i's pending code with reader j's bits.
  Step finish_pending(std::size_t i, std::size_t j) {
    DvBlockState& s = st_.block_states[i];
    DvBitReader& r = readers_[j];
    const auto len = static_cast<std::uint32_t>(s.node >> 16) & 0xFF;
    const auto bits = static_cast<std::uint32_t>(s.node) & 0xFFFF;
    const std::uint32_t left = r.end - r.pos;
    const std::uint64_t next = peek64(r.bytes, r.pos);
    const auto code =
        static_cast<std::uint32_t>((bits << (16 - len)) | (next >> (48 + len))) & 0xFFFF;
    DvLookupEntry e = dv_vlc_lookup[dv_vlc_lookup_index(code)];
    const std::uint32_t need = dv_lookup_length(e) - len;
    if (need > left) {
      // Still short: the whole reader joins the pending bits.
      const auto more = left == 0 ? 0U : static_cast<std::uint32_t>(next >> (64 - left));
      s.node = pending_node(bits << left | more, len + left);
      dry(j);
      return Step::kDry;
    }
    std::int16_t amplitude = dv_lookup_amplitude(e);
    if (dv_lookup_big(e)) {
      st_.block_big[i] = 1;
      amplitude = dv_escape_amplitude(code);
      e -= kDvLookupBig;
    }
    const auto zpos = static_cast<std::uint32_t>(s.position) + dv_lookup_advance(e);
    if (zpos >= 64) {
      s.node = -1;
      finish(i, j, r.pos + need);
      return Step::kFinished;
    }
    st_.coeffs[i][cell(st_.block_mode[i], zpos)] = amplitude;
    s = DvBlockState{0, static_cast<std::int32_t>(zpos)};
    r.pos += need;
    if (r.pos == r.end) dry(j);
    return Step::kGoesOn;
  }

 private:
  static std::size_t cell(std::uint32_t mode, std::uint32_t zpos) {
    return kCells[mode << 8 | zpos];
  }
  void dry(std::size_t j) {
    readers_[j].pos = readers_[j].end;
    with_bits_ &= ~(std::uint64_t{1} << j);
  }
  void finish(std::size_t i, std::size_t j, std::uint32_t pos) {
    open_ &= ~(std::uint64_t{1} << i);
    readers_[j].pos = pos;
    if (pos == readers_[j].end) with_bits_ &= ~(std::uint64_t{1} << j);
  }

  DvFastSegments& st_;
  DvBitReader* readers_ = nullptr;
  std::uint64_t open_ = 0;
  std::uint64_t with_bits_ = 0;
};

// Steps N lanes two codes each per peek of their bits, settling the rare codes that need it,
// until the policy runs out of work for one of them. Each lane's state is one packed word and a
// window of its next bits; every loop over the lanes is unrolled so that all of it stays in
// registers. Each code is looked at on its own: a branch taken only when that lane's code needs
// settling mispredicts far less than one asking whether any lane's does.
template <std::size_t N, class Policy>
void step_lanes(Lane* lanes, Policy& policy) {
  DvFastSegments& st = policy.segment().state();
  const std::uint8_t* bytes = policy.segment().bytes();
  const std::uint8_t* cells = kCells.data();
  std::uint32_t s[N], base[N];
  std::int16_t* coeffs[N];
  std::uint64_t w[N];
  DvLookupEntry e[N];
#pragma GCC unroll 4
  for (std::size_t k = 0; k < N; ++k) {
    s[k] = packed(lanes[k]);
    base[k] = packed_base(lanes[k]);
    coeffs[k] = st.coeffs[lanes[k].block];
  }
  // Stores each lane's last code, or settles it; false once the policy has no more work for a
  // lane (every lane's code is settled all the same).
  auto settle_all = [&]() __attribute__((always_inline)) {
    bool busy = true;
#pragma GCC unroll 4
    for (std::size_t k = 0; k < N; ++k) {
      if ((s[k] & kAttention) == 0) [[likely]] {
        coeffs[k][cells[s[k] & 0x1FF]] = dv_lookup_amplitude(e[k]);
        continue;
      }
      Lane& l = lanes[k];
      l.pos = packed_pos(s[k], base[k]);
      l.zpos = s[k] & 0xFF;
      const Step step = policy.segment().settle(l, e[k]);
      if (step == Step::kGoesOn) {
        s[k] -= kDvLookupBig;
      } else if (step == Step::kMoved || policy.next(l, step)) {
        s[k] = packed(l);
        base[k] = packed_base(l);
        coeffs[k] = st.coeffs[l.block];
        w[k] = peek64(bytes, l.pos);
      } else {
        busy = false;
      }
    }
    return busy;
  };
  for (bool busy = true; busy;) {
#pragma GCC unroll 4
    for (std::size_t k = 0; k < N; ++k) {
      w[k] = peek64(bytes, packed_pos(s[k], base[k]));
      e[k] = lookup(w[k]);
      s[k] += e[k];
      w[k] <<= dv_lookup_length(e[k]);
    }
    busy = settle_all();
    if (!busy) break;
#pragma GCC unroll 4
    for (std::size_t k = 0; k < N; ++k) {
      e[k] = lookup(w[k]);
      s[k] += e[k];
    }
    busy = settle_all();
  }
  // Every lane's last code is settled; hand the positions back.
#pragma GCC unroll 4
  for (std::size_t k = 0; k < N; ++k) {
    lanes[k].pos = packed_pos(s[k], base[k]);
    lanes[k].zpos = s[k] & 0xFF;
  }
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
      if (lanes[k].block < kDvFastBlocks) lanes[kept++] = lanes[k];
    }
    n = kept;
  }
}

// Lanes of pass 1. Measured: 4 beat 3 by a few percent on detailed pictures, 2 fall behind.
constexpr std::size_t kPass1Lanes = 4;

// Pass 1: each block with its own area, in any order (the areas are disjoint). Every block ends
// here or runs out of area, so pass 1 has its own engine in which those two events cost little:
// a lane decodes two codes per peek and looks at them only then.
class OwnAreas {
 public:
  OwnAreas(DvFastSegments& st, const std::uint8_t* blocks, std::size_t count, std::uint64_t open)
      : st_(st), blocks_(blocks), count_(count), open_(open) {}

  // Decodes every queued block; returns which blocks are still unfinished.
  std::uint64_t run() {
    Regs lanes[4];
    std::size_t n = 0;
    while (n < kPass1Lanes && next(lanes[n])) ++n;
    while (n > 0) {
      if (n == 4) {
        step<4>(lanes);
      } else if (n == 3) {
        step<3>(lanes);
      } else if (n == 2) {
        step<2>(lanes);
      } else {
        step<1>(lanes);
      }
      std::size_t kept = 0;
      for (std::size_t k = 0; k < n; ++k) {
        if (lanes[k].block < kDvFastBlocks) lanes[kept++] = lanes[k];
      }
      n = kept;
    }
    return open_;
  }

 private:
  // A lane: packed state (see Lane), base of its bit position, block.
  struct Regs {
    std::uint32_t s;
    std::uint32_t base;
    std::size_t block;
  };
  enum class Event { kGoesOn, kNextBlock, kIdle };

  // Gives the lane the next queued block; false (and the lane idle) when none is left.
  bool next(Regs& r) {
    if (next_ == count_) {
      r.block = kDvFastBlocks;
      return false;
    }
    const std::size_t i = blocks_[next_++];
    const DvBitReader& a = st_.readers[i];
    r = Regs{std::uint32_t{st_.block_mode[i]} << 8 | (a.pos - a.end - 1 + kPosBias) << 16, a.end + 1 - kPosBias,
             i};
    return true;
  }

  // The lane's code with entry e (counted in r.s) ended its block, ran past its area or is a big
  // escape.
  Event settle(Regs& r, DvLookupEntry e) {
    std::uint32_t pos = packed_pos(r.s, r.base);
    const std::uint32_t end = r.base + kPosBias - 1;
    if ((r.s & 0x800000) != 0) {
      // The code runs past the area: its first bits wait for pass 2.
      r.s -= e;
      pos -= dv_lookup_length(e);
      const std::uint32_t left = end - pos;
      const auto bits =
          left == 0 ? 0U : static_cast<std::uint32_t>(peek64(st_.bytes, pos) >> (64 - left));
      st_.block_states[r.block] = DvBlockState{left == 0 ? 0 : pending_node(bits, left),
                                               static_cast<std::int32_t>(r.s & 0xFF)};
      st_.readers[r.block].pos = end;
      return next(r) ? Event::kNextBlock : Event::kIdle;
    }
    if (dv_lookup_big(e)) {
      r.s -= kDvLookupBig;
      e -= kDvLookupBig;
      st_.block_big[r.block] = 1;
      if ((r.s & 0xC0) == 0) {
        const auto code = static_cast<std::uint32_t>(peek64(st_.bytes, pos - 16) >> 48);
        st_.coeffs[r.block][kCells[r.s & 0x1FF]] = dv_escape_amplitude(code);
        return Event::kGoesOn;
      }
    }
    st_.block_states[r.block] = DvBlockState{-1, static_cast<std::int32_t>((r.s - e) & 0xFF)};
    st_.readers[r.block].pos = pos;
    open_ &= ~(std::uint64_t{1} << r.block);
    return next(r) ? Event::kNextBlock : Event::kIdle;
  }

  // Steps N lanes until one of them has no block left. Each lane decodes two codes per peek;
  // then each code is looked at on its own, so that a block's end costs its lane one
  // mispredicted branch and the other lanes nothing.
  template <std::size_t N>
  void step(Regs* lanes) {
    const std::uint8_t* bytes = st_.bytes;
    const std::uint8_t* cells = kCells.data();
    std::uint32_t s[N], base[N];
    std::int16_t* coeffs[N];
#pragma GCC unroll 4
    for (std::size_t k = 0; k < N; ++k) {
      s[k] = lanes[k].s;
      base[k] = lanes[k].base;
      coeffs[k] = st_.coeffs[lanes[k].block];
    }
    for (bool busy = true; busy;) {
      DvLookupEntry e1[N], e2[N];
      std::uint32_t s1[N];
#pragma GCC unroll 4
      for (std::size_t k = 0; k < N; ++k) {
        std::uint64_t w = peek64(bytes, packed_pos(s[k], base[k]));
        e1[k] = lookup(w);
        s1[k] = s[k] + e1[k];
        w <<= dv_lookup_length(e1[k]);
        e2[k] = lookup(w);
        s[k] = s1[k] + e2[k];
      }
#pragma GCC unroll 4
      for (std::size_t k = 0; k < N; ++k) {
        if ((s1[k] & kAttention) == 0) [[likely]] {
          coeffs[k][cells[s1[k] & 0x1FF]] = dv_lookup_amplitude(e1[k]);
          if ((s[k] & kAttention) == 0) [[likely]] {
            coeffs[k][cells[s[k] & 0x1FF]] = dv_lookup_amplitude(e2[k]);
            continue;
          }
        }
        // Settle the code that needs it; a code after one that ended the block is dropped.
        Regs& r = lanes[k];
        r.base = base[k];
        Event ev;
        if ((s1[k] & kAttention) != 0) {
          r.s = s1[k];
          ev = settle(r, e1[k]);
          if (ev == Event::kGoesOn) {
            r.s += e2[k];
            if ((r.s & kAttention) == 0) {
              coeffs[k][cells[r.s & 0x1FF]] = dv_lookup_amplitude(e2[k]);
            } else {
              ev = settle(r, e2[k]);
            }
          }
        } else {
          r.s = s[k];
          ev = settle(r, e2[k]);
        }
        s[k] = r.s;
        base[k] = r.base;
        if (ev == Event::kIdle) {
          busy = false;  // the other lanes' codes are settled before leaving
        } else {
          coeffs[k] = st_.coeffs[r.block];
        }
      }
    }
#pragma GCC unroll 4
    for (std::size_t k = 0; k < N; ++k) {
      lanes[k].s = s[k];
      lanes[k].base = base[k];
    }
  }

  DvFastSegments& st_;
  const std::uint8_t* blocks_;
  std::size_t count_;
  std::size_t next_ = 0;
  std::uint64_t open_;
};

// Passes 2 and 3: group g holds blocks g x Span .. g x Span + Span - 1 (a macroblock or a
// segment) and reads stream g; its unfinished blocks, in order, take up the stream up to their
// ends of block.
template <std::size_t Span>
class Streams {
 public:
  explicit Streams(Segment& seg) : seg_(seg) {}

  Segment& segment() const { return seg_; }
  bool start(Lane& l) { return start_group(l); }

  bool next(Lane& l, Step step) {
    if (step == Step::kFinished && resume(l, l.block + 1, l.reader)) return true;
    return start_group(l);
  }

 private:
  // Takes the next group with work left; false (and the lane idle) when none is left.
  bool start_group(Lane& l) {
    while (group_ * Span < kDvFastBlocks) {
      const std::size_t g = group_++;
      if (resume(l, g * Span, g)) return true;
    }
    l.block = kDvFastBlocks;
    return false;
  }

  // The first unfinished block of the group from i on goes on with stream g, completing its
  // pending code first. False when the group has no such block or the stream is used up.
  bool resume(Lane& l, std::size_t i, std::size_t g) {
    const std::uint64_t group = ((std::uint64_t{1} << Span) - 1) << (g * Span);
    for (;;) {
      const std::uint64_t blocks = seg_.open() & group & (~std::uint64_t{0} << i);
      if (blocks == 0 || (seg_.with_bits() >> g & 1) == 0) return false;
      i = static_cast<std::size_t>(__builtin_ctzll(blocks));
      if (seg_.state().block_states[i].node > 0) {
        seg_.finish_pending(i, g);
        continue;  // whichever way it went, the masks say where to go on
      }
      l = seg_.lane(i, g);
      return true;
    }
  }

  Segment& seg_;
  std::size_t group_ = 0;
};

// Writes a stream of bits, first bit most significant. The bits not yet in whole bytes stay in
// a register: reading back the word just stored would stall on store forwarding.
class BitWriter {
 public:
  // dst needs 8 bytes of room past the last bit.
  BitWriter(std::uint8_t* dst, std::uint32_t bit) : dst_(dst), bit_(bit) {}

  std::uint32_t end() const { return bit_; }

  // Appends bits [pos, pos + n) of src.
  void append(const std::uint8_t* src, std::uint32_t pos, std::uint32_t n) {
    while (n > 0) {
      const std::uint32_t take = n < 56 ? n : 56;
      // The top `take` bits of the peek; acc_ holds the bit_ % 8 bits of the partial byte.
      const std::uint64_t v = peek64(src, pos) >> (64 - take) << (64 - take);
      const std::uint32_t held = bit_ & 7;
      acc_ |= v >> held;
      const std::uint64_t be = __builtin_bswap64(acc_);
      std::memcpy(dst_ + (bit_ >> 3), &be, 8);
      bit_ += take;
      acc_ <<= (held + take) & ~7U;
      pos += take;
      n -= take;
    }
  }

 private:
  std::uint8_t* dst_;
  std::uint32_t bit_;
  std::uint64_t acc_ = 0;  // bits from the start of byte bit_ / 8 on
};

// Lays the leftover bits of areas [first, last) end to end.
void gather(const DvFastSegments& st, std::size_t first, std::size_t last, BitWriter& out) {
  for (std::size_t j = first; j < last; ++j) {
    const DvBitReader& a = st.readers[j];
    if (a.pos != a.end) out.append(a.bytes, a.pos, a.end - a.pos);
  }
}

// Bit offsets of a macroblock's pass 2 stream in DvFastSegments::streams, and of a segment's
// pass 3 stream in stream3.
constexpr std::uint32_t kStreamSlot = 8 * 128;
constexpr std::uint32_t kStream3Slot = 8 * 512;

// Block headers and the first look at each block: queues for pass 1 the blocks whose first
// code is not the end of block, and returns them as a mask.
std::uint64_t read_headers(DvFastSegments& st, std::size_t segments, std::uint8_t* queue,
                           std::size_t* count) {
  std::uint64_t open = 0;
  std::size_t n = 0;
  for (std::uint32_t j = 0; j < segments; ++j) {
    for (std::uint32_t m = 0; m < 5; ++m) {
      const std::uint32_t dif = static_cast<std::uint32_t>(kDvFastStride) * j + 80 * m;
      const std::uint32_t qno = st.bytes[dif + 3] & 15U;
      for (std::uint32_t b = 0; b < 6; ++b) {
        const std::size_t i = 30 * j + 6 * m + b;
        const std::uint32_t area = dif + kAreaOffset[b];
        const std::uint32_t h =
            std::uint32_t{st.bytes[area]} << 4 | std::uint32_t{st.bytes[area + 1]} >> 4;
        const auto dc9 = static_cast<std::int32_t>(h >> 3);
        st.coeffs[i][0] = static_cast<std::int16_t>(dc9 >= 256 ? dc9 - 512 : dc9);
        st.block_mode[i] = static_cast<std::uint8_t>((h >> 2) & 1);
        st.block_pattern[i] = dv_quant_index[h & 3][qno];
        st.block_big[i] = 0;
        // Blocks whose first code is the end of block (0110) are done without a lane.
        const bool empty = (st.bytes[area + 1] & 15) == 6;
        st.readers[i] =
            DvBitReader{st.bytes, 8 * area + 12 + (empty ? 4U : 0U), 8 * area + kAreaBits[b]};
        st.block_states[i] = DvBlockState{empty ? -1 : 0, 0};
        queue[n] = static_cast<std::uint8_t>(i);
        n += empty ? 0 : 1;
        open |= std::uint64_t{!empty} << i;
      }
    }
  }
  *count = n;
  return open;
}

}  // namespace

void dv_parse_segments_fast(DvFastSegments& st, const std::uint8_t* const* segments,
                            std::size_t count) {
  for (std::size_t j = 0; j < count; ++j) {
    std::uint8_t* copy = st.bytes + kDvFastStride * j;
    std::memcpy(copy, segments[j], kDvSegmentBytes);
    std::memset(copy + kDvSegmentBytes, 0, kDvFastStride - kDvSegmentBytes);
  }
  std::uint8_t pass1[kDvFastBlocks];
  std::size_t queued = 0;
  std::uint64_t open = read_headers(st, count, pass1, &queued);
  OwnAreas own(st, pass1, queued, open);
  open = own.run();
  if (open == 0) return;
  Segment seg(st);
  seg.set_open(open);

  // Pass 2, for the macroblocks with unfinished blocks.
  constexpr std::size_t kMacroblocks = kDvFastSegments * 5;
  DvBitReader streams[kMacroblocks];
  for (std::uint32_t g = 0; g < kMacroblocks; ++g) {
    BitWriter out(st.streams, kStreamSlot * g);
    if ((open >> (6 * g) & 63) != 0) gather(st, 6 * g, 6 * g + 6, out);
    streams[g] = DvBitReader{st.streams, kStreamSlot * g, out.end()};
  }
  seg.use_readers(streams, kMacroblocks);
  Streams<6> macroblocks(seg);
  run_lanes(macroblocks);
  if (seg.open() == 0) return;

  // Pass 3: what every macroblock of a segment left, in order.
  DvBitReader wholes[kDvFastSegments];
  for (std::uint32_t j = 0; j < kDvFastSegments; ++j) {
    BitWriter out(st.stream3, kStream3Slot * j);
    if ((seg.open() >> (30 * j) & ((std::uint64_t{1} << 30) - 1)) != 0) {
      for (std::uint32_t g = 5 * j; g < 5 * j + 5; ++g) {
        const DvBitReader& r = streams[g];
        if (r.end != kStreamSlot * g) {
          if (r.pos != r.end) out.append(r.bytes, r.pos, r.end - r.pos);
        } else {
          gather(st, 6 * g, 6 * g + 6, out);
        }
      }
    }
    wholes[j] = DvBitReader{st.stream3, kStream3Slot * j, out.end()};
  }
  seg.use_readers(wholes, kDvFastSegments);
  Streams<kDvBlocks> segment_pass(seg);
  run_lanes(segment_pass);
}
