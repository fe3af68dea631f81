#pragma once
// Sound stored in whole blocks, as a WAVE format names it (the codes of the RIFF registry: 1 PCM,
// 2 MS ADPCM, 3 IEEE float, 6 A-law, 7 mu-law, 0x11 IMA ADPCM). Read by the audio decoder both
// without libavcodec (which formats it takes for certain) and in the codec module (which decoder
// it opens).

#include <avikit/platform/win_types.h>

#include <cstdint>

#include "hostlib/pcm_resampler.h"

namespace avikit {

namespace hostlib::detail {

enum class BlockCodec {
  kNone,
  kU8,
  kS16,
  kS24,
  kS32,
  kF32,
  kF64,
  kAlaw,
  kMulaw,
  kAdpcmMs,
  kAdpcmIma
};

inline constexpr int kMaxBlockChannels = 64;

constexpr BlockCodec block_codec(const platform::WAVEFORMATEX& f) {
  const std::uint32_t bits = f.wBitsPerSample == 0 ? 16u : f.wBitsPerSample;
  // The bytes of one sample as stored: the block alignment shows a wider container (24 valid
  // bits in 4 bytes).
  std::uint32_t bytes = (bits + 7) / 8;
  if (f.nChannels != 0 && f.nBlockAlign % f.nChannels == 0 && f.nBlockAlign / f.nChannels > bytes)
    bytes = f.nBlockAlign / f.nChannels;
  switch (f.wFormatTag) {
    case 1:
      if (bytes == 1) return BlockCodec::kU8;
      if (bytes == 2) return BlockCodec::kS16;
      if (bytes == 3) return BlockCodec::kS24;
      if (bytes == 4) return BlockCodec::kS32;
      return BlockCodec::kNone;
    case 3:
      if (bytes == 4) return BlockCodec::kF32;
      if (bytes == 8) return BlockCodec::kF64;
      return BlockCodec::kNone;
    case 6:
      return BlockCodec::kAlaw;
    case 7:
      return BlockCodec::kMulaw;
    case 2:
      return BlockCodec::kAdpcmMs;
    case 0x11:
      return BlockCodec::kAdpcmIma;
    default:
      return BlockCodec::kNone;
  }
}

// What every decoder of blocks needs: channels, a block size and a rate the resampler takes.
constexpr bool block_layout_usable(const platform::WAVEFORMATEX& f) {
  return f.nChannels != 0 && f.nChannels <= kMaxBlockChannels && f.nBlockAlign != 0 &&
         f.nSamplesPerSec >= kMinSourceRate && f.nSamplesPerSec <= kMaxSourceRate;
}

// AudioDecoder::set_input_format's answer when it is certain without libavcodec (PCM, float,
// A-law and mu-law decoders open for any usable layout, and a tag naming no decoder is refused),
// else -1: ADPCM, MPEG audio and AC-3 ask libavcodec. audio_decoder_test checks every row of its
// table against libavcodec's answer.
constexpr int certain_block_answer(const platform::WAVEFORMATEX& f) {
  switch (f.wFormatTag) {
    case platform::WAVE_FORMAT_MPEG:
    case platform::WAVE_FORMAT_MPEGLAYER3:
    case platform::WAVE_FORMAT_DOLBY_AC3:
      return -1;
    default:
      break;
  }
  switch (block_codec(f)) {
    case BlockCodec::kNone:
      return 0;
    case BlockCodec::kAdpcmMs:
    case BlockCodec::kAdpcmIma:
      return -1;
    default:
      return block_layout_usable(f) ? 1 : 0;
  }
}

}  // namespace hostlib::detail

}  // namespace avikit
