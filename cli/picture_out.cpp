#include "cli/picture_out.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <cstdio>
#include <cstring>
#include <numeric>

#include "cli/cli_common.h"
#include "hostlib/codec_module.h"

using namespace avikit;

namespace avicli {
namespace {

AVPixelFormat av_format(PixelFormat f) {
  switch (f) {
    case PixelFormat::kBgr24:
      return AV_PIX_FMT_BGR24;
    case PixelFormat::kRgb24:
      return AV_PIX_FMT_RGB24;
    case PixelFormat::kGray:
      return AV_PIX_FMT_GRAY8;
    case PixelFormat::kYuv420p:
      return AV_PIX_FMT_YUV420P;
  }
  return AV_PIX_FMT_BGR24;
}

}  // namespace

bool parse_pixel_format(const std::string& name, PixelFormat* out) {
  static constexpr struct {
    const char* name;
    PixelFormat format;
  } kNames[] = {{"bgr24", PixelFormat::kBgr24},
                {"rgb24", PixelFormat::kRgb24},
                {"gray", PixelFormat::kGray},
                {"yuv420p", PixelFormat::kYuv420p}};
  for (const auto& n : kNames) {
    if (name == n.name) {
      *out = n.format;
      return true;
    }
  }
  return false;
}

bool parse_size(const std::string& text, int* width, int* height) {
  const std::size_t x = text.find('x');
  std::int64_t w = 0;
  std::int64_t h = 0;
  if (x == std::string::npos || !parse_int(text.substr(0, x), &w) ||
      !parse_int(text.substr(x + 1), &h) || w < 1 || h < 1 || w > 16384 || h > 16384) {
    return false;
  }
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  return true;
}

// libswscale and libavutil come from the codec module (hostlib/codec_module.h), loaded by the
// first picture converted.
PictureConverter::~PictureConverter() {
  if (sws_ != nullptr) hostlib::detail::scale_calls()->sws_freeContext(sws_);
}

std::size_t PictureConverter::picture_bytes() const {
  const hostlib::detail::ScaleCalls* calls = hostlib::detail::scale_calls();
  const int n = calls != nullptr
                    ? calls->av_image_get_buffer_size(av_format(format_), width_, height_, 1)
                    : 0;
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

bool PictureConverter::convert(const std::uint8_t* bottom_up_bgr, int src_width, int src_height,
                               std::size_t pitch, std::vector<std::uint8_t>* out) {
  const hostlib::detail::ScaleCalls* calls = hostlib::detail::scale_calls();
  if (calls == nullptr || bottom_up_bgr == nullptr || src_width <= 0 || src_height <= 0) {
    return false;
  }
  sws_ = calls->sws_getCachedContext(sws_, src_width, src_height, AV_PIX_FMT_BGR24, width_, height_,
                                     av_format(format_), SWS_BICUBIC | SWS_ACCURATE_RND, nullptr,
                                     nullptr, nullptr);
  if (sws_ == nullptr) return false;
  out->resize(picture_bytes());
  std::uint8_t* planes[4] = {};
  int strides[4] = {};
  if (calls->av_image_fill_arrays(planes, strides, out->data(), av_format(format_), width_, height_,
                                  1) < 0) {
    return false;
  }
  // The bitmap's last row in memory is the picture's top. libswscale's vertical filter does not
  // take a negative stride when it scales, so the rows are turned over first.
  const std::size_t row = static_cast<std::size_t>(src_width) * 3;
  top_down_.resize(row * static_cast<std::size_t>(src_height));
  for (int y = 0; y < src_height; ++y) {
    std::memcpy(top_down_.data() + static_cast<std::size_t>(y) * row,
                bottom_up_bgr + static_cast<std::size_t>(src_height - 1 - y) * pitch, row);
  }
  const std::uint8_t* src[4] = {top_down_.data(), nullptr, nullptr, nullptr};
  const int src_strides[4] = {static_cast<int>(row), 0, 0, 0};
  return calls->sws_scale(sws_, src, src_strides, 0, src_height, planes, strides) == height_;
}

std::string y4m_header(int width, int height, std::uint32_t rate, std::uint32_t scale) {
  if (rate == 0 || scale == 0) {
    rate = 25;
    scale = 1;
  }
  const std::uint32_t g = std::gcd(rate, scale);
  char line[128];
  std::snprintf(line, sizeof line, "YUV4MPEG2 W%d H%d F%u:%u Ip A1:1 C420jpeg\n", width, height,
                rate / g, scale / g);
  return line;
}

}  // namespace avicli
