#include "audio/audio_test_support.h"

#include <avikit/avi_audio_player.h>
#include <avikit/sound_frame.h>

#include <cstring>

#include "support/run_command.h"

using namespace avikit;

namespace audiotest {

std::vector<std::int16_t> as_samples(const std::string& bytes) {
  std::vector<std::int16_t> out(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), 2 * out.size());  // a little-endian host
  return out;
}

std::vector<std::int16_t> ffmpeg_s16(const std::string& file, const std::string& output_args,
                                     const std::string& input_args) {
  const std::string command = "ffmpeg -nostdin -v error " + input_args + " -i '" + file + "' -vn " +
                              output_args + " -f s16le - 2>/dev/null";
  int code = -1;
  const std::string out = avitest::run_command(command, &code);
  return code == 0 ? as_samples(out) : std::vector<std::int16_t>{};
}

std::vector<std::int16_t> pull_all(AviAudioPlayer& player, int max_blocks) {
  std::vector<std::int16_t> pcm;
  for (int i = 0; i < max_blocks && player.is_end() == 0; ++i) {
    const SoundFrame* f = player.get_next_sound();
    if (f == nullptr) break;
    pcm.insert(pcm.end(), f->get_pcm(), f->get_pcm() + f->get_sample_count());
  }
  return pcm;
}

double sine_frequency(const std::vector<std::int16_t>& pcm, int channels, int channel, int rate) {
  // Rising zero crossings over the middle half, each placed between its two samples.
  const auto ch = static_cast<std::size_t>(channels);
  const std::size_t frames = pcm.size() / ch;
  double first = -1.0;
  double last = -1.0;
  int crossings = 0;
  for (std::size_t i = frames / 4 + 1; i < 3 * frames / 4; ++i) {
    const double a = pcm[(i - 1) * ch + static_cast<std::size_t>(channel)];
    const double b = pcm[i * ch + static_cast<std::size_t>(channel)];
    if (a >= 0 || b < 0) continue;
    last = static_cast<double>(i - 1) + a / (a - b);
    if (crossings++ == 0) first = last;
  }
  return crossings > 1 ? (crossings - 1) * rate / (last - first) : 0.0;
}

}  // namespace audiotest
