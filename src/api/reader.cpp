#include "avikit/reader.h"

#include <avikit/avi_audio_player.h>
#include <avikit/avi_video_player.h>
#include <avikit/media_info.h>
#include <avikit/platform/win_types.h>
#include <avikit/sound_frame.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <thread>

#include "container/open_error.h"
#include "hostlib/codec_module.h"
#include "hostlib/colour_convert.h"
#include "hostlib/dib_convert.h"
#include "hostlib/new_dib.h"
#include "video/avi_video_player_impl.h"
#include "video/media_reader.h"
#include "video/shared_avi_file.h"

extern "C" {
#include <libswscale/swscale.h>
}
#if defined(__x86_64__)
#include <tmmintrin.h>
#endif

namespace avikit {
namespace {

std::string printable_fourcc(std::uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) {
    const auto c = static_cast<char>((v >> (8 * i)) & 0xFF);
    s += c >= 0x20 && c <= 0x7E ? c : '?';
  }
  return s;
}

// The library's reason for the failed open just made on this thread, as an avikit::Error.
[[noreturn]] void throw_open_error(const std::string& path, ErrorCode stream_code) {
  ErrorCode code = ErrorCode::kNotAviOrWave;
  switch (avi_last_open_error()) {
    case AviOpenError::kNoName:
    case AviOpenError::kNotFound:
      code = ErrorCode::kNoSuchFile;
      break;
    case AviOpenError::kIsDirectory:
      code = ErrorCode::kIsDirectory;
      break;
    case AviOpenError::kPermission:
      code = ErrorCode::kPermissionDenied;
      break;
    case AviOpenError::kNoVideo:
    case AviOpenError::kNoAudio:
    case AviOpenError::kUndecodable:
    case AviOpenError::kNone:
      code = stream_code;
      break;
    default:
      break;
  }
  const char* why = avi_last_open_error_message();
  throw Error(code, path + ": " + (why != nullptr && *why != 0 ? why : "cannot be opened"));
}

// What errors call a file in memory: its name, if it has one. Null bytes are a caller's mistake,
// not a file that failed to open.
std::string memory_label(const InMemoryFile& file) {
  std::string label = file.name.empty() ? "file in memory" : file.name;
  if (file.bytes == nullptr) throw Error(ErrorCode::kInvalidArgument, label + ": no bytes");
  return label;
}

constexpr int kBandBytes = 64 * 1024;
constexpr std::int64_t kWorthASecondReader = 24;

// B, G, R to R, G, B with a byte shuffle, five pixels a step: libswscale's swap works in 8-byte
// registers and took as long as the colour conversion before it. Each step reads and writes 16
// bytes; the last byte it writes, the next step writes again, and the tail goes byte by byte.
#if defined(__x86_64__)
__attribute__((target("ssse3"))) void bgr_to_rgb(const std::uint8_t* src, std::uint8_t* dst,
                                                 std::size_t pixels) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
  std::size_t i = 0;
  for (; i + 6 <= pixels; i += 5) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * i), _mm_shuffle_epi8(v, order));
  }
  for (; i < pixels; ++i) {
    dst[3 * i] = src[3 * i + 2];
    dst[3 * i + 1] = src[3 * i + 1];
    dst[3 * i + 2] = src[3 * i];
  }
}
// The colour kernels' choice of instruction set stands for the shuffle's too (AVX2 implies it),
// so forcing scalar colour code forces the libswscale swap.
bool shuffle_bytes_available() { return hostlib::colour_kernels().isa == platform::kSimdAvx2; }
#else
void bgr_to_rgb(const std::uint8_t*, std::uint8_t*, std::size_t) {}
bool shuffle_bytes_available() { return false; }
#endif

// libswscale comes from the codec module, loaded by the first conversion that needs it; a
// context exists only once it is.
struct SwsDeleter {
  void operator()(SwsContext* s) const { hostlib::detail::scale_calls()->sws_freeContext(s); }
};

}  // namespace

PixelFormat parse_pixel_format(const std::string& name) {
  if (name == "rgb24") return PixelFormat::kRgb24;
  if (name == "bgr24") return PixelFormat::kBgr24;
  if (name == "gray" || name == "gray8") return PixelFormat::kGray8;
  if (name == "yuv420p") return PixelFormat::kYuv420p;
  if (name == "dib") return PixelFormat::kBgr24Dib;
  throw Error(ErrorCode::kInvalidArgument,
              "unknown pixel format '" + name + "' (rgb24, bgr24, gray, yuv420p, dib)");
}

const char* pixel_format_name(PixelFormat format) {
  switch (format) {
    case PixelFormat::kRgb24:
      return "rgb24";
    case PixelFormat::kBgr24:
      return "bgr24";
    case PixelFormat::kGray8:
      return "gray";
    case PixelFormat::kYuv420p:
      return "yuv420p";
    case PixelFormat::kBgr24Dib:
      return "dib";
  }
  return "?";
}

std::size_t frame_bytes(PixelFormat format, int width, int height) {
  if (width < 1 || height < 1) return 0;
  const auto w = static_cast<std::size_t>(width);
  const auto h = static_cast<std::size_t>(height);
  switch (format) {
    case PixelFormat::kRgb24:
    case PixelFormat::kBgr24:
      return w * h * 3;
    case PixelFormat::kGray8:
      return w * h;
    case PixelFormat::kYuv420p:
      return w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2);
    case PixelFormat::kBgr24Dib:
      return ((w * 3 + 3) & ~std::size_t{3}) * h;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------

struct VideoReader::Impl {
  std::string path;
  std::shared_ptr<const std::string> memory;  // the file, when it is held in memory
  int stream = -1;
  AviVideoPlayer player;
  std::int64_t frames = 0;
  int width = 0;
  int height = 0;
  std::int64_t position = -1;

  void opened(const std::string& label) {
    if (player.has_video() == 0 || player.get_video_info() == nullptr ||
        player.get_video_stream_id() < 0) {
      throw Error(ErrorCode::kNoVideo, label + ": no video stream");
    }
    if (player.get_total_frames() <= 0) {
      throw Error(ErrorCode::kNoVideo, label + ": the video stream has no frames");
    }
    const VideoInfo* info = player.get_video_info();
    stream = player.get_video_stream_id();
    frames = player.get_total_frames();
    width = info != nullptr ? info->width : 0;
    height = info != nullptr ? std::abs(info->height) : 0;
    if (width < 1 || height < 1) {
      throw Error(ErrorCode::kNoVideo, label + ": the video stream has no picture size");
    }
  }

  std::unique_ptr<SwsContext, SwsDeleter> sws;  // BGR24 to gray or 4:2:0
  PixelFormat sws_format = PixelFormat::kRgb24;

  std::unique_ptr<SwsContext, SwsDeleter> swap;  // BGR24 to RGB24, a byte permutation
  std::vector<std::uint8_t> band_rows;           // a few rows of BGR on their way to RGB

  SharedAviFile* file() const {
    const AviVideoPlayerImpl* impl = player.impl();
    return impl != nullptr && impl->reader() != nullptr ? impl->reader()->file() : nullptr;
  }

  // Moves the player to frame `index` (negative: from the end), which decodes it.
  void seek(std::int64_t& index) {
    if (index < 0) index += frames;
    if (index < 0 || index >= frames) {
      throw Error(ErrorCode::kOutOfRange, "frame " + std::to_string(index) + " is outside 0.." +
                                              std::to_string(frames - 1));
    }
    if (player.seek(static_cast<int>(index), 1) != index) decode_failed(index);
  }

  [[noreturn]] void decode_failed(std::int64_t index) const {
    throw Error(ErrorCode::kDecodeFailed,
                "frame " + std::to_string(index) + " of " + path + " could not be decoded");
  }

  // The player's bottom-up BGR bitmap of the frame just decoded.
  const std::uint8_t* dib(std::int64_t index, int& pitch) {
    const char* data = player.get_frame_dib_data();
    pitch = player.get_frame_dib_pitch();
    if (data == nullptr || pitch <= 0) decode_failed(index);
    return reinterpret_cast<const std::uint8_t*>(data);
  }

  // Packed top-down rows straight from the bitmap the frame was decoded into, with the colours
  // of the player's own bitmap but without its copy and flip; false when that bitmap is not one
  // the player converts this way, and the player's bitmap is the way.
  bool packed(PixelFormat format, std::uint8_t* out) {
    const AviVideoPlayerImpl* impl = player.impl();
    const MediaReader* reader = impl != nullptr ? impl->reader() : nullptr;
    if (reader == nullptr) return false;
    const CNewDib& picture = reader->frame();
    if (picture.header == nullptr || picture.width() != width || picture.height() != height) {
      return false;
    }
    const int row = width * 3;
    if (format == PixelFormat::kBgr24) return DibRowsToBgr(picture, 0, height, out, row) != 0;
    // A band of rows at a time, small enough to stay in the cache between its two passes.
    const int band = std::clamp(kBandBytes / row, 1, height);
    band_rows.resize(static_cast<std::size_t>(band) * static_cast<std::size_t>(row));
    if (shuffle_bytes_available()) {
      for (int y = 0; y < height; y += band) {
        const int n = std::min(band, height - y);
        if (DibRowsToBgr(picture, y, n, band_rows.data(), row) == 0) return false;
        bgr_to_rgb(band_rows.data(), out + static_cast<std::ptrdiff_t>(y) * row,
                   static_cast<std::size_t>(n) * static_cast<std::size_t>(width));
      }
      return true;
    }
    const hostlib::detail::ScaleCalls* calls = hostlib::detail::scale_calls();
    if (calls == nullptr) return false;
    if (!swap) {
      swap.reset(calls->sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height,
                                       AV_PIX_FMT_RGB24, SWS_POINT, nullptr, nullptr, nullptr));
      if (!swap) return false;
    }
    for (int y = 0; y < height; y += band) {
      const int n = std::min(band, height - y);
      const std::uint8_t* src[4] = {band_rows.data(), nullptr, nullptr, nullptr};
      const int src_stride[4] = {row, 0, 0, 0};
      std::uint8_t* dst[4] = {out, nullptr, nullptr, nullptr};
      const int dst_stride[4] = {row, 0, 0, 0};
      if (DibRowsToBgr(picture, y, n, band_rows.data(), row) == 0 ||
          calls->sws_scale(swap.get(), src, src_stride, y, n, dst, dst_stride) < 0) {
        swap.reset();  // it may stand in the middle of a picture
        return false;  // the player's bitmap writes the whole frame
      }
    }
    return true;
  }

  void convert(const std::uint8_t* dib, int pitch, PixelFormat format, std::uint8_t* out) {
    const auto w = static_cast<std::size_t>(width);
    const auto last = static_cast<std::ptrdiff_t>(height - 1) * pitch;
    switch (format) {
      case PixelFormat::kBgr24Dib:
        std::memcpy(out, dib, frame_bytes(format, width, height));
        return;
      case PixelFormat::kBgr24:
      case PixelFormat::kRgb24:
        for (int y = 0; y < height; ++y) {
          const std::uint8_t* row = dib + last - static_cast<std::ptrdiff_t>(y) * pitch;
          std::uint8_t* o = out + static_cast<std::size_t>(y) * w * 3;
          if (format == PixelFormat::kBgr24) {
            std::memcpy(o, row, w * 3);
          } else {
            for (std::size_t x = 0; x < w; ++x) {
              o[3 * x] = row[3 * x + 2];
              o[3 * x + 1] = row[3 * x + 1];
              o[3 * x + 2] = row[3 * x];
            }
          }
        }
        return;
      case PixelFormat::kGray8:
      case PixelFormat::kYuv420p:
        scale(dib, pitch, format, out);
        return;
    }
  }

  void scale(const std::uint8_t* dib, int pitch, PixelFormat format, std::uint8_t* out) {
    const AVPixelFormat to = format == PixelFormat::kGray8 ? AV_PIX_FMT_GRAY8 : AV_PIX_FMT_YUV420P;
    const hostlib::detail::ScaleCalls* calls = hostlib::detail::scale_calls();
    if (calls == nullptr) {
      throw Error(ErrorCode::kDecodeFailed, "no conversion to " +
                                                std::string(pixel_format_name(format)) + ": " +
                                                hostlib::detail::codec_module_error());
    }
    if (!sws || sws_format != format) {
      sws.reset(calls->sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, to,
                                      SWS_BILINEAR, nullptr, nullptr, nullptr));
      sws_format = format;
      if (!sws)
        throw Error(ErrorCode::kDecodeFailed,
                    "no conversion to " + std::string(pixel_format_name(format)));
    }
    // Bottom-up: start at the last row and step backwards.
    const std::uint8_t* src[4] = {dib + static_cast<std::ptrdiff_t>(height - 1) * pitch, nullptr,
                                  nullptr, nullptr};
    const int src_stride[4] = {-pitch, 0, 0, 0};
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    const std::size_t cw = (w + 1) / 2;
    std::uint8_t* dst[4] = {out, out + w * h, out + w * h + cw * ((h + 1) / 2), nullptr};
    const int dst_stride[4] = {width, static_cast<int>(cw), static_cast<int>(cw), 0};
    // libswscale writes whole vector groups: it writes into padded planes of its own.
    std::vector<std::uint8_t> padded;
    const int pw = (width + 63) & ~63;
    const std::size_t plane = static_cast<std::size_t>(pw) * (h + 2);
    padded.resize(plane * 3 + 64);
    std::uint8_t* pdst[4] = {padded.data(), padded.data() + plane, padded.data() + 2 * plane,
                             nullptr};
    const int pstride[4] = {pw, pw, pw, 0};
    calls->sws_scale(sws.get(), src, src_stride, 0, height, pdst, pstride);
    const int planes = format == PixelFormat::kGray8 ? 1 : 3;
    for (int p = 0; p < planes; ++p) {
      const std::size_t rows = p == 0 ? h : (h + 1) / 2;
      const std::size_t bytes = p == 0 ? w : cw;
      for (std::size_t y = 0; y < rows; ++y) {
        std::memcpy(dst[p] + y * static_cast<std::size_t>(dst_stride[p]),
                    pdst[p] + y * static_cast<std::size_t>(pstride[p]), bytes);
      }
    }
  }
};

VideoReader::VideoReader(const std::string& path, int stream) : impl_(std::make_unique<Impl>()) {
  impl_->path = path;
  if (impl_->player.open(path.c_str(), stream) != 0) throw_open_error(path, ErrorCode::kNoVideo);
  impl_->opened(path);
}

VideoReader::VideoReader(const InMemoryFile& file, int stream) : impl_(std::make_unique<Impl>()) {
  const std::string label = memory_label(file);
  impl_->path = file.name;
  impl_->memory = file.bytes;
  if (impl_->player.open(file, stream) != 0) throw_open_error(label, ErrorCode::kNoVideo);
  impl_->opened(label);
}

VideoReader::~VideoReader() = default;
VideoReader::VideoReader(VideoReader&&) noexcept = default;
VideoReader& VideoReader::operator=(VideoReader&&) noexcept = default;

const std::string& VideoReader::path() const { return impl_->path; }
int VideoReader::stream() const { return impl_->stream; }
std::int64_t VideoReader::frame_count() const { return impl_->frames; }
int VideoReader::width() const { return impl_->width; }
int VideoReader::height() const { return impl_->height; }
std::int64_t VideoReader::position() const { return impl_->position; }

Rational VideoReader::fps() const {
  SharedAviFile* f = impl_->file();
  if (f != nullptr) {
    const auto [rate, scale] = f->container().frame_rate_ratio();
    if (rate != 0 && scale != 0) {
      const std::int64_t g = std::gcd(std::int64_t{rate}, std::int64_t{scale});
      return {rate / g, scale / g};
    }
  }
  return {0, 1};
}

double VideoReader::duration() const {
  const Rational r = fps();
  return r.num != 0 ? static_cast<double>(impl_->frames) * static_cast<double>(r.den) /
                          static_cast<double>(r.num)
                    : 0.0;
}

std::string VideoReader::codec() const {
  SharedAviFile* f = impl_->file();
  const char* name = f != nullptr ? f->container().video_type_name() : nullptr;
  return name != nullptr ? name : "";
}

std::string VideoReader::fourcc() const {
  SharedAviFile* f = impl_->file();
  const platform::BITMAPINFOHEADER* h = f != nullptr ? f->container().video_format() : nullptr;
  if (h == nullptr) return "";
  return h->biCompression == 0 ? "RGB " : printable_fourcc(h->biCompression);
}

std::vector<std::int64_t> VideoReader::key_frames() const {
  std::vector<std::int64_t> out;
  SharedAviFile* f = impl_->file();
  const ChunkIndex* index = f != nullptr ? f->container().video_index() : nullptr;
  if (index == nullptr) return out;
  out.assign(index->key_frames.begin(), index->key_frames.end());
  return out;
}

void VideoReader::read(std::int64_t index, PixelFormat format, std::span<std::uint8_t> out) {
  const std::size_t need = frame_bytes(format, impl_->width, impl_->height);
  if (out.size() < need) {
    throw Error(ErrorCode::kInvalidArgument, "the buffer holds " + std::to_string(out.size()) +
                                                 " bytes, a frame needs " + std::to_string(need));
  }
  impl_->seek(index);
  if ((format != PixelFormat::kRgb24 && format != PixelFormat::kBgr24) ||
      !impl_->packed(format, out.data())) {
    int pitch = 0;
    const std::uint8_t* dib = impl_->dib(index, pitch);
    impl_->convert(dib, pitch, format, out.data());
  }
  impl_->position = index;
}

Frame VideoReader::read(std::int64_t index, PixelFormat format) {
  Frame image;
  image.width = impl_->width;
  image.height = impl_->height;
  image.format = format;
  image.data.resize(frame_bytes(format, impl_->width, impl_->height));
  read(index, format, image.data);
  return image;
}

void VideoReader::read_batch(std::span<const std::int64_t> indices, PixelFormat format,
                             std::span<std::uint8_t> out) {
  const std::size_t one = frame_bytes(format, impl_->width, impl_->height);
  if (out.size() / std::max<std::size_t>(one, 1) < indices.size()) {
    throw Error(ErrorCode::kInvalidArgument,
                "the buffer cannot hold " + std::to_string(indices.size()) + " frames");
  }
  const auto at = [&](std::size_t i) {
    return indices[i] < 0 ? indices[i] + impl_->frames : indices[i];
  };
  for (std::size_t i = 0; i < indices.size(); ++i) {
    if (at(i) < 0 || at(i) >= impl_->frames) {
      throw Error(ErrorCode::kOutOfRange, "frame " + std::to_string(indices[i]) +
                                              " is outside 0.." +
                                              std::to_string(impl_->frames - 1));
    }
  }
  std::vector<std::size_t> order(indices.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  // File order: the walk from each key frame goes on from the frame before, never back.
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return at(a) < at(b); });
  // Runs of frames after one key frame: each run is one walk.
  const SharedAviFile* file = impl_->file();
  const ChunkIndex* index = file != nullptr ? file->container().video_index() : nullptr;
  const auto key_of = [&](std::int64_t f) -> std::int64_t {
    if (index == nullptr) return 0;
    const auto it = std::upper_bound(index->key_frames.begin(), index->key_frames.end(), f);
    return it == index->key_frames.begin() ? 0 : *(it - 1);
  };
  std::vector<std::size_t> runs;  // where each run starts in `order`, then the end
  for (std::size_t k = 0; k < order.size(); ++k) {
    if (k == 0 || key_of(at(order[k])) != key_of(at(order[k - 1]))) runs.push_back(k);
  }
  runs.push_back(order.size());
  // Pictures the walks decode: a second reader costs an open, worth it for a few dozen.
  std::int64_t decodes = 0;
  for (std::size_t r = 0; r + 1 < runs.size(); ++r) {
    decodes += at(order[runs[r + 1] - 1]) - key_of(at(order[runs[r]])) + 1;
  }
  const auto fetch = [&](VideoReader& reader, std::size_t first_run, std::size_t step) {
    for (std::size_t r = first_run; r + 1 < runs.size(); r += step) {
      for (std::size_t k = runs[r]; k < runs[r + 1]; ++k) {
        std::uint8_t* dst = out.data() + order[k] * one;
        if (k > runs[r] && at(order[k]) == at(order[k - 1])) {
          std::memcpy(dst, out.data() + order[k - 1] * one, one);
        } else {
          reader.read(at(order[k]), format, {dst, one});
        }
      }
    }
  };
  if (runs.size() < 3 || decodes < kWorthASecondReader || std::thread::hardware_concurrency() < 2) {
    fetch(*this, 0, 1);
    return;
  }
  // Two walks at once: every other run goes to a second reader of the file, opened and used on
  // a thread of its own. Readers share nothing, and each gives every frame exactly. Should the
  // second reader fail (the file renamed since this one opened it, say), this one reads its runs.
  bool helped = false;
  std::thread helper([&] {
    try {
      VideoReader other = impl_->memory != nullptr
                              ? VideoReader(InMemoryFile(impl_->memory, impl_->path), impl_->stream)
                              : VideoReader(impl_->path, impl_->stream);
      fetch(other, 1, 2);
      helped = true;
    } catch (...) {
    }
  });
  try {
    fetch(*this, 0, 2);
  } catch (...) {
    helper.join();
    throw;
  }
  helper.join();
  if (!helped) fetch(*this, 1, 2);
}

std::vector<Frame> VideoReader::read_batch(std::span<const std::int64_t> indices,
                                           PixelFormat format) {
  const std::size_t one = frame_bytes(format, impl_->width, impl_->height);
  std::vector<std::uint8_t> all(one * indices.size());
  read_batch(indices, format, all);
  std::vector<Frame> out(indices.size());
  for (std::size_t i = 0; i < indices.size(); ++i) {
    out[i].width = impl_->width;
    out[i].height = impl_->height;
    out[i].format = format;
    out[i].data.assign(all.begin() + static_cast<std::ptrdiff_t>(i * one),
                       all.begin() + static_cast<std::ptrdiff_t>((i + 1) * one));
  }
  return out;
}

// ---------------------------------------------------------------------------------------------

namespace {

void check_audio_format(int rate, int channels) {
  if (rate != 0 && (rate < 8000 || rate > 48000)) {
    throw Error(ErrorCode::kInvalidArgument,
                "rate " + std::to_string(rate) + " Hz is outside 8000..48000");
  }
  if (channels < 0 || channels > 2) {
    throw Error(ErrorCode::kInvalidArgument,
                "channels " + std::to_string(channels) + " is not 1 or 2 (0: the stream's own)");
  }
}

}  // namespace

struct AudioReader::Impl {
  std::string path;
  AviAudioPlayer player;
  int rate = 0;
  int channels = 0;
  int source_rate = 0;
  int source_channels = 0;
  double length = 0.0;
  // What the player delivered and has not been read: samples from sample frame `cursor` on.
  std::int64_t cursor = -1;
  std::vector<std::int16_t> pending;

  bool pcm = false;

  void opened(const std::string& label, int want_rate, int want_channels, int stream) {
    if (stream >= 0 && player.select_audio_stream(stream) == 0) {
      throw Error(ErrorCode::kNoAudio, label + ": stream " + std::to_string(stream) +
                                           " is not an audio stream avikit can decode");
    }
    if (player.has_audio() == 0) throw Error(ErrorCode::kNoAudio, label + ": no audio stream");
    const AudioInfo* info = player.get_audio_info();
    source_rate = info != nullptr ? info->sample_rate : 0;
    source_channels = info != nullptr ? info->channels : 0;
    rate = want_rate != 0 ? want_rate : std::clamp(source_rate, 8000, 48000);
    channels = want_channels != 0 ? want_channels : std::clamp(source_channels, 1, 2);
    pcm = info != nullptr && info->format == kAudioFormatPcm;
    player.set_pcm_output(rate, channels);
    length = player.get_length();
  }

  // Places the player at or before `start` where its output equals what playing from the
  // beginning gives there, and returns that output position.
  std::int64_t seek(std::int64_t start) {
    std::int64_t at = std::max<std::int64_t>(start - rate / 10, 0);
    if (!pcm) {
      // Compressed sound is placed by the player's own seek, a little early so that the decoder
      // has found its frames by `start`.
      player.seek(static_cast<double>(at) / rate);
      return at;
    }
    // A resampler restarted on a source sample whose time is no whole output sample would lay
    // its output on another grid, and its filter starts empty: restart a tenth of a second early
    // on a sample both rates share.
    const std::int64_t g = std::gcd(std::int64_t{source_rate}, std::int64_t{rate});
    const std::int64_t out_step = rate / g;
    at = at / out_step * out_step;
    // Half a source sample in, so that truncating the time to whole samples lands on `at`.
    player.seek(static_cast<double>(at) / rate + 0.5 / source_rate);
    return at;
  }

  std::vector<std::int16_t> read(std::int64_t start, std::int64_t count) {
    std::vector<std::int16_t> out;
    // The last block is padded with silence to a whole block: the stream's length ends it.
    count = std::min<std::int64_t>(count, std::llround(length * rate) - start);
    if (start < 0 || count <= 0) return out;
    // Going on from where the last read stopped is exact whatever the format; a jump elsewhere
    // seeks, and a short jump forward decodes on instead.
    const std::int64_t ahead = start - cursor;
    if (cursor < 0 || ahead < 0 || ahead > rate) {
      cursor = seek(start);
      pending.clear();
    }
    const auto ch = static_cast<std::size_t>(channels);
    out.reserve(static_cast<std::size_t>(count) * ch);
    while (static_cast<std::int64_t>(out.size() / ch) < count) {
      if (pending.empty()) {
        if (player.is_end() != 0) break;
        const SoundFrame* block = player.get_next_sound();
        if (block == nullptr || block->get_sample_count() <= 0) break;
        pending.assign(block->get_pcm(), block->get_pcm() + block->get_sample_count());
      }
      std::size_t skip = 0;
      if (cursor < start) {
        skip = std::min<std::size_t>(pending.size() / ch, static_cast<std::size_t>(start - cursor));
      }
      const std::size_t room = static_cast<std::size_t>(count) - out.size() / ch;
      const std::size_t take = std::min(pending.size() / ch - skip, room);
      out.insert(out.end(), pending.begin() + static_cast<std::ptrdiff_t>(skip * ch),
                 pending.begin() + static_cast<std::ptrdiff_t>((skip + take) * ch));
      pending.erase(pending.begin(),
                    pending.begin() + static_cast<std::ptrdiff_t>((skip + take) * ch));
      cursor += static_cast<std::int64_t>(skip + take);
    }
    return out;
  }
};

AudioReader::AudioReader(const std::string& path, int rate, int channels, int stream)
    : impl_(std::make_unique<Impl>()) {
  check_audio_format(rate, channels);
  impl_->path = path;
  if (impl_->player.open(path.c_str()) != 0) throw_open_error(path, ErrorCode::kNoAudio);
  impl_->opened(path, rate, channels, stream);
}

AudioReader::AudioReader(const InMemoryFile& file, int rate, int channels, int stream)
    : impl_(std::make_unique<Impl>()) {
  check_audio_format(rate, channels);
  const std::string label = memory_label(file);
  impl_->path = file.name;
  if (impl_->player.open(file) != 0) throw_open_error(label, ErrorCode::kNoAudio);
  impl_->opened(label, rate, channels, stream);
}

AudioReader::~AudioReader() = default;
AudioReader::AudioReader(AudioReader&&) noexcept = default;
AudioReader& AudioReader::operator=(AudioReader&&) noexcept = default;

const std::string& AudioReader::path() const { return impl_->path; }
int AudioReader::rate() const { return impl_->rate; }
int AudioReader::channels() const { return impl_->channels; }
int AudioReader::source_rate() const { return impl_->source_rate; }
int AudioReader::source_channels() const { return impl_->source_channels; }
double AudioReader::duration() const { return impl_->length; }
std::int64_t AudioReader::sample_count() const { return std::llround(impl_->length * impl_->rate); }

std::vector<std::int16_t> AudioReader::read(std::int64_t start, std::int64_t count) {
  return impl_->read(start, count);
}

std::vector<float> AudioReader::read_float(std::int64_t start, std::int64_t count) {
  const std::vector<std::int16_t> s = impl_->read(start, count);
  std::vector<float> out(s.size());
  std::transform(s.begin(), s.end(), out.begin(),
                 [](std::int16_t v) { return static_cast<float>(v) / 32768.0f; });
  return out;
}

std::vector<std::int16_t> AudioReader::read_time(double start_seconds, double seconds) {
  if (!(start_seconds >= 0.0) || !(seconds >= 0.0)) {
    throw Error(ErrorCode::kInvalidArgument, "times must be 0 or more seconds");
  }
  return impl_->read(std::llround(start_seconds * impl_->rate),
                     std::llround(seconds * impl_->rate));
}

}  // namespace avikit
