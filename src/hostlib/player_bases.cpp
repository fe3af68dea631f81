#include <avikit/media_info.h>
#include <avikit/player_bases.h>

namespace avikit {

VideoPlayer::VideoPlayer() : image_size_word_(IMAGE_SIZE_FULL) {}
VideoPlayer::~VideoPlayer() = default;

void VideoPlayer::update(int) {}
int VideoPlayer::is_mpeg() const { return 0; }
void VideoPlayer::set_total_length(double) {}

int VideoPlayer::get_video_stream_list(int* streams, int capacity) const {
  const int id = get_video_stream_id();
  if (streams == nullptr || capacity < 1 || id < 0) return 0;
  streams[0] = id;
  return 1;
}

int VideoPlayer::get_preserve_repeated_field() const { return 0; }
int VideoPlayer::set_preserve_repeated_field(int) { return 0; }
int VideoPlayer::get_pts_jump_fields() const { return 0; }
void VideoPlayer::clear_pts_jump_fields() {}
int VideoPlayer::seek_file(double) { return 0; }
int VideoPlayer::get_snapshot_image(Image&) { return 0; }
int VideoPlayer::get_frame_dib_field_mode() const { return 0; }
int VideoPlayer::set_frame_dib_field_mode(int) { return 0; }

char* VideoPlayer::get_start_timecode(char* buffer) const { return frame_2_timecode(0, buffer, 0); }

void VideoPlayer::set_absolute_timecode(int) {}

int VideoPlayer::set_image_size(IMAGE_SIZE size) {
  if (size != IMAGE_SIZE_FULL) return 0;
  image_size_word_ = size;
  return 1;
}

IMAGE_SIZE VideoPlayer::get_image_size() {
  // Only the full size is ever stored; a word zeroed by a derived class reads as full too.
  return image_size_word_ == IMAGE_SIZE_HALF || image_size_word_ == IMAGE_SIZE_QUARTER
             ? static_cast<IMAGE_SIZE>(image_size_word_)
             : IMAGE_SIZE_FULL;
}

int VideoPlayer::get_deinterlace_image() const { return 0; }
int VideoPlayer::set_deinterlace_image(int) { return 0; }
int VideoPlayer::cut(int, int) { return 0; }
int VideoPlayer::set_cutlist(const CutSegment*, int) { return 0; }

const CutSegment* VideoPlayer::get_cutlist(int& count, int, int) {
  count = 0;
  return nullptr;
}

int VideoPlayer::is_cut_player() const { return 0; }
void VideoPlayer::set_cut_player() {}
int VideoPlayer::get_movie_total_frames() const { return get_total_frames(); }
int VideoPlayer::get_movie_offset() const { return get_frame_offset(); }
int VideoPlayer::seek_movie(int offset, int exact) { return seek(offset, exact); }

AudioPlayer::AudioPlayer() : base_words_{0, 0, 0} {}
AudioPlayer::~AudioPlayer() = default;

int AudioPlayer::open(const char* name, int stream) {
  return open(name) != 0 ? 1 : keep_stream(stream);
}

int AudioPlayer::keep_stream(int stream) {
  if (stream != -1 && select_audio_stream(stream) != stream) {
    close();
    return 1;
  }
  return 0;
}

int AudioPlayer::get_audio_stream_id() const {
  const AudioInfo* info = get_audio_info();
  return info != nullptr ? info->stream : -1;
}

int AudioPlayer::get_audio_stream_list(int* streams, int capacity) const {
  const int id = get_audio_stream_id();
  if (streams == nullptr || capacity < 1 || id < 0) return 0;
  streams[0] = id;
  return 1;
}

int AudioPlayer::set_ac3_full_channel_mode(int) { return 0; }
int AudioPlayer::get_ac3_full_channel_mode() const { return 0; }
int AudioPlayer::is_cut_player() const { return 0; }
void AudioPlayer::set_cut_player() {}
int AudioPlayer::cut(int, int) { return 0; }

const CutSegment* AudioPlayer::get_cutlist(int& count, int, int) {
  count = 0;
  return nullptr;
}

int AudioPlayer::sync_with_video(double) { return 0; }

}  // namespace avikit
