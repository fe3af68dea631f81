// avikit play, in a build made without SDL2: the command stays listed and says why it cannot run.

#include <cstdio>
#include <memory>
#include <string>

#include "cli/commands.h"

namespace avicli {

void add_play_command(CLI::App& app, ExitStatus& status) {
  auto file = std::make_shared<std::string>();
  CLI::App* cmd =
      app.add_subcommand("play", "Play an AVI file in a window (this build has no SDL2)");
  cmd->add_option("FILE", *file, "the AVI file");
  cmd->allow_extras();
  cmd->callback([&status] {
    std::fprintf(stderr, "avikit play: built without SDL2; install libsdl2-dev and rebuild\n");
    status.code = 1;
  });
}

}  // namespace avicli
