#pragma once
// Decoding of one video segment (five compressed macroblocks, 30 blocks) of 25 Mbit/s DV:
// block headers, AC codes spread over the blocks' areas in the three passes of IEC 61834-2,
// dequantisation and inverse weighting.
//
// The routines named after the decoder's design (dv_parse_segment, dv_decode_block_ac,
// dv_read_bit, dv_dequantize, dv_weight) are the plain reference: one bit per tree step, one
// stage after another. The frame decoder uses parse_segments_fast (dv/segment_fast.h).

#include <array>
#include <cstddef>
#include <cstdint>

#include "dv/tables.h"

namespace avikit::dv {

inline constexpr std::size_t kSegmentBytes = 400;  // five DIF blocks of 80 bytes
inline constexpr int kBlocks = 30;

// One block's area of the segment, in bits from the start of the segment's bytes.
struct DvBitReader {
  const std::uint8_t* bytes;  // the bits read, first bit most significant
  std::uint32_t pos;
  std::uint32_t end;
};

struct DvBlockState {
  std::int32_t node;      // tree node of a partial code; 0 = root; -1 once the block is finished
  std::int32_t position;  // scan position of the last coefficient written (0 = the DC)
};

// The per-segment state of the reference.
struct SegmentState {
  // The segment's bytes, copied so that the caller's frame stays untouched.
  alignas(16) std::uint8_t bytes[kSegmentBytes + 16];
  // Block b of macroblock m is block 6m + b, in raster order.
  alignas(32) std::int16_t coeffs[kBlocks][64];
  DvBitReader readers[kBlocks];
  DvBlockState block_states[kBlocks];
  std::uint32_t qno[5];
  std::uint32_t block_mode[kBlocks];   // 0 = 8x8, 1 = 2-4-8
  std::uint32_t block_class[kBlocks];  // 0..3
};

// Copies the segment's 400 bytes into st.bytes and sets the 30 readers to the blocks' areas.
void dv_init_bit_readers(SegmentState& st, const std::uint8_t* segment);

// 0 or 1, or -1 with nothing changed when the reader has no bits left.
int dv_read_bit(DvBitReader& r);

// Walks the code tree over r's bits, storing the block's coefficients (raster order, values as
// coded: amplitude x 16). Returns -1 once the block is finished (end of block, invalid code, or
// a run past position 63), otherwise the node of the partial code at which r ran dry.
int dv_decode_block_ac(DvBitReader& r, DvBlockState& s, std::int16_t* coeffs, std::uint32_t mode);

// Reference parse: headers, QNOs and the three passes; raster coefficients as coded.
void dv_parse_segment(SegmentState& st, const std::uint8_t* segment);
// Every cell times its factor, computed in 32 bits and saturated to 16.
void dv_dequantize(std::int16_t* coeffs, const StepTable& steps);
// Every cell: the upper half of cell x weight, plus 1 with saturation, shifted right by one.
void dv_weight(std::int16_t* coeffs, const std::array<std::int16_t, 64>& weights);
// Reference decode of a segment into 30 blocks of samples 0..255 (raster order, int16 cells).
void dv_decode_segment(SegmentState& st, const std::uint8_t* segment);

}  // namespace avikit::dv
