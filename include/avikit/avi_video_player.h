#pragma once
// AviVideoPlayer: the exported, frame-accurate player of an AVI file's video, through the host's
// VideoPlayer interface. A thin shell: every operation forwards to an AviVideoPlayerImpl
// (video/avi_video_player_impl.h) and answers a fixed value when there is none (the constructor
// could not make one). Nothing is thrown out of it.
//
//   AviVideoPlayer p;
//   if (p.open("clip.avi", -1) == 0) {          // 0 is success here
//     p.seek(100, 1);                            // frame 100 exactly, decoded at once
//     const char* bgr = p.get_frame_dib_data();  // bottom-up 24-bit rows, get_frame_dib_pitch
//     apart
//   }
//
// Copies share the player: a copy and its original drive the same implementation, which is
// counted and deleted by the last of them to go (the exported layout holds only one pointer).
//
// Virtual operations stand in the order of the host's VideoPlayer; the slots not declared here
// keep the base's bodies.

#include <avikit/in_memory_file.h>
#include <avikit/player_bases.h>

namespace avikit {

class AviVideoPlayerImpl;
class Image;
struct AudioInfo;
struct VideoInfo;

class AviVideoPlayer : public VideoPlayer {
 public:
  AviVideoPlayer();
  AviVideoPlayer(const AviVideoPlayer& other);
  AviVideoPlayer& operator=(const AviVideoPlayer& other);
  ~AviVideoPlayer() override;

  int open(const char* name, int stream) override;  // 0 success, 1 failure
  // The same for a file held in memory (<avikit/in_memory_file.h>); the player keeps the bytes.
  int open(const InMemoryFile& file, int stream);
  void close() override;
  int has_audio() const override;
  int has_video() const override;
  const char* get_file_name() const override;
  const VideoInfo* get_video_info() const override;
  const AudioInfo* get_audio_info() const override;
  int get_total_frames() const override;
  double get_total_length() const override;
  int get_video_stream_id() const override;
  int select_video_stream(int stream) override;
  int set_speed(int speed) override;
  int get_speed() const override;
  int set_fast_speed(int speed) override;
  int get_fast_speed() const override;
  int set_reverse(int reverse) override;
  int get_reverse() const override;
  int forward(int frames) override;
  int reverse(int frames) override;
  int forward_time(double seconds) override;
  int reverse_time(double seconds) override;
  int exact_forward(int frames) override;
  int exact_reverse(int frames) override;
  int exact_forward_time(double seconds) override;
  int exact_reverse_time(double seconds) override;
  int seek(int offset, int exact) override;
  double seek_time(double seconds, int exact) override;
  int is_end() const override;
  int is_start() const override;
  Image* get_frame() const override;
  int get_frame_offset() const override;
  double get_frame_time() const override;
  double get_frame_rate() const override;
  void set_frame_rate(double rate, int reserved) override;
  const BitmapInfoHeader* get_frame_dib_header() override;
  char* get_frame_dib_data() override;
  int get_frame_dib_pitch() override;
  int get_frame_dib_depth() override;
  int set_frame_dib_depth(int depth) override;
  int timecode_2_frame(const char* timecode) const override;
  char* frame_2_timecode(int frame, char* buffer, int mode) const override;
  char* get_length_timecode(char* buffer) const override;
  int trim(int first, int last) override;
  int trim_clear() override;
  int get_start_frame_offset() const override;
  double get_start_frame_time() const override;
  int get_end_frame_offset() const override;
  double get_end_frame_time() const override;

  // Exported, not virtual.
  const char* get_type_name() const;  // "" (null only without an implementation)
  double get_file_size() const;
  const VideoInfo* get_video_info_list(int& count) const;  // never filled: null, count 0
  const AudioInfo* get_audio_info_list(int& count) const;

  // For tests: the implementation behind this handle (null when the constructor failed).
  AviVideoPlayerImpl* impl() const { return impl_; }

 private:
  AviVideoPlayerImpl* impl_;  // shared by copies, counted by container/shell.h
};

}  // namespace avikit
