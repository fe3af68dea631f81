// The position model: moves by frames and by time, seeks, the trim window, the settings and
// the conversions between offsets, seconds and SMPTE timecodes.
#include <avikit/smpte_timecode.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "video/avi_video_player_impl.h"

namespace avikit {

namespace {

// 32-bit two's-complement arithmetic, as the host's ints wrap.
std::int32_t wrap(std::int64_t v) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
}

// trunc(x) as a frame number: toward zero, saturated to the int range, NaN as 0.
std::int32_t to_frames(double x) {
  if (!(x == x)) return 0;
  constexpr double lo = std::numeric_limits<std::int32_t>::min();
  constexpr double hi = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(std::trunc(std::clamp(x, lo, hi)));
}

}  // namespace

std::int32_t AviVideoPlayerImpl::offset_of(std::int32_t frame) const {
  return reverse_ != 0 ? wrap(std::int64_t{trim_length_} - frame + trim_start_ - 1)
                       : wrap(std::int64_t{frame} - trim_start_);
}

std::int32_t AviVideoPlayerImpl::frame_of(std::int32_t offset) const {
  return reverse_ != 0 ? wrap(std::int64_t{trim_length_} - offset + trim_start_ - 1)
                       : wrap(std::int64_t{offset} + trim_start_);
}

// A count of frames, taken as an unsigned 32-bit number, in seconds; 0.0 without a rate.
double AviVideoPlayerImpl::seconds(std::int32_t frames) const {
  if (!(frame_rate_ > 0.0)) return 0.0;
  return static_cast<double>(static_cast<std::uint32_t>(frames)) / frame_rate_;
}

void AviVideoPlayerImpl::moved() {
  current_frame_ = static_cast<std::int32_t>(reader_->position());
  image_current_ = 0;
  rgb_current_ = 0;
}

int AviVideoPlayerImpl::forward(int frames) {
  if (!reader_) return 0;
  const std::int64_t end = std::int64_t{trim_start_} + trim_length_;
  if ((reverse_ == 0 && current_frame_ >= end) ||
      (reverse_ != 0 && current_frame_ <= trim_start_)) {
    return 0;
  }
  if (frames == 0) frames = speed_;
  const int exact = fast_speed_ == 0 ? 1 : 0;
  if (reverse_ == 0) {
    reader_->step_forward(frames, exact);
  } else {
    reader_->step_backward(frames, exact);
  }
  moved();
  return frames;
}

int AviVideoPlayerImpl::reverse(int frames) {
  if (!reader_) return 0;
  const std::int64_t end = std::int64_t{trim_start_} + trim_length_;
  if ((reverse_ != 0 && current_frame_ >= end) ||
      (reverse_ == 0 && current_frame_ <= trim_start_)) {
    return 0;
  }
  if (frames == 0) frames = speed_;
  const int exact = fast_speed_ == 0 ? 1 : 0;
  if (reverse_ == 0) {
    reader_->step_backward(frames, exact);
  } else {
    reader_->step_forward(frames, exact);
  }
  moved();
  return frames;
}

int AviVideoPlayerImpl::forward_time(double seconds) {
  const std::int32_t here = offset_of(current_frame_);
  const std::int32_t target = to_frames(seconds * frame_rate_ + 0.5);
  if (target == here) return 0;
  return forward(wrap(std::int64_t{target} - here));
}

int AviVideoPlayerImpl::reverse_time(double seconds) {
  const std::int32_t here = offset_of(current_frame_);
  const std::int32_t back = wrap(std::int64_t{here} - to_frames(seconds * frame_rate_ + 0.5));
  return back == 0 ? 0 : reverse(back);
}

int AviVideoPlayerImpl::seek(int offset, int exact) {
  if (!reader_) return 0;
  // Clamped to the whole stream, not the window.
  const std::int64_t target =
      std::max<std::int64_t>(std::min<std::int64_t>(frame_of(offset), total_frames_ - 1), 0);
  if (target != current_frame_) {
    current_frame_ =
        static_cast<std::int32_t>(reader_->seek_frame(static_cast<std::uint32_t>(target), exact));
    image_current_ = 0;
    rgb_current_ = 0;
  }
  return offset_of(current_frame_);
}

double AviVideoPlayerImpl::seek_time(double seconds, int exact) {
  seek(to_frames(seconds * frame_rate_ + 0.5), exact);
  if (!(frame_rate_ > 0.0)) return 0.0;
  return offset_of(current_frame_) / frame_rate_;
}

int AviVideoPlayerImpl::trim(int first, int last) {
  if (first >= 0 && first <= trim_length_ && last >= first) {
    last = std::min(last, trim_length_);
    trim_start_ = wrap(std::int64_t{trim_start_} + first);
    trim_length_ = last <= trim_length_ - 1 ? last - first + 1 : trim_length_ - first;
  }
  seek(0, 1);
  return trim_length_;
}

int AviVideoPlayerImpl::trim_clear() {
  trim_start_ = 0;
  trim_length_ = total_frames_;
  return total_frames_;
}

int AviVideoPlayerImpl::is_end() const {
  return current_frame_ >= std::int64_t{trim_start_} + trim_length_ ? 1 : 0;
}

int AviVideoPlayerImpl::is_start() const { return current_frame_ <= trim_start_ ? 1 : 0; }

double AviVideoPlayerImpl::get_frame_time() const { return seconds(offset_of(current_frame_)); }

double AviVideoPlayerImpl::get_total_length() const {
  return frame_rate_ > 0.0 ? trim_length_ / frame_rate_ : 0.0;
}

double AviVideoPlayerImpl::get_start_frame_time() const {
  return frame_rate_ > 0.0 ? trim_start_ / frame_rate_ : 0.0;
}

int AviVideoPlayerImpl::get_end_frame_offset() const {
  return wrap(std::int64_t{trim_length_} - 1);
}

double AviVideoPlayerImpl::get_end_frame_time() const { return seconds(get_end_frame_offset()); }

int AviVideoPlayerImpl::set_speed(int speed) {
  fast_speed_ = 0;
  if (speed >= 1 && speed <= 24) speed_ = speed;
  return speed_;
}

int AviVideoPlayerImpl::set_fast_speed(int speed) {
  speed_ = 1;
  fast_speed_ = speed;
  return speed;
}

int AviVideoPlayerImpl::set_reverse(int reverse) {
  reverse_ = reverse;
  return reverse;
}

void AviVideoPlayerImpl::set_frame_rate(double rate) {
  if (rate >= 5.0 && rate <= 60.0) {  // a NaN fails both tests
    frame_rate_ = rate;
    frame_duration_ = 1.0 / rate;
  }
}

int AviVideoPlayerImpl::timecode_2_frame(const char* timecode) const {
  if (timecode == nullptr) return 0;
  SMPTE_TimeCode tc;
  tc.set_frame_rate(frame_rate_);
  tc.set_string(timecode);
  return wrap(std::int64_t{tc.get_frame()} - trim_start_);
}

char* AviVideoPlayerImpl::frame_2_timecode(int frame, char* buffer, int mode) const {
  if (buffer == nullptr) return nullptr;
  SMPTE_TimeCode tc;
  tc.set_drop_frame_flag(0);
  tc.set_frame_rate(frame_rate_);
  tc.set_frame(wrap(std::int64_t{trim_start_} + frame));
  return tc.get_string(buffer, mode);
}

char* AviVideoPlayerImpl::get_length_timecode(char* buffer) const {
  if (buffer == nullptr) return nullptr;
  SMPTE_TimeCode tc;
  tc.set_frame_rate(frame_rate_);
  tc.set_drop_frame_flag(0);
  tc.set_second(frame_rate_ > 0.0 ? trim_length_ / frame_rate_ : 0.0);
  return tc.get_string(buffer, 1);
}

}  // namespace avikit
