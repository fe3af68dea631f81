#pragma once
// DV sound (IEC 61834-2 audio in the DIF blocks of each frame), as the audio reader takes it out
// of DV type-1 files: per-frame sample counts, 16-bit and 12-bit non-linear samples, and the
// linear stretch of ten frames' sound to the exact count of the group. The group cache itself is
// SharedAviFile::dv_audio_group (video/shared_avi_file.h), implemented in audio/dv_audio.cpp.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace avikit {

namespace audio::detail {

// Byte offsets inside a DV frame of the fields the audio reader uses.
inline constexpr std::size_t kDvFiftyFieldByte = 12246;   // bit 5: 625/50 system
inline constexpr std::size_t kDvAudioSourceByte = 12484;  // bits 0-5: samples beyond the minimum
inline constexpr std::size_t kDvAudioCodesByte = 12487;   // bits 3-5 frequency, 0-2 quantisation

// What one frame's audio source pack says about its sound.
struct DvFrameSound {
  bool known = false;       // frequency code 0, 1 or 2 (48, 44.1, 32 kHz)
  bool twelve_bit = false;  // quantisation code 1: 12-bit non-linear
  std::uint32_t samples = 0;
};
// `frame` holds at least kDvAudioCodesByte + 1 bytes.
DvFrameSound dv_frame_sound(const std::uint8_t* frame);

// The 16-bit sample of a 12-bit non-linear code (only its low 12 bits count).
std::int16_t dv_expand_12bit(std::uint32_t code);

// Decodes `samples` stereo frames (left, right) of one DV frame into `out`. Samples whose bytes
// would lie outside the frame (a layout of the other system) come out as silence.
void dv_decode_samples(const std::uint8_t* frame, std::size_t frame_size,
                       const std::vector<std::uint32_t>& offsets, std::uint32_t channel2_offset,
                       bool twelve_bit, std::uint32_t samples, std::int16_t* out);

// Stretches `count` stereo frames to exactly `target` by linear interpolation in 16.16 fixed
// point, keeping the first and the last frame. `even` has room for `target` frames.
void dv_stretch(const std::int16_t* raw, std::uint32_t count, std::int16_t* even,
                std::uint32_t target);

}  // namespace audio::detail

}  // namespace avikit
