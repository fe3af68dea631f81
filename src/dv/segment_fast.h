#pragma once
// The frame decoder's segment parse: the same passes and coefficients as dv_parse_segment
// (dv/block_decode.h), found with multi-bit look-ups, for several segments at once. Segments are
// independent, so their chains of look-ups can run side by side where one segment alone would
// leave the processor waiting on a single chain (pass 3 above all).
//
// The coefficients are left as coded amplitudes (coefficient values / 16, the DC as coded),
// transposed (8 x column + row); block_factors turns them into dv_parse_segment's
// coefficients after dequantisation and weighting, inside the transform kernels (dv/idct.h).

#include <cstddef>
#include <cstdint>

#include "dv/block_decode.h"

namespace avikit::dv {

// A whole sequence of the frame (27 segments) at once: each pass ends with fewer busy lanes than
// it has, and the more blocks a call holds, the less of its time goes to those tails. Measured
// on 625/50 frames: 8 segments cost 3-4% more a frame than 27, 4 segments more again.
inline constexpr std::size_t kFastSegments = 27;
inline constexpr std::size_t kFastBlocks = kFastSegments * kBlocks;
// Each segment's copy: its 400 bytes and room for the fast reader to peek 8 bytes past any bit.
inline constexpr std::size_t kFastStride = kSegmentBytes + 16;
inline constexpr std::size_t kStreamLead = 16;

struct FastSegments {
  alignas(16) std::uint8_t bytes[kFastSegments * kFastStride];
  // The free space of the areas laid end to end: for pass 2 one 128-byte slot a macroblock, for
  // pass 3 one 512-byte slot a segment, after kStreamLead bytes the parse may write into.
  alignas(16) std::uint8_t streams[kStreamLead + kFastSegments * 5 * 128 + 16];
  alignas(16) std::uint8_t stream3[kStreamLead + kFastSegments * 512 + 16];
  // Block b of macroblock m of segment j is block 30j + 6m + b. All zero on entry: the transform
  // kernels clear what they used.
  alignas(64) std::int16_t coeffs[kFastBlocks][64];
  // Each block's area, in bits from the first segment where the parse reads it (in place or
  // in `bytes`): its next bit once pass 1 is done with it, and its end.
  struct Area {
    std::uint32_t pos;
    std::uint32_t end;
  };
  Area areas[kFastBlocks];
  // A block's position is the scan position of the last coefficient stored: 0 when it holds
  // only its DC.
  DvBlockState block_states[kFastBlocks];
  std::uint8_t block_mode[kFastBlocks];
  std::uint8_t block_pattern[kFastBlocks];  // step pattern (class and QNO)
  // 1 when the block holds an amplitude of 64 or more, which may saturate in dequantisation.
  std::uint8_t block_big[kFastBlocks];
};

// A segment's 400 bytes into its copy in FastSegments::bytes, and zeros in the padding the
// reader peeks into.
void copy_segment_sse2(std::uint8_t* dst, const std::uint8_t* src);

// Parses `count` (1..kFastSegments) segments, segments[j] being the first of the five DIF
// blocks of segment j. Not modified. When the caller vouches that the bytes up to readable_end
// may be read and every segment ends 8 bytes or more before it (and the segments follow the
// first within 16 MiB), they are read where they lie; otherwise they are copied first.
void parse_segments_fast(FastSegments& st, const std::uint8_t* const* segments, std::size_t count,
                         const std::uint8_t* readable_end = nullptr);

}  // namespace avikit::dv
