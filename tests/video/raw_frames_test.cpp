// Uncompressed streams: the depth conversions into 24-bit rows, and reads that never run past
// the bitmap whatever a chunk's size.

#include <gtest/gtest.h>

#include <cstring>

#include "support/avi_builder.h"
#include "video/media_reader.h"
#include "video/raw_convert.h"

using namespace avikit;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes header(std::int32_t width, std::int32_t height, std::uint16_t bits, std::size_t palette = 0,
             Bytes masks = {}) {
  const std::string h =
      avitest::bitmap_info({.width = width,
                            .height = height,
                            .bit_count = bits,
                            .compression_value = masks.empty() ? 0u : 3u});  // 3: BI_BITFIELDS
  Bytes out(h.begin(), h.end());
  out.insert(out.end(), masks.begin(), masks.end());
  for (std::size_t i = 0; i < palette; ++i) {
    // Entry i: blue i, green 2i, red 3i (mod 256), reserved 0xEE.
    out.insert(out.end(), {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(2 * i),
                           static_cast<std::uint8_t>(3 * i), 0xEE});
  }
  return out;
}

Bytes convert(const Bytes& format, const Bytes& source, std::size_t out_bytes,
              bool top_down = false) {
  Bytes out(out_bytes + 8, 0xAB);  // guard bytes after the picture must stay untouched
  std::span<std::uint8_t> dst(out.data(), out_bytes);
  (top_down ? convert_top_down_raw_to_rgb24 : convert_raw_to_rgb24)(format, source, dst);
  for (std::size_t i = out_bytes; i < out.size(); ++i) EXPECT_EQ(out[i], 0xAB) << "guard " << i;
  out.resize(out_bytes);
  return out;
}

// Each depth into BGR rows; 0xAB marks bytes the conversion must leave alone (row padding).
TEST(RawConvertTest, DepthsConvertToBgrRows) {
  const struct {
    Bytes format, source, want;
    bool top_down = false;
    std::size_t black = 0;  // zero bytes after `want`
  } cases[] = {
      // Colour tables of 256, 16 and 2 entries: entry i is blue i, green 2i, red 3i.
      {header(4, 1, 8, 256), {0, 1, 255, 7}, {0, 0, 0, 1, 2, 3, 255, 254, 253, 7, 14, 21}},
      {header(3, 1, 4, 16), {0x12, 0x30, 0, 0}, {1, 2, 3, 2, 4, 6, 3, 6, 9, 0xAB, 0xAB, 0xAB}},
      {header(3, 1, 1, 2), {0xA0, 0, 0, 0}, {1, 2, 3, 0, 0, 0, 1, 2, 3, 0xAB, 0xAB, 0xAB}},
      // 0x7FFF white, 0x001F blue, 0x03E0 green, 0x0421 each five-bit component 1 (-> 8).
      {header(4, 1, 16),
       {0xFF, 0x7F, 0x1F, 0, 0xE0, 3, 0x21, 4},
       {255, 255, 255, 255, 0, 0, 0, 255, 0, 8, 8, 8}},
      // BI_BITFIELDS with the 5-6-5 masks: 0xF800 red, 0x07E0 green, 0x0821 components 1 (-> 8, 4).
      {header(4, 1, 16, 0, {0, 0xF8, 0, 0, 0xE0, 7, 0, 0, 0x1F, 0, 0, 0}),
       {0, 0xF8, 0xE0, 7, 0x1F, 0, 0x21, 8},
       {0, 0, 255, 0, 255, 0, 255, 0, 0, 8, 4, 8}},
      {header(2, 1, 32),
       {1, 2, 3, 4, 5, 6, 7, 8},
       {1, 2, 3, 5, 6, 7, 0xAB, 0xAB}},  // no fourth byte
      // Top-down rows of one 24-bit pixel each, turned over.
      {header(1, -2, 24), {1, 2, 3, 0, 4, 5, 6, 0}, {4, 5, 6, 0xAB, 1, 2, 3, 0xAB}, true},
      // Three rows wanted, one and a half given, two of 256 table entries: the rest is black.
      {header(4, 3, 8, 2), {1, 1, 1, 1, 9, 9}, {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3}, false, 24},
  };
  for (const auto& c : cases) {
    Bytes want = c.want;
    want.resize(want.size() + c.black, 0);
    EXPECT_EQ(convert(c.format, c.source, want.size(), c.top_down), want);
  }
}

TEST(RawConvertTest, RefusedInputsConvertNothing) {
  const Bytes src(64, 7);
  for (const Bytes& format : {header(4, 0, 8, 4), header(4, -2, 8, 4), header(4, 1, 0),
                              header(4, 1, 33), header(4, 1, 24), header(0, 1, 8, 4)}) {
    EXPECT_EQ(convert(format, src, 12), Bytes(12, 0xAB));
  }
  Bytes same(64, 1);
  convert_raw_to_rgb24(header(4, 1, 8, 4), same, same);  // source and destination the same
  EXPECT_EQ(same, Bytes(64, 1));
}

// --- Raw streams through the reader --------------------------------------------------------------

struct RawClip {
  std::uint16_t bits = 24;
  std::int32_t height = 2;
  std::vector<std::string> chunks;
  std::string palette;
  std::string change;  // a palette change ("00pc") before the last chunk
};

std::string build(const RawClip& c) {
  avitest::AviBuilder b;
  const int s =
      b.add_video({.width = 4, .height = c.height, .bit_count = c.bits, .strf_extra = c.palette});
  for (const std::string& chunk : c.chunks) {
    if (!c.change.empty() && &chunk == &c.chunks.back()) {
      b.add_chunk(s, static_cast<std::uint32_t>(c.change.size()), false, c.change, "00pc");
    }
    b.add_chunk(s, static_cast<std::uint32_t>(chunk.size()), true, chunk);
  }
  return b.build().bytes;
}

// Pictures frame by frame of 4x2 streams; `straight`: read into the bitmap without a
// conversion buffer.
TEST(RawStreamTest, ChunksOfAnySizeFillTheBitmapWithoutRunningPastIt) {
  const std::string big = std::string(24, '\x22') + std::string(4000, '\x11');
  const std::string s24(24, '\x55'), top_first = std::string(12, 1) + std::string(12, 2);
  std::string palette, indexed, from_palette;  // blue i, red 255 - i
  for (int i = 0; i < 256; ++i) palette += std::string{char(i), char(0), char(255 - i), '\0'};
  for (char i = 0; i < 8; ++i) indexed += i, from_palette += std::string{i, 0, char(255 - i)};
  const struct {
    RawClip clip;
    std::vector<std::string> pictures;
    bool straight;
  } cases[] = {
      {{24, 2, {big}, {}, {}}, {std::string(24, '\x22')}, true},  // read only as far as it holds
      {{24, 2, {s24, std::string(10, 4)}, {}, {}},
       {s24, std::string(10, 4) + std::string(14, 0)},
       true},
      {{24, 2, {s24, ""}, {}, {}}, {s24, s24}, true},  // an empty chunk keeps the picture
      {{8, 2, {indexed}, palette, {}}, {from_palette}, false},
      // Entries 1 and 2 become red and green (stored red, green, blue, flags) from frame 2 on.
      {{8, 2, {indexed, indexed, indexed}, palette, {1, 2, 0, 0, '\xFF', 0, 0, 0, 0, '\xFF', 0, 0}},
       {from_palette, from_palette,
        from_palette.substr(0, 3) + std::string("\0\0\xFF\0\xFF\0", 6) + from_palette.substr(9)},
       false},
      {{24, -2, {top_first}, {}, {}}, {std::string(12, 2) + std::string(12, 1)}, false},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(n);
    const avitest::MemoryFile clip("mem://raw/" + std::to_string(n++), build(c.clip));
    VideoMediaReader reader;
    ASSERT_TRUE(reader.open(clip.file(), USE_VIDEO));
    ASSERT_EQ(reader.prepare_output(-1, 0), 1);
    CNewDib& bitmap = reader.frame();
    ASSERT_EQ(bitmap.image_bytes(), 24u);
    EXPECT_EQ(reader.file()->frame_buffer_.empty(), c.straight);
    // Forwards, then backwards: a seek sees what playing up to the frame would show.
    for (std::uint32_t i = 0; i < 2 * c.pictures.size(); ++i) {
      const auto f =
          static_cast<std::uint32_t>(i < c.pictures.size() ? i : 2 * c.pictures.size() - 1 - i);
      EXPECT_EQ(reader.file()->decode_frame(f, bitmap.LockBits()), 1);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(bitmap.LockBits()), 24), c.pictures[f])
          << "frame " << f;
    }
  }
}

}  // namespace
