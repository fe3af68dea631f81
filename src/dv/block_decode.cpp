#include "dv/block_decode.h"

#include <cstring>

#include "dv/idct.h"
#include "dv/simd_helpers.h"
#include "dv/vlc.h"

namespace avikit::dv {

namespace {

// Byte offset of each block's area in its DIF block, and the area's length in bits.
constexpr std::uint32_t kAreaOffset[6] = {4, 18, 32, 46, 60, 70};
constexpr std::uint32_t kAreaBits[6] = {112, 112, 112, 112, 80, 80};

}  // namespace

void dv_init_bit_readers(SegmentState& st, const std::uint8_t* segment) {
  std::memcpy(st.bytes, segment, kSegmentBytes);
  std::memset(st.bytes + kSegmentBytes, 0, sizeof st.bytes - kSegmentBytes);
  for (std::uint32_t m = 0; m < 5; ++m) {
    for (std::uint32_t b = 0; b < 6; ++b) {
      const std::uint32_t start = (80 * m + kAreaOffset[b]) * 8;
      st.readers[6 * m + b] = DvBitReader{st.bytes, start, start + kAreaBits[b]};
    }
  }
}

int dv_read_bit(DvBitReader& r) {
  if (r.pos >= r.end) return -1;
  const int bit = (r.bytes[r.pos >> 3] >> (7 - (r.pos & 7))) & 1;
  ++r.pos;
  return bit;
}

int dv_decode_block_ac(DvBitReader& r, DvBlockState& s, std::int16_t* coeffs, std::uint32_t mode) {
  if (s.node < 0) return -1;
  const auto& scan = mode != 0 ? dv_scan_248 : dv_scan_88;
  // Each step reads a bit or ends a code; no code is longer than 16 bits, so the walk ends when
  // the reader is dry or the block is finished.
  for (;;) {
    const std::uint32_t node = dv_vlc_tree[static_cast<std::size_t>(s.node)];
    switch (node_kind(node)) {
      case kBranch: {
        const int bit = dv_read_bit(r);
        if (bit < 0) return s.node;
        s.node = static_cast<std::int32_t>(node_child(node)) + bit;
        break;
      }
      case kSymbol:
        s.position += static_cast<std::int32_t>(node_run(node)) + 1;
        if (s.position >= 64) {
          s.node = -1;
          return -1;
        }
        coeffs[scan[static_cast<std::size_t>(s.position)]] = node_value(node);
        s.node = 0;
        break;
      case kEnd:
      case kInvalid:
        s.node = -1;
        return -1;
    }
  }
}

namespace detail {

// The 12-bit block header at the start of an area: 9-bit DC (two's complement), DCT mode, class.
struct BlockHeader {
  std::int16_t dc;
  std::uint32_t mode;
  std::uint32_t klass;
};
inline BlockHeader read_header(DvBitReader& r) {
  const std::uint8_t* p = r.bytes + (r.pos >> 3);  // areas start on a byte
  const std::uint32_t h = std::uint32_t{p[0]} << 4 | std::uint32_t{p[1]} >> 4;
  r.pos += 12;
  const auto dc9 = static_cast<std::int32_t>(h >> 3);
  return {static_cast<std::int16_t>(dc9 >= 256 ? dc9 - 512 : dc9), (h >> 2) & 1, h & 3};
}

}  // namespace detail

void dv_parse_segment(SegmentState& st, const std::uint8_t* segment) {
  dv_init_bit_readers(st, segment);
  std::memset(st.block_states, 0, sizeof st.block_states);
  std::memset(st.coeffs, 0, sizeof st.coeffs);
  for (std::size_t m = 0; m < 5; ++m) {
    st.qno[m] = st.bytes[80 * m + 3] & 15U;
    for (std::size_t i = 6 * m; i < 6 * m + 6; ++i) {
      const auto h = detail::read_header(st.readers[i]);
      st.coeffs[i][0] = h.dc;
      st.block_mode[i] = h.mode;
      st.block_class[i] = h.klass;
    }
    for (std::size_t i = 6 * m; i < 6 * m + 6; ++i) {
      dv_decode_block_ac(st.readers[i], st.block_states[i], st.coeffs[i], st.block_mode[i]);
    }
    // Pass 2: what the macroblock's blocks left over, in block order.
    for (std::size_t i = 6 * m; i < 6 * m + 6; ++i) {
      for (std::size_t j = 6 * m; j < 6 * m + 6; ++j) {
        if (dv_decode_block_ac(st.readers[j], st.block_states[i], st.coeffs[i], st.block_mode[i]) <
            0) {
          break;
        }
      }
    }
  }
  // Pass 3: what the whole segment left over.
  for (std::size_t i = 0; i < kBlocks; ++i) {
    for (std::size_t j = 0; j < kBlocks; ++j) {
      if (dv_decode_block_ac(st.readers[j], st.block_states[i], st.coeffs[i], st.block_mode[i]) <
          0) {
        break;
      }
    }
  }
}

void dv_dequantize(std::int16_t* coeffs, const StepTable& steps) {
  for (std::size_t i = 0; i < 64; ++i) {
    coeffs[i] = detail::sat16(std::int32_t{coeffs[i]} * steps[i]);
  }
}

void dv_weight(std::int16_t* coeffs, const std::array<std::int16_t, 64>& weights) {
  for (std::size_t i = 0; i < 64; ++i) {
    const std::int16_t hi = detail::mulhi16(coeffs[i], weights[i]);
    coeffs[i] = static_cast<std::int16_t>(detail::sat_add16(hi, 1) >> 1);
  }
}

void dv_decode_segment(SegmentState& st, const std::uint8_t* segment) {
  dv_parse_segment(st, segment);
  for (std::size_t i = 0; i < kBlocks; ++i) {
    std::int16_t* c = st.coeffs[i];
    const std::size_t pattern = dv_quant_index[st.block_class[i]][st.qno[i / 6]];
    const bool field = st.block_mode[i] != 0;
    dv_dequantize(c, field ? dv_quant_steps_248[pattern] : dv_quant_steps_88[pattern]);
    c[0] = static_cast<std::int16_t>(static_cast<std::uint16_t>(c[0]) * 16U);
    dv_weight(c, field ? dv_weights_248 : dv_weights_88);
    if (field) {
      dv_idct_248(c);
    } else {
      dv_idct_8x8(c);
    }
    for (std::size_t k = 0; k < 64; ++k) c[k] = detail::clamp_u8(c[k] + 128);
  }
}

}  // namespace avikit::dv
