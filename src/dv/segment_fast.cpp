// The fast segment parse: the same passes as dv_parse_segment, but each code is found with one
// look-up of 16 peeked bits and only its coded amplitude is stored (transposed); the transform
// kernels dequantise and weight whole blocks. A code that runs across the end of the bits at
// hand is completed bit-exactly through its pending bits, as the reference does through its
// tree node.
//
// Passes 2 and 3 read the free space of the areas strictly in reader order, and a block that
// does not finish drains every reader it touches. So each is the decoding of one plain
// bitstream: the leftover bits of the group's areas laid end to end (one stream per macroblock
// for pass 2, one per segment in pass 3), which the group's unfinished blocks consume in order,
// each up to its end of block. Copying those bits together costs far less than stopping at
// every boundary between areas.
//
// Decoding runs in "lanes": a lane decodes one block from one reader (an area or a stream) until
// the block ends or the code at hand runs past the reader's end. Several lanes step together
// because their chains of look-ups are independent: blocks in pass 1, macroblocks in pass 2,
// segments in pass 3 (which is why several segments are parsed at once).

#include "dv/segment_fast.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "dv/vlc.h"

namespace avikit::dv {

namespace {

// Two reads below take the bytes in little-endian order: a look-up entry's length as its byte 1,
// and a block header as a byte-swapped 16-bit word.
static_assert(std::endian::native == std::endian::little);

// Scan position to the transposed raster cell (8 x column + row) the kernels take, per mode.
constexpr std::array<std::array<std::uint8_t, 64>, 2> make_cells() {
  std::array<std::array<std::uint8_t, 64>, 2> t{};
  for (std::size_t i = 0; i < 64; ++i) {
    t[0][i] = static_cast<std::uint8_t>(dv_scan_88[i] % 8 * 8 + dv_scan_88[i] / 8);
    t[1][i] = static_cast<std::uint8_t>(dv_scan_248[i] % 8 * 8 + dv_scan_248[i] / 8);
  }
  return t;
}
constexpr std::array<std::array<std::uint8_t, 64>, 2> kCells = make_cells();

// Segments read in place lie within this many bytes of the call's first segment, which keeps
// every bit position well inside 32 bits; the reader peeks up to 8 bytes past a segment.
constexpr std::uintptr_t kInPlaceSpan = std::uintptr_t{1} << 24;
constexpr std::size_t kPeekSlack = 8;

// Byte offset of each block's area in its DIF block, and the area's length in bits.
constexpr std::uint32_t kAreaOffset[6] = {4, 18, 32, 46, 60, 70};
constexpr std::uint32_t kAreaBits[6] = {112, 112, 112, 112, 80, 80};

// 64 bits from bit `pos` on, first bit most significant; at least 57 of them are real.
inline std::uint64_t peek64(const std::uint8_t* bytes, std::uint32_t pos) {
  std::uint64_t w;
  std::memcpy(&w, bytes + (pos >> 3), 8);
  return __builtin_bswap64(w) << (pos & 7);
}

inline LookupEntry lookup(std::uint64_t bits) {
  return vlc_lookup[vlc_lookup_index(static_cast<std::uint32_t>(bits >> 48))];
}

// The entry's code length, loaded on its own: byte 1 of the entry holds it whole (dv/vlc.h), and
// a second load beside the entry's takes two operations off the chain to the next code.
inline std::uint32_t lookup_length_of(std::uint64_t bits) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(vlc_lookup.data());
  return bytes[4 * std::size_t{vlc_lookup_index(static_cast<std::uint32_t>(bits >> 48))} + 1];
}

// A partial code is carried as its bits rather than as a tree node: block state node =
// kPending | length << 16 | bits, with 1..15 bits. Completing it is then decoding those bits
// followed by the next reader's, which Streams::resume lays side by side in the stream.
constexpr std::int32_t kPending = 1 << 24;
constexpr std::int32_t pending_node(std::uint32_t bits, std::uint32_t len) {
  return kPending | static_cast<std::int32_t>(len << 16 | bits);
}

// The hot loops keep a lane's position in one word laid out so that a look-up entry (dv/vlc.h)
// adds onto it as it is: bits 7..0 the scan position, bits 23..8 the bit position as
// pos - end - 1 + 32768, whose bit 23 says the last code ran past `end`; bits 31..24 collect the
// entries' amplitudes and mean nothing. Readers hold at most a few thousand bits and codes at
// most 16, so neither field carries into the next; bits 7..6 are set once the scan position
// reaches 64.
constexpr std::uint32_t kAttention = 0x008000C0;
constexpr std::uint32_t kPosBias = 32768;

constexpr std::uint32_t packed(std::uint32_t pos, std::uint32_t end, std::uint32_t zpos) {
  return zpos | (pos - end - 1 + kPosBias) << 8;
}
// pos = field + base, base = end + 1 - 32768.
constexpr std::uint32_t packed_base(std::uint32_t end) { return end + 1 - kPosBias; }
inline std::uint32_t packed_pos(std::uint32_t s, std::uint32_t base) {
  return ((s >> 8) & 0xFFFF) + base;
}
inline std::uint32_t packed_end(std::uint32_t base) { return base + kPosBias - 1; }

// Stores a lane's coefficient: amplitude of entry e at scan position s & 0xFF (below 64).
inline void store(std::int16_t* coeffs, const std::uint8_t* cells, std::uint32_t s, LookupEntry e) {
  coeffs[cells[s & 0xFF]] = lookup_amplitude(e);
}

// Both hot loops decode two codes from one 64-bit peek: the first counted into s1, both into s.
// The second entry is only meaningful when the first neither ended the block nor ran past the
// area; the callers check s1 before they look at it.
[[gnu::always_inline]] inline void decode_two(const std::uint8_t* bytes, std::uint32_t base,
                                              std::uint32_t& s, std::uint32_t& s1, LookupEntry& e1,
                                              LookupEntry& e2) {
  std::uint64_t w = peek64(bytes, packed_pos(s, base));
  e1 = lookup(w);
  s1 = s + e1;
  w <<= lookup_length_of(w);
  e2 = lookup(w);
  s = s1 + e2;
}

// Blocks of the parse that have not met their end: bit i for block i. One flat run of bits
// rather than a word a segment: clearing a block's bit is then a shift of its index, not a
// division by the blocks in a segment, and it is cleared once for every block that ends.
class OpenBlocks {
 public:
  bool any() const {
    std::uint64_t all = 0;
    for (std::uint64_t w : bits_) all |= w;
    return all != 0;
  }
  bool segment_open(std::size_t j) const { return span(kBlocks * j, kBlocks) != 0; }
  bool macroblock_open(std::size_t g) const { return span(6 * g, 6) != 0; }
  // Marks the blocks of segment j set in `blocks` (30 bits) open; the segment's bits are clear.
  void set_segment(std::size_t j, std::uint32_t blocks) {
    const std::size_t i = kBlocks * j;
    bits_[i / 64] |= std::uint64_t{blocks} << (i % 64);
    bits_[i / 64 + 1] |= std::uint64_t{blocks} >> 1 >> (63 - i % 64);
  }
  void clear(std::size_t i) { bits_[i / 64] &= ~(std::uint64_t{1} << (i % 64)); }
  // The first open block in [i, last), or last; [i, last) lies within one segment.
  std::size_t first(std::size_t i, std::size_t last) const {
    if (i >= last) return last;
    const std::uint64_t from = span(i, last - i);
    return from == 0 ? last : i + static_cast<std::size_t>(__builtin_ctzll(from));
  }

 private:
  // Bits [i, i + n) as the low bits of a word, n at most 58.
  std::uint64_t span(std::size_t i, std::size_t n) const {
    const std::size_t w = i / 64;
    const std::size_t b = i % 64;
    const std::uint64_t v = bits_[w] >> b | bits_[w + 1] << 1 << (63 - b);
    return v & ((std::uint64_t{1} << n) - 1);
  }

  // One word more than the blocks need, so that a span may always read the word after.
  std::uint64_t bits_[kFastBlocks / 64 + 2] = {};
};

// Keeps up to four blocks in flight, each in its own lane, so that the branch-heavy decoding of
// one block overlaps the others'. Engine::start(lane) fills a lane with the next block (false
// when none is left); Engine::step<N> advances N lanes at once and marks a finished lane by
// moving its block to kFastBlocks or past it; the lanes still running are then packed down.
template <class Engine>
class LaneDriver {
 public:
  void run() {
    Engine& e = *static_cast<Engine*>(this);
    typename Engine::Lane lanes[kLanes];
    std::size_t n = 0;
    while (n < kLanes && e.start(lanes[n])) ++n;
    while (n > 0) {
      if (n == 4) {
        e.template step<4>(lanes);
      } else if (n == 3) {
        e.template step<3>(lanes);
      } else if (n == 2) {
        e.template step<2>(lanes);
      } else {
        e.template step<1>(lanes);
      }
      std::size_t kept = 0;
      for (std::size_t k = 0; k < n; ++k) {
        if (lanes[k].block < kFastBlocks) lanes[kept++] = lanes[k];
      }
      n = kept;
    }
  }

 private:
  // Measured: 4 lanes beat 3 by a few percent on detailed pictures, 2 fall behind.
  static constexpr std::size_t kLanes = 4;
};

// Pass 1: each block with its own area, in any order (the areas are disjoint). Every block ends
// here or runs out of area, and a block's end is what pass 1 spends most on (a mispredicted
// branch and the hand-over to the next block), so its engine keeps that path short: the usual
// end of block is settled inline from the lane's registers, the rest out of line.
class OwnAreas : public LaneDriver<OwnAreas> {
 public:
  OwnAreas(FastSegments& st, const std::uint8_t* bytes, OpenBlocks& open,
           const std::uint16_t* blocks, std::size_t count)
      : st_(st), bytes_(bytes), open_(open), blocks_(blocks), count_(count) {}

 private:
  friend class LaneDriver<OwnAreas>;

  struct Lane {
    std::uint32_t s;  // packed position
    std::uint32_t base;
    std::size_t block;  // kFastBlocks once the lane has no block left
  };

  // Gives the lane the next queued block; false (and the lane idle) when none is left.
  bool start(Lane& l) {
    if (next_ == count_) {
      l.block = kFastBlocks;
      return false;
    }
    const std::size_t i = blocks_[next_++];
    const FastSegments::Area& a = st_.areas[i];
    l = Lane{packed(a.pos, a.end, 0), packed_base(a.end), i};
    return true;
  }

  // The usual end: the code with entry e (counted in t) ended the block within its area.
  void finish(std::size_t i, std::uint32_t t, std::uint32_t base, LookupEntry e) {
    st_.block_states[i] = DvBlockState{-1, static_cast<std::int32_t>((t - e) & 0xFF)};
    st_.areas[i].pos = packed_pos(t, base);
    open_.clear(i);
  }

  // The code with entry e (counted in l.s) runs past the area: its first bits wait for pass 2,
  // and the lane goes on with its next block.
  void overrun(Lane& l, LookupEntry e) {
    l.s -= e;
    const std::uint32_t pos = packed_pos(l.s, l.base);
    const std::uint32_t left = packed_end(l.base) - pos;
    const auto bits =
        left == 0 ? 0U : static_cast<std::uint32_t>(peek64(bytes_, pos) >> (64 - left));
    st_.block_states[l.block] = DvBlockState{left == 0 ? 0 : pending_node(bits, left),
                                             static_cast<std::int32_t>(l.s & 0xFF)};
    st_.areas[l.block].pos = packed_end(l.base);
    start(l);
  }

  // The rest: the code with entry e1 (counted in l.s) ran past the area or is a big escape;
  // e2 is the code decoded after it, settled here too when the block goes on. Ends with the
  // lane on its next block or idle.
  [[gnu::noinline]] void settle_rare(Lane& l, LookupEntry e1, LookupEntry e2, bool second) {
    const std::uint32_t pos = packed_pos(l.s, l.base);
    if ((l.s & 0x800000) != 0) {
      overrun(l, e1);
      return;
    }
    if (lookup_big(e1)) {
      l.s -= kLookupBig;
      e1 -= kLookupBig;
      st_.block_big[l.block] = 1;
      if ((l.s & 0xC0) == 0) {
        const auto code = static_cast<std::uint32_t>(peek64(bytes_, pos - 16) >> 48);
        st_.coeffs[l.block][kCells[st_.block_mode[l.block]][l.s & 0xFF]] = escape_amplitude(code);
        if (!second) return;
        // The block goes on with the code after the escape.
        l.s += e2;
        if ((l.s & kAttention) == 0) {
          store(st_.coeffs[l.block], kCells[st_.block_mode[l.block]].data(), l.s, e2);
          return;
        }
        if ((l.s & 0x800000) != 0 || lookup_big(e2)) {
          settle_rare(l, e2, 0, false);
          return;
        }
        finish(l.block, l.s, l.base, e2);
        start(l);
        return;
      }
    }
    finish(l.block, l.s, l.base, e1);
    start(l);
  }

  // Steps N lanes until one of them has no block left. Each lane decodes two codes per peek;
  // then each code is looked at on its own, so that a block's end costs its lane one
  // mispredicted branch and the other lanes nothing.
  template <std::size_t N>
  void step(Lane* lanes) {
    const std::uint8_t* bytes = bytes_;
    std::uint32_t s[N], base[N];
    std::int16_t* coeffs[N];
    const std::uint8_t* cells[N];
    std::size_t block[N];
#pragma GCC unroll 4
    for (std::size_t k = 0; k < N; ++k) {
      s[k] = lanes[k].s;
      base[k] = lanes[k].base;
      block[k] = lanes[k].block;
      coeffs[k] = st_.coeffs[block[k]];
      cells[k] = kCells[st_.block_mode[block[k]]].data();
    }
    for (bool busy = true; busy;) {
      LookupEntry e1[N], e2[N];
      std::uint32_t s1[N];
#pragma GCC unroll 4
      for (std::size_t k = 0; k < N; ++k) {
        decode_two(bytes, base[k], s[k], s1[k], e1[k], e2[k]);
      }
#pragma GCC unroll 4
      for (std::size_t k = 0; k < N; ++k) {
        bool first_ok = (s1[k] & kAttention) == 0;
        if (first_ok) [[likely]] {
          store(coeffs[k], cells[k], s1[k], e1[k]);
          if ((s[k] & kAttention) == 0) [[likely]] {
            store(coeffs[k], cells[k], s[k], e2[k]);
            continue;
          }
        }
        // The lane's block ends (or something rarer happens) at code 1 or code 2.
        const std::uint32_t t = first_ok ? s[k] : s1[k];
        const LookupEntry e = first_ok ? e2[k] : e1[k];
        Lane l{t, base[k], block[k]};
        // Running past the area is how most blocks of detailed pictures end: settled here too.
        if ((t & 0x800000) != 0) {
          overrun(l, e);
        } else if (!lookup_big(e)) [[likely]] {
          finish(block[k], t, base[k], e);
          start(l);
        } else {
          settle_rare(l, e, e2[k], !first_ok);
        }
        s[k] = l.s;
        base[k] = l.base;
        block[k] = l.block;
        if (l.block < kFastBlocks) {
          coeffs[k] = st_.coeffs[l.block];
          cells[k] = kCells[st_.block_mode[l.block]].data();
        } else {
          busy = false;  // the other lanes' codes are settled before leaving
        }
      }
    }
#pragma GCC unroll 4
    for (std::size_t k = 0; k < N; ++k) lanes[k] = Lane{s[k], base[k], block[k]};
  }

  FastSegments& st_;
  const std::uint8_t* bytes_;
  OpenBlocks& open_;
  const std::uint16_t* blocks_;
  std::size_t count_;
  std::size_t next_ = 0;
};

// Passes 2 and 3: group g holds blocks g x Span .. g x Span + Span - 1 (a macroblock or a
// segment) and reads stream g; its unfinished blocks, in order, take up the stream up to their
// ends of block.
template <std::size_t Span>
class Streams : public LaneDriver<Streams<Span>> {
 public:
  // buffer: the bytes all the streams lie in.
  Streams(FastSegments& st, OpenBlocks& open, std::uint8_t* buffer, DvBitReader* streams,
          std::size_t groups)
      : st_(st), open_(open), buffer_(buffer), streams_(streams), groups_(groups) {}

 private:
  friend class LaneDriver<Streams<Span>>;

  // One block decoded from one stream. s is packed (see kAttention).
  struct Lane {
    std::uint32_t s;
    std::uint32_t base;
    std::size_t block;
    std::size_t group;
  };
  enum class Step { kGoesOn, kFinished, kDry };

  const std::uint8_t* cells_of(std::size_t i) const { return kCells[st_.block_mode[i]].data(); }

  // The lane decodes block i from bit `from` of stream g.
  void load(Lane& l, std::size_t i, std::size_t g, std::uint32_t from) const {
    const DvBitReader& r = streams_[g];
    l = Lane{packed(from, r.end, static_cast<std::uint32_t>(st_.block_states[i].position)),
             packed_base(r.end), i, g};
  }

  // Takes the next group with work left; false (and the lane idle) when none is left.
  bool start(Lane& l) {
    while (next_group_ < groups_) {
      const std::size_t g = next_group_++;
      if (resume(l, g * Span, g)) return true;
    }
    l.block = kFastBlocks;
    return false;
  }

  // The first unfinished block of group g from i on goes on with the stream. False when the
  // group has no such block or the stream is used up.
  //
  // A block's pending code is completed by the lane like any other code: its bits are put back
  // into the stream right before the stream's next bit, over bits already read (or the slack
  // before the first stream), and the lane starts there. The lane's first peek then reads the
  // very bytes just stored, which the processor forwards; completing the code on its own cost
  // more, in instructions and in mispredicted branches on how it ended.
  bool resume(Lane& l, std::size_t i, std::size_t g) {
    const std::size_t last = g * Span + Span;
    const DvBitReader& r = streams_[g];
    i = open_.first(i, last);
    if (i == last || r.pos >= r.end) return false;
    DvBlockState& b = st_.block_states[i];
    std::uint32_t from = r.pos;
    if (b.node > 0) {
      const auto len = static_cast<std::uint32_t>(b.node >> 16) & 0xFF;
      from -= len;
      put_back(from, static_cast<std::uint32_t>(b.node) & 0xFFFF, len);
      b.node = 0;
    }
    load(l, i, g, from);
    return true;
  }

  // Writes the `len` (1..15) low bits of `bits` at bit `from` of the buffer, the bits around
  // them unchanged.
  void put_back(std::uint32_t from, std::uint32_t bits, std::uint32_t len) {
    std::uint64_t w;
    std::memcpy(&w, buffer_ + (from >> 3), 8);
    w = __builtin_bswap64(w);
    const std::uint32_t shift = 64 - (from & 7) - len;
    const std::uint64_t mask = ((std::uint64_t{1} << len) - 1) << shift;
    w = (w & ~mask) | std::uint64_t{bits} << shift;
    w = __builtin_bswap64(w);
    std::memcpy(buffer_ + (from >> 3), &w, 8);
  }

  // The lane's code with entry e (counted in l.s) ran past the stream, ended the block, or is a
  // big escape. Settles it as the reference would.
  Step settle(Lane& l, LookupEntry e) {
    DvBlockState& s = st_.block_states[l.block];
    DvBitReader& r = streams_[l.group];
    std::uint32_t pos = packed_pos(l.s, l.base);
    if ((l.s & 0x800000) != 0) {
      // The code runs past the stream: its first bits wait for pass 3.
      l.s -= e;
      pos -= lookup_length(e);
      const std::uint32_t left = r.end - pos;
      const auto bits =
          left == 0 ? 0U : static_cast<std::uint32_t>(peek64(r.bytes, pos) >> (64 - left));
      s = DvBlockState{left == 0 ? 0 : pending_node(bits, left),
                       static_cast<std::int32_t>(l.s & 0xFF)};
      r.pos = r.end;
      return Step::kDry;
    }
    if (lookup_big(e)) {
      l.s -= kLookupBig;
      e -= kLookupBig;
      st_.block_big[l.block] = 1;
      if ((l.s & 0xC0) == 0) {
        const auto code = static_cast<std::uint32_t>(peek64(r.bytes, pos - 16) >> 48);
        st_.coeffs[l.block][cells_of(l.block)[l.s & 0xFF]] = escape_amplitude(code);
        return Step::kGoesOn;
      }
    }
    s = DvBlockState{-1, static_cast<std::int32_t>((l.s - e) & 0xFF)};
    r.pos = pos;
    open_.clear(l.block);
    return Step::kFinished;
  }

  // The lane's block finished or its stream ran dry: its next block, or another group. Inlined:
  // it runs once for every block that ends in passes 2 and 3, and as a call its register saves
  // came to a sixth of its cost.
  [[gnu::always_inline]] bool next(Lane& l, Step step) {
    if (step == Step::kFinished && resume(l, l.block + 1, l.group)) return true;
    return start(l);
  }

  // Steps N lanes two codes each per peek, settling the rare codes that need it, until one of
  // them has no work left.
  template <std::size_t N>
  void step(Lane* lanes) {
    const std::uint8_t* bytes = streams_[0].bytes;
    std::uint32_t s[N], base[N];
    std::int16_t* coeffs[N];
    const std::uint8_t* cells[N];
#pragma GCC unroll 4
    for (std::size_t k = 0; k < N; ++k) {
      s[k] = lanes[k].s;
      base[k] = lanes[k].base;
      coeffs[k] = st_.coeffs[lanes[k].block];
      cells[k] = cells_of(lanes[k].block);
    }
    for (bool busy = true; busy;) {
      LookupEntry e1[N], e2[N];
      std::uint32_t s1[N];
#pragma GCC unroll 4
      for (std::size_t k = 0; k < N; ++k) {
        decode_two(bytes, base[k], s[k], s1[k], e1[k], e2[k]);
      }
#pragma GCC unroll 4
      for (std::size_t k = 0; k < N; ++k) {
        if ((s1[k] & kAttention) == 0) [[likely]] {
          store(coeffs[k], cells[k], s1[k], e1[k]);
          if ((s[k] & kAttention) == 0) [[likely]] {
            store(coeffs[k], cells[k], s[k], e2[k]);
            continue;
          }
        }
        Lane& l = lanes[k];
        l.base = base[k];
        Step st;
        if ((s1[k] & kAttention) != 0) {
          l.s = s1[k];
          st = settle(l, e1[k]);
          if (st == Step::kGoesOn) {
            l.s += e2[k];
            if ((l.s & kAttention) == 0) {
              store(coeffs[k], cells[k], l.s, e2[k]);
            } else {
              st = settle(l, e2[k]);
            }
          }
        } else {
          l.s = s[k];
          st = settle(l, e2[k]);
        }
        if (st != Step::kGoesOn && !next(l, st)) busy = false;
        s[k] = l.s;
        base[k] = l.base;
        if (l.block < kFastBlocks) {
          coeffs[k] = st_.coeffs[l.block];
          cells[k] = cells_of(l.block);
        }
      }
    }
#pragma GCC unroll 4
    for (std::size_t k = 0; k < N; ++k) {
      lanes[k].s = s[k];
      lanes[k].base = base[k];
    }
  }

  FastSegments& st_;
  OpenBlocks& open_;
  std::uint8_t* buffer_;
  DvBitReader* streams_;
  std::size_t groups_;
  std::size_t next_group_ = 0;
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
      const std::uint32_t take = n < kChunk ? n : kChunk;
      chunk(src, pos, take);
      pos += take;
      n -= take;
    }
  }
  // The same for at most two chunks (an area's leftover), without a branch: how much an area
  // left is as good as random, and a mispredicted loop cost more than the copy.
  void append_short(const std::uint8_t* src, std::uint32_t pos, std::uint32_t n) {
    const std::uint32_t first = n < kChunk ? n : kChunk;
    chunk(src, pos, first);
    chunk(src, pos + first, n - first);
  }

 private:
  static constexpr std::uint32_t kChunk = 56;
  // kTopBits[n]: the top n bits set. A load takes fewer operations than building the mask.
  static constexpr std::array<std::uint64_t, kChunk + 1> kTopBits = [] {
    std::array<std::uint64_t, kChunk + 1> t{};
    for (std::uint32_t n = 1; n <= kChunk; ++n) t[n] = ~(~std::uint64_t{0} >> n);
    return t;
  }();

  // Appends `take` (0..56) bits from src at pos; reads 8 bytes from pos / 8 whatever take is.
  void chunk(const std::uint8_t* src, std::uint32_t pos, std::uint32_t take) {
    // The top `take` bits of the peek; acc_ holds the bit_ % 8 bits of the partial byte.
    const std::uint64_t v = peek64(src, pos) & kTopBits[take];
    const std::uint32_t held = bit_ & 7;
    acc_ |= v >> held;
    const std::uint64_t be = __builtin_bswap64(acc_);
    std::memcpy(dst_ + (bit_ >> 3), &be, 8);
    bit_ += take;
    acc_ <<= (held + take) & ~7U;
  }

  std::uint8_t* dst_;
  std::uint32_t bit_;
  std::uint64_t acc_ = 0;  // bits from the start of byte bit_ / 8 on
};

// Lays the leftover bits of areas [first, last) end to end.
void gather(const FastSegments& st, const std::uint8_t* bytes, std::size_t first, std::size_t last,
            BitWriter& out) {
  for (std::size_t j = first; j < last; ++j) {
    const FastSegments::Area& a = st.areas[j];
    out.append_short(bytes, a.pos, a.end - a.pos);
  }
}

// Bit offsets of a macroblock's pass 2 stream in FastSegments::streams, and of a segment's
// pass 3 stream in stream3: a slot each, after room for a pending code put back before the
// first stream (Streams::resume).
constexpr std::uint32_t kStreamSlot = 8 * 128;
constexpr std::uint32_t kStream3Slot = 8 * 512;
constexpr std::uint32_t kLeadBits = 8 * static_cast<std::uint32_t>(kStreamLead);
constexpr std::uint32_t stream_at(std::uint32_t g) { return kLeadBits + kStreamSlot * g; }
constexpr std::uint32_t stream3_at(std::uint32_t j) { return kLeadBits + kStream3Slot * j; }

// kClassPatterns[qno]: the step patterns of the four classes at quantiser qno, four bits each
// (class c in bits 4c..4c+3), so that a block takes its pattern with a shift rather than a load.
constexpr std::array<std::uint16_t, 16> kClassPatterns = [] {
  std::array<std::uint16_t, 16> t{};
  for (std::size_t q = 0; q < 16; ++q) {
    for (std::size_t c = 0; c < 4; ++c) {
      t[q] = static_cast<std::uint16_t>(t[q] | dv_quant_index[c][q] << (4 * c));
    }
  }
  return t;
}();
static_assert(std::ranges::all_of(dv_quant_index, [](const auto& row) {
  return std::ranges::all_of(row, [](std::uint8_t p) { return p < 16; });
}));

// Block headers and the first look at each block: queues for pass 1 the blocks whose first
// code is not the end of block, and marks them open.
//
// This runs once for each of the frame's blocks, so it is kept to a few instructions a block:
// the header's 12 bits and the first 4 code bits are one big-endian 16-bit word (the DC comes
// out sign-extended by one arithmetic shift), and every block starts out finished at position
// 0, which pass 1 overwrites for each block it takes.
std::size_t read_headers(FastSegments& st, const std::uint8_t* bytes,
                         const std::uint32_t* segment_offsets, std::size_t segments,
                         std::uint16_t* queue, OpenBlocks& open) {
  std::size_t n = 0;
  for (std::uint32_t j = 0; j < segments; ++j) {
    // Built in a register: setting the bits in memory one block at a time would chain every
    // block's header on the store before it.
    std::uint32_t open_blocks = 0;
    for (std::uint32_t m = 0; m < 5; ++m) {
      const std::uint32_t dif = segment_offsets[j] + 80 * m;
      const std::uint32_t patterns = kClassPatterns[bytes[dif + 3] & 15U];
      std::uint32_t open_here = 0;
#pragma GCC unroll 6
      for (std::uint32_t b = 0; b < 6; ++b) {
        const std::size_t i = 30 * j + 6 * m + b;
        const std::uint32_t area = dif + kAreaOffset[b];
        std::uint16_t be;
        std::memcpy(&be, bytes + area, 2);
        const std::uint32_t w = __builtin_bswap16(be);
        st.coeffs[i][0] = static_cast<std::int16_t>(static_cast<std::int16_t>(w) >> 7);
        st.block_mode[i] = static_cast<std::uint8_t>((w >> 6) & 1);
        st.block_pattern[i] = static_cast<std::uint8_t>(patterns >> ((w >> 2) & 12) & 15);
        st.block_states[i] = DvBlockState{-1, 0};
        // Blocks whose first code is the end of block (0110) are done without a lane.
        const std::uint32_t busy = (w & 15) != 6 ? 1U : 0U;
        st.areas[i] = {8 * area + 16 - 4 * busy, 8 * area + kAreaBits[b]};
        queue[n] = static_cast<std::uint16_t>(i);
        n += busy;
        open_here |= busy << b;
      }
      open_blocks |= open_here << (6 * m);
    }
    open.set_segment(j, open_blocks);
  }
  return n;
}

}  // namespace

void parse_segments_fast(FastSegments& st, const std::uint8_t* const* segments, std::size_t count,
                         const std::uint8_t* readable_end) {
  // Bit positions count from `bytes`: the first segment where it lies, when every segment can
  // be read in place, else the copies.
  const std::uint8_t* bytes = segments[0];
  std::uint32_t offsets[kFastSegments];
  bool in_place = readable_end != nullptr;
  for (std::size_t j = 0; j < count && in_place; ++j) {
    const auto at = reinterpret_cast<std::uintptr_t>(segments[j]);
    const auto first = reinterpret_cast<std::uintptr_t>(bytes);
    const auto end = reinterpret_cast<std::uintptr_t>(readable_end);
    in_place = at >= first && at - first < kInPlaceSpan && end >= at &&
               end - at >= kSegmentBytes + kPeekSlack;
    offsets[j] = static_cast<std::uint32_t>(at - first);
  }
  if (!in_place) {
    bytes = st.bytes;
    for (std::size_t j = 0; j < count; ++j) {
      copy_segment_sse2(st.bytes + kFastStride * j, segments[j]);
      offsets[j] = static_cast<std::uint32_t>(kFastStride * j);
    }
  }
  OpenBlocks open;
  std::memset(st.block_big, 0, kBlocks * count);
  std::uint16_t pass1[kFastBlocks];
  const std::size_t queued = read_headers(st, bytes, offsets, count, pass1, open);
  OwnAreas(st, bytes, open, pass1, queued).run();
  if (!open.any()) return;

  // Pass 2, for the macroblocks with unfinished blocks.
  const std::size_t macroblocks = 5 * count;
  DvBitReader streams[5 * kFastSegments];
  for (std::uint32_t g = 0; g < macroblocks; ++g) {
    BitWriter out(st.streams, stream_at(g));
    if (open.macroblock_open(g)) gather(st, bytes, 6 * g, 6 * g + 6, out);
    streams[g] = DvBitReader{st.streams, stream_at(g), out.end()};
  }
  Streams<6>(st, open, st.streams, streams, macroblocks).run();
  if (!open.any()) return;

  // Pass 3: what every macroblock of a segment left, in order.
  DvBitReader wholes[kFastSegments];
  for (std::uint32_t j = 0; j < count; ++j) {
    BitWriter out(st.stream3, stream3_at(j));
    if (open.segment_open(j)) {
      for (std::uint32_t g = 5 * j; g < 5 * j + 5; ++g) {
        const DvBitReader& r = streams[g];
        if (r.end != stream_at(g)) {
          if (r.pos != r.end) out.append(r.bytes, r.pos, r.end - r.pos);
        } else {
          gather(st, bytes, 6 * g, 6 * g + 6, out);
        }
      }
    }
    wholes[j] = DvBitReader{st.stream3, stream3_at(j), out.end()};
  }
  Streams<kBlocks>(st, open, st.stream3, wholes, count).run();
}

}  // namespace avikit::dv
