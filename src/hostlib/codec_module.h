#pragma once
// The codec module: everything of the host library that needs libavcodec, libswscale or
// libswresample (the video driver's instances, the audio decoder, the PCM resampler) lives in
// quorrin_codecs.so beside libquorrin, and is loaded the first time a codec is needed. libavcodec
// alone pulls in about a hundred libraries, which cost a command 40 ms or more of start-up;
// probing a DV or PCM file, or showing raw video, needs none of them.
//
// The front (codec_module.cpp, avcodec_driver.cpp, audio_decoder.cpp, sample_rate_convertor.cpp)
// is always linked and opens the module on first use, once per process; the module stays
// loaded until the process ends.

#include <avikit/platform/vfw.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "hostlib/audio_decoder.h"
#include "hostlib/pcm_resampler.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace avikit {

namespace hostlib::detail {

// AudioDecoder's work, as libavcodec does it (audio_decoder.h says what each call means).
class AudioDecoding {
 public:
  virtual ~AudioDecoding() = default;
  virtual int can_you_decode_this(int ac3, int sample_rate, int channels) = 0;
  virtual int set_input_format(const platform::WAVEFORMATEX& format) = 0;
  virtual int set_output_format(int sample_rate, int channels) = 0;
  virtual int re_start() = 0;
  virtual int input(const void* bytes, int count) = 0;
  virtual int get_output_total() const = 0;
  virtual int output(std::int16_t* pcm, int count) = 0;
  virtual void get_output_format(int& sample_rate, int& channels) const = 0;
};

// A PcmResampler (pcm_resampler.h) made in the module.
class PcmConversion {
 public:
  virtual ~PcmConversion() = default;
  [[nodiscard]] virtual bool push(const PcmSource& source, const std::uint8_t* const* planes,
                                  int frames, int out_rate, int out_channels) = 0;
  virtual void reset() = 0;
  virtual std::size_t queued() const = 0;
  virtual std::size_t pop(std::int16_t* out, std::size_t count) = 0;
};

// libswscale and libavutil as the layers above the host library call them (the modern readers'
// pixel formats, the tool's pictures), reached through the module so that they too are loaded
// only when a picture is converted. Only their headers are read here.
struct ScaleCalls {
  decltype(&::sws_getContext) sws_getContext;
  decltype(&::sws_getCachedContext) sws_getCachedContext;
  decltype(&::sws_scale) sws_scale;
  decltype(&::sws_freeContext) sws_freeContext;
  decltype(&::av_image_get_buffer_size) av_image_get_buffer_size;
  decltype(&::av_image_fill_arrays) av_image_fill_arrays;
};

// Raised whenever the table below changes, so that a module of another build is refused.
inline constexpr std::uint32_t kCodecModuleVersion = 2;

struct CodecModule {
  std::uint32_t version;
  std::uint32_t size;  // sizeof(CodecModule)
  // The libavcodec driver from DRV_OPEN of an instance on; the front answers the rest.
  platform::DRIVERPROC driver_proc;
  // The FOURCCs the driver decodes (avcodec_driver_handlers).
  const std::uint32_t* (*handlers)(std::size_t* count);
  // libavcodec's codec id for a FOURCC of the AVI tag table, or 0 (riff_video_tags.h).
  int (*codec_for_fourcc)(std::uint32_t fourcc);
  // New objects, owned by the caller; null without memory.
  AudioDecoding* (*new_audio_decoder)();
  PcmConversion* (*new_pcm_conversion)();
  AudioDecoder::FrameSpan (*measure_frames)(int ac3, const std::uint8_t* data, std::size_t size);
  // The libavcodec loaded (avcodec_version).
  unsigned (*avcodec_version)();
  // av_log_set_level of the libavutil the module loaded.
  void (*set_log_level)(int level);
  ScaleCalls scale;
};

// The module beside libquorrin, loaded on the first call; thread-safe. Null when it cannot be
// loaded: codec_module_error() then says why, and every codec answers as one that does not
// exist (no video decoder opens, no compressed sound decodes).
const CodecModule* codec_module();
const std::string& codec_module_error();
// The module's libswscale and libavutil calls (loading it); null without it.
inline const ScaleCalls* scale_calls() {
  const CodecModule* m = codec_module();
  return m != nullptr ? &m->scale : nullptr;
}

// libav's log level, set in the module when it is loaded (at once if it is): a host that says
// why files fail itself silences libav's notes without loading libav for it.
void set_codec_log_level(int level);

// Loads the module at `path` (tests; codec_module() loads the one beside libquorrin). Null with
// the reason in `error` when the file is missing or is not a module of this build.
const CodecModule* load_codec_module(const std::string& path, std::string& error);

}  // namespace hostlib::detail

// The module's one exported symbol.
extern "C" const hostlib::detail::CodecModule* quorrin_codec_module();

}  // namespace avikit
