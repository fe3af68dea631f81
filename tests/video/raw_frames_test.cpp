// Uncompressed streams: the depth conversions into 24-bit rows, and reads that never run past
// the bitmap whatever a chunk's size.

#include <gtest/gtest.h>

#include <cstring>

#include "support/avi_builder.h"
#include "video/media_reader.h"
#include "video/raw_convert.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes header(std::int32_t width, std::int32_t height, std::uint16_t bits, std::size_t palette = 0) {
  avitest::BitmapFields f;
  f.width = width;
  f.height = height;
  f.bit_count = bits;
  const std::string h = avitest::bitmap_info(f);
  Bytes out(h.begin(), h.end());
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
  if (top_down) {
    convert_top_down_raw_to_rgb24(format, source, dst);
  } else {
    convert_raw_to_rgb24(format, source, dst);
  }
  for (std::size_t i = out_bytes; i < out.size(); ++i) EXPECT_EQ(out[i], 0xAB) << "guard " << i;
  out.resize(out_bytes);
  return out;
}

struct ConvertCase {
  const char* name;
  Bytes format;
  Bytes source;
  Bytes want;  // 0xAB: bytes the conversion must leave alone
  bool top_down = false;
};

TEST(RawConvertTest, DepthsConvertToBgrRows) {
  const ConvertCase cases[] = {
      // Entry i of the tables: blue i, green 2i, red 3i.
      {"EightBitsComeFromTheColourTable",
       header(4, 1, 8, 256),
       {0, 1, 255, 7},
       {0, 0, 0, 1, 2, 3, 255, 254, 253, 7, 14, 21}},
      {"FourBitsTakeTheHighNibbleFirst",
       header(3, 1, 4, 16),
       {0x12, 0x30, 0, 0},
       {1, 2, 3, 2, 4, 6, 3, 6, 9, 0xAB, 0xAB, 0xAB}},
      {"OneBitTakesTheHighBitFirst",
       header(3, 1, 1, 2),
       {0xA0, 0, 0, 0},
       {1, 2, 3, 0, 0, 0, 1, 2, 3, 0xAB, 0xAB, 0xAB}},
      // 0x7FFF white, 0x001F blue, 0x03E0 green, 0x0421 each component 1 (-> 8).
      {"SixteenBitsSpreadFiveBitComponents",
       header(4, 1, 16),
       {0xFF, 0x7F, 0x1F, 0x00, 0xE0, 0x03, 0x21, 0x04},
       {255, 255, 255, 255, 0, 0, 0, 255, 0, 8, 8, 8}},
      {"ThirtyTwoBitsDropTheFourthByte",
       header(2, 1, 32),
       {1, 2, 3, 4, 5, 6, 7, 8},
       {1, 2, 3, 5, 6, 7, 0xAB, 0xAB}},
      // Two rows of one 24-bit pixel each, rows padded to 4 bytes.
      {"TopDownRowsAreTurnedOver",
       header(1, -2, 24),
       {1, 2, 3, 0, 4, 5, 6, 0},
       {4, 5, 6, 0xAB, 1, 2, 3, 0xAB},
       true},
      // Three rows of 4 bytes wanted, one and a half given; the table holds 2 of 256 entries.
      {"ShortSourceAndPaletteGapsAreBlack",
       header(4, 3, 8, 2),
       {1, 1, 1, 1, 9, 9},
       {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const ConvertCase& c : cases) {
    EXPECT_EQ(convert(c.format, c.source, c.want.size(), c.top_down), c.want) << c.name;
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
};

std::string build(const RawClip& c) {
  avitest::AviBuilder b;
  avitest::VideoStream v;
  v.width = 4;
  v.height = c.height;
  v.bit_count = c.bits;
  v.strf_extra = c.palette;
  const int s = b.add_video(v);
  for (const std::string& chunk : c.chunks) {
    b.add_chunk(s, static_cast<std::uint32_t>(chunk.size()), true, chunk);
  }
  return b.build().bytes;
}

struct StreamCase {
  const char* name;
  RawClip clip;
  std::vector<std::string> pictures;  // frame by frame
  bool read_straight;                 // read into the bitmap without a conversion buffer
};

std::string palette_blue_up_red_down() {
  std::string palette;
  for (int i = 0; i < 256; ++i) palette += std::string{char(i), char(0), char(255 - i), '\0'};
  return palette;
}

TEST(RawStreamTest, ChunksOfAnySizeFillTheBitmapWithoutRunningPastIt) {
  std::string big(4000, '\x11');
  std::memset(big.data(), 0x22, 24);
  const std::string s24(24, '\x55');
  const StreamCase cases[] = {
      {"ChunkLargerThanTheBitmapIsReadOnlyAsFarAsItHolds",
       {24, 2, {big}, {}},
       {std::string(24, '\x22')},
       true},
      {"ShortChunkShowsBlackWhereItEnds",
       {24, 2, {s24, std::string(10, '\x44')}, {}},
       {s24, std::string(10, '\x44') + std::string(14, '\0')},
       true},
      {"EmptyChunkLeavesThePreviousPicture", {24, 2, {s24, std::string()}, {}}, {s24, s24}, true},
      {"EightBitStreamUsesTheFileColourTable",
       {8, 2, {std::string("\x00\x01\x02\x03\x04\x05\x06\x07", 8)}, palette_blue_up_red_down()},
       {std::string("\x00\x00\xFF\x01\x00\xFE\x02\x00\xFD\x03\x00\xFC"
                    "\x04\x00\xFB\x05\x00\xFA\x06\x00\xF9\x07\x00\xF8",
                    24)},
       false},
      {"TopDownStreamFillsABottomUpBitmap",
       {24, -2, {std::string(12, '\x01') + std::string(12, '\x02')}, {}},
       {std::string(12, '\x02') + std::string(12, '\x01')},
       false},
  };
  for (const StreamCase& c : cases) {
    SCOPED_TRACE(c.name);
    const avitest::MemoryFile clip(std::string("mem://raw/") + c.name, build(c.clip));
    VideoMediaReader reader;
    ASSERT_TRUE(reader.open(clip.name(), USE_VIDEO));
    ASSERT_EQ(reader.prepare_output(-1, 0), 1);
    CNewDib& bitmap = reader.frame();
    ASSERT_EQ(bitmap.image_bytes(), 24u);
    EXPECT_EQ(reader.file()->frame_buffer_.empty(), c.read_straight);
    for (std::uint32_t f = 0; f < c.pictures.size(); ++f) {
      EXPECT_EQ(reader.file()->decode_frame(f, bitmap.LockBits()), 1);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(bitmap.LockBits()), 24), c.pictures[f])
          << "frame " << f;
    }
  }
}

}  // namespace
