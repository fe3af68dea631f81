#include "cli/image_out.h"

#include <gtest/gtest.h>
#include <png.h>

#include <vector>

#include "hostlib/media_fixtures.h"
#include "support/test_paths.h"

namespace {

using avicli::format_frame_path;

TEST(FramePathTest, ExpandsOneIntegerConversion) {
  std::string out;
  ASSERT_TRUE(format_frame_path("f%04d.png", 7, &out));
  EXPECT_EQ(out, "f0007.png");
  ASSERT_TRUE(format_frame_path("dir/%d-x.png", 123, &out));
  EXPECT_EQ(out, "dir/123-x.png");
  EXPECT_FALSE(format_frame_path("frames.png", 1, &out));
  EXPECT_FALSE(format_frame_path("f%s.png", 1, &out));
  EXPECT_FALSE(format_frame_path("f%d%d.png", 1, &out));
  EXPECT_FALSE(format_frame_path("f%d%n.png", 1, &out));
}

TEST(WavWriterTest, HeaderCarriesFormatAndPatchedSizes) {
  const std::string path = avitest::temp_path("out.wav");
  {
    avicli::WavWriter w;
    ASSERT_TRUE(w.open(path, 48000, 2, true));
    const std::int16_t s[4] = {1, -1, 32767, -32768};
    ASSERT_TRUE(w.write(s, 4));
    ASSERT_TRUE(w.finish());
  }
  const std::string bytes = avitest::read_file(path);
  ASSERT_EQ(bytes.size(), 44u + 8u);
  EXPECT_EQ(bytes.substr(0, 4), "RIFF");
  EXPECT_EQ(hostlib_test::le32(&bytes[4]), 44u);
  EXPECT_EQ(hostlib_test::le32(&bytes[24]), 48000u);
  EXPECT_EQ(hostlib_test::le32(&bytes[28]), 192000u);
  EXPECT_EQ(hostlib_test::le32(&bytes[40]), 8u);
  EXPECT_EQ(std::uint8_t(bytes[50]), 0x00);  // -32768 little-endian
  EXPECT_EQ(std::uint8_t(bytes[51]), 0x80);
}

TEST(PngWriterTest, BottomUpBgrComesBackTopDownRgb) {
  // Two rows, two pixels, padded stride; the bottom row is first in memory.
  const std::uint8_t pixels[2 * 8] = {1, 2, 3, 4,  5,  6,  0, 0,   // bottom row
                                      7, 8, 9, 10, 11, 12, 0, 0};  // top row
  const std::string path = avitest::temp_path("out.png");
  ASSERT_TRUE(avicli::write_png_from_bgr(path, pixels, 2, 2, 8, true));
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str()));
  image.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
  EXPECT_EQ(rgb, (std::vector<std::uint8_t>{9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4}));
}

}  // namespace
