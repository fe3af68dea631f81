#pragma once
// AviVideoPlayerImpl: everything behind the exported AviVideoPlayer. It owns the player's
// MediaReader (and through it a counted share of a SharedAviFile), the position model (trim
// window, reverse mode, speed, key-frame mode), and the two output shapes of the current frame.
//
// Positions. The reader holds the absolute frame that decoding uses; the player copies it into
// current_frame_ after every move. The host sees offsets inside the trim window, read from its
// end in reverse mode. Every move decodes at once (video/navigation.cpp); the outputs only
// convert what the reader's bitmap holds, once per position.
//
// Copies. Copies of an exported player share one implementation object, counted by the shell
// (container/shell.h); the last one to go deletes it. The copies are one player seen
// through several handles, to be used from one thread at a time like the player itself.
//
// Arithmetic on positions is 32-bit with wrap-around, as the host's ints are; nothing the host
// passes can overflow a signed computation here.

#include <avikit/image.h>
#include <avikit/media_info.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "hostlib/new_dib.h"
#include "video/media_reader.h"

namespace avikit {

inline constexpr double kDefaultFrameRate = 29.97002997002997;
// Compat: the rate a stream selection without a file sets differs from the constructor's.
inline constexpr double kNoFileFrameRate = 29.99700029997;

class AviVideoPlayerImpl {
 public:
  AviVideoPlayerImpl();
  virtual ~AviVideoPlayerImpl();  // closes
  AviVideoPlayerImpl(const AviVideoPlayerImpl&) = delete;
  AviVideoPlayerImpl& operator=(const AviVideoPlayerImpl&) = delete;

  // --- Open, close, streams (video/player_impl.cpp) --------------------------------------------
  int open(const platform::FileSource& source, int stream);  // 0 success, 1 failure
  void close();
  int select_video_stream(int stream);
  int has_audio() const { return has_audio_; }
  int has_video() const { return has_video_; }
  const char* get_file_name() const;
  const VideoInfo* get_video_info() const { return &video_info_; }
  const AudioInfo* get_audio_info() const { return &audio_info_; }
  int get_video_stream_id() const { return video_info_.stream; }
  double get_file_size() const;
  const VideoInfo* get_video_info_list(int& count) const;
  const AudioInfo* get_audio_info_list(int& count) const;

  // --- Frame output (video/player_output.cpp) --------------------------------------------------
  Image* get_frame();
  const BitmapInfoHeader* get_frame_dib_header();
  char* get_frame_dib_data();
  int get_frame_dib_pitch() const { return output_dib_.GetPitch(); }

  // --- Navigation, trim, timecodes (video/player_navigation.cpp) -------------------------------
  int forward(int frames);
  int reverse(int frames);
  int forward_time(double seconds);
  int reverse_time(double seconds);
  int seek(int offset, int exact);
  double seek_time(double seconds, int exact);
  int trim(int first, int last);
  int trim_clear();
  int is_end() const;
  int is_start() const;
  int get_frame_offset() const { return offset_of(current_frame_); }
  double get_frame_time() const;
  int get_total_frames() const { return trim_length_; }
  double get_total_length() const;
  int get_start_frame_offset() const { return trim_start_; }
  double get_start_frame_time() const;
  int get_end_frame_offset() const;
  double get_end_frame_time() const;
  int set_speed(int speed);
  int get_speed() const { return speed_; }
  int set_fast_speed(int speed);
  int get_fast_speed() const { return fast_speed_; }
  int set_reverse(int reverse);
  int get_reverse() const { return reverse_; }
  void set_frame_rate(double rate);
  double get_frame_rate() const { return frame_rate_; }
  int timecode_2_frame(const char* timecode) const;
  char* frame_2_timecode(int frame, char* buffer, int mode) const;
  char* get_length_timecode(char* buffer) const;

  // For tests: the reader (null before open).
  MediaReader* reader() const { return reader_.get(); }

 private:
  // The selected video stream is compressed and no codec decodes it.
  bool undecodable_video() const;
  std::int32_t offset_of(std::int32_t frame) const;
  std::int32_t frame_of(std::int32_t offset) const;
  double seconds(std::int32_t frames_as_unsigned) const;
  void moved();
  void create_output_dib();

  // Members in the order of the original design.
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  double frame_rate_ = kDefaultFrameRate;
  double frame_duration_ = 1.0 / kDefaultFrameRate;
  std::int32_t total_frames_ = 0;
  std::int32_t current_frame_ = 0;
  std::int32_t speed_ = 1;
  CNewDib output_dib_;
  VideoInfo video_info_;
  AudioInfo audio_info_;
  const AudioInfo* audio_list_ = nullptr;  // never filled
  std::int32_t audio_list_count_ = 0;
  const VideoInfo* video_list_ = nullptr;  // never filled
  std::int32_t video_list_count_ = 0;
  std::unique_ptr<VideoMediaReader> reader_;
  std::unique_ptr<Image> image_;
  std::int32_t image_current_ = 0;
  std::int32_t rgb_current_ = 0;
  std::int32_t has_audio_ = 0;  // never set: the video player reports no sound
  std::int32_t reverse_ = 0;
  std::int32_t trim_start_ = 0;
  std::int32_t trim_length_ = 0;
  std::int32_t fast_speed_ = 0;
  std::int32_t has_video_ = 0;
};

}  // namespace avikit
