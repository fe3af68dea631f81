#include "video/raw_convert.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "container/byte_cursor.h"

namespace avikit {

namespace {

using container::le16;
using container::le32;

constexpr std::size_t kHeaderBytes = 40;
constexpr std::uint32_t kBitfields = 3;  // BI_BITFIELDS: red, green, blue masks follow the header

struct RawGeometry {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t bits = 0;
  bool rgb565 = false;  // 16 bits: five red, six green, five blue
  std::uint64_t source_stride = 0;
  std::uint64_t destination_stride = 0;
};

std::uint64_t dib_stride(std::uint64_t bits, std::uint64_t width) {
  return ((bits * width + 31) >> 3) & ~std::uint64_t{3};
}

// The colour table as blue-green-red triplets; entries the block does not hold stay black.
std::array<std::array<std::uint8_t, 3>, 256> palette(std::span<const std::uint8_t> format) {
  std::array<std::array<std::uint8_t, 3>, 256> table{};
  const std::size_t held = (format.size() - kHeaderBytes) / 4;
  for (std::size_t i = 0; i < std::min<std::size_t>(held, table.size()); ++i) {
    const std::uint8_t* q = format.data() + kHeaderBytes + 4 * i;
    table[i] = {q[0], q[1], q[2]};
  }
  return table;
}

void convert_indexed_row(const std::uint8_t* src, std::uint8_t* dst, const RawGeometry& g,
                         const std::array<std::array<std::uint8_t, 3>, 256>& table) {
  const std::uint32_t per_byte = 8 / g.bits;
  const auto mask = static_cast<std::uint32_t>((1u << g.bits) - 1);
  for (std::uint32_t x = 0; x < g.width; ++x) {
    const std::uint32_t byte = src[x / per_byte];
    // The first pixel of a byte is in its most significant bits.
    const std::uint32_t shift = 8 - g.bits * (x % per_byte + 1);
    const auto& c = table[(byte >> shift) & mask];
    std::memcpy(dst + 3 * std::size_t{x}, c.data(), 3);
  }
}

template <std::uint32_t kMax>
constexpr std::array<std::uint8_t, kMax + 1> expansion() {
  std::array<std::uint8_t, kMax + 1> t{};
  for (std::uint32_t c = 0; c <= kMax; ++c) t[c] = static_cast<std::uint8_t>(c * 255 / kMax);
  return t;
}

void convert_16_row(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t width, bool rgb565) {
  static constexpr auto expand5 = expansion<31>();
  static constexpr auto expand6 = expansion<63>();
  for (std::uint32_t x = 0; x < width; ++x) {
    const std::uint32_t w = le16(src + 2 * std::size_t{x});
    dst[3 * std::size_t{x}] = expand5[w & 31];
    dst[3 * std::size_t{x} + 1] = rgb565 ? expand6[(w >> 5) & 63] : expand5[(w >> 5) & 31];
    dst[3 * std::size_t{x} + 2] = expand5[(w >> (rgb565 ? 11 : 10)) & 31];
  }
}

void convert_32_row(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t width) {
  for (std::uint32_t x = 0; x < width; ++x) {
    std::memcpy(dst + 3 * std::size_t{x}, src + 4 * std::size_t{x}, 3);
  }
}

bool overlap(std::span<const std::uint8_t> a, std::span<std::uint8_t> b) {
  const auto a0 = reinterpret_cast<std::uintptr_t>(a.data());
  const auto b0 = reinterpret_cast<std::uintptr_t>(b.data());
  return a0 < b0 + b.size() && b0 < a0 + a.size();
}

void convert_24_row(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t width) {
  std::memcpy(dst, src, 3 * std::size_t{width});
}

bool supported_depth(std::uint32_t bits, bool with_24) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 32 || (with_24 && bits == 24);
}

// Converts `rows` stored rows; stored row y lands on destination row y, or rows - 1 - y when the
// source is top-down.
void convert_rows(std::span<const std::uint8_t> format, std::span<const std::uint8_t> source,
                  std::span<std::uint8_t> destination, const RawGeometry& g, bool top_down) {
  const std::uint64_t rows =
      std::min<std::uint64_t>(g.height, destination.size() / g.destination_stride);
  const std::uint64_t whole_source_rows = source.size() / g.source_stride;
  const auto table = g.bits <= 8 ? palette(format) : std::array<std::array<std::uint8_t, 3>, 256>{};
  for (std::uint64_t y = 0; y < rows; ++y) {
    const std::uint64_t out_row = top_down ? rows - 1 - y : y;
    std::uint8_t* dst = destination.data() + out_row * g.destination_stride;
    if (y >= whole_source_rows) {
      std::memset(dst, 0, g.destination_stride);
      continue;
    }
    const std::uint8_t* src = source.data() + y * g.source_stride;
    if (g.bits <= 8) {
      convert_indexed_row(src, dst, g, table);
    } else if (g.bits == 16) {
      convert_16_row(src, dst, g.width, g.rgb565);
    } else if (g.bits == 24) {
      convert_24_row(src, dst, g.width);
    } else {
      convert_32_row(src, dst, g.width);
    }
  }
}

// The geometry of the format block's header, or nothing (bits 0) when it cannot be converted.
RawGeometry geometry(std::span<const std::uint8_t> format, std::int64_t height, bool with_24) {
  RawGeometry g;
  const auto width = static_cast<std::int32_t>(le32(format.data() + 4));
  const std::uint32_t bits = le16(format.data() + 14);
  if (height < 1 || width < 1 || !supported_depth(bits, with_24)) return g;
  g.bits = bits;
  g.rgb565 = bits == 16 && le32(format.data() + 16) == kBitfields &&
             format.size() >= kHeaderBytes + 12 && le32(format.data() + 40) == 0xF800 &&
             le32(format.data() + 44) == 0x07E0 && le32(format.data() + 48) == 0x001F;
  g.width = static_cast<std::uint32_t>(width);
  g.height = static_cast<std::uint32_t>(height);
  g.source_stride = dib_stride(g.bits, g.width);
  g.destination_stride = dib_stride(24, g.width);
  return g;
}

bool usable(std::span<const std::uint8_t> format, std::span<const std::uint8_t> source,
            std::span<std::uint8_t> destination) {
  return format.size() >= kHeaderBytes && !source.empty() && !destination.empty() &&
         !overlap(source, destination);
}

std::int64_t stored_height(std::span<const std::uint8_t> format) {
  return static_cast<std::int32_t>(le32(format.data() + 8));
}

}  // namespace

void convert_raw_to_rgb24(std::span<const std::uint8_t> format,
                          std::span<const std::uint8_t> source,
                          std::span<std::uint8_t> destination) {
  if (!usable(format, source, destination)) return;
  const RawGeometry g = geometry(format, stored_height(format), false);
  if (g.bits != 0) convert_rows(format, source, destination, g, false);
}

void convert_top_down_raw_to_rgb24(std::span<const std::uint8_t> format,
                                   std::span<const std::uint8_t> source,
                                   std::span<std::uint8_t> destination) {
  if (!usable(format, source, destination)) return;
  const RawGeometry g = geometry(format, -stored_height(format), true);
  if (g.bits != 0) convert_rows(format, source, destination, g, true);
}

}  // namespace avikit
