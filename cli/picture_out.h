#pragma once
// Frames as other video tools read them: packed top-down rows in a chosen pixel format (the
// layout of ffmpeg's rawvideo), optionally scaled, through libswscale; and YUV4MPEG2 streams.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct SwsContext;

namespace avicli {

enum class PixelFormat { kBgr24, kRgb24, kGray, kYuv420p };

// "bgr24", "rgb24", "gray", "yuv420p"; false for anything else.
bool parse_pixel_format(const std::string& name, PixelFormat* out);
// "WxH" with both from 1 to 16384.
bool parse_size(const std::string& text, int* width, int* height);

// Converts bottom-up 24-bit BGR bitmaps (a player's frame) into packed top-down pictures of
// width x height in one pixel format.
class PictureConverter {
 public:
  PictureConverter(PixelFormat format, int width, int height) noexcept
      : format_(format), width_(width), height_(height) {}
  ~PictureConverter();
  PictureConverter(const PictureConverter&) = delete;
  PictureConverter& operator=(const PictureConverter&) = delete;

  // Bytes of one converted picture.
  std::size_t picture_bytes() const;
  [[nodiscard]] bool convert(const std::uint8_t* bottom_up_bgr, int src_width, int src_height,
                             std::size_t pitch, std::vector<std::uint8_t>* out);
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  PixelFormat format_;
  int width_;
  int height_;
  SwsContext* sws_ = nullptr;
  std::vector<std::uint8_t> top_down_;
};

// The YUV4MPEG2 stream header for yuv420p pictures ("C420jpeg", as ffmpeg writes it), progressive,
// square pixels, the rate reduced.
std::string y4m_header(int width, int height, std::uint32_t rate, std::uint32_t scale);
inline constexpr char kY4mFrameTag[] = "FRAME\n";

}  // namespace avicli
