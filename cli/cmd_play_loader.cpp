// avikit play: the command line here, the window in the play module (cli/cmd_play.cpp), loaded
// only when the command runs, so that no other command loads SDL2 and its libraries.

#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/play_options.h"

namespace avicli {
namespace {

constexpr const char* kModule = "avikit_play.so";

// The module beside the running tool.
std::string module_path() {
  std::error_code failed;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", failed);
  return failed ? std::string(kModule) : (self.parent_path() / kModule).string();
}

int run_play(const PlayOptions& o) {
  const std::string path = module_path();
  // Kept loaded until the process ends: SDL registers handlers that outlive the call.
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    std::fprintf(stderr, "avikit play: cannot load %s (%s)\n", path.c_str(), dlerror());
    return 1;
  }
  const auto run = reinterpret_cast<RunPlay>(dlsym(module, kRunPlaySymbol));
  if (run == nullptr) {
    std::fprintf(stderr, "avikit play: %s has no %s\n", path.c_str(), kRunPlaySymbol);
    return 1;
  }
  return run(&o);
}

}  // namespace

void add_play_command(CLI::App& app, ExitStatus& status) {
  auto o = std::make_shared<PlayOptions>();
  CLI::App* cmd = app.add_subcommand(
      "play", "Play an AVI file in a window with its sound (space, arrows, Home/End, Q)");
  cmd->add_option("FILE", o->file, "the AVI file")->required();
  cmd->add_option("--stream", o->stream, "video stream number (-1: the first)");
  cmd->add_option("--frames", o->frames, "quit after this many pictures shown")
      ->check(CLI::NonNegativeNumber);
  cmd->add_option("--screenshot", o->screenshot, "write the last picture shown to this PNG");
  cmd->add_option("--keys", o->keys, "press these keys at start (space,left,right,...)");
  cmd->add_flag("--mute", o->mute, "no sound; the wall clock paces the video");
  add_cache_option(cmd);
  cmd->callback([o, &status] { status.code = run_play(*o); });
}

}  // namespace avicli
