#pragma once
// InMemoryFile: a whole AVI or WAVE file held in memory, for the open() overloads of AviFileInfo,
// AviVideoPlayer and AviAudioPlayer. A data loader that already holds a clip plays it without
// writing it out first.
//
//   auto bytes = std::make_shared<const std::string>(fetch_clip());
//   AviVideoPlayer p;
//   if (p.open(bytes, -1) == 0) { ... }                     // or open({bytes, "clip.avi"}, -1)
//
// The bytes are shared, never copied: the player, its copies and whatever it opens again keep them
// alive, so the caller may drop its pointer right after open(). They must not change while held.
// Players of one thread opened on the same bytes share one reading of the file, as players of
// one file name do; players on different bytes never share, whatever their names. The name opens
// nothing: it is only what get_file_name() answers. Null bytes fail to open.

#include <memory>
#include <string>
#include <utility>

namespace avikit {

struct InMemoryFile {
  // Not explicit: open(bytes, ...) reads as what it does.
  InMemoryFile(std::shared_ptr<const std::string> file_bytes, std::string file_name = {})
      : bytes(std::move(file_bytes)), name(std::move(file_name)) {}

  std::shared_ptr<const std::string> bytes;
  std::string name;
};

}  // namespace avikit
