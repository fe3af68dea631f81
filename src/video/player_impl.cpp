// The video player's life cycle: open, close, stream selection and the descriptive queries.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "hostlib/avcodec_driver.h"
#include "video/avi_video_player_impl.h"

namespace avikit {

namespace {

// The codecs must be in the codec manager before a player looks for one. Registering is
// idempotent and thread-safe; the once-flag spares later opens even the call.
void register_codecs_once() {
  static std::once_flag once;
  std::call_once(once, [] { hostlib::register_avcodec_driver(); });
}

}  // namespace

AviVideoPlayerImpl::AviVideoPlayerImpl() {
  video_info_.stream = -1;
  audio_info_.stream = -1;
}

AviVideoPlayerImpl::~AviVideoPlayerImpl() { close(); }

int AviVideoPlayerImpl::open(const platform::FileSource& source, int stream) {
  register_codecs_once();
  if (reader_) {
    if (reader_->file() == nullptr ||
        !platform::same_file(reader_->file()->container().file_source(), source))
      close();
    trim_start_ = 0;
    trim_length_ = total_frames_;
  }
  if (!reader_) reader_ = std::make_unique<VideoMediaReader>();
  if (!reader_->open(source, USE_VIDEO)) return 1;
  if (reader_->prepare_output(stream, 1) == 0 && undecodable_video()) {
    // A stream no codec takes would only ever show black frames: say so at open instead.
    close();
    return 1;
  }
  select_video_stream(stream);
  has_video_ = 1;
  return 0;
}

bool AviVideoPlayerImpl::undecodable_video() const {
  SharedAviFile* file = reader_ ? reader_->file() : nullptr;
  // Uncompressed and DV streams are named by avikit itself; a compressed one only by a codec.
  return file != nullptr && file->container().video_format() != nullptr &&
         file->container().video_type_name() == nullptr;
}

void AviVideoPlayerImpl::close() {
  reader_.reset();  // releases the shared file
  total_frames_ = 0;
  current_frame_ = 0;
  trim_start_ = 0;
  trim_length_ = 0;
  output_dib_.clear();
  image_current_ = 0;
  rgb_current_ = 0;
  audio_list_ = nullptr;
  audio_list_count_ = 0;
  video_list_ = nullptr;
  video_list_count_ = 0;
  audio_info_.stream = -1;
  std::memset(static_cast<void*>(&video_info_), 0, sizeof video_info_);
  video_info_.stream = -1;
  image_.reset();
  has_video_ = 0;
}

int AviVideoPlayerImpl::select_video_stream(int stream) {
  if (!reader_) return -1;
  SharedAviFile* file = reader_->file();
  if (stream != -1) {
    if (stream == video_info_.stream) return stream;
    if (reader_->prepare_output(stream, 1) == 0) {
      file = reader_->file();
      return file != nullptr ? file->container().selected_video_stream_number() : 0;
    }
    file = reader_->file();
  }
  image_.reset();
  output_dib_.clear();
  image_current_ = 0;
  rgb_current_ = 0;
  const auto frames = file != nullptr ? file->container().frame_count() : 0u;
  // The host counts in ints: a header claiming more frames (2^32 - 1, say) is held to the
  // largest one. Nothing is sized by this count; frames past the index fail to decode.
  total_frames_ = static_cast<std::int32_t>(std::min<std::uint32_t>(frames, INT32_MAX));
  trim_length_ = total_frames_;
  reverse_ = 0;
  frame_rate_ =
      file != nullptr ? static_cast<double>(file->container().frame_rate()) : kNoFileFrameRate;
  frame_duration_ = 1.0 / frame_rate_;
  if (reader_->frame().header == nullptr) reader_->prepare_output(-1, 1);
  file = reader_->file();
  const platform::BITMAPINFOHEADER* h = reader_->frame().header;
  width_ = h != nullptr ? h->biWidth : 0;
  height_ = h != nullptr ? h->biHeight : 0;
  video_info_ = VideoInfo();
  video_info_.kind = 10;
  video_info_.inter_frames = 0;  // the player does not work these out
  video_info_.bit_rate = 0;
  video_info_.frame_rate = frame_rate_;
  video_info_.width = width_;
  video_info_.height = height_;
  video_info_.stream = file != nullptr ? file->container().selected_video_stream_number() : -1;
  // Compat: no test for a zero rate; a stream without one reports an infinite length.
  video_info_.length = file != nullptr ? static_cast<double>(frames) /
                                             static_cast<double>(file->container().frame_rate())
                                       : 0.0;
  return video_info_.stream;
}

const char* AviVideoPlayerImpl::get_file_name() const {
  return reader_ && reader_->file() != nullptr ? reader_->file()->container().file_name() : nullptr;
}

double AviVideoPlayerImpl::get_file_size() const {
  return reader_ && reader_->file() != nullptr
             ? static_cast<double>(reader_->file()->container().file_size())
             : 0.0;
}

const VideoInfo* AviVideoPlayerImpl::get_video_info_list(int& count) const {
  count = video_list_count_;
  return video_list_;
}

const AudioInfo* AviVideoPlayerImpl::get_audio_info_list(int& count) const {
  count = audio_list_count_;
  return audio_list_;
}

}  // namespace avikit
