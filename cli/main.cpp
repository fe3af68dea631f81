// avikit: probe, decode and play AVI files from the command line.

#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "cli/cli_common.h"
#include "cli/commands.h"
#include "hostlib/codec_module.h"

using namespace avikit;

namespace {

// libavcodec's version is asked of the codec module, which only --version loads.
std::string version_text() {
  const hostlib::detail::CodecModule* codecs = hostlib::detail::codec_module();
  if (codecs == nullptr) {
    return "avikit " AVIKIT_VERSION "\nno codecs: " + hostlib::detail::codec_module_error();
  }
  const unsigned v = codecs->avcodec_version();
  return "avikit " AVIKIT_VERSION "\nlibavcodec " + std::to_string(v >> 16) + "." +
         std::to_string((v >> 8) & 0xFF) + "." + std::to_string(v & 0xFF);
}

}  // namespace

int main(int argc, char** argv) {
  // The library leaves libav's log to its host; this host says why a file fails itself, so
  // libav's notes about damaged streams would only be noise on its standard error.
  hostlib::detail::set_codec_log_level(AV_LOG_QUIET);
  CLI::App app{"avikit: exact, fast access to AVI files (probe, frames, sound, DV decoding)",
               "avikit"};
  app.footer(
      "Run 'avikit COMMAND --help' for a command's arguments; docs/cli.md has each "
      "command's exact contract.");
  app.require_subcommand(1);
  app.set_version_flag("--version", std::function<std::string()>(version_text));
  avicli::ExitStatus status;
  avicli::add_probe_command(app, status);
  avicli::add_dv_decode_command(app, status);
  avicli::add_frames_command(app, status);
  avicli::add_audio_command(app, status);
  avicli::add_sheet_command(app, status);
  avicli::add_play_command(app, status);
  // CLI11 reads an unknown word as a missing subcommand; name it instead.
  std::string names;
  bool known = false;
  const auto all = [](const CLI::App*) { return true; };
  for (const CLI::App* sub : static_cast<const CLI::App&>(app).get_subcommands(all)) {
    names += (names.empty() ? "" : ", ") + sub->get_name();
    known = known || (argc > 1 && sub->check_name(argv[1]));
  }
  if (argc > 1 && argv[1][0] != '-' && !known) {
    std::fprintf(stderr, "avikit: unknown command '%s' (commands: %s)\n", argv[1], names.c_str());
    return avicli::kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : avicli::kExitUsage;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "avikit: %s\n", e.what());
    return avicli::kExitFailed;
  }
  return status.code;
}
