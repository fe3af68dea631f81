#pragma once
// In-memory test files and probes for the container's tests, and what every one of them uses.

#include <avikit/avi_file_info.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <tuple>

#include "container/avi_container.h"
#include "container/fourccs.h"
#include "support/avi_builder.h"

namespace avitest {

// A C string for comparing and printing, null included.
inline std::string text(const char* s) { return s != nullptr ? s : "(none)"; }

// Bytes held as an in-memory file under a fresh name.
struct TestFile : MemoryFile {
  explicit TestFile(std::string bytes)
      : MemoryFile("mem:test-" + std::to_string(++made) + ".avi", std::move(bytes)) {}
  static inline int made = 0;
};

// A container opened on bytes held in memory.
struct OpenedAvi : TestFile, avikit::AviContainer {
  OpenedAvi(std::string bytes, bool player)
      : TestFile(std::move(bytes)), AviContainer(player), result(open(file())) {}
  int result;
};

// A file probed (by name or in memory), with the streams it lists.
struct Probe {
  avikit::AviFileInfo info;
  std::uint32_t status[2] = {0, 0};
  int result = -1;
  int nv = -1, na = -1;
  const avikit::VideoInfo* video = nullptr;
  const avikit::AudioInfo* audio = nullptr;
  template <class File>
  explicit Probe(const File& file) : result(info.open(file, status)) {
    video = info.get_video_info(nv);
    audio = info.get_audio_info(na);
  }
  // Result, status, file type, length and bit rate, then the last stream listed of each kind.
  std::string summary() const {
    std::ostringstream s;
    s << result << ' ' << status[0] << '/' << std::hex << status[1] << std::dec << ' '
      << text(info.get_type_name()) << ' ' << info.get_length() << "s " << info.get_bit_rate()
      << "kbit/s | " << nv << 'v';
    if (const avikit::VideoInfo* v = nv > 0 ? &video[nv - 1] : nullptr) {
      s << ' ' << v->stream << ": " << v->width << 'x' << v->height << " inter " << v->inter_frames
        << ' ' << v->frame_rate << "fps " << v->length << "s "
        << text(info.get_video_type_name()[nv - 1]);
    }
    s << " | " << na << 'a';
    if (const avikit::AudioInfo* a = na > 0 ? &audio[na - 1] : nullptr) {
      s << ' ' << a->stream << ": f" << a->format << ' ' << a->channels << "ch " << a->sample_rate
        << "Hz";
    }
    return s.str();
  }
};

}  // namespace avitest

using namespace avikit;
using avikit::container::fourcc;
using avitest::AviBuilder;
using avitest::IndexKind;
using avitest::OpenedAvi;
using avitest::TestFile;
