#include "hostlib/media_fixtures.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>

#include "hostlib/dib_layout.h"
#include "support/test_paths.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace hostlib_test {
namespace {

// `count` rows of `bytes` each from `src`, laid `pitch` apart (bottom-up when `bottom_up`), the
// bytes between them left at `fill` as a fresh bitmap has them.
std::string rows(const std::uint8_t* src, std::size_t stride, std::size_t bytes, int count,
                 std::size_t pitch, char fill, bool bottom_up = false) {
  std::string out(pitch * static_cast<std::size_t>(count), fill);
  for (int y = 0; y < count; ++y) {
    const auto to = static_cast<std::size_t>(bottom_up ? count - 1 - y : y) * pitch;
    out.replace(to, bytes,
                reinterpret_cast<const char*>(src) + static_cast<std::size_t>(y) * stride, bytes);
  }
  return out;
}

// ffmpeg's packed 4:2:0 frame (any size) as the planes' base pointers and strides.
struct I420 {
  const std::uint8_t* planes[4] = {};
  int strides[4] = {};
  I420(const std::string& f, int w, int h) {
    av_image_fill_arrays(const_cast<std::uint8_t**>(planes), strides,
                         reinterpret_cast<const std::uint8_t*>(f.data()), AV_PIX_FMT_YUV420P, w, h,
                         1);
  }
};

// A frame with zeroed buffers: libswscale's vector code reads the padding too, and branches on
// it. Null when it cannot be had.
std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(int w, int h, AVPixelFormat format) {
  std::unique_ptr<AVFrame, void (*)(AVFrame*)> f(av_frame_alloc(),
                                                 [](AVFrame* p) { av_frame_free(&p); });
  f->width = w;
  f->height = h;
  f->format = format;
  if (av_frame_get_buffer(f.get(), 0) < 0) f.reset();
  for (int i = 0; f && i < AV_NUM_DATA_POINTERS && f->buf[i] != nullptr; ++i)
    std::memset(f->buf[i]->data, 0, f->buf[i]->size);
  return f;
}

}  // namespace

// Cached under the temp folder by a hash of the arguments, so a changed recipe makes a new file;
// written to a private name (with the same extension) and renamed, so parallel test processes
// never see half a file.
std::string ffmpeg_file(const std::string& name, const std::string& args) {
  const auto dir = std::filesystem::temp_directory_path() / "avikit-hostlib-media";
  std::filesystem::create_directories(dir);
  const auto path = dir / (std::to_string(std::hash<std::string>{}(args)) + "-" + name);
  if (std::filesystem::exists(path)) return path.string();
  const auto tmp = dir / (std::to_string(getpid()) + "-tmp-" + path.filename().string());
  const std::string command = "ffmpeg -nostdin -v error -y " + args + " '" + tmp.string() + "'";
  if (std::system(command.c_str()) != 0) {
    std::filesystem::remove(tmp);
    return {};
  }
  std::filesystem::rename(tmp, path);
  return path.string();
}

bool read_avi_video(const std::string& path, AviVideo& out) {
  const std::string s = avitest::read_file(path);
  out = AviVideo{};
  if (s.size() < 12 || s.compare(0, 4, "RIFF") != 0 || s.compare(8, 4, "AVI ") != 0) return false;
  const auto at = [&](std::size_t p) { return le32(s.data() + p); };
  const auto video = [](std::uint32_t id) { return id == le32("00dc") || id == le32("00db"); };
  bool in_video_strl = false;
  // Walk every chunk; LISTs are entered (their 4-byte type skipped), other chunks stepped over.
  for (std::size_t pos = 12; pos + 8 <= s.size();) {
    const std::uint32_t id = at(pos);
    const std::uint32_t size = at(pos + 4);
    const std::size_t data = pos + 8;
    if (id == le32("LIST")) {
      pos += 12;
      continue;
    }
    if (size > s.size() - data) break;
    if (id == le32("strh"))
      in_video_strl = size >= 8 && s.compare(data, 4, "vids") == 0 && out.format.empty();
    if (id == le32("strh") && in_video_strl) out.handler = at(data + 4);
    if (id == le32("strf") && in_video_strl) out.format = s.substr(data, size);
    if (video(id)) out.chunks.push_back(s.substr(data, size));
    for (std::size_t e = data; id == le32("idx1") && e + 16 <= data + size; e += 16)
      if (video(at(e))) out.keys.push_back((at(e + 4) & 0x10) != 0);
    pos = data + size + (size & 1);
  }
  return !out.format.empty() && !out.chunks.empty() && out.keys.size() == out.chunks.size();
}

std::vector<std::string> reference_frames(const std::string& path, int width, int height,
                                          const std::string& pixel_format) {
  const std::string raw = ffmpeg_file(
      "ref.yuv",
      "-i '" + path + "' -map 0:v:0 -fps_mode passthrough -f rawvideo -pix_fmt " + pixel_format);
  const std::string bytes = raw.empty() ? std::string() : avitest::read_file(raw);
  const auto frame = static_cast<std::size_t>(
      std::max(av_image_get_buffer_size(AV_PIX_FMT_YUV420P, width, height, 1), 0));
  std::vector<std::string> frames;
  for (std::size_t p = 0; frame > 0 && p + frame <= bytes.size(); p += frame)
    frames.push_back(bytes.substr(p, frame));
  return frames;
}

platform::BITMAPINFOHEADER output_format(int bits, int width, int height) {
  using platform::fourcc;
  return {.biSize = sizeof(platform::BITMAPINFOHEADER),
          .biWidth = width,
          .biHeight = height,
          .biPlanes = 1,
          .biBitCount = static_cast<platform::WORD>(bits),
          .biCompression = bits == 12   ? fourcc("YV12")
                           : bits == 16 ? fourcc("YUY2")
                                        : platform::BI_RGB,
          .biSizeImage = hostlib::dib_layout(width, height, bits).bytes};
}

// ffmpeg's 4:2:0 reference in the driver's YV12 layout: Y, V, U, rows padded to 4 (Y) and 2.
std::string as_yv12(const std::string& i420, int w, int h) {
  const I420 f(i420, w, h);
  const auto pitch = static_cast<std::size_t>((w + 3) & ~3);
  const auto cw = static_cast<std::size_t>((w + 1) / 2);
  const int ch = (h + 1) / 2;
  return rows(f.planes[0], static_cast<std::size_t>(w), static_cast<std::size_t>(w), h, pitch, 16) +
         rows(f.planes[2], cw, cw, ch, pitch / 2, '\x80') +
         rows(f.planes[1], cw, cw, ch, pitch / 2, '\x80');
}

// Converted by libswscale as the driver converts: to YUY2, or to bottom-up 24-bit rows.
std::string converted(const std::string& i420, int w, int h, bool rgb, bool full_range) {
  I420 f(i420, w, h);  // av_image_copy of older libavutil takes non-const pointers
  const AVPixelFormat from = full_range ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
  const AVPixelFormat to = rgb ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_YUYV422;
  // libswscale reads whole vector groups too: it reads from padded planes of its own.
  const auto in = frame(w, h, from);
  const auto out = frame(w, h, to);
  if (!in || !out) return {};
  av_image_copy(in->data, in->linesize, f.planes, f.strides, from, w, h);
  SwsContext* sws = sws_getContext(w, h, from, w, h, to, rgb ? SWS_BILINEAR : SWS_POINT, nullptr,
                                   nullptr, nullptr);
  sws_scale(sws, in->data, in->linesize, 0, h, out->data, out->linesize);
  sws_freeContext(sws);
  for (int y = 0; !rgb && w % 2 == 1 && y < h; ++y) {  // an odd width's last pair repeats its Y
    std::uint8_t* row = out->data[0] + static_cast<std::ptrdiff_t>(y) * out->linesize[0];
    row[2 * w] = row[2 * w - 2];
  }
  const auto bytes = static_cast<std::size_t>(rgb ? w * 3 : (w + 1) / 2 * 4);
  const auto pitch = static_cast<std::size_t>(rgb ? (w * 3 + 3) & ~3 : (w * 2 + 3) & ~3);
  return rows(out->data[0], static_cast<std::size_t>(out->linesize[0]), bytes, h, pitch, '\0', rgb);
}

}  // namespace hostlib_test
