#include "hostlib/dib_convert.h"

#include <avikit/image.h>

#include <algorithm>
#include <cstring>

#include "hostlib/colour_convert.h"
#include "hostlib/new_dib.h"

namespace avikit {

namespace {

constexpr std::uint32_t kYv12 = platform::fourcc("YV12");
constexpr std::uint32_t kYuy2 = platform::fourcc("YUY2");
constexpr std::uint32_t kUyvy = platform::fourcc("UYVY");

// Row y (top-down) of a YV12 bitmap's three planes.
struct Yv12Rows {
  const std::uint8_t* y;
  const std::uint8_t* u;
  const std::uint8_t* v;
};

Yv12Rows yv12_row(const CNewDib& dib, const std::uint8_t* base, int row) {
  const hostlib::DibLayout l = hostlib::dib_layout(dib.width(), dib.height(), 12);
  const std::size_t luma =
      static_cast<std::size_t>(l.pitch) * static_cast<std::size_t>(dib.height());
  const std::size_t plane =
      static_cast<std::size_t>(l.chroma_pitch) * static_cast<std::size_t>(l.chroma_rows);
  const std::size_t c =
      static_cast<std::size_t>(row / 2) * static_cast<std::size_t>(l.chroma_pitch);
  const std::uint8_t* v = base + luma;
  return {base + static_cast<std::size_t>(row) * static_cast<std::size_t>(l.pitch), v + plane + c,
          v + c};
}

bool is_yv12(const CNewDib& dib) {
  return dib.header != nullptr && dib.header->biBitCount == 12 && dib.compression() == kYv12 &&
         dib.image_bytes() >= hostlib::dib_layout(dib.width(), dib.height(), 12).bytes;
}

}  // namespace

int YV12_2_RGB(CNewDib& dst, const CNewDib& src) {
  const std::uint8_t* in = src.LockBits();
  if (!is_yv12(src) || in == nullptr || &dst == &src) return 0;
  const int w = src.width();
  const int h = src.height();
  if (dst.header == nullptr || dst.width() != w || dst.height() != h ||
      dst.header->biBitCount != 24) {
    if (dst.Create(w, h, 24, false) == 0) return 0;
  }
  std::uint8_t* out = dst.LockBits();
  if (out == nullptr) return 0;
  const int pitch = dst.GetPitch();
  const hostlib::Yuv420RowFn row_fn = hostlib::colour_kernels().yuv420_row;
  for (int y = 0; y < h; ++y) {
    const Yv12Rows r = yv12_row(src, in, y);
    row_fn(r.y, r.u, r.v,
           out + static_cast<std::size_t>(h - 1 - y) * static_cast<std::size_t>(pitch), w);
  }
  return 1;
}

int YUY2_2_Rgb24(std::uint8_t* dst, int dst_height, int dst_pitch, int dst_x, int dst_y, int width,
                 int height, const std::uint8_t* src, int src_pitch, int src_is_yuy2,
                 int /*reserved1*/, int /*reserved2*/) {
  if (dst == nullptr || src == nullptr || dst_height < 1 || width < 1 || height < 1 || dst_x < 0 ||
      dst_y < 0 || dst_pitch < 3 || src_pitch < 2 * width) {
    return 0;
  }
  // The destination row holds dst_pitch / 3 pixels at most; clip the rectangle to it.
  const int cols = std::min(width, dst_pitch / 3 - dst_x);
  const int rows = std::min(height, dst_height - dst_y);
  if (cols < 1 || rows < 1) return 1;
  const hostlib::Packed422RowFn row_fn = hostlib::colour_kernels().packed422_row;
  for (int y = 0; y < rows; ++y) {
    const int out_row = dst_height - 1 - (dst_y + y);
    row_fn(src + static_cast<std::size_t>(y) * static_cast<std::size_t>(src_pitch),
           dst + static_cast<std::size_t>(out_row) * static_cast<std::size_t>(dst_pitch) +
               static_cast<std::size_t>(dst_x) * 3,
           cols, src_is_yuy2 != 0);
  }
  return 1;
}

int DibRowsToBgr(const CNewDib& dib, int first, int count, std::uint8_t* out,
                 std::ptrdiff_t stride) {
  const std::uint8_t* in = dib.LockBits();
  if (in == nullptr || dib.header == nullptr || out == nullptr) return 0;
  const int w = dib.width();
  const int h = dib.height();
  if (first < 0 || count < 1 || first > h - count) return 0;
  const auto at = [&](int y) { return out + static_cast<std::ptrdiff_t>(y - first) * stride; };
  const int pitch = dib.GetPitch();
  const std::uint32_t comp = dib.compression();
  const int bits = dib.header->biBitCount;
  const hostlib::ColourKernels& k = hostlib::colour_kernels();
  if (bits == 12 && is_yv12(dib)) {
    for (int y = first; y < first + count; ++y) {
      const Yv12Rows r = yv12_row(dib, in, y);
      k.yuv420_row(r.y, r.u, r.v, at(y), w);
    }
    return 1;
  }
  const std::size_t rows_bytes = static_cast<std::size_t>(pitch) * static_cast<std::size_t>(h);
  if (dib.image_bytes() < rows_bytes) return 0;
  if (bits == 16 && (comp == kYuy2 || comp == kUyvy)) {
    for (int y = first; y < first + count; ++y) {
      k.packed422_row(in + static_cast<std::size_t>(y) * static_cast<std::size_t>(pitch), at(y), w,
                      comp == kYuy2);
    }
    return 1;
  }
  if (bits == 24 && comp == platform::BI_RGB) {
    for (int y = first; y < first + count; ++y) {
      std::memcpy(at(y), in + static_cast<std::size_t>(h - 1 - y) * static_cast<std::size_t>(pitch),
                  static_cast<std::size_t>(w) * 3);
    }
    return 1;
  }
  return 0;
}

int DibToImage(Image& image, const CNewDib& dib) {
  if (dib.LockBits() == nullptr || dib.header == nullptr) return 0;
  const int w = dib.width();
  const int h = dib.height();
  if ((image.width() != w || image.height() != h) && !image.resize(w, h)) return 0;
  return DibRowsToBgr(dib, 0, h, image.row(0), image.pitch());
}

}  // namespace avikit
