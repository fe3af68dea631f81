#pragma once
// Sample-level steps of the audio player: stored PCM to 16-bit, volume, and bringing a block to
// a format the host's AudioSampleRateConvertor takes (1 or 2 channels, 8000 to 48000 Hz).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace avikit::audio {

// Converts `count` samples of `sample_bytes` bytes each (little-endian, as stored in RIFF files)
// to signed 16-bit. One byte is unsigned with 128 as silence and becomes (v - 128) * 256; wider
// samples keep their top 16 bits. `in` and `out` may not overlap.
void pcm_to_16(const std::uint8_t* in, std::size_t count, std::uint32_t sample_bytes,
               std::int16_t* out);

// Scales samples by the volume factors: even samples by `left` and odd ones by `right` for two
// channels, every sample by `left` for one, nothing for other counts. A factor within 0.0001 of
// 1 leaves its channel untouched; results are truncated toward zero and held to +-32767.
void apply_volume(std::int16_t* samples, std::size_t count, int channels, double left,
                  double right);

// The format a block is handed to the converter in.
struct ConverterInput {
  int rate = 0;
  int channels = 0;
};

// Makes `frames` interleaved sample frames of `channels` channels at `rate` fit the converter,
// writing the result to `out` (replacing its contents):
// - more than two channels are mixed to stereo (the RIFF default channel order: front left and
//   right to their side, centre to both at -3 dB, the low-frequency channel left out, further
//   channels alternately left and right), scaled so that the mix cannot clip;
// - 22050 Hz is sent as 44100 Hz with every frame twice, 11025 and 11024 Hz as 44100 Hz with
//   every frame four times (Compat: the converter was always handed these rates that way);
// - other rates below 8000 Hz repeat every frame k times (rate x k >= 8000); rates above
//   48000 Hz average each k frames (rate / k <= 48000, truncated: the pitch error is below
//   0.01 % for every rate that divides unevenly, and nil for 88200, 96000, 176400 and 192000).
// Returns the format of `out`, or rate 0 when the block cannot be brought into range (no channel,
// no rate, or a rate above kMaxAdaptableRate).
inline constexpr int kMaxAdaptableRate = 8 * 48000;
ConverterInput adapt_for_converter(const std::int16_t* in, std::size_t frames, int channels,
                                   int rate, std::vector<std::int16_t>& out);

// The number of input frames averaged into one by adapt_for_converter at this rate (1 when none
// are); a block whose frame count is a multiple of it never splits a group.
int decimation_factor(int rate);

}  // namespace avikit::audio
