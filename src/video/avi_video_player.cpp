// The exported shell: each operation forwards to the implementation and turns its absence, or
// anything thrown below (an allocation failure above all), into the operation's fixed answer.
#include <avikit/avi_video_player.h>

#include <cstring>

#include "container/open_error.h"
#include "container/shell.h"
#include "video/avi_video_player_impl.h"

namespace avikit {

namespace {

using shell::call;

char* copy_text(char* buffer, const char* text) {
  if (buffer != nullptr) std::memcpy(buffer, text, std::strlen(text) + 1);
  return buffer;
}

int open_source(AviVideoPlayerImpl* impl, const platform::FileSource& source, int stream) {
  const int result = call(impl, 1, [&](AviVideoPlayerImpl& p) { return p.open(source, stream); });
  container::note_open_result(source, result, container::OpenKind::kVideo, stream);
  return result;
}

}  // namespace

// Copies share one implementation (container/shell.h); without one, every operation answers its
// no-implementation value.
AviVideoPlayer::AviVideoPlayer() : impl_(shell::make<AviVideoPlayerImpl>()) {}

AviVideoPlayer::AviVideoPlayer(const AviVideoPlayer& other)
    : VideoPlayer(other), impl_(shell::share(other.impl_)) {}

AviVideoPlayer& AviVideoPlayer::operator=(const AviVideoPlayer& other) {
  VideoPlayer::operator=(other);
  shell::assign(impl_, other.impl_);
  return *this;
}

AviVideoPlayer::~AviVideoPlayer() { shell::release(impl_); }

int AviVideoPlayer::open(const char* name, int stream) {
  return open_source(impl_, shell::source_of(name), stream);
}
int AviVideoPlayer::open(const InMemoryFile& file, int stream) {
  return open_source(impl_, shell::source_of(file), stream);
}
void AviVideoPlayer::close() {
  call(impl_, [](AviVideoPlayerImpl& p) { p.close(); });
}
int AviVideoPlayer::has_audio() const {
  return call(impl_, 0, [](AviVideoPlayerImpl& p) { return p.has_audio(); });
}
int AviVideoPlayer::has_video() const {
  return call(impl_, 0, [](AviVideoPlayerImpl& p) { return p.has_video(); });
}
const char* AviVideoPlayer::get_file_name() const {
  return call(impl_, static_cast<const char*>(nullptr),
              [](AviVideoPlayerImpl& p) { return p.get_file_name(); });
}
const VideoInfo* AviVideoPlayer::get_video_info() const {
  return call(impl_, static_cast<const VideoInfo*>(nullptr),
              [](AviVideoPlayerImpl& p) { return p.get_video_info(); });
}
const AudioInfo* AviVideoPlayer::get_audio_info() const {
  return call(impl_, static_cast<const AudioInfo*>(nullptr),
              [](AviVideoPlayerImpl& p) { return p.get_audio_info(); });
}
int AviVideoPlayer::get_total_frames() const {
  return call(impl_, 0, [](AviVideoPlayerImpl& p) { return p.get_total_frames(); });
}
double AviVideoPlayer::get_total_length() const {
  return call(impl_, 0.0, [](AviVideoPlayerImpl& p) { return p.get_total_length(); });
}
int AviVideoPlayer::get_video_stream_id() const {
  return call(impl_, 0, [](AviVideoPlayerImpl& p) { return p.get_video_stream_id(); });
}
int AviVideoPlayer::select_video_stream(int stream) {
  return call(impl_, 0, [&](AviVideoPlayerImpl& p) { return p.select_video_stream(stream); });
}
int AviVideoPlayer::set_speed(int speed) {
  return call(impl_, 1, [&](AviVideoPlayerImpl& p) { return p.set_speed(speed); });
}
int AviVideoPlayer::get_speed() const {
  return call(impl_, 1, [](AviVideoPlayerImpl& p) { return p.get_speed(); });
}
int AviVideoPlayer::set_fast_speed(int speed) {
  return call(impl_, 0, [&](AviVideoPlayerImpl& p) { return p.set_fast_speed(speed); });
}
int AviVideoPlayer::get_fast_speed() const {
  return call(impl_, 0, [](AviVideoPlayerImpl& p) { return p.get_fast_speed(); });
}
int AviVideoPlayer::set_reverse(int reverse) {
  return call(impl_, 0, [&](AviVideoPlayerImpl& p) { return p.set_reverse(reverse); });
}
int AviVideoPlayer::get_reverse() const {
  return call(impl_, 0, [](AviVideoPlayerImpl& p) { return p.get_reverse(); });
}
int AviVideoPlayer::forward(int frames) {
  return call(impl_, 0, [&](AviVideoPlayerImpl& p) { return p.forward(frames); });
}
int AviVideoPlayer::reverse(int frames) {
  return call(impl_, 0, [&](AviVideoPlayerImpl& p) { return p.reverse(frames); });
}
int AviVideoPlayer::forward_time(double seconds) {
  return call(impl_, 0, [&](AviVideoPlayerImpl& p) { return p.forward_time(seconds); });
}
int AviVideoPlayer::reverse_time(double seconds) {
  return call(impl_, 0, [&](AviVideoPlayerImpl& p) { return p.reverse_time(seconds); });
}
// Exactness follows the fast-speed setting alone, so the exact moves are the plain ones.
int AviVideoPlayer::exact_forward(int frames) {
  return call(impl_, 0, [&](AviVideoPlayerImpl& p) { return p.forward(frames); });
}
int AviVideoPlayer::exact_reverse(int frames) {
  return call(impl_, 0, [&](AviVideoPlayerImpl& p) { return p.reverse(frames); });
}
int AviVideoPlayer::exact_forward_time(double seconds) {
  return call(impl_, 0, [&](AviVideoPlayerImpl& p) { return p.forward_time(seconds); });
}
int AviVideoPlayer::exact_reverse_time(double seconds) {
  return call(impl_, 0, [&](AviVideoPlayerImpl& p) { return p.reverse_time(seconds); });
}
int AviVideoPlayer::seek(int offset, int exact) {
  return call(impl_, 0, [&](AviVideoPlayerImpl& p) { return p.seek(offset, exact); });
}
double AviVideoPlayer::seek_time(double seconds, int exact) {
  return call(impl_, 0.0, [&](AviVideoPlayerImpl& p) { return p.seek_time(seconds, exact); });
}
int AviVideoPlayer::is_end() const {
  return call(impl_, 1, [](AviVideoPlayerImpl& p) { return p.is_end(); });
}
int AviVideoPlayer::is_start() const {
  return call(impl_, 1, [](AviVideoPlayerImpl& p) { return p.is_start(); });
}
Image* AviVideoPlayer::get_frame() const {
  return call(impl_, static_cast<Image*>(nullptr),
              [](AviVideoPlayerImpl& p) { return p.get_frame(); });
}
int AviVideoPlayer::get_frame_offset() const {
  return call(impl_, 0, [](AviVideoPlayerImpl& p) { return p.get_frame_offset(); });
}
double AviVideoPlayer::get_frame_time() const {
  return call(impl_, 0.0, [](AviVideoPlayerImpl& p) { return p.get_frame_time(); });
}
double AviVideoPlayer::get_frame_rate() const {
  return call(impl_, kDefaultFrameRate, [](AviVideoPlayerImpl& p) { return p.get_frame_rate(); });
}
void AviVideoPlayer::set_frame_rate(double rate, int) {
  call(impl_, [&](AviVideoPlayerImpl& p) { p.set_frame_rate(rate); });
}
const BitmapInfoHeader* AviVideoPlayer::get_frame_dib_header() {
  return call(impl_, static_cast<const BitmapInfoHeader*>(nullptr),
              [](AviVideoPlayerImpl& p) { return p.get_frame_dib_header(); });
}
char* AviVideoPlayer::get_frame_dib_data() {
  return call(impl_, static_cast<char*>(nullptr),
              [](AviVideoPlayerImpl& p) { return p.get_frame_dib_data(); });
}
int AviVideoPlayer::get_frame_dib_pitch() {
  return call(impl_, 0, [](AviVideoPlayerImpl& p) { return p.get_frame_dib_pitch(); });
}
// The output bitmap is always 24 bits; a request for another depth is accepted and ignored.
int AviVideoPlayer::get_frame_dib_depth() { return 24; }
int AviVideoPlayer::set_frame_dib_depth(int) { return 24; }
int AviVideoPlayer::timecode_2_frame(const char* timecode) const {
  return call(impl_, 0, [&](AviVideoPlayerImpl& p) { return p.timecode_2_frame(timecode); });
}
char* AviVideoPlayer::frame_2_timecode(int frame, char* buffer, int mode) const {
  if (impl_ == nullptr) return copy_text(buffer, mode != 0 ? "0:00" : "00:00:00:00");
  return call(impl_, static_cast<char*>(nullptr),
              [&](AviVideoPlayerImpl& p) { return p.frame_2_timecode(frame, buffer, mode); });
}
char* AviVideoPlayer::get_length_timecode(char* buffer) const {
  if (impl_ == nullptr) return copy_text(buffer, "0:00");
  return call(impl_, static_cast<char*>(nullptr),
              [&](AviVideoPlayerImpl& p) { return p.get_length_timecode(buffer); });
}
int AviVideoPlayer::trim(int first, int last) {
  return call(impl_, 0, [&](AviVideoPlayerImpl& p) { return p.trim(first, last); });
}
int AviVideoPlayer::trim_clear() {
  return call(impl_, 0, [](AviVideoPlayerImpl& p) { return p.trim_clear(); });
}
int AviVideoPlayer::get_start_frame_offset() const {
  return call(impl_, 0, [](AviVideoPlayerImpl& p) { return p.get_start_frame_offset(); });
}
double AviVideoPlayer::get_start_frame_time() const {
  return call(impl_, 0.0, [](AviVideoPlayerImpl& p) { return p.get_start_frame_time(); });
}
int AviVideoPlayer::get_end_frame_offset() const {
  return call(impl_, 0, [](AviVideoPlayerImpl& p) { return p.get_end_frame_offset(); });
}
double AviVideoPlayer::get_end_frame_time() const {
  return call(impl_, 0.0, [](AviVideoPlayerImpl& p) { return p.get_end_frame_time(); });
}

const char* AviVideoPlayer::get_type_name() const { return impl_ != nullptr ? "" : nullptr; }
double AviVideoPlayer::get_file_size() const {
  return call(impl_, 0.0, [](AviVideoPlayerImpl& p) { return p.get_file_size(); });
}
const VideoInfo* AviVideoPlayer::get_video_info_list(int& count) const {
  return call(impl_, static_cast<const VideoInfo*>(nullptr),
              [&](AviVideoPlayerImpl& p) { return p.get_video_info_list(count); });
}
const AudioInfo* AviVideoPlayer::get_audio_info_list(int& count) const {
  return call(impl_, static_cast<const AudioInfo*>(nullptr),
              [&](AviVideoPlayerImpl& p) { return p.get_audio_info_list(count); });
}

}  // namespace avikit
