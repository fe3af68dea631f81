#pragma once
// The host's compressed-audio decoder: raw MPEG audio (layers 1-3) or AC-3 bytes in, interleaved
// 16-bit PCM out. The format is recognised from the data itself.

#include <cstdint>
#include <memory>

class AudioDecoder {
 public:
  AudioDecoder();
  ~AudioDecoder();
  AudioDecoder(const AudioDecoder&) = delete;
  AudioDecoder& operator=(const AudioDecoder&) = delete;

  // Non-zero when a stream of this kind can be decoded (ac3: 1 for AC-3, 0 for MPEG audio).
  int can_you_decode_this(int ac3, int sample_rate, int channels, int reserved);

 private:
  struct State;
  std::unique_ptr<State> state_;
};
