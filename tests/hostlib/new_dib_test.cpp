#include "hostlib/new_dib.h"

#include <avikit/image.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "hostlib/colour_convert.h"
#include "hostlib/dib_convert.h"
#include "platform/sync.h"

using namespace avikit;

namespace {

using platform::fourcc;

// After the table of virtual methods: tag, word, memory, header, direct flag, three words.
TEST(CNewDibTest, FieldsStandInTheirFixedOrder) {
  CNewDib d;
  const auto at = [&](const void* field) {
    return static_cast<std::size_t>(static_cast<const char*>(field) -
                                    reinterpret_cast<const char*>(&d));
  };
  const std::size_t p = sizeof(void*);
  EXPECT_EQ(std::vector({at(&d.tag), at(&d.image_size), at(&d.memory), at(&d.header), at(&d.direct),
                         at(&d.reserved[0])}),
            std::vector({p, p + 4, p + 8, 2 * p + 8, 3 * p + 8, 3 * p + 12}));
  EXPECT_EQ(std::tuple(d.tag, d.direct), std::tuple(fourcc("BIDN"), 1));
}

// Rows padded to four bytes (24 and 16 bits); YV12 with luma rows of the padded width and two
// chroma planes of half the rows, rounded up.
TEST(CNewDibTest, CreateSizesRowsLikeADibAndRefusesBadSizes) {
  const std::uint32_t yuy2 = fourcc("YUY2"), yv12 = fourcc("YV12");
  const struct {
    int width, height, bits, pitch;
    std::uint32_t bytes, compression;
  } cases[] = {
      {720, 576, 24, 2160, 2160 * 576, 0},          {5, 3, 24, 16, 48, 0},
      {720, 576, 16, 1440, 1440 * 576, yuy2},       {3, 2, 16, 8, 16, yuy2},
      {720, 576, 12, 720, 720 * 576 * 3 / 2, yv12}, {5, 3, 12, 8, 8 * 3 + 2 * 4 * 2, yv12},
  };
  for (const auto& c : cases) {
    for (const bool movable : {false, true}) {
      SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " bits " +
                   std::to_string(c.bits) + (movable ? " movable" : ""));
      CNewDib d;
      ASSERT_EQ(d.Create(c.width, c.height, c.bits, movable), 1);
      EXPECT_EQ(std::tuple(d.GetPitch(), d.header->biSizeImage, d.header->biCompression, d.direct),
                std::tuple(c.pitch, c.bytes, c.compression, movable ? 0 : 1));
      std::uint8_t* p = d.LockBits();
      ASSERT_NE(p, nullptr);
      // The module reaches the pixels of a movable bitmap itself with GlobalLock.
      EXPECT_TRUE(!movable || (platform::GlobalLock(d.memory) == p &&
                               platform::GlobalSize(d.memory) == c.bytes));
      std::memset(p, 0x11, c.bytes);  // the whole picture is writable
    }
  }
  // Bad sizes and depths are refused.
  CNewDib d;
  const int bad[][3] = {{0, 10, 24}, {10, -1, 24}, {10, 10, 32}, {10, 10, 8}, {100000, 10, 24}};
  for (const auto& [w, h, bits] : bad)
    EXPECT_TRUE(d.Create(w, h, bits, false) == 0 && d.LockBits() == nullptr) << w << " " << bits;
}

// Random samples over the whole picture.
void fill_random(CNewDib& d, unsigned seed) {
  std::mt19937 rng(seed);
  for (std::uint32_t i = 0; i < d.image_bytes(); ++i)
    d.LockBits()[i] = static_cast<std::uint8_t>(rng());
}

TEST(CNewDibTest, AssignmentCopiesThePicture) {
  CNewDib a, b;
  ASSERT_EQ(a.Create(7, 5, 24, true), 1);
  fill_random(a, 1);
  ASSERT_EQ(b.Create(2, 2, 12, false), 1);
  b = a;
  ASSERT_NE(b.header, nullptr);
  EXPECT_EQ(std::memcmp(b.LockBits(), a.LockBits(), a.image_bytes()), 0);
  a.LockBits()[0] ^= 0xFF;  // a copy, not a share
  EXPECT_NE(b.LockBits()[0], a.LockBits()[0]);
  b = b;
  EXPECT_EQ(b.width(), 7);
  const CNewDib c(a);
  EXPECT_EQ(std::memcmp(c.LockBits(), a.LockBits(), a.image_bytes()), 0);
  b = CNewDib();
  EXPECT_EQ(b.header, nullptr);
}

TEST(DibConvertTest, PackedToRgbPlacesAndClipsTheRectangle) {
  const int w = 6, h = 4;
  std::vector<std::uint8_t> yuy2(static_cast<std::size_t>(w * 2 * h));
  for (std::size_t i = 0; i < yuy2.size(); ++i) yuy2[i] = static_cast<std::uint8_t>(16 + 7 * i);
  CNewDib dst;
  ASSERT_EQ(dst.Create(8, 5, 24, false), 1);
  std::uint8_t* out = dst.LockBits();
  const int pitch = dst.GetPitch();
  // Placed at (1, 2): rows 2 to 4 of the picture (stored bottom-up) get the first three source
  // rows from column 1 on; the rest of the rectangle falls outside, the rest of the picture stays.
  ASSERT_EQ(YUY2_2_Rgb24(out, 5, pitch, 1, 2, w, h, yuy2.data(), w * 2, 1, 0, 0), 1);
  std::vector<std::uint8_t> want(static_cast<std::size_t>(pitch) * 5, 0);
  for (int sy = 0; sy < 3; ++sy)
    hostlib::packed422_row_scalar(yuy2.data() + sy * w * 2, want.data() + (2 - sy) * pitch + 3, w,
                                  true);
  EXPECT_EQ(std::vector(out, out + want.size()), want);
  EXPECT_EQ(YUY2_2_Rgb24(nullptr, 5, pitch, 0, 0, w, h, yuy2.data(), w * 2, 1, 0, 0), 0);
  EXPECT_EQ(YUY2_2_Rgb24(out, 5, pitch, 0, 0, w, h, yuy2.data(), w, 1, 0, 0), 0);  // short rows
}

TEST(DibConvertTest, DibToImageGivesTopDownPixelsForEveryFormat) {
  const int w = 9, h = 4;
  CNewDib yv12;
  ASSERT_EQ(yv12.Create(w, h, 12, false), 1);
  fill_random(yv12, 5);
  CNewDib rgb;
  ASSERT_EQ(YV12_2_RGB(rgb, yv12), 1);
  Image from_yv12(w, h, 1, 0);
  ASSERT_EQ(DibToImage(from_yv12, yv12), 1);
  Image from_rgb(1, 1, 1, 0);  // resized to the bitmap
  ASSERT_EQ(DibToImage(from_rgb, rgb), 1);
  ASSERT_EQ(from_rgb.width(), w);
  for (int y = 0; y < h; ++y)
    EXPECT_EQ(std::memcmp(from_rgb.row(y), from_yv12.row(y), w * 3), 0) << y;
  CNewDib yuy2;
  ASSERT_EQ(yuy2.Create(w, h, 16, true), 1);
  fill_random(yuy2, 6);
  Image from_yuy2(w, h, 1, 0);
  ASSERT_EQ(DibToImage(from_yuy2, yuy2), 1);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(w) * 3);
  hostlib::packed422_row_scalar(yuy2.LockBits() + yuy2.GetPitch(), row.data(), w, true);
  EXPECT_EQ(std::memcmp(from_yuy2.row(1), row.data(), row.size()), 0);
  CNewDib empty;
  EXPECT_EQ(DibToImage(from_yuy2, empty), 0);
  EXPECT_EQ(YV12_2_RGB(empty, rgb), 0);  // not a YV12 source
}

// Images the players hand out.
TEST(ImageTest, RowsArePaddedAndBadSizesGiveAnEmptyImage) {
  const Image i(5, 3, 1, 0), bad(-1, 3, 1, 0), other(4, 4, 2, 0);  // other: a format it lacks
  EXPECT_EQ(std::tuple(i.pitch(), i.data() != nullptr, i.row(2) - i.row(0)),
            std::tuple(16, true, 32));
  EXPECT_TRUE(bad.data() == nullptr && bad.width() == 0 && other.data() == nullptr);
}

}  // namespace
