// AudioDecoder in front of the codec module: libavcodec is loaded when sound has to be decoded,
// not when a PCM format is only looked at (a probe's "listed means plays" test).
#include "hostlib/audio_decoder.h"

#include <optional>

#include "hostlib/codec_module.h"
#include "hostlib/wave_blocks.h"

namespace avikit {

struct AudioDecoder::State {
  std::unique_ptr<hostlib::detail::AudioDecoding> decoding;
  bool module_missing = false;
  // Calls answered before the module was needed, played to it once it is.
  std::optional<platform::WAVEFORMATEX> format;
  std::optional<platform::WAVEFORMATEX> refused;  // a refusal is for good
  int want_rate = 0;
  int want_channels = 0;

  // The module's decoder with the calls so far; null without the module or memory.
  hostlib::detail::AudioDecoding* get();
};

hostlib::detail::AudioDecoding* AudioDecoder::State::get() {
  if (decoding != nullptr || module_missing) return decoding.get();
  const hostlib::detail::CodecModule* m = hostlib::detail::codec_module();
  decoding.reset(m != nullptr ? m->new_audio_decoder() : nullptr);
  if (decoding == nullptr) {
    module_missing = m == nullptr;
    return nullptr;
  }
  if (refused) (void)decoding->set_input_format(*refused);
  if (format) (void)decoding->set_input_format(*format);
  if (want_rate != 0) (void)decoding->set_output_format(want_rate, want_channels);
  return decoding.get();
}

AudioDecoder::AudioDecoder() : state_(std::make_unique<State>()) {}
AudioDecoder::~AudioDecoder() = default;

int AudioDecoder::can_you_decode_this(int ac3, int sample_rate, int channels, int /*reserved*/) {
  hostlib::detail::AudioDecoding* d = state_->get();
  return d != nullptr ? d->can_you_decode_this(ac3, sample_rate, channels) : 0;
}

int AudioDecoder::set_input_format(const platform::WAVEFORMATEX& format) {
  State& s = *state_;
  const int certain = hostlib::detail::certain_block_answer(format);
  if (s.decoding == nullptr && certain >= 0) {
    if (certain == 0) {
      s.refused = format;
      s.format.reset();
    } else {
      s.format = format;
    }
    return certain;
  }
  hostlib::detail::AudioDecoding* d = s.get();
  return d != nullptr ? d->set_input_format(format) : 0;
}

int AudioDecoder::set_output_format(int sample_rate, int channels) {
  State& s = *state_;
  if (s.decoding != nullptr) return s.decoding->set_output_format(sample_rate, channels);
  if (!hostlib::valid_pcm_format(sample_rate, channels)) return 0;
  s.want_rate = sample_rate;
  s.want_channels = channels;
  return 1;
}

int AudioDecoder::re_start(int /*reserved*/) {
  // Before any input there is nothing to forget.
  return state_->decoding != nullptr ? state_->decoding->re_start() : 1;
}

int AudioDecoder::input(const void* bytes, int count) {
  State& s = *state_;
  if (s.decoding == nullptr && (bytes == nullptr || count < 0 || s.refused)) return 1;
  if (s.decoding == nullptr && count == 0) return 0;
  hostlib::detail::AudioDecoding* d = s.get();
  return d != nullptr ? d->input(bytes, count) : 1;
}

int AudioDecoder::get_output_total() const {
  return state_->decoding != nullptr ? state_->decoding->get_output_total() : 0;
}

int AudioDecoder::output(std::int16_t* pcm, int count) {
  return state_->decoding != nullptr ? state_->decoding->output(pcm, count) : 0;
}

void AudioDecoder::get_output_format(int& sample_rate, int& channels) const {
  const State& s = *state_;
  if (s.decoding != nullptr) return s.decoding->get_output_format(sample_rate, channels);
  sample_rate = s.want_rate;
  channels = s.want_channels;
}

AudioDecoder::FrameSpan AudioDecoder::measure_frames(int ac3, const std::uint8_t* data,
                                                     std::size_t size) {
  const hostlib::detail::CodecModule* m = hostlib::detail::codec_module();
  return m != nullptr ? m->measure_frames(ac3, data, size) : FrameSpan{};
}

}  // namespace avikit
