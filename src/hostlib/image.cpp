#include <avikit/image.h>

namespace avikit {

namespace {
// Larger than any video an AVI file describes, small enough that rows never overflow an int.
constexpr int kMaxSide = 32768;
}  // namespace

Image::Image(int width, int height, int format, int /*flags*/) {
  if (format == kImageFormatBgr24) (void)resize(width, height);
}

Image::~Image() = default;

bool Image::resize(int width, int height) {
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
    width_ = height_ = pitch_ = 0;
    pixels_.clear();
    return false;
  }
  const int pitch = (width * 3 + 3) & ~3;
  try {
    pixels_.assign(static_cast<std::size_t>(pitch) * static_cast<std::size_t>(height), 0);
  } catch (...) {  // std::bad_alloc: leave an empty image rather than throw at the host
    width_ = height_ = pitch_ = 0;
    pixels_.clear();
    return false;
  }
  width_ = width;
  height_ = height;
  pitch_ = pitch;
  return true;
}

}  // namespace avikit
