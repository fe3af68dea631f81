// avikit: probe, decode and play AVI files from the command line.

#include <cstdio>
#include <exception>
#include <string>

#include "cli/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"avikit: exact, fast access to AVI files (probe, frames, sound, DV decoding)",
               "avikit"};
  app.footer(
      "Run 'avikit COMMAND --help' for a command's arguments; docs/cli.md has each "
      "command's exact contract.");
  app.require_subcommand(1);
  avicli::ExitStatus status;
  avicli::add_probe_command(app, status);
  avicli::add_dv_decode_command(app, status);
  avicli::add_frames_command(app, status);
  avicli::add_audio_command(app, status);
  avicli::add_sheet_command(app, status);
  avicli::add_play_command(app, status);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "avikit: %s\n", e.what());
    return 1;
  }
  return status.code;
}
