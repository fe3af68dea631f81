#pragma once
// Each subcommand of the avikit tool registers itself on the application.

#include <avikit/options.h>

#include <CLI/CLI.hpp>
#include <cstdint>

using namespace avikit;

namespace avicli {

// Every command's run function returns the process exit status through this slot.
struct ExitStatus {
  int code = 0;
};

// --cache MIB, for the commands that step through frames: bounds the pictures kept for stepping
// backwards (option 1001) as soon as the command line is read.
inline void add_cache_option(CLI::App* cmd) {
  constexpr std::uint32_t kMaxMib = 1u << 20;  // 1 TiB: more is a typing slip
  cmd->add_option_function<std::uint32_t>(
         "--cache", [](std::uint32_t mib) { options_set(kOptionPictureCacheMib, mib); },
         "MiB of decoded pictures kept for stepping backwards (default 256, 0: none)")
      ->check(CLI::Range(std::uint32_t{0}, kMaxMib));
}

void add_probe_command(CLI::App& app, ExitStatus& status);  // cli/cmd_probe.cpp
// avikit dv-decode: raw DV frames to BGR pictures (cli/cmd_dv_decode.cpp).
void add_dv_decode_command(CLI::App& app, ExitStatus& status);
void add_frames_command(CLI::App& app, ExitStatus& status);  // avikit frames (cli/cmd_frames.cpp)
void add_audio_command(CLI::App& app, ExitStatus& status);   // cli/cmd_audio.cpp
void add_sheet_command(CLI::App& app, ExitStatus& status);   // cli/cmd_sheet.cpp
// avikit play: cli/cmd_play.cpp with SDL2, else cli/cmd_play_unavailable.cpp.
void add_play_command(CLI::App& app, ExitStatus& status);

}  // namespace avicli
