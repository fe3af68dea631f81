#pragma once
// The host's abstract players. The module's exported players derive from these classes, and the
// host drives every media type through them, so the order of the virtual operations below is a
// binary contract: never reorder, insert or remove one.
//
// Pure virtual operations are the ones every player must give. The others carry neutral bodies
// for features a player may not have (field modes, cut lists, image sizes...): a caller gets
// "off", "none" or "not done" back, never an error or a crash.

#include <avikit/bitmap_info_header.h>

#include <cstdint>

namespace avikit {

class Image;
class SoundFrame;
struct AudioInfo;
struct VideoInfo;

// One kept range of a cut list, in frames of the player's window.
struct CutSegment {
  std::int32_t first = 0;
  std::int32_t last = 0;
};

// Picture sizes a video player may deliver; the base only knows the full size.
enum IMAGE_SIZE : std::int32_t {
  IMAGE_SIZE_FULL = 0,
  IMAGE_SIZE_HALF = 1,
  IMAGE_SIZE_QUARTER = 2,
};

class VideoPlayer {
 public:
  virtual ~VideoPlayer();
  virtual int open(const char* name, int stream) = 0;
  virtual void close() = 0;
  virtual void update(int reason);  // nothing to refresh
  virtual int is_mpeg() const;      // 0
  virtual int has_audio() const = 0;
  virtual int has_video() const = 0;
  virtual const char* get_file_name() const = 0;
  virtual const VideoInfo* get_video_info() const = 0;
  virtual const AudioInfo* get_audio_info() const = 0;
  virtual int get_total_frames() const = 0;
  virtual double get_total_length() const = 0;
  virtual void set_total_length(double seconds);  // ignored: the stream decides
  virtual int get_video_stream_id() const = 0;
  // Writes the current stream number (when there is one and room) and returns the count written.
  virtual int get_video_stream_list(int* streams, int capacity) const;
  virtual int select_video_stream(int stream) = 0;
  virtual int set_speed(int speed) = 0;
  virtual int get_speed() const = 0;
  virtual int set_fast_speed(int speed) = 0;
  virtual int get_fast_speed() const = 0;
  virtual int set_reverse(int reverse) = 0;
  virtual int get_reverse() const = 0;
  virtual int get_preserve_repeated_field() const;        // 0
  virtual int set_preserve_repeated_field(int preserve);  // 0: not supported
  virtual int get_pts_jump_fields() const;                // 0
  virtual void clear_pts_jump_fields();                   // nothing to clear
  virtual int forward(int frames) = 0;
  virtual int reverse(int frames) = 0;
  virtual int forward_time(double seconds) = 0;
  virtual int reverse_time(double seconds) = 0;
  virtual int exact_forward(int frames) = 0;
  virtual int exact_reverse(int frames) = 0;
  virtual int exact_forward_time(double seconds) = 0;
  virtual int exact_reverse_time(double seconds) = 0;
  virtual int seek(int offset, int exact) = 0;
  virtual double seek_time(double seconds, int exact) = 0;
  virtual int seek_file(double position);  // 0: no byte-position seeking
  virtual int is_end() const = 0;
  virtual int is_start() const = 0;
  virtual Image* get_frame() const = 0;
  virtual int get_frame_offset() const = 0;
  virtual double get_frame_time() const = 0;
  virtual double get_frame_rate() const = 0;
  virtual void set_frame_rate(double rate, int reserved) = 0;
  virtual int get_snapshot_image(Image& image);  // 0: no snapshot taken
  virtual const BitmapInfoHeader* get_frame_dib_header() = 0;
  virtual char* get_frame_dib_data() = 0;
  virtual int get_frame_dib_pitch() = 0;
  virtual int get_frame_dib_depth() = 0;
  virtual int set_frame_dib_depth(int depth) = 0;
  virtual int get_frame_dib_field_mode() const;    // 0: whole frames
  virtual int set_frame_dib_field_mode(int mode);  // 0: only whole frames
  virtual int timecode_2_frame(const char* timecode) const = 0;
  virtual char* frame_2_timecode(int frame, char* buffer, int mode) const = 0;
  virtual char* get_length_timecode(char* buffer) const = 0;
  // The timecode of the window's first frame, as frame_2_timecode(0, buffer, 0) gives it.
  virtual char* get_start_timecode(char* buffer) const;
  virtual void set_absolute_timecode(int absolute);  // ignored
  virtual int set_image_size(IMAGE_SIZE size);       // 1 only for IMAGE_SIZE_FULL
  virtual IMAGE_SIZE get_image_size();
  virtual int get_deinterlace_image() const;           // 0
  virtual int set_deinterlace_image(int deinterlace);  // 0: not supported
  virtual int trim(int first, int last) = 0;
  virtual int trim_clear() = 0;
  virtual int get_start_frame_offset() const = 0;
  virtual double get_start_frame_time() const = 0;
  virtual int get_end_frame_offset() const = 0;
  virtual double get_end_frame_time() const = 0;
  virtual int cut(int first, int last);                                    // 0: not a cut player
  virtual int set_cutlist(const CutSegment* segments, int count);          // 0: refused
  virtual const CutSegment* get_cutlist(int& count, int first, int last);  // null, count 0
  virtual int is_cut_player() const;                                       // 0
  virtual void set_cut_player();                                           // ignored
  virtual int get_movie_total_frames() const;                              // get_total_frames()
  virtual int get_movie_offset() const;                                    // get_frame_offset()
  virtual int seek_movie(int offset, int exact);                           // seek(offset, exact)

 protected:
  VideoPlayer();
  VideoPlayer(const VideoPlayer&) = default;
  VideoPlayer& operator=(const VideoPlayer&) = default;

  // The base's one word: the picture size asked for (always IMAGE_SIZE_FULL here).
  std::int32_t image_size_word_;
};

class AudioPlayer {
 public:
  virtual ~AudioPlayer();
  // Opens the file, then selects `stream` unless it is -1; 0 on success, 1 on failure.
  virtual int open(const char* name, int stream);
  virtual int open(const char* name) = 0;
  virtual void close() = 0;
  virtual void set_volume(double left, double right) = 0;
  virtual const SoundFrame* get_next_sound() = 0;
  virtual double seek(double seconds) = 0;
  virtual int set_shift(int milliseconds) = 0;
  virtual void set_pcm_output(int sample_rate, int channels) = 0;
  virtual int get_pcm_output_sample_rate() const = 0;
  virtual int get_pcm_output_channels() const = 0;
  virtual int has_audio() const = 0;
  virtual int is_end() const = 0;
  virtual double get_offset() const = 0;
  virtual double get_length() const = 0;
  virtual const char* get_file_name() const = 0;
  virtual int get_audio_stream_id() const;  // get_audio_info()->stream, else -1
  virtual int get_audio_stream_list(int* streams, int capacity) const;  // the current one
  virtual int select_audio_stream(int stream) = 0;
  virtual const AudioInfo* get_audio_info() const = 0;
  virtual int set_ac3_full_channel_mode(int full);  // 0: AC-3 is always mixed to stereo
  virtual int get_ac3_full_channel_mode() const;    // 0
  virtual int is_cut_player() const;                // 0
  virtual void set_cut_player();                    // ignored
  virtual int cut(int first, int last);             // 0: not a cut player
  virtual const CutSegment* get_cutlist(int& count, int first, int last);  // null, count 0
  virtual int sync_with_video(double video_time);                          // 0: nothing to adjust

 protected:
  AudioPlayer();
  AudioPlayer(const AudioPlayer&) = default;
  AudioPlayer& operator=(const AudioPlayer&) = default;
  // What open(name, stream) does once the file is open: selects `stream` unless it is -1, and
  // closes the player when that fails. 0 on success, 1 on failure.
  int keep_stream(int stream);

  // Three words of base state; a derived player's constructor zeroes them and its copies copy
  // them. The base keeps nothing else in them.
  std::uint32_t base_words_[3];
};

}  // namespace avikit
