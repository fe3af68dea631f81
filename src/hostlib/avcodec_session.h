#pragma once
// One open instance of the libavcodec driver: the decoder begun for one input and output
// format, and the numbering of the pictures of the current run (see avcodec_driver.h).

#include <avikit/platform/vfw.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "hostlib/avcodec_driver.h"
#include "hostlib/riff_video_tags.h"

struct AVBufferPool;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace avikit {

namespace hostlib::detail {

// "dvsd" in any letter case.
bool is_dv_type2(std::uint32_t fourcc);
// Codec id of the AVI tag table for a FOURCC (case-insensitive), or 0 (AV_CODEC_ID_NONE).
int codec_for_fourcc(std::uint32_t fourcc);
// libavcodec's codec id for an entry of the tag table (AV_CODEC_ID_NONE, 0, when this
// libavcodec lacks it), and for a FOURCC: the first entry naming exactly it, else the first
// that names it in another letter case (ASCII), else 0.
int riff_tag_codec_id(const RiffVideoTag& tag);
int riff_codec_for_fourcc(std::uint32_t fourcc);

// The driver's procedure for DRV_OPEN of an instance and every message after it, and the FOURCCs
// it opens for (avcodec_driver.h).
platform::LRESULT avcodec_instance_proc(platform::DWORD_PTR driver_id, platform::HANDLE driver,
                                        platform::UINT message, platform::LPARAM param1,
                                        platform::LPARAM param2);
const std::uint32_t* avcodec_handlers(std::size_t* count);

enum class OutputKind { kNone, kYv12, kYuy2, kRgb24 };
// The output kind a header asks for at the given size, or kNone.
OutputKind output_kind(const platform::BITMAPINFOHEADER& out, int width, int height);

// Frees each libav object with its own libav function.
struct AvDeleter {
  void operator()(AVCodecContext* context) const;
  void operator()(AVPacket* packet) const;
  void operator()(AVFrame* frame) const;
  void operator()(AVBufferPool* pool) const;
  void operator()(SwsContext* sws) const;
};
template <typename T>
using AvPtr = std::unique_ptr<T, AvDeleter>;

class AvcodecSession {
 public:
  explicit AvcodecSession(std::uint32_t handler);
  ~AvcodecSession();
  AvcodecSession(const AvcodecSession&) = delete;
  AvcodecSession& operator=(const AvcodecSession&) = delete;

  std::uint32_t handler() const { return handler_; }
  // ICERR_OK when this input (and output, if given) can be decoded.
  platform::LRESULT query(const platform::BITMAPINFOHEADER* in,
                          const platform::BITMAPINFOHEADER* out) const;
  platform::LRESULT begin(const platform::BITMAPINFOHEADER* in,
                          const platform::BITMAPINFOHEADER* out);
  platform::LRESULT decompress(const platform::ICDECOMPRESS& d);
  platform::LRESULT drain(void* dst);
  platform::LRESULT end();
  void run_state(AvkRunState& state) const;

 private:
  struct Picture {
    AvPtr<AVFrame> frame;  // null for a B-frame a hurried call did not decode
    int offset;
  };

  int codec_for(const platform::BITMAPINFOHEADER& in) const;
  void start_run();
  [[nodiscard]] bool fill_packet(const void* bytes, std::uint32_t size);
  [[nodiscard]] bool send(AVPacket* packet);
  void receive();
  void count_chunk(bool had_picture, bool picture_came_out);
  [[nodiscard]] bool queue_repeat();
  [[nodiscard]] bool may_skip(const void* bytes, std::uint32_t size) const;
  platform::LRESULT deliver(void* dst, bool hurry);
  [[nodiscard]] bool write_picture(const AVFrame& frame, void* dst);
  void copy_to_dib(const AVFrame& picture, std::uint8_t* base) const;
  void clear_queue();
  AvPtr<AVFrame> take_frame();
  void give_back(AvPtr<AVFrame> frame);
  const AVFrame* newest() const;
  static int get_buffer(AVCodecContext* context, AVFrame* frame, int flags);

  std::uint32_t handler_;
  // All freed by end().
  AvPtr<AVCodecContext> context_;
  AvPtr<AVPacket> packet_;
  AvPtr<AVBufferPool> packet_pool_;  // buffers of packet_pool_size_ bytes
  std::size_t packet_pool_size_ = 0;
  AvPtr<AVFrame> frame_;
  AvPtr<SwsContext> sws_;
  AvPtr<AVFrame> scaled_;  // libswscale's padded output
  OutputKind kind_ = OutputKind::kNone;
  int width_ = 0;
  int height_ = 0;

  // The run.
  std::deque<Picture> queue_;
  // Holds the newest picture once the queue has handed it out, for repeats.
  AvPtr<AVFrame> last_;
  std::vector<AvPtr<AVFrame>> spare_;  // emptied frames for reuse
  static constexpr std::size_t kMaxSpare = 8;
  int chunks_ = 0;
  int picture_ = -1;
  int first_picture_ = -1;
  int next_offset_ = 0;
  int skipped_ = 0;      // chunks without a picture before the first picture came out
  int received_ = 0;     // pictures taken from the decoder, ever
  int allocations_ = 0;  // pictures the decoder began for the chunk being decoded
  bool drained_ = false;
  bool used_ = false;
  bool packed_ = false;          // a chunk held more than one MPEG-4 picture: never skip B-frames
  bool newest_skipped_ = false;  // the newest picture is a B-frame that was not decoded  // the
                                 // decoder has seen data since it was opened or flushed
};

}  // namespace hostlib::detail

}  // namespace avikit
