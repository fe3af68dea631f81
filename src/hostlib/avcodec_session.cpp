#include "hostlib/avcodec_session.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <span>
#include <vector>

#include "hostlib/dib_layout.h"
#include "hostlib/riff_video_tags.h"
#include "hostlib/stream_colour.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

namespace avikit {

namespace hostlib::detail {
namespace {

using platform::BITMAPINFOHEADER;
using platform::ICERR_BADFORMAT;
using platform::ICERR_BADPARAM;
using platform::ICERR_BADSIZE;
using platform::ICERR_ERROR;
using platform::ICERR_MEMORY;
using platform::ICERR_OK;
using platform::LRESULT;

constexpr int kMaxSide = 16384;
// Codec data behind the BITMAPINFOHEADER; real streams carry a few hundred bytes at most.
constexpr std::uint32_t kMaxExtradata = 1u << 20;
// A chunk larger than this is not one video frame of an AVI file.
constexpr std::uint32_t kMaxChunk = 64u << 20;
// Pictures waiting in the queue; more means the caller never asks for them.
constexpr std::size_t kMaxQueue = 64;

// MPEG-4 part 2 (ISO/IEC 14496-2): a VOP starts with the code 00 00 01 B6, and the top two bits
// of the byte after it give its coding type, 2 for a B-VOP.
constexpr std::uint8_t kVopStartCode = 0xB6;
constexpr int kBVop = 2;

// The number of VOPs in a chunk, and whether the first of them is a B-VOP.
struct VopScan {
  int vops = 0;
  bool first_is_b = false;
};

// Stops at the second VOP: more than one is all the caller needs to know.
VopScan scan_vops(const std::uint8_t* p, std::uint32_t size) {
  VopScan out;
  // i is the position of the 01 byte: two zeros before it, the start code and the type after.
  for (std::uint32_t i = 2; i + 2 < size; ++i) {
    const void* one = std::memchr(p + i, 1, size - 2 - i);
    if (one == nullptr) break;
    i = static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(one) - p);
    if (p[i - 2] != 0 || p[i - 1] != 0 || p[i + 1] != kVopStartCode) continue;
    if (out.vops++ == 0) out.first_is_b = (p[i + 2] >> 6) == kBVop;
    if (out.vops > 1) break;
  }
  return out;
}

const std::vector<int>& codec_ids() {
  static const std::vector<int> ids = [] {
    std::vector<int> out;
    out.reserve(riff_video_tags().size());
    for (const RiffVideoTag& t : riff_video_tags()) {
      const AVCodecDescriptor* d = avcodec_descriptor_get_by_name(t.codec);
      out.push_back(d != nullptr ? static_cast<int>(d->id) : static_cast<int>(AV_CODEC_ID_NONE));
    }
    return out;
  }();
  return ids;
}

bool sane_input(const BITMAPINFOHEADER* in) {
  return in != nullptr && in->biWidth >= 1 && in->biWidth <= kMaxSide && in->biHeight >= 1 &&
         in->biHeight <= kMaxSide;
}

}  // namespace

bool is_dv_type2(std::uint32_t fourcc) {
  return (fourcc & 0xDFDFDFDFu) == platform::fourcc("DVSD");  // 0xDF folds ASCII letter case
}

int riff_tag_codec_id(const RiffVideoTag& tag) {
  return codec_ids()[static_cast<std::size_t>(&tag - riff_video_tags().data())];
}

int riff_codec_for_fourcc(std::uint32_t v) {
  const std::span<const RiffVideoTag> tags = riff_video_tags();
  const std::vector<int>& ids = codec_ids();
  for (std::size_t i = 0; i < tags.size(); ++i) {
    if (tags[i].fourcc == v && ids[i] != AV_CODEC_ID_NONE) return ids[i];
  }
  const std::uint32_t u = platform::upper_fourcc(v);
  for (std::size_t i = 0; i < tags.size(); ++i) {
    if (platform::upper_fourcc(tags[i].fourcc) == u && ids[i] != AV_CODEC_ID_NONE) return ids[i];
  }
  return AV_CODEC_ID_NONE;
}

int codec_for_fourcc(std::uint32_t fourcc) { return riff_codec_for_fourcc(fourcc); }

OutputKind output_kind(const BITMAPINFOHEADER& out, int width, int height) {
  if (out.biWidth != width || out.biHeight != height) return OutputKind::kNone;
  if (out.biCompression == platform::fourcc("YV12") && out.biBitCount == 12) {
    return OutputKind::kYv12;
  }
  if (out.biCompression == platform::fourcc("YUY2") && out.biBitCount == 16) {
    return OutputKind::kYuy2;
  }
  if (out.biCompression == platform::BI_RGB && out.biBitCount == 24) return OutputKind::kRgb24;
  return OutputKind::kNone;
}

void AvDeleter::operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
void AvDeleter::operator()(AVPacket* packet) const { av_packet_free(&packet); }
void AvDeleter::operator()(AVFrame* frame) const { av_frame_free(&frame); }
void AvDeleter::operator()(AVBufferPool* pool) const { av_buffer_pool_uninit(&pool); }
void AvDeleter::operator()(SwsContext* sws) const { sws_freeContext(sws); }

AvcodecSession::AvcodecSession(std::uint32_t handler) : handler_(handler) {}

AvcodecSession::~AvcodecSession() { (void)end(); }

int AvcodecSession::codec_for(const BITMAPINFOHEADER& in) const {
  // DV type-2 belongs to the module's own decoder, whichever handler was opened.
  if (is_dv_type2(in.biCompression)) return AV_CODEC_ID_NONE;
  int id = codec_for_fourcc(in.biCompression);
  // Only a compression that names no codec at all (0) leaves the choice to the handler. A FOURCC
  // nobody decodes must not be taken for this instance's codec: the codec manager's walk offers
  // every input to every instance, and the first would take anything.
  if (id == AV_CODEC_ID_NONE && in.biCompression == platform::BI_RGB) {
    id = codec_for_fourcc(handler_);
  }
  if (id == AV_CODEC_ID_NONE) return AV_CODEC_ID_NONE;
  return avcodec_find_decoder(static_cast<AVCodecID>(id)) != nullptr ? id : AV_CODEC_ID_NONE;
}

LRESULT AvcodecSession::query(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) const {
  if (!sane_input(in) || codec_for(*in) == AV_CODEC_ID_NONE) return ICERR_BADFORMAT;
  if (out != nullptr && output_kind(*out, in->biWidth, in->biHeight) == OutputKind::kNone) {
    return ICERR_BADFORMAT;
  }
  return ICERR_OK;
}

LRESULT AvcodecSession::begin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
  if (out == nullptr || query(in, out) != ICERR_OK) return ICERR_BADFORMAT;
  (void)end();
  const AVCodec* codec = avcodec_find_decoder(static_cast<AVCodecID>(codec_for(*in)));
  context_.reset(avcodec_alloc_context3(codec));
  packet_.reset(av_packet_alloc());
  frame_.reset(av_frame_alloc());
  last_.reset(av_frame_alloc());
  if (context_ == nullptr || packet_ == nullptr || frame_ == nullptr || last_ == nullptr) {
    (void)end();
    return ICERR_MEMORY;
  }
  context_->width = in->biWidth;
  context_->height = in->biHeight;
  context_->coded_width = in->biWidth;
  context_->coded_height = in->biHeight;
  context_->codec_tag = in->biCompression;
  context_->bits_per_coded_sample = in->biBitCount;
  // One thread: frame threads would add their own delay to every run.
  context_->thread_count = 1;
  context_->thread_type = 0;
  // A stream whose own headers claim a far larger picture than the AVI header is damaged;
  // refusing it early keeps a bad chunk from allocating gigabytes.
  context_->max_pixels = std::max<std::int64_t>(std::int64_t{in->biWidth} * in->biHeight * 4,
                                                std::int64_t{4096} * 4096);
  context_->opaque = this;
  context_->get_buffer2 = &AvcodecSession::get_buffer;
  if (in->biSize > sizeof(BITMAPINFOHEADER) &&
      in->biSize - sizeof(BITMAPINFOHEADER) <= kMaxExtradata) {
    const std::uint32_t n = in->biSize - static_cast<std::uint32_t>(sizeof(BITMAPINFOHEADER));
    auto* extra = static_cast<std::uint8_t*>(av_mallocz(n + AV_INPUT_BUFFER_PADDING_SIZE));
    if (extra == nullptr) {
      (void)end();
      return ICERR_MEMORY;
    }
    std::memcpy(extra, reinterpret_cast<const std::uint8_t*>(in) + sizeof(BITMAPINFOHEADER), n);
    context_->extradata = extra;
    context_->extradata_size = static_cast<int>(n);
  }
  if (avcodec_open2(context_.get(), codec, nullptr) < 0) {
    (void)end();
    return ICERR_BADFORMAT;
  }
  kind_ = output_kind(*out, in->biWidth, in->biHeight);
  width_ = in->biWidth;
  height_ = in->biHeight;
  start_run();
  return ICERR_OK;
}

LRESULT AvcodecSession::end() {
  clear_queue();
  last_.reset();
  spare_.clear();
  sws_.reset();
  scaled_.reset();
  context_.reset();
  packet_.reset();
  packet_pool_.reset();
  packet_pool_size_ = 0;
  frame_.reset();
  kind_ = OutputKind::kNone;
  return ICERR_OK;
}

void AvcodecSession::clear_queue() {
  for (Picture& p : queue_) give_back(std::move(p.frame));
  queue_.clear();
}

// Pictures move through a few recycled AVFrames: a fresh allocation (and a second reference)
// per picture showed up as allocator churn in exact-seek runs that decode hundreds of pictures.
AvPtr<AVFrame> AvcodecSession::take_frame() {
  if (spare_.empty()) return AvPtr<AVFrame>(av_frame_alloc());
  AvPtr<AVFrame> f = std::move(spare_.back());
  spare_.pop_back();
  return f;
}

void AvcodecSession::give_back(AvPtr<AVFrame> frame) {
  if (frame == nullptr) return;  // a skipped B-frame: nothing to give
  av_frame_unref(frame.get());
  if (spare_.size() < kMaxSpare) spare_.push_back(std::move(frame));
}

const AVFrame* AvcodecSession::newest() const {
  if (!queue_.empty()) return queue_.back().frame.get();
  return last_ != nullptr && last_->buf[0] != nullptr ? last_.get() : nullptr;
}

void AvcodecSession::start_run() {
  if (used_) avcodec_flush_buffers(context_.get());
  used_ = false;
  clear_queue();
  if (last_ != nullptr) av_frame_unref(last_.get());
  chunks_ = 0;
  picture_ = -1;
  first_picture_ = -1;
  next_offset_ = 0;
  skipped_ = 0;
  drained_ = false;
  newest_skipped_ = false;
}

int AvcodecSession::get_buffer(AVCodecContext* context, AVFrame* frame, int flags) {
  // Counting the pictures the decoder begins tells a chunk it skipped (an open-GOP B-frame
  // without its reference) from one it holds back.
  ++static_cast<AvcodecSession*>(context->opaque)->allocations_;
  return avcodec_default_get_buffer2(context, frame, flags);
}

// Packets are reference counted (libavcodec copies an unowned one again) and come from a pool:
// a fresh buffer per chunk sent the allocator into heap consolidation on every frame.
bool AvcodecSession::fill_packet(const void* bytes, std::uint32_t size) {
  const std::size_t need = std::size_t{size} + AV_INPUT_BUFFER_PADDING_SIZE;
  if (need > packet_pool_size_) {
    packet_pool_.reset();  // buffers still held stay valid until released
    packet_pool_size_ = std::max<std::size_t>(std::bit_ceil(need), 64 * 1024);
    packet_pool_.reset(av_buffer_pool_init(packet_pool_size_, nullptr));
    if (packet_pool_ == nullptr) {
      packet_pool_size_ = 0;
      return false;
    }
  }
  av_packet_unref(packet_.get());
  packet_->buf = av_buffer_pool_get(packet_pool_.get());
  if (packet_->buf == nullptr) return false;
  packet_->data = packet_->buf->data;
  packet_->size = static_cast<int>(size);
  std::memcpy(packet_->data, bytes, size);
  std::memset(packet_->data + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
  return true;
}

bool AvcodecSession::send(AVPacket* packet) {
  used_ = true;
  int ret = avcodec_send_packet(context_.get(), packet);
  if (ret == AVERROR(EAGAIN)) {
    receive();
    ret = avcodec_send_packet(context_.get(), packet);
  }
  return ret >= 0 || ret == AVERROR_EOF;
}

void AvcodecSession::receive() {
  while (avcodec_receive_frame(context_.get(), frame_.get()) == 0) {
    if (queue_.size() >= kMaxQueue) {
      av_frame_unref(frame_.get());
      continue;
    }
    AvPtr<AVFrame> picture = take_frame();
    if (picture == nullptr) {
      av_frame_unref(frame_.get());
      continue;
    }
    av_frame_move_ref(picture.get(), frame_.get());
    if (first_picture_ < 0) {
      first_picture_ = skipped_;
      next_offset_ = skipped_;
    }
    ++received_;
    // The newest picture is now the queue's back; last_ only stands in once the queue empties.
    av_frame_unref(last_.get());
    newest_skipped_ = false;
    queue_.push_back({std::move(picture), next_offset_++});
  }
}

void AvcodecSession::count_chunk(bool had_picture, bool picture_came_out) {
  // Until the first picture comes out, a chunk that began no picture is one the decoder dropped
  // (an open-GOP leading B-frame) or a dropped frame: its display slot lies before the key
  // frame's picture.
  if (!had_picture && !picture_came_out && first_picture_ < 0) ++skipped_;
  ++chunks_;
}

bool AvcodecSession::queue_repeat() {
  // A chunk of 0 bytes is a dropped frame: it shows the picture before it again. Before the
  // run's first picture has come out, that is a picture shown before the key frame's (the
  // decoder still holds the key frame when playing on from the frames before it, too), so the
  // dropped frame has no picture in this run: a walk to it starts at the key frame before.
  // A skipped B-frame cannot be shown again. The walk never hurries a frame that a dropped frame
  // follows; should a caller do so, fail rather than show another picture.
  if (newest_skipped_ && queue_.empty()) return false;
  const AVFrame* source = newest();
  if (source == nullptr) return false;
  if (queue_.size() >= kMaxQueue) return false;
  AvPtr<AVFrame> copy = take_frame();
  if (copy == nullptr) return false;
  if (av_frame_ref(copy.get(), source) < 0) {
    give_back(std::move(copy));
    return false;
  }
  queue_.push_back({std::move(copy), next_offset_++});
  return true;
}

// A hurried MPEG-4 chunk holding one B-VOP is not decoded at all: no later picture refers to
// it. libavcodec would give its picture at once (a B-frame leaves the reorder delay unchanged),
// so its slot is the next offset; with pictures still queued, or before the run's first picture
// or in a packed stream, that is not certain, and the chunk is decoded as any other.
bool AvcodecSession::may_skip(const void* bytes, std::uint32_t size) const {
  if (context_->codec_id != AV_CODEC_ID_MPEG4 || packed_ || !queue_.empty() || first_picture_ < 0 ||
      context_->has_b_frames == 0) {
    return false;
  }
  const VopScan scan = scan_vops(static_cast<const std::uint8_t*>(bytes), size);
  return scan.vops == 1 && scan.first_is_b;
}

LRESULT AvcodecSession::decompress(const platform::ICDECOMPRESS& d) {
  if (context_ == nullptr) return ICERR_ERROR;
  if (d.lpbiInput == nullptr || d.lpbiOutput == nullptr || d.lpOutput == nullptr ||
      output_kind(*d.lpbiOutput, width_, height_) != kind_) {
    return ICERR_BADFORMAT;
  }
  if ((d.dwFlags & platform::ICDECOMPRESS_NOTKEYFRAME) == 0) {
    start_run();
  } else if (drained_) {
    return ICERR_ERROR;
  }
  const std::uint32_t size = d.lpbiInput->biSizeImage;
  if (size > kMaxChunk) return ICERR_BADSIZE;
  if (size > 0 && d.lpInput == nullptr) return ICERR_BADPARAM;
  bool ok = true;
  bool had_picture = false;
  const int received = received_;
  allocations_ = 0;
  const bool hurry = (d.dwFlags & platform::ICDECOMPRESS_HURRYUP) != 0;
  if (size == 0) {
    had_picture = queue_repeat();
    if (!had_picture && newest_skipped_) return ICERR_ERROR;
  } else {
    const bool skip = hurry && may_skip(d.lpInput, size);
    if (!skip && context_->codec_id == AV_CODEC_ID_MPEG4 && !packed_ &&
        scan_vops(static_cast<const std::uint8_t*>(d.lpInput), size).vops > 1) {
      packed_ = true;
    }
    if (!fill_packet(d.lpInput, size)) return ICERR_MEMORY;
    packet_->pts = chunks_;
    packet_->dts = chunks_;
    packet_->flags = (d.dwFlags & platform::ICDECOMPRESS_NOTKEYFRAME) == 0 ? AV_PKT_FLAG_KEY : 0;
    // A skipped B-VOP still has its header read: its times feed the next B-frames.
    if (skip) context_->skip_frame = AVDISCARD_NONREF;
    ok = send(packet_.get());
    av_packet_unref(packet_.get());
    receive();
    context_->skip_frame = AVDISCARD_DEFAULT;
    had_picture = allocations_ > 0;
    if (skip && !had_picture && received_ == received) {
      queue_.push_back({nullptr, next_offset_++});  // the slot its picture would have taken
      had_picture = true;
    }
    // A decoder that does not reorder gives each chunk's picture at once. A chunk that gave
    // none (data it could make no picture of) still takes its display slot, as a dropped frame
    // does: taken for a leading B-frame it would shift every later picture of the run.
    if (received_ == received && context_->has_b_frames == 0) had_picture = queue_repeat();
  }
  count_chunk(had_picture, received_ != received);
  const LRESULT delivered = deliver(d.lpOutput, hurry);
  return ok ? delivered : ICERR_BADFORMAT;
}

LRESULT AvcodecSession::drain(void* dst) {
  if (context_ == nullptr || dst == nullptr) return ICERR_BADPARAM;
  if (!drained_) {
    drained_ = true;
    if (used_ && send(nullptr)) receive();
  }
  if (queue_.empty()) return ICERR_ERROR;
  return deliver(dst, false);
}

LRESULT AvcodecSession::deliver(void* dst, bool hurry) {
  if (queue_.empty()) return ICERR_OK;
  Picture p = std::move(queue_.front());
  queue_.pop_front();
  if (p.frame == nullptr) {
    // Only a hurried call queues a skipped B-frame, and it takes it out again at once.
    picture_ = p.offset;
    newest_skipped_ = queue_.empty();
    return hurry ? ICERR_OK : ICERR_ERROR;
  }
  // A hurried picture is one the caller only passes through: it is numbered but not converted.
  const bool written = hurry || write_picture(*p.frame, dst);
  if (queue_.empty()) {
    // Keep the picture just shown: a dropped frame that follows repeats it.
    av_frame_unref(last_.get());
    av_frame_move_ref(last_.get(), p.frame.get());
    newest_skipped_ = false;
  }
  give_back(std::move(p.frame));
  if (!written) return ICERR_BADFORMAT;
  picture_ = p.offset;
  return ICERR_OK;
}

bool AvcodecSession::write_picture(const AVFrame& frame, void* dst) {
  AVPixelFormat dst_format = AV_PIX_FMT_BGR24;
  if (kind_ == OutputKind::kYv12) dst_format = AV_PIX_FMT_YUV420P;
  if (kind_ == OutputKind::kYuy2) dst_format = AV_PIX_FMT_YUYV422;
  if (frame.width < 1 || frame.height < 1) return false;
  // libswscale copies a 4:2:0 picture of the output's size unchanged: skip its passes and copy
  // the planes straight into the bitmap.
  if (dst_format == AV_PIX_FMT_YUV420P && frame.format == AV_PIX_FMT_YUV420P &&
      frame.width == width_ && frame.height == height_) {
    copy_to_dib(frame, static_cast<std::uint8_t*>(dst));
    if (needs_bt601_yuv(frame)) {
      bt709_to_bt601_yuv(static_cast<std::uint8_t*>(dst), width_, height_, 12);
    }
    return true;
  }
  // YUY2 takes each 4:2:0 chroma row for both of its luma rows, as ffmpeg's own conversion to
  // RGB does: a bilinear filter would blend neighbouring rows and smear every colour edge.
  const int flags = kind_ == OutputKind::kYuy2 ? SWS_POINT : SWS_BILINEAR;
  // libswscale frees the old context when it makes a new one.
  sws_.reset(sws_getCachedContext(sws_.release(), frame.width, frame.height,
                                  static_cast<AVPixelFormat>(frame.format), width_, height_,
                                  dst_format, flags, nullptr, nullptr, nullptr));
  if (sws_ == nullptr) return false;
  if (kind_ == OutputKind::kRgb24) follow_colour_details(sws_.get(), frame);
  // libswscale writes whole vector groups past the last pixel of a row and of the picture, so it
  // gets a padded, aligned frame of its own; the bitmap then takes exactly its bytes.
  if (scaled_ == nullptr) scaled_.reset(av_frame_alloc());
  if (scaled_ == nullptr) return false;
  if (scaled_->width != width_ || scaled_->height != height_ || scaled_->format != dst_format) {
    av_frame_unref(scaled_.get());
    scaled_->width = width_;
    scaled_->height = height_;
    scaled_->format = dst_format;
    if (av_frame_get_buffer(scaled_.get(), 0) < 0) {
      av_frame_unref(scaled_.get());
      return false;
    }
  }
  if (sws_scale(sws_.get(), frame.data, frame.linesize, 0, frame.height, scaled_->data,
                scaled_->linesize) <= 0) {
    return false;
  }
  copy_to_dib(*scaled_, static_cast<std::uint8_t*>(dst));
  if (kind_ == OutputKind::kYuy2 && (width_ & 1) != 0) {
    // An odd width's last pair has one pixel: its second luma byte repeats it rather than
    // whatever the decoder keeps past the picture's edge.
    const auto pitch = static_cast<std::size_t>(dib_layout(width_, height_, 16).pitch);
    const auto second = 2 * static_cast<std::size_t>(width_);
    for (std::size_t y = 0; y < static_cast<std::size_t>(height_); ++y) {
      std::uint8_t* row = static_cast<std::uint8_t*>(dst) + y * pitch;
      row[second] = row[second - 2];
    }
  }
  if (kind_ != OutputKind::kRgb24 && needs_bt601_yuv(frame)) {
    bt709_to_bt601_yuv(static_cast<std::uint8_t*>(dst), width_, height_,
                       kind_ == OutputKind::kYv12 ? 12 : 16);
  }
  return true;
}

void AvcodecSession::copy_to_dib(const AVFrame& picture, std::uint8_t* base) const {
  const auto rows = static_cast<std::size_t>(height_);
  const auto copy_plane = [](const std::uint8_t* from, int from_stride, std::uint8_t* to,
                             std::ptrdiff_t to_stride, std::size_t bytes, std::size_t count) {
    for (std::size_t y = 0; y < count; ++y) {
      std::memcpy(to + static_cast<std::ptrdiff_t>(y) * to_stride,
                  from + y * static_cast<std::size_t>(from_stride), bytes);
    }
  };
  const auto w = static_cast<std::size_t>(width_);
  if (kind_ == OutputKind::kYv12) {
    // YV12 stores V before U; libswscale's planar order is Y, U, V.
    const DibLayout l = dib_layout(width_, height_, 12);
    const std::size_t luma = static_cast<std::size_t>(l.pitch) * rows;
    const std::size_t chroma =
        static_cast<std::size_t>(l.chroma_pitch) * static_cast<std::size_t>(l.chroma_rows);
    const std::size_t chroma_bytes = (w + 1) / 2;
    const auto chroma_rows = static_cast<std::size_t>(l.chroma_rows);
    copy_plane(picture.data[0], picture.linesize[0], base, l.pitch, w, rows);
    copy_plane(picture.data[2], picture.linesize[2], base + luma, l.chroma_pitch, chroma_bytes,
               chroma_rows);
    copy_plane(picture.data[1], picture.linesize[1], base + luma + chroma, l.chroma_pitch,
               chroma_bytes, chroma_rows);
  } else if (kind_ == OutputKind::kYuy2) {
    const DibLayout l = dib_layout(width_, height_, 16);
    copy_plane(picture.data[0], picture.linesize[0], base, l.pitch, (w + 1) / 2 * 4, rows);
  } else {
    // Bottom-up: the picture's first row is the bitmap's last.
    const DibLayout l = dib_layout(width_, height_, 24);
    copy_plane(picture.data[0], picture.linesize[0],
               base + static_cast<std::size_t>(l.pitch) * (rows - 1), -l.pitch, w * 3, rows);
  }
}

void AvcodecSession::run_state(AvkRunState& state) const {
  state.chunks = chunks_;
  state.picture = picture_;
  state.first_picture = first_picture_;
  state.delay = context_ != nullptr ? context_->has_b_frames : 0;
  state.queued = static_cast<int>(queue_.size());
  state.drained = drained_ ? 1 : 0;
}

}  // namespace hostlib::detail

}  // namespace avikit
