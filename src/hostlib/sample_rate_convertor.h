#pragma once
// The host's sample rate converter: interleaved signed 16-bit PCM in any rate from 8000 to
// 48000 Hz, mono or stereo, to one chosen output format, through libswresample.

#include <cstdint>
#include <memory>

#include "hostlib/pcm_resampler.h"

namespace avikit {

namespace hostlib::detail {
class PcmConversion;
}

class AudioSampleRateConvertor {
 public:
  // The output format; (44100, 2) is what the players pass.
  AudioSampleRateConvertor(int sample_rate, int channels);
  ~AudioSampleRateConvertor();
  AudioSampleRateConvertor(const AudioSampleRateConvertor&) = delete;
  AudioSampleRateConvertor& operator=(const AudioSampleRateConvertor&) = delete;

  // 1 when taken; out of range (rates 8000..48000, 1 or 2 channels) changes nothing and gives 0.
  // A new format drops what is buffered.
  int set_output_format(int sample_rate, int channels);
  // Drops buffered samples, queued and inside the filter (after a seek).
  void restart();
  // Takes `count` interleaved samples of the given format; a trailing partial sample frame is
  // ignored. 1 when taken, 0 for a bad format or pointer.
  int input(const std::int16_t* pcm, int count, int sample_rate, int channels);
  // Converted samples (interleaved, output format) ready.
  int get_output_total() const;
  // Writes `count` samples: the converted ones ready, then silence for the rest. Returns how many
  // converted samples were written.
  int output(std::int16_t* pcm, int count);

 private:
  int rate_;
  int channels_;
  // Made in the codec module with the first samples: libswresample is not loaded before.
  std::unique_ptr<hostlib::detail::PcmConversion> pcm_;
};

}  // namespace avikit
