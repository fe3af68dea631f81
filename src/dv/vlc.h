#pragma once
// AC variable-length codes of 25 Mbit/s DV video (IEC 61834-2): the code tree walked one bit at a
// time (the reference) and the multi-bit look-up table the fast decoder uses.

#include <array>
#include <cstdint>

namespace avikit::dv {

// Node kinds of dv_vlc_tree, in bits 31..30 of a node.
enum NodeKind : std::uint32_t {
  kBranch = 0,   // bits 29..16: index of the child for bit 0; the child for bit 1 follows it
  kSymbol = 1,   // bits 29..16: zero run; bits 15..0: value (int16, amplitude x 16, signed)
  kEnd = 2,      // end of block
  kInvalid = 3,  // a code the standard does not allow; ends the block
};

inline constexpr int kVlcTreeNodes = 1493;

constexpr NodeKind node_kind(std::uint32_t node) { return NodeKind(node >> 30); }
constexpr std::uint32_t node_child(std::uint32_t node) { return (node >> 16) & 0x3FFF; }
constexpr std::uint32_t node_run(std::uint32_t node) { return (node >> 16) & 0x3FFF; }
constexpr std::int16_t node_value(std::uint32_t node) {
  return static_cast<std::int16_t>(node & 0xFFFF);
}

// The code tree: root at 0; the sign bit of non-zero amplitudes, the long zero-run code
// (1111110 + 6-bit run) and the escape code (1111111 + 8-bit amplitude + sign) are part of it.
extern const std::array<std::uint32_t, kVlcTreeNodes> dv_vlc_tree;

// Multi-bit look-up. Peek 16 bits p (first bit most significant): codes not starting with 11111
// are at most 10 bits long and are found at p >> 6; the others at 1024 + (p & 0x7FF).
//
// An entry is one word laid out so that the fast decoder can add it to its lane state as it is:
// bits 7..0 the advance of the scan position (run + 1), bits 12..8 the code length (sign
// included), bits 31..24 the signed amplitude (the coefficient value as coded is 16 times it).
// End of block and invalid codes advance by 64, so that they push the scan position past 63 like
// a run past the block's end. Escapes with an amplitude of 64 or more advance by
// 1 + kLookupBig and leave the amplitude field 0: only they can saturate in dequantisation,
// so the fast path takes them apart and reads their amplitude from the code bits.
using LookupEntry = std::uint32_t;
inline constexpr std::uint32_t kLookupEnd = 64;
inline constexpr std::uint32_t kLookupBig = 64;
inline constexpr int kVlcLookupSize = 1024 + 2048;
extern const std::array<LookupEntry, kVlcLookupSize> vlc_lookup;

constexpr std::uint32_t vlc_lookup_index(std::uint32_t peek16) {
  return peek16 < 0xF800 ? peek16 >> 6 : peek16 - (0xF800 - 1024);
}
constexpr std::uint32_t lookup_length(LookupEntry e) { return (e >> 8) & 31; }
constexpr std::uint32_t lookup_advance(LookupEntry e) { return e & 0xFF; }
constexpr bool lookup_big(LookupEntry e) { return lookup_advance(e) > kLookupEnd; }
constexpr std::int16_t lookup_amplitude(LookupEntry e) {
  return static_cast<std::int16_t>(static_cast<std::int8_t>(e >> 24));
}
// The amplitude of a big escape from its 16 code bits (1111111, amplitude, sign).
constexpr std::int16_t escape_amplitude(std::uint32_t code16) {
  const auto a = static_cast<std::int16_t>((code16 >> 1) & 0xFF);
  return (code16 & 1) != 0 ? static_cast<std::int16_t>(-a) : a;
}

}  // namespace avikit::dv
