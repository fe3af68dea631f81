#include "audio/audio_test_support.h"

#include <avikit/avi_audio_player.h>
#include <avikit/sound_frame.h>

#include "support/avi_builder.h"
#include "support/run_command.h"

using namespace avikit;

namespace audiotest {

std::vector<std::uint32_t> dv_offsets(bool fifty_field) {
  // The DV type-1 audio layout (IEC 61834-2 shuffling as the container describes it).
  const std::uint32_t n = fifty_field ? 1944 : 1620;
  const std::uint32_t per_row = fifty_field ? 54 : 45;
  const std::uint32_t sequences = fifty_field ? 6 : 5;
  std::vector<std::uint32_t> out(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    out[i] = 2 * (i / per_row + 640 * ((i % per_row) / (per_row / 3) + 3 * (i % 3)) +
                  6000 * ((i / 3 + 2 * (i % 3)) % sequences)) +
             488;
  }
  return out;
}

std::string dv_frame(const DvSound& s) {
  std::string f(s.fifty_field ? 144000 : 120000, '\0');
  auto at = [&f](std::size_t i) -> std::uint8_t& { return reinterpret_cast<std::uint8_t&>(f[i]); };
  at(12246) = s.fifty_field ? 0x20 : 0x00;
  at(12487) = static_cast<std::uint8_t>((s.frequency & 7) << 3 | (s.twelve_bit ? 1 : 0));
  at(12484) = static_cast<std::uint8_t>(s.extra & 0x3F);
  const std::vector<std::uint32_t> offsets = dv_offsets(s.fifty_field);
  const std::uint32_t second = s.fifty_field ? 72000 : 60000;
  for (std::size_t i = 0; i < s.left.size() && i < offsets.size(); ++i) {
    const std::size_t a = offsets[i];
    const auto l = static_cast<std::uint16_t>(s.left[i]);
    const auto r = static_cast<std::uint16_t>(i < s.right.size() ? s.right[i] : 0);
    at(a) = static_cast<std::uint8_t>(l >> 8);
    at(a + 1) = static_cast<std::uint8_t>(l);
    at(a + second) = static_cast<std::uint8_t>(r >> 8);
    at(a + second + 1) = static_cast<std::uint8_t>(r);
  }
  for (std::size_t i = 0; 2 * i + 1 < s.codes12.size() && i < offsets.size(); ++i) {
    const std::size_t a = offsets[i];
    if (s.codes12[2 * i] == kNotWritten) continue;
    const std::uint16_t l = s.codes12[2 * i] & 0xFFF;
    const std::uint16_t r = s.codes12[2 * i + 1] & 0xFFF;
    at(a) = static_cast<std::uint8_t>(l >> 4);
    at(a + 1) = static_cast<std::uint8_t>(r >> 4);
    at(a + 2) = static_cast<std::uint8_t>((l & 0xF) << 4 | (r & 0xF));
  }
  return f;
}

std::vector<std::int16_t> as_samples(const std::string& bytes) {
  std::vector<std::int16_t> out(bytes.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto lo = static_cast<std::uint8_t>(bytes[2 * i]);
    const auto hi = static_cast<std::uint8_t>(bytes[2 * i + 1]);
    out[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | hi << 8));
  }
  return out;
}

std::vector<std::int16_t> ffmpeg_s16(const std::string& file, const std::string& output_args,
                                     const std::string& input_args) {
  const std::string command = "ffmpeg -nostdin -v error " + input_args + " -i '" + file + "' -vn " +
                              output_args + " -f s16le - 2>/dev/null";
  int code = -1;
  const std::string out = avitest::run_command(command, &code);
  if (code != 0) return {};
  return as_samples(out);
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
