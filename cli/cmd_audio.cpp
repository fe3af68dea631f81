// avikit audio FILE [--stream N] [--rate R] [--channels C] [--seek SECONDS] [--shift MS]
//                   [--volume L[:R]] [--blocks N] [--quiet] -o OUT
//
// Plays FILE's sound through AviAudioPlayer exactly as a host would: open; select_audio_stream
// (N) if given; set_pcm_output (R, C) if given (a missing one of the two keeps the player's
// current value); set_shift, set_volume and seek if given, in that order; then get_next_sound
// until is_end (or N blocks). OUT receives the samples as interleaved signed 16-bit
// little-endian: with a RIFF WAVE header at the player's output rate and channels when its name
// ends in .wav, bare otherwise (.raw).

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "audio/avi_audio_player.h"
#include "cli/commands.h"
#include "cli/image_out.h"
#include "hostlib/sound_frame.h"

namespace avicli {
namespace {

struct AudioOptions {
  std::string file;
  std::string out;
  std::optional<int> stream;
  std::optional<int> rate;
  std::optional<int> channels;
  std::optional<double> seek;
  std::optional<int> shift;
  std::optional<std::string> volume;
  std::optional<std::int64_t> blocks;
  bool quiet = false;
};

bool ends_with_wav(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return tail == ".wav";
}

// "L" or "L:R".
bool parse_volume(const std::string& text, double* left, double* right) {
  try {
    std::size_t used = 0;
    *left = std::stod(text, &used);
    *right = *left;
    if (used == text.size()) return true;
    if (text[used] != ':') return false;
    const std::string rest = text.substr(used + 1);
    *right = std::stod(rest, &used);
    return used == rest.size();
  } catch (...) {
    return false;
  }
}

int fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "avikit audio: %s %s\n", what, detail.c_str());
  return 1;
}

// Pulls blocks until the end (or the block limit) and writes them; progress every few seconds
// on long runs.
int pull_blocks(AviAudioPlayer& player, WavWriter& out, const AudioOptions& o) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  auto last_report = start;
  const double length = player.get_length();
  std::int64_t blocks = 0;
  while (player.is_end() == 0 && (!o.blocks || blocks < *o.blocks)) {
    const SoundFrame* frame = player.get_next_sound();
    if (frame == nullptr) return fail("no sound from", o.file);
    if (!out.write(frame->get_pcm(), static_cast<std::size_t>(frame->get_sample_count()))) {
      return fail("cannot write", o.out);
    }
    ++blocks;
    if (!o.quiet && (blocks & 255) == 0 && Clock::now() - last_report > std::chrono::seconds(2)) {
      last_report = Clock::now();
      std::fprintf(stderr, "\ravikit audio: %.1f / %.1f s", player.get_offset(), length);
    }
  }
  if (!o.quiet && last_report != start) std::fprintf(stderr, "\n");
  if (!out.finish()) return fail("cannot write", o.out);
  return 0;
}

int run_audio(const AudioOptions& o) {
  double left = 1.0;
  double right = 1.0;
  if (o.volume && !parse_volume(*o.volume, &left, &right)) {
    return fail("--volume wants L or L:R, not", *o.volume);
  }
  AviAudioPlayer player;
  if (player.open(o.file.c_str()) != 0) return fail("cannot open the sound of", o.file);
  if (o.stream && player.select_audio_stream(*o.stream) != *o.stream) {
    return fail("no audio stream", std::to_string(*o.stream) + " in " + o.file);
  }
  if (o.rate || o.channels) {
    player.set_pcm_output(o.rate.value_or(player.get_pcm_output_sample_rate()),
                          o.channels.value_or(player.get_pcm_output_channels()));
  }
  if (o.shift) player.set_shift(*o.shift);
  if (o.volume) player.set_volume(left, right);
  if (o.seek) player.seek(*o.seek);
  WavWriter out;
  if (!out.open(o.out, player.get_pcm_output_sample_rate(), player.get_pcm_output_channels(),
                ends_with_wav(o.out))) {
    return fail("cannot create", o.out);
  }
  return pull_blocks(player, out, o);
}

}  // namespace

void add_audio_command(CLI::App& app, ExitStatus& status) {
  auto opts = std::make_shared<AudioOptions>();
  CLI::App* cmd = app.add_subcommand(
      "audio", "Play a file's sound through the audio player into 16-bit PCM (.wav or .raw)");
  cmd->add_option("FILE", opts->file, "AVI or WAVE file")->required();
  cmd->add_option("-o,--output", opts->out, "output: .wav gets a RIFF WAVE header, .raw none")
      ->required();
  cmd->add_option("--stream", opts->stream, "audio stream number to select");
  cmd->add_option("--rate", opts->rate, "output sample rate (8000..48000 Hz)");
  cmd->add_option("--channels", opts->channels, "output channels (1 or 2)");
  cmd->add_option("--seek", opts->seek, "start at this time, in seconds");
  cmd->add_option("--shift", opts->shift, "shift the sound by this many milliseconds");
  cmd->add_option("--volume", opts->volume, "volume factor L, or L:R per side");
  cmd->add_option("--blocks", opts->blocks, "stop after this many blocks of 1152 frames");
  cmd->add_flag("--quiet", opts->quiet, "no progress on standard error");
  cmd->callback([opts, &status] { status.code = run_audio(*opts); });
}

}  // namespace avicli
