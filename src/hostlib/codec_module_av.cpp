// The codec module's entry: what the front (codec_module.h) reaches through its one symbol.
#include <new>

#include "hostlib/avcodec_session.h"
#include "hostlib/codec_module.h"
#include "hostlib/pcm_resampler.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

namespace avikit {

namespace hostlib::detail {

// Defined in audio_decoder_av.cpp.
AudioDecoding* new_audio_decoding();
AudioDecoder::FrameSpan measure_frames(int ac3, const std::uint8_t* data, std::size_t size);

namespace {

class ModulePcm final : public PcmConversion {
 public:
  bool push(const PcmSource& source, const std::uint8_t* const* planes, int frames, int out_rate,
            int out_channels) override {
    return pcm_.push(source, planes, frames, out_rate, out_channels);
  }
  void reset() override { pcm_.reset(); }
  std::size_t queued() const override { return pcm_.queued(); }
  std::size_t pop(std::int16_t* out, std::size_t count) override { return pcm_.pop(out, count); }

 private:
  PcmResampler pcm_;
};

PcmConversion* new_pcm_conversion() { return new (std::nothrow) ModulePcm; }

constexpr CodecModule kModule = {
    kCodecModuleVersion,
    sizeof(CodecModule),
    &avcodec_instance_proc,
    &avcodec_handlers,
    &codec_for_fourcc,
    &new_audio_decoding,
    &new_pcm_conversion,
    &measure_frames,
    &::avcodec_version,
    &::av_log_set_level,
    {&::sws_getContext, &::sws_getCachedContext, &::sws_scale, &::sws_freeContext,
     &::av_image_get_buffer_size, &::av_image_fill_arrays},
};

}  // namespace

}  // namespace hostlib::detail

extern "C" __attribute__((visibility("default"))) const hostlib::detail::CodecModule*
quorrin_codec_module() {
  return &hostlib::detail::kModule;
}

}  // namespace avikit
