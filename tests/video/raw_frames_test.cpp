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

TEST(RawConvertTest, EightBitsComeFromTheColourTable) {
  // One row of 4 pixels: indices 0, 1, 255, 7.
  const Bytes out = convert(header(4, 1, 8, 256), {0, 1, 255, 7}, 12);
  EXPECT_EQ(out, (Bytes{0, 0, 0, 1, 2, 3, 255, 254, 253, 7, 14, 21}));
}

TEST(RawConvertTest, FourAndOneBitsTakeTheHighBitsFirst) {
  EXPECT_EQ(convert(header(3, 1, 4, 16), {0x12, 0x30, 0, 0}, 12),
            (Bytes{1, 2, 3, 2, 4, 6, 3, 6, 9, 0xAB, 0xAB, 0xAB}));  // row padding untouched
  EXPECT_EQ(convert(header(3, 1, 1, 2), {0xA0, 0, 0, 0}, 12),
            (Bytes{1, 2, 3, 0, 0, 0, 1, 2, 3, 0xAB, 0xAB, 0xAB}));
}

TEST(RawConvertTest, SixteenBitsSpreadFiveBitComponents) {
  // 0x7FFF white, 0x001F pure blue, 0x03E0 pure green, 0x0421 each component 1 (-> 8).
  const Bytes out = convert(header(4, 1, 16), {0xFF, 0x7F, 0x1F, 0x00, 0xE0, 0x03, 0x21, 0x04}, 12);
  EXPECT_EQ(out, (Bytes{255, 255, 255, 255, 0, 0, 0, 255, 0, 8, 8, 8}));
}

TEST(RawConvertTest, ThirtyTwoBitsDropTheFourthByte) {
  EXPECT_EQ(convert(header(2, 1, 32), {1, 2, 3, 4, 5, 6, 7, 8}, 8),
            (Bytes{1, 2, 3, 5, 6, 7, 0xAB, 0xAB}));
}

TEST(RawConvertTest, TopDownRowsAreTurnedOver) {
  // Two rows of one 24-bit pixel each (rows padded to 4 bytes).
  const Bytes out = convert(header(1, -2, 24), {1, 2, 3, 0, 4, 5, 6, 0}, 8, true);
  EXPECT_EQ(out, (Bytes{4, 5, 6, 0xAB, 1, 2, 3, 0xAB}));
}

TEST(RawConvertTest, ShortSourceLeavesMissingRowsBlackAndPaletteGapsBlack) {
  // Three rows of 4 bytes wanted, one and a half given; the table holds 2 of 256 entries.
  const Bytes out = convert(header(4, 3, 8, 2), {1, 1, 1, 1, 9, 9}, 36);
  Bytes want(36, 0);
  for (int x = 0; x < 4; ++x)
    std::memcpy(&want[3 * static_cast<std::size_t>(x)], "\x01\x02\x03", 3);
  EXPECT_EQ(out, want);
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

class RawStreamTest : public ::testing::Test {
 protected:
  void open(const RawClip& c) {
    clip_ = std::make_unique<avitest::MemoryFile>("mem://raw/clip.avi", build(c));
    ASSERT_TRUE(reader_.open(clip_->name(), USE_VIDEO));
    ASSERT_EQ(reader_.prepare_output(-1, 0), 1);
  }
  std::string picture(std::uint32_t f) {
    EXPECT_EQ(reader_.file()->decode_frame(f, reader_.frame().LockBits()), 1);
    return std::string(reinterpret_cast<const char*>(reader_.frame().LockBits()),
                       reader_.frame().image_bytes());
  }
  std::unique_ptr<avitest::MemoryFile> clip_;
  VideoMediaReader reader_;
};

TEST_F(RawStreamTest, ChunkLargerThanTheBitmapIsReadOnlyAsFarAsItHolds) {
  std::string big(4000, '\x11');
  std::memset(big.data(), 0x22, 24);
  open({24, 2, {big}, {}});
  ASSERT_EQ(reader_.frame().image_bytes(), 24u);
  EXPECT_EQ(picture(0), std::string(24, '\x22'));
  EXPECT_TRUE(reader_.file()->frame_buffer_.empty());  // 24 bits read straight into the bitmap
}

TEST_F(RawStreamTest, ShortChunkShowsBlackWhereItEnds) {
  open({24, 2, {std::string(24, '\x33'), std::string(10, '\x44')}, {}});
  EXPECT_EQ(picture(0), std::string(24, '\x33'));
  EXPECT_EQ(picture(1), std::string(10, '\x44') + std::string(14, '\0'));
}

TEST_F(RawStreamTest, EmptyChunkLeavesThePreviousPicture) {
  open({24, 2, {std::string(24, '\x55'), std::string()}, {}});
  EXPECT_EQ(picture(0), std::string(24, '\x55'));
  EXPECT_EQ(picture(1), std::string(24, '\x55'));
}

TEST_F(RawStreamTest, EightBitStreamUsesTheFileColourTable) {
  std::string palette;
  for (int i = 0; i < 256; ++i) palette += std::string{char(i), char(0), char(255 - i), '\0'};
  open({8, 2, {std::string("\x00\x01\x02\x03\x04\x05\x06\x07", 8)}, palette});
  EXPECT_FALSE(reader_.file()->frame_buffer_.empty());  // 8 and 24 bits differ: read, convert
  const std::string p = picture(0);
  ASSERT_EQ(p.size(), 24u);
  EXPECT_EQ(p.substr(0, 6), std::string("\x00\x00\xFF\x01\x00\xFE", 6));
  EXPECT_EQ(p.substr(21, 3), std::string("\x07\x00\xF8", 3));
}

TEST_F(RawStreamTest, TopDownStreamFillsABottomUpBitmap) {
  std::string rows = std::string(12, '\x01') + std::string(12, '\x02');  // top row first
  open({24, -2, {rows}, {}});
  ASSERT_EQ(reader_.frame().height(), 2);
  EXPECT_EQ(picture(0), std::string(12, '\x02') + std::string(12, '\x01'));
}

}  // namespace
