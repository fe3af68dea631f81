#pragma once
// The host's audio decoder: stream bytes in, interleaved 16-bit PCM out, all through libavcodec.
// MPEG audio (layers 1-3) and AC-3 are recognised from the data itself (libavcodec's parsers);
// a stream stored in whole blocks (PCM of any depth, IEEE float, A-law, mu-law, MS and IMA
// ADPCM) is named by its WAVE format first (set_input_format).
//
// What comes out:
// - after set_output_format(rate, channels) with 8000 <= rate <= 48000 and 1 or 2 channels:
//   exactly that format, whatever the stream holds (libswresample converts; mono is copied to
//   both sides at full level, stereo to mono is the average);
// - before that, or after an out-of-range request: the stream's own rate, mono for mono streams
//   and stereo for everything else.
// AC-3 with more than two channels is always mixed down to stereo, by the AC-3 decoder's own
// downmix (which honours the mix levels the stream carries). get_output_format reports the
// format actually delivered.

#include <avikit/platform/win_types.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace avikit {

class AudioDecoder {
 public:
  AudioDecoder();
  ~AudioDecoder();
  AudioDecoder(const AudioDecoder&) = delete;
  AudioDecoder& operator=(const AudioDecoder&) = delete;

  // Non-zero when a stream of this kind can be decoded (ac3: 1 for AC-3, 0 for MPEG audio).
  int can_you_decode_this(int ac3, int sample_rate, int channels, int reserved);

  // Decodes a block-stored stream of this WAVE format instead of searching the data for MPEG
  // audio or AC-3. 1 when libavcodec opened a decoder for it; 0 otherwise (input then fails).
  // MPEG audio and AC-3 tags give 1 when can_you_decode_this does, and keep the search.
  int set_input_format(const platform::WAVEFORMATEX& format);

  // MPEG audio (ac3 0) or AC-3 frames found by libavcodec's parser in `size` bytes: the bytes
  // the whole frames take, their sample frames and the stream's rate. What a stream holds, as
  // against what its header says.
  struct FrameSpan {
    std::uint64_t frames = 0;
    std::uint64_t bytes = 0;
    std::uint64_t samples = 0;
    int sample_rate = 0;
  };
  static FrameSpan measure_frames(int ac3, const std::uint8_t* data, std::size_t size);

  // Chooses the PCM format delivered from the next decoded frame on; 1 when taken, 0 when out
  // of range (the previous choice stays).
  int set_output_format(int sample_rate, int channels);
  // Forgets buffered input, decoded PCM and decoder history: the next input starts afresh (after
  // a seek). The recognised format is kept. Returns 1.
  int re_start(int reserved);
  // Takes `count` raw stream bytes. 0 when accepted (also when they only held damaged frames,
  // which are skipped); non-zero when decoding cannot go on: null data, a negative count, no
  // MPEG audio or AC-3 found in the first 1 MiB, or no memory.
  int input(const void* bytes, int count);
  // Decoded PCM held, in bytes (2 per sample).
  int get_output_total() const;
  // Writes at most `count` interleaved samples; returns how many were written.
  int output(std::int16_t* pcm, int count);
  // The format output() delivers; 0, 0 before anything is known.
  void get_output_format(int& sample_rate, int& channels) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace avikit
