#pragma once
// Helpers of the audio tests: the ffmpeg tool's decode of a file, pulling a player to its end,
// and the frequency of a sine.

#include <cstdint>
#include <string>
#include <vector>

namespace avikit {
class AviAudioPlayer;
}  // namespace avikit
using namespace avikit;

namespace audiotest {

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
