#pragma once
// avikit's modern interface: RAII readers that throw avikit::Error with a reason, frames in the
// packed, top-down layouts image libraries expect, and sound as interleaved samples.
//
//   avikit::VideoReader r("clip.avi");
//   avikit::Frame f = r.read(1234, avikit::PixelFormat::kRgb24);  // frame 1234, exactly
//   auto batch = r.read_batch({500, 3, 42});  // fetched in file order, returned as asked
//
//   avikit::AudioReader a("clip.avi", 16000, 1);  // resampled to 16 kHz mono
//   std::vector<std::int16_t> s = a.read(0, 16000);  // the first second
//
// Threads: a reader belongs to one thread at a time (move it, do not share it). Any number of
// readers may read the same file at once, each on its own thread; they share nothing.

#include <avikit/in_memory_file.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace avikit {

enum class ErrorCode {
  kNoSuchFile = 1,
  kIsDirectory,
  kPermissionDenied,
  kNotAviOrWave,  // not a RIFF AVI or WAVE file, or its headers are damaged
  kNoVideo,       // no video stream, or none avikit can decode
  kNoAudio,       // no audio stream, or none avikit can decode
  kOutOfRange,    // a frame or sample index outside the stream
  kInvalidArgument,
  kDecodeFailed,  // the frame's data could not be decoded
};

class Error : public std::runtime_error {
 public:
  Error(ErrorCode code, const std::string& message) : std::runtime_error(message), code_(code) {}
  ErrorCode code() const noexcept { return code_; }

 private:
  ErrorCode code_;
};

// An exact rate: frames (or samples) per second as num / den.
struct Rational {
  std::int64_t num = 0;
  std::int64_t den = 1;
  double value() const {
    return den != 0 ? static_cast<double>(num) / static_cast<double>(den) : 0.0;
  }
};

enum class PixelFormat {
  kRgb24,    // packed R, G, B; top-down rows of width * 3 bytes
  kBgr24,    // packed B, G, R; top-down rows of width * 3 bytes
  kGray8,    // luma (BT.601), top-down rows of width bytes
  kYuv420p,  // planes Y, U, V; chroma of (width + 1) / 2 by (height + 1) / 2
  kBgr24Dib  // the players' own bitmap: bottom-up B, G, R rows padded to 4 bytes
};
// Parses "rgb24", "bgr24", "gray"/"gray8", "yuv420p", "dib"; throws kInvalidArgument otherwise.
PixelFormat parse_pixel_format(const std::string& name);
const char* pixel_format_name(PixelFormat format);
// Bytes of one frame of `format` at width x height.
std::size_t frame_bytes(PixelFormat format, int width, int height);

struct Frame {
  int width = 0;
  int height = 0;
  PixelFormat format = PixelFormat::kRgb24;
  std::vector<std::uint8_t> data;  // frame_bytes(format, width, height) bytes
};

class VideoReader {
 public:
  // Opens the video stream `stream` (-1: the first decodable one) of an AVI file.
  explicit VideoReader(const std::string& path, int stream = -1);
  // The same for a file held in memory (<avikit/in_memory_file.h>): the reader shares the bytes,
  // path() is the file's name (maybe empty) and errors name it. Null bytes throw
  // kInvalidArgument, as they are no file at all; bytes that are not AVI throw as a file would.
  explicit VideoReader(const InMemoryFile& file, int stream = -1);
  ~VideoReader();
  VideoReader(VideoReader&& other) noexcept;
  VideoReader& operator=(VideoReader&& other) noexcept;
  VideoReader(const VideoReader&) = delete;
  VideoReader& operator=(const VideoReader&) = delete;

  const std::string& path() const;
  int stream() const;
  std::int64_t frame_count() const;
  Rational fps() const;     // the stream's own rate / scale
  double duration() const;  // seconds: frame_count / fps
  int width() const;
  int height() const;
  std::string codec() const;   // the decoder's description, e.g. "libavcodec MPEG-4 part 2"
  std::string fourcc() const;  // the stream's compression as four printable characters
  std::vector<std::int64_t> key_frames() const;
  std::int64_t position() const;  // the frame read last, -1 before the first read

  // Frame `index` (negative: from the end) into `out`, which must hold frame_bytes() bytes.
  void read(std::int64_t index, PixelFormat format, std::span<std::uint8_t> out);
  Frame read(std::int64_t index, PixelFormat format = PixelFormat::kRgb24);
  // The frames fetched in file order (each decoded once, however often it is asked for) and
  // laid out back to back in the order asked; `out` holds indices.size() frames. Frames after
  // different key frames are decoded two walks at a time, the second walk by a reader of its
  // own on a thread the call starts and ends.
  void read_batch(std::span<const std::int64_t> indices, PixelFormat format,
                  std::span<std::uint8_t> out);
  std::vector<Frame> read_batch(std::span<const std::int64_t> indices,
                                PixelFormat format = PixelFormat::kRgb24);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class AudioReader {
 public:
  // Opens the audio stream `stream` (-1: the first) of an AVI or WAVE file, delivered at `rate`
  // Hz and `channels` channels (0: the stream's own, held to 8000-48000 Hz and at most 2).
  explicit AudioReader(const std::string& path, int rate = 0, int channels = 0, int stream = -1);
  // A file held in memory, as VideoReader's: shared bytes, null bytes throw kInvalidArgument.
  explicit AudioReader(const InMemoryFile& file, int rate = 0, int channels = 0, int stream = -1);
  ~AudioReader();
  AudioReader(AudioReader&& other) noexcept;
  AudioReader& operator=(AudioReader&& other) noexcept;
  AudioReader(const AudioReader&) = delete;
  AudioReader& operator=(const AudioReader&) = delete;

  const std::string& path() const;
  int rate() const;
  int channels() const;
  int source_rate() const;
  int source_channels() const;
  double duration() const;            // seconds
  std::int64_t sample_count() const;  // sample frames at rate()

  // `count` sample frames from sample frame `start`, interleaved; fewer at the end of the
  // stream. Positions past the end give none.
  std::vector<std::int16_t> read(std::int64_t start, std::int64_t count);
  std::vector<float> read_float(std::int64_t start, std::int64_t count);  // int16 / 32768
  std::vector<std::int16_t> read_time(double start_seconds, double seconds);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace avikit
