#include "dv/vlc.h"

#include <algorithm>
#include <string_view>

namespace avikit::dv {

namespace {

// The AC code table of IEC 61834-2 / SMPTE 314M: code bits (first bit first, sign bit not
// included), zero run, amplitude. Amplitude-0 codes carry no sign bit.
struct AcCode {
  std::string_view bits;
  std::uint8_t run;
  std::uint8_t amplitude;
};
constexpr std::array<AcCode, 88> kAcCodes = {{
    {"00", 0, 1},
    {"010", 0, 2},
    {"0111", 1, 1},
    {"1000", 0, 3},
    {"1001", 0, 4},
    {"10100", 2, 1},
    {"10101", 1, 2},
    {"10110", 0, 5},
    {"10111", 0, 6},
    {"110000", 3, 1},
    {"110001", 4, 1},
    {"110010", 0, 7},
    {"110011", 0, 8},
    {"1101000", 5, 1},
    {"1101001", 6, 1},
    {"1101010", 2, 2},
    {"1101011", 1, 3},
    {"1101100", 1, 4},
    {"1101101", 0, 9},
    {"1101110", 0, 10},
    {"1101111", 0, 11},
    {"11100000", 7, 1},
    {"11100001", 8, 1},
    {"11100010", 9, 1},
    {"11100011", 10, 1},
    {"11100100", 3, 2},
    {"11100101", 4, 2},
    {"11100110", 2, 3},
    {"11100111", 1, 5},
    {"11101000", 1, 6},
    {"11101001", 1, 7},
    {"11101010", 0, 12},
    {"11101011", 0, 13},
    {"11101100", 0, 14},
    {"11101101", 0, 15},
    {"11101110", 0, 16},
    {"11101111", 0, 17},
    {"111100000", 11, 1},
    {"111100001", 12, 1},
    {"111100010", 13, 1},
    {"111100011", 14, 1},
    {"111100100", 5, 2},
    {"111100101", 6, 2},
    {"111100110", 3, 3},
    {"111100111", 4, 3},
    {"111101000", 2, 4},
    {"111101001", 2, 5},
    {"111101010", 1, 8},
    {"111101011", 0, 18},
    {"111101100", 0, 19},
    {"111101101", 0, 20},
    {"111101110", 0, 21},
    {"111101111", 0, 22},
    {"1111100000", 5, 3},
    {"1111100001", 3, 4},
    {"1111100010", 3, 5},
    {"1111100011", 2, 6},
    {"1111100100", 1, 9},
    {"1111100101", 1, 10},
    {"1111100110", 1, 11},
    {"11111001110", 0, 0},
    {"11111001111", 1, 0},
    {"11111010000", 6, 3},
    {"11111010001", 4, 4},
    {"11111010010", 3, 6},
    {"11111010011", 1, 12},
    {"11111010100", 1, 13},
    {"11111010101", 1, 14},
    {"111110101100", 2, 0},
    {"111110101101", 3, 0},
    {"111110101110", 4, 0},
    {"111110101111", 5, 0},
    {"111110110000", 7, 2},
    {"111110110001", 8, 2},
    {"111110110010", 9, 2},
    {"111110110011", 10, 2},
    {"111110110100", 7, 3},
    {"111110110101", 8, 3},
    {"111110110110", 4, 5},
    {"111110110111", 3, 7},
    {"111110111000", 2, 7},
    {"111110111001", 2, 8},
    {"111110111010", 2, 9},
    {"111110111011", 2, 10},
    {"111110111100", 2, 11},
    {"111110111101", 1, 15},
    {"111110111110", 1, 16},
    {"111110111111", 1, 17},
}};
constexpr std::string_view kEndOfBlock = "0110";

// One leaf of the tree: its code (len bits, right-aligned) and the node it becomes.
struct Leaf {
  std::uint32_t code;
  std::uint32_t len;
  std::uint32_t node;
};

constexpr std::size_t kLeafCount = 747;  // 692 symbols, 54 invalid codes, 1 end of block

constexpr std::uint32_t symbol_node(int run, int value) {
  return std::uint32_t{kSymbol} << 30 | static_cast<std::uint32_t>(run) << 16 |
         (static_cast<std::uint32_t>(value) & 0xFFFF);
}
constexpr std::uint32_t bits_of(std::string_view s) {
  std::uint32_t v = 0;
  for (char ch : s) v = v << 1 | (ch == '1' ? 1U : 0U);
  return v;
}

consteval std::array<Leaf, kLeafCount> make_leaves() {
  std::array<Leaf, kLeafCount> leaves{};
  std::size_t n = 0;
  for (const AcCode& c : kAcCodes) {
    const std::uint32_t code = bits_of(c.bits);
    const auto len = static_cast<std::uint32_t>(c.bits.size());
    if (c.amplitude == 0) {
      leaves[n++] = {code, len, symbol_node(c.run, 0)};
      continue;
    }
    for (std::uint32_t sign = 0; sign < 2; ++sign) {
      const int value = (sign != 0 ? -16 : 16) * c.amplitude;
      leaves[n++] = {code << 1 | sign, len + 1, symbol_node(c.run, value)};
    }
  }
  leaves[n++] = {bits_of(kEndOfBlock), 4, std::uint32_t{kEnd} << 30};
  // Long zero run: 1111110 then 6 bits; runs 6..61 only.
  for (std::uint32_t run = 0; run < 64; ++run) {
    const bool valid = run >= 6 && run <= 61;
    leaves[n++] = {0x7EU << 6 | run, 13,
                   valid ? symbol_node(static_cast<int>(run), 0) : std::uint32_t{kInvalid} << 30};
  }
  // Escape: 1111111, 8-bit amplitude, sign; amplitudes 23..255 only, the sign bit included
  // in the invalid codes too.
  for (std::uint32_t amp = 0; amp < 256; ++amp) {
    for (std::uint32_t sign = 0; sign < 2; ++sign) {
      const int value = (sign != 0 ? -16 : 16) * static_cast<int>(amp);
      leaves[n++] = {(0x7FU << 8 | amp) << 1 | sign, 16,
                     amp >= 23 ? symbol_node(0, value) : std::uint32_t{kInvalid} << 30};
    }
  }
  // A throw in these compile-time builders fails the build: the table is not what the tree needs.
  if (n != kLeafCount) throw "leaf count";
  std::sort(leaves.begin(), leaves.end(), [](const Leaf& a, const Leaf& b) {
    return a.code << (16 - a.len) < b.code << (16 - b.len);
  });
  return leaves;
}

struct TreeBuilder {
  std::array<Leaf, kLeafCount> leaves = make_leaves();
  std::array<std::uint32_t, kVlcTreeNodes> tree{};
  std::size_t next = 1;

  constexpr std::uint32_t bit_at(const Leaf& l, std::uint32_t depth) const {
    return (l.code >> (l.len - 1 - depth)) & 1;
  }
  // Builds the subtree for leaves [lo, hi), which share their first `depth` bits.
  constexpr void build(std::size_t node, std::size_t lo, std::size_t hi, std::uint32_t depth) {
    if (lo >= hi || depth > 16) throw "incomplete code table";
    if (hi - lo == 1 && leaves[lo].len == depth) {
      tree[node] = leaves[lo].node;
      return;
    }
    if (next + 2 > kVlcTreeNodes) throw "too many nodes";
    const std::size_t child = next;
    next += 2;
    tree[node] = std::uint32_t{kBranch} << 30 | static_cast<std::uint32_t>(child) << 16;
    std::size_t mid = lo;
    while (mid < hi) {
      if (leaves[mid].len <= depth) throw "code is a prefix of another";
      if (bit_at(leaves[mid], depth) != 0) break;
      ++mid;
    }
    build(child, lo, mid, depth + 1);
    build(child + 1, mid, hi, depth + 1);
  }
};

consteval std::array<std::uint32_t, kVlcTreeNodes> make_tree() {
  TreeBuilder b;
  b.build(0, 0, kLeafCount, 0);
  if (b.next != kVlcTreeNodes) throw "node count";
  return b.tree;
}

constexpr std::array<std::uint32_t, kVlcTreeNodes> kTree = make_tree();

// Walks the tree over the 16 bits of p, first bit most significant.
consteval LookupEntry lookup_entry(std::uint32_t p, std::uint32_t max_len) {
  std::uint32_t node = kTree[0];
  std::uint32_t len = 0;
  while (node_kind(node) == kBranch) {
    if (len >= max_len) throw "code longer than the look-up covers";
    const std::uint32_t bit = (p >> (15 - len)) & 1;
    node = kTree[node_child(node) + bit];
    ++len;
  }
  if (node_kind(node) != kSymbol) return len << 8 | kLookupEnd;  // ends the block
  const int value = node_value(node);
  if (value % 16 != 0) throw "value is not a multiple of 16";
  const int amplitude = value / 16;
  const std::uint32_t advance = node_run(node) + 1;
  if (amplitude >= 64 || amplitude <= -64) {
    if (advance != 1 || len != 16) throw "big amplitude outside an escape";
    return len << 8 | (advance + kLookupBig);
  }
  if (advance >= kLookupEnd) throw "run does not fit the advance field";
  return static_cast<std::uint32_t>(amplitude & 0xFF) << 24 | len << 8 | advance;
}

consteval std::array<LookupEntry, kVlcLookupSize> make_lookup() {
  std::array<LookupEntry, kVlcLookupSize> t{};
  for (std::uint32_t i = 0; i < 1024; ++i) {
    // Prefix 11111 is never looked up here; the codes below it are at most 10 bits long.
    t[i] = i >= 0x3E0 ? 0 : lookup_entry(i << 6, 10);
  }
  for (std::uint32_t i = 0; i < 2048; ++i) t[1024 + i] = lookup_entry(0xF800 | i, 16);
  return t;
}

}  // namespace

constexpr std::array<std::uint32_t, kVlcTreeNodes> dv_vlc_tree = kTree;
constexpr std::array<LookupEntry, kVlcLookupSize> vlc_lookup = make_lookup();

// The fast parse loads byte 1 of an entry as its length: bits 15..13 stay clear.
static_assert([] {
  for (const LookupEntry e : vlc_lookup) {
    if (((e >> 8) & 0xFF) != lookup_length(e)) return false;
  }
  return true;
}());

}  // namespace avikit::dv
