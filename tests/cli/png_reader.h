#pragma once
// A PNG the tool wrote, read back as top-down RGB.

#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

namespace clitest {

struct Rgb {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;  // top-down RGB
  const std::uint8_t* at(int x, int y) const {
    return &pixels[static_cast<std::size_t>(y * width + x) * 3];
  }
};

inline bool read_png(const std::string& path, Rgb* out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  *out = {static_cast<int>(image.width), static_cast<int>(image.height),
          std::vector<std::uint8_t>(PNG_IMAGE_SIZE(image))};
  return png_image_finish_read(&image, nullptr, out->pixels.data(), 0, nullptr) != 0;
}

}  // namespace clitest
