#pragma once
// In-memory test files and probes for the container's tests.

#include <avikit/avi_file_info.h>

#include <cstdint>
#include <string>

#include "container/avi_container.h"
#include "support/avi_builder.h"

namespace avitest {

// Bytes registered as an in-memory file under a fresh name.
class TestFile {
 public:
  explicit TestFile(std::string bytes) : file_(next_name(), std::move(bytes)) {}
  const char* name() const { return file_.name(); }

 private:
  static std::string next_name() {
    static int n = 0;
    return "mem:test-" + std::to_string(++n) + ".avi";
  }
  MemoryFile file_;
};

// A container opened on bytes that stay registered while it lives.
struct OpenedAvi : TestFile, avikit::AviContainer {
  OpenedAvi(std::string bytes, bool player)
      : TestFile(std::move(bytes)), AviContainer(player), result(open(name())) {}
  int result;
};

// A file probed by name, with the streams it lists.
struct Probe {
  avikit::AviFileInfo info;
  std::uint32_t status[2] = {0, 0};
  int result = -1;
  int nv = -1, na = -1;
  const avikit::VideoInfo* video = nullptr;
  const avikit::AudioInfo* audio = nullptr;
  explicit Probe(const char* name) : result(info.open(name, status)) {
    video = info.get_video_info(nv);
    audio = info.get_audio_info(na);
  }
};

}  // namespace avitest
