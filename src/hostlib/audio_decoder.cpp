#include "hostlib/audio_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

struct AudioDecoder::State {};

AudioDecoder::AudioDecoder() : state_(std::make_unique<State>()) {}
AudioDecoder::~AudioDecoder() = default;

int AudioDecoder::can_you_decode_this(int ac3, int sample_rate, int channels, int /*reserved*/) {
  // MPEG audio exists at 8 to 48 kHz in one or two channels; AC-3 at 32, 44.1 and 48 kHz with up
  // to six channels.
  if (ac3 != 0) {
    if (sample_rate != 32000 && sample_rate != 44100 && sample_rate != 48000) return 0;
    if (channels < 1 || channels > 6) return 0;
    return avcodec_find_decoder(AV_CODEC_ID_AC3) != nullptr ? 1 : 0;
  }
  switch (sample_rate) {
    case 8000: case 11025: case 12000: case 16000: case 22050: case 24000:
    case 32000: case 44100: case 48000: break;
    default: return 0;
  }
  if (channels < 1 || channels > 2) return 0;
  return avcodec_find_decoder(AV_CODEC_ID_MP3) != nullptr ? 1 : 0;
}
