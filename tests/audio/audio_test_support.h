#pragma once
// Helpers of the audio tests: synthetic DV frames with sound, DV type-1 files around them, the
// ffmpeg tool's decode of a file, pulling a player to its end, and the frequency of a sine.

#include <cstdint>
#include <string>
#include <vector>

namespace avikit {
class AviAudioPlayer;
}  // namespace avikit
using namespace avikit;

namespace audiotest {

// --- DV ------------------------------------------------------------------------------------------

// The byte offsets of the first channel's samples in a DV frame (the container's layout rule).
std::vector<std::uint32_t> dv_offsets(bool fifty_field);

// One synthetic DV frame carrying only sound: the 50-field flag, frequency, quantisation and
// extra-sample codes where the audio reader looks, and `left`/`right` 16-bit samples (12-bit
// codes when twelve_bit) at the layout's offsets. Everything else is zero.
struct DvSound {
  bool fifty_field = true;
  unsigned frequency = 0;  // 0 48 kHz, 1 44.1 kHz, 2 32 kHz, other: unknown
  bool twelve_bit = false;
  unsigned extra = 24;  // samples beyond the minimum (0..63)
  std::vector<std::int16_t> left;
  std::vector<std::int16_t> right;
  std::vector<std::uint16_t> codes12;  // 12-bit: left code, right code, left, right...
};
// A 12-bit left code that leaves its sample's three bytes alone.
inline constexpr std::uint16_t kNotWritten = 0xFFFF;
std::string dv_frame(const DvSound& s);

// --- ffmpeg and players --------------------------------------------------------------------------
// `ffmpeg -v error <input_args> -i FILE -vn <output_args> -f s16le -` as samples.
std::vector<std::int16_t> ffmpeg_s16(const std::string& file, const std::string& output_args = "",
                                     const std::string& input_args = "");

// Every sample of every block until is_end (at most max_blocks blocks).
std::vector<std::int16_t> pull_all(AviAudioPlayer& player, int max_blocks = 1 << 20);

// Frequency of a sine in one channel, from its zero crossings.
double sine_frequency(const std::vector<std::int16_t>& pcm, int channels, int channel, int rate);

// Samples of a little-endian 16-bit byte string.
std::vector<std::int16_t> as_samples(const std::string& bytes);

}  // namespace audiotest
