#pragma once
// A picture handed to the host: 24-bit pixels, blue-green-red, top row first, rows padded to
// four bytes like a DIB.

#include <cstdint>
#include <vector>

namespace avikit {

inline constexpr int kImageFormatBgr24 = 1;

class Image {
 public:
  // `format` must be kImageFormatBgr24 (1); `flags` is reserved (0). A size below 1 in either
  // direction, or above 32768, makes an empty image.
  Image(int width, int height, int format, int flags);
  ~Image();
  Image(const Image&) = default;
  Image& operator=(const Image&) = default;

  // Changes the size; the pixels become black. False (and an empty image) for a bad size.
  [[nodiscard]] bool resize(int width, int height);

  int width() const { return width_; }
  int height() const { return height_; }
  int format() const { return kImageFormatBgr24; }
  int pitch() const { return pitch_; }
  std::uint8_t* data() { return pixels_.empty() ? nullptr : pixels_.data(); }
  const std::uint8_t* data() const { return pixels_.empty() ? nullptr : pixels_.data(); }
  std::uint8_t* row(int y) {
    return data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(pitch_);
  }
  const std::uint8_t* row(int y) const {
    return data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(pitch_);
  }

 private:
  int width_ = 0;
  int height_ = 0;
  int pitch_ = 0;
  std::vector<std::uint8_t> pixels_;
};

}  // namespace avikit
