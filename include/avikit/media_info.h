#pragma once
// Stream descriptions of the host media library. The module fills them field by field at fixed
// byte offsets, so the layout is part of the contract: the static_asserts below pin it.

#include <cstddef>
#include <cstdint>

namespace avikit {

struct VideoInfo {
  VideoInfo();
  std::int32_t kind;          // 0: 10 for a video description
  std::int32_t reserved0;     // 4
  std::int32_t inter_frames;  // 8: 1 when not every frame is a key frame
  std::int32_t bit_rate;      // 12: bit/s
  double frame_rate;          // 16
  std::int32_t reserved1;     // 24
  std::int32_t width;         // 28
  std::int32_t height;        // 32
  std::int32_t reserved2[4];  // 36
  std::int32_t stream;        // 52
  double length;              // 56: seconds
  std::int32_t reserved3[4];  // 64: room the host keeps for itself
};
static_assert(offsetof(VideoInfo, inter_frames) == 8);
static_assert(offsetof(VideoInfo, bit_rate) == 12);
static_assert(offsetof(VideoInfo, frame_rate) == 16);
static_assert(offsetof(VideoInfo, width) == 28);
static_assert(offsetof(VideoInfo, height) == 32);
static_assert(offsetof(VideoInfo, stream) == 52);
static_assert(offsetof(VideoInfo, length) == 56);
static_assert(sizeof(VideoInfo) == 80);

// Format codes of AudioInfo::format.
inline constexpr std::int32_t kAudioFormatPcm = 0;
inline constexpr std::int32_t kAudioFormatMpeg12 = 2;
inline constexpr std::int32_t kAudioFormatMpeg3 = 3;
inline constexpr std::int32_t kAudioFormatAc3 = 4;

struct AudioInfo {
  AudioInfo();
  std::int32_t kind;             // 0: 16 for an audio description
  std::int32_t format;           // 4: kAudioFormat*
  std::int32_t channels;         // 8
  std::int32_t sample_rate;      // 12
  std::int32_t bit_rate;         // 16: bit/s
  std::int32_t reserved0;        // 20
  std::int32_t bits_per_sample;  // 24
  std::int32_t block_bytes;      // 28: bytes of one 1152-sample block per channel
  std::int32_t stream;           // 32
  std::int32_t reserved1;        // 36
  double length;                 // 40: seconds
  std::int32_t reserved2;        // 48
  std::int32_t source_channels;  // 52: channels as stored (AC-3 only)
  std::int32_t reserved3[4];     // 56: room the host keeps for itself
};
static_assert(offsetof(AudioInfo, format) == 4);
static_assert(offsetof(AudioInfo, channels) == 8);
static_assert(offsetof(AudioInfo, sample_rate) == 12);
static_assert(offsetof(AudioInfo, bit_rate) == 16);
static_assert(offsetof(AudioInfo, bits_per_sample) == 24);
static_assert(offsetof(AudioInfo, block_bytes) == 28);
static_assert(offsetof(AudioInfo, stream) == 32);
static_assert(offsetof(AudioInfo, length) == 40);
static_assert(offsetof(AudioInfo, source_channels) == 52);
static_assert(sizeof(AudioInfo) == 72);

}  // namespace avikit
