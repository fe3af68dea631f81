#include "hostlib/sample_rate_convertor.h"

#include <algorithm>
#include <climits>

#include "hostlib/codec_module.h"

namespace avikit {

AudioSampleRateConvertor::AudioSampleRateConvertor(int sample_rate, int channels)
    : rate_(44100), channels_(2) {
  (void)set_output_format(sample_rate, channels);
}

AudioSampleRateConvertor::~AudioSampleRateConvertor() = default;

int AudioSampleRateConvertor::set_output_format(int sample_rate, int channels) {
  if (!hostlib::valid_pcm_format(sample_rate, channels)) return 0;
  if ((sample_rate != rate_ || channels != channels_) && pcm_ != nullptr) pcm_->reset();
  rate_ = sample_rate;
  channels_ = channels;
  return 1;
}

void AudioSampleRateConvertor::restart() {
  if (pcm_ != nullptr) pcm_->reset();
}

int AudioSampleRateConvertor::input(const std::int16_t* pcm, int count, int sample_rate,
                                    int channels) {
  if (pcm == nullptr || count < 0 || !hostlib::valid_pcm_format(sample_rate, channels)) return 0;
  const hostlib::PcmSource source{channels, hostlib::kSampleFormatS16, sample_rate};
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(pcm);
  try {
    if (pcm_ == nullptr) {
      const hostlib::detail::CodecModule* m = hostlib::detail::codec_module();
      pcm_.reset(m != nullptr ? m->new_pcm_conversion() : nullptr);
      if (pcm_ == nullptr) return 0;
    }
    return pcm_->push(source, &bytes, count / channels, rate_, channels_) ? 1 : 0;
  } catch (...) {  // std::bad_alloc while queueing: the samples are lost, the host goes on
    return 0;
  }
}

int AudioSampleRateConvertor::get_output_total() const {
  return pcm_ != nullptr ? static_cast<int>(std::min<std::size_t>(pcm_->queued(), INT_MAX)) : 0;
}

int AudioSampleRateConvertor::output(std::int16_t* pcm, int count) {
  if (pcm == nullptr || count <= 0) return 0;
  const std::size_t n = pcm_ != nullptr ? pcm_->pop(pcm, static_cast<std::size_t>(count)) : 0;
  std::fill(pcm + n, pcm + count, std::int16_t{0});
  return static_cast<int>(n);
}

}  // namespace avikit
