#pragma once
// What `avikit play` was asked, handed from the tool to the play module (cli/cmd_play.cpp),
// which the tool loads only for this command: SDL2 and its libraries stay out of every other
// command's start-up.

#include <string>

namespace avicli {

struct PlayOptions {
  std::string file;
  std::string screenshot;
  std::string keys;
  int stream = -1;
  int frames = 0;
  bool mute = false;
};

// The module's entry point, looked up by this name; returns the exit status.
inline constexpr const char* kRunPlaySymbol = "avikit_run_play";
using RunPlay = int (*)(const PlayOptions*);

}  // namespace avicli
