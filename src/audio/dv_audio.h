#pragma once
// DV sound (IEC 61834-2 audio in the DIF blocks of each frame), as the audio reader takes it out
// of DV type-1 files: per-frame sample counts, 16-bit and 12-bit non-linear samples, and the
// linear stretch of ten frames' sound to the exact count of the group; and the cache of groups
// each shared file keeps.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "video/shared_avi_file.h"

namespace avikit::audio {

// The sound of ten DV frames, as the audio reader hands it out.
struct DvAudioSlot {
  static constexpr std::uint32_t kRawFrames = 19590;   // stereo frames before the stretch
  static constexpr std::uint32_t kEvenFrames = 19200;  // stereo frames after the stretch
  std::array<std::int16_t, 2 * kRawFrames> raw{};      // left, right, left, right...
  std::array<std::int16_t, 2 * kEvenFrames> even{};
  std::uint32_t raw_count = 0;
};

// The DV sound of one shared file, decoded a group of ten frames at a time into a few slots. It
// lives in the file's dv_audio_cache(), so every reader of the file shares it; they all run on
// the file's one thread, so it has no lock.
class DvAudioCache final : public SharedFileSlot {
 public:
  static constexpr int kSlots = 4;

  // The cache of `file`, made on first use.
  static DvAudioCache& of(SharedAviFile& file);

  // The slot holding group g (the sound of DV frames 10g..10g+9) of `file`, filled on demand;
  // null on a read error. `file` is the container of the shared file this cache belongs to.
  const DvAudioSlot* load(AviContainer& file, std::uint32_t group);
  void clear() override { tags_.fill(-1); }

 private:
  std::array<std::unique_ptr<DvAudioSlot>, kSlots> slots_;  // allocated on first use
  std::array<std::int32_t, kSlots> tags_{-1, -1, -1, -1};
  std::vector<std::uint8_t> frame_;  // one DV frame read for its sound
};

}  // namespace avikit::audio

namespace avikit::audio::detail {

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

}  // namespace avikit::audio::detail
