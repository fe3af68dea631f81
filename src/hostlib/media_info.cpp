#include <avikit/media_info.h>

namespace avikit {

// The host's constructors zero every field; the module fills the ones it knows.
VideoInfo::VideoInfo()
    : kind(0),
      reserved0(0),
      inter_frames(0),
      bit_rate(0),
      frame_rate(0.0),
      reserved1(0),
      width(0),
      height(0),
      reserved2{},
      stream(-1),
      length(0.0),
      reserved3{} {}

AudioInfo::AudioInfo()
    : kind(0),
      format(0),
      channels(0),
      sample_rate(0),
      bit_rate(0),
      reserved0(0),
      bits_per_sample(0),
      block_bytes(0),
      stream(-1),
      reserved1(0),
      length(0.0),
      reserved2(0),
      source_channels(0),
      reserved3{} {}

}  // namespace avikit
