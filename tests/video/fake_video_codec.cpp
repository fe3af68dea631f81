#include "video/fake_video_codec.h"

#include <cstring>

#include "support/avi_builder.h"

namespace videotest {

ClipShape every_12(int frames) {
  ClipShape s;
  s.frames = frames;
  for (int f = 0; f < frames; f += 12) s.keys.insert(f);
  return s;
}

std::string build_clip(const ClipShape& s) {
  avitest::AviBuilder b;
  const int stream = b.add_video({.handler = s.handler, .compression = s.compression});
  if (s.with_sound) b.add_frames(b.add_audio({}), 2, 64);
  for (int f = 0; f < s.frames; ++f) {
    std::string chunk(s.empty.count(f) != 0 ? 0 : 16, '\0');
    if (!chunk.empty()) std::memcpy(chunk.data(), &f, 4);
    b.add_chunk(stream, static_cast<std::uint32_t>(chunk.size()), s.keys.count(f) != 0, chunk);
  }
  return b.build().bytes;
}

}  // namespace videotest
