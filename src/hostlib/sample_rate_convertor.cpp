#include "hostlib/sample_rate_convertor.h"

#include <algorithm>
#include <climits>

extern "C" {
#include <libavutil/samplefmt.h>
}

AudioSampleRateConvertor::AudioSampleRateConvertor(int sample_rate, int channels)
    : rate_(44100), channels_(2) {
  (void)set_output_format(sample_rate, channels);
}

AudioSampleRateConvertor::~AudioSampleRateConvertor() = default;

int AudioSampleRateConvertor::set_output_format(int sample_rate, int channels) {
  if (!hostlib::valid_pcm_format(sample_rate, channels)) return 0;
  if (sample_rate != rate_ || channels != channels_) pcm_.reset();
  rate_ = sample_rate;
  channels_ = channels;
  return 1;
}

void AudioSampleRateConvertor::restart() { pcm_.reset(); }

int AudioSampleRateConvertor::input(const std::int16_t* pcm, int count, int sample_rate,
                                    int channels) {
  if (pcm == nullptr || count < 0 || !hostlib::valid_pcm_format(sample_rate, channels)) return 0;
  const hostlib::PcmSource source{channels, AV_SAMPLE_FMT_S16, sample_rate};
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(pcm);
  try {
    return pcm_.push(source, &bytes, count / channels, rate_, channels_) ? 1 : 0;
  } catch (...) {  // std::bad_alloc while queueing: the samples are lost, the host goes on
    return 0;
  }
}

int AudioSampleRateConvertor::get_output_total() const {
  return static_cast<int>(std::min<std::size_t>(pcm_.queued(), INT_MAX));
}

int AudioSampleRateConvertor::output(std::int16_t* pcm, int count) {
  if (pcm == nullptr || count <= 0) return 0;
  const std::size_t n = pcm_.pop(pcm, static_cast<std::size_t>(count));
  std::fill(pcm + n, pcm + count, std::int16_t{0});
  return static_cast<int>(n);
}
