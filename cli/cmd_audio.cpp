// avikit audio FILE [--stream N] [--rate R] [--channels C] [--seek POS] [--shift MS]
//                   [--volume L[:R]] [--blocks N] [--format wav|raw] [--quiet] -o OUT
//
// Plays FILE's sound through AviAudioPlayer exactly as a host would: open; select_audio_stream
// (N) if given; set_pcm_output (R, C) if given (a missing one of the two keeps the player's
// current value); set_shift, set_volume and seek if given, in that order; then get_next_sound
// until is_end (or N blocks). OUT receives the samples as interleaved signed 16-bit
// little-endian: with a RIFF WAVE header at the player's output rate and channels for .wav (and
// "-", standard output, unless --format raw), bare for .raw. Every value is checked before
// anything is written; an interrupted run still leaves a WAVE file with its sizes.

#include <avikit/avi_audio_player.h>
#include <avikit/sound_frame.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "cli/cli_common.h"
#include "cli/commands.h"
#include "cli/image_out.h"
#include "cli/stream_facts.h"

using namespace avikit;

namespace avicli {
namespace {

constexpr const char* kCmd = "audio";
// What the player's resampler produces (set_pcm_output refuses anything else).
constexpr int kMinRate = 8000;
constexpr int kMaxRate = 48000;
constexpr double kMaxVolume = 100.0;

struct AudioOptions {
  std::string file;
  std::string out;
  std::optional<int> stream;
  std::optional<int> rate;
  std::optional<int> channels;
  std::optional<std::string> seek;
  std::optional<int> shift;
  std::optional<std::string> volume;
  std::optional<std::string> blocks;
  std::string format;
  bool quiet = false;
};

// "L" or "L:R", each from 0 to kMaxVolume.
bool parse_volume(const std::string& text, double* left, double* right) {
  const std::size_t colon = text.find(':');
  const auto one = [](const std::string& t, double* v) {
    char* end = nullptr;
    *v = std::strtod(t.c_str(), &end);
    return !t.empty() && end == t.c_str() + t.size() && *v >= 0.0 && *v <= kMaxVolume;
  };
  if (!one(text.substr(0, colon), left)) return false;
  *right = *left;
  return colon == std::string::npos || one(text.substr(colon + 1), right);
}

// Pulls blocks until the end (or the block limit) and writes them; progress every few seconds
// on long runs when a person is watching.
int pull_blocks(AviAudioPlayer& player, WavWriter& out, const AudioOptions& o,
                std::optional<std::int64_t> limit) {
  using Clock = std::chrono::steady_clock;
  const bool show = !o.quiet && stderr_is_terminal();
  const auto start = Clock::now();
  auto last_report = start;
  const double length = player.get_length();
  std::int64_t blocks = 0;
  double seconds = 0.0;
  while (player.is_end() == 0 && (!limit || blocks < *limit)) {
    const SoundFrame* frame = player.get_next_sound();
    if (frame == nullptr) return failure(kCmd, "no sound from " + o.file);
    if (!out.write(frame->get_pcm(), static_cast<std::size_t>(frame->get_sample_count()))) {
      return failure(kCmd, "cannot write " + o.out);
    }
    ++blocks;
    seconds += frame->get_length();
    if (interrupted()) {
      if (!out.finish()) return failure(kCmd, "cannot write " + o.out);
      std::fprintf(stderr, "avikit audio: interrupted: %.3f s (%lld blocks) written\n", seconds,
                   static_cast<long long>(blocks));
      return kExitInterrupted;
    }
    if (show && (blocks & 255) == 0 && Clock::now() - last_report > std::chrono::seconds(2)) {
      last_report = Clock::now();
      std::fprintf(stderr, "\ravikit audio: %.1f / %.1f s", player.get_offset(), length);
    }
  }
  if (show && last_report != start) std::fprintf(stderr, "\n");
  if (!out.finish()) return failure(kCmd, "cannot write " + o.out);
  return 0;
}

// Checks what needs no file; returns the exit status (0: go on).
int check_arguments(const AudioOptions& o, bool* with_header, std::optional<std::int64_t>* limit) {
  const std::string suffix = suffix_of(o.out);
  if (!o.format.empty() && o.format != "wav" && o.format != "raw") {
    return usage_error(kCmd, "--format is wav or raw, not " + o.format);
  }
  if (is_stdout(o.out)) {
    *with_header = o.format != "raw";
  } else if (suffix == "wav" || suffix == "raw") {
    if (!o.format.empty() && o.format != suffix) {
      return usage_error(kCmd, "--format " + o.format + " does not match " + o.out);
    }
    *with_header = suffix == "wav";
  } else {
    return usage_error(kCmd, "OUT is .wav, .raw or - (standard output), not " + o.out);
  }
  if (o.rate && (*o.rate < kMinRate || *o.rate > kMaxRate)) {
    return usage_error(kCmd,
                       "--rate wants any rate from 8000 to 48000 Hz (the player resamples), "
                       "not " +
                           std::to_string(*o.rate));
  }
  if (o.channels && *o.channels != 1 && *o.channels != 2) {
    return usage_error(kCmd, "--channels wants 1 or 2, not " + std::to_string(*o.channels));
  }
  if (o.volume) {
    double l = 0.0;
    double r = 0.0;
    if (!parse_volume(*o.volume, &l, &r)) {
      return usage_error(kCmd, "--volume wants L or L:R, each from 0 to 100, not " + *o.volume);
    }
  }
  if (o.blocks) {
    std::int64_t n = 0;
    if (!parse_int(*o.blocks, &n) || n < 0) {
      return usage_error(kCmd, "--blocks wants a whole number from 0 up, not " + *o.blocks);
    }
    *limit = n;
  }
  return 0;
}

// --seek in seconds; a timecode counts frames of the file's first video stream.
int resolve_seek(const AudioOptions& o, double length, double* seconds) {
  Position p;
  std::string why;
  if (parse_number(*o.seek, &p.seconds)) {
    p.kind = Position::Kind::kSeconds;
  } else if (!parse_position(*o.seek, &p, &why)) {
    return usage_error(kCmd, "--seek: " + why);
  }
  double rate = 0.0;
  VideoFacts facts;
  const std::vector<int> video = video_stream_numbers(o.file);
  if (p.kind == Position::Kind::kTimecode && !video.empty() &&
      read_video_facts(o.file, video.front(), false, &facts) && facts.scale != 0) {
    rate = static_cast<double>(facts.rate) / facts.scale;
  }
  const std::optional<double> s = position_seconds(p, rate);
  if (!s) {
    return usage_error(kCmd, "--seek " + *o.seek + " is not a timecode at the file's frame rate " +
                                 (rate > 0 ? "" : "(it has no video: give seconds)"));
  }
  if (!(*s >= 0.0 && *s <= length)) {
    char range[64];
    std::snprintf(range, sizeof range, "0 to %.3f s", length);
    return usage_error(kCmd, "--seek " + *o.seek + " is out of range: the sound lasts " + range);
  }
  *seconds = *s;
  return 0;
}

int run_audio(const AudioOptions& o) {
  bool with_header = true;
  std::optional<std::int64_t> limit;
  if (int rc = check_arguments(o, &with_header, &limit)) return rc;
  AviAudioPlayer player;
  if (player.open(o.file.c_str()) != 0)
    return failure(kCmd, "cannot open " + o.file + ": " + open_failure_reason());
  if (o.stream && player.select_audio_stream(*o.stream) != *o.stream) {
    return usage_error(kCmd, "--stream " + std::to_string(*o.stream) + ": the audio streams of " +
                                 o.file + " are " + list_text(audio_stream_numbers(o.file)));
  }
  double seek = 0.0;
  if (o.seek) {
    if (int rc = resolve_seek(o, player.get_length(), &seek)) return rc;
  }
  if (o.rate || o.channels) {
    player.set_pcm_output(o.rate.value_or(player.get_pcm_output_sample_rate()),
                          o.channels.value_or(player.get_pcm_output_channels()));
  }
  if (o.shift) player.set_shift(*o.shift);
  if (o.volume) {
    double left = 1.0;
    double right = 1.0;
    if (parse_volume(*o.volume, &left, &right)) player.set_volume(left, right);
  }
  if (o.seek) player.seek(seek);
  WavWriter out;
  errno = 0;
  if (!out.open(o.out, player.get_pcm_output_sample_rate(), player.get_pcm_output_channels(),
                with_header)) {
    return failure(kCmd, "cannot create " + o.out + ": " + std::strerror(errno));
  }
  install_interrupt_handlers();
  return pull_blocks(player, out, o, limit);
}

}  // namespace

void add_audio_command(CLI::App& app, ExitStatus& status) {
  auto opts = std::make_shared<AudioOptions>();
  CLI::App* cmd = app.add_subcommand(
      "audio", "Play a file's sound through the audio player into 16-bit PCM (.wav or .raw)");
  cmd->add_option("FILE", opts->file, "AVI or WAVE file")->required();
  cmd->add_option("-o,--output", opts->out,
                  "output: .wav gets a RIFF WAVE header, .raw none; - is standard output")
      ->required();
  cmd->add_option("--stream", opts->stream, "audio stream number to select");
  cmd->add_option("--rate", opts->rate, "output sample rate: any from 8000 to 48000 Hz");
  cmd->add_option("--channels", opts->channels, "output channels (1 or 2)");
  cmd->add_option("--seek", opts->seek,
                  "start here: seconds (83.5 or 83.5s) or a timecode (00:01:23:12)");
  cmd->add_option("--shift", opts->shift, "shift the sound by this many milliseconds");
  cmd->add_option("--volume", opts->volume, "volume factor L, or L:R per side (0 to 100)");
  cmd->add_option("--blocks", opts->blocks, "stop after this many blocks of 1152 frames");
  cmd->add_option("--format", opts->format, "wav or raw (for -: wav unless raw is given)");
  cmd->add_flag("--quiet", opts->quiet, "no progress on standard error");
  cmd->callback([opts, &status] { status.code = run_audio(*opts); });
}

}  // namespace avicli
