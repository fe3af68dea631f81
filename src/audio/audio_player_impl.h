#pragma once
// AviAudioPlayerImpl: the object behind the exported AviAudioPlayer. It turns the selected audio
// stream of its reader's file into blocks of 1152 sample frames of 16-bit PCM at the output rate
// and channel count. 8- and 16-bit mono or stereo PCM at 11025, 22050, 32000, 44100 or 48000 Hz
// is read straight from the file and brought to the output format by the host's
// AudioSampleRateConvertor; every other format goes through the host's AudioDecoder
// (libavcodec), which also resamples and mixes down to the output format. It keeps the clock
// (seconds, shift included) that the host reads back.
//
// Rules of our own (each one is tested in tests/audio/audio_player_test.cpp or, on real files,
// real_media_test.cpp):
//   - A stream whose "strh" start lies after zero, and a negative stream time (from a negative
//     shift), are silence until the clock reaches the stream's start, then the stream's sound
//     from the sample the clock has reached.
//   - A stream whose own format the converter does not take (more than two channels, a rate
//     outside 8000 to 48000 Hz) plays in a format within those limits (see choose_output), so
//     that blocks always hold samples and the clock always advances.
//   - A file whose selected stream cannot be decoded, or that has no audio stream, fails the
//     open: the probe withholds exactly those streams.
//   - After a failed open there is no reader: get_next_sound gives null.
//   - Copies of the exported player share one object, counted by the shell (container/shell.h).
//
// Threads: one thread drives a player; no locks are taken.

#include <avikit/media_info.h>
#include <avikit/platform/win_types.h>
#include <avikit/sound_frame.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "audio/audio_reader.h"
#include "hostlib/audio_decoder.h"
#include "hostlib/sample_rate_convertor.h"

namespace avikit {

class AviAudioPlayerImpl {
 public:
  static constexpr int kBlockFrames = 1152;
  static constexpr std::uint32_t kCompressedRead = 18432;  // bytes handed to the decoder at once

  AviAudioPlayerImpl();
  virtual ~AviAudioPlayerImpl();
  AviAudioPlayerImpl(const AviAudioPlayerImpl&) = delete;
  AviAudioPlayerImpl& operator=(const AviAudioPlayerImpl&) = delete;

  // 0 on success, 1 on failure (the file cannot be opened, or it has no audio stream).
  int open(const platform::FileSource& source);
  void close();

  // Selects a stream (-1: the file's current one) and describes it; the stream number selected,
  // or -1 without a reader.
  int select_stream(int stream);
  // Output format; ignored unless 8000 <= rate <= 48000 and 1 <= channels <= 2.
  void set_output(int rate, int channels);
  // The next block, or null without an open stream.
  const SoundFrame* next_block();

  double seek(double seconds);
  int set_shift(int milliseconds);
  void set_volume(double left, double right) {
    left_volume_ = left;
    right_volume_ = right;
  }

  int output_rate() const;
  int output_channels() const;
  int has_audio() const { return opened_; }
  int is_end() const { return clock_ < length_ ? 0 : 1; }
  double offset() const { return clock_ - shift_ * 0.001; }
  double length() const { return length_; }
  const char* file_name() const;
  const AudioInfo* audio_info() const { return info_.stream < 0 ? nullptr : &info_; }
  // The list of stream descriptions is never built: count 0, null.
  const AudioInfo* audio_info_list(int& count) const {
    count = info_count_;
    return info_list_;
  }
  double file_size() const;
  const MediaReader* reader() const { return reader_.get(); }

 private:
  struct Format {
    int rate = 0;
    int channels = 0;
  };

  void describe_stream();
  double seek_stream(double seconds);
  Format choose_output() const;
  bool stream_matches_output() const;
  void restart_pipeline();
  int leading_silence_frames() const;
  void produce(std::int16_t* out, int count);
  void convert(std::int16_t* out, int count);
  void fill_block(std::int16_t* out, int count);
  void fill_decoded(std::int16_t* out, int count);
  void fill_pcm(std::int16_t* out, int count);

  // Members in the order of the original design, then our own.
  double length_ = 0.0;
  double clock_ = 0.0;
  AudioInfo info_;
  AudioInfo* info_list_ = nullptr;  // never built: the exported list is always empty
  std::int32_t info_count_ = 0;
  std::unique_ptr<AudioMediaReader> reader_;
  SoundFrame frame_{44100, 2};
  const SoundFrame* last_frame_ = nullptr;
  int out_rate_ = 0;
  int out_channels_ = 0;
  std::vector<std::int16_t> pcm_;  // one block (the original's 4 x block-samples bytes)
  std::unique_ptr<AudioSampleRateConvertor> converter_;
  double left_volume_ = 1.0;
  double right_volume_ = 1.0;
  std::unique_ptr<AudioDecoder> decoder_;
  std::int32_t shift_ = 0;
  std::int32_t opened_ = 0;

  platform::WAVEFORMATEX format_{};    // the selected stream's, as described
  bool playable_ = false;              // a format the pipeline can turn into sound
  bool decoded_ = false;               // through the AudioDecoder (else PCM read directly)
  double start_ = 0.0;                 // seconds of silence before the stream's first sample
  std::vector<std::uint8_t> raw_;      // stream bytes before conversion to 16 bits
  std::vector<std::int16_t> stream_;   // stream-format samples on their way to the converter
  std::vector<std::int16_t> adapted_;  // the same, brought into the converter's range
};

}  // namespace avikit
